#pragma once

#include "RuntimeError.h"

#include <functional>

namespace runtime {

// The one place that enters the game's event handlers. A run-time error escaping a handler
// stops all further dispatch, is reported once, and ends the program.
class Dispatcher {
public:
    using Handler = std::function<void()>;
    using Reporter = std::function<void(const RuntimeError&)>;
    using Ender = std::function<void(int status)>;

    static constexpr int kErrorExitStatus = 1;

    Dispatcher();

    // Runs the handler unless the program has ended or the event has none; a handler is never
    // entered while another one runs (a nested call is dropped, as the message loop would
    // never make one).
    void enter(const Handler& handler);

    // Ends the program: no handler is entered afterwards.
    void endProgram(int status);

    bool ended() const { return m_ended; }
    int exitStatus() const { return m_exitStatus; }

    // The player sees the report (a message box in the game); tests record it instead.
    void setReporter(Reporter reporter) { m_reporter = std::move(reporter); }
    // How the program ends (leaving the event loop in the game); tests record it instead.
    void setEnder(Ender ender) { m_ender = std::move(ender); }
    // Called once when the program ends, before the ender: the form stops its timers here.
    void setOnEnd(std::function<void()> onEnd) { m_onEnd = std::move(onEnd); }

private:
    void fail(const RuntimeError& error);
    void finish(int status, const RuntimeError* error);

    Reporter m_reporter;
    Ender m_ender;
    std::function<void()> m_onEnd;
    bool m_running = false;
    bool m_ended = false;
    int m_exitStatus = 0;
};

} // namespace runtime
