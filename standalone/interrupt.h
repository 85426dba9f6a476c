// Leaving nothing behind when a program is interrupted.
//
// The files and folders a run creates for a while (a temporary folder and the files written into
// it, the simulator's temporary file of --out) are registered here while they exist. Once a
// program installs the handler, SIGINT or SIGTERM removes them with async-signal-safe calls
// only, then ends the process by the same signal.
#pragma once

#include <filesystem>

namespace vpolv::standalone {

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

}  // namespace vpolv::standalone
