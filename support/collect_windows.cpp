// vpolv-sim collect on Windows: the doctor, the switch held while the designer repeats the
// event, the count of the events as they arrive, and the bundle.
#include "platform/windows/win32.h"
// clang-format off
#include <knownfolders.h>
#include <shlobj.h>
// clang-format on

#include <atomic>
#include <filesystem>
#include <ostream>

#include "common/text.h"
#include "platform/windows/com_support.h"
#include "standalone/echo.h"
#include "standalone/files.h"
#include "support/collect.h"
#include "support/trace_switch.h"

namespace vpolv::support::collect {

using namespace standalone;
namespace {

namespace fs = std::filesystem;

std::string utf8(const std::wstring& text) {
    return toUtf8(win::fromWide(text));
}
std::wstring wide(const std::string& text) {
    return win::toWide(fromUtf8(text));
}

// Ctrl+C and Ctrl+Break end the waiting as Enter does; the main thread then puts the switch back
// and writes the bundle. A closed console window, a log-off or a shutdown go on to the switch's
// own handler, which puts it back before the process ends.
std::atomic<bool> gInterrupted{false};

BOOL WINAPI onControl(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        gInterrupted = true;
        return TRUE;
    }
    return FALSE;
}

// While alive, onControl is the first console handler asked.
struct ControlHandler {
    ControlHandler() { SetConsoleCtrlHandler(onControl, TRUE); }
    ~ControlHandler() { SetConsoleCtrlHandler(onControl, FALSE); }
    ControlHandler(const ControlHandler&) = delete;
    ControlHandler& operator=(const ControlHandler&) = delete;
};

std::string localTime(const char* format) {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    char text[32];
    std::snprintf(text, sizeof text, format, now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond);
    return text;
}

std::wstring knownFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    std::wstring folder;
    if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path)))
        folder = path;
    CoTaskMemFree(path);
    return folder;
}

bool isFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A file's contents, read while the plug-in may append to it; empty when it is not there.
std::string readShared(const std::wstring& path) {
    const win::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string data;
    if (!file)
        return data;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0)
        data.append(buffer, read);
    return data;
}

// The collection's trace: its file and the file's rotated ".1", read together.
class TraceFiles {
  public:
    explicit TraceFiles(std::wstring file) : file_(std::move(file)) {}
    const std::wstring& file() const { return file_; }
    std::wstring older() const { return file_ + L".1"; }

    // Its records, oldest first (complete lines only), and the files they came from.
    std::string records(std::vector<std::string>* files = nullptr) const {
        std::string text;
        for (const std::wstring& path : {older(), file_}) {
            std::string part = readShared(path);
            part.erase(part.find_last_of('\n') == std::string::npos ? 0
                                                                    : part.find_last_of('\n') + 1);
            if (!part.empty() && files)
                files->push_back(utf8(path));
            text += part;
        }
        return text;
    }
    // The number of events traced so far; the files are read again only when they changed.
    std::size_t events() {
        const auto size = [](const std::wstring& path) -> ULONGLONG {
            WIN32_FILE_ATTRIBUTE_DATA data{};
            if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
                return 0;
            return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        };
        const ULONGLONG now = size(file_) ^ (size(older()) << 1);
        if (now != seen_) {
            seen_ = now;
            count_ = countRecords(records());
        }
        return count_;
    }
    // Deletes both files.
    void remove() const {
        DeleteFileW(older().c_str());
        DeleteFileW(file_.c_str());
    }

  private:
    std::wstring file_;
    ULONGLONG seen_ = 0;
    std::size_t count_ = 0;
};

// Whether the user pressed Enter in the console (input read and dropped); false when standard
// input is no console.
bool enterPressed(HANDLE input) {
    DWORD pending = 0;
    while (GetNumberOfConsoleInputEvents(input, &pending) && pending > 0) {
        INPUT_RECORD record{};
        DWORD read = 0;
        if (!ReadConsoleInputW(input, &record, 1, &read) || read == 0)
            return false;
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
            record.Event.KeyEvent.wVirtualKeyCode == VK_RETURN) {
            return true;
        }
    }
    return false;
}

// A line read from standard input that is not a console, on a thread of its own so that the
// count goes on meanwhile. The thread ends with the line or the input's end; a thread still
// reading when the collection ends has its read cancelled.
class LineReader {
  public:
    explicit LineReader(HANDLE input) : input_(input) {
        thread_.reset(CreateThread(nullptr, 0, read, this, 0, nullptr));
    }
    ~LineReader() {
        if (thread_ && WaitForSingleObject(thread_.get(), 0) == WAIT_TIMEOUT) {
            CancelSynchronousIo(thread_.get());
            WaitForSingleObject(thread_.get(), 2000);
        }
    }
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;
    bool done() const { return !thread_ || WaitForSingleObject(thread_.get(), 0) == WAIT_OBJECT_0; }

  private:
    static DWORD WINAPI read(void* self) {
        const HANDLE input = static_cast<LineReader*>(self)->input_;
        char c = 0;
        DWORD count = 0;
        while (ReadFile(input, &c, 1, &count, nullptr) && count == 1 && c != '\n') {
        }
        return 0;
    }
    HANDLE input_;
    win::UniqueHandle thread_;
};

bool isConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

// Waits for Enter, the time given or Ctrl+C, showing the count of events as it changes: one line
// rewritten in place on a console, a line per change otherwise. Returns what ended it.
std::string waitForEvents(const Options& options, TraceFiles& trace, std::ostream& say,
                          bool console) {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    const bool keys = options.waitSeconds == 0 && isConsole(input);
    std::optional<LineReader> line;
    if (options.waitSeconds == 0 && !keys)
        line.emplace(input);
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(options.waitSeconds) * 1000;
    std::size_t shown = static_cast<std::size_t>(-1);
    std::string stoppedBy;
    while (stoppedBy.empty()) {
        const std::size_t events = trace.events();
        if (events != shown) {
            shown = events;
            const std::string count = "events traced so far: " + std::to_string(events);
            say << (console ? "\r" + count : count + "\n") << std::flush;
        }
        if (gInterrupted)
            stoppedBy = "Ctrl+C";
        else if (options.waitSeconds > 0 && GetTickCount64() >= end)
            stoppedBy = "--wait";
        else if ((keys && enterPressed(input)) || (line && line->done()))
            stoppedBy = "Enter";
        else if (keys)
            WaitForSingleObject(input, 200);
        else
            Sleep(200);
    }
    if (console)
        say << "\n";
    return stoppedBy;
}

// The records traced, read while no plug-in appends (the writers' own lock, "Local\vpolv-trace",
// held for the read): an event that read the switch before it was put back ends its line first.
std::string finalRecords(const TraceFiles& trace, std::vector<std::string>& files) {
    const win::UniqueHandle turn(CreateMutexW(nullptr, FALSE, L"Local\\vpolv-trace"));
    const bool held = turn && WaitForSingleObject(turn.get(), 5000) != WAIT_TIMEOUT;
    std::string records = trace.records(&files);
    if (held)
        ReleaseMutex(turn.get());
    return records;
}

std::string valueText(const SwitchValue& value) {
    return value.present ? "\"" + value.text + "\"" : "none";
}

// A SPACE.INI's contents, at most 1 MiB.
std::vector<IniFile> readInis(const doctor::Report& report) {
    std::vector<IniFile> inis;
    for (const std::string& path : spaceIniPaths(report)) {
        std::string reason;
        if (auto data = readRegularFile(pathFromUtf8(path), kMiB, reason))
            inis.push_back({path, std::move(*data)});
    }
    return inis;
}

std::wstring programPath() {
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path;
}

}  // namespace

int run(const Options& options, const Console& console) {
    std::ostream& say = options.json ? console.err : console.out;
    const bool onConsole =
        isConsole(GetStdHandle(options.json ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE));
    const auto refuse = [&](const std::string& why) {
        console.err << "vpolv-sim collect: " << echo(why) << "\n";
        return kCannotCollect;
    };
    Collected collected;
    collected.when = localTime("%04u-%02u-%02u %02u:%02u:%02u");
    collected.simProgram = utf8(programPath());

    // The bundle's path, checked before anything changes.
    fs::path out;
    if (options.out.empty()) {
        std::wstring folder = knownFolder(FOLDERID_Desktop);
        out = isFolder(folder) ? fs::path(folder) / pathFromUtf8(defaultBundleName(collected.when))
                               : pathFromUtf8(defaultBundleName(collected.when));
    } else {
        out = pathFromUtf8(options.out);
    }
    std::string reason;
    const auto target = outputTarget(out, reason);
    if (!target)
        return refuse(utf8Path(out) + ": " + reason);

    // 1. The doctor.
    const auto machine = doctor::systemMachine();
    std::optional<doctor::Report> report;
    try {
        report = doctor::examine({}, machine.get(), reason);
    } catch (const std::exception& e) {
        reason = e.what();
    }
    if (!report)
        return refuse("the doctor's checks could not be made: " + reason);
    say << doctorVerdict(*report) << "\n";

    // 2. The switch, on for this user into a file of its own.
    try {
        const SwitchState state = readTraceSwitch();
        if (state.leftover) {
            say << "note: " << echo(*state.leftover)
                << "; this collect puts back the value it remembers\n";
        }
        if (!state.user.present && state.machine.on()) {
            say << "note: the machine-wide switch traces every user into "
                << echo(state.machine.text)
                << "; it stays as it is, and this user's events go to this collection's file\n";
        }
    } catch (const TraceSwitchError& e) {
        return refuse(e.what());
    }
    std::optional<std::wstring> file;
    std::optional<TraceSwitchGuard> guard;
    try {
        const std::string path = newTraceFile("collect");
        file = wide(path);
        guard.emplace(path);
    } catch (const TraceSwitchError& e) {
        return refuse(e.what());
    }
    TraceFiles trace(*file);
    const ControlHandler handler;  // after the switch's own: asked first
    collected.earlierSwitch = valueText(guard->earlier());
    say << "the trace is on for this user, into " << echo(utf8(*file)) << "\n";

    // 3. The designer repeats the event.
    if (options.waitSeconds > 0) {
        say << "repeat the placement or the change of finishes in the host now: collecting for "
            << options.waitSeconds << " seconds (Ctrl+C ends it sooner)\n";
    } else {
        say << "repeat the placement or the change of finishes in the host now, then press Enter "
               "here\n";
    }
    say << std::flush;
    collected.stoppedBy = waitForEvents(options, trace, say, onConsole);

    // 4. The switch back as it was.
    try {
        guard->restore();
    } catch (const TraceSwitchError& e) {
        console.err << "vpolv-sim collect: " << echo(e.what())
                    << "; \"vpolv-sim trace off\" puts it back\n";
        // The trace collected so far still goes into the bundle.
    }
    const bool switchBack = guard->restored();
    if (switchBack)
        say << "the trace switch is back as it was (" << echo(collected.earlierSwitch) << ")\n";

    // 5. The bundle.
    collected.trace = finalRecords(trace, collected.traceFiles);
    collected.events = countRecords(collected.trace);
    std::optional<std::string> failed;
    try {
        failed =
            writeWhole(*target, writeZip(bundleEntries(collected, *report, readInis(*report))));
    } catch (const std::exception& e) {
        failed = e.what();
    }
    const int status = failed || !switchBack  ? kCannotCollect
                       : collected.events > 0 ? kCollected
                                              : kNothingTraced;
    if (failed) {
        console.err << "vpolv-sim collect: " << echo(utf8Path(*target))
                    << " cannot be written: " << echo(*failed) << "; the trace stays in "
                    << echo(utf8(*file)) << "\n";
    } else {
        trace.remove();
        say << collected.events << (collected.events == 1 ? " event" : " events") << " traced"
            << (collected.events == 0 ? ": the bundle says so" : "") << "\n";
    }
    const std::string bundle = failed ? std::string() : utf8Path(*target);
    if (options.json) {
        if (!console.print(summaryJson(collected, *report, bundle, status)))
            return kCannotCollect;
    } else if (!failed && !console.print(bundle + "\n")) {
        return kCannotCollect;
    }
    return status;
}

}  // namespace vpolv::support::collect
