#pragma once

#include "StreamPlayer.h"

#include <pulse/context.h>
#include <pulse/rtclock.h>
#include <pulse/stream.h>
#include <pulse/timeval.h>

#include <cassert>
#include <chrono>
#include <functional>

namespace sound {

// Gives up a server that stops answering while the game waits on it (stopped, or a socket
// nobody serves), so that the next start tries afresh. It ticks only while the game waits:
// nothing wakes the thread once the tune has ended.
class Watchdog {
public:
    enum class Watch {
        Resting,
        Answer, // the server has the wait from now to bring the connection or the stream up
        // The stream is asked for its timing at each tick, rather than judged by the server's
        // requests for data: a suspended sink asks for none and still answers.
        Stream,
    };

    Watchdog(pa_mainloop_api* api, const StreamLimits& limits, std::function<void()> giveUp)
        : m_api(api), m_limits(limits), m_giveUp(std::move(giveUp)) {}
    ~Watchdog() { stop(); }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    // Ticks on the connection's clock from now on, resting until told what to watch. A new
    // connection is made only once the last one and its watchdog were dropped.
    void start(pa_context* context) {
        assert(!m_timer && m_watch == Watch::Resting);
        m_context = context;
        m_timer = pa_context_rttime_new(context, PA_USEC_INVALID, &Watchdog::onTick, this);
    }

    void stop() {
        watch(Watch::Resting);
        if (m_timer)
            m_api->time_free(std::exchange(m_timer, nullptr));
        m_context = nullptr;
    }

    // A question asked before is not waited for any more; the clock runs only while watching.
    void watch(Watch what, pa_stream* stream = nullptr) {
        if (what == Watch::Stream && m_watch == what && m_stream == stream)
            return;
        dropQuestion();
        const bool wasResting = m_watch == Watch::Resting;
        m_watch = what;
        m_stream = stream;
        m_since = std::chrono::steady_clock::now();
        if (m_timer && wasResting != (what == Watch::Resting))
            pa_context_rttime_restart(m_context, m_timer,
                                      wasResting ? nextTick() : PA_USEC_INVALID);
    }

private:
    static void onTick(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
        static_cast<Watchdog*>(self)->tick();
    }

    void tick() {
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
        pa_context_rttime_restart(m_context, m_timer, nextTick());
    }

    pa_usec_t nextTick() const {
        return pa_rtclock_now() +
               static_cast<pa_usec_t>(m_limits.watchdogTick.count()) * PA_USEC_PER_MSEC;
    }

    void dropQuestion() {
        if (m_question)
            pa_operation_unref(std::exchange(m_question, nullptr));
    }

    pa_mainloop_api* const m_api;
    const StreamLimits m_limits;
    const std::function<void()> m_giveUp;
    pa_context* m_context = nullptr;
    pa_time_event* m_timer = nullptr;
    Watch m_watch = Watch::Resting;
    pa_stream* m_stream = nullptr;
    pa_operation* m_question = nullptr;
    std::chrono::steady_clock::time_point m_since; // of the wait, or of the question
};

} // namespace sound
