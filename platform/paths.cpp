#include "platform/paths.h"

#include "common/text.h"

namespace vpolv::platform {

std::filesystem::path pathFromUtf8(std::string_view text) {
#ifdef _WIN32
    const Text wide = fromUtf8(text);
    return std::filesystem::path(std::wstring(wide.begin(), wide.end()));
#else
    return std::filesystem::path(std::string(text));
#endif
}

std::string utf8Path(const std::filesystem::path& path) {
#ifdef _WIN32
    const std::wstring& wide = path.native();
    return toUtf8(std::u16string(wide.begin(), wide.end()));
#else
    return path.native();
#endif
}

}  // namespace vpolv::platform
