// Text, wide strings and UTF-8: the conversions of the Windows side, and the system's words for
// an error code, without the system's headers.
#pragma once

#include <cstddef>
#include <string>

#include "common/types.h"

namespace vpolv::win {

// Text and wide strings are both UTF-16 here.
std::wstring toWide(const Text& text);
Text fromWide(const wchar_t* text, std::size_t length);
Text fromWide(const std::wstring& text);
// Wide strings and UTF-8, for the support tool's messages and command lines.
std::string utf8(const std::wstring& text);
std::wstring wide(const std::string& utf8);
// The system's sentence for a Win32 error code, UTF-8.
std::string reasonOf(unsigned long error);
// A GUID as the registry writes it: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
std::wstring guidText(const struct _GUID& guid);

}  // namespace vpolv::win
