#pragma once

#include "ImageWidget.h"

#include <QWidget>

namespace runtime {

class Form;

// The client area: paints the form's picture at natural size, in the screen's own density, and
// sends mouse presses to the form, which knows what lies under them.
class ClientArea : public QWidget {
    Q_OBJECT
public:
    ClientArea(Form& form, const QString& picture, QSize designSize, QWidget* parent);
    QSize sizeHint() const override { return m_designSize; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    Form& m_form;
    LazyPicture m_picture;
    FittedPixmap m_fitted;
    QSize m_designSize;
};

} // namespace runtime
