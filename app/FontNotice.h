#pragma once

#include <QString>

namespace display {

// One line when the Japanese font the window's texts are drawn in is missing, or empty.
QString missingFontNotice();

} // namespace display
