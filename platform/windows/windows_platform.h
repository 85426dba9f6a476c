// The Windows implementations of the platform services.
#pragma once

#include "platform/platform.h"
#include "platform/windows/win32.h"

namespace vpolv::platform::windows {

// The process-wide services: OLE Automation's locale conversions, the wide-character profile
// function, the file system seen through the Win32 API, and MessageBoxW.
const Services& services();

// Stops watching the trace switch (see WindowsTrace), for a library about to be unloaded; not to
// be called under the loader lock. The next event watches it again.
void stopWatchingTrace() noexcept;

}  // namespace vpolv::platform::windows
