// What the trace switch's messages share on every system.
#include "support/trace_switch.h"

#include <array>

#include "common/text.h"
#include "platform/windows/trace_switch.h"
#include "standalone/echo.h"

namespace vpolv::support {

using standalone::echo;

const char* const kUserSwitchName = win::trace_switch::kUserName;
const char* const kMachineSwitchName = win::trace_switch::kMachineName;

namespace {

std::string typeName(unsigned long type) {
    static constexpr std::array<const char*, 12> kNames = {"REG_NONE",
                                                           "REG_SZ",
                                                           "REG_EXPAND_SZ",
                                                           "REG_BINARY",
                                                           "REG_DWORD",
                                                           "REG_DWORD_BIG_ENDIAN",
                                                           "REG_LINK",
                                                           "REG_MULTI_SZ",
                                                           "REG_RESOURCE_LIST",
                                                           "REG_FULL_RESOURCE_DESCRIPTOR",
                                                           "REG_RESOURCE_REQUIREMENTS_LIST",
                                                           "REG_QWORD"};
    return type < kNames.size() ? kNames[type] : "value of type " + std::to_string(type);
}

// A string value's bytes (UTF-16, little-endian) as UTF-8, up to its first terminator.
std::string storedText(const std::string& raw) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < raw.size(); i += 2) {
        const auto unit = static_cast<char16_t>(static_cast<unsigned char>(raw[i]) |
                                                static_cast<unsigned char>(raw[i + 1]) << 8);
        if (unit == 0)
            break;
        text += unit;
    }
    return toUtf8(text);
}

}  // namespace

std::string describe(const SwitchValue& value) {
    if (!value.present)
        return "none";
    const std::string type = typeName(value.type);
    if (value.type != kRegSz && value.type != kRegExpandSz)
        return "a " + type + ", not a path: off";
    const std::string stored = storedText(value.raw);
    if (value.text.empty())
        return "\"" + echo(stored) + "\" (" + type + "): off";
    if (stored == value.text)
        return echo(value.text) + " (" + type + ")";
    return echo(stored) + " (" + type + ", read as " + echo(value.text) + ")";
}

}  // namespace vpolv::support
