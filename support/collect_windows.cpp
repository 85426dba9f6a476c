// vpolv-sim collect on Windows: the doctor, the switch held while the designer repeats the
// event, the count of the events as they arrive, and the bundle.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <thread>

#include "common/text.h"
#include "platform/windows/console.h"
#include "platform/windows/image.h"
#include "platform/windows/paths.h"
#include "platform/windows/trace_switch.h"
#include "platform/windows/wide.h"
#include "standalone/echo.h"
#include "standalone/files.h"
#include "support/collect.h"
#include "support/trace_switch.h"

namespace vpolv::support::collect {

using namespace standalone;
namespace {

namespace fs = std::filesystem;
using win::utf8;
using win::wide;

// Ctrl+C and Ctrl+Break end the waiting as Enter does; the main thread then puts the switch back
// and writes the bundle. A closed console window, a log-off or a shutdown go on to the switch's
// own handler, which puts it back before the process ends.
std::atomic<bool> gInterrupted{false};

bool onControl(win::ControlEvent event) {
    if (event == win::ControlEvent::Interrupt) {
        gInterrupted = true;
        return true;
    }
    return false;
}

// While alive, onControl is the first console handler asked.
struct ControlHandler {
    ControlHandler() { win::addControlHandler(onControl); }
    ~ControlHandler() { win::removeControlHandler(onControl); }
    ControlHandler(const ControlHandler&) = delete;
    ControlHandler& operator=(const ControlHandler&) = delete;
};

std::string localTime(const char* format) {
    const win::LocalTime now = win::localTime();
    char text[32];
    std::snprintf(text, sizeof text, format, now.year, now.month, now.day, now.hour, now.minute,
                  now.second);
    return text;
}

// A file's contents, read while the plug-in may append to it; empty when it is not there.
std::string readShared(const std::wstring& path) {
    std::string data;
    unsigned long error = 0;
    win::readShared(path, std::string::npos, data, error);
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
        const auto size = [](const std::wstring& path) { return win::fileState(path).size; };
        const std::uint64_t now = size(file_) ^ (size(older()) << 1);
        if (now != seen_) {
            seen_ = now;
            count_ = countRecords(records());
        }
        return count_;
    }
    // Deletes both files.
    void remove() const {
        std::error_code error;
        fs::remove(older(), error);
        fs::remove(file_, error);
    }

  private:
    std::wstring file_;
    std::uint64_t seen_ = 0;
    std::size_t count_ = 0;
};

// Waits for Enter, the time given or Ctrl+C, showing the count of events as it changes: one line
// rewritten in place on a console, a line per change otherwise. Returns what ended it.
std::string waitForEvents(const Options& options, TraceFiles& trace, std::ostream& say,
                          bool console) {
    const bool keys = options.waitSeconds == 0 && win::isConsole(win::Stream::Input);
    std::optional<win::LineReader> line;
    if (options.waitSeconds == 0 && !keys)
        line.emplace();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(options.waitSeconds);
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
        else if (options.waitSeconds > 0 && std::chrono::steady_clock::now() >= end)
            stoppedBy = "--wait";
        else if ((keys && win::waitForEnter(200)) || (line && line->done()))
            stoppedBy = "Enter";
        else if (!keys)
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    if (console)
        say << "\n";
    return stoppedBy;
}

// The records traced, read while no plug-in appends (the writers' own turn, held for the read): an
// event that read the switch before it was put back ends its line first.
std::string finalRecords(const TraceFiles& trace, std::vector<std::string>& files) {
    const win::trace_switch::Turn turn;
    return trace.records(&files);
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

}  // namespace

int run(const Options& options, const Console& console) {
    std::ostream& say = options.json ? console.err : console.out;
    const bool onConsole = win::isConsole(options.json ? win::Stream::Error : win::Stream::Output);
    const auto refuse = [&](const std::string& why) {
        console.err << "vpolv-sim collect: " << echo(why) << "\n";
        return kCannotCollect;
    };
    Collected collected;
    collected.when = localTime("%04u-%02u-%02u %02u:%02u:%02u");
    collected.simProgram = utf8(win::programPath());

    // The bundle's path, checked before anything changes.
    fs::path out;
    if (options.out.empty()) {
        std::wstring folder = win::knownFolder(win::KnownFolder::Desktop);
        out = win::fileState(folder).folder
                  ? fs::path(folder) / pathFromUtf8(defaultBundleName(collected.when))
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
