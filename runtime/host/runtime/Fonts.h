#pragma once

#include <runtime/FormDefinition.h>

#include <QFont>
#include <QStringList>

namespace runtime {

// The face a definition names, then installed faces that can stand in for it: a form made on
// another platform names a face this desktop may not have, and its character set says which
// script the stand-in must cover.
QStringList familiesOf(const FontDefinition& definition);

// The installed proportional Japanese gothics that stand in for a Japanese form's face, best
// first; the program tells the player when none of them is installed.
QStringList japaneseGothics();

// The whole font: face, size and weight.
QFont fontOf(const FontDefinition& definition);

} // namespace runtime
