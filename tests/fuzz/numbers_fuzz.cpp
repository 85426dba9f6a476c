// The locale's number conversions on arbitrary text.
//
// Input: one byte whose bit 0 picks the decimal separator ('.' or ',') and whose bit 1 adds a
// double made of the next eight bytes; the rest is the text, one character a byte.
//
// Only the automation errors type mismatch and overflow come out. A plain decimal converts to
// the Long that an independent reading rounds it to, halves to even, or overflows; a Long is
// never a wrapped value but for "&H" and "&O" numbers, which are 32 bits. A double's text has the
// locale's separator and reads back as the same double when 15 significant digits hold it exactly.
#include <algorithm>
#include <cerrno>
#include <cfenv>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "common/error.h"
#include "common/fixed_locale.h"
#include "common/text.h"

namespace {

using vpolv::Error;
using vpolv::FixedLocale;
using vpolv::Long;
using vpolv::Text;
namespace errors = vpolv::errors;

[[noreturn]] void finding(const char* what, const Text& text, const std::string& detail = {}) {
    std::fprintf(stderr, "\n*** %s\ntext: \"%s\"\n%s\n", what, vpolv::toUtf8(text).c_str(),
                 detail.c_str());
    std::abort();
}

// A conversion's outcome: its value, or the code of the error it raised.
template <class T>
struct Outcome {
    std::optional<T> value;
    std::int32_t code = 0;
};

template <class F>
auto convert(const Text& text, F&& f) -> Outcome<decltype(f(text))> {
    try {
        return {f(text), 0};
    } catch (const Error& e) {
        if (e.code() != errors::kTypeMismatch && e.code() != errors::kOverflow)
            finding("a conversion raised an unexpected error", text, e.what());
        return {std::nullopt, e.code()};
    } catch (const std::exception& e) {
        finding("a conversion raised something else than an automation error", text, e.what());
    }
}

// The text as "C" text for strtod when it is a plain decimal -- spaces, a sign, digits with at
// most one decimal separator, spaces -- and nothing otherwise.
std::optional<std::string> plainDecimal(const Text& text, char16_t decimal) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && text[i] == u' ')
        ++i;
    std::string out;
    if (i < n && (text[i] == u'+' || text[i] == u'-'))
        out += static_cast<char>(text[i++]);
    bool digits = false, separator = false;
    for (; i < n && text[i] != u' '; ++i) {
        if (text[i] >= u'0' && text[i] <= u'9') {
            out += static_cast<char>(text[i]);
            digits = true;
        } else if (text[i] == decimal && !separator) {
            out += '.';
            separator = true;
        } else {
            return std::nullopt;
        }
    }
    while (i < n && text[i] == u' ')
        ++i;
    if (!digits || i != n)
        return std::nullopt;
    return out;
}

std::string exact(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "expected %.17g", value);
    return buffer;
}

void checkPlainDecimal(const Text& text, const std::string& c, const Outcome<double>& asDouble,
                       const Outcome<Long>& asLong) {
    errno = 0;
    const double expected = std::strtod(c.c_str(), nullptr);
    if (errno == ERANGE && std::isinf(expected)) {
        if (asDouble.code != errors::kOverflow || asLong.code != errors::kOverflow)
            finding("a decimal beyond the double range is no overflow", text);
        return;
    }
    if (!asDouble.value)
        finding("a plain decimal does not convert to a double", text);
    if (*asDouble.value != expected)
        finding("a plain decimal converts to another double", text, exact(expected));
    // The Long is rounded on the exact digits: where the nearest double is a half, the digits
    // beyond it decide, so either neighbour may be right.
    std::fesetround(FE_TONEAREST);
    const double lower = std::floor(expected);
    const std::vector<double> candidates = expected - lower == 0.5
                                               ? std::vector<double>{lower, lower + 1}
                                               : std::vector<double>{std::nearbyint(expected)};
    const auto roundsTo = [&](double rounded) {
        if (rounded < -2147483648.0 || rounded > 2147483647.0)
            return asLong.code == errors::kOverflow;
        return asLong.value && *asLong.value == static_cast<Long>(rounded);
    };
    if (std::none_of(candidates.begin(), candidates.end(), roundsTo)) {
        finding("a plain decimal is neither its nearest Long, halves to even, nor an overflow",
                text, exact(expected));
    }
}

// Significant digits of the shortest text that reads back as value.
int significantDigits(double value) {
    char buffer[64];
    const auto end =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific).ptr;
    int digits = 0;
    for (const char* p = buffer; p != end && *p != 'e'; ++p)
        digits += *p >= '0' && *p <= '9';
    return digits;
}

void checkDoubleToText(const FixedLocale& locale, double value) {
    if (!std::isfinite(value))
        return;
    Text text;
    try {
        text = locale.doubleToText(value);
    } catch (const std::exception& e) {
        finding("doubleToText failed", u"", std::to_string(value) + ": " + e.what());
    }
    const char16_t thousands = locale.decimalSeparator() == u'.' ? u',' : u'.';
    for (const char16_t c : text) {
        if (c == thousands || !(c == u'-' || c == u'+' || c == u'E' || (c >= u'0' && c <= u'9') ||
                                c == locale.decimalSeparator())) {
            finding("doubleToText wrote a character that is not the locale's", text);
        }
    }
    const auto back = convert(text, [&](const Text& t) { return locale.textToDouble(t); });
    if (back.code == errors::kTypeMismatch)
        finding("doubleToText wrote a text that is not a number", text);
    if (significantDigits(value) <= 15) {
        if (!back.value || *back.value != value)
            finding("a double of at most 15 digits does not read back as itself", text);
    } else if (back.value && std::fabs(value) >= 2.2250738585072014e-308 &&
               std::fabs(*back.value - value) > 1e-14 * std::fabs(value)) {
        finding("doubleToText is not within 15 significant digits", text);
    } else if (!back.value && std::fabs(value) < 1.7976931348623e308) {
        finding("doubleToText wrote a text that overflows", text);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const FixedLocale locale(data[0] & 1 ? u',' : u'.');
    std::size_t start = 1;
    if (data[0] & 2 && size >= 9) {
        double raw;
        std::memcpy(&raw, data + 1, sizeof raw);
        checkDoubleToText(locale, raw);
        start = 9;
    }
    const Text text(data + start, data + size);

    const auto asDouble = convert(text, [&](const Text& t) { return locale.textToDouble(t); });
    const auto asLong = convert(text, [&](const Text& t) { return locale.textToLong(t); });
    if (asDouble.value && !std::isfinite(*asDouble.value))
        finding("textToDouble gave no finite double", text);
    // "&H" and "&O" numbers are 32 bits: as a Long whatever their sign, as a double only the
    // ones that are not negative.
    const bool radix = text.find(u'&') != Text::npos;
    if (asLong.value && !radix &&
        (!asDouble.value || std::fabs(*asDouble.value - *asLong.value) > 0.5))
        finding("textToLong gave no rounding of the number", text);
    if (!asDouble.value && asLong.code != asDouble.code &&
        !(radix && asDouble.code == errors::kOverflow))
        finding("textToLong and textToDouble fail differently", text);
    if (const auto c = plainDecimal(text, locale.decimalSeparator()))
        checkPlainDecimal(text, *c, asDouble, asLong);
    if (asDouble.value)
        checkDoubleToText(locale, *asDouble.value);
    return 0;
}
