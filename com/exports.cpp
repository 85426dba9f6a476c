// The entry points of vpolv.dll.
#include <cwctype>
#include <string>

#include "catalog/constantes.h"
#include "com/class_factory.h"
#include "com/guard.h"
#include "com/module.h"
#include "com/plugin_object.h"
#include "com/registration.h"
#include "com/vpolv_h.h"
#include "platform/windows/win32.h"

namespace {

// regsvr32 /n /i:user registers for the current user only.
vpolv::com::Scope scopeOf(LPCWSTR commandLine) {
    std::wstring text = commandLine ? commandLine : L"";
    for (auto& c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text == L"user" ? vpolv::com::Scope::User : vpolv::com::Scope::Machine;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            vpolv::com::module::setHandle(instance);
            break;
        case DLL_THREAD_DETACH:
            try {
                vpolv::releaseThreadConstantes();
            } catch (...) {
            }
            break;
        case DLL_PROCESS_DETACH:
            // At process exit (reserved set) the host objects' servers may be gone already:
            // only an explicit unload frees what other threads left.
            if (!reserved) {
                try {
                    vpolv::releaseAllConstantes();
                } catch (...) {
                }
            }
            break;
        default:
            break;
    }
    return TRUE;
}

HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (clsid == CLSID_Plugin)
        return vpolv::com::ClassFactory<vpolv::com::PluginObject>::create(riid, out);
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return vpolv::com::module::canUnload() ? S_OK : S_FALSE;
}

HRESULT STDAPICALLTYPE DllRegisterServer() {
    return vpolv::com::guard(IID_NULL,
                             [] { vpolv::com::registerServer(vpolv::com::Scope::Machine); });
}

HRESULT STDAPICALLTYPE DllUnregisterServer() {
    return vpolv::com::guard(IID_NULL,
                             [] { vpolv::com::unregisterServer(vpolv::com::Scope::Machine); });
}

HRESULT STDAPICALLTYPE DllInstall(BOOL install, LPCWSTR commandLine) {
    return vpolv::com::guard(IID_NULL, [&] {
        const auto scope = scopeOf(commandLine);
        install ? vpolv::com::registerServer(scope) : vpolv::com::unregisterServer(scope);
    });
}

}  // extern "C"
