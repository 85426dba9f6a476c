// vpolv_crash_dump: a host that crashes inside one of its own operations while vpolv.dll is in
// the middle of an event, and the crash dump such a host's process leaves for support.
//
//   vpolv_crash_dump --vpolv=<vpolv.dll> --dump=<file>
//
// A placement on the cabinet scene runs once to learn the number of the first host call of the
// glass surcharge step (the look-up of its table-4 line), then again with the fake host crashing
// in that call. The unhandled-exception filter writes the dump with the exception's thread and
// context, and the process ends with the exception's code. Exit code 1 when nothing crashed, 2
// on a usage or set-up error.
//
// The dump is a normal one (stacks, registers, the list of modules): a debugger reads the rest
// (code, the x64 unwind tables, symbols) from the modules' files at the paths the dump records.
// So the test folder (see testkit/wine/support.h) is made beside the dump, with vpolv.pdb copied
// beside its vpolv.dll, and outlives the process, which ends in the filter: set-up's
// registrations stay in the Wine prefix too (every test program makes its own at start).
// The system headers first: see win32.h.
#include "platform/windows/win32.h"
// clang-format off
#include <dbghelp.h>
// clang-format on

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "catalog/catalog.h"
#include "testkit/wine/support.h"

namespace {

using vpolv::Event;
namespace win = vpolv::win;
using namespace vpolv::winetest;

// The dump file, opened before the crash; the filter only writes to it.
HANDLE gDump = INVALID_HANDLE_VALUE;

LONG WINAPI writeDump(EXCEPTION_POINTERS* exception) {
    MINIDUMP_EXCEPTION_INFORMATION info{GetCurrentThreadId(), exception, FALSE};
    if (MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), gDump, MiniDumpNormal, &info,
                          nullptr, nullptr)) {
        std::printf("crash dump written (exception 0x%08lX)\n",
                    exception->ExceptionRecord->ExceptionCode);
    } else {
        std::printf("MiniDumpWriteDump failed (error %lu)\n", GetLastError());
    }
    std::fflush(stdout);
    return EXCEPTION_EXECUTE_HANDLER;
}

// The number of the first host call of the glass surcharge step in a cabinet placement (the
// look-up of its line in table 4, the call's second argument); 0 when there is none.
std::size_t firstSurchargeCall(IDispatch* plugin) {
    fakeHost().reset(cabinetScene());
    Outcome out;
    fire(plugin, Event::Place, out);
    const std::string table = ", I2 " + std::to_string(vpolv::kTable4) + ",";
    const auto calls = fakeHost().calls();
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].rfind("Catalog.TableGetLineRankFromName(", 0) == 0 &&
            calls[i].find(table) != std::string::npos)
            return i + 1;
    }
    return 0;
}

// The PDB's path beside a DLL's.
std::wstring pdbOf(const std::wstring& dll) {
    return dll.substr(0, dll.find_last_of(L'.')) + L".pdb";
}

// Copies vpolv.pdb beside the test folder's vpolv.dll, then places the cabinet with the host
// crashing in the first call of the glass surcharge step. Returns only when nothing crashed.
int crashInSurchargeStep(const std::wstring& builtVpolvDll) {
    if (!CopyFileW(pdbOf(builtVpolvDll).c_str(), pdbOf(paths().vpolvDll).c_str(), FALSE)) {
        std::fprintf(stderr, "no vpolv.pdb beside vpolv.dll\n");
        return 2;
    }
    const ComPtr<IDispatch> plugin = createPlugin();
    const std::size_t n = firstSurchargeCall(plugin.get());
    if (n == 0) {
        std::fprintf(stderr, "the placement made no call of the glass surcharge step\n");
        return 2;
    }
    std::printf("crashing in host call %zu\n", n);
    std::fflush(stdout);
    SetUnhandledExceptionFilter(writeDump);
    fakeHost().reset(cabinetScene());
    fakeHost().crashInCall(n);
    Outcome out;
    fire(plugin.get(), Event::Place, out);
    std::fprintf(stderr, "the host did not crash (the placement returned 0x%08lX)\n",
                 static_cast<unsigned long>(out.hr));
    return 1;
}

const char* option(const char* argument, const char* name) {
    const std::size_t length = std::strlen(name);
    return std::strncmp(argument, name, length) == 0 ? argument + length : nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    std::string vpolvDll, dumpPath;
    for (int i = 1; i < argc; ++i) {
        if (const char* value = option(argv[i], "--vpolv="))
            vpolvDll = value;
        else if (const char* value = option(argv[i], "--dump="))
            dumpPath = value;
    }
    if (vpolvDll.empty() || dumpPath.empty()) {
        std::fprintf(stderr, "usage: %s --vpolv=<vpolv.dll> --dump=<file>\n", argv[0]);
        return 2;
    }
    const std::wstring dump = windowsPath(dumpPath);
    const win::UniqueFile file(CreateFileW(dump.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        std::fprintf(stderr, "cannot write %s\n", dumpPath.c_str());
        return 2;
    }
    gDump = file.get();
    // GetTempPathW answers TMP first: the test folder goes beside the dump.
    SetEnvironmentVariableW(L"TMP", dump.substr(0, dump.find_last_of(L'\\') + 1).c_str());
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 2;
    int status = 2;
    try {
        const std::wstring built = windowsPath(vpolvDll);
        setUp(built);
        status = crashInSurchargeStep(built);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "set-up failed: %s\n", e.what());
    }
    tearDown();
    CoUninitialize();
    return status;
}
