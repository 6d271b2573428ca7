#include "Watchdog.h"

#include <pulse/rtclock.h>
#include <pulse/timeval.h>

namespace sound {
namespace {

pa_usec_t nextTick(const StreamLimits& limits) {
    return pa_rtclock_now() +
           static_cast<pa_usec_t>(limits.watchdogTick.count()) * PA_USEC_PER_MSEC;
}

} // namespace

void Watchdog::start(pa_context* context) {
    stop();
    m_context = context;
    m_timer = pa_context_rttime_new(context, PA_USEC_INVALID, &Watchdog::onTick, this);
}

void Watchdog::stop() {
    rest();
    if (m_timer)
        m_api->time_free(m_timer);
    m_timer = nullptr;
    m_context = nullptr;
}

void Watchdog::awaitAnswer() {
    watch(Watch::Answer);
    m_since = std::chrono::steady_clock::now();
}

void Watchdog::askStream(pa_stream* stream) {
    if (m_watch == Watch::Stream && m_stream == stream)
        return;
    watch(Watch::Stream);
    m_stream = stream;
}

void Watchdog::rest() {
    watch(Watch::Resting);
}

// A question asked before is not waited for any more; the clock runs only while watching.
void Watchdog::watch(Watch what) {
    dropQuestion();
    const bool wasResting = m_watch == Watch::Resting;
    m_watch = what;
    if (m_timer && wasResting != (what == Watch::Resting))
        pa_context_rttime_restart(m_context, m_timer,
                                  wasResting ? nextTick(m_limits) : PA_USEC_INVALID);
}

void Watchdog::onTick(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
    static_cast<Watchdog*>(self)->tick();
}

void Watchdog::tick() {
    switch (m_watch) {
    case Watch::Resting:
        return;
    case Watch::Stream:
        if (!m_question || pa_operation_get_state(m_question) != PA_OPERATION_RUNNING) {
            dropQuestion();
            m_question = pa_stream_update_timing_info(m_stream, nullptr, nullptr);
            m_since = std::chrono::steady_clock::now();
            break;
        }
        [[fallthrough]];
    case Watch::Answer:
        if (std::chrono::steady_clock::now() - m_since > m_limits.answerTimeout)
            return m_giveUp();
        break;
    }
    pa_context_rttime_restart(m_context, m_timer, nextTick(m_limits));
}

void Watchdog::dropQuestion() {
    if (m_question)
        pa_operation_unref(m_question);
    m_question = nullptr;
}

} // namespace sound
