// Writing and removing the registry keys of the class, the interface and the type library.
#include "com/registration.h"

#include <string>

#include "com/module.h"
#include "com/vpolv_h.h"
#include "platform/windows/com_support.h"

// Per-user type library registration (oleaut32); the MinGW headers lack the declarations.
extern "C" {
HRESULT WINAPI RegisterTypeLibForUser(ITypeLib* library, OLECHAR* path, OLECHAR* helpDir);
HRESULT WINAPI UnRegisterTypeLibForUser(REFGUID libId, WORD major, WORD minor, LCID lcid,
                                        SYSKIND kind);
}

namespace vpolv::com {
namespace {

constexpr wchar_t kProgId[] = L"vpolv.Plugin";
constexpr wchar_t kClassName[] = L"vpolv.Plugin";
constexpr wchar_t kInterfaceName[] = L"_Plugin";
constexpr wchar_t kVersion[] = L"1.0";
// The standard marshaler of automation-compatible interfaces.
constexpr wchar_t kAutomationMarshaler[] = L"{00020424-0000-0000-C000-000000000046}";
constexpr WORD kMajor = 1;
constexpr WORD kMinor = 0;
constexpr LCID kLcid = 0x0409;
constexpr wchar_t kLcidKey[] = L"409";  // kLcid as the system names its key
// The library is built for the DLL's bitness and registered as such.
constexpr bool kIs64Bit = sizeof(void*) == 8;
constexpr SYSKIND kSysKind = kIs64Bit ? SYS_WIN64 : SYS_WIN32;
constexpr const wchar_t* kSysKindKey = kIs64Bit ? L"win64" : L"win32";
// Opens the other bitness's view of the redirected keys (CLSID, Interface).
constexpr REGSAM kOtherView = kIs64Bit ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

std::wstring guidText(REFGUID guid) {
    wchar_t text[40];
    StringFromGUID2(guid, text, 40);
    return text;
}

HKEY classesRoot(Scope scope) {
    return scope == Scope::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

// "Software\Classes\" + path
std::wstring classesPath(const std::wstring& path) {
    return L"Software\\Classes\\" + path;
}

win::UniqueKey createKey(Scope scope, const std::wstring& path) {
    HKEY key = nullptr;
    win::checkWin32(RegCreateKeyExW(classesRoot(scope), classesPath(path).c_str(), 0, nullptr,
                                    REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr));
    return win::UniqueKey(key);
}

// Writes a string value (nullptr name: the key's default value) under path, creating the key.
void setValue(Scope scope, const std::wstring& path, const wchar_t* name,
              const std::wstring& value) {
    const win::UniqueKey key = createKey(scope, path);
    win::checkWin32(RegSetValueExW(key.get(), name, 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(value.c_str()),
                                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))));
}

// Removes path and everything below it, in this bitness's registry view or the other's; a key
// that is not there is fine.
void deleteTree(Scope scope, const std::wstring& path, REGSAM view = 0) {
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(classesRoot(scope), classesPath(path).c_str(), 0,
                                   KEY_READ | KEY_WRITE | DELETE | view, &key);
    if (status == ERROR_SUCCESS) {
        const win::UniqueKey owned(key);
        status = RegDeleteTreeW(key, nullptr);
        if (status == ERROR_SUCCESS)
            status = RegDeleteKeyExW(classesRoot(scope), classesPath(path).c_str(), view, 0);
    }
    if (status != ERROR_FILE_NOT_FOUND)
        win::checkWin32(status);
}

// The DLL the class is registered with in a registry view, or empty.
std::wstring registeredServer(Scope scope, const std::wstring& classPath, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(classesRoot(scope), classesPath(classPath + L"\\InprocServer32").c_str(), 0,
                      KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) {
        return {};
    }
    const win::UniqueKey owned(key);
    wchar_t path[MAX_PATH + 1] = {};
    DWORD size = sizeof path - sizeof(wchar_t);
    if (RegGetValueW(key, nullptr, nullptr, RRF_RT_REG_SZ, nullptr, path, &size) != ERROR_SUCCESS)
        return {};
    return path;
}

std::wstring classKey() {
    return L"CLSID\\" + guidText(CLSID_Plugin);
}
std::wstring interfaceKey() {
    return L"Interface\\" + guidText(IID__Plugin);
}
std::wstring typeLibKey() {
    return L"TypeLib\\" + guidText(LIBID_vpolv);
}

// Whether the DLL of the other bitness is registered too (the 32-bit DLL in the 32-bit view,
// the 64-bit one in the 64-bit view). Where a system keeps one view only (Wine's per-user
// classes), the other view shows this very DLL, which does not count.
bool otherBitnessRegistered(Scope scope) {
    const std::wstring other = registeredServer(scope, classKey(), kOtherView);
    return !other.empty() &&
           CompareStringOrdinal(other.c_str(), -1, module::path().c_str(), -1, TRUE) != CSTR_EQUAL;
}

void writeRegistration(Scope scope) {
    const std::wstring path = module::path();
    const std::wstring libId = guidText(LIBID_vpolv);
    const std::wstring classId = guidText(CLSID_Plugin);

    win::ComPtr<ITypeLib> library;
    win::check(LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put()));
    if (scope == Scope::Machine) {
        win::check(RegisterTypeLib(library.get(), const_cast<OLECHAR*>(path.c_str()), nullptr));
    } else {
        win::check(
            RegisterTypeLibForUser(library.get(), const_cast<OLECHAR*>(path.c_str()), nullptr));
    }
    // The library has no help files. Left alone, HELPDIR would name the folder of whichever
    // bitness registered first, in a key both share.
    deleteTree(scope, typeLibKey() + L"\\1.0\\HELPDIR");

    const std::wstring clsid = classKey();
    setValue(scope, clsid, nullptr, kClassName);
    setValue(scope, clsid + L"\\InprocServer32", nullptr, path);
    setValue(scope, clsid + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
    setValue(scope, clsid + L"\\ProgID", nullptr, kProgId);
    setValue(scope, clsid + L"\\TypeLib", nullptr, libId);
    setValue(scope, clsid + L"\\Version", nullptr, kVersion);

    setValue(scope, kProgId, nullptr, kClassName);
    setValue(scope, std::wstring(kProgId) + L"\\CLSID", nullptr, classId);

    const std::wstring iid = interfaceKey();
    setValue(scope, iid, nullptr, kInterfaceName);
    setValue(scope, iid + L"\\ProxyStubClsid32", nullptr, kAutomationMarshaler);
    setValue(scope, iid + L"\\TypeLib", nullptr, libId);
    setValue(scope, iid + L"\\TypeLib", L"Version", kVersion);
}

}  // namespace

void registerServer(Scope scope) {
    try {
        writeRegistration(scope);
    } catch (...) {
        // A registration that failed half-way is taken back whole.
        try {
            unregisterServer(scope);
        } catch (...) {
        }
        throw;
    }
}

void unregisterServer(Scope scope) {
    const bool otherStays = otherBitnessRegistered(scope);
    deleteTree(scope, classKey());
    if (otherStays) {
        // The DLL of the other bitness still serves the class: of the keys both share (the
        // programmatic identifier, the type library, the interface in both views) only this
        // bitness's entry of the type library goes.
        deleteTree(scope, typeLibKey() + L"\\1.0\\" + kLcidKey + L"\\" + kSysKindKey);
        return;
    }
    deleteTree(scope, std::wstring(kProgId));
    const HRESULT hr = scope == Scope::Machine
                           ? UnRegisterTypeLib(LIBID_vpolv, kMajor, kMinor, kLcid, kSysKind)
                           : UnRegisterTypeLibForUser(LIBID_vpolv, kMajor, kMinor, kLcid, kSysKind);
    // Already gone is what we want.
    if (FAILED(hr) && hr != TYPE_E_REGISTRYACCESS && hr != TYPE_E_LIBNOTREGISTERED &&
        hr != HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) {
        win::check(hr);
    }
    // What the system's unregistration may leave: the library's key and the interface in
    // either view.
    deleteTree(scope, typeLibKey());
    deleteTree(scope, interfaceKey());
    deleteTree(scope, interfaceKey(), kOtherView);
}

}  // namespace vpolv::com
