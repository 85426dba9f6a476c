// Paths on the Win32 API.
#include "platform/windows/paths.h"

#include "platform/windows/com_support.h"
#include "platform/windows/win32.h"
// clang-format off
#include <knownfolders.h>
#include <shlobj.h>
// clang-format on

namespace vpolv::win {
namespace {

// A path without its final separators.
std::wstring trimmed(std::wstring path) {
    while (path.size() > 1 && (path.back() == L'\\' || path.back() == L'/'))
        path.pop_back();
    return path;
}

}  // namespace

bool windows64() {
    BOOL wow64 = FALSE;
    return sizeof(void*) == 8 || (IsWow64Process(GetCurrentProcess(), &wow64) && wow64);
}

std::wstring knownFolder(KnownFolder folder) {
    PWSTR path = nullptr;
    std::wstring found;
    if (SUCCEEDED(SHGetKnownFolderPath(
            folder == KnownFolder::Desktop ? FOLDERID_Desktop : FOLDERID_LocalAppData, 0, nullptr,
            &path))) {
        found = path;
    }
    CoTaskMemFree(path);
    if (found.empty() && folder == KnownFolder::LocalAppData) {
        wchar_t variable[MAX_PATH + 1] = {};
        const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", variable, MAX_PATH + 1);
        if (length > 0 && length <= MAX_PATH)
            found = variable;
    }
    return found;
}

std::wstring programPath() {
    return moduleFileName(nullptr);
}

bool sameText(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring viewPath(bool other, const std::wstring& path) {
    if (!other)
        return path;
    wchar_t system[MAX_PATH];
    wchar_t windows[MAX_PATH];
    const UINT systemLength = GetSystemDirectoryW(system, MAX_PATH);
    const UINT windowsLength = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (systemLength == 0 || systemLength >= MAX_PATH || windowsLength == 0 ||
        windowsLength >= MAX_PATH) {
        return path;
    }
    const std::wstring prefix = trimmed(std::wstring(system, systemLength));
    const std::size_t n = prefix.size();
    if (path.size() < n || !sameText(path.substr(0, n), prefix) ||
        (path.size() > n && path[n] != L'\\' && path[n] != L'/')) {
        return path;
    }
    return trimmed(std::wstring(windows, windowsLength)) + L"\\Sysnative" + path.substr(n);
}

Text systemPath(const Text& path) {
    // The limit of a folder's path is 12 characters below that of a file's (room for an 8.3
    // name): paths from there on take the prefix.
    constexpr std::size_t kLimit = MAX_PATH - 12;
    const std::wstring wide = toWide(path);
    if (wide.size() < kLimit || wide.starts_with(L"\\\\?\\") || wide.starts_with(L"\\\\.\\"))
        return path;
    const DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    const DWORD length = size == 0 ? 0 : GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size)
        return path;
    full.resize(length);
    // A network path, \\server\share\..., becomes \\?\UNC\server\share\...
    if (full.starts_with(L"\\\\"))
        return fromWide(L"\\\\?\\UNC" + full.substr(1));
    return fromWide(L"\\\\?\\" + full);
}

}  // namespace vpolv::win
