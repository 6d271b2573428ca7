#include "ImageWidget.h"

#include <QImageReader>
#include <QMovie>
#include <QPaintEvent>
#include <QPainter>

#include <cstdio>

namespace runtime {

ImageWidget::ImageWidget(const QString& resource, bool stretch, QWidget* parent)
    : QWidget(parent), m_stretch(stretch) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    QImageReader reader(resource);
    if (reader.supportsAnimation() && reader.imageCount() > 1) {
        m_movie = new QMovie(resource, QByteArray(), this);
        m_movie->setCacheMode(QMovie::CacheAll);
        m_movie->jumpToFrame(0);
        m_frameCount = m_movie->frameCount();
        m_size = m_movie->currentImage().size();
        m_hasAlpha = m_movie->currentImage().hasAlphaChannel();
        connect(m_movie, &QMovie::frameChanged, this, [this] { update(); });
        m_movie->start();
    } else {
        m_stillImage = reader.read();
        if (m_stillImage.isNull())
            std::fprintf(stderr, "warukyara: cannot read picture %s: %s\n", qPrintable(resource),
                         qPrintable(reader.errorString()));
        m_size = m_stillImage.size();
        m_hasAlpha = m_stillImage.hasAlphaChannel();
        m_still = QPixmap::fromImage(m_stillImage);
        if (!m_hasAlpha)
            m_stillImage = QImage(); // an opaque picture needs no pixels for hit-testing
    }
}

QPixmap ImageWidget::currentPixmap() const {
    return m_movie ? m_movie->currentPixmap() : m_still;
}

bool ImageWidget::opaqueAt(QPoint point) const {
    if (!rect().contains(point) || m_size.isEmpty())
        return false;
    if (!m_hasAlpha)
        return true;
    QPoint source = point;
    if (m_stretch)
        source =
            QPoint(point.x() * m_size.width() / width(), point.y() * m_size.height() / height());
    const QImage image = m_movie ? m_movie->currentImage() : m_stillImage;
    return image.valid(source) && qAlpha(image.pixel(source)) != 0;
}

void ImageWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPixmap pixmap = currentPixmap();
    if (m_stretch) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawPixmap(rect(), pixmap);
    } else {
        painter.drawPixmap(0, 0, pixmap);
    }
}

} // namespace runtime
