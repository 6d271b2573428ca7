#include "Dispatcher.h"

#include <QCoreApplication>
#include <QString>

#include <cstdio>
#include <exception>
#include <new>

namespace runtime {

Dispatcher::Dispatcher()
    : m_reporter([](const RuntimeError& error) {
          std::fprintf(stderr, "warukyara: run-time error %d: %s\n", error.number(),
                       qPrintable(error.message()));
      }),
      m_ender([](int status) { QCoreApplication::exit(status); }) {}

void Dispatcher::enter(const Handler& handler) {
    if (m_ended || m_running || !handler)
        return;
    m_running = true;
    try {
        handler();
        m_running = false;
    } catch (const RuntimeError& error) {
        m_running = false;
        fail(error);
    } catch (const std::bad_alloc&) {
        m_running = false;
        fail(RuntimeError(ErrorNumber::OutOfMemory, QStringLiteral("Out of memory")));
    }
}

void Dispatcher::endProgram(int status) {
    finish(status, nullptr);
}

void Dispatcher::fail(const RuntimeError& error) {
    finish(kErrorExitStatus, &error);
}

void Dispatcher::finish(int status, const RuntimeError* error) {
    if (m_ended)
        return;
    // Nothing may run between the end and the exit, not even while a report is open.
    m_ended = true;
    m_exitStatus = status;
    if (m_onEnd)
        m_onEnd();
    if (error)
        m_reporter(*error);
    m_ender(status);
}

} // namespace runtime
