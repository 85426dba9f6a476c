// The simulator as a function: what each system's main hands the command line to.
#pragma once

#include <string>
#include <vector>

namespace vpolv::sim {

// Runs vpolv-sim with its arguments (the program's name left out), each in UTF-8; returns the
// exit status.
int simulatorMain(const std::vector<std::string>& args);

}  // namespace vpolv::sim
