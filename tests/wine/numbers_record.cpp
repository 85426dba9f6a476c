// Records the runtime's number conversions into the tables of tests/data/numbers:
//
//   numbers_record CASES CONVERSIONS DOUBLES
//
// takes the inputs of CASES (tests/data/numbers/cases.txt) and generated ones, converts each under
// the decimal point (LCID 0x0409) and the decimal comma (0x0C0A), and writes the runtime's answers.
// Where the runtime departs from the documented conversion (FixedLocale), the cell keeps both, and
// the departure is listed on stderr for review. Run it under Wine in 64 bits
// (scripts/record-numbers.sh).
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "common/fixed_locale.h"
#include "platform/windows/win32.h"
#include "tests/support/number_table.h"

namespace {

using vpolv::FixedLocale;
using vpolv::Text;
using namespace vpolv::testing;

constexpr LCID kLocales[2] = {0x0409, 0x0C0A};

NumberAnswer fromResult(HRESULT hr, double value) {
    if (hr == DISP_E_TYPEMISMATCH)
        return {NumberAnswer::Mismatch};
    if (hr == DISP_E_OVERFLOW)
        return {NumberAnswer::Overflow};
    if (FAILED(hr)) {
        std::fprintf(stderr, "unexpected error 0x%08lX\n", static_cast<unsigned long>(hr));
        std::exit(1);
    }
    return {NumberAnswer::Value, value};
}

NumberAnswer runtimeLong(const Text& text, LCID lcid) {
    BSTR s = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                               static_cast<UINT>(text.size()));
    LONG value = 0;
    const HRESULT hr = VarI4FromStr(s, lcid, 0, &value);
    SysFreeString(s);
    return fromResult(hr, value);
}

NumberAnswer runtimeDouble(const Text& text, LCID lcid) {
    BSTR s = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                               static_cast<UINT>(text.size()));
    double value = 0;
    const HRESULT hr = VarR8FromStr(s, lcid, 0, &value);
    SysFreeString(s);
    return fromResult(hr, value);
}

std::string escape(const Text& text) {
    std::string out;
    for (const char16_t c : text) {
        if (c == u'\\') {
            out += "\\\\";
        } else if (c > u' ' && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04X", static_cast<unsigned>(c));
            out += buffer;
        }
    }
    return out;
}

#ifndef VPOLV_RANDOM_TEXTS
#define VPOLV_RANDOM_TEXTS 4000
#endif
constexpr int kRandomTexts = VPOLV_RANDOM_TEXTS;

// The generated inputs: numbers of 1 to 30 digits in the forms the runtime reads, values at
// and around the Long limits and halves, and random texts of the characters that matter.
std::vector<Text> inputs(const char* cases) {
    std::vector<Text> out;
    std::set<Text> seen;
    const auto add = [&](const Text& text) {
        if (seen.insert(text).second)
            out.push_back(text);
    };
    std::ifstream list(cases);
    for (std::string line; std::getline(list, line);) {
        if (line.empty() || line[0] != '#')
            add(unescapeNumberText(line));
    }

    const std::string digits = "123456789012345678901234567890";
    for (std::size_t count = 1; count <= 30; ++count) {
        const std::string d = digits.substr(0, count);
        for (const std::string& form :
             {d, "-" + d, d + "-", "(" + d + ")", "000" + d, d + ".5", d + ",5", "0." + d, "0," + d,
              d + "e-" + std::to_string(count),
              d.substr(0, (count + 1) / 2) + "." + d.substr((count + 1) / 2),
              d.substr(0, (count + 1) / 2) + "," + d.substr((count + 1) / 2)}) {
            add(vpolv::fromUtf8(form));
        }
    }

    // The limits and halves, with a little more or less in far digits.
    for (const std::string base :
         {"2147483647", "2147483646", "-2147483648", "-2147483647", "0", "1", "2", "-1", "-2"}) {
        for (const std::string tail : {".5", ".4999999999", ".5000000001", ".50000000000000000001",
                                       ".49999999999999999999", ".0000000001", ".9999999999"}) {
            for (const char sep : {'.', ','}) {
                std::string t = base + tail;
                t[t.find('.')] = sep;
                add(vpolv::fromUtf8(t));
            }
        }
    }

    // Each form of the number around a few values, under each blank.
    const char* const blanks[] = {" ", "\t", "\n", "\r\n", "\u00A0", "\u2007", "\u3000", "\v"};
    for (const char* value : {"7", "37.5", "37,5", "1,000", "1.000", "1e2", "&H1F"}) {
        for (const char* blank : blanks) {
            for (const std::string& form :
                 {std::string(blank) + value, value + std::string(blank),
                  "-" + std::string(blank) + value, value + std::string(blank) + "-",
                  "(" + std::string(blank) + value + blank + ")", "$" + std::string(blank) + value,
                  value + std::string(blank) + "\u20AC"}) {
                add(vpolv::fromUtf8(form));
            }
        }
    }

    // Random texts of the characters that matter, repeatable from the seed.
    const Text alphabet = u"0123456789012345.,.,+-()$\u20AC eE&HhO\t\u00A0";
    std::mt19937 random(20261208);
    for (int k = 0; k < kRandomTexts; ++k) {
        const std::size_t length = 1 + random() % 12;
        Text t;
        for (std::size_t j = 0; j < length; ++j)
            t += alphabet[random() % alphabet.size()];
        add(t);
    }
    return out;
}

std::vector<double> doubles() {
    std::vector<double> out = {0.0,
                               -0.0,
                               1,
                               -1,
                               0.5,
                               0.1,
                               0.3,
                               1e15,
                               1e14,
                               123456789012345.0,
                               999999999999999.0,
                               999999999999999.4,
                               999999999999999.5,
                               1e16,
                               1e20,
                               1e21,
                               1.5e300,
                               1.7976931348623157e308,
                               123456789012345678.0,
                               1e-4,
                               1e-5,
                               1e-6,
                               1.2345e-5,
                               0.000123456789012345678,
                               1e-300,
                               5e-324,
                               2.2250738585072014e-308,
                               1e-320,
                               0.1234567890123456,
                               2.5,
                               0.125,
                               1234567.125,
                               2147483647.0,
                               -2147483648.0,
                               4294967296.0,
                               12345678.9,
                               1.0000000000000002,
                               0.9999999999999999,
                               1.0 / 3,
                               100.0 / 3,
                               22.5,
                               37.5,
                               1e100,
                               -1e-100,
                               1.5e-7,
                               9.5e-5,
                               0.00095,
                               123456.7890123456,
                               HUGE_VAL,
                               -HUGE_VAL,
                               NAN};
    std::mt19937_64 random(20261208);
    for (int k = 0; k < 400; ++k) {
        // Any double, then a short decimal, then a value at a 15-digit rounding boundary.
        std::uint64_t bits = random();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        if (std::isfinite(d))
            out.push_back(d);
        const double scale = std::pow(10.0, static_cast<int>(random() % 41) - 20);
        out.push_back(static_cast<double>(random() % 1000000) / 1000 * scale);
        out.push_back((static_cast<double>(random() % 1000000000000000) + 0.5) / 100 * scale);
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: numbers_record CASES CONVERSIONS DOUBLES\n");
        return 2;
    }
    const FixedLocale locales[2] = {FixedLocale(u'.'), FixedLocale(u',')};

    FILE* out = std::fopen(argv[2], "wb");
    if (!out)
        return 1;
    std::fprintf(out,
                 "# The automation runtime's text to Long and text to double, under the decimal "
                 "point (LCID 0x0409)\n# and the decimal comma (0x0C0A), recorded by "
                 "tests/wine/numbers_record.cpp; see tests/support/number_table.h.\n"
                 "# input\tpoint Long\tpoint double\tcomma Long\tcomma double\n");
    int departures = 0, rows = 0;
    for (const Text& text : inputs(argv[1])) {
        std::string line = escape(text);
        for (int l = 0; l < 2; ++l) {
            const NumberAnswer runtime[2] = {runtimeLong(text, kLocales[l]),
                                             runtimeDouble(text, kLocales[l])};
            const NumberAnswer documented[2] = {
                answerOf([&] { return locales[l].textToLong(text); }),
                answerOf([&] { return locales[l].textToDouble(text); })};
            for (int k = 0; k < 2; ++k) {
                const bool same =
                    k == 0 ? runtime[k] == documented[k] : sameDouble(runtime[k], documented[k]);
                line += '\t';
                if (same) {
                    line += formatAnswer(runtime[k]);
                } else {
                    line += formatAnswer(documented[k]) + " wine=" + formatAnswer(runtime[k]);
                    std::fprintf(stderr, "%s (%s, %s): documented %s, runtime %s\n",
                                 escape(text).c_str(), l ? "comma" : "point", k ? "double" : "Long",
                                 formatAnswer(documented[k]).c_str(),
                                 formatAnswer(runtime[k]).c_str());
                    ++departures;
                }
            }
        }
        std::fprintf(out, "%s\n", line.c_str());
        ++rows;
    }
    std::fclose(out);

    out = std::fopen(argv[3], "wb");
    if (!out)
        return 1;
    std::fprintf(out,
                 "# The automation runtime's text of a double under LCID 0x0409 and "
                 "0x0C0A, recorded by\n# tests/wine/numbers_record.cpp.\n"
                 "# bits\tpoint\tcomma\n");
    for (const double d : doubles()) {
        std::uint64_t bits;
        std::memcpy(&bits, &d, sizeof bits);
        std::string line;
        char buffer[24];
        std::snprintf(buffer, sizeof buffer, "%016" PRIX64, bits);
        line = buffer;
        for (int l = 0; l < 2; ++l) {
            BSTR raw = nullptr;
            if (FAILED(VarBstrFromR8(d, kLocales[l], 0, &raw)))
                return 1;
            const std::string runtime =
                vpolv::toUtf8(Text(reinterpret_cast<const char16_t*>(raw), SysStringLen(raw)));
            SysFreeString(raw);
            const std::string documented = vpolv::toUtf8(locales[l].doubleToText(d));
            line += '\t' + documented;
            if (runtime != documented) {
                line += " wine=" + runtime;
                std::fprintf(stderr, "%s (%s): documented %s, runtime %s\n", buffer,
                             l ? "comma" : "point", documented.c_str(), runtime.c_str());
                ++departures;
            }
        }
        std::fprintf(out, "%s\n", line.c_str());
    }
    std::fclose(out);
    std::fprintf(stderr,
                 "%d inputs and %zu doubles, %d answers departing from the documented "
                 "conversions\n",
                 rows, doubles().size(), departures);
    return 0;
}
