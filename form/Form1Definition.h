#pragma once

#include <runtime/FormDefinition.h>

namespace form {

// Every design-time value of the game's window, in creation (and stacking) order.
const runtime::FormDefinition& form1Definition();

} // namespace form
