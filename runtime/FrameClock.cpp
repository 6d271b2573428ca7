#include "FrameClock.h"

#include "ControlHost.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

#include <algorithm>
#include <utility>

namespace runtime {

class FrameClock::Watcher : public QObject {
public:
    Watcher(FrameClock& clock, QWidget* window) : m_clock(clock), m_window(window) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Wheel:
        case QEvent::TouchBegin:
            m_clock.rouse();
            break;
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::WindowStateChange:
            if (watched == m_window)
                m_clock.rouse();
            break;
        default:
            break;
        }
        return false;
    }

private:
    FrameClock& m_clock;
    QWidget* m_window;
};

FrameClock::FrameClock(bool real) : m_real(real) {
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(kFrameMs);
    m_elapsed.start();
    QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] {
        const bool wasBatching = m_batching;
        wake(now());
        if (m_batching != wasBatching && m_timer.isActive())
            rearm();
    });
}

FrameClock::~FrameClock() {
    if (m_watcher && QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(m_watcher.get());
}

void FrameClock::watch(QWidget* window) {
    m_watcher = std::make_unique<Watcher>(*this, window);
    // Menus pop up in windows of their own, so their keys and clicks are seen application-wide.
    QCoreApplication::instance()->installEventFilter(m_watcher.get());
}

qint64 FrameClock::now() const {
    return m_real ? m_elapsed.elapsed() : m_lastNow;
}

void FrameClock::schedule(Timer& timer, int periodFrames) {
    unschedule(timer);
    if (periodFrames > 0 && !m_halted)
        m_scheduled.push_back({&timer, periodFrames, m_frame});
    changed();
    startOrStop();
}

void FrameClock::unschedule(Timer& timer) {
    std::erase_if(m_scheduled, [&timer](const Scheduled& s) { return s.timer == &timer; });
    startOrStop();
}

void FrameClock::halt() {
    m_halted = true;
    m_scheduled.clear();
    startOrStop();
}

void FrameClock::setReal(bool real) {
    m_real = real;
    startOrStop();
}

void FrameClock::startOrStop() {
    // With nothing to tick the program sleeps instead of waking every frame.
    const bool run = m_real && !m_scheduled.empty();
    if (run && !m_timer.isActive()) {
        m_batching = false;
        rearm();
    } else if (!run) {
        m_timer.stop();
    }
}

void FrameClock::rearm() {
    // A batch needs no precision, and a coarse timer may share its wake with others.
    m_timer.setTimerType(m_batching ? Qt::CoarseTimer : Qt::PreciseTimer);
    m_timer.start(m_batching ? kBatchMs : kFrameMs);
}

bool FrameClock::seenMove(const VisualControl& control) const {
    const QRect placed = ControlHost::placedRect(control);
    const QRect current = ControlHost::pixelRect(control);
    const QWidget* widget = ControlHost::widget(control);
    if (placed == current || !control.visible() || !widget)
        return false;
    const QRect client = widget->parentWidget()->rect();
    return (!placed.isEmpty() && placed.intersects(client)) ||
           (!current.isEmpty() && current.intersects(client));
}

void FrameClock::changed() {
    m_frameSeen = true;
}

void FrameClock::advance() {
    ++m_frame;
    m_inFrame = true;
    m_frameSeen = false;
    // A handler may restart or stop any timer, its own included; the list is read afresh
    // for each one so that a timer restarted in this frame waits its full period.
    // The list's buffer is borrowed from the last frame, so a frame allocates nothing; a frame
    // run from a loop nested in a handler finds it lent out and makes its own.
    std::vector<Timer*> due = std::exchange(m_due, {});
    due.clear();
    for (const Scheduled& s : m_scheduled)
        if ((m_frame - s.startFrame) % s.periodFrames == 0)
            due.push_back(s.timer);
    for (Timer* timer : due) {
        const auto it = std::find_if(m_scheduled.begin(), m_scheduled.end(),
                                     [timer](const Scheduled& s) { return s.timer == timer; });
        if (it != m_scheduled.end() && it->startFrame < m_frame &&
            (m_frame - it->startFrame) % it->periodFrames == 0)
            timer->fire();
    }
    m_due = std::move(due);
    m_inFrame = false;
    m_frameSeen = m_frameSeen || std::any_of(m_moved.begin(), m_moved.end(),
                                             [this](VisualControl* c) { return seenMove(*c); });
    m_quietFrames = m_frameSeen ? 0 : m_quietFrames + 1;
    if (!m_batching)
        applyGeometry();
}

int FrameClock::wake(qint64 now) {
    m_lastNow = now;
    if (m_batching) {
        runOwedFrames(now);
        return m_batching ? kBatchMs : kFrameMs;
    }
    advance();
    // A quiet frame alone proves little: a slow timer may still move something in sight. Once
    // every running timer has ticked unseen, none of them is showing anything.
    int longest = 1;
    for (const Scheduled& s : m_scheduled)
        longest = std::max(longest, s.periodFrames);
    if (m_quietFrames < longest)
        return kFrameMs;
    m_batching = true;
    m_batchStart = now;
    m_batchFrames = 0;
    return kBatchMs;
}

void FrameClock::runOwedFrames(qint64 now) {
    bool seen = false;
    for (long long owed = (now - m_batchStart) / kFrameMs - m_batchFrames;
         owed > 0 && !m_scheduled.empty(); --owed) {
        advance();
        ++m_batchFrames;
        seen = seen || m_quietFrames == 0;
    }
    if (seen)
        m_batching = false;
    applyGeometry();
}

void FrameClock::rouse(qint64 now) {
    // Input seen by a loop nested in a handler waits for the frame around it to end.
    if (m_batching && !m_inFrame) {
        m_lastNow = now;
        runOwedFrames(now);
        m_batching = false;
        if (m_timer.isActive())
            rearm();
    }
    // What the player did may show only after a few ticks: a full round runs at frame pace.
    m_quietFrames = 0;
}

void FrameClock::rouse() {
    rouse(now());
}

void FrameClock::moved(VisualControl& control) {
    if (!ControlHost::markMoved(control))
        return;
    m_moved.push_back(&control);
    if (m_inFrame || m_applyPosted)
        return;
    m_applyPosted = true;
    QMetaObject::invokeMethod(
        &m_timer, [this] { applyGeometry(); }, Qt::QueuedConnection);
}

void FrameClock::applyGeometry() {
    m_applyPosted = false;
    for (VisualControl* control : std::exchange(m_moved, {}))
        ControlHost::place(*control);
}

} // namespace runtime
