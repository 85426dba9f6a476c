// What this user may do with files, as the system's own access check decides it for the user's
// token, so that groups, deny entries and inherited entries count as they do when the plug-in
// opens a file. Without the system's headers.
#pragma once

#include <string>

namespace vpolv::win {

// What this user may do with the trace file, as the plug-in does it: open it for appending
// (creating it in its folder when it is not there), and at the size limit rename it to the same
// name plus ".1", replacing that file, and create a new one.
struct TraceRights {
    bool exists = false;  // the file is there
    bool append = false;  // it can be appended to, or created when it is not there
    bool rotate = false;  // it can be renamed over its ".1" file and started again
    std::string reason;   // why the rights could not be read; empty when they were
};
TraceRights traceRights(const std::wstring& file, const std::wstring& folder);

}  // namespace vpolv::win
