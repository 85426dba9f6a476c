// The registration's layout: the keys and values below Software\Classes that vpolv.dll writes
// when it registers (com/registration.cpp) and that the doctor reads back, in one table.
#pragma once

#include <string>
#include <vector>

#include "platform/windows/class_ids.h"

namespace vpolv::win::registration {

inline constexpr wchar_t kClasses[] = L"Software\\Classes\\";
inline constexpr wchar_t kProgId[] = L"vpolv.Plugin";
inline constexpr wchar_t kInterfaceName[] = L"_Plugin";
inline constexpr wchar_t kVersion[] = L"1.0";
inline constexpr wchar_t kServer[] = L"InprocServer32";
inline constexpr wchar_t kThreadingModel[] = L"ThreadingModel";
inline constexpr wchar_t kApartment[] = L"Apartment";
// The standard marshaler of automation-compatible interfaces.
inline constexpr wchar_t kAutomationMarshaler[] = L"{00020424-0000-0000-C000-000000000046}";
// The type library's locale (0x0409) as the system names its key.
inline constexpr wchar_t kLcidKey[] = L"409";

// Keys below Software\Classes. The class and the interface are kept apart per registry view;
// the programmatic identifier and the type library are shared by both.
inline std::wstring classKey() {
    return std::wstring(L"CLSID\\") + kClassId;
}
inline std::wstring interfaceKey() {
    return std::wstring(L"Interface\\") + kInterfaceId;
}
inline std::wstring typeLibKey() {
    return std::wstring(L"TypeLib\\") + kLibraryId;
}
// The type library's entry for DLLs of a bitness, which names the DLL, and its key.
inline const wchar_t* sysKindKey(int bits) {
    return bits == 64 ? L"win64" : L"win32";
}
inline std::wstring typeLibEntryKey(int bits) {
    return typeLibKey() + L"\\" + kVersion + L"\\" + kLcidKey + L"\\" + sysKindKey(bits);
}

// One string value: its key below Software\Classes, its name (null: the key's default value).
struct Entry {
    std::wstring key;
    const wchar_t* name;
    std::wstring value;
};
// What registering the DLL at dll writes, besides the type library the system registers.
inline std::vector<Entry> entries(const std::wstring& dll) {
    const std::wstring server = classKey() + L"\\" + kServer;
    const std::wstring library = interfaceKey() + L"\\TypeLib";
    return {{classKey(), nullptr, kProgId},
            {server, nullptr, dll},
            {server, kThreadingModel, kApartment},
            {classKey() + L"\\ProgID", nullptr, kProgId},
            {classKey() + L"\\TypeLib", nullptr, kLibraryId},
            {classKey() + L"\\Version", nullptr, kVersion},
            {kProgId, nullptr, kProgId},
            {std::wstring(kProgId) + L"\\CLSID", nullptr, kClassId},
            {interfaceKey(), nullptr, kInterfaceName},
            {interfaceKey() + L"\\ProxyStubClsid32", nullptr, kAutomationMarshaler},
            {library, nullptr, kLibraryId},
            {library, L"Version", kVersion}};
}

}  // namespace vpolv::win::registration
