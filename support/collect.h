// vpolv-sim collect: a support case gathered on the designer's machine in one step. The doctor's
// report, the trace of the events the designer repeats (the switch turned on for this user only,
// then put back), the versions and the SPACE.INI, written into one zip for the ticket.
//
// The run itself needs Windows (collect_windows.cpp); what goes into the bundle is made here.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "standalone/files.h"
#include "support/doctor.h"
#include "support/exit_status.h"
#include "support/zip.h"

namespace vpolv::support::collect {

struct Options {
    std::string out;            // UTF-8; empty: the default name (defaultBundleName) on the Desktop
    long long waitSeconds = 0;  // 0: until Enter
    bool json = false;
};

// The run and its exit status (support/exit_status.h): collected with at least one event,
// collected without one, or could not run (on every system but Windows, always).
int run(const Options& options, const standalone::Console& console);
inline constexpr int kCollected = kOk;
inline constexpr int kNothingTraced = kNotOk;
inline constexpr int kCannotCollect = kNotRun;

// What the collection gathered, for the bundle and the summary.
struct Collected {
    std::string when;                     // local time of the start, "2026-12-09 03:04:05"
    std::string simProgram;               // the path of this vpolv-sim
    std::string trace;                    // the records traced, oldest first (complete lines only)
    std::size_t events = 0;               // their number
    std::vector<std::string> traceFiles;  // the files they came from (UTF-8), oldest first
    std::string earlierSwitch;  // the user's switch before, as put back ("none", or the value)
    std::string stoppedBy;      // "Enter", "--wait", "Ctrl+C"
};

// The number of complete records (lines ending in a line feed) of a trace's text.
std::size_t countRecords(const std::string& text);

// The verdict line the doctor's report ends with, for collect's first line.
std::string doctorVerdict(const doctor::Report& report);

// The bundle's entries (support/bundle.h), the SPACE.INI files those the registered DLLs read
// (`spaceInis`: their paths and contents, in the doctor's order).
struct IniFile {
    std::string path;
    std::string data;
};
std::vector<ZipEntry> bundleEntries(const Collected& collected, const doctor::Report& report,
                                    const std::vector<IniFile>& spaceInis);

// The files the doctor's checks read: the SPACE.INI files of the registrations, each once.
std::vector<std::string> spaceIniPaths(const doctor::Report& report);

// The default file name: "vpolv-case-20261209-030405.zip" from the local time given as in
// Collected::when.
std::string defaultBundleName(const std::string& when);

// --json: the summary on standard output.
std::string summaryJson(const Collected& collected, const doctor::Report& report,
                        const std::string& bundle, int exitCode);

}  // namespace vpolv::support::collect
