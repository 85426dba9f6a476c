// vpolv-sim.exe: on Windows the simulator checks the machine's set-up of the plug-in
// (vpolv-sim doctor); the events run in the native simulator.
#include "platform/windows/win32.h"
// clang-format off
#include <shellapi.h>
// clang-format on

#include <iostream>
#include <string>
#include <vector>

#include "common/release.h"
#include "common/text.h"
#include "platform/windows/com_support.h"
#include "sim/doctor.h"

int main() {
    // The arguments as the system has them, in UTF-16, whatever the console's code page.
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 1; wide && i < count; ++i)
        args.push_back(vpolv::toUtf8(vpolv::win::fromWide(wide[i], wcslen(wide[i]))));
    LocalFree(wide);
    if (!args.empty() && args[0] == "doctor")
        return vpolv::sim::doctor::command(std::vector<std::string>(args.begin() + 1, args.end()));
    if (args.size() == 1 && args[0] == "--version") {
        std::cout << "vpolv " << vpolv::kVersion << "\n";
        return 0;
    }
    std::cerr << "vpolv-sim: on Windows only the doctor runs here\n" << vpolv::sim::doctor::kUsage;
    return 2;
}
