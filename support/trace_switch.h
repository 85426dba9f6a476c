// The plug-in's trace switch: the value TraceFile under HKEY_CURRENT_USER\Software\vpolv (per
// user) or, when the user has none, under HKEY_LOCAL_MACHINE\Software\vpolv (per machine), which
// names the file the plug-in appends its trace to. The simulator reads both, and switches the
// user's trace on and off; the machine-wide value is only ever read.
//
// A switch made for a while (TraceSwitchGuard) remembers the user's earlier value in the
// registry until it is put back, so that a run that was killed leaves a marker behind: it shows
// as a leftover, and `vpolv-sim trace off` puts the remembered value back.
//
// Windows only: elsewhere every call throws TraceSwitchError saying so.
#pragma once

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace vpolv::support {

// Whether this system has the switch (Windows).
#ifdef _WIN32
inline constexpr bool kTraceSwitchSupported = true;
#else
inline constexpr bool kTraceSwitchSupported = false;
#endif

// A registry read or write that failed, or a system without the registry; what() says which
// value and why, in a sentence for the user.
class TraceSwitchError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The registry types the plug-in reads as a path (REG_EXPAND_SZ expanded).
inline constexpr unsigned long kRegSz = 1;
inline constexpr unsigned long kRegExpandSz = 2;

// One TraceFile value as found.
struct SwitchValue {
    bool present = false;
    std::string text;        // UTF-8, as the plug-in reads it ("" when not a string)
    unsigned long type = 0;  // the registry type found (REG_SZ, REG_EXPAND_SZ, other)
    std::string raw;         // the value's bytes, to put back exactly

    // Whether the plug-in traces by this value: a string naming a file.
    bool on() const { return present && !text.empty(); }
    bool operator==(const SwitchValue&) const = default;
};

struct SwitchState {
    SwitchValue user;     // HKCU\Software\vpolv TraceFile (one key for hosts of both bitnesses)
    SwitchValue machine;  // HKLM\Software\vpolv TraceFile (read only, never written): the one
                          // 64-bit hosts read, or the only one on 32-bit Windows
    // On 64-bit Windows, the value 32-bit hosts read (HKLM\Software is redirected for them).
    std::optional<SwitchValue> machine32;
    std::optional<std::string> leftover;  // a switch left on by a run that was killed: what it is
                                          // and the command that removes it
    // A run holding a switch now (vpolv-sim collect): its process id, else 0.
    unsigned long runningSwitch = 0;
};

// A value as the messages give it: `none`, `C:\t.jsonl (REG_SZ)`, `%TEMP%\t.jsonl (REG_EXPAND_SZ,
// read as C:\...\t.jsonl)`, `"" (REG_SZ): off`, `a REG_DWORD, not a path: off`.
std::string describe(const SwitchValue& value);

// Reads both values and the marker. Throws TraceSwitchError when a value is there but cannot be
// read.
SwitchState readTraceSwitch();

// The name of the user's value and of the machine's, as the messages give them.
extern const char* const kUserSwitchName;     // "HKCU\Software\vpolv TraceFile"
extern const char* const kMachineSwitchName;  // "HKLM\Software\vpolv TraceFile"

// Sets the user's value to `file` (UTF-8), a REG_SZ, for good (`vpolv-sim trace on`). Throws
// TraceSwitchError when a run holds the switch now or the value cannot be written.
void setUserTraceFile(const std::string& file);

// A new trace file's path, UTF-8: %LOCALAPPDATA%\vpolv\<prefix>-YYYYMMDD-HHMMSS.jsonl by the
// local time (a number added when that name, or its rotated ".1", is taken), the folder created.
// Throws TraceSwitchError.
std::string newTraceFile(const char* prefix = "trace");

// What switchUserTraceOff() did.
struct SwitchOff {
    SwitchValue before;                   // the user's value it found
    SwitchValue after;                    // the user's value it left
    std::optional<std::string> leftover;  // the leftover it cleared, as readTraceSwitch() said
};

// Switches the user's trace off (`vpolv-sim trace off`): puts back the value a leftover marker
// remembers, and clears the marker, or else removes the user's value. Throws TraceSwitchError
// when a run holds the switch now or the value cannot be written.
SwitchOff switchUserTraceOff();

// Switches the user's trace on into `file` (UTF-8 path) and remembers the user's earlier value in
// the registry (a leftover marker) until restored. The guard puts the user's value back exactly
// (the earlier value with its type, or none) when restore() is called, when it is destroyed, on
// Ctrl+C, Ctrl+Break and a closed console window (a console control handler), and clears the
// marker. Never touches the machine-wide value.
//
// A leftover marker found at the start is taken over: its earlier value is the one put back. The
// constructor throws TraceSwitchError when another run holds the switch (nothing is changed then)
// or the registry cannot be written (the user's earlier value is put back then, as far as it
// can be); restore() throws when the value cannot be put back (the marker then stays, and shows
// as a leftover once this process has ended). One guard at a time. The console handler is
// registered last: a handler the caller registers after the guard runs before it.
class TraceSwitchGuard {
  public:
    explicit TraceSwitchGuard(const std::string& file);
    ~TraceSwitchGuard();
    TraceSwitchGuard(const TraceSwitchGuard&) = delete;
    TraceSwitchGuard& operator=(const TraceSwitchGuard&) = delete;

    void restore();
    // The user's value before the switch (what restore() puts back).
    const SwitchValue& earlier() const;
    bool restored() const;

    struct State;

  private:
    std::unique_ptr<State> state_;
};

}  // namespace vpolv::support
