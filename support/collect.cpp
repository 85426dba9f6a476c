// What goes into a collected case's bundle, and the summary (the run: collect_windows.cpp).
#include "support/collect.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "common/release.h"
#include "support/bundle.h"

namespace vpolv::support {

namespace collect {

std::size_t countRecords(const std::string& text) {
    std::size_t count = 0;
    for (const char c : text)
        count += c == '\n' ? 1 : 0;
    return count;
}

std::string doctorVerdict(const doctor::Report& report) {
    const std::size_t problems = report.problems();
    const std::size_t checks = report.findings().size();
    if (problems == 0)
        return "doctor: all " + std::to_string(checks) + " checks ok";
    return "doctor: " + std::to_string(problems) + (problems == 1 ? " problem" : " problems") +
           " in " + std::to_string(checks) + " checks (in the bundle's " +
           std::string(bundle::kDoctor) + "; vpolv-sim doctor shows them)";
}

std::vector<std::string> spaceIniPaths(const doctor::Report& report) {
    std::vector<std::string> paths;
    for (const auto& finding : report.findings()) {
        if (finding.check == doctor::Check::SpaceIni && !finding.file.empty() &&
            std::find(paths.begin(), paths.end(), finding.file) == paths.end()) {
            paths.push_back(finding.file);
        }
    }
    return paths;
}

namespace {

// vpolv-sim and, for each registration with a DLL, what the doctor found of it.
std::string versionsText(const Collected& collected, const doctor::Report& report) {
    std::string text = "vpolv-sim: vpolv " + std::string(kVersion) + " (" +
                       std::to_string(8 * sizeof(void*)) + "-bit), " + collected.simProgram +
                       "\r\n";
    const auto& findings = report.findings();
    for (const auto& dll : findings) {
        if (dll.check != doctor::Check::Dll || dll.file.empty())
            continue;
        text += "\r\n" + dll.group + "\r\n";
        for (const auto& finding : findings) {
            if (finding.group == dll.group && finding.check != doctor::Check::Other &&
                finding.check != doctor::Check::SpaceIni) {
                text += "  " + finding.name + ": " + finding.text + "\r\n";
            }
        }
    }
    return text;
}

// A line of the README: an entry's name, then (from the 15th column) what it holds.
std::string entryLine(std::string_view entry) {
    return std::string(entry) + std::string(entry.size() < 14 ? 14 - entry.size() : 1, ' ');
}

std::string readme(const Collected& collected, const doctor::Report& report,
                   const std::vector<IniFile>& spaceInis) {
    std::string text = "vpolv support case, collected by vpolv-sim collect (vpolv " +
                       std::string(kVersion) + ") on " + collected.when + "\r\n\r\n";
    if (collected.events > 0) {
        text += entryLine(bundle::kTrace) +
                "the trace of this collection: " + std::to_string(collected.events) +
                (collected.events == 1 ? " event" : " events") +
                " (\"vpolv-sim replay THIS-FILE.zip\" replays the last one)\r\n";
    } else {
        text += "(no " + std::string(bundle::kTrace) +
                ": no event was traced while collecting; the host did not call the "
                "plug-in, or the trace could not be written: see " +
                std::string(bundle::kDoctor) + "'s trace check)\r\n";
    }
    text += entryLine(bundle::kDoctor) + "the doctor's report of this machine (" +
            doctorVerdict(report).substr(8) + ")\r\n";
    text += entryLine(bundle::kVersions) +
            "vpolv-sim and each registered vpolv.dll, with their versions\r\n";
    for (std::size_t i = 0; i < spaceInis.size(); ++i)
        text += entryLine(bundle::spaceIni(i)) + spaceInis[i].path +
                ", which the plug-in registered there reads\r\n";
    if (spaceInis.empty())
        text += "(no SPACE.INI: the doctor found none beside a registered vpolv.dll)\r\n";
    text += "\r\nThe switch of this user's trace was put back as found (" +
            collected.earlierSwitch + "). Nothing else was collected.\r\n";
    return text;
}

}  // namespace

std::vector<ZipEntry> bundleEntries(const Collected& collected, const doctor::Report& report,
                                    const std::vector<IniFile>& spaceInis) {
    std::vector<ZipEntry> entries;
    if (collected.events > 0)
        entries.push_back({std::string(bundle::kTrace), collected.trace});
    entries.push_back({std::string(bundle::kDoctor), doctor::jsonReport(report)});
    entries.push_back({std::string(bundle::kVersions), versionsText(collected, report)});
    for (std::size_t i = 0; i < spaceInis.size(); ++i)
        entries.push_back({bundle::spaceIni(i), spaceInis[i].data});
    entries.push_back({std::string(bundle::kReadme), readme(collected, report, spaceInis)});
    return entries;
}

std::string defaultBundleName(const std::string& when) {
    std::string digits;
    for (const char c : when) {
        if (c >= '0' && c <= '9')
            digits += c;
        if (digits.size() == 8 && c == ' ')
            digits += '-';
    }
    return "vpolv-case-" + digits + ".zip";
}

std::string summaryJson(const Collected& collected, const doctor::Report& report,
                        const std::string& bundle, int exitCode) {
    const nlohmann::json document = {
        {"program", "vpolv-sim collect"},
        {"version", std::string(kVersion)},
        {"started", collected.when},
        {"bundle", bundle.empty() ? nlohmann::json() : nlohmann::json(bundle)},
        {"events", collected.events},
        {"traceFiles", collected.traceFiles},
        {"stoppedBy", collected.stoppedBy},
        {"switchPutBack", collected.earlierSwitch},
        {"doctor", {{"checks", report.findings().size()}, {"problems", report.problems()}}},
        {"exitCode", exitCode},
    };
    return document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

#ifndef _WIN32
int run(const Options&, const standalone::Console& console) {
    console.err << "vpolv-sim collect: collects a case on the designer's Windows machine, with "
                   "the Windows vpolv-sim.exe; this system has no plug-in to trace\n";
    return kCannotCollect;
}
#endif

}  // namespace collect

}  // namespace vpolv::support
