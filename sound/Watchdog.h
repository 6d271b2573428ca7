#pragma once

#include "StreamPlayer.h"

#include <pulse/context.h>
#include <pulse/stream.h>

#include <chrono>
#include <functional>

namespace sound {

// Gives up a server that stops answering while the game waits on it (stopped, or a socket
// nobody serves), so that the next start tries afresh. It ticks only while the game waits:
// nothing wakes the thread once the tune has ended.
class Watchdog {
public:
    Watchdog(pa_mainloop_api* api, const StreamLimits& limits, std::function<void()> giveUp)
        : m_api(api), m_limits(limits), m_giveUp(std::move(giveUp)) {}
    ~Watchdog() { stop(); }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    // Ticks on the connection's clock from now on, resting until told what to watch.
    void start(pa_context* context);
    void stop();
    // The server has the wait from now to bring the connection or the stream up.
    void awaitAnswer();
    // The server is asked for the stream's timing at each tick, rather than judged by its
    // requests for data: a suspended sink asks for none and still answers.
    void askStream(pa_stream* stream);
    void rest();

private:
    enum class Watch { Resting, Answer, Stream };
    static void onTick(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self);
    void tick();
    void watch(Watch what);
    void dropQuestion();

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
