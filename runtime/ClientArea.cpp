#include "ClientArea.h"

#include "Form.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

namespace runtime {

ClientArea::ClientArea(Form& form, const QString& picture, QSize designSize, QWidget* parent)
    : QWidget(parent), m_form(form), m_decoding(decodePicture(picture)), m_designSize(designSize) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(designSize);
}

const QPixmap& ClientArea::background() {
    if (m_decoding.valid())
        m_picture = QPixmap::fromImage(m_decoding.get().still);
    return m_picture;
}

void ClientArea::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QPixmap& pixmap = background();
    const QRect picture(QPoint(0, 0), pixmap.deviceIndependentSize().toSize());
    if (event->region().intersects(picture))
        painter.drawPixmap(0, 0, pixmap);
    // Beyond the picture, in an enlarged window, the window colour shows.
    for (const QRect& rect : event->region() - picture)
        painter.fillRect(rect, palette().window());
}

void ClientArea::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        m_form.mousePress(event->position().toPoint());
}

void ClientArea::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        m_form.mouseRelease(event->position().toPoint());
}

} // namespace runtime
