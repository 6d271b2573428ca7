#pragma once

#include <QTimer>

#include <vector>

namespace runtime {

class Timer;
class VisualControl;

// The stretched clock: desktop timers cannot deliver ticks of 1 to 5 ms faithfully, and a
// picture crossing the window in 83 ms could not be followed. One millisecond of the form's
// clock lasts one 60 Hz frame, which keeps the designed ratio of the timers' speeds.
inline constexpr int kFrameMs = 16;

// One clock for the whole form: each frame it ticks the timers that are due, in the order
// they were set going, then puts every moved widget in its place, so the window repaints at
// most once a frame and the program wakes once a frame instead of once per timer.
class FrameClock {
public:
    // Without the real clock nothing ticks unless a test advances the frames itself.
    explicit FrameClock(bool real);
    void setReal(bool real);

    // (Re)starts counting a timer's period from the current frame; a period of 0 stops it.
    void schedule(Timer& timer, int periodFrames);
    void unschedule(Timer& timer);
    // The program has ended: no timer ticks again.
    void halt();

    void advance();

    // A control's rectangle changed: its widget follows at the end of the frame, or, outside a
    // frame, once the events already queued are handled.
    void moved(VisualControl& control);
    void applyGeometry();

private:
    struct Scheduled {
        Timer* timer;
        int periodFrames;
        long long startFrame;
    };

    void startOrStop();

    QTimer m_timer;
    std::vector<Scheduled> m_scheduled; // in the order the timers were set going
    std::vector<VisualControl*> m_moved;
    long long m_frame = 0;
    bool m_real;
    bool m_halted = false;
    bool m_inFrame = false;
    bool m_applyPosted = false;
};

} // namespace runtime
