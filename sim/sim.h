// vpolv-sim, the host simulator: its commands behind one entry, for the program's main and for
// anything else that runs it (a test, another platform's main).
#pragma once

#include <iosfwd>
#include <span>
#include <string>
#include <vector>

namespace vpolv::sim {

// Runs vpolv-sim on its arguments (UTF-8, the program's name left out): what it prints goes to
// out, its messages to err. Returns the exit status; nothing is thrown: anything unexpected
// (memory running out, say) is said on err and gives status 4.
//
//   vpolv-sim COMMAND [ARGUMENTS...]   a command of sim/commands/commands.def, or help
//   vpolv-sim SCENE --event ...        the older form (run), and --check SCENE and the like in
//                                      place of a command (commands.def says which)
int runSim(std::span<const std::string> args, std::ostream& out, std::ostream& err);

// The program: runSim on standard output and error, once the process is set up for it (a
// reader that goes away is a write error, an interrupt removes what the run left, the last
// resort below is in place). What each system's main hands its command line to.
int simulatorMain(const std::vector<std::string>& args);

// Has std::terminate (an exception thrown where no catch reaches it) say what ended the program
// on standard error and end it with status 4, as runSim does, instead of abort().
void installLastResort();

}  // namespace vpolv::sim
