// Leaving nothing behind when the simulator is interrupted.
//
// The files and folders a run creates for a while (the folder that stands for the plug-in's
// folder, its "SPACE.INI", the temporary file of --out) are registered here while they exist. On
// SIGINT or SIGTERM a handler removes them with async-signal-safe calls only, then ends the
// process by the same signal.
#pragma once

#include <filesystem>

namespace vpolv::sim {

// Installs the handler for SIGINT and SIGTERM.
void removeLeftoversOnInterrupt();

// A registered file or (empty) folder; registration ends with the object. Folders are removed
// after files. At most a few are registered at once; beyond that, registering does nothing.
class Leftover {
  public:
    enum class Kind { File, Folder };
    Leftover(const std::filesystem::path& path, Kind kind);
    ~Leftover();
    Leftover(const Leftover&) = delete;
    Leftover& operator=(const Leftover&) = delete;

  private:
    int slot_;
};

// What the handler does before it ends the process: removes every registered file, then every
// registered folder. Async-signal-safe.
void removeLeftovers() noexcept;

}  // namespace vpolv::sim
