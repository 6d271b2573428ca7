#include "ClientArea.h"

#include <runtime/Form.h>
#include <runtime/FormHost.h>

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

namespace runtime {

ClientArea::ClientArea(Form& form, const QString& picture, QSize designSize, QWidget* parent)
    : QWidget(parent), m_form(form), m_picture(picture, devicePixelRatioF()),
      m_designSize(designSize) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(designSize);
}

void ClientArea::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const qreal ratio = paintedRatio(painter);
    const QPixmap& source = m_picture.pixmapAt(ratio);
    const QRect picture(QPoint(0, 0), source.deviceIndependentSize().toSize());
    // Between the twins' densities (150 %) the dense sky is scaled down once, not per paint.
    if (event->region().intersects(picture))
        m_fitted.draw(painter, source, picture.size(), event->region());
    // Beyond the picture, in an enlarged window, the window colour shows.
    for (const QRect& rect : event->region() - picture)
        painter.fillRect(rect, palette().window());
}

void ClientArea::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        FormHost::mousePress(m_form, event->position().toPoint());
}

void ClientArea::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        FormHost::mouseRelease(m_form, event->position().toPoint());
}

} // namespace runtime
