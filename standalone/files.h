// The simulator's file access: reads that take regular files only and only up to a size, the
// target of --out and its whole-or-nothing write, and the temporary folders of standalone/.
// Failures come back as reasons in the system's words ("No such file or directory") or ours ("is a
// folder"); nothing here raises a std::filesystem exception.
#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/paths.h"
#include "standalone/interrupt.h"
#include "standalone/temporary_folder.h"

namespace vpolv::standalone {

inline constexpr std::uintmax_t kMiB = 1024 * 1024;

// Whether this is the Windows build: paths are UTF-16 there, and '\\' separates their parts too.
#ifdef _WIN32
inline constexpr bool kWindows = true;
#else
inline constexpr bool kWindows = false;
#endif

// Paths as text. Command lines, scene files, traces and reports hold UTF-8 on every system;
// every conversion between a path and its text goes through these.
using platform::pathFromUtf8;
using platform::utf8Path;
// With '/' between the parts on every system, for paths written into files.
std::string genericUtf8Path(const std::filesystem::path& path);
// Whether text ends in a separator of paths (either slash on Windows); false when empty.
bool endsInSeparator(std::string_view text);

// The system's description of an error, in the same words on every system.
std::string reasonOf(std::error_code error);

// Where a program writes: what it prints, and its messages.
struct Console {
    std::ostream& out;
    std::ostream& err;
    // Writes text to out; false, after a message on err, when it cannot.
    bool print(const std::string& text) const;
};

// Writes text to out, standard output or a stream standing for it; false, after "PROGRAM:
// standard output cannot be written" and the reason on err, when it cannot.
bool printTo(std::ostream& out, std::ostream& err, const std::string& text,
             std::string_view program);

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

}  // namespace vpolv::standalone
