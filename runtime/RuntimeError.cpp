#include <runtime/RuntimeError.h>

namespace runtime {

RuntimeError::RuntimeError(ErrorNumber number, const QString& message)
    : std::runtime_error(message.toStdString()), m_number(number), m_message(message) {}

} // namespace runtime
