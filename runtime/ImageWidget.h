#pragma once

#include <QImage>
#include <QPixmap>
#include <QWidget>

class QMovie;

namespace runtime {

// Paints one picture: at natural size from the top-left corner, or stretched to the widget
// with smooth scaling. Multi-frame GIFs animate with their own delays and disposals.
// Transparent for the mouse: the form decides who a click reaches.
class ImageWidget : public QWidget {
    Q_OBJECT
public:
    ImageWidget(const QString& resource, bool stretch, QWidget* parent);

    bool stretch() const { return m_stretch; }
    QSize pictureSize() const { return m_size; }
    int frameCount() const { return m_frameCount; }
    // Whether the picture is opaque at this point of the widget.
    bool opaqueAt(QPoint point) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap currentPixmap() const;

    bool m_stretch;
    QSize m_size;
    int m_frameCount = 1;
    bool m_hasAlpha = false;
    QMovie* m_movie = nullptr;
    QPixmap m_still;
    QImage m_stillImage; // for hit-testing a still picture with transparent pixels
};

} // namespace runtime
