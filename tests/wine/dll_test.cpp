// vpolv.dll as the host sees it: registration, version record, type library, dispatch ids,
// and unload counting.
// The system headers first: see win32.h.
#include <gtest/gtest.h>

#include <regex>

#include "com/vpolv_h.h"
#include "common/release.h"
#include "common/text.h"
#include "platform/windows/win32.h"
#include "plugin/method_table.h"
#include "testkit/wine/support.h"

namespace vpolv::winetest {
namespace {

constexpr bool k64Bit = sizeof(void*) == 8;
constexpr const wchar_t* kSysKindKey = k64Bit ? L"win64" : L"win32";

std::wstring classes(const std::wstring& key) {
    return L"Software\\Classes\\" + key;
}

std::wstring readValue(HKEY root, const std::wstring& path, const wchar_t* name) {
    wchar_t buffer[512];
    DWORD size = sizeof buffer;
    if (RegGetValueW(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) !=
        ERROR_SUCCESS) {
        return L"<missing>";
    }
    return buffer;
}

void expectNoKeyLeft() {
    for (const auto& key : registeredKeys()) {
        EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, classes(key)))
            << "HKLM " << toUtf8(win::fromWide(key));
        EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, classes(key)))
            << "HKCU " << toUtf8(win::fromWide(key));
    }
}

TEST(Registration, Regsvr32WritesTheClassAndUnregisteringRemovesEveryKey) {
    // main() registered machine-wide through regsvr32.
    const std::wstring clsid = classes(registeredKeys()[1]);
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, clsid + L"\\InprocServer32", nullptr),
              paths().vpolvDll);
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, clsid + L"\\InprocServer32", L"ThreadingModel"),
              L"Apartment");
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, clsid + L"\\ProgID", nullptr), L"vpolv.Plugin");
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, clsid + L"\\TypeLib", nullptr),
              registeredKeys()[3].substr(8));
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, classes(L"vpolv.Plugin\\CLSID"), nullptr),
              registeredKeys()[1].substr(6));
    const std::wstring iface = classes(registeredKeys()[2]);
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, iface + L"\\ProxyStubClsid32", nullptr),
              L"{00020424-0000-0000-C000-000000000046}");
    // The type library is entered for this DLL's bitness only.
    const std::wstring libPaths = classes(registeredKeys()[3] + L"\\1.0\\409\\");
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, libPaths + kSysKindKey, nullptr), paths().vpolvDll);
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, libPaths + (k64Bit ? L"win32" : L"win64")));

    ASSERT_EQ(regsvr32(L"/u /s"), 0u);
    expectNoKeyLeft();

    // The per-user form writes below HKCU and takes all of it away again.
    ASSERT_EQ(regsvr32(L"/s /n /i:user"), 0u);
    EXPECT_EQ(readValue(HKEY_CURRENT_USER, clsid + L"\\InprocServer32", nullptr), paths().vpolvDll);
    EXPECT_EQ(readValue(HKEY_CURRENT_USER, classes(L"vpolv.Plugin\\CLSID"), nullptr),
              registeredKeys()[1].substr(6));
    EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, iface));
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, clsid));
    ASSERT_EQ(regsvr32(L"/u /s /n /i:user"), 0u);
    expectNoKeyLeft();

    // Back to the machine-wide registration the other tests use, this time called directly.
    const HMODULE dll = LoadLibraryW(paths().vpolvDll.c_str());
    ASSERT_NE(dll, nullptr);
    const auto registerServer = exportOf<EntryPoint>(dll, "DllRegisterServer");
    ASSERT_NE(registerServer, nullptr);
    EXPECT_EQ(registerServer(), S_OK);
    FreeLibrary(dll);
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, clsid));
}

TEST(VersionRecord, CarriesSelfRegistrationTheReleaseVersionAndSpanishLanguage) {
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(paths().vpolvDll.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> data(size);
    ASSERT_TRUE(GetFileVersionInfoW(paths().vpolvDll.c_str(), 0, size, data.data()));

    struct Translation {
        WORD language, codePage;
    }* translation = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    EXPECT_EQ(translation->language, 0x0C0A);
    EXPECT_EQ(translation->codePage, 1200);

    auto text = [&](const wchar_t* name) -> std::wstring {
        wchar_t* value = nullptr;
        UINT chars = 0;
        const std::wstring path = std::wstring(L"\\StringFileInfo\\0C0A04B0\\") + name;
        if (!VerQueryValueW(data.data(), path.c_str(), reinterpret_cast<void**>(&value), &chars)) {
            return L"<missing>";
        }
        return value;
    };
    // The release's version, in the form hosts have always seen, and the numeric one as text.
    const std::wstring version(kVersion.begin(), kVersion.end());
    EXPECT_TRUE(std::regex_match(version, std::wregex(L"[0-9]+\\.[0-9]{2}(\\.[0-9]+)?")))
        << kVersion;
    std::wstring numbers;
    for (const unsigned number : kVersionNumbers) {
        numbers += (numbers.empty() ? L"" : L".") + std::to_wstring(number);
    }
    EXPECT_EQ(text(L"FileVersion"), numbers);
    EXPECT_EQ(text(L"ProductVersion"), version);
    EXPECT_NE(text(L"CompanyName"), L"<missing>");
    EXPECT_NE(text(L"LegalCopyright"), L"<missing>");
    EXPECT_EQ(text(L"OLESelfRegister"), L"");

    VS_FIXEDFILEINFO* fixed = nullptr;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    const DWORD high = kVersionNumbers[0] << 16 | kVersionNumbers[1];
    const DWORD low = kVersionNumbers[2] << 16 | kVersionNumbers[3];
    EXPECT_EQ(fixed->dwFileVersionMS, high);
    EXPECT_EQ(fixed->dwFileVersionLS, low);
    EXPECT_EQ(fixed->dwProductVersionMS, high);
    EXPECT_EQ(fixed->dwProductVersionLS, low);
    // Above the first release, 1.0.0.0, so that installers replace it.
    EXPECT_GT(high, 1u << 16);
}

TEST(TypeLibrary, DescribesTheClassAndTheMethodTable) {
    ComPtr<ITypeLib> library;
    ASSERT_EQ(LoadTypeLibEx(paths().vpolvDll.c_str(), REGKIND_NONE, library.put()), S_OK);
    TLIBATTR* libAttr = nullptr;
    ASSERT_EQ(library->GetLibAttr(&libAttr), S_OK);
    EXPECT_EQ(libAttr->guid, LIBID_vpolv);
    EXPECT_EQ(libAttr->lcid, 0x0409u);
    EXPECT_EQ(libAttr->wMajorVerNum, 1);
    EXPECT_EQ(libAttr->wMinorVerNum, 0);
    // Built for this DLL's bitness (a library of the other bitness loads too, so only this
    // tells them apart).
    EXPECT_EQ(libAttr->syskind, k64Bit ? SYS_WIN64 : SYS_WIN32);
    library->ReleaseTLibAttr(libAttr);

    // The coclass Plugin, creatable, with _Plugin as its default interface.
    ComPtr<ITypeInfo> coclass;
    ASSERT_EQ(library->GetTypeInfoOfGuid(CLSID_Plugin, coclass.put()), S_OK);
    BSTR rawName = nullptr;
    coclass->GetDocumentation(MEMBERID_NIL, &rawName, nullptr, nullptr, nullptr);
    const win::Bstr name(rawName);
    EXPECT_EQ(win::fromBstr(name.get()), u"Plugin");
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(coclass->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FCANCREATE);
    coclass->ReleaseTypeAttr(attr);
    INT implFlags = 0;
    ASSERT_EQ(coclass->GetImplTypeFlags(0, &implFlags), S_OK);
    EXPECT_TRUE(implFlags & IMPLTYPEFLAG_FDEFAULT);

    // The function table of the dual interface, as the host binds to it: every method of
    // plugin/methods.def, in its order, with its dispatch id, parameters and result.
    ComPtr<ITypeInfo> dispatch, vtable;
    ASSERT_EQ(library->GetTypeInfoOfGuid(IID__Plugin, dispatch.put()), S_OK);
    ASSERT_EQ(dispatch->GetTypeAttr(&attr), S_OK);
    const WORD flags = attr->wTypeFlags;
    dispatch->ReleaseTypeAttr(attr);
    EXPECT_EQ(flags & (TYPEFLAG_FDUAL | TYPEFLAG_FHIDDEN | TYPEFLAG_FNONEXTENSIBLE),
              TYPEFLAG_FDUAL | TYPEFLAG_FHIDDEN | TYPEFLAG_FNONEXTENSIBLE);
    HREFTYPE ref = 0;
    ASSERT_EQ(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref), S_OK);
    ASSERT_EQ(dispatch->GetRefTypeInfo(ref, vtable.put()), S_OK);
    ASSERT_EQ(vtable->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
    ASSERT_EQ(attr->cFuncs, kMethodTable.size());
    vtable->ReleaseTypeAttr(attr);

    for (std::size_t i = 0; i < kMethodTable.size(); ++i) {
        const MethodInfo& method = kMethodTable[i];
        SCOPED_TRACE(toUtf8(method.name));
        FUNCDESC* func = nullptr;
        ASSERT_EQ(vtable->GetFuncDesc(static_cast<UINT>(i), &func), S_OK);
        EXPECT_EQ(func->memid, static_cast<MEMBERID>(method.dispId));
        // IUnknown and IDispatch come first: seven pointer-sized slots.
        EXPECT_EQ(func->oVft, static_cast<SHORT>((7 + i) * sizeof(void*)));
        const bool hasResult = method.result != ResultType::None;
        ASSERT_EQ(static_cast<std::size_t>(func->cParams), method.params.size() + hasResult);
        for (std::size_t p = 0; p < method.params.size(); ++p) {
            const ELEMDESC& e = func->lprgelemdescParam[p];
            const VARTYPE base = method.params[p].type == ParamType::Long ? VT_I4 : VT_BSTR;
            if (method.params[p].byRef) {
                ASSERT_EQ(e.tdesc.vt, VT_PTR);
                EXPECT_EQ(e.tdesc.lptdesc->vt, base);
                EXPECT_EQ(e.paramdesc.wParamFlags & (PARAMFLAG_FIN | PARAMFLAG_FOUT),
                          PARAMFLAG_FIN | PARAMFLAG_FOUT);
            } else {
                EXPECT_EQ(e.tdesc.vt, base);
            }
        }
        if (hasResult) {
            const ELEMDESC& e = func->lprgelemdescParam[method.params.size()];
            EXPECT_TRUE(e.paramdesc.wParamFlags & PARAMFLAG_FRETVAL);
            ASSERT_EQ(e.tdesc.vt, VT_PTR);
            EXPECT_EQ(e.tdesc.lptdesc->vt,
                      method.result == ResultType::Boolean ? VT_BOOL : VT_BSTR);
        }
        BSTR raw[8] = {};
        UINT count = 0;
        vtable->GetNames(func->memid, raw, 8, &count);
        std::vector<win::Bstr> owned;
        for (BSTR n : raw)
            owned.emplace_back(n);
        const BSTR* names = raw;
        ASSERT_GE(count, 1 + method.params.size());
        EXPECT_EQ(win::fromBstr(names[0]), Text(method.name));
        for (std::size_t p = 0; p < method.params.size(); ++p) {
            EXPECT_EQ(win::fromBstr(names[p + 1]), Text(method.params[p].name));
        }
        vtable->ReleaseFuncDesc(func);
    }
}

TEST(Dispatch, NamesMapToTheFixedDispatchIds) {
    const ComPtr<IDispatch> plugin = createPlugin();
    ASSERT_TRUE(plugin);
    for (const MethodInfo& method : kMethodTable) {
        const std::wstring name(method.name.begin(), method.name.end());
        std::vector<std::wstring> all{name};
        for (const ParamInfo& p : method.params)
            all.emplace_back(p.name.begin(), p.name.end());
        std::vector<LPOLESTR> names;
        for (auto& n : all)
            names.push_back(n.data());
        std::vector<DISPID> ids(names.size(), DISPID_UNKNOWN);
        ASSERT_EQ(plugin->GetIDsOfNames(IID_NULL, names.data(), static_cast<UINT>(names.size()),
                                        LOCALE_USER_DEFAULT, ids.data()),
                  S_OK)
            << toUtf8(method.name);
        EXPECT_EQ(ids[0], static_cast<DISPID>(method.dispId)) << toUtf8(method.name);
        for (std::size_t p = 1; p < ids.size(); ++p)
            EXPECT_EQ(ids[p], static_cast<DISPID>(p - 1));
    }
    LPOLESTR unknown[] = {const_cast<LPOLESTR>(L"Nada")};
    DISPID id = 0;
    EXPECT_EQ(plugin->GetIDsOfNames(IID_NULL, unknown, 1, LOCALE_USER_DEFAULT, &id),
              DISP_E_UNKNOWNNAME);

    ComPtr<ISupportErrorInfo> errors;
    ASSERT_EQ(plugin->QueryInterface(IID_ISupportErrorInfo, errors.putVoid()), S_OK);
    EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID__Plugin), S_OK);
    EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
}

TEST(Unloading, TheLibraryStaysWhileObjectsOrLocksLive) {
    const HMODULE dll = LoadLibraryW(paths().vpolvDll.c_str());
    ASSERT_NE(dll, nullptr);
    const auto canUnload = exportOf<EntryPoint>(dll, "DllCanUnloadNow");
    const auto getClassObject =
        exportOf<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(dll, "DllGetClassObject");
    ASSERT_TRUE(canUnload && getClassObject);
    EXPECT_EQ(canUnload(), S_OK);

    ComPtr<IClassFactory> factory;
    ASSERT_EQ(getClassObject(CLSID_Plugin, IID_IClassFactory, factory.putVoid()), S_OK);
    EXPECT_EQ(canUnload(), S_FALSE);
    ComPtr<IDispatch> plugin;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, plugin.putVoid()), S_OK);
    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    factory.reset();
    plugin.reset();
    EXPECT_EQ(canUnload(), S_FALSE);
    ComPtr<IClassFactory> again;
    ASSERT_EQ(getClassObject(CLSID_Plugin, IID_IClassFactory, again.putVoid()), S_OK);
    ASSERT_EQ(again->LockServer(FALSE), S_OK);
    again.reset();
    EXPECT_EQ(canUnload(), S_OK);

    ComPtr<IUnknown> none;
    EXPECT_EQ(getClassObject(IID__Plugin, IID_IClassFactory, none.putVoid()),
              CLASS_E_CLASSNOTAVAILABLE);
    FreeLibrary(dll);
}

}  // namespace
}  // namespace vpolv::winetest
