// Paths as Windows gives and takes them, without the system's headers: the user's folders, the
// 64-bit system folder seen from a 32-bit program, and paths past the usual length limit.
#pragma once

#include <string>

#include "common/types.h"

namespace vpolv::win {

// Whether Windows is 64-bit (this program may be 32-bit on it).
bool windows64();

enum class KnownFolder { LocalAppData, Desktop };
// The folder's path; empty when the system does not say (for LocalAppData, nor the variable
// LOCALAPPDATA).
std::wstring knownFolder(KnownFolder folder);
// This program's own file.
std::wstring programPath();

// Whether two paths or names are the same to Windows (ordinal, whatever the case).
bool sameText(const std::wstring& a, const std::wstring& b);

// The path by which this program reaches a file that programs of the other bitness name by
// path (other: they are 64-bit and this program 32-bit). A 32-bit program on 64-bit Windows has
// its System32 redirected to the 32-bit system folder; it reaches the 64-bit System32 through
// Sysnative, the name that redirection leaves alone.
std::wstring viewPath(bool other, const std::wstring& path);

// A path as this program hands it to the system: one too long for the system's usual limit
// (260 characters) made whole and absolute with the \\?\ prefix that lifts it; shorter paths as
// they are.
Text systemPath(const Text& path);

}  // namespace vpolv::win
