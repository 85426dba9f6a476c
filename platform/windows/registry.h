// The registry, for the plug-in and the support tool alike: one owner per open key, and one
// reader and writer of values with their types, in either registry view. Without the system's
// headers: roots and views are enums, types and statuses the system's numbers.
#pragma once

#include <optional>
#include <string>

#include "platform/windows/unique.h"

struct HKEY__;

namespace vpolv::win {

struct KeyTraits {
    using Handle = HKEY__*;
    static Handle invalid() noexcept { return nullptr; }
    static void close(Handle key) noexcept;
};
// An open registry key.
using UniqueKey = UniqueAny<KeyTraits>;

namespace registry {

enum class Root { CurrentUser, LocalMachine };
// The view of the keys that 64-bit Windows keeps apart for 32-bit programs (HKLM\Software,
// the classes' CLSID and Interface): this program's own, or the one of a bitness.
enum class View { Own, Bits32, Bits64 };

// What a key is opened for: its values read or set, changes below it watched, all of it read
// (KEY_READ), or all of it read, written and deleted.
enum Access : unsigned { kQuery = 1, kSet = 2, kNotify = 4, kRead = 8, kAll = 16 };

// Value types, as the system numbers them.
inline constexpr unsigned long kSz = 1;
inline constexpr unsigned long kExpandSz = 2;
inline constexpr unsigned long kDword = 4;
inline constexpr unsigned long kQword = 11;

// System statuses (ERROR_...) the callers tell apart.
inline constexpr long kOk = 0;
inline constexpr long kNotFound = 2;            // no such key or value
inline constexpr long kUnsupportedType = 1630;  // a value of another type than asked

// "HKCU" or "HKLM", as the messages name a root.
const char* rootName(Root root);

// Opens (or with create, makes when missing; created says whether it did) a key below a root.
long open(Root root, const std::wstring& path, View view, unsigned access, UniqueKey& key);
long create(Root root, const std::wstring& path, View view, unsigned access, UniqueKey& key,
            bool* created = nullptr);
long removeKey(Root root, const std::wstring& path, View view);
// Removes a key and everything below it.
long removeTree(Root root, const std::wstring& path, View view);

// A value's type and bytes, as stored; read again while it grows between the calls.
struct Raw {
    unsigned long type = 0;
    std::string bytes;
};
// kOk with nullopt when the value is not there.
long readRaw(const UniqueKey& key, const wchar_t* name, std::optional<Raw>& value);
// A value read as a path is read: a REG_SZ, or a REG_EXPAND_SZ expanded, up to its first
// terminator; kUnsupportedType for any other type. Null name: the key's default value.
long readText(const UniqueKey& key, const wchar_t* name, std::wstring& text);
// The same below a root in one call; kNotFound when the key is not there.
long readText(Root root, const std::wstring& path, const wchar_t* name, View view,
              std::wstring& text);
long write(const UniqueKey& key, const wchar_t* name, unsigned long type, const std::string& bytes);
// A REG_SZ with its terminator, and its bytes.
long writeText(const UniqueKey& key, const wchar_t* name, const std::wstring& text);
std::string textBytes(const std::wstring& text);
long removeValue(const UniqueKey& key, const wchar_t* name);
// Whether the key holds no value and no key.
bool empty(const UniqueKey& key);

}  // namespace registry
}  // namespace vpolv::win
