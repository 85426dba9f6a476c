// vpolv-sim: runs host events of the plug-in on scene files and reports what they did.
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "sim/sim.h"
#include "standalone/interrupt.h"

int vpolv::sim::simulatorMain(const std::vector<std::string>& args) {
    installLastResort();
#ifdef SIGPIPE
    // A reader that went away is a write error to report, not a silent end.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    vpolv::standalone::removeLeftoversOnInterrupt();
    return runSim(args, std::cout, std::cerr);
}

#ifndef _WIN32
// Windows has an entry of its own (windows_main.cpp), which reads the command line as UTF-16.
int main(int argc, char** argv) {
    return vpolv::sim::simulatorMain(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
