// The system headers first: see win32.h.
#include "testkit/wine/support.h"

#include <cstring>
#include <fstream>
#include <stdexcept>

#include "com/vpolv_h.h"
#include "common/text.h"
#include "platform/windows/registration.h"
#include "platform/windows/win32.h"
#include "testkit/scenes.h"

namespace vpolv::winetest {
namespace {

Paths gPaths;
fakehost::Control* gFakeHost = nullptr;
HMODULE gFakeHostModule = nullptr;

std::wstring folderOf(const std::wstring& path) {
    return path.substr(0, path.find_last_of(L"\\/"));
}

std::wstring exeFolder() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return folderOf(path);
}

void removeTree(const std::wstring& folder) {
    WIN32_FIND_DATAW data;
    const win::UniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (find) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring path = folder + L"\\" + name;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                removeTree(path);
            } else {
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(find.get(), &data));
    }
    RemoveDirectoryW(folder.c_str());
}

}  // namespace

const Paths& paths() {
    return gPaths;
}
fakehost::Control& fakeHost() {
    return *gFakeHost;
}

void setUp(const std::wstring& builtVpolvDll) {
    // The fake host, loaded here first so that COM finds this very copy.
    const std::wstring fakeHostPath = exeFolder() + L"\\vpolv_fake_host.dll";
    gFakeHostModule = LoadLibraryW(fakeHostPath.c_str());
    if (!gFakeHostModule)
        throw std::runtime_error("cannot load vpolv_fake_host.dll");
    const auto control =
        exportOf<fakehost::ControlFunction>(gFakeHostModule, fakehost::kControlExport);
    const auto registerServer = exportOf<EntryPoint>(gFakeHostModule, "DllRegisterServer");
    if (!control || !registerServer || FAILED(registerServer())) {
        throw std::runtime_error("cannot register the fake host");
    }
    gFakeHost = control();

    // A fresh folder with a copy of vpolv.dll, its SPACE.INI and a catalogs tree in which only
    // subfolder "B" holds a non-empty polvas10.cat.
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    gPaths.folder = std::wstring(temp) + L"vpolv-wine-" + std::to_wstring(GetCurrentProcessId());
    removeTree(gPaths.folder);
    CreateDirectoryW(gPaths.folder.c_str(), nullptr);
    gPaths.vpolvDll = gPaths.folder + L"\\vpolv.dll";
    if (!CopyFileW(builtVpolvDll.c_str(), gPaths.vpolvDll.c_str(), FALSE)) {
        throw std::runtime_error("cannot copy vpolv.dll into the test folder");
    }
    gPaths.catalogsDir = gPaths.folder + L"\\catalogs\\";
    CreateDirectoryW(gPaths.catalogsDir.c_str(), nullptr);
    for (const wchar_t* sub : {L"A", L"B", L"C"}) {
        CreateDirectoryW((gPaths.catalogsDir + sub).c_str(), nullptr);
    }
    writeFile(gPaths.catalogsDir + L"A\\polvas10.cat", "");
    writeFile(gPaths.catalogsDir + L"B\\polvas10.cat", "catalog");
    writeFile(gPaths.catalogsDir + L"polvas13.cat", "catalog");
    writeFile(gPaths.folder + L"\\SPACE.INI",
              "[Local]\r\nCatalogsDir=\r\n[InSitu]\r\nCatalogsDir=" +
                  toUtf8(win::fromWide(gPaths.catalogsDir)) + "\r\n");

    if (regsvr32(L"/s") != 0)
        throw std::runtime_error("regsvr32 failed on vpolv.dll");
}

void tearDown() {
    regsvr32(L"/u /s");
    if (gFakeHostModule) {
        const auto unregisterServer = exportOf<EntryPoint>(gFakeHostModule, "DllUnregisterServer");
        if (unregisterServer)
            unregisterServer();
    }
    CoFreeUnusedLibraries();
    // vpolv.dll may still be mapped in this process; the folder goes with the prefix otherwise.
    removeTree(gPaths.folder);
}

std::wstring windowsPath(const std::string& path) {
    std::wstring out = path.rfind('/', 0) == 0 ? L"Z:" : L"";
    for (char c : path)
        out += c == '/' ? L'\\' : static_cast<wchar_t>(c);
    return out;
}

namespace {
thread_local BoxCloser* tCloser = nullptr;
}  // namespace

BoxCloser::BoxCloser() {
    tCloser = this;
    hook_ = SetWindowsHookExW(WH_CBT, watch, nullptr, GetCurrentThreadId());
}

BoxCloser::~BoxCloser() {
    if (hook_)
        UnhookWindowsHookEx(hook_);
    tCloser = nullptr;
}

LRESULT CALLBACK BoxCloser::watch(int code, WPARAM wParam, LPARAM lParam) {
    const HWND window = reinterpret_cast<HWND>(wParam);
    wchar_t name[16] = {};
    if (code == HCBT_ACTIVATE && tCloser && window != tCloser->last_ &&
        GetClassNameW(window, name, 16) && std::wstring(name) == L"#32770") {
        tCloser->last_ = window;
        ++tCloser->closed_;
        PostMessageW(window, WM_COMMAND, IDOK, 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void writeFile(const std::wstring& path, const std::string& contents, DWORD attributes) {
    const win::UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        throw std::runtime_error("cannot write a test file");
    DWORD written = 0;
    WriteFile(file.get(), contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr);
    if (attributes)
        SetFileAttributesW(path.c_str(), attributes);
}

DWORD runProgram(const std::wstring& commandLine) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring line = commandLine;
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return static_cast<DWORD>(-1);
    }
    const win::UniqueHandle processHandle(process.hProcess), thread(process.hThread);
    WaitForSingleObject(processHandle.get(), INFINITE);
    DWORD code = static_cast<DWORD>(-1);
    GetExitCodeProcess(processHandle.get(), &code);
    return code;
}

DWORD regsvr32(const std::wstring& switches) {
    return runProgram(L"regsvr32.exe " + switches + L" \"" + gPaths.vpolvDll + L"\"");
}

bool keyExists(HKEY root, const std::wstring& path) {
    win::UniqueKey key;
    return RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

std::vector<std::wstring> registeredKeys() {
    namespace layout = win::registration;
    return {layout::kProgId, layout::classKey(), layout::interfaceKey(), layout::typeLibKey()};
}

VARIANT i4(LONG value) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = value;
    return v;
}

VARIANT i4Ref(LONG* value) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BYREF | VT_I4;
    V_I4REF(&v) = value;
    return v;
}

VARIANT bstrRef(BSTR* value) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BYREF | VT_BSTR;
    V_BSTRREF(&v) = value;
    return v;
}

void invoke(IDispatch* object, const wchar_t* name, std::vector<VARIANT> args, Outcome& out) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    out.hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(out.hr))
        return;
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr,
                      static_cast<UINT>(reversed.size()), 0};
    EXCEPINFO info{};
    UINT argError = 0;
    VariantClear(out.value.get());
    out.hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                            out.value.get(), &info, &argError);
    if (out.hr == DISP_E_EXCEPTION) {
        if (info.pfnDeferredFillIn)
            info.pfnDeferredFillIn(&info);
        const win::Bstr description(info.bstrDescription), source(info.bstrSource),
            help(info.bstrHelpFile);
        out.scode = info.scode;
        out.description = win::fromBstr(description.get());
        out.source = win::fromBstr(source.get());
    }
}

ComPtr<IDispatch> createPlugin() {
    CLSID clsid;
    ComPtr<IDispatch> plugin;
    if (FAILED(CLSIDFromProgID(L"vpolv.Plugin", &clsid)) ||
        FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                plugin.putVoid()))) {
        throw std::runtime_error("cannot create vpolv.Plugin");
    }
    return plugin;
}

void fire(IDispatch* plugin, Event event, Outcome& out, LONG callParamsBlock) {
    const std::wstring name = win::toWide(fromUtf8(eventMethodName(event)));
    invoke(plugin, name.c_str(), {i4(callParamsBlock)}, out);
}

using testing::addLine;
using testing::addObject;

namespace {

// The surcharge lines every scene here is priced from.
void addSurchargeLines(host::SceneData& scene) {
    addLine(scene, 4, u"_0_H_90", {{3, u"0"}});
    addLine(scene, 4, u"_2_H_90", {{3, u"40"}});
    addLine(scene, 4, u"_1_A_120", {{3, u"12.5"}});
}

}  // namespace

host::SceneData cabinetScene() {
    host::SceneData scene = testing::callObjectScene(
        {.id = 10, .line = u"LINEA_V", .handle = u"25", .children = {11, 12, 13}});
    addObject(scene, 11, {{4, u"FR_1PBVN"}, {49, u"Puerta\r\n#Incremento viejo#"}});
    addObject(scene, 12, {{4, u"ESTANTE"}, {49, u"Estante"}});
    addObject(scene, 13, {{4, u"FR_1PBVGL"}, {49, u"Puerta gola"}});
    scene.keywords[u"@Rubrique.GénériqueChoixNom(,5)"] = u"Grupo 2";
    scene.keywords[u"@Rubrique.GénériqueChoixNom(,6)"] = u"Claro";
    // The line of the glass front of mixedScene().
    addLine(scene, 3, u"LINEA_M", {{3, u"120"}, {4, u"60"}, {5, u"A"}});
    addSurchargeLines(scene);
    return scene;
}

host::SceneData cabinetlessScene(const Text& handle) {
    host::SceneData scene = testing::callObjectScene({.id = 10,
                                                      .catalog = u"570",
                                                      .line = u"LINEA_M",
                                                      .reference = u"MUEBLE",
                                                      .handle = handle,
                                                      .column3 = u"120",
                                                      .column5 = u"A"});
    scene.sessionId = 1;
    addSurchargeLines(scene);
    return scene;
}

host::SceneData mixedScene() {
    host::SceneData scene = cabinetScene();
    scene.currentObject = 0;
    addObject(scene, 20, {{2, u"999"}, {4, u"VITRINA"}});
    addObject(scene, 30,
              {{2, u"570"},
               {4, u"FR_1PRVAMA"},
               {7, u"LINEA_M"},
               {65, u"MA"},
               {85, u"Grupo 1"},
               {86, u"Mate"}});
    scene.sceneObjects = {10, 20, 30};
    return scene;
}

ImportPatch::ImportPatch(HMODULE module, const char* dll, const char* name, void* replacement) {
    auto* const base = reinterpret_cast<BYTE*>(module);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         d->Name; ++d) {
        if (_stricmp(reinterpret_cast<const char*>(base + d->Name), dll) != 0)
            continue;
        // The names are in the lookup table, the addresses the loader bound in the same order;
        // an import by ordinal is known by its address.
        const auto wanted =
            reinterpret_cast<ULONG_PTR>(GetProcAddress(GetModuleHandleA(dll), name));
        const auto* named = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
        auto* bound = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; named->u1.AddressOfData; ++named, ++bound) {
            const bool match = IMAGE_SNAP_BY_ORDINAL(named->u1.Ordinal)
                                   ? bound->u1.Function == wanted
                                   : std::strcmp(reinterpret_cast<const char*>(
                                                     reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(
                                                         base + named->u1.AddressOfData)
                                                         ->Name),
                                                 name) == 0;
            if (match)
                slot_ = reinterpret_cast<ULONG_PTR*>(&bound->u1.Function);
        }
    }
    if (slot_) {
        original_ = *slot_;
        write(reinterpret_cast<ULONG_PTR>(replacement));
    }
}

ImportPatch::~ImportPatch() {
    if (slot_)
        write(original_);
}

void ImportPatch::write(ULONG_PTR value) {
    DWORD protection = 0;
    VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &protection);
    *slot_ = value;
    VirtualProtect(slot_, sizeof *slot_, protection, &protection);
}

}  // namespace vpolv::winetest
