// The Wine test program: registers the fake host and a copy of vpolv.dll, runs the tests in a
// single-threaded apartment, and unregisters everything again.
//
// Usage: vpolv_wine_tests --vpolv=<path of vpolv.dll> [--foreign-first=DLL | --foreign-later=DLL]
//                         [GoogleTest options]
// VPOLV_TESTED_DLL in the environment names another DLL to test instead (the deployment tests
// run the suite on the signed release's DLLs that way); the DLL tested is always printed.
//
// A foreign runtime: another module of the host's process (a plug-in, a codec, a shell
// extension) may have brought a runtime DLL of its own compiler, such as MinGW's
// libgcc_s_dw2-1.dll. --foreign-first loads that DLL before the plug-in is loaded,
// --foreign-later after (the plug-in then stays loaded to the end); the tests run as always.
// The system headers first: see win32.h.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "platform/windows/win32.h"
#include "testkit/wine/support.h"

namespace {

// Loads a DLL for the rest of the run; false (said) when it cannot.
bool loadForeign(const std::string& path, const char* when) {
    if (!LoadLibraryW(vpolv::winetest::windowsPath(path).c_str())) {
        std::fprintf(stderr, "cannot load %s (error %lu)\n", path.c_str(), GetLastError());
        return false;
    }
    std::printf("Loaded %s %s the plug-in\n", path.c_str(), when);
    return true;
}

// The value of an option --name=VALUE, or null.
const char* option(const char* argument, const char* name) {
    const std::size_t length = std::strlen(name);
    return std::strncmp(argument, name, length) == 0 ? argument + length : nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    std::string vpolv, foreignFirst, foreignLater;
    for (int i = 1; i < argc; ++i) {
        if (const char* value = option(argv[i], "--vpolv="))
            vpolv = value;
        else if (const char* value = option(argv[i], "--foreign-first="))
            foreignFirst = value;
        else if (const char* value = option(argv[i], "--foreign-later="))
            foreignLater = value;
    }
    if (const char* other = std::getenv("VPOLV_TESTED_DLL"); other && *other)
        vpolv = other;
    if (vpolv.empty()) {
        std::fprintf(stderr,
                     "usage: %s --vpolv=<vpolv.dll> [--foreign-first=DLL | --foreign-later=DLL] "
                     "[gtest options]\n",
                     argv[0]);
        return 2;
    }
    std::printf("Testing %s\n", vpolv.c_str());
    if (!foreignFirst.empty() && !loadForeign(foreignFirst, "before"))
        return 2;
    std::fflush(stdout);
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 2;
    int status = 1;
    try {
        vpolv::winetest::setUp(vpolv::winetest::windowsPath(vpolv));
        if (!foreignLater.empty() && (!LoadLibraryW(vpolv::winetest::paths().vpolvDll.c_str()) ||
                                      !loadForeign(foreignLater, "after")))
            throw std::runtime_error("the plug-in or the foreign runtime did not load");
        std::fflush(stdout);
        status = RUN_ALL_TESTS();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "set-up failed: %s\n", e.what());
    }
    vpolv::winetest::tearDown();
    CoUninitialize();
    return status;
}
