#pragma once

#include <runtime/RuntimeError.h>

#include <functional>
#include <optional>

// The number of the run-time error an action raises, or nothing if it raises none.
inline std::optional<int> errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const runtime::RuntimeError& error) {
        return error.number();
    }
    return std::nullopt;
}
