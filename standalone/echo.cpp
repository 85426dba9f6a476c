// Showing file names, arguments and pieces of a scene file safely in messages.
#include "standalone/echo.h"

#include <cstdio>
#include <vector>

namespace vpolv::standalone {

namespace {

// Length of the well-formed UTF-8 sequence at the start of s, or 0 when there is none.
std::size_t sequenceLength(std::string_view s) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const auto within = [&](std::size_t i, unsigned char low, unsigned char high) {
        return i < s.size() && byte(i) >= low && byte(i) <= high;
    };
    const unsigned char b = byte(0);
    if (b < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        low = b == 0xE0 ? 0xA0 : 0x80;
        high = b == 0xED ? 0x9F : 0xBF;
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        low = b == 0xF0 ? 0x90 : 0x80;
        high = b == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (!within(1, low, high))
        return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (!within(i, 0x80, 0xBF))
            return 0;
    }
    return length;
}

// The characters of s: each a well-formed sequence or a single stray byte, with its escaping.
std::vector<std::string> characters(std::string_view s) {
    std::vector<std::string> out;
    while (!s.empty()) {
        const std::size_t length = sequenceLength(s);
        const auto first = static_cast<unsigned char>(s[0]);
        if (length == 0 || first < 0x20 || first == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned>(first));
            out.emplace_back(escaped);
            s.remove_prefix(1);
        } else {
            out.emplace_back(s.substr(0, length));
            s.remove_prefix(length);
        }
    }
    return out;
}

}  // namespace

std::string echo(std::string_view bytes) {
    std::string out;
    for (const auto& c : characters(bytes))
        out += c;
    return out;
}

std::string echoTail(std::string_view bytes, std::size_t limit) {
    const auto all = characters(bytes);
    std::string out = all.size() > limit ? "..." : "";
    for (std::size_t i = all.size() > limit ? all.size() - limit : 0; i < all.size(); ++i)
        out += all[i];
    return out;
}

}  // namespace vpolv::standalone
