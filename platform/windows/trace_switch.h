// The plug-in's trace switch, defined once for the plug-in that obeys it and the support tool
// that reports and sets it: the value TraceFile under Software\vpolv, the user's (HKCU) when
// there is one, else the machine's (HKLM, whose Software key 64-bit Windows keeps apart for
// 32-bit programs: the view says whose), and the lock its writers take turns by.
#pragma once

#include <string>

#include "platform/windows/registry.h"

namespace vpolv::win::trace_switch {

// The key below either root, and below it the key of a switch held for a while (collect).
#define VPOLV_TRACE_SWITCH_KEY "Software\\vpolv"
#define VPOLV_TRACE_SWITCH_VALUE "TraceFile"
inline constexpr wchar_t kKey[] = L"" VPOLV_TRACE_SWITCH_KEY;
inline constexpr wchar_t kHeldKey[] = L"" VPOLV_TRACE_SWITCH_KEY "\\Collect";
inline constexpr wchar_t kValue[] = L"" VPOLV_TRACE_SWITCH_VALUE;
// The values as the messages name them.
inline constexpr char kUserName[] = "HKCU\\" VPOLV_TRACE_SWITCH_KEY " " VPOLV_TRACE_SWITCH_VALUE;
inline constexpr char kMachineName[] = "HKLM\\" VPOLV_TRACE_SWITCH_KEY " " VPOLV_TRACE_SWITCH_VALUE;
// The roots in the order the plug-in looks.
inline constexpr registry::Root kRoots[] = {registry::Root::CurrentUser,
                                            registry::Root::LocalMachine};

// What the plug-in traces into, as a program of the view's bitness reads the switch.
struct Lookup {
    registry::Root root;  // the root that decided (the last one looked at when none did)
    // kOk: file is the switch ("" when empty: off); kNotFound: no value in either root (off);
    // kUnsupportedType: the value is not a string (off); any other: it could not be read (off
    // for now, read again next time).
    long status = registry::kNotFound;
    std::wstring file;

    bool failed() const {
        return status != registry::kOk && status != registry::kNotFound &&
               status != registry::kUnsupportedType;
    }
};
Lookup lookUp(registry::View view);

// While alive, this process's turn at the trace files, which the writers of every process of
// the session take in turns (a mutex of the session): no other appends or rotates meanwhile.
// Not held when the turn did not come within 5 seconds.
class Turn {
  public:
    Turn();
    ~Turn();
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;
    bool held() const { return held_; }

  private:
    UniqueHandle mutex_;
    bool held_ = false;
};

}  // namespace vpolv::win::trace_switch
