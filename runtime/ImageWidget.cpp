#include "ImageWidget.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QMovie>
#include <QPaintEvent>
#include <QPainter>
#include <QThread>
#include <QThreadPool>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>

namespace runtime {
namespace {

// The dense twin of a picture: the same name with "@2x", in the same format or as a PNG (the
// sky's twin is a PNG where the sky itself is a BMP). Looked up by name, not by a pattern,
// which would load the regular expression engine for nothing.
QString denseTwinOf(const QString& resource) {
    const QFileInfo info(resource);
    const QString stem = info.path() + u'/' + info.completeBaseName() + QStringLiteral("@2x.");
    for (const QString& suffix : {info.suffix(), QStringLiteral("png")})
        if (QFile::exists(stem + suffix))
            return stem + suffix;
    return {};
}

// The thread that reads pictures ahead, at idle priority. Pictures it has not begun when the
// program ends are not read at all.
class PictureReaders : public QThreadPool {
public:
    PictureReaders();
    ~PictureReaders() override { clear(); }
};

QThreadPool& pictureReaders() {
    // One for the program, as Qt's own pool is.
    static PictureReaders readers;
    return readers;
}

PictureReaders::PictureReaders() {
    setMaxThreadCount(1);
    setThreadPriority(QThread::IdlePriority);
    // The thread lives as long as the program: one that ended in the middle of a run made
    // LeakSanitizer's stop of the threads at exit crash in the asan tests.
    setExpiryTimeout(-1);
    // Like Qt's own pool, it is done before the application goes: a picture read after that
    // would load an image plugin the application has already let go.
    qAddPostRoutine([] {
        pictureReaders().clear();
        pictureReaders().waitForDone();
    });
}

} // namespace

DecodedPicture readPicture(const QString& resource) {
    DecodedPicture picture;
    QImageReader reader(resource);
    picture.animated = reader.supportsAnimation() && reader.imageCount() > 1;
    if (picture.animated)
        return picture;
    picture.still = reader.read();
    if (picture.still.isNull())
        std::fprintf(stderr, "warukyara: cannot read picture %s: %s\n", qPrintable(resource),
                     qPrintable(reader.errorString()));
    picture.size = picture.still.size();
    picture.hasAlpha = picture.still.hasAlphaChannel();
    // The form that a pixmap of it takes anyway, converted while reading rather than when
    // painting; hit-testing reads the same pixels.
    if (picture.hasAlpha)
        picture.still.convertTo(QImage::Format_ARGB32_Premultiplied);
    return picture;
}

ReadAhead::ReadAhead(const QString& resource)
    : m_shared(std::make_shared<Shared>()), m_picture(m_shared->picture.get_future()) {
    pictureReaders().start([shared = m_shared, resource] {
        if (shared->claimed.exchange(true))
            return; // already read where it was needed
        try {
            shared->picture.set_value(readPicture(resource));
        } catch (...) {
            shared->picture.set_exception(std::current_exception());
        }
    });
}

DecodedPicture ReadAhead::take(const QString& resource) {
    if (m_shared) {
        // A reader that has not begun will not begin now; one that has may finish in vain.
        m_shared->claimed = true;
        if (m_picture.wait_for(std::chrono::seconds(0)) == std::future_status::ready)
            return m_picture.get();
    }
    return readPicture(resource);
}

qreal paintedRatio(const QPainter& painter) {
    const qreal ratio = painter.deviceTransform().m11();
    return ratio > 0 ? ratio : 1;
}

namespace {

// Through a clip of many rows Qt's raster engine splits a copy over its thread pool, and the
// hand-off costs more than the copy of a few small rectangles. Bands of at most 64 device rows
// are copied on this thread, pixel for pixel as a single copy would put them; between the
// densities a band's edge would fall inside a pixel, so there the copy stays whole.
void drawPixelForPixel(QPainter& painter, const QPixmap& pixmap, const QRegion& region) {
    const qreal ratio = pixmap.devicePixelRatio();
    const int band = int(64 / ratio);
    if (ratio != std::floor(ratio) || band < 1 || paintedRatio(painter) != ratio) {
        painter.drawPixmap(QPointF(0, 0), pixmap);
        return;
    }
    const QRect whole(QPoint(0, 0), pixmap.deviceIndependentSize().toSize());
    for (const QRect& rect : region& whole)
        for (int y = rect.top(); y <= rect.bottom(); y += band) {
            const QRect part(rect.left(), y, rect.width(), std::min(band, rect.bottom() + 1 - y));
            painter.drawPixmap(part, pixmap, QRect(part.topLeft() * ratio, part.size() * ratio));
        }
}

} // namespace

LazyPicture::LazyPicture(const QString& resource, qreal ratio) {
    m_normal.resource = resource;
    m_dense.resource = denseTwinOf(resource);
    m_dense.density = 2;
    Variant& wanted = variantAt(ratio);
    wanted.reading = ReadAhead(wanted.resource);
}

int LazyPicture::densityAt(qreal ratio) const {
    return ratio > 1 && !m_dense.resource.isEmpty() ? 2 : 1;
}

LazyPicture::Variant& LazyPicture::variantAt(qreal ratio) {
    return densityAt(ratio) == 2 ? m_dense : m_normal;
}

QString LazyPicture::resourceAt(qreal ratio) const {
    return densityAt(ratio) == 2 ? m_dense.resource : m_normal.resource;
}

const DecodedPicture& LazyPicture::decodedAt(qreal ratio) {
    Variant& variant = variantAt(ratio);
    if (!variant.decoded) {
        variant.picture = variant.reading.take(variant.resource);
        variant.decoded = true;
        variant.picture.still.setDevicePixelRatio(variant.density);
        variant.pixmap = QPixmap::fromImage(variant.picture.still);
        if (!variant.picture.hasAlpha) // an opaque picture needs no pixels for hit-testing
            variant.picture.still = QImage();
    }
    return variant.picture;
}

const QPixmap& LazyPicture::pixmapAt(qreal ratio) {
    decodedAt(ratio);
    return variantAt(ratio).pixmap;
}

void FittedPixmap::draw(QPainter& painter, const QPixmap& source, QSize logicalSize,
                        const QRegion& region) {
    const qreal ratio = paintedRatio(painter);
    const QSize deviceSize(int(std::lround(logicalSize.width() * ratio)),
                           int(std::lround(logicalSize.height() * ratio)));
    if (deviceSize.isEmpty() || source.isNull())
        return;
    const bool again =
        source.cacheKey() == m_sourceKey && deviceSize == m_deviceSize && ratio == m_ratio;
    if (!again) {
        m_sourceKey = source.cacheKey();
        m_deviceSize = deviceSize;
        m_ratio = ratio;
        m_fitted = QPixmap();
    }
    if (source.size() == deviceSize && source.devicePixelRatio() == ratio) {
        drawPixelForPixel(painter, source, region);
        return;
    }
    if (!again) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawPixmap(QRectF(QPointF(0, 0), QSizeF(deviceSize) / ratio), source,
                           QRectF(source.rect()));
        return;
    }
    if (m_fitted.isNull()) {
        // The same drawing into an image of its own: copied back, it looks exactly as if it
        // had been stretched straight onto the window.
        QImage fitted(deviceSize, source.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                           : QImage::Format_RGB32);
        fitted.fill(Qt::transparent);
        QPainter fitter(&fitted);
        fitter.setRenderHint(QPainter::SmoothPixmapTransform);
        fitter.drawPixmap(fitted.rect(), source, QRectF(source.rect()));
        fitter.end();
        fitted.setDevicePixelRatio(ratio);
        m_fitted = QPixmap::fromImage(std::move(fitted));
    }
    drawPixelForPixel(painter, m_fitted, region);
}

ImageWidget::ImageWidget(Image& control, const QString& resource, bool stretch, QWidget* parent)
    : QWidget(parent), m_control(&control), m_picture(resource, devicePixelRatioF()),
      m_stretch(stretch) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

QMovie* ImageWidget::movie(qreal ratio) {
    const int density = m_picture.densityAt(ratio);
    if (m_movie && m_movieDensity == density)
        return m_movie;
    // A window moved to a screen of another density shows the other twin, from the same frame.
    const int frame = m_movie ? m_movie->currentFrameNumber() : 0;
    delete m_movie;
    // Only the GUI thread may own the movie: its frames follow timers.
    m_movie = new QMovie(m_picture.resourceAt(ratio), QByteArray(), this);
    m_movieDensity = density;
    m_movie->setCacheMode(QMovie::CacheAll);
    m_movie->jumpToFrame(frame);
    connect(m_movie, &QMovie::frameChanged, this, [this] { update(); });
    m_movie->start();
    return m_movie;
}

QPixmap ImageWidget::currentPixmap(qreal ratio) {
    if (!m_picture.decodedAt(ratio).animated)
        return m_picture.pixmapAt(ratio);
    return movie(ratio)->currentPixmap();
}

QImage ImageWidget::currentImage(qreal ratio) {
    const DecodedPicture& decoded = m_picture.decodedAt(ratio);
    return decoded.animated ? movie(ratio)->currentImage() : decoded.still;
}

QSize ImageWidget::pictureSize() {
    const qreal ratio = devicePixelRatioF();
    const DecodedPicture& decoded = m_picture.decodedAt(ratio);
    const QSize pixels = decoded.animated ? movie(ratio)->currentImage().size() : decoded.size;
    return pixels / m_picture.densityAt(ratio);
}

int ImageWidget::frameCount() {
    const qreal ratio = devicePixelRatioF();
    return m_picture.decodedAt(ratio).animated ? movie(ratio)->frameCount() : 1;
}

bool ImageWidget::opaqueAt(QPoint point) {
    if (!rect().contains(point))
        return false;
    const qreal ratio = devicePixelRatioF();
    const DecodedPicture& decoded = m_picture.decodedAt(ratio);
    if (!decoded.animated && !decoded.hasAlpha)
        return !decoded.size.isEmpty();
    const QImage image = currentImage(ratio);
    // The point in the picture's own pixels, on whichever twin is shown.
    const QSize shown = m_stretch ? size() : pictureSize();
    if (shown.isEmpty())
        return false;
    const QPoint source(point.x() * image.width() / shown.width(),
                        point.y() * image.height() / shown.height());
    return image.valid(source) && qAlpha(image.pixel(source)) != 0;
}

void ImageWidget::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const qreal ratio = paintedRatio(painter);
    m_fitted.draw(painter, currentPixmap(ratio), m_stretch ? size() : pictureSize(),
                  event->region());
}

} // namespace runtime
