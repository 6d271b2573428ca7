#pragma once

#include <QString>

#include <stdexcept>

namespace runtime {

// The numbers the runtime reports; a player who sees one can tell a bug report apart.
enum class ErrorNumber : int {
    InvalidProcedureCall = 5,
    Overflow = 6,
    OutOfMemory = 7,
    SubscriptOutOfRange = 9,
    TypeMismatch = 13,
    ControlArrayElementMissing = 340,
    InvalidPropertyValue = 380,
    ControlNotFound = 730,
};

// Thrown by any property access or conversion that cannot be carried out. Handlers never
// catch it: the dispatcher does, and ends the program.
class RuntimeError : public std::runtime_error {
public:
    RuntimeError(ErrorNumber number, const QString& message);

    int number() const { return static_cast<int>(m_number); }
    QString message() const { return m_message; }

private:
    ErrorNumber m_number;
    QString m_message;
};

} // namespace runtime
