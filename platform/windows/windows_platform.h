// The Windows implementations of the platform services.
#pragma once

#include "platform/platform.h"
#include "platform/windows/win32.h"

namespace vpolv::platform::windows {

// The process-wide services: OLE Automation's locale conversions, the wide-character profile
// function, the file system seen through the Win32 API, and MessageBoxW.
const Services& services();

}  // namespace vpolv::platform::windows
