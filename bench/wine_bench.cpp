// vpolv.dll's own cost per host call under COM: each event through IDispatch::Invoke on the
// plug-in, against the fake host SDK of the Wine tests, versus a bare replay of the same host
// objects, name look-ups and calls (same argument types), SPACE.INI reads and catalogs-folder
// listings, made straight by this program.
//
//   vpolv-bench.exe --vpolv=<path of the built vpolv.dll> [--quick] [--case NAME]...
// The system headers first: see win32.h.
#include "platform/windows/win32.h"
// clang-format off
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>
// clang-format on

#include "bench/measure.h"
#include "bench/scenes.h"
#include "common/text.h"
#include "host/host.h"
#include "platform/windows/com_support.h"
#include "platform/windows/windows_platform_impl.h"
#include "testkit/wine/support.h"

namespace vpolv::bench {
namespace {

using win::ComPtr;
using winetest::fakeHost;
using winetest::paths;

// One recorded argument, as the fake host wrote it: I4& 7, I2 -2, I4 2, BSTR "x", BSTR& "x",
// BOOL False.
struct Arg {
    VARTYPE type = VT_EMPTY;
    LONG number = 0;
    std::wstring text;
};

// One recorded host call, ready to be made again.
struct Step {
    int object = -1;  // a host::ObjectKind
    DISPID id = DISPID_UNKNOWN;
    std::wstring operation;
    std::vector<Arg> args;
    std::optional<host::Operation> op;  // the operation the name is, if any
};

// The closing quote of a text that starts at from: the quote before ", <next argument>" or
// before the final ")".
std::size_t closingQuote(const std::string& line, std::size_t from) {
    for (std::size_t p = line.find('"', from); p != std::string::npos; p = line.find('"', p + 1)) {
        if (p + 2 == line.size() && line[p + 1] == ')')
            return p;
        for (const char* next : {"\", I", "\", BSTR", "\", BOOL"}) {
            if (line.compare(p, std::strlen(next), next) == 0)
                return p;
        }
    }
    throw std::runtime_error("unterminated text in " + line);
}

Step parse(const std::string& line) {
    const auto dot = line.find('.');
    const auto open = line.find('(');
    Step step;
    if (const auto object = host::objectNamed(std::string_view(line).substr(0, dot)))
        step.object = static_cast<int>(*object);
    if (step.object < 0 || open == std::string::npos || line.back() != ')')
        throw std::runtime_error("not a host call: " + line);
    const std::string name = line.substr(dot + 1, open - dot - 1);
    step.operation = win::toWide(fromUtf8(name));
    step.op = host::operationNamed(name);
    std::size_t p = open + 1;
    while (p < line.size() - 1) {
        const auto space = line.find(' ', p);
        const std::string kind = line.substr(p, space - p);
        Arg arg;
        std::size_t end;
        if (kind == "BSTR" || kind == "BSTR&") {
            arg.type = kind == "BSTR" ? VT_BSTR : VT_BYREF | VT_BSTR;
            const auto close = closingQuote(line, space + 2);
            arg.text = win::toWide(fromUtf8(line.substr(space + 2, close - space - 2)));
            end = close + 1;
        } else {
            end = line.find_first_of(",)", space);
            const std::string value = line.substr(space + 1, end - space - 1);
            if (kind == "BOOL") {
                arg.type = VT_BOOL;
                arg.number = value == "True" ? VARIANT_TRUE : VARIANT_FALSE;
            } else {
                arg.type = kind == "I2" ? VT_I2 : kind == "I4" ? VT_I4 : VT_BYREF | VT_I4;
                if (kind != "I2" && kind != "I4" && kind != "I4&")
                    throw std::runtime_error("unknown argument kind in " + line);
                arg.number = std::stol(value);
            }
        }
        step.args.push_back(std::move(arg));
        p = end + (line.compare(end, 2, ", ") == 0 ? 2 : 0);
    }
    return step;
}

ComPtr<IDispatch> create(const wchar_t* progId) {
    CLSID clsid;
    ComPtr<IDispatch> object;
    if (FAILED(CLSIDFromProgID(progId, &clsid)) ||
        FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, IID_IDispatch, object.putVoid())))
        throw std::runtime_error("cannot create a host object");
    return object;
}

DISPID lookUp(IDispatch* object, const std::wstring& name) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name.c_str())};
    if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)))
        throw std::runtime_error("unknown host operation");
    return id;
}

// Makes the call as any client does: fresh BSTRs for the texts, variables for the values
// passed by reference, the result cleared.
void call(IDispatch* object, const Step& step) {
    const std::size_t n = step.args.size();
    VARIANT args[8];
    LONG longs[8];
    BSTR texts[8];
    for (std::size_t i = 0; i < n; ++i) {
        const Arg& a = step.args[i];
        VARIANT& v = args[n - 1 - i];  // last argument first
        VariantInit(&v);
        V_VT(&v) = a.type;
        switch (a.type) {
            case VT_I2:
                V_I2(&v) = static_cast<SHORT>(a.number);
                break;
            case VT_I4:
                V_I4(&v) = a.number;
                break;
            case VT_BYREF | VT_I4:
                longs[i] = a.number;
                V_I4REF(&v) = &longs[i];
                break;
            case VT_BOOL:
                V_BOOL(&v) = static_cast<VARIANT_BOOL>(a.number);
                break;
            case VT_BSTR:
                texts[i] = SysAllocStringLen(a.text.data(), static_cast<UINT>(a.text.size()));
                V_BSTR(&v) = texts[i];
                break;
            case VT_BYREF | VT_BSTR:
                texts[i] = SysAllocStringLen(a.text.data(), static_cast<UINT>(a.text.size()));
                V_BSTRREF(&v) = &texts[i];
                break;
        }
    }
    DISPPARAMS params{args, nullptr, static_cast<UINT>(n), 0};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO info{};
    UINT argError = 0;
    const HRESULT hr = object->Invoke(step.id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                      &params, &result, &info, &argError);
    VariantClear(&result);
    for (std::size_t i = 0; i < n; ++i) {
        if (step.args[i].type == VT_BSTR || step.args[i].type == (VT_BYREF | VT_BSTR))
            SysFreeString(texts[i]);
    }
    if (FAILED(hr))
        throw std::runtime_error("a replayed host call failed");
}

// The three host objects, their name look-ups and the calls of one event.
void replay(std::vector<Step>& steps) {
    ComPtr<IDispatch> objects[std::size(host::kHostObjects)];
    std::map<std::pair<int, std::wstring>, DISPID> ids;
    for (std::size_t o = 0; o < std::size(host::kHostObjects); ++o)
        objects[o] = create(host::kHostObjects[o].progIdWide);
    for (Step& step : steps) {
        auto [found, added] = ids.try_emplace({step.object, step.operation}, DISPID_UNKNOWN);
        if (added)
            found->second = lookUp(objects[step.object].get(), step.operation);
        step.id = found->second;
        call(objects[step.object].get(), step);
    }
}

// What the plug-in asks of the system before each catalog load: its own folder, the catalogs
// folder from SPACE.INI (sections Local, InSitu, Remote until one names it), that folder's
// listing, and the attributes of the catalog file in each subfolder.
void iniAndFolder() {
    wchar_t module[MAX_PATH];
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    const std::wstring ini = paths().folder + L"\\SPACE.INI";
    wchar_t buffer[256];
    std::wstring dir;
    for (const wchar_t* section : {L"Local", L"InSitu", L"Remote"}) {
        const DWORD length =
            GetPrivateProfileStringW(section, L"CatalogsDir", L"", buffer, 256, ini.c_str());
        dir.assign(buffer, length);
        if (!dir.empty())
            break;
    }
    WIN32_FIND_DATAW data;
    const win::UniqueFind find(FindFirstFileW((dir + L"*").c_str(), &data));
    if (!find)
        throw std::runtime_error("cannot list the catalogs folder");
    std::vector<std::wstring> subfolders;
    do {
        const std::wstring name = data.cFileName;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != L"." && name != L"..")
            subfolders.push_back(name);
    } while (FindNextFileW(find.get(), &data));
    for (const auto& name : subfolders) {
        WIN32_FILE_ATTRIBUTE_DATA attributes;
        GetFileAttributesExW((dir + name + L"\\polvas10.cat").c_str(), GetFileExInfoStandard,
                             &attributes);
    }
}

void clearRecords() {
    fakeHost().clearRecords();
    fakeHost().memory().clearRecords();
}

struct Bench {
    Case c;
    ComPtr<IDispatch> plugin = winetest::createPlugin();
    DISPID method = lookUp(plugin.get(), win::toWide(fromUtf8(eventMethodName(c.event))));
    std::vector<Step> steps;
    std::size_t loads = 0;
    int lookups = 0;  // the most look-ups of one name on one host object during an event

    explicit Bench(Case cs) : c(std::move(cs)) {
        fakeHost().reset(c.scene);
        // Twice: the second event reads what the first one wrote, as every later one does.
        event();
        clearRecords();
        const auto before = fakeHost().lookups();
        event();
        for (const auto& [name, count] : fakeHost().lookups()) {
            const auto old = before.find(name);
            lookups = std::max(lookups, count - (old == before.end() ? 0 : old->second));
        }
        if (fakeHost().memory().writes().size() != c.writes) {
            throw std::runtime_error(
                c.name + ": " + std::to_string(fakeHost().memory().writes().size()) +
                " surcharge writes, " + std::to_string(c.writes) + " expected");
        }
        for (const auto& line : fakeHost().calls()) {
            steps.push_back(parse(line));
            loads += steps.back().op == host::Operation::FileLoad;
        }
        clearRecords();
    }

    void event() {
        VARIANT block;
        VariantInit(&block);
        V_VT(&block) = VT_I4;
        V_I4(&block) = kCallParams;
        DISPPARAMS params{&block, nullptr, 1, 0};
        VARIANT result;
        VariantInit(&result);
        EXCEPINFO info{};
        UINT argError = 0;
        const HRESULT hr = plugin->Invoke(method, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                          &params, &result, &info, &argError);
        const bool ok = SUCCEEDED(hr) && V_VT(&result) == VT_BOOL && V_BOOL(&result);
        VariantClear(&result);
        if (!ok)
            throw std::runtime_error(c.name + ": the event did not succeed");
    }
};

// Times the case against its bare replay; adds its row (with the look-ups) and gives its
// seconds per event.
double measure(const std::string& name, int rounds, double blockSeconds, Table& table) {
    Bench bench(makeCase(name));
    Side event{[&] { bench.event(); }, clearRecords};
    Side replayed{[&] { replay(bench.steps); }, clearRecords};
    Side files{[&] {
        for (std::size_t n = 0; n < bench.loads; ++n)
            iniAndFolder();
    }};
    // One cheap host call with its dispatch id known: an information of a scene object.
    const ComPtr<IDispatch> scene = create(host::objectInfo(host::ObjectKind::Scene).progIdWide);
    Step bareStep{1,
                  lookUp(scene.get(), L"ObjectGetInfo"),
                  L"ObjectGetInfo",
                  {{VT_BYREF | VT_I4, bench.c.scene.sessionId, {}},
                   {VT_BYREF | VT_I4, bench.c.scene.sceneObjects.front(), {}},
                   {VT_I4, 2, {}}},
                  host::Operation::ObjectGetInfo};
    Side bare{[&] { call(scene.get(), bareStep); }, clearRecords, true};

    return timeCase(name, bench.steps.size(), {event, replayed, files, bare}, rounds, blockSeconds,
                    table, {std::to_string(bench.lookups)});
}

// What the trace switch adds to an event when nothing changed in the registry: one look at it,
// as every event makes before anything else; beside it, one wait that does not wait, for scale.
void traceSwitch(bool quick) {
    const platform::windows::WindowsTrace trace;
    const win::UniqueHandle unset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    Side look{[&] { trace.file(); }, [] {}, true};
    Side wait{[&] { WaitForSingleObject(unset.get(), 0); }, [] {}, true};
    calibrate({&look, &wait}, quick ? 0.02 : 0.1);
    const auto seconds = interleave({&look, &wait}, quick ? 3 : 15);
    std::printf(
        "trace switch, nothing changed: %.2f us per event (one zero-timeout wait: %.2f us)\n",
        median(seconds[0]) * 1e6, median(seconds[1]) * 1e6);
}

int usage() {
    std::fprintf(stderr, "usage: vpolv-bench.exe --vpolv=<vpolv.dll> [--quick] [--case NAME]...\n");
    return 2;
}

int run(const std::vector<std::string>& cases, bool quick) {
    measureCases("wine: vpolv.dll under COM against the fake host", cases, quick, {"lookups"},
                 measure);
    traceSwitch(quick);
    return 0;
}

}  // namespace
}  // namespace vpolv::bench

int main(int argc, char** argv) {
    using namespace vpolv::bench;
    std::string vpolv;
    bool quick = false;
    std::vector<std::string> cases;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--vpolv=", 0) == 0) {
            vpolv = arg.substr(8);
        } else if (arg == "--quick") {
            quick = true;
        } else if (arg == "--case" && i + 1 < argc) {
            cases.push_back(argv[++i]);
        } else {
            return usage();
        }
    }
    if (vpolv.empty())
        return usage();
    if (cases.empty())
        cases = caseNames();
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 2;
    int status = 1;
    try {
        vpolv::winetest::setUp(vpolv::winetest::windowsPath(vpolv));
        status = run(cases, quick);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vpolv-bench: %s\n", e.what());
    }
    vpolv::winetest::tearDown();
    CoUninitialize();
    return status;
}
