// The trace switch in the registry.
//
// HKEY_CURRENT_USER\Software is shared between the 32-bit and the 64-bit registry views (it is
// not redirected), so the user's value that this program reads and writes, of either bitness,
// is the one the plug-in of either bitness reads: no view flag. HKEY_LOCAL_MACHINE\Software is
// redirected (32-bit programs on 64-bit Windows see Software\WOW6432Node under its name), so the
// machine's value is read in each view by name (KEY_WOW64_64KEY, KEY_WOW64_32KEY).
//
// The marker of a switch held for a while is the key HKCU\Software\vpolv\Collect: "Earlier", a
// copy of the user's earlier TraceFile with its type and bytes (absent when there was none);
// "CreatedKey" (REG_DWORD 1 when HKCU\Software\vpolv was made for the switch, to be removed
// again when left empty); "File", the file switched to; "Started", the holding process's
// creation time (REG_QWORD); and, written last, "Process", its id (REG_DWORD). A marker without
// "Process" was cut short before the switch changed, and counts as none. A marker whose process
// is no longer running (or whose id now names another process) is a leftover.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>

#include "common/text.h"
#include "platform/windows/console.h"
#include "platform/windows/paths.h"
#include "platform/windows/registry.h"
#include "platform/windows/trace_switch.h"
#include "platform/windows/wide.h"
#include "standalone/files.h"
#include "support/trace_switch.h"

namespace vpolv::support {

using namespace standalone;

namespace {

namespace registry = win::registry;
using registry::Root;
using registry::View;
using win::utf8;
using win::wide;
using win::trace_switch::kHeldKey;
using win::trace_switch::kKey;
using win::trace_switch::kValue;

constexpr wchar_t kEarlier[] = L"Earlier";
constexpr wchar_t kCreatedKey[] = L"CreatedKey";
constexpr wchar_t kFile[] = L"File";
constexpr wchar_t kStarted[] = L"Started";
constexpr wchar_t kProcess[] = L"Process";
const std::string kUserKeyName = std::string("HKCU\\") + utf8(kKey);
const std::string kMarkerName = std::string("HKCU\\") + utf8(kHeldKey);

[[noreturn]] void fail(const std::string& what, long status) {
    throw TraceSwitchError(what + ": " + win::reasonOf(static_cast<unsigned long>(status)));
}

void check(long status, const std::string& what) {
    if (status != registry::kOk)
        fail(what, status);
}

SwitchValue valueIn(const win::UniqueKey& key, const wchar_t* name, const std::string& what) {
    std::optional<registry::Raw> raw;
    check(registry::readRaw(key, name, raw), what + " cannot be read");
    if (!raw)
        return {};
    SwitchValue value;
    value.present = true;
    value.type = raw->type;
    value.raw = std::move(raw->bytes);
    // The value's text as the plug-in reads it; "" for any other type.
    std::wstring text;
    const long status = registry::readText(key, name, text);
    if (status != registry::kUnsupportedType && status != registry::kNotFound)
        check(status, what + " cannot be read");
    value.text = utf8(text);
    return value;
}

SwitchValue readSwitch(Root root, View view, const std::string& what) {
    win::UniqueKey key;
    const long status = registry::open(root, kKey, view, registry::kQuery, key);
    if (status == registry::kNotFound)
        return {};
    check(status, what + " cannot be read");
    return valueIn(key, kValue, what);
}

void write(const win::UniqueKey& key, const wchar_t* name, unsigned long type,
           const std::string& bytes, const std::string& what) {
    check(registry::write(key, name, type, bytes), what + " cannot be written");
}

// A REG_SZ's bytes, with the terminator.
std::string stringBytes(const std::string& text) {
    return registry::textBytes(wide(text));
}

template <class Number>
std::string numberBytes(Number number) {
    return {reinterpret_cast<const char*>(&number), sizeof number};
}

void removeValue(const win::UniqueKey& key, const wchar_t* name, const std::string& what) {
    const long status = registry::removeValue(key, name);
    if (status != registry::kNotFound)
        check(status, what + " cannot be removed");
}

// HKCU\Software\vpolv, opened to change its values (made when missing: created says so).
win::UniqueKey openUserKey(bool* created = nullptr) {
    win::UniqueKey key;
    check(registry::create(Root::CurrentUser, kKey, View::Own, registry::kQuery | registry::kSet,
                           key, created),
          kUserKeyName + " cannot be opened");
    return key;
}

struct Marker {
    bool whole = false;  // "Process" is there
    std::uint32_t process = 0;
    std::uint64_t started = 0;
    std::string file;
    SwitchValue earlier;
    bool createdKey = false;
};

std::optional<Marker> readMarker() {
    win::UniqueKey key;
    const long status =
        registry::open(Root::CurrentUser, kHeldKey, View::Own, registry::kQuery, key);
    if (status == registry::kNotFound)
        return std::nullopt;
    check(status, kMarkerName + " cannot be read");
    const auto number = [&](const wchar_t* name) -> std::optional<std::uint64_t> {
        std::optional<registry::Raw> raw;
        check(registry::readRaw(key, name, raw), kMarkerName + " cannot be read");
        if (!raw || (raw->type != registry::kDword && raw->type != registry::kQword) ||
            raw->bytes.size() != (raw->type == registry::kDword ? 4U : 8U)) {
            return std::nullopt;
        }
        std::uint64_t value = 0;
        for (std::size_t i = raw->bytes.size(); i-- > 0;)
            value = value << 8 | static_cast<unsigned char>(raw->bytes[i]);
        return value;
    };
    Marker marker;
    const std::optional<std::uint64_t> process = number(kProcess);
    marker.whole = process.has_value();
    marker.process = static_cast<std::uint32_t>(process.value_or(0));
    marker.started = number(kStarted).value_or(0);
    marker.createdKey = number(kCreatedKey).value_or(0) == 1;
    marker.file = valueIn(key, kFile, kMarkerName).text;
    marker.earlier = valueIn(key, kEarlier, kMarkerName);
    return marker;
}

// Whether the marker's process still runs: its id names a running process created when the
// marker says (without "Started", any process of that id).
bool running(const Marker& marker) {
    return win::processRunning(marker.process, marker.started);
}

std::string leftoverText(const Marker& marker) {
    return std::string(kUserSwitchName) + " was switched" +
           (marker.file.empty() ? "" : " to " + marker.file) + " by vpolv-sim (process " +
           std::to_string(marker.process) +
           "), which ended without switching it back; \"vpolv-sim trace off\" puts back the "
           "earlier value: " +
           describe(marker.earlier);
}

[[noreturn]] void refuseWhileHeld(const Marker& marker) {
    throw TraceSwitchError("vpolv-sim (process " + std::to_string(marker.process) +
                           ") holds the trace switch now, and puts it back when it ends; wait "
                           "for it to end, or end it");
}

// Removes HKCU\Software\vpolv when it holds nothing (it was made for the switch).
void removeIfEmpty() {
    win::UniqueKey key;
    if (registry::open(Root::CurrentUser, kKey, View::Own, registry::kQuery, key) != registry::kOk)
        return;
    if (registry::empty(key)) {
        key.reset();
        registry::removeKey(Root::CurrentUser, kKey, View::Own);
    }
}

// Puts the user's value back as it was (with its type and bytes, or none), then clears the
// marker; the marker stays when the value cannot be put back.
void putBack(const SwitchValue& earlier, bool createdKey) {
    if (earlier.present) {
        write(openUserKey(), kValue, earlier.type, earlier.raw, kUserSwitchName);
    } else {
        win::UniqueKey key;
        const long status = registry::open(Root::CurrentUser, kKey, View::Own, registry::kSet, key);
        if (status == registry::kOk)
            removeValue(key, kValue, kUserSwitchName);
        else if (status != registry::kNotFound)
            fail(std::string(kUserSwitchName) + " cannot be removed", status);
    }
    const long status = registry::removeKey(Root::CurrentUser, kHeldKey, View::Own);
    if (status != registry::kNotFound)
        check(status, kMarkerName + " cannot be removed");
    if (createdKey && !earlier.present)
        removeIfEmpty();
}

}  // namespace

SwitchState readTraceSwitch() {
    SwitchState state;
    state.user = readSwitch(Root::CurrentUser, View::Own, kUserSwitchName);
    if (win::windows64()) {
        state.machine = readSwitch(Root::LocalMachine, View::Bits64, kMachineSwitchName);
        state.machine32 = readSwitch(Root::LocalMachine, View::Bits32,
                                     std::string(kMachineSwitchName) + " (32-bit view)");
    } else {
        state.machine = readSwitch(Root::LocalMachine, View::Own, kMachineSwitchName);
    }
    if (const std::optional<Marker> marker = readMarker(); marker && marker->whole) {
        if (running(*marker))
            state.runningSwitch = marker->process;
        else
            state.leftover = leftoverText(*marker);
    }
    return state;
}

void setUserTraceFile(const std::string& file) {
    if (const std::optional<Marker> marker = readMarker();
        marker && marker->whole && running(*marker))
        refuseWhileHeld(*marker);
    write(openUserKey(), kValue, registry::kSz, stringBytes(file), kUserSwitchName);
}

SwitchOff switchUserTraceOff() {
    SwitchOff off;
    off.before = readSwitch(Root::CurrentUser, View::Own, kUserSwitchName);
    const std::optional<Marker> marker = readMarker();
    if (marker && marker->whole) {
        if (running(*marker))
            refuseWhileHeld(*marker);
        off.leftover = leftoverText(*marker);
        putBack(marker->earlier, marker->createdKey);
    } else {
        if (off.before.present)
            removeValue(openUserKey(), kValue, kUserSwitchName);
        if (marker)
            registry::removeKey(Root::CurrentUser, kHeldKey,
                                View::Own);  // cut short: nothing to put back
    }
    off.after = readSwitch(Root::CurrentUser, View::Own, kUserSwitchName);
    return off;
}

std::string newTraceFile(const char* prefix) {
    const std::wstring base = win::knownFolder(win::KnownFolder::LocalAppData);
    if (base.empty()) {
        throw TraceSwitchError(
            "LOCALAPPDATA, the user's local application data folder, is not "
            "set: name the trace file");
    }
    const std::filesystem::path folder = std::filesystem::path(base) / L"vpolv";
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        throw TraceSwitchError("the folder " + utf8(folder.wstring()) +
                               " cannot be created: " + reasonOf(error));
    }
    const win::LocalTime now = win::localTime();
    wchar_t stamp[32] = {};
    std::swprintf(stamp, 32, L"-%04u%02u%02u-%02u%02u%02u", now.year, now.month, now.day, now.hour,
                  now.minute, now.second);
    const std::wstring stem = wide(prefix) + stamp;
    for (int n = 1;; ++n) {
        const std::filesystem::path file =
            folder / (stem + (n == 1 ? L"" : L"-" + std::to_wstring(n)) + L".jsonl");
        const std::filesystem::path rotated = file.wstring() + L".1";
        if (!std::filesystem::exists(file, error) && !error &&
            !std::filesystem::exists(rotated, error) && !error) {
            return utf8(file.wstring());
        }
    }
}

// One guard at a time: the one the console handler puts back.
struct TraceSwitchGuard::State {
    SwitchValue earlier;
    bool createdKey = false;
    bool done = false;

    void restore() {
        putBack(earlier, createdKey);
        done = true;
    }
};

namespace {

std::mutex guardMutex;
TraceSwitchGuard::State* activeGuard = nullptr;

// Ctrl+C, Ctrl+Break, a closed console window, a logoff or a shutdown: the switch is put back,
// and the handlers registered before this one (the runtime's, then the system's, which ends the
// process) run on.
bool onConsoleEvent(win::ControlEvent) {
    const std::lock_guard lock(guardMutex);
    if (activeGuard && !activeGuard->done) {
        try {
            activeGuard->restore();
        } catch (...) {
            // The marker stays, and shows as a leftover once the process has ended.
        }
    }
    return false;
}

}  // namespace

TraceSwitchGuard::TraceSwitchGuard(const std::string& file) : state_(std::make_unique<State>()) {
    const std::lock_guard lock(guardMutex);
    if (activeGuard)
        throw TraceSwitchError("the trace switch is held already by this run");
    const std::optional<Marker> marker = readMarker();
    const bool takeOver = marker && marker->whole;
    if (takeOver && running(*marker))
        refuseWhileHeld(*marker);
    bool created = false;
    const win::UniqueKey key = openUserKey(&created);
    if (takeOver) {
        state_->earlier = marker->earlier;
        state_->createdKey = marker->createdKey;
    } else {
        state_->earlier = valueIn(key, kValue, kUserSwitchName);
        state_->createdKey = created;
    }
    try {
        win::UniqueKey markerKey;
        check(registry::create(Root::CurrentUser, kHeldKey, View::Own,
                               registry::kQuery | registry::kSet, markerKey),
              kMarkerName + " cannot be written");
        if (!takeOver) {
            removeValue(markerKey, kProcess, kMarkerName);
            if (state_->earlier.present)
                write(markerKey, kEarlier, state_->earlier.type, state_->earlier.raw, kMarkerName);
            else
                removeValue(markerKey, kEarlier, kMarkerName);
            write(markerKey, kCreatedKey, registry::kDword,
                  numberBytes<std::uint32_t>(state_->createdKey ? 1 : 0), kMarkerName);
        }
        write(markerKey, kFile, registry::kSz, stringBytes(file), kMarkerName);
        write(markerKey, kStarted, registry::kQword,
              numberBytes<std::uint64_t>(win::processStarted()), kMarkerName);
        write(markerKey, kProcess, registry::kDword, numberBytes<std::uint32_t>(win::processId()),
              kMarkerName);
        write(key, kValue, registry::kSz, stringBytes(file), kUserSwitchName);
    } catch (...) {
        try {
            state_->restore();
        } catch (...) {
            // What the first failure says comes out.
        }
        throw;
    }
    win::addControlHandler(onConsoleEvent);
    activeGuard = state_.get();
}

TraceSwitchGuard::~TraceSwitchGuard() {
    {
        const std::lock_guard lock(guardMutex);
        if (activeGuard == state_.get())
            activeGuard = nullptr;
        if (!state_->done) {
            try {
                state_->restore();
            } catch (...) {
                // The marker stays, and shows as a leftover once the process has ended.
            }
        }
    }
    win::removeControlHandler(onConsoleEvent);
}

void TraceSwitchGuard::restore() {
    const std::lock_guard lock(guardMutex);
    if (!state_->done)
        state_->restore();
}

const SwitchValue& TraceSwitchGuard::earlier() const {
    return state_->earlier;
}

bool TraceSwitchGuard::restored() const {
    const std::lock_guard lock(guardMutex);
    return state_->done;
}

}  // namespace vpolv::support
