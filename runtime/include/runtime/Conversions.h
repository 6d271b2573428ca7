#pragma once

#include <QString>

// The three conversions between score text and numbers. All of them accept any text: the
// score box is an ordinary editable text box, so whatever a player types or pastes arrives here.
namespace runtime {

// Takes the number written at the start of the text (after leading blanks) and ignores the
// rest. Never fails: text that does not begin with a number gives 0, and a number too large
// for a double gives the largest finite double of its sign.
double lenientNumber(const QString& text);

// Shortest decimal text that reads back as exactly this value, never with an exponent:
// integral values are their digits alone, however large. Throws Overflow for inf and NaN.
QString numberText(double value);

// The whole text (blanks around it allowed) must be one number; anything else is a
// TypeMismatch, a number beyond the double range an Overflow.
double strictNumber(const QString& text);

} // namespace runtime
