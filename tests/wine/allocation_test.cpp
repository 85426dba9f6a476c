// The DLL's own automation allocations of a placement made to fail in turn: its import table
// entries for the runtime's allocating functions point at stand-ins that count the calls and
// fail the n-th, from the first until the placement runs through. Every run ends True with the
// host calls of a run with memory enough, or with E_OUTOFMEMORY; each started session is ended
// once; every host object is released; the trace, on, changes nothing of it. The file calls of
// the catalog search and the SPACE.INI read are failed in turn the same way, as when memory runs
// out inside the system: each ends the placement with E_OUTOFMEMORY and writes nothing.
// The system headers first: see win32.h.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "common/text.h"
#include "platform/windows/win32.h"
#include "testkit/wine/support.h"

namespace vpolv::winetest {
namespace {

std::size_t gCalls = 0;
std::size_t gFailAt = 0;  // 0: none fails

bool failNow() {
    return ++gCalls == gFailAt;
}

BSTR WINAPI countedSysAllocString(const OLECHAR* text) {
    return failNow() ? nullptr : SysAllocString(text);
}
BSTR WINAPI countedSysAllocStringLen(const OLECHAR* text, UINT length) {
    return failNow() ? nullptr : SysAllocStringLen(text, length);
}
HRESULT WINAPI countedVariantChangeTypeEx(VARIANTARG* to, VARIANTARG* from, LCID locale,
                                          USHORT flags, VARTYPE type) {
    return failNow() ? E_OUTOFMEMORY : VariantChangeTypeEx(to, from, locale, flags, type);
}

// The file calls: the chosen one fails as when memory has run out, and is named here.
const char* gFailedCall = nullptr;

bool fileCallFails(const char* name) {
    if (!failNow())
        return false;
    gFailedCall = name;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return true;
}

HANDLE WINAPI countedFindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
    return fileCallFails("FindFirstFileW") ? INVALID_HANDLE_VALUE : FindFirstFileW(pattern, data);
}
BOOL WINAPI countedFindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data) {
    return fileCallFails("FindNextFileW") ? FALSE : FindNextFileW(find, data);
}
BOOL WINAPI countedGetFileAttributesExW(LPCWSTR name, GET_FILEEX_INFO_LEVELS level, LPVOID info) {
    return fileCallFails("GetFileAttributesExW") ? FALSE : GetFileAttributesExW(name, level, info);
}
HANDLE WINAPI countedCreateFileW(LPCWSTR name, DWORD access, DWORD share,
                                 LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                 HANDLE model) {
    return fileCallFails("CreateFileW")
               ? INVALID_HANDLE_VALUE
               : CreateFileW(name, access, share, security, disposition, flags, model);
}
BOOL WINAPI countedGetFileSizeEx(HANDLE file, PLARGE_INTEGER size) {
    return fileCallFails("GetFileSizeEx") ? FALSE : GetFileSizeEx(file, size);
}
BOOL WINAPI countedReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read,
                            LPOVERLAPPED overlapped) {
    return fileCallFails("ReadFile") ? FALSE : ReadFile(file, buffer, size, read, overlapped);
}

struct Placement {
    bool failed = false;  // the chosen call failed
    HRESULT hr = E_FAIL;
    HRESULT scode = S_OK;
    bool result = false;
    std::vector<std::string> calls;
    std::string description;
    std::size_t writes = 0;
};

std::size_t count(const std::vector<std::string>& calls, const std::string& prefix) {
    return static_cast<std::size_t>(std::count_if(
        calls.begin(), calls.end(), [&](const auto& c) { return c.starts_with(prefix); }));
}

// One placement with the n-th counted call failing (none with 0).
Placement place(IDispatch* plugin, std::size_t n, std::size_t textAnswer) {
    fakeHost().reset(cabinetScene());
    fakeHost().answerWithText(textAnswer, L"3");
    gCalls = 0;
    gFailAt = n;
    Outcome out;
    fire(plugin, Event::Place, out);
    Placement run{gCalls >= n && n > 0,
                  out.hr,
                  out.scode,
                  false,
                  fakeHost().calls(),
                  toUtf8(out.description),
                  fakeHost().memory().writes().size()};
    gFailAt = 0;
    run.result = V_VT(out.value.get()) == VT_BOOL && V_BOOL(out.value.get()) == VARIANT_TRUE;
    return run;
}

TEST(Allocation, EveryAutomationAllocationOfAPlacementThatFailsEndsItCleanly) {
    const ComPtr<IDispatch> plugin = createPlugin();
    const HMODULE dll = GetModuleHandleW(paths().vpolvDll.c_str());
    ASSERT_NE(dll, nullptr);
    // The number of the cabinet's children comes as text, as some hosts answer numbers: the
    // DLL converts it with VariantChangeTypeEx.
    const std::vector<std::string> calls = place(plugin.get(), 0, 0).calls;
    const auto children = std::find_if(calls.begin(), calls.end(), [](const std::string& c) {
        return c.starts_with("Scene.ObjectGetChildrenNb(");
    });
    ASSERT_NE(children, calls.end());
    const auto textAnswer = static_cast<std::size_t>(children - calls.begin()) + 1;

    const ImportPatch patches[] = {
        {dll, "oleaut32.dll", "SysAllocString", reinterpret_cast<void*>(&countedSysAllocString)},
        {dll, "oleaut32.dll", "SysAllocStringLen",
         reinterpret_cast<void*>(&countedSysAllocStringLen)},
        {dll, "oleaut32.dll", "VariantChangeTypeEx",
         reinterpret_cast<void*>(&countedVariantChangeTypeEx)}};
    EXPECT_TRUE(patches[1].found() && patches[2].found());
    const Placement clean = place(plugin.get(), 0, textAnswer);
    ASSERT_TRUE(clean.hr == S_OK && clean.result);
    ASSERT_GT(gCalls, 0u);

    // With VPOLV_ALLOCATION_TRACE set, the records of the traced runs stay there, for the
    // simulator to replay: a call that ran out of memory is recorded with that error.
    const char* kept = std::getenv("VPOLV_ALLOCATION_TRACE");
    const std::wstring file =
        kept ? windowsPath(kept) : paths().folder + L"\\allocation-trace.jsonl";
    DeleteFileW(file.c_str());
    std::size_t points[2] = {};
    for (const bool traced : {false, true}) {
        if (traced) {
            RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\vpolv", L"TraceFile", REG_SZ,
                            file.c_str(), static_cast<DWORD>((file.size() + 1) * sizeof(wchar_t)));
        }
        for (std::size_t n = 1;; ++n) {
            const Placement run = place(plugin.get(), n, textAnswer);
            const std::string where =
                std::string(traced ? "traced, " : "") + "call " + std::to_string(n);
            if (run.hr == S_OK) {
                EXPECT_TRUE(run.result) << where;
                EXPECT_EQ(run.calls, clean.calls) << where;
            } else {
                EXPECT_EQ(run.hr, DISP_E_EXCEPTION) << where;
                EXPECT_EQ(run.scode, E_OUTOFMEMORY) << where;
            }
            EXPECT_EQ(count(run.calls, "Appli.EndSession("),
                      count(run.calls, "Appli.StartSessionFromCallParams("))
                << where;
            EXPECT_EQ(fakeHost().liveObjects(), 0) << where;
            EXPECT_EQ(fakeHost().liveReferences(), 0) << where;
            if (!run.failed)
                break;
            points[traced] = n;
        }
    }
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\vpolv", L"TraceFile");
    if (!kept)
        DeleteFileW(file.c_str());
    // The trace makes no automation allocation of its own.
    EXPECT_EQ(points[1], points[0]);
    std::printf("automation allocations of a placement: %zu\n", points[0]);
}

std::vector<BSTR> gFreedTexts;
bool gFailAfterAHostError = false;  // the first allocation after the host's error fails

void WINAPI keptSysFreeString(BSTR text) {
    if (text)
        gFreedTexts.push_back(text);
    SysFreeString(text);
}
void* __cdecl mallocFailingAfterAHostError(std::size_t size) {
    if (gFailAfterAHostError && !fakeHost().exceptionTexts().empty()) {
        gFailAfterAHostError = false;
        return nullptr;
    }
    return std::malloc(size);
}

// A host call that fails with exception information, and memory that runs out right after it
// (copying back its by-reference texts): the event fails with E_OUTOFMEMORY, and the texts of
// the exception information are freed all the same.
TEST(Allocation, TheTextsOfAHostErrorAreFreedWhenMemoryRunsOutAfterIt) {
    const ComPtr<IDispatch> plugin = createPlugin();
    const HMODULE dll = GetModuleHandleW(paths().vpolvDll.c_str());
    const ImportPatch patches[] = {
        {dll, "oleaut32.dll", "SysFreeString", reinterpret_cast<void*>(&keptSysFreeString)},
        {dll, "msvcrt.dll", "malloc", reinterpret_cast<void*>(&mallocFailingAfterAHostError)}};
    ASSERT_TRUE(patches[0].found() && patches[1].found());
    fakeHost().reset(cabinetScene());
    fakeHost().failuresChangeTexts(true);
    // The catalog's loading takes its two texts by reference.
    fakeHost().memory().failOperation(
        host::Operation::FileLoad,
        Error(static_cast<std::int32_t>(0x80041234), u"No catalog", u"KDSDK"));
    gFreedTexts.clear();
    gFailAfterAHostError = true;
    Outcome out;
    fire(plugin.get(), Event::Place, out);
    EXPECT_FALSE(gFailAfterAHostError);
    gFailAfterAHostError = false;
    EXPECT_EQ(out.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(out.scode, E_OUTOFMEMORY);
    const std::vector<BSTR> handedOut = fakeHost().exceptionTexts();
    ASSERT_EQ(handedOut.size(), 2u);
    for (const BSTR text : handedOut) {
        EXPECT_NE(std::find(gFreedTexts.begin(), gFreedTexts.end(), text), gFreedTexts.end())
            << "a text of the host's error was never freed";
    }
}

TEST(Allocation, EachFileCallOfAPlacementThatFailsFailsItWithTheSystemsError) {
    const ComPtr<IDispatch> plugin = createPlugin();
    const HMODULE dll = GetModuleHandleW(paths().vpolvDll.c_str());
    ASSERT_NE(dll, nullptr);
    const Placement clean = place(plugin.get(), 0, 0);
    ASSERT_TRUE(clean.hr == S_OK && clean.result);
    ASSERT_GT(clean.writes, 0u);

    const std::string names[] = {"FindFirstFileW", "FindNextFileW", "GetFileAttributesExW",
                                 "CreateFileW",    "GetFileSizeEx", "ReadFile"};
    void* const standIns[] = {reinterpret_cast<void*>(&countedFindFirstFileW),
                              reinterpret_cast<void*>(&countedFindNextFileW),
                              reinterpret_cast<void*>(&countedGetFileAttributesExW),
                              reinterpret_cast<void*>(&countedCreateFileW),
                              reinterpret_cast<void*>(&countedGetFileSizeEx),
                              reinterpret_cast<void*>(&countedReadFile)};
    std::vector<std::unique_ptr<ImportPatch>> patches;
    for (std::size_t i = 0; i < std::size(names); ++i) {
        patches.push_back(
            std::make_unique<ImportPatch>(dll, "kernel32.dll", names[i].c_str(), standIns[i]));
        EXPECT_TRUE(patches.back()->found()) << names[i];
    }
    std::set<std::string> failed;
    std::size_t n = 1;
    for (;; ++n) {
        gFailedCall = nullptr;
        const Placement run = place(plugin.get(), n, 0);
        if (!run.failed)
            break;
        const std::string where = std::string(gFailedCall) + " (call " + std::to_string(n) + ")";
        failed.insert(gFailedCall);
        EXPECT_EQ(run.hr, DISP_E_EXCEPTION) << where;
        EXPECT_EQ(run.scode, E_OUTOFMEMORY) << where;
        EXPECT_TRUE(run.description.starts_with("Could not ")) << where << ": " << run.description;
        EXPECT_TRUE(run.description.ends_with("': Out of memory"))
            << where << ": " << run.description;
        EXPECT_TRUE(run.description.find("\\SPACE.INI'") != std::string::npos ||
                    run.description.find("\\catalogs\\") != std::string::npos)
            << where << ": " << run.description;
        EXPECT_EQ(run.writes, 0u) << where;
        EXPECT_EQ(count(run.calls, "Appli.EndSession("),
                  count(run.calls, "Appli.StartSessionFromCallParams("))
            << where;
        EXPECT_EQ(fakeHost().liveObjects(), 0) << where;
    }
    EXPECT_EQ(failed, std::set<std::string>(std::begin(names), std::end(names)));
    std::printf("file calls of a placement: %zu\n", n - 1);
}

}  // namespace
}  // namespace vpolv::winetest
