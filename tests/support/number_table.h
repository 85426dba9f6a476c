// The tables of number conversions in tests/data/numbers, as the runtime answered them, and the
// way two answers are compared.
//
// conversions.tsv: one input a line (escaped: "\uXXXX", "\\"), then the answers of the runtime
// for text to Long and text to double under the decimal point, then under the decimal comma.
// An answer is a number, "mismatch" or "overflow". "N wine=M": the runtime of the test platform
// answers M where the documented conversion gives N.
// doubles.tsv: the bits of a double in hexadecimal, then its text under the point and the comma,
// "TEXT wine=OTHER" where the runtime of the test platform departs.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/error.h"
#include "common/locale.h"
#include "common/text.h"

namespace vpolv::testing {

// One conversion's outcome: a value, or the automation error it raised.
struct NumberAnswer {
    enum Kind { Value, Mismatch, Overflow } kind = Mismatch;
    double value = 0;  // a Long's value too

    bool operator==(const NumberAnswer&) const = default;
};

inline NumberAnswer parseAnswer(const std::string& cell) {
    if (cell == "mismatch")
        return {NumberAnswer::Mismatch};
    if (cell == "overflow")
        return {NumberAnswer::Overflow};
    return {NumberAnswer::Value, std::strtod(cell.c_str(), nullptr)};
}

inline std::string formatAnswer(const NumberAnswer& a) {
    if (a.kind != NumberAnswer::Value)
        return a.kind == NumberAnswer::Mismatch ? "mismatch" : "overflow";
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.17g", a.value);
    return buffer;
}

// A documented answer, and the test platform's own where it differs.
struct TableAnswer {
    NumberAnswer documented;
    std::optional<NumberAnswer> platform;
};

struct ConversionRow {
    int line = 0;
    std::string escaped;
    Text text;
    TableAnswer answers[2][2];  // [point, comma][Long, double]
};

inline Text unescapeNumberText(const std::string& s) {
    Text out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 5 < s.size() && s[i + 1] == 'u') {
            out += static_cast<char16_t>(std::strtoul(s.substr(i + 2, 4).c_str(), nullptr, 16));
            i += 5;
        } else if (s[i] == '\\' && i + 1 < s.size()) {
            out += static_cast<char16_t>(s[++i]);
        } else {
            out += static_cast<char16_t>(static_cast<unsigned char>(s[i]));
        }
    }
    return out;
}

inline std::vector<std::string> splitTabs(const std::string& line) {
    std::vector<std::string> cells;
    std::stringstream in(line);
    for (std::string cell; std::getline(in, cell, '\t');)
        cells.push_back(cell);
    return cells;
}

inline std::vector<ConversionRow> readConversionTable(const std::string& path) {
    std::ifstream in(path);
    std::vector<ConversionRow> rows;
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (line.empty() || line[0] == '#')
            continue;
        const auto cells = splitTabs(line);
        if (cells.size() != 5)
            throw std::runtime_error(path + ":" + std::to_string(number) + ": not 5 cells");
        ConversionRow row{number, cells[0], unescapeNumberText(cells[0]), {}};
        for (int k = 0; k < 4; ++k) {
            const std::string& cell = cells[1 + k];
            const auto wine = cell.find(" wine=");
            TableAnswer& a = row.answers[k / 2][k % 2];
            a.documented = parseAnswer(cell.substr(0, wine));
            if (wine != std::string::npos)
                a.platform = parseAnswer(cell.substr(wine + 6));
        }
        rows.push_back(row);
    }
    return rows;
}

struct DoubleRow {
    int line = 0;
    double value = 0;
    Text texts[2];  // point, comma
    std::optional<Text> platform[2];
};

inline std::vector<DoubleRow> readDoubleTable(const std::string& path) {
    std::ifstream in(path);
    std::vector<DoubleRow> rows;
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (line.empty() || line[0] == '#')
            continue;
        const auto cells = splitTabs(line);
        if (cells.size() != 3)
            throw std::runtime_error(path + ":" + std::to_string(number) + ": not 3 cells");
        DoubleRow row{number, 0, {}, {}};
        for (int l = 0; l < 2; ++l) {
            const std::string& cell = cells[1 + l];
            const auto wine = cell.find(" wine=");
            row.texts[l] = fromUtf8(cell.substr(0, wine));
            if (wine != std::string::npos)
                row.platform[l] = fromUtf8(cell.substr(wine + 6));
        }
        const std::uint64_t bits = std::strtoull(cells[0].c_str(), nullptr, 16);
        std::memcpy(&row.value, &bits, sizeof bits);
        rows.push_back(row);
    }
    return rows;
}

template <class F>
NumberAnswer answerOf(F&& convert) {
    try {
        return {NumberAnswer::Value, static_cast<double>(convert())};
    } catch (const Error& e) {
        if (e.code() == errors::kOverflow)
            return {NumberAnswer::Overflow};
        if (e.code() == errors::kTypeMismatch)
            return {NumberAnswer::Mismatch};
        throw;
    }
}

// Whether two answers of a conversion to double agree. The runtime scales by powers of ten in
// floating point, so its double may be a few units in the last place from the nearest one, may
// overflow at the very top of the range, and is anything tiny below the normal doubles.
inline bool sameDouble(const NumberAnswer& a, const NumberAnswer& b) {
    if (a == b)
        return true;
    if (a.kind == NumberAnswer::Value && b.kind == NumberAnswer::Value) {
        if (std::fabs(a.value) < 2.3e-308 && std::fabs(b.value) < 2.3e-308)
            return true;
        const double unit = std::nextafter(std::fabs(a.value), INFINITY) - std::fabs(a.value);
        return std::signbit(a.value) == std::signbit(b.value) &&
               std::fabs(a.value - b.value) <= 4 * unit;
    }
    const NumberAnswer& value = a.kind == NumberAnswer::Value ? a : b;
    const NumberAnswer& error = a.kind == NumberAnswer::Value ? b : a;
    return error.kind == NumberAnswer::Overflow && value.kind == NumberAnswer::Value &&
           std::fabs(value.value) >= 1.5e308;
}

}  // namespace vpolv::testing
