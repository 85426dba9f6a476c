// vpolv-sim doctor: whether a machine is set up for the plug-in. It reads the registrations of
// the class in every registry view (on Windows), the DLL they name, the SPACE.INI beside it with
// the catalogs it leads to, the trace switch and the user's decimal separator, and changes
// nothing. Each check gives one line, "ok" or "problem:" with what is wrong and what to do.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/locale.h"
#include "platform/platform.h"
#include "standalone/files.h"
#include "support/exit_status.h"

namespace vpolv::support::doctor {

// The checks whose findings collect's bundle reads, each with the name the report gives it; any
// other check is Other.
enum class Check { Other, SpaceIni, Dll, DllBitness, Version, Signature };
inline constexpr std::pair<Check, std::string_view> kCheckNames[] = {
    {Check::SpaceIni, "SPACE.INI"},
    {Check::Dll, "DLL"},
    {Check::DllBitness, "DLL bitness"},
    {Check::Version, "version"},
    {Check::Signature, "signature"}};

struct Finding {
    std::string group;  // what the check belongs to ("64-bit view, per machine", "user")
    std::string name;   // the check ("InprocServer32", "SPACE.INI", "catalog 503")
    Check check = Check::Other;
    bool ok = true;
    std::string text;  // what was found; for a problem, what is wrong and what to do
    std::string file;  // the file the check read, by a path this program opens (UTF-8): the
                       // registered DLL, the SPACE.INI beside it; empty for the others
};

class Report {
  public:
    // The checks that follow belong to this group.
    void group(std::string name) { group_ = std::move(name); }
    void ok(std::string name, std::string text, std::string file = {});
    void problem(std::string name, std::string text);
    void ok(Check check, std::string text, std::string file = {});
    void problem(Check check, std::string text);
    // A remark on the run itself, not a check.
    void note(std::string text) { notes_.push_back(std::move(text)); }

    const std::vector<Finding>& findings() const { return findings_; }
    const std::vector<std::string>& notes() const { return notes_; }
    std::size_t problems() const;
    int exitCode() const { return problems() == 0 ? kOk : kNotOk; }

  private:
    std::string group_;
    std::vector<Finding> findings_;
    std::vector<std::string> notes_;
};

// The report as text, one line per check under its group, and as one JSON document.
std::string textReport(const Report& report);
std::string jsonReport(const Report& report);

// A folder given as the plug-in's: its SPACE.INI, the section that gives CatalogsDir, that
// folder, and the catalog files for 503 and 570 as the plug-in's own catalog code finds them
// (files.moduleFolder() is the folder checked).
void checkHostFolder(Report& report, const platform::FileSystem& files,
                     const platform::Profile& profile, const Locale& locale);

// The decimal separator of the user's number conversions, and what it means for the catalogs.
void checkDecimalSeparator(Report& report, const Locale& locale);

// What the header of a PE file says about the code inside: its bitness (32 or 64) and machine.
struct PeKind {
    int bits = 0;
    std::string machine;  // "x86", "x64", "ARM64", or the machine number
};
// From the first bytes of a file (the DOS header, the PE signature and the file header); nullopt
// with the reason when they are not those of a PE image.
std::optional<PeKind> peKind(std::string_view head, std::string& reason);

// The registrations of the class and what they lead to; only Windows has them.
class Machine {
  public:
    virtual ~Machine() = default;
    // Adds the checks of every registry view: the class in the per-user and per-machine
    // registrations, its DLL and that DLL's folder, the trace switch and the installer's record.
    virtual void examine(Report& report) const = 0;
};

// This system's registrations; null where there is no registry.
std::unique_ptr<Machine> systemMachine();

// A path as the doctor hands it to the system: on Windows, a path too long for the system's
// usual limit (260 characters) made whole and absolute with the \\?\ prefix that lifts it;
// elsewhere, and for shorter paths, the path itself.
Text systemPath(const Text& path);
// The plug-in's file services and initialisation-file reader for paths of any length (folder
// stands for the plug-in's folder, as in platform::makeFileSystem): every path goes to them as
// systemPath gives it.
std::unique_ptr<platform::FileSystem> anyLengthFiles(Text folder);
std::unique_ptr<platform::Profile> anyLengthProfile();

struct Options {
    std::optional<std::string> hostFolder;  // UTF-8
    bool json = false;
};

// Runs the checks: those of the host folder when one is given, else those of the machine; the
// decimal separator always. Without a machine and a host folder it cannot run (nullopt, with
// the reason).
std::optional<Report> examine(const Options& options, const Machine* machine, std::string& reason);

// The command, once its command line is read: prints the report and returns the exit status
// (support/exit_status.h).
int command(const Options& options, const standalone::Console& console);

}  // namespace vpolv::support::doctor
