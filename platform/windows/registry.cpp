// The registry on the Win32 API.
#include "platform/windows/registry.h"

#include "platform/windows/com_support.h"
#include "platform/windows/win32.h"

namespace vpolv::win {

void KeyTraits::close(Handle key) noexcept {
    RegCloseKey(key);
}

namespace registry {
namespace {

HKEY rootKey(Root root) {
    return root == Root::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

REGSAM viewFlag(View view) {
    switch (view) {
        case View::Bits32:
            return KEY_WOW64_32KEY;
        case View::Bits64:
            return KEY_WOW64_64KEY;
        default:
            return 0;
    }
}

REGSAM rights(unsigned access) {
    REGSAM sam = 0;
    if (access & kQuery)
        sam |= KEY_QUERY_VALUE;
    if (access & kSet)
        sam |= KEY_SET_VALUE;
    if (access & kNotify)
        sam |= KEY_NOTIFY;
    if (access & kRead)
        sam |= KEY_READ;
    if (access & kAll)
        sam |= KEY_READ | KEY_WRITE | DELETE;
    return sam;
}

}  // namespace

const char* rootName(Root root) {
    return root == Root::CurrentUser ? "HKCU" : "HKLM";
}

long open(Root root, const std::wstring& path, View view, unsigned access, UniqueKey& key) {
    return RegOpenKeyExW(rootKey(root), path.c_str(), 0, rights(access) | viewFlag(view),
                         key.put());
}

long create(Root root, const std::wstring& path, View view, unsigned access, UniqueKey& key,
            bool* created) {
    DWORD disposition = 0;
    const LSTATUS status =
        RegCreateKeyExW(rootKey(root), path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        rights(access) | viewFlag(view), nullptr, key.put(), &disposition);
    if (created)
        *created = status == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY;
    return status;
}

long removeKey(Root root, const std::wstring& path, View view) {
    return RegDeleteKeyExW(rootKey(root), path.c_str(), viewFlag(view), 0);
}

long removeTree(Root root, const std::wstring& path, View view) {
    UniqueKey key;
    LSTATUS status = open(root, path, view, kAll, key);
    if (status == ERROR_SUCCESS)
        status = RegDeleteTreeW(key.get(), nullptr);
    if (status == ERROR_SUCCESS)
        status = removeKey(root, path, view);
    return status;
}

long readRaw(const UniqueKey& key, const wchar_t* name, std::optional<Raw>& value) {
    Raw raw;
    DWORD type = 0;
    DWORD size = 0;
    LSTATUS status = RegQueryValueExW(key.get(), name, nullptr, &type, nullptr, &size);
    while (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
        raw.bytes.resize(size);
        status = RegQueryValueExW(key.get(), name, nullptr, &type,
                                  reinterpret_cast<BYTE*>(raw.bytes.data()), &size);
        if (status == ERROR_SUCCESS) {
            raw.bytes.resize(size);
            raw.type = type;
            value = std::move(raw);
            return kOk;
        }
    }
    value.reset();
    return status == ERROR_FILE_NOT_FOUND ? kOk : status;
}

// RRF_RT_REG_SZ: a REG_EXPAND_SZ comes expanded. Read again while the value grows between the
// two calls.
long readText(const UniqueKey& key, const wchar_t* name, std::wstring& text) {
    DWORD bytes = 0;
    LSTATUS status =
        RegGetValueW(key.get(), nullptr, name, RRF_RT_REG_SZ, nullptr, nullptr, &bytes);
    while (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
        std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
        bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
        status =
            RegGetValueW(key.get(), nullptr, name, RRF_RT_REG_SZ, nullptr, value.data(), &bytes);
        if (status == ERROR_SUCCESS) {
            value.resize(wcsnlen(value.c_str(), value.size()));
            text = std::move(value);
            return kOk;
        }
    }
    return status;
}

long readText(Root root, const std::wstring& path, const wchar_t* name, View view,
              std::wstring& text) {
    UniqueKey key;
    const long status = open(root, path, view, kQuery, key);
    return status == kOk ? readText(key, name, text) : status;
}

long write(const UniqueKey& key, const wchar_t* name, unsigned long type,
           const std::string& bytes) {
    return RegSetValueExW(key.get(), name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                          static_cast<DWORD>(bytes.size()));
}

long writeText(const UniqueKey& key, const wchar_t* name, const std::wstring& text) {
    return write(key, name, REG_SZ, textBytes(text));
}

std::string textBytes(const std::wstring& text) {
    return {reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * sizeof(wchar_t)};
}

long removeValue(const UniqueKey& key, const wchar_t* name) {
    return RegDeleteValueW(key.get(), name);
}

bool empty(const UniqueKey& key) {
    DWORD subkeys = 1, values = 1;
    return RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                            &values, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
           subkeys == 0 && values == 0;
}

}  // namespace registry
}  // namespace vpolv::win
