// The Wine test program: registers the fake host and a copy of vpolv.dll, runs the tests in a
// single-threaded apartment, and unregisters everything again.
//
// Usage: vpolv_wine_tests --vpolv=<path of the built vpolv.dll> [GoogleTest options]
// The system headers first: see win32.h.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/windows/win32.h"
#include "testkit/wine/support.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    std::string vpolv;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--vpolv=", 8) == 0)
            vpolv = argv[i] + 8;
    }
    if (vpolv.empty()) {
        std::fprintf(stderr, "usage: %s --vpolv=<vpolv.dll> [gtest options]\n", argv[0]);
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 2;
    int status = 1;
    try {
        vpolv::winetest::setUp(vpolv::winetest::windowsPath(vpolv));
        status = RUN_ALL_TESTS();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "set-up failed: %s\n", e.what());
    }
    vpolv::winetest::tearDown();
    CoUninitialize();
    return status;
}
