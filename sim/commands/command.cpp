// Printing, and the option values the commands convert themselves.
#include "sim/commands/command.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <system_error>

#include "sim/system/echo.h"
#include "sim/system/files.h"

namespace vpolv::sim {

bool Console::print(const std::string& text) const {
    return printTo(out, err, text, "vpolv-sim");
}

Long objectId(const std::string& text) {
    const std::size_t start = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
    bool digits = start < text.size();
    for (std::size_t i = start; i < text.size(); ++i)
        digits = digits && text[i] >= '0' && text[i] <= '9';
    if (!digits)
        throw UsageError{"--object needs a whole number, not \"" + echo(text) + "\""};
    long long value = 0;
    for (std::size_t i = start; i < text.size(); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > 2147483648LL)
            break;
    }
    if (text[0] == '-')
        value = -value;
    if (value < INT32_MIN || value > INT32_MAX) {
        throw UsageError{"--object " + echo(text) +
                         ": out of range (a 32-bit whole number, -2147483648 to 2147483647)"};
    }
    return static_cast<Long>(value);
}

std::optional<long long> recordNumber(const CLI::Option& option, const std::string& text) {
    if (option.count() == 0)
        return std::nullopt;
    const bool digits = !text.empty() && text.size() <= 9 &&
                        text.find_first_not_of("0123456789") == std::string::npos;
    if (!digits)
        throw UsageError{"--record needs a record number from 1, not \"" + echo(text) + "\""};
    return std::stoll(text);
}

}  // namespace vpolv::sim
