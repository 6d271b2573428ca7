#pragma once

#include <runtime/Form.h>

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <functional>

class QWidget;

namespace runtime {

class FrameClock;

// What the program around the game, its tests and its benchmarks may do with a form, and the
// game may not: reach the window, stand in for the player's mouse, read picture facts, step
// the clock, and decide what the end of the program does.
class FormHost {
public:
    static QWidget* window(const Form& form);
    static QWidget* clientArea(const Form& form);
    // The client area as the player sees it, every control in its current place.
    static QImage grabClientArea(Form& form);

    // The control a click at this client-area pixel reaches: window-backed controls first,
    // then the others in stacking order, skipping transparent picture pixels.
    static Control* controlAt(Form& form, QPoint pixel);
    // The player pressed and released the mouse at these client-area pixels.
    static void mousePress(Form& form, QPoint pixel);
    static void mouseRelease(Form& form, QPoint pixel);

    // The control's rectangle in logical pixels of the client area.
    static QRect pixelRect(const VisualControl& control);
    static QSize pictureSize(const Image& image);
    static int frameCount(const Image& image);

    // Tests never wait for real time: after this the form's clock moves only when they
    // advance it, and its timers tick only when they fire them.
    static void stopRealClock(Form& form);
    // One frame of the form's clock.
    static void advanceFrames(Form& form, int frames);
    // The clock itself, for tests that drive it through simulated time.
    static FrameClock& frameClock(Form& form);

    // Replaces what the end of the program does (tests record it instead).
    static void onEnd(Form& form, Dispatcher::EndHook ending);

    // The program: raises Load, shows the window (then calls `shown`), runs the message loop
    // until the program ends, then shows the report of the run-time error that ended it, if
    // any. Returns the program's exit status.
    static int run(Form& form, const std::function<void()>& shown = {});
};

} // namespace runtime
