#pragma once

#include "ImageWidget.h"

#include <QMainWindow>
#include <QPixmap>

#include <future>

namespace runtime {

class Form;

// The client area: paints the form's picture at natural size and sends mouse presses to the
// form, which knows what lies under them.
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
    // The picture, once its decoding (started with the window) is done.
    const QPixmap& background();

    Form& m_form;
    std::future<DecodedPicture> m_decoding;
    QPixmap m_picture;
    QSize m_designSize;
};

class FormWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit FormWindow(Form& form);

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    Form& m_form;
};

} // namespace runtime
