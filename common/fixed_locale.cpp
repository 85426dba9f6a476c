// Number conversions with a fixed decimal separator, as the automation runtime does them.
#include "common/fixed_locale.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <system_error>

#include "common/error.h"

namespace vpolv {

namespace {

bool isBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}
bool isDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// Parses a number the way the automation runtime reads one from text: blanks around it, a sign,
// digits with optional thousands separators, a decimal part and an exponent. The result is the
// canonical "C" text of the number (digits, '.', 'e'), or empty when the text is not a number.
std::string canonicalNumber(const Text& text, char16_t decimal, char16_t thousands) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && isBlank(text[i]))
        ++i;
    std::string out;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        if (text[i] == u'-')
            out += '-';
        ++i;
    }
    bool digits = false;
    while (i < n) {
        if (isDigit(text[i])) {
            out += static_cast<char>(text[i]);
            digits = true;
        } else if (text[i] == thousands && digits && i + 1 < n && isDigit(text[i + 1])) {
            // a grouping separator between digits
        } else {
            break;
        }
        ++i;
    }
    if (i < n && text[i] == decimal) {
        out += '.';
        ++i;
        while (i < n && isDigit(text[i])) {
            out += static_cast<char>(text[i]);
            digits = true;
            ++i;
        }
    }
    if (!digits)
        return {};
    if (i < n && (text[i] == u'e' || text[i] == u'E')) {
        std::string exponent = "e";
        std::size_t j = i + 1;
        if (j < n && (text[j] == u'+' || text[j] == u'-'))
            exponent += static_cast<char>(text[j++]);
        const std::size_t start = j;
        while (j < n && isDigit(text[j]))
            exponent += static_cast<char>(text[j++]);
        if (j == start)
            return {};
        out += exponent;
        i = j;
    }
    while (i < n && isBlank(text[i]))
        ++i;
    if (i != n)
        return {};
    return out;
}

// Whether a canonical number that is out of the double's range is too small rather than too
// large: the power of ten of its first significant digit is negative.
bool tooSmall(const std::string& number) {
    const std::size_t e = number.find('e');
    const std::string mantissa = number.substr(number[0] == '-' ? 1 : 0, e);
    long long power = 0;
    if (e != std::string::npos) {
        const bool negative = number[e + 1] == '-';
        for (std::size_t i = e + 1; i < number.size(); ++i) {
            if (isDigit(number[i]) && power < 1'000'000'000)
                power = power * 10 + (number[i] - '0');
        }
        power = negative ? -power : power;
    }
    const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
    const std::size_t first = mantissa.find_first_not_of("0.");
    if (first == std::string::npos)
        return true;  // zero
    // The first significant digit's place: 0 for units, -1 for tenths.
    const long long place = first < point ? static_cast<long long>(point - first) - 1
                                          : -static_cast<long long>(first - point);
    return place + power < 0;
}

}  // namespace

FixedLocale::FixedLocale(char16_t decimalSeparator)
    : decimal_(decimalSeparator), thousands_(decimalSeparator == u',' ? u'.' : u',') {}

double FixedLocale::textToDouble(const Text& text) const {
    const std::string number = canonicalNumber(text, decimal_, thousands_);
    if (number.empty())
        throw errors::typeMismatch();
    double value = 0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (ec == std::errc::result_out_of_range && tooSmall(number)) {
        // Below the smallest double: as near to nothing as a double can say.
        return number[0] == '-' ? -0.0 : 0.0;
    }
    if (ec == std::errc::result_out_of_range || !std::isfinite(value))
        throw errors::overflow();
    if (ec != std::errc() || end != number.data() + number.size())
        throw errors::typeMismatch();
    return value;
}

Long FixedLocale::textToLong(const Text& text) const {
    const double value = textToDouble(text);
    // Round to nearest, halves to even (the default floating-point rounding mode).
    const double rounded = std::nearbyint(value);
    if (rounded < -2147483648.0 || rounded > 2147483647.0)
        throw errors::overflow();
    return static_cast<Long>(rounded);
}

Text FixedLocale::doubleToText(double value) const {
    if (value == 0)
        return u"0";
    // Shortest general form with 15 significant digits, independent of the C library's locale.
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    Text out;
    for (const char* p = buffer; p != result.ptr; ++p) {
        out += *p == '.' ? decimal_ : *p == 'e' ? u'E' : static_cast<char16_t>(*p);
    }
    return out;
}

}  // namespace vpolv
