// The doctor's report, the checks every system can make (a host folder, the decimal separator,
// a PE header) and the command around them.
#include "support/doctor.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "catalog/catalog.h"
#include "common/error.h"
#include "common/release.h"
#include "common/text.h"
#include "host/memory_host.h"
#include "platform/native.h"
#include "standalone/echo.h"
#include "standalone/files.h"
#include "standalone/message_box.h"

namespace vpolv::support::doctor {

using standalone::echo;

namespace {

namespace fs = std::filesystem;

constexpr const char* kDeploymentGuide = "docs/deployment.md";

std::string utf8(const Text& text) {
    return toUtf8(text);
}

std::string describe(const std::exception& e) {
    if (const auto* error = dynamic_cast<const Error*>(&e))
        return utf8(error->description());
    return e.what();
}

bool isFolder(const Text& path) {
    std::error_code error;
    return fs::is_directory(fs::path(systemPath(path)), error);
}

// A folder as the plug-in takes its own, without a final separator, as the checks look at it
// and name it: a drive's root with its separator ("C:\\"; "C:" is the current folder of C).
Text folderItself(Text folder, const platform::FileSystem& files) {
    if (files.separator() == u'\\' && !folder.empty() && folder.back() == u':')
        folder += files.separator();
    return folder;
}

// The system's file services, with every path reaching the system as systemPath gives it.
class AnyLengthFiles : public platform::FileSystem {
  public:
    explicit AnyLengthFiles(Text folder) : files_(platform::makeFileSystem(std::move(folder))) {}
    Text moduleFolder() const override { return files_->moduleFolder(); }
    char16_t separator() const override { return files_->separator(); }
    bool isSeparator(char16_t c) const override { return files_->isSeparator(c); }
    std::vector<platform::DirEntry> listDirectory(const Text& directory) const override {
        return files_->listDirectory(systemPath(directory));
    }
    std::int64_t fileLength(const Text& path) const override {
        return files_->fileLength(systemPath(path));
    }

  private:
    std::unique_ptr<platform::FileSystem> files_;
};

// The plug-in's reading of an initialisation file, with the path as systemPath gives it.
class AnyLengthProfile : public platform::Profile {
  public:
    Text readString(const Text& file, const Text& section, const Text& key) const override {
        return profile_->readString(systemPath(file), section, key);
    }

  private:
    std::unique_ptr<platform::Profile> profile_ = platform::makeProfile();
};

// A number as the messages show it ("12.5", "125").
std::string numberText(double value) {
    std::ostringstream out;
    out << value;
    return out.str();
}

void checkCatalog(Report& report, const platform::Services& sys, std::u16string_view number) {
    const std::string name = "catalog " + utf8(Text(number));
    const CatalogSearch search = catalogSearch(sys, Text(number)).value();
    const Text& stem = search.stem;
    // The in-memory host keeps the file name the plug-in has it load.
    host::MemoryHost host({}, sys.locale);
    try {
        loadCatalog(sys, *host.createCatalog(), search);
    } catch (const std::exception& e) {
        report.problem(name, "not looked for: the catalogs folder cannot be listed (" +
                                 describe(e) + "), and the plug-in's events fail with that error");
        return;
    }
    const Text& loaded = host.loads().at(0).file;
    const std::string file = utf8(stem) + ".cat";
    if (loaded == stem) {
        const std::string bare = "the plug-in passes the bare name \"" + utf8(stem) +
                                 "\" to the host, which finds no catalog (no surcharges); ";
        if (search.catalogsDir.empty()) {
            report.problem(name, "no catalogs folder is named: " + bare + "see SPACE.INI above");
        } else {
            report.problem(name, "no subfolder of " + utf8(search.catalogsDir) +
                                     " holds a non-empty " + file + ": " + bare + "copy " + file +
                                     " into one");
        }
        return;
    }
    report.ok(name, utf8(loaded) + " (" + std::to_string(sys.files.fileLength(loaded)) +
                        " bytes): the name the plug-in passes to the host");
}

}  // namespace

namespace {

Check checkNamed(std::string_view name) {
    for (const auto& [check, checkName] : kCheckNames) {
        if (checkName == name)
            return check;
    }
    return Check::Other;
}

std::string nameOf(Check check) {
    for (const auto& [known, name] : kCheckNames) {
        if (known == check)
            return std::string(name);
    }
    return "";
}

}  // namespace

void Report::ok(std::string name, std::string text, std::string file) {
    const Check check = checkNamed(name);
    findings_.push_back({group_, std::move(name), check, true, std::move(text), std::move(file)});
}

void Report::problem(std::string name, std::string text) {
    const Check check = checkNamed(name);
    findings_.push_back({group_, std::move(name), check, false, std::move(text), {}});
}

void Report::ok(Check check, std::string text, std::string file) {
    findings_.push_back({group_, nameOf(check), check, true, std::move(text), std::move(file)});
}

void Report::problem(Check check, std::string text) {
    findings_.push_back({group_, nameOf(check), check, false, std::move(text), {}});
}

std::size_t Report::problems() const {
    std::size_t count = 0;
    for (const auto& finding : findings_)
        count += finding.ok ? 0 : 1;
    return count;
}

std::string textReport(const Report& report) {
    std::string out = "vpolv-sim doctor, vpolv " + std::string(kVersion) + " (" +
                      std::to_string(8 * sizeof(void*)) +
                      "-bit): reads the registry, the host's folder and the user's settings, and "
                      "changes nothing\n";
    for (const auto& note : report.notes())
        out += "note: " + echo(note) + "\n";
    const std::string* group = nullptr;
    for (const auto& finding : report.findings()) {
        if (!group || *group != finding.group) {
            group = &finding.group;
            out += "\n" + echo(finding.group) + "\n";
        }
        out += finding.ok ? "  ok       " : "  problem: ";
        out += echo(finding.name) + ": " + echo(finding.text) + "\n";
    }
    const std::size_t problems = report.problems();
    const std::size_t checks = report.findings().size();
    out += "\n";
    if (problems == 0) {
        out += "all " + std::to_string(checks) + " checks ok\n";
    } else {
        out += std::to_string(problems) + (problems == 1 ? " problem" : " problems") + " in " +
               std::to_string(checks) + " checks\n";
    }
    return out;
}

std::string jsonReport(const Report& report) {
    nlohmann::json checks = nlohmann::json::array();
    for (const auto& finding : report.findings()) {
        checks.push_back({{"group", finding.group},
                          {"check", finding.name},
                          {"status", finding.ok ? "ok" : "problem"},
                          {"message", finding.text}});
    }
    const nlohmann::json document = {
        {"program", "vpolv-sim doctor"},
        {"version", std::string(kVersion)},
        {"bits", 8 * sizeof(void*)},
        {"notes", report.notes()},
        {"checks", checks},
        {"problems", report.problems()},
        {"exitCode", report.exitCode()},
    };
    return document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

namespace {
void examineHostFolder(Report& report, const platform::FileSystem& files,
                       const platform::Profile& profile, const Locale& locale) {
    const Text folder = files.moduleFolder();
    if (!isFolder(folderItself(folder, files))) {
        report.problem("host folder",
                       utf8(folderItself(folder, files)) + " does not exist or is not a folder");
        return;
    }
    Text ini = folder;
    ini += files.separator();
    ini += kSpaceIni;
    const std::string iniText = utf8(ini);
    const std::string guide = std::string(kDeploymentGuide) + " section 2";
    if (files.fileLength(ini) < 0) {
        report.problem(Check::SpaceIni, iniText +
                                            " is missing: the plug-in finds no catalogs folder; "
                                            "vpolv.dll belongs in the host's folder, the one with "
                                            "its SPACE.INI (" +
                                            guide + ")");
    } else {
        report.ok(Check::SpaceIni, iniText, utf8(systemPath(ini)));
        std::string section;
        Text value;
        for (const auto name : kSpaceIniSections) {
            value = profile.readString(ini, Text(name), Text(kCatalogsDirKey));
            if (!value.empty()) {
                section = utf8(Text(name));
                break;
            }
        }
        if (section.empty()) {
            report.problem("CatalogsDir",
                           iniText +
                               " has no CatalogsDir in [Local], [InSitu] or [Remote]: "
                               "the plug-in finds no catalogs; it is the host's own "
                               "setting, see the host's installation (" +
                               guide + ")");
        } else {
            const std::string given = "[" + section + "] CatalogsDir=" + utf8(value);
            if (!isFolder(value)) {
                report.problem("CatalogsDir", given + ": no such folder; correct CatalogsDir in " +
                                                  iniText + " or restore the catalogs folder");
            } else {
                try {
                    const auto entries = files.listDirectory(value);
                    report.ok("CatalogsDir",
                              given + " (" + std::to_string(entries.size()) + " entries)");
                } catch (const std::exception& e) {
                    report.problem("CatalogsDir", given + ": the folder cannot be listed (" +
                                                      describe(e) +
                                                      "): give the host's users read access");
                }
            }
        }
    }
    standalone::RecordingMessageBox dialogs;  // the lookup shows no box
    const platform::Services sys{locale, files, profile, dialogs};
    checkCatalog(report, sys, kCatalog503);
    checkCatalog(report, sys, kCatalog570);
}
}  // namespace

// The host folder's checks; a file call that could not look (no memory, no access) is reported
// as what it is, for the plug-in's events fail with that error too.
void checkHostFolder(Report& report, const platform::FileSystem& files,
                     const platform::Profile& profile, const Locale& locale) {
    try {
        examineHostFolder(report, files, profile, locale);
    } catch (const std::exception& e) {
        report.problem("host folder", "could not be examined (" + describe(e) +
                                          "), and the plug-in's events fail with that error");
    }
}

void checkDecimalSeparator(Report& report, const Locale& locale) {
    const std::string guide = std::string(kDeploymentGuide) + " section 7";
    try {
        const std::string half = utf8(locale.doubleToText(22.5));
        const char separator = half.size() == 4 ? half[2] : '\0';
        if (separator != ',' && separator != '.') {
            report.problem("decimal separator",
                           "half of 45 is written \"" + echo(half) +
                               "\": neither a comma nor a point, which no catalog is written "
                               "for; set the Decimal symbol in the user's regional settings (" +
                               guide + ")");
            return;
        }
        const std::string readings = "\"12,5\" reads as " +
                                     numberText(locale.textToDouble(u"12,5")) +
                                     " and \"12.5\" as " + numberText(locale.textToDouble(u"12.5"));
        const std::string sign = separator == ',' ? "the comma" : "the point";
        report.ok("decimal separator", sign + ": half of 45 is written \"" + half +
                                           "\" in catalog line names, " + readings +
                                           " points; the catalogs must be written with " + sign +
                                           " (" + guide + ")");
    } catch (const std::exception& e) {
        report.problem("decimal separator", "the user's number format cannot be read (" +
                                                describe(e) + ") (" + guide + ")");
    }
}

std::optional<PeKind> peKind(std::string_view head, std::string& reason) {
    const auto u16 = [&](std::size_t at) {
        return static_cast<unsigned>(static_cast<unsigned char>(head[at])) |
               static_cast<unsigned>(static_cast<unsigned char>(head[at + 1])) << 8;
    };
    if (head.size() < 0x40 || head.substr(0, 2) != "MZ") {
        reason = "not a program file (no MZ header)";
        return std::nullopt;
    }
    const std::size_t pe = u16(0x3C) | static_cast<std::size_t>(u16(0x3E)) << 16;
    if (pe > head.size() || head.size() - pe < 26 ||
        head.substr(pe, 4) != std::string_view("PE\0\0", 4)) {
        reason = "not a PE file (no PE header where the MZ header points)";
        return std::nullopt;
    }
    PeKind kind;
    switch (u16(pe + 4)) {
        case 0x014C:
            kind.machine = "x86";
            break;
        case 0x8664:
            kind.machine = "x64";
            break;
        case 0xAA64:
            kind.machine = "ARM64";
            break;
        default: {
            char number[8];
            std::snprintf(number, sizeof number, "0x%04X", u16(pe + 4));
            kind.machine = std::string("machine ") + number;
        }
    }
    // The optional header's magic tells the image's format: PE32 or PE32+.
    switch (u16(pe + 24)) {
        case 0x10B:
            kind.bits = 32;
            break;
        case 0x20B:
            kind.bits = 64;
            break;
        default:
            reason = "a PE file without a 32-bit or 64-bit optional header";
            return std::nullopt;
    }
    return kind;
}

std::optional<Report> examine(const Options& options, const Machine* machine, std::string& reason) {
    Report report;
    const auto locale = platform::makeUserLocale();
    if (options.hostFolder) {
        Text folder = fromUtf8(*options.hostFolder);
        // The folder as the plug-in sees its own: without a final separator (a drive's root too,
        // which the checks name and look at with it).
        const auto system = platform::makeFileSystem();
        while (folder.size() > 1 && system->isSeparator(folder.back()))
            folder.pop_back();
        const auto files = anyLengthFiles(folder);
        const auto profile = anyLengthProfile();
        report.group("host folder " + utf8(folderItself(folder, *files)));
        checkHostFolder(report, *files, *profile, *locale);
        if (!machine)
            report.note("the registry checks need Windows: only the host folder is checked");
    } else if (machine) {
        machine->examine(report);
    } else {
        reason =
            "the registry checks need Windows; give --host-folder DIR to check a host "
            "folder's SPACE.INI and catalogs";
        return std::nullopt;
    }
    report.group("user");
    checkDecimalSeparator(report, *locale);
    return report;
}

int command(const Options& options, const standalone::Console& console) {
    std::ostream& err = console.err;
    const auto print = [&](const std::string& text) {
        return standalone::printTo(console.out, err, text, "vpolv-sim doctor");
    };
    try {
        const auto machine = systemMachine();
        std::string reason;
        const auto report = examine(options, machine.get(), reason);
        if (!report) {
            err << "vpolv-sim doctor: " << reason << "\n";
            return kNotRun;
        }
        if (!print(options.json ? jsonReport(*report) : textReport(*report)))
            return kNotRun;
        return report->exitCode();
    } catch (const std::exception& e) {
        err << "vpolv-sim doctor: the checks could not be made: " << describe(e) << "\n";
        return kNotRun;
    }
}

std::unique_ptr<platform::FileSystem> anyLengthFiles(Text folder) {
    return std::make_unique<AnyLengthFiles>(std::move(folder));
}

std::unique_ptr<platform::Profile> anyLengthProfile() {
    return std::make_unique<AnyLengthProfile>();
}

#ifndef _WIN32
std::unique_ptr<Machine> systemMachine() {
    return nullptr;
}

Text systemPath(const Text& path) {
    return path;
}
#endif

}  // namespace vpolv::support::doctor
