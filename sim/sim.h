// vpolv-sim, the host simulator: its commands behind one entry, for the program's main and for
// anything else that runs it (a test, another platform's main).
#pragma once

#include <iosfwd>
#include <span>
#include <string>
#include <vector>

namespace vpolv::sim {

// Runs vpolv-sim on its arguments (UTF-8, the program's name left out): what it prints goes to
// out, its messages to err. Returns the exit status.
//
//   vpolv-sim COMMAND [ARGUMENTS...]   run, check, reference, replay, scene-from-trace, help
//   vpolv-sim SCENE --event ...        the older form, and --check, --reference, --replay,
//                                      --scene-from-trace in place of a command
int runSim(std::span<const std::string> args, std::ostream& out, std::ostream& err);

// The program: runSim on standard output and error, once the process is set up for it (a
// reader that goes away is a write error, an interrupt removes what the run left). What each
// system's main hands its command line to.
int simulatorMain(const std::vector<std::string>& args);

}  // namespace vpolv::sim
