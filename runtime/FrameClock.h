#pragma once

#include <QElapsedTimer>
#include <QTimer>

#include <memory>
#include <vector>

class QWidget;

namespace runtime {

class Timer;
class VisualControl;

// The stretched clock: desktop timers cannot deliver ticks of 1 to 5 ms faithfully, and a
// picture crossing the window in 83 ms could not be followed. One millisecond of the form's
// clock lasts one 16 ms frame (62.5 a second, near a screen's 60 Hz), which keeps the designed
// ratio of the timers' speeds.
inline constexpr int kFrameMs = 16;

// While the ticks change nothing the player could see, the frames due run together this often:
// an idle window wakes twice a second instead of sixty, and a tick that becomes visible on its
// own is shown at most this late (input, which is what changes the picture of an idle window,
// ends a batch at once). The caret's blink has the same period, so Qt can wake both together.
inline constexpr int kBatchMs = 500;

// One clock for the whole form: each frame it ticks the timers that are due, in the order
// they were set going, then puts every moved widget in its place, so the window repaints at
// most once a frame and the program wakes once a frame instead of once per timer.
//
// Every tick runs, in order, whatever the pace. Once every running timer has ticked without a
// visible effect (no property written but positions and sizes of controls that stay unseen),
// the clock batches: it sleeps kBatchMs, then runs the frames that fell due meanwhile and
// places the widgets once. It goes back to one frame per wake at a visible tick, and, after
// first running the frames a batch owes, at any input, menu choice or change of the window.
class FrameClock {
public:
    // Without the real clock nothing ticks unless a test advances the frames itself.
    explicit FrameClock(bool real);
    ~FrameClock();
    void setReal(bool real);

    // (Re)starts counting a timer's period from the current frame; a period of 0 stops it.
    void schedule(Timer& timer, int periodFrames);
    void unschedule(Timer& timer);
    // The program has ended: no timer ticks again.
    void halt();

    // One frame: the due ticks, then (unless a batch places them at its end) the widgets.
    void advance();

    // Runs what is due at `now`, in ms on the clock's time line (the real clock passes its own
    // elapsed time, a test its simulated one), and returns the ms until the next wake.
    int wake(qint64 now);
    // The player acted or the window changed: any frames a batch owes run at once, and the
    // clock goes back to one frame per wake.
    void rouse(qint64 now);
    void rouse();
    bool batching() const { return m_batching; }
    bool running() const { return m_timer.isActive(); }
    int timerType() const { return m_timer.timerType(); }
    int interval() const { return m_timer.interval(); }

    // Rouses the clock at input to the application and at a resize or show of the window.
    void watch(QWidget* window);

    // A control's rectangle changed: its widget follows at the end of the frame, or, outside a
    // frame, once the events already queued are handled.
    void moved(VisualControl& control);
    // A property other than a position or a size was written: the player may see it.
    void changed();
    void applyGeometry();

private:
    struct Scheduled {
        Timer* timer;
        int periodFrames;
        long long startFrame;
    };
    class Watcher;

    void startOrStop();
    void rearm();
    // Whether a move from the placed rectangle to the current one shows in the client area.
    bool seenMove(const VisualControl& control) const;
    void runOwedFrames(qint64 now);
    qint64 now() const;

    QTimer m_timer;
    QElapsedTimer m_elapsed;
    std::unique_ptr<Watcher> m_watcher;
    std::vector<Scheduled> m_scheduled; // in the order the timers were set going
    std::vector<VisualControl*> m_moved;
    std::vector<Timer*> m_due; // the last frame's due timers, for their buffer
    long long m_frame = 0;
    bool m_real;
    bool m_halted = false;
    bool m_inFrame = false;
    bool m_applyPosted = false;
    // Frames in a row whose ticks changed nothing visible; a visible change resets it.
    int m_quietFrames = 0;
    bool m_frameSeen = false;
    bool m_batching = false;
    qint64 m_batchStart = 0;
    long long m_batchFrames = 0; // run since m_batchStart
    qint64 m_lastNow = 0;        // the time the last wake was given, for a simulated clock
};

} // namespace runtime
