#include "ImageWidget.h"

#include <QImageReader>
#include <QMovie>
#include <QPaintEvent>
#include <QPainter>
#include <QThreadPool>

#include <cstdio>
#include <exception>
#include <memory>

namespace runtime {

std::future<DecodedPicture> decodePicture(const QString& resource) {
    auto promise = std::make_shared<std::promise<DecodedPicture>>();
    std::future<DecodedPicture> result = promise->get_future();
    QThreadPool::globalInstance()->start([promise, resource] {
        try {
            DecodedPicture picture;
            QImageReader reader(resource);
            picture.animated = reader.supportsAnimation() && reader.imageCount() > 1;
            if (!picture.animated) {
                picture.still = reader.read();
                if (picture.still.isNull())
                    std::fprintf(stderr, "warukyara: cannot read picture %s: %s\n",
                                 qPrintable(resource), qPrintable(reader.errorString()));
                picture.size = picture.still.size();
                picture.hasAlpha = picture.still.hasAlphaChannel();
                // The form that a pixmap of it takes anyway, converted here rather than on
                // the GUI thread; hit-testing reads the same pixels.
                if (picture.hasAlpha)
                    picture.still.convertTo(QImage::Format_ARGB32_Premultiplied);
            }
            promise->set_value(std::move(picture));
        } catch (...) {
            promise->set_exception(std::current_exception());
        }
    });
    return result;
}

ImageWidget::ImageWidget(const QString& resource, bool stretch, QWidget* parent)
    : QWidget(parent), m_resource(resource), m_stretch(stretch),
      m_decoding(decodePicture(resource)) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void ImageWidget::settle() const {
    if (m_settled)
        return;
    m_settled = true;
    DecodedPicture picture = m_decoding.get();
    if (picture.animated) {
        // Only the GUI thread may own the movie: its frames follow timers.
        auto* self = const_cast<ImageWidget*>(this);
        m_movie = new QMovie(m_resource, QByteArray(), self);
        m_movie->setCacheMode(QMovie::CacheAll);
        m_movie->jumpToFrame(0);
        m_frameCount = m_movie->frameCount();
        m_size = m_movie->currentImage().size();
        m_hasAlpha = m_movie->currentImage().hasAlphaChannel();
        connect(m_movie, &QMovie::frameChanged, self, [self] { self->update(); });
        m_movie->start();
    } else {
        m_size = picture.size;
        m_hasAlpha = picture.hasAlpha;
        m_still = QPixmap::fromImage(picture.still);
        if (m_hasAlpha) // an opaque picture needs no pixels for hit-testing
            m_stillImage = std::move(picture.still);
    }
}

QSize ImageWidget::pictureSize() const {
    settle();
    return m_size;
}

int ImageWidget::frameCount() const {
    settle();
    return m_frameCount;
}

QPixmap ImageWidget::currentPixmap() const {
    return m_movie ? m_movie->currentPixmap() : m_still;
}

bool ImageWidget::opaqueAt(QPoint point) const {
    if (!rect().contains(point))
        return false;
    settle();
    if (m_size.isEmpty())
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
    settle();
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
