#include <runtime/Conversions.h>

#include <runtime/RuntimeError.h>

#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace runtime {
namespace {

// Full-width forms of the characters a number is written with, as a Japanese input method
// types them, count as their ASCII twins.
char asciiOf(QChar c) {
    const char16_t u = c.unicode();
    if (u >= 0xFF01 && u <= 0xFF5E)
        return static_cast<char>(u - 0xFF01 + 0x21);
    return u < 0x80 ? static_cast<char>(u) : '\0';
}

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\u3000';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// A number at the start of a text: [sign] digits [. digits] [e [sign] digits].
struct Scanned {
    std::string number; // ASCII, without a leading '+', ready for from_chars
    qsizetype end = 0;  // index just past the number in the text
    bool found = false;
    long long magnitude = 0; // rough decimal exponent, to tell overflow from underflow
};

Scanned scanNumber(QStringView text, qsizetype pos) {
    Scanned s;
    const qsizetype n = text.size();
    auto at = [&](qsizetype i) { return i < n ? asciiOf(text[i]) : '\0'; };

    qsizetype i = pos;
    if (at(i) == '+' || at(i) == '-') {
        if (at(i) == '-')
            s.number += '-';
        ++i;
    }
    long long intDigits = 0;
    long long leadingFractionZeros = 0;
    bool seenNonZero = false;
    bool digits = false;
    for (; isDigit(at(i)); ++i) {
        digits = true;
        if (at(i) != '0' || seenNonZero) {
            seenNonZero = true;
            ++intDigits;
            s.number += at(i);
        }
    }
    if (at(i) == '.') {
        const qsizetype point = i++;
        std::string fraction;
        for (; isDigit(at(i)); ++i) {
            digits = true;
            if (!seenNonZero && at(i) == '0')
                ++leadingFractionZeros;
            else
                seenNonZero = true;
            fraction += at(i);
        }
        if (!digits) // a lone point is no number
            i = point;
        else if (!fraction.empty()) {
            if (s.number.empty() || s.number == "-")
                s.number += '0';
            s.number += '.' + fraction;
        }
    }
    if (!digits)
        return s;
    if (s.number.empty() || s.number == "-")
        s.number += '0';
    s.found = true;
    s.end = i;

    if (at(i) == 'e' || at(i) == 'E') {
        qsizetype j = i + 1;
        bool negative = false;
        if (at(j) == '+' || at(j) == '-')
            negative = at(j++) == '-';
        if (isDigit(at(j))) {
            long long exponent = 0;
            for (; isDigit(at(j)); ++j)
                exponent = std::min(exponent * 10 + (at(j) - '0'), 1'000'000'000LL);
            if (negative)
                exponent = -exponent;
            s.number += 'e' + std::to_string(exponent);
            s.magnitude = exponent;
            s.end = j;
        }
    }
    s.magnitude += seenNonZero ? (intDigits > 0 ? intDigits - 1 : -(leadingFractionZeros + 1))
                               : std::numeric_limits<int>::min();
    return s;
}

enum class Range { InRange, Overflow, Underflow };

Range toDouble(const Scanned& s, double& value) {
    const char* first = s.number.data();
    const char* last = first + s.number.size();
    const auto result = std::from_chars(first, last, value);
    if (result.ec == std::errc::result_out_of_range) {
        const bool negative = s.number.front() == '-';
        if (s.magnitude > 0) {
            value =
                negative ? -std::numeric_limits<double>::max() : std::numeric_limits<double>::max();
            return Range::Overflow;
        }
        value = negative ? -0.0 : 0.0;
        return Range::Underflow;
    }
    return Range::InRange;
}

} // namespace

double lenientNumber(const QString& text) {
    qsizetype pos = 0;
    while (pos < text.size() && isBlank(text[pos]))
        ++pos;
    const Scanned s = scanNumber(text, pos);
    if (!s.found)
        return 0.0;
    double value = 0.0;
    toDouble(s, value);
    return value;
}

QString numberText(double value) {
    if (!std::isfinite(value))
        throw RuntimeError(ErrorNumber::Overflow, QStringLiteral("Overflow"));
    if (value == 0.0)
        return QStringLiteral("0"); // also for -0: a score has no negative zero
    // Fixed notation of the shortest digits that read back exactly: the largest double needs
    // 309 digits, the smallest 0. and 324 digits.
    std::array<char, 400> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::fixed);
    return QString::fromLatin1(buffer.data(), result.ptr - buffer.data());
}

double strictNumber(const QString& text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && isBlank(text[first]))
        ++first;
    while (last > first && isBlank(text[last - 1]))
        --last;
    const QStringView trimmed = QStringView(text).mid(first, last - first);
    const Scanned s = scanNumber(trimmed, 0);
    if (!s.found || s.end != trimmed.size())
        throw RuntimeError(ErrorNumber::TypeMismatch, QStringLiteral("Type mismatch"));
    double value = 0.0;
    if (toDouble(s, value) == Range::Overflow)
        throw RuntimeError(ErrorNumber::Overflow, QStringLiteral("Overflow"));
    return value;
}

} // namespace runtime
