#include <runtime/FormHost.h>

#include "ControlHost.h"
#include "FormWindow.h"
#include "FrameClock.h"
#include "ImageWidget.h"

#include <QApplication>
#include <QMessageBox>

#include <utility>

namespace runtime {

QWidget* FormHost::window(const Form& form) {
    return form.m_window.get();
}

QWidget* FormHost::clientArea(const Form& form) {
    return form.m_window->centralWidget();
}

QImage FormHost::grabClientArea(Form& form) {
    form.m_clock->applyGeometry();
    return clientArea(form)->grab().toImage();
}

Control* FormHost::controlAt(Form& form, QPoint pixel) {
    return form.controlAt(pixel);
}

void FormHost::mousePress(Form& form, QPoint pixel) {
    form.m_pressed = form.controlAt(pixel);
}

void FormHost::mouseRelease(Form& form, QPoint) {
    // A click belongs to the control the mouse went down on, even if a quick picture has
    // moved on before the button came up.
    if (auto* image = dynamic_cast<Image*>(std::exchange(form.m_pressed, nullptr)))
        image->click();
}

QRect FormHost::pixelRect(const VisualControl& control) {
    return ControlHost::pixelRect(control);
}

QSize FormHost::pictureSize(const Image& image) {
    return ControlHost::picture(image).pictureSize();
}

int FormHost::frameCount(const Image& image) {
    return ControlHost::picture(image).frameCount();
}

void FormHost::stopRealClock(Form& form) {
    form.m_clock->setReal(false);
}

void FormHost::advanceFrames(Form& form, int frames) {
    for (int i = 0; i < frames; ++i)
        form.m_clock->advance();
}

FrameClock& FormHost::frameClock(Form& form) {
    return *form.m_clock;
}

void FormHost::onEnd(Form& form, Dispatcher::EndHook ending) {
    form.m_ending = std::move(ending);
}

int FormHost::run(Form& form, const std::function<void()>& shown) {
    form.load();
    if (!form.m_dispatcher.ended()) {
        form.show();
        if (shown)
            shown();
        const int status = QApplication::exec();
        if (!form.m_dispatcher.ended())
            return status;
    }
    if (!form.m_report.isEmpty())
        QMessageBox::critical(window(form), QCoreApplication::applicationName(), form.m_report);
    return form.m_dispatcher.exitStatus();
}

} // namespace runtime
