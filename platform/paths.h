// Paths and UTF-8 text: the command lines, scene files and messages of our tools are UTF-8; on
// Windows a path is UTF-16 and the narrow forms of std::filesystem would go through the ANSI
// code page, which cannot hold every name.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace vpolv::platform {

std::filesystem::path pathFromUtf8(std::string_view text);
std::string utf8Path(const std::filesystem::path& path);

}  // namespace vpolv::platform
