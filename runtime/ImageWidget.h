#pragma once

#include <QImage>
#include <QPixmap>
#include <QWidget>

#include <future>

class QMovie;

namespace runtime {

// A picture as a worker thread reads it from the resources.
struct DecodedPicture {
    QImage still;          // the picture, premultiplied if it has alpha; null if animated
    bool animated = false; // more than one frame: a QMovie plays it instead
    QSize size;
    bool hasAlpha = false;
};

// Starts reading a picture on a worker thread: the window is built while its pictures decode
// on the other core, and whatever first needs a picture's pixels waits for them.
std::future<DecodedPicture> decodePicture(const QString& resource);

// Paints one picture: at natural size from the top-left corner, or stretched to the widget
// with smooth scaling. Multi-frame GIFs animate with their own delays and disposals.
// Transparent for the mouse: the form decides who a click reaches.
class ImageWidget : public QWidget {
    Q_OBJECT
public:
    ImageWidget(const QString& resource, bool stretch, QWidget* parent);

    bool stretch() const { return m_stretch; }
    QSize pictureSize() const;
    int frameCount() const;
    // Whether the picture is opaque at this point of the widget.
    bool opaqueAt(QPoint point) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Takes the decoded picture, or starts the movie, the first time anything needs it: most
    // characters wait below the window until the game starts.
    void settle() const;
    QPixmap currentPixmap() const;

    QString m_resource;
    bool m_stretch;
    mutable std::future<DecodedPicture> m_decoding;
    mutable bool m_settled = false;
    mutable QSize m_size;
    mutable int m_frameCount = 1;
    mutable bool m_hasAlpha = false;
    mutable QMovie* m_movie = nullptr;
    mutable QPixmap m_still;
    mutable QImage m_stillImage; // for hit-testing a still picture with transparent pixels
};

} // namespace runtime
