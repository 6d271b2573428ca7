// Feeds the three score conversions whatever bytes libFuzzer makes up: once as UTF-8 text, once
// as UTF-16 text (what a paste into the score box can bring), and in 8-byte pieces as doubles.
// Any broken promise aborts, so libFuzzer keeps the input that broke it.
#include <runtime/Conversions.h>
#include <runtime/RuntimeError.h>

#include <QString>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using runtime::lenientNumber;
using runtime::numberText;
using runtime::strictNumber;

namespace {

[[noreturn]] void broken(const char* promise, const QString& text) {
    std::fprintf(stderr, "conversions fuzzer: %s\n  text: \"%s\"\n", promise,
                 text.left(400).toUtf8().constData());
    std::abort();
}

[[noreturn]] void broken(const char* promise, double value) {
    std::fprintf(stderr, "conversions fuzzer: %s\n  value: %a (%.17g)\n", promise, value, value);
    std::abort();
}

bool sameBits(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

bool isIntegral(double value) {
    return value == std::trunc(value);
}

// "-" followed by digits, or digits alone, without leading zeros.
bool isDigitsAlone(const QString& text) {
    const qsizetype start = text.startsWith(u'-') ? 1 : 0;
    if (start == text.size() || (text[start] == u'0' && text.size() > start + 1))
        return false;
    for (qsizetype i = start; i < text.size(); ++i)
        if (text[i] < u'0' || text[i] > u'9')
            return false;
    return true;
}

// Every finite number is written so that it reads back as itself (-0 as 0), without an
// exponent, and an integral one as its digits alone; inf and NaN are an Overflow.
void checkNumber(double value) {
    if (!std::isfinite(value)) {
        try {
            numberText(value);
        } catch (const runtime::RuntimeError& error) {
            if (error.number() != int(runtime::ErrorNumber::Overflow))
                broken("numberText of inf or NaN threw another error than Overflow", value);
            return;
        }
        broken("numberText wrote inf or NaN as text", value);
    }
    const QString text = numberText(value);
    double back = 0;
    try {
        back = strictNumber(text);
    } catch (const runtime::RuntimeError&) {
        broken("strictNumber refused what numberText wrote", value);
    }
    if (!sameBits(back, value == 0 ? 0.0 : value))
        broken("numberText -> strictNumber did not give the same number back", value);
    if (!sameBits(lenientNumber(text), back))
        broken("lenientNumber read numberText's text differently from strictNumber", value);
    if (text.contains(u'e') || text.contains(u'E'))
        broken("numberText wrote an exponent", value);
    if (isIntegral(value) != isDigitsAlone(text))
        broken("numberText's digits-alone form does not match whether the value is integral",
               value);
}

// The text strictNumber accepted, in ASCII, as the C library reads numbers: a second opinion
// on which double it stands for.
double libraryReading(const QString& text) {
    std::string ascii;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\u3000' || u == u' ' || u == u'\t' || u == u'\n' || u == u'\r')
            continue; // only the blanks around the number: strictNumber allowed no others
        ascii += u >= 0xFF01 && u <= 0xFF5E ? char(u - 0xFF01 + 0x21) : char(u);
    }
    char* end = nullptr;
    const double value = std::strtod(ascii.c_str(), &end);
    if (end != ascii.c_str() + ascii.size())
        broken("strictNumber accepted a text the C library does not read as a number", text);
    return value;
}

void checkText(const QString& text) {
    const double lenient = lenientNumber(text);
    if (!std::isfinite(lenient))
        broken("lenientNumber gave inf or NaN", text);
    // The game writes the score one higher; that text must read back too.
    checkNumber(lenient);
    checkNumber(lenient + 1);

    double strict = 0;
    try {
        strict = strictNumber(text);
    } catch (const runtime::RuntimeError& error) {
        if (error.number() != int(runtime::ErrorNumber::TypeMismatch) &&
            error.number() != int(runtime::ErrorNumber::Overflow))
            broken("strictNumber threw another run-time error than 13 or 6", text);
        return;
    } catch (...) {
        broken("strictNumber threw something other than a run-time error", text);
    }
    if (!std::isfinite(strict))
        broken("strictNumber returned inf or NaN", text);
    if (!sameBits(strict, lenient))
        broken("lenientNumber read a whole number differently from strictNumber", text);
    const double library = libraryReading(text);
    // Underflow to zero keeps its sign in both readings; the C library's subnormals must match.
    if (!sameBits(strict, library))
        broken("strictNumber and the C library read the same number differently", text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    checkText(QString::fromUtf8(bytes, qsizetype(size)));

    std::u16string units(size / 2, u'\0');
    std::memcpy(units.data(), data, units.size() * 2);
    checkText(QString::fromUtf16(units.data(), qsizetype(units.size())));

    // Every 8 bytes also as a double, and its integral part, which random bits rarely are.
    for (std::size_t at = 0; at + 8 <= size && at < 8 * 16; at += 8) {
        double value = 0;
        std::memcpy(&value, data + at, 8);
        checkNumber(value);
        if (std::isfinite(value))
            checkNumber(std::trunc(value));
    }
    return 0;
}
