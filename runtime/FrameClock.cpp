#include "FrameClock.h"

#include "ControlHost.h"

#include <algorithm>

namespace runtime {

FrameClock::FrameClock(bool real) : m_real(real) {
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(kFrameMs);
    QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { advance(); });
}

void FrameClock::schedule(Timer& timer, int periodFrames) {
    unschedule(timer);
    if (periodFrames > 0 && !m_halted)
        m_scheduled.push_back({&timer, periodFrames, m_frame});
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
    if (run && !m_timer.isActive())
        m_timer.start();
    else if (!run)
        m_timer.stop();
}

void FrameClock::advance() {
    ++m_frame;
    m_inFrame = true;
    // A handler may restart or stop any timer, its own included; the list is read afresh
    // for each one so that a timer restarted in this frame waits its full period.
    std::vector<Timer*> due;
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
    m_inFrame = false;
    applyGeometry();
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
