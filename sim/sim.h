// vpolv-sim, the host simulator: its commands behind one entry, for the program's main and for
// anything else that runs it (a test, another platform's main).
#pragma once

#include <iosfwd>
#include <span>
#include <string>

namespace vpolv::sim {

// Runs vpolv-sim on its arguments (UTF-8, the program's name left out): what it prints goes to
// out, its messages to err. Returns the exit status.
//
//   vpolv-sim COMMAND [ARGUMENTS...]   run, check, reference, replay, scene-from-trace, help
//   vpolv-sim SCENE --event ...        the older form, and --check, --reference, --replay,
//                                      --scene-from-trace in place of a command
int runSim(std::span<const std::string> args, std::ostream& out, std::ostream& err);

}  // namespace vpolv::sim
