// vpolv_probe: what a client of one bitness sees of an installed vpolv.dll, for the deployment
// tests (tests/deploy), which build it for both bitnesses.
//
//   vpolv_probe create   creates vpolv.Plugin by its ProgID and prints "loaded <path of the DLL
//                        that serves it>"; exit 1 when it cannot be created
//   vpolv_probe keys     prints every registry key and value of vpolv below
//                        HKLM\Software\Classes and HKCU\Software\Classes, as this bitness's
//                        registry view shows them, sorted: "<key>" and "<key>|<name>|<data>"
//   vpolv_probe place N  a host's N placements of the cabinet scene (testkit/wine) in the
//                        installed vpolv.Plugin, a quarter of a second apart, against the fake
//                        host vpolv_fake_host.dll of the probe's folder (registered for the
//                        run); prints "placed N"; exit 1 when an event fails
// The system headers first: see win32.h.
#include "platform/windows/win32.h"
// clang-format off
#include <objbase.h>
// clang-format on

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "com/vpolv_h.h"
#include "testkit/wine/support.h"

namespace {

using vpolv::win::utf8;

int create() {
    CLSID clsid;
    IDispatch* plugin = nullptr;
    HRESULT hr = CLSIDFromProgID(L"vpolv.Plugin", &clsid);
    if (SUCCEEDED(hr)) {
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                              reinterpret_cast<void**>(&plugin));
    }
    if (FAILED(hr)) {
        std::printf("cannot create vpolv.Plugin: 0x%08lx\n", static_cast<unsigned long>(hr));
        return 1;
    }
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(GetModuleHandleW(L"vpolv.dll"), path, MAX_PATH);
    std::printf("loaded %s\n", utf8(path).c_str());
    plugin->Release();
    return 0;
}

void dump(HKEY root, const std::wstring& path, const std::wstring& shown,
          std::vector<std::string>& lines) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    lines.push_back(utf8(shown));
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameSize = 256, type = 0;
        BYTE data[2048];
        DWORD dataSize = sizeof data;
        if (RegEnumValueW(key, i, name, &nameSize, nullptr, &type, data, &dataSize) !=
            ERROR_SUCCESS) {
            break;
        }
        std::wstring text = L"<type " + std::to_wstring(type) + L">";
        if (type == REG_SZ || type == REG_EXPAND_SZ)
            text.assign(reinterpret_cast<const wchar_t*>(data), dataSize / sizeof(wchar_t));
        text.resize(wcsnlen(text.c_str(), text.size()));
        lines.push_back(utf8(shown + L"|" + (nameSize ? name : L"@") + L"|" + text));
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameSize = 256;
        if (RegEnumKeyExW(key, i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        dump(root, path + L"\\" + name, shown + L"\\" + name, lines);
    }
    RegCloseKey(key);
}

int keys() {
    std::vector<std::string> lines;
    const std::vector<std::wstring> ours = vpolv::winetest::registeredKeys();
    for (const auto& [root, name] :
         {std::pair{HKEY_LOCAL_MACHINE, L"HKLM"}, std::pair{HKEY_CURRENT_USER, L"HKCU"}}) {
        for (const auto& key : ours)
            dump(root, L"Software\\Classes\\" + key, std::wstring(name) + L"\\" + key, lines);
    }
    std::sort(lines.begin(), lines.end());
    for (const auto& line : lines)
        std::printf("%s\n", line.c_str());
    return 0;
}

int place(int count) {
    using namespace vpolv::winetest;
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    folder.resize(folder.find_last_of(L'\\') + 1);
    const HMODULE fakeHost = LoadLibraryW((folder + L"vpolv_fake_host.dll").c_str());
    const auto control = fakeHost ? exportOf<vpolv::fakehost::ControlFunction>(
                                        fakeHost, vpolv::fakehost::kControlExport)
                                  : nullptr;
    const auto registerServer =
        fakeHost ? exportOf<EntryPoint>(fakeHost, "DllRegisterServer") : nullptr;
    const auto unregisterServer =
        fakeHost ? exportOf<EntryPoint>(fakeHost, "DllUnregisterServer") : nullptr;
    if (!control || !registerServer || !unregisterServer || FAILED(registerServer())) {
        std::printf("cannot load and register vpolv_fake_host.dll\n");
        return 1;
    }
    int status = 0;
    try {
        const auto plugin = createPlugin();
        for (int i = 0; i < count && status == 0; ++i) {
            Sleep(250);
            control()->reset(cabinetScene());
            Outcome out;
            fire(plugin.get(), vpolv::Event::Place, out);
            if (FAILED(out.hr)) {
                std::printf("placement %d failed: 0x%08lx\n", i + 1,
                            static_cast<unsigned long>(out.hr));
                status = 1;
            }
        }
    } catch (const std::exception& e) {
        std::printf("%s\n", e.what());
        status = 1;
    }
    unregisterServer();
    if (status == 0)
        std::printf("placed %d\n", count);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc >= 2 ? argv[1] : "";
    const int count = command == "place" && argc == 3 ? std::atoi(argv[2]) : 0;
    if (!(argc == 2 && (command == "create" || command == "keys")) && count <= 0) {
        std::fprintf(stderr, "usage: vpolv_probe create|keys|place N\n");
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 2;
    const int status = command == "create" ? create() : command == "keys" ? keys() : place(count);
    CoUninitialize();
    return status;
}
