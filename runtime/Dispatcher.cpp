#include <runtime/Dispatcher.h>

#include <QString>

#include <new>

namespace runtime {

void Dispatcher::enter(const Handler& handler) {
    if (m_ended || m_running || !handler)
        return;
    m_running = true;
    try {
        handler();
        m_running = false;
    } catch (const RuntimeError& error) {
        m_running = false;
        finish(kErrorExitStatus, &error);
    } catch (const std::bad_alloc&) {
        m_running = false;
        const RuntimeError error(ErrorNumber::OutOfMemory, QStringLiteral("Out of memory"));
        finish(kErrorExitStatus, &error);
    }
}

void Dispatcher::endProgram(int status) {
    finish(status, nullptr);
}

void Dispatcher::finish(int status, const RuntimeError* error) {
    if (m_ended)
        return;
    // Nothing may run between the end and the exit, not even while a report is open.
    m_ended = true;
    m_exitStatus = status;
    if (m_onEnd)
        m_onEnd(status, error);
}

} // namespace runtime
