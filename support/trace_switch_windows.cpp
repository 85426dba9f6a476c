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
#include "platform/windows/com_support.h"
#include "platform/windows/win32.h"
// clang-format off
#include <knownfolders.h>
#include <shlobj.h>
// clang-format on
#include "standalone/files.h"
#include "support/trace_switch.h"

namespace vpolv::support {

using namespace standalone;

namespace {

constexpr wchar_t kKey[] = L"Software\\vpolv";
constexpr wchar_t kMarkerKey[] = L"Software\\vpolv\\Collect";
constexpr wchar_t kValue[] = L"TraceFile";
constexpr wchar_t kEarlier[] = L"Earlier";
constexpr wchar_t kCreatedKey[] = L"CreatedKey";
constexpr wchar_t kFile[] = L"File";
constexpr wchar_t kStarted[] = L"Started";
constexpr wchar_t kProcess[] = L"Process";
const std::string kMarkerName = "HKCU\\Software\\vpolv\\Collect";

std::string utf8(const std::wstring& text) {
    return toUtf8(win::fromWide(text));
}

std::wstring wide(const std::string& text) {
    return win::toWide(fromUtf8(text));
}

[[noreturn]] void fail(const std::string& what, LSTATUS status) {
    throw TraceSwitchError(
        what + ": " + toUtf8(win::systemMessage(HRESULT_FROM_WIN32(static_cast<DWORD>(status)))));
}

// A value's type and bytes; nullopt when there is no such value.
struct Raw {
    DWORD type = 0;
    std::string bytes;
};
std::optional<Raw> readRaw(HKEY key, const wchar_t* name, const std::string& what) {
    Raw raw;
    DWORD size = 0;
    LSTATUS status = RegQueryValueExW(key, name, nullptr, &raw.type, nullptr, &size);
    // Again with a larger buffer while the value grows between the two calls.
    while (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
        raw.bytes.resize(size);
        status = RegQueryValueExW(key, name, nullptr, &raw.type,
                                  reinterpret_cast<BYTE*>(raw.bytes.data()), &size);
        if (status == ERROR_SUCCESS) {
            raw.bytes.resize(size);
            return raw;
        }
    }
    if (status == ERROR_FILE_NOT_FOUND)
        return std::nullopt;
    fail(what + " cannot be read", status);
}

// The value's text as the plug-in reads it: a string (REG_EXPAND_SZ expanded) up to its first
// terminator; "" for any other type.
std::string pluginText(HKEY key, const wchar_t* name, const std::string& what) {
    DWORD bytes = 0;
    LSTATUS status = RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, nullptr, &bytes);
    if (status == ERROR_UNSUPPORTED_TYPE || status == ERROR_FILE_NOT_FOUND)
        return {};
    if (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
        std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
        bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        status = RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, text.data(), &bytes);
        if (status == ERROR_SUCCESS) {
            text.resize(wcsnlen(text.c_str(), text.size()));
            return utf8(text);
        }
    }
    fail(what + " cannot be read", status);
}

SwitchValue valueIn(HKEY key, const wchar_t* name, const std::string& what) {
    std::optional<Raw> raw = readRaw(key, name, what);
    if (!raw)
        return {};
    SwitchValue value;
    value.present = true;
    value.type = raw->type;
    value.raw = std::move(raw->bytes);
    value.text = pluginText(key, name, what);
    return value;
}

SwitchValue readSwitch(HKEY root, REGSAM view, const std::string& what) {
    win::UniqueKey key;
    const LSTATUS status = RegOpenKeyExW(root, kKey, 0, KEY_QUERY_VALUE | view, key.put());
    if (status == ERROR_FILE_NOT_FOUND)
        return {};
    if (status != ERROR_SUCCESS)
        fail(what + " cannot be read", status);
    return valueIn(key.get(), kValue, what);
}

bool windows64() {
    BOOL wow64 = FALSE;
    return sizeof(void*) == 8 || (IsWow64Process(GetCurrentProcess(), &wow64) && wow64);
}

void write(HKEY key, const wchar_t* name, DWORD type, const std::string& bytes,
           const std::string& what) {
    const LSTATUS status =
        RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                       static_cast<DWORD>(bytes.size()));
    if (status != ERROR_SUCCESS)
        fail(what + " cannot be written", status);
}

// A REG_SZ's bytes, with the terminator.
std::string stringBytes(const std::string& text) {
    const std::wstring value = wide(text);
    return {reinterpret_cast<const char*>(value.c_str()), (value.size() + 1) * sizeof(wchar_t)};
}

template <class Number>
std::string numberBytes(Number number) {
    return {reinterpret_cast<const char*>(&number), sizeof number};
}

void removeValue(HKEY key, const wchar_t* name, const std::string& what) {
    const LSTATUS status = RegDeleteValueW(key, name);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
        fail(what + " cannot be removed", status);
}

// HKCU\Software\vpolv, opened to change its values (made when missing: created says so).
win::UniqueKey openUserKey(bool* created = nullptr) {
    win::UniqueKey key;
    DWORD disposition = 0;
    const LSTATUS status =
        RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                        nullptr, key.put(), &disposition);
    if (status != ERROR_SUCCESS)
        fail("HKCU\\Software\\vpolv cannot be opened", status);
    if (created)
        *created = disposition == REG_CREATED_NEW_KEY;
    return key;
}

std::uint64_t creationTime(HANDLE process) {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user))
        return 0;
    return static_cast<std::uint64_t>(created.dwHighDateTime) << 32 | created.dwLowDateTime;
}

struct Marker {
    bool whole = false;  // "Process" is there
    DWORD process = 0;
    std::uint64_t started = 0;
    std::string file;
    SwitchValue earlier;
    bool createdKey = false;
};

std::optional<Marker> readMarker() {
    win::UniqueKey key;
    const LSTATUS status =
        RegOpenKeyExW(HKEY_CURRENT_USER, kMarkerKey, 0, KEY_QUERY_VALUE, key.put());
    if (status == ERROR_FILE_NOT_FOUND)
        return std::nullopt;
    if (status != ERROR_SUCCESS)
        fail(kMarkerName + " cannot be read", status);
    const auto number = [&](const wchar_t* name) -> std::optional<std::uint64_t> {
        const std::optional<Raw> raw = readRaw(key.get(), name, kMarkerName);
        if (!raw || (raw->type != REG_DWORD && raw->type != REG_QWORD) ||
            raw->bytes.size() != (raw->type == REG_DWORD ? 4U : 8U)) {
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
    marker.process = static_cast<DWORD>(process.value_or(0));
    marker.started = number(kStarted).value_or(0);
    marker.createdKey = number(kCreatedKey).value_or(0) == 1;
    marker.file = valueIn(key.get(), kFile, kMarkerName).text;
    marker.earlier = valueIn(key.get(), kEarlier, kMarkerName);
    return marker;
}

// Whether the marker's process still runs: its id names a running process created when the
// marker says (without "Started", any process of that id).
bool running(const Marker& marker) {
    const win::UniqueHandle process(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, marker.process));
    if (!process)
        return GetLastError() == ERROR_ACCESS_DENIED;  // there, but not this user's to look at
    DWORD code = 0;
    if (GetExitCodeProcess(process.get(), &code) && code != STILL_ACTIVE)
        return false;
    return marker.started == 0 || creationTime(process.get()) == marker.started;
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
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return;
    DWORD subkeys = 1, values = 1;
    if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                         nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
        subkeys == 0 && values == 0) {
        key.reset();
        RegDeleteKeyW(HKEY_CURRENT_USER, kKey);
    }
}

// Puts the user's value back as it was (with its type and bytes, or none), then clears the
// marker; the marker stays when the value cannot be put back.
void putBack(const SwitchValue& earlier, bool createdKey) {
    if (earlier.present) {
        write(openUserKey().get(), kValue, earlier.type, earlier.raw, kUserSwitchName);
    } else {
        win::UniqueKey key;
        const LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_SET_VALUE, key.put());
        if (status == ERROR_SUCCESS)
            removeValue(key.get(), kValue, kUserSwitchName);
        else if (status != ERROR_FILE_NOT_FOUND)
            fail(std::string(kUserSwitchName) + " cannot be removed", status);
    }
    const LSTATUS status = RegDeleteKeyW(HKEY_CURRENT_USER, kMarkerKey);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
        fail(kMarkerName + " cannot be removed", status);
    if (createdKey && !earlier.present)
        removeIfEmpty();
}

}  // namespace

SwitchState readTraceSwitch() {
    SwitchState state;
    state.user = readSwitch(HKEY_CURRENT_USER, 0, kUserSwitchName);
    if (windows64()) {
        state.machine = readSwitch(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kMachineSwitchName);
        state.machine32 = readSwitch(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY,
                                     std::string(kMachineSwitchName) + " (32-bit view)");
    } else {
        state.machine = readSwitch(HKEY_LOCAL_MACHINE, 0, kMachineSwitchName);
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
    write(openUserKey().get(), kValue, REG_SZ, stringBytes(file), kUserSwitchName);
}

SwitchOff switchUserTraceOff() {
    SwitchOff off;
    off.before = readSwitch(HKEY_CURRENT_USER, 0, kUserSwitchName);
    const std::optional<Marker> marker = readMarker();
    if (marker && marker->whole) {
        if (running(*marker))
            refuseWhileHeld(*marker);
        off.leftover = leftoverText(*marker);
        putBack(marker->earlier, marker->createdKey);
    } else {
        if (off.before.present)
            removeValue(openUserKey().get(), kValue, kUserSwitchName);
        if (marker)
            RegDeleteKeyW(HKEY_CURRENT_USER, kMarkerKey);  // cut short: nothing to put back
    }
    off.after = readSwitch(HKEY_CURRENT_USER, 0, kUserSwitchName);
    return off;
}

std::string newTraceFile(const char* prefix) {
    std::wstring base;
    PWSTR known = nullptr;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &known)))
        base = known;
    CoTaskMemFree(known);
    if (base.empty()) {
        wchar_t variable[MAX_PATH + 1] = {};
        const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", variable, MAX_PATH + 1);
        if (length > 0 && length <= MAX_PATH)
            base = variable;
    }
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
    SYSTEMTIME now{};
    GetLocalTime(&now);
    wchar_t stamp[32] = {};
    std::swprintf(stamp, 32, L"-%04u%02u%02u-%02u%02u%02u", now.wYear, now.wMonth, now.wDay,
                  now.wHour, now.wMinute, now.wSecond);
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
BOOL WINAPI onConsoleEvent(DWORD) {
    const std::lock_guard lock(guardMutex);
    if (activeGuard && !activeGuard->done) {
        try {
            activeGuard->restore();
        } catch (...) {
            // The marker stays, and shows as a leftover once the process has ended.
        }
    }
    return FALSE;
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
        state_->earlier = valueIn(key.get(), kValue, kUserSwitchName);
        state_->createdKey = created;
    }
    try {
        win::UniqueKey markerKey;
        const LSTATUS status =
            RegCreateKeyExW(HKEY_CURRENT_USER, kMarkerKey, 0, nullptr, 0,
                            KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, markerKey.put(), nullptr);
        if (status != ERROR_SUCCESS)
            fail(kMarkerName + " cannot be written", status);
        if (!takeOver) {
            removeValue(markerKey.get(), kProcess, kMarkerName);
            if (state_->earlier.present)
                write(markerKey.get(), kEarlier, state_->earlier.type, state_->earlier.raw,
                      kMarkerName);
            else
                removeValue(markerKey.get(), kEarlier, kMarkerName);
            write(markerKey.get(), kCreatedKey, REG_DWORD,
                  numberBytes<DWORD>(state_->createdKey ? 1 : 0), kMarkerName);
        }
        write(markerKey.get(), kFile, REG_SZ, stringBytes(file), kMarkerName);
        write(markerKey.get(), kStarted, REG_QWORD,
              numberBytes<std::uint64_t>(creationTime(GetCurrentProcess())), kMarkerName);
        write(markerKey.get(), kProcess, REG_DWORD, numberBytes<DWORD>(GetCurrentProcessId()),
              kMarkerName);
        write(key.get(), kValue, REG_SZ, stringBytes(file), kUserSwitchName);
    } catch (...) {
        try {
            state_->restore();
        } catch (...) {
            // What the first failure says comes out.
        }
        throw;
    }
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
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
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
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
