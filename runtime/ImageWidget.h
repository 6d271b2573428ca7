#pragma once

#include <QImage>
#include <QPixmap>
#include <QRegion>
#include <QWidget>

#include <atomic>
#include <future>
#include <memory>

class QMovie;
class QPainter;

namespace runtime {

class Image;

// A picture as it is read from the resources.
struct DecodedPicture {
    QImage still;          // the picture, premultiplied if it has alpha; null if animated
    bool animated = false; // more than one frame: a QMovie plays it instead
    QSize size;            // in the file's own pixels
    bool hasAlpha = false;
};

DecodedPicture readPicture(const QString& resource);

// A picture read ahead by a thread that runs only when a core would otherwise idle, so on a
// quiet machine the window is built while its pictures decode on the other core, and on a busy
// one the reader takes no time from the window. Whoever needs the pixels before the reader is
// done reads them itself instead of waiting for a thread that may not run at all.
class ReadAhead {
public:
    ReadAhead() = default;
    explicit ReadAhead(const QString& resource);
    // The reader's picture if it is done, else the picture read here and now.
    DecodedPicture take(const QString& resource);

private:
    struct Shared {
        std::atomic<bool> claimed = false; // by the reader as it begins, or by take()
        std::promise<DecodedPicture> picture;
    };
    std::shared_ptr<Shared> m_shared;
    std::future<DecodedPicture> m_picture;
};

// Device pixels per logical pixel of what a painter draws on: the screen's when the window is
// painted, the image's when the window is rendered into one.
qreal paintedRatio(const QPainter& painter);

// One picture of the resources and, where the art has one, its twin NAME@2x drawn for screens
// of twice the density. Each is decoded once, the first time it is needed: the one the screen
// asks for is read ahead at once, the other only if the window moves to a screen that wants
// it, so a normal screen never pays for the dense pictures.
class LazyPicture {
public:
    LazyPicture(const QString& resource, qreal ratio);

    // 2 where the dense twin is drawn at this device pixel ratio, else 1.
    int densityAt(qreal ratio) const;
    QString resourceAt(qreal ratio) const;
    const DecodedPicture& decodedAt(qreal ratio);
    // The still picture, its device pixel ratio set to its density.
    const QPixmap& pixmapAt(qreal ratio);

private:
    struct Variant {
        QString resource;
        int density = 1;
        ReadAhead reading;
        bool decoded = false;
        DecodedPicture picture;
        QPixmap pixmap;
    };
    Variant& variantAt(qreal ratio);

    Variant m_normal;
    Variant m_dense; // no resource where the art has no twin
};

// A picture as it is drawn: the whole picture, whatever its own density, scaled smoothly over a
// logical size at the painter's ratio. A size seen on two paints in a row is fitted once and
// then only copied, so the repaints between two ticks of a shrinking character, or every
// repaint of a still one, cost no scaling; a size that changes on every paint is drawn
// straight, as fitting it would cost a scaling and a copy.
class FittedPixmap {
public:
    // `region` is what the paint event asks for, in logical pixels.
    void draw(QPainter& painter, const QPixmap& source, QSize logicalSize, const QRegion& region);

private:
    qint64 m_sourceKey = 0;
    QSize m_deviceSize;
    qreal m_ratio = 0;
    QPixmap m_fitted;
};

// Paints one picture: at natural size from the top-left corner, or stretched to the widget
// with smooth scaling, in the screen's own density. Multi-frame GIFs animate with their own
// delays and disposals. Transparent for the mouse: the form decides who a click reaches.
class ImageWidget : public QWidget {
    Q_OBJECT
public:
    ImageWidget(Image& control, const QString& resource, bool stretch, QWidget* parent);

    // The control the picture shows, until the control goes (before its widget does).
    Image* control() const { return m_control; }
    void detach() { m_control = nullptr; }
    bool stretch() const { return m_stretch; }
    // In logical pixels, whichever of the twins is shown.
    QSize pictureSize();
    int frameCount();
    // Whether the picture is opaque at this point of the widget.
    bool opaqueAt(QPoint point);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // The animation at the widget's ratio, made and started the first time it is needed:
    // most characters wait below the window until the game starts.
    QMovie* movie(qreal ratio);
    QPixmap currentPixmap(qreal ratio);
    QImage currentImage(qreal ratio);

    Image* m_control;
    LazyPicture m_picture;
    bool m_stretch;
    QMovie* m_movie = nullptr;
    int m_movieDensity = 0;
    FittedPixmap m_fitted;
};

} // namespace runtime
