// The simulator's file access: reads that take regular files only and only up to a size, the
// target of --out and its whole-or-nothing write, and the temporary folder that stands for the
// plug-in's folder. Failures come back as reasons in the system's words ("No such file or
// directory") or ours ("is a folder"); nothing here raises a std::filesystem exception.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "sim/system/interrupt.h"

namespace vpolv::sim {

inline constexpr std::uintmax_t kMiB = 1024 * 1024;

// The system's description of an error.
std::string reasonOf(std::error_code error);

// The size written as the messages give it: "1 MiB", "16 MiB", "512 bytes".
std::string sizeText(std::uintmax_t bytes);

// The contents of a regular file of at most maxBytes. Anything else (a folder, a device, a FIFO,
// a larger file, a file that cannot be opened) gives nullopt and the reason.
std::optional<std::string> readRegularFile(const std::filesystem::path& file,
                                           std::uintmax_t maxBytes, std::string& reason);

// The file that writing to `out` replaces: `out` itself, or the file its chain of symbolic links
// leads to. nullopt and the reason when that file exists and is not a regular file, or when its
// folder does not exist.
std::optional<std::filesystem::path> outputTarget(const std::filesystem::path& out,
                                                  std::string& reason);

// Writes target whole or not at all: a temporary file in target's folder, renamed over it (an
// existing target's permissions are kept). nullopt when written, else the reason.
std::optional<std::string> writeWhole(const std::filesystem::path& target,
                                      std::string_view contents);

// A new folder in the system's temporary folder, with the files written into it, removed with
// everything registered in it when the object goes (or the process is interrupted).
class TemporaryFolder {
  public:
    // Raises std::runtime_error with the reason when the folder cannot be made.
    explicit TemporaryFolder(std::string_view prefix);
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Writes a file of the folder; raises std::runtime_error with the reason on failure.
    void write(const std::string& name, std::string_view contents);

  private:
    std::filesystem::path path_;
    std::unique_ptr<Leftover> folder_;
    std::vector<std::unique_ptr<Leftover>> files_;
};

}  // namespace vpolv::sim
