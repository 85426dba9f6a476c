// Number conversions with a fixed decimal separator, as the automation runtime does them.
#include "common/fixed_locale.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "common/error.h"

namespace vpolv {

NumberSymbols NumberSymbols::forDecimal(Text decimal) {
    const bool comma = decimal == u",";
    return {std::move(decimal), comma ? u"." : u",", comma ? u"\u20AC" : u"$"};
}

namespace {

// The blanks the runtime skips around a number: the Unicode white space characters.
bool isBlank(char16_t c) {
    return (c >= u'\t' && c <= u'\r') || c == u' ' || c == u'\u0085' || c == u'\u00A0' ||
           c == u'\u1680' || (c >= u'\u2000' && c <= u'\u200A') || c == u'\u2028' ||
           c == u'\u2029' || c == u'\u202F' || c == u'\u205F' || c == u'\u3000';
}
bool isDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}
int hexDigit(char16_t c) {
    if (isDigit(c))
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

// Far beyond any double, yet far from overflowing the arithmetic on it.
constexpr long long kPowerLimit = 1'000'000'000'000LL;

// A number as read from text: a decimal, digits × 10^power (digits without leading zeros, none
// for zero), or a whole number written in base 16 or 8 ("&H", "&O").
struct ParsedNumber {
    bool negative = false;
    std::string digits;
    long long power = 0;
    int radix = 10;
    std::uint64_t radixValue = 0;
    bool radixTooLong = false;
};

// Reads text the way the runtime does:
//   leading part   blanks, and at most once each '+', '-', '(' and the currency sign, in any order
//   number         "&H" hexadecimal or "&O" octal digits; or decimal digits with thousands
//                  separators anywhere after a digit, the decimal separator or the exponent's
//                  'e'; one decimal separator; and one exponent, 'e' or 'E' with any '+' and '-'
//                  before its digits, unless a currency sign led. Digits after the exponent
//                  and a thousands separator still belong to the number before the exponent.
//   trailing part  blanks, thousands separators and the currency sign (not after "&H" or "&O"),
//                  ')' after a '(', and '+' and '-' when the leading part had none
// A '(' needs a ')' or a '-'. The text ends at its first NUL character, as a C string would.
// Not a number: type mismatch.
ParsedNumber parse(const Text& text, char16_t decimal, char16_t thousands, const Text& currency) {
    const std::size_t n = std::min(text.find(u'\0'), text.size());
    std::size_t i = 0;
    ParsedNumber number;
    bool plus = false, minus = false, parens = false, currencySign = false;
    // The currency sign is read whole, whatever its length.
    const auto currencyAt = [&](std::size_t at) {
        return !currency.empty() && at + currency.size() <= n &&
               text.compare(at, currency.size(), currency) == 0;
    };
    while (i < n) {
        const char16_t c = text[i];
        if (isBlank(c)) {
        } else if (c == u'+' && !plus) {
            plus = true;
        } else if (c == u'-' && !minus) {
            minus = true;
        } else if (c == u'(' && !parens) {
            parens = true;
        } else if (!currencySign && currencyAt(i)) {
            currencySign = true;
            i += currency.size();
            continue;
        } else {
            break;
        }
        ++i;
    }

    if (i + 1 < n && text[i] == u'&') {
        const char16_t kind = text[i + 1];
        number.radix = kind == u'H' || kind == u'h' ? 16 : kind == u'O' || kind == u'o' ? 8 : 10;
        if (number.radix != 10)
            i += 2;
    }

    bool anyDigit = false, decimalSeen = false, exponentSeen = false, inExponent = false;
    bool exponentNegative = false;
    while (i < n) {
        const char16_t c = text[i];
        if (number.radix != 10) {
            const int d = hexDigit(c);
            if (d < 0 || d >= number.radix)
                break;
            anyDigit = true;
            number.radixValue = number.radixValue * number.radix + d;
            number.radixTooLong |= number.radixValue > 0xFFFFFFFFu;
            if (number.radixTooLong)
                number.radixValue = 0xFFFFFFFFu;  // keeps the sum in range
        } else if (isDigit(c) && inExponent) {
            long long exponent = 0;
            for (; i < n && isDigit(text[i]); ++i)
                exponent = std::min(exponent * 10 + (text[i] - u'0'), kPowerLimit);
            number.power += exponentNegative ? -exponent : exponent;
            inExponent = false;
            continue;
        } else if (isDigit(c)) {
            anyDigit = true;
            if (c != u'0' || !number.digits.empty())
                number.digits += static_cast<char>(c);
            if (decimalSeen)
                --number.power;
        } else if (c == thousands && (anyDigit || decimalSeen || exponentSeen)) {
        } else if (c == decimal && !decimalSeen && !exponentSeen) {
            decimalSeen = true;
        } else if ((c == u'e' || c == u'E') && !exponentSeen && !currencySign) {
            exponentSeen = inExponent = true;
        } else if (inExponent && (c == u'+' || c == u'-')) {
            exponentNegative |= c == u'-';
        } else {
            break;
        }
        ++i;
    }
    if (!anyDigit || inExponent || (number.radix != 10 && currencySign))
        throw errors::typeMismatch();

    bool closed = false;
    while (i < n) {
        const char16_t c = text[i];
        if (number.radix == 10 && currencyAt(i)) {
            i += currency.size();
            continue;
        }
        if (isBlank(c) || (c == thousands && number.radix == 10)) {
        } else if (c == u'+' && !plus) {
        } else if (c == u'-' && !minus) {
            number.negative = true;
        } else if (c == u')' && parens) {
            closed = true;
        } else {
            break;
        }
        ++i;
    }
    if (i != n || (parens && !closed && !minus && !number.negative))
        throw errors::typeMismatch();
    number.negative = number.negative || minus || parens;
    return number;
}

// The digits' value rounded to a whole number, halves to even; overflow beyond the Long range.
Long roundedLong(const ParsedNumber& number) {
    const std::string& digits = number.digits;
    const long long size = static_cast<long long>(digits.size());
    // Digits before the decimal point; the number is at least 10^(whole - 1).
    const long long whole = size + number.power;
    if (digits.empty() || whole < 0)
        return 0;
    if (whole > 10)
        throw errors::overflow();
    std::uint64_t value = 0;
    for (long long k = 0; k < whole; ++k)
        value = value * 10 + (k < size ? static_cast<unsigned>(digits[k] - '0') : 0);
    if (whole < size) {
        const char first = digits[whole];
        const bool more = digits.find_first_not_of('0', whole + 1) != std::string::npos;
        if (first > '5' || (first == '5' && (more || value % 2 == 1)))
            ++value;
    }
    const std::uint64_t limit = number.negative ? 2147483648u : 2147483647u;
    if (value > limit)
        throw errors::overflow();
    return number.negative ? static_cast<Long>(-static_cast<std::int64_t>(value))
                           : static_cast<Long>(value);
}

// The double nearest to the digits' value: overflow beyond the double range, a signed zero
// below it.
double nearestDouble(const ParsedNumber& number) {
    const double zero = number.negative ? -0.0 : 0.0;
    const long long size = static_cast<long long>(number.digits.size());
    if (number.digits.empty() || size + number.power < -400)
        return zero;
    if (size + number.power > 400)
        throw errors::overflow();
    std::string c = number.negative ? "-" : "";
    c += number.digits;
    c += 'e';
    c += std::to_string(number.power);
    double value = 0;
    const auto [end, ec] = std::from_chars(c.data(), c.data() + c.size(), value);
    if (ec == std::errc::result_out_of_range)
        return size + number.power < 0 ? zero : throw errors::overflow();
    if (ec != std::errc() || end != c.data() + c.size() || !std::isfinite(value))
        throw errors::overflow();
    return value;
}

}  // namespace

FixedLocale::FixedLocale(char16_t decimalSeparator)
    : FixedLocale(NumberSymbols::forDecimal(Text(1, decimalSeparator))) {}

FixedLocale::FixedLocale(NumberSymbols symbols)
    : symbols_(std::move(symbols)),
      decimal_(symbols_.decimal.empty() ? u'.' : symbols_.decimal[0]),
      thousands_(symbols_.thousands.empty() ? u'\0' : symbols_.thousands[0]) {}

double FixedLocale::textToDouble(const Text& text) const {
    const ParsedNumber number = parse(text, decimal_, thousands_, symbols_.currency);
    if (number.radix == 10)
        return nearestDouble(number);
    // A hexadecimal or octal number is read as 32 bits; as a double only the Long values that
    // are not negative and the bits of the smallest Long stand for a number.
    if (number.radixTooLong || number.radixValue > 0x80000000u)
        throw errors::overflow();
    return number.radixValue == 0x80000000u ? -2147483648.0
                                            : static_cast<double>(number.radixValue);
}

Long FixedLocale::textToLong(const Text& text) const {
    const ParsedNumber number = parse(text, decimal_, thousands_, symbols_.currency);
    if (number.radix == 10)
        return roundedLong(number);
    // The 32 bits of a hexadecimal or octal number are the Long's, whatever its sign.
    if (number.radixTooLong)
        throw errors::overflow();
    return static_cast<Long>(static_cast<std::uint32_t>(number.radixValue));
}

Text FixedLocale::doubleToText(double value) const {
    if (std::isnan(value))
        return u"NAN";
    if (std::isinf(value))
        return value < 0 ? u"-INF" : u"INF";
    if (value == 0)
        return u"0";
    // The exact decimal digits of the double (767 at most), rounded to 15 significant digits,
    // halves away from zero.
    char exact[800];
    const auto end = std::to_chars(exact, exact + sizeof exact, std::fabs(value),
                                   std::chars_format::scientific, 766)
                         .ptr;
    const char* e = std::find(exact, end, 'e');
    int exponent = 0;
    std::from_chars(e + 1 + (e[1] == '+'), end, exponent);
    std::string digits;
    for (const char* p = exact; p != e && digits.size() < 16; ++p) {
        if (*p != '.')
            digits += *p;
    }
    digits.resize(16, '0');
    const bool up = digits[15] >= '5';
    digits.resize(15);
    if (up) {
        std::size_t k = 15;
        while (k > 0 && digits[k - 1] == '9')
            digits[--k] = '0';
        if (k == 0) {
            digits.insert(digits.begin(), '1');
            digits.pop_back();
            ++exponent;
        } else {
            ++digits[k - 1];
        }
    }
    digits.erase(digits.find_last_not_of('0') + 1);

    // Plain decimals from 1E-04 below 1E+15; beyond them the exponent form, as "%.15G" writes.
    Text out = value < 0 ? u"-" : u"";
    const auto append = [&out](std::string_view ascii) { out.append(ascii.begin(), ascii.end()); };
    const int size = static_cast<int>(digits.size());
    if (exponent < -4 || exponent >= 15) {
        append(digits.substr(0, 1));
        if (size > 1) {
            out += decimal_;
            append(digits.substr(1));
        }
        char power[16];
        std::snprintf(power, sizeof power, "E%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
        append(power);
    } else if (exponent < 0) {
        out += u'0';
        out += decimal_;
        append(std::string(static_cast<std::size_t>(-exponent - 1), '0'));
        append(digits);
    } else {
        append(digits.substr(0, std::min(size, exponent + 1)));
        append(std::string(static_cast<std::size_t>(std::max(0, exponent + 1 - size)), '0'));
        if (size > exponent + 1) {
            out += decimal_;
            append(digits.substr(static_cast<std::size_t>(exponent + 1)));
        }
    }
    return out;
}

}  // namespace vpolv
