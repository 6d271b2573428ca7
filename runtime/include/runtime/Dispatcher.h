#pragma once

#include <runtime/RuntimeError.h>

#include <functional>

namespace runtime {

// The one place that enters the game's event handlers. A run-time error escaping a handler
// stops all further dispatch, is reported once, and ends the program.
class Dispatcher {
public:
    using Handler = std::function<void()>;
    // Called once when the program ends, with the run-time error that ended it, if any.
    using EndHook = std::function<void(int status, const RuntimeError* error)>;

    static constexpr int kErrorExitStatus = 1;

    explicit Dispatcher(EndHook onEnd = {}) : m_onEnd(std::move(onEnd)) {}

    // Runs the handler unless the program has ended or the event has none; a handler is never
    // entered while another one runs (a nested call is dropped, as the message loop would
    // never make one).
    void enter(const Handler& handler);

    // Ends the program: no handler is entered afterwards.
    void endProgram(int status);

    bool ended() const { return m_ended; }
    int exitStatus() const { return m_exitStatus; }

private:
    void finish(int status, const RuntimeError* error);

    EndHook m_onEnd;
    bool m_running = false;
    bool m_ended = false;
    int m_exitStatus = 0;
};

} // namespace runtime
