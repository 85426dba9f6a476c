// The services of the platform the program runs on, for programs and tests that host the core
// themselves.
#pragma once

#include <memory>
#include <string_view>

#include "platform/platform.h"

namespace vpolv::platform {

// The system's file services. moduleFolder stands for the folder of the plug-in library file;
// empty means the folder of the loaded library itself (Windows only).
std::unique_ptr<FileSystem> makeFileSystem(Text moduleFolder = {});
// The system's initialisation-file reader.
std::unique_ptr<Profile> makeProfile();
// The user locale's number conversions.
std::unique_ptr<Locale> makeUserLocale();
// A trace that is always on, into file (the simulator's --trace).
std::unique_ptr<Trace> makeFileTrace(Text file);
// Appends a trace record to file with a single write, rotating the file at Trace::kMaxBytes;
// false when it cannot.
bool appendTraceRecord(const Text& file, std::string_view record) noexcept;

}  // namespace vpolv::platform
