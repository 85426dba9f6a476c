// vpolv-sim: runs host events of the plug-in on scene files and reports what they did.
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "sim/sim.h"
#include "sim/system/interrupt.h"

int main(int argc, char** argv) {
#ifdef SIGPIPE
    // A reader that went away is a write error to report, not a silent end.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    vpolv::sim::removeLeftoversOnInterrupt();
    const std::vector<std::string> args(argv + 1, argv + argc);
    return vpolv::sim::runSim(args, std::cout, std::cerr);
}
