// Finding a key's value in the text of an initialisation file.
#include "platform/ini.h"

#include <algorithm>

namespace vpolv::platform {
namespace {

char16_t lower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c;
}

bool sameName(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](auto x, auto y) { return lower(x) == lower(y); });
}

std::u16string_view trim(std::u16string_view s) {
    const auto blank = [](char16_t c) {
        return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
    };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

}  // namespace

Text iniValue(std::u16string_view content, std::u16string_view section, std::u16string_view key) {
    std::u16string_view rest = content;
    bool inSection = false;
    bool sectionSeen = false;
    while (!rest.empty()) {
        const auto end = rest.find(u'\n');
        const std::u16string_view line = trim(rest.substr(0, end));
        rest.remove_prefix(end == std::u16string_view::npos ? rest.size() : end + 1);
        if (line.empty() || line.front() == u';')
            continue;
        if (line.front() == u'[') {
            if (inSection)
                break;  // only the first matching section counts
            const auto close = line.find(u']');
            const auto name =
                trim(line.substr(1, close == std::u16string_view::npos ? line.npos : close - 1));
            inSection = !sectionSeen && sameName(name, section);
            sectionSeen = sectionSeen || inSection;
            continue;
        }
        if (!inSection)
            continue;
        const auto eq = line.find(u'=');
        if (eq == std::u16string_view::npos || !sameName(trim(line.substr(0, eq)), key))
            continue;
        std::u16string_view value = trim(line.substr(eq + 1));
        if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        return Text(value);
    }
    return {};
}

}  // namespace vpolv::platform
