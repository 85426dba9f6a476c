// Writing and removing the registry keys of the class, the interface and the type library.
#include "com/registration.h"

#include <string>

#include "com/module.h"
#include "com/vpolv_h.h"
#include "platform/windows/com_support.h"
#include "platform/windows/registration.h"
#include "platform/windows/registry.h"

// Per-user type library registration (oleaut32); the MinGW headers lack the declarations.
extern "C" {
HRESULT WINAPI RegisterTypeLibForUser(ITypeLib* library, OLECHAR* path, OLECHAR* helpDir);
HRESULT WINAPI UnRegisterTypeLibForUser(REFGUID libId, WORD major, WORD minor, LCID lcid,
                                        SYSKIND kind);
}

namespace vpolv::com {

namespace layout = win::registration;
namespace registry = win::registry;

namespace {

constexpr WORD kMajor = 1;
constexpr WORD kMinor = 0;
constexpr LCID kLcid = 0x0409;
// The library is built for the DLL's bitness and registered as such.
constexpr bool kIs64Bit = sizeof(void*) == 8;
constexpr SYSKIND kSysKind = kIs64Bit ? SYS_WIN64 : SYS_WIN32;
// The other bitness's view of the redirected keys (CLSID, Interface).
constexpr registry::View kOtherView = kIs64Bit ? registry::View::Bits32 : registry::View::Bits64;

registry::Root classesRoot(Scope scope) {
    return scope == Scope::Machine ? registry::Root::LocalMachine : registry::Root::CurrentUser;
}

std::wstring classesPath(const std::wstring& path) {
    return layout::kClasses + path;
}

// Writes a string value (nullptr name: the key's default value) under path, creating the key.
void setValue(Scope scope, const std::wstring& path, const wchar_t* name,
              const std::wstring& value) {
    win::UniqueKey key;
    win::checkWin32(registry::create(classesRoot(scope), classesPath(path), registry::View::Own,
                                     registry::kSet, key));
    win::checkWin32(registry::writeText(key, name, value));
}

// Removes path and everything below it, in this bitness's registry view or the other's; a key
// that is not there is fine.
void deleteTree(Scope scope, const std::wstring& path, registry::View view = registry::View::Own) {
    const long status = registry::removeTree(classesRoot(scope), classesPath(path), view);
    if (status != registry::kNotFound)
        win::checkWin32(status);
}

// The DLL the class is registered with in a registry view, or empty.
std::wstring registeredServer(Scope scope, const std::wstring& classPath, registry::View view) {
    std::wstring path;
    if (registry::readText(classesRoot(scope), classesPath(classPath + L"\\" + layout::kServer),
                           nullptr, view, path) != registry::kOk) {
        return {};
    }
    return path;
}

// Whether the DLL of the other bitness is registered too (the 32-bit DLL in the 32-bit view,
// the 64-bit one in the 64-bit view). Where a system keeps one view only (Wine's per-user
// classes), the other view shows this very DLL, which does not count.
bool otherBitnessRegistered(Scope scope) {
    const std::wstring other = registeredServer(scope, layout::classKey(), kOtherView);
    return !other.empty() &&
           CompareStringOrdinal(other.c_str(), -1, module::path().c_str(), -1, TRUE) != CSTR_EQUAL;
}

void writeRegistration(Scope scope) {
    const std::wstring path = module::path();
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
    deleteTree(scope, layout::typeLibKey() + L"\\" + layout::kVersion + L"\\HELPDIR");

    for (const layout::Entry& entry : layout::entries(path))
        setValue(scope, entry.key, entry.name, entry.value);
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
    deleteTree(scope, layout::classKey());
    if (otherStays) {
        // The DLL of the other bitness still serves the class: of the keys both share (the
        // programmatic identifier, the type library, the interface in both views) only this
        // bitness's entry of the type library goes.
        deleteTree(scope, layout::typeLibEntryKey(kIs64Bit ? 64 : 32));
        return;
    }
    deleteTree(scope, layout::kProgId);
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
    deleteTree(scope, layout::typeLibKey());
    deleteTree(scope, layout::interfaceKey());
    deleteTree(scope, layout::interfaceKey(), kOtherView);
}

}  // namespace vpolv::com
