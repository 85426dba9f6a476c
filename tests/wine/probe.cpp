// vpolv_probe: what a client of one bitness sees of an installed vpolv.dll, for the deployment
// tests (tests/deploy), which build it for both bitnesses.
//
//   vpolv_probe create   creates vpolv.Plugin by its ProgID and prints "loaded <path of the DLL
//                        that serves it>"; exit 1 when it cannot be created
//   vpolv_probe keys     prints every registry key and value of vpolv below
//                        HKLM\Software\Classes and HKCU\Software\Classes, as this bitness's
//                        registry view shows them, sorted: "<key>" and "<key>|<name>|<data>"
// The system headers first: see win32.h.
#include "platform/windows/win32.h"
// clang-format off
#include <objbase.h>
// clang-format on

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "com/vpolv_h.h"

namespace {

std::string utf8(const std::wstring& text) {
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

std::wstring guidText(REFGUID guid) {
    wchar_t text[40];
    StringFromGUID2(guid, text, 40);
    return text;
}

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
    const std::wstring ours[] = {L"vpolv.Plugin", L"CLSID\\" + guidText(CLSID_Plugin),
                                 L"Interface\\" + guidText(IID__Plugin),
                                 L"TypeLib\\" + guidText(LIBID_vpolv)};
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

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc == 2 ? argv[1] : "";
    if (command != "create" && command != "keys") {
        std::fprintf(stderr, "usage: vpolv_probe create|keys\n");
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 2;
    const int status = command == "create" ? create() : keys();
    CoUninitialize();
    return status;
}
