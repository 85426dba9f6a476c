// The doctor's checks of the registry: the class in both registry views, per user and per
// machine, the DLL it names and that DLL's folder, the trace switch and the installer's record.
#include <optional>
#include <string>
#include <vector>

#include "common/error.h"
#include "common/release.h"
#include "common/text.h"
#include "platform/native.h"
#include "platform/windows/image.h"
#include "platform/windows/paths.h"
#include "platform/windows/registration.h"
#include "platform/windows/registry.h"
#include "platform/windows/security.h"
#include "platform/windows/trace_switch.h"
#include "platform/windows/wide.h"
#include "standalone/files.h"
#include "support/doctor.h"
#include "support/trace_switch.h"

namespace vpolv::support::doctor {

using namespace standalone;
using win::reasonOf;
using win::sameText;
using win::utf8;
namespace registry = win::registry;
namespace layout = win::registration;
using Root = registry::Root;

namespace {

const std::string kRegistering = "docs/deployment.md section 3";

// A path without its final separators.
std::wstring trimmed(std::wstring path) {
    while (path.size() > 1 && (path.back() == L'\\' || path.back() == L'/'))
        path.pop_back();
    return path;
}

// The folder of a file's full path as the plug-in takes its own (without a final separator);
// empty when the path names no folder.
std::wstring folderOf(const std::wstring& path) {
    const auto cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? std::wstring() : trimmed(path.substr(0, cut));
}

// A registry view, and the registrations that hosts of its bitness see.
struct View {
    int bits;
    registry::View view;
    const char* package;      // the installer's architecture
    bool redirected = false;  // this program is 32-bit and the view 64-bit: see win::viewPath
    std::string name() const { return std::to_string(bits) + "-bit view"; }
};

struct Scope {
    Root root;
    const char* label;
};
const Scope kMachine{Root::LocalMachine, "per machine"};
const Scope kUser{Root::CurrentUser, "per user"};

// What reading a key or value found: nothing there, the value, or a failure with the system's
// message.
struct Value {
    enum State { Absent, Present, Failed } state = Absent;
    std::wstring text;
    std::string reason;
};

Value valueOf(long status, std::wstring text = {}) {
    if (status == registry::kOk)
        return {Value::Present, std::move(text), {}};
    if (status == registry::kNotFound)
        return {};
    return {Value::Failed, {}, reasonOf(static_cast<unsigned long>(status))};
}

Value readValue(Root root, const std::wstring& path, const wchar_t* name, registry::View view) {
    std::wstring text;
    const long status = registry::readText(root, path, name, view, text);
    return valueOf(status, std::move(text));
}

Value keyState(Root root, const std::wstring& path, registry::View view) {
    win::UniqueKey key;
    return valueOf(registry::open(root, path, view, registry::kRead, key));
}

// How the messages name a key or a value.
std::string keyName(Root root, const std::wstring& path, const wchar_t* value = nullptr) {
    std::string name = std::string(registry::rootName(root)) + "\\" + utf8(path);
    if (value)
        name += " " + utf8(value);
    return name;
}
std::string keyName(const Scope& scope, const std::wstring& path, const wchar_t* value = nullptr) {
    return keyName(scope.root, path, value);
}

// The path by which this program reads what the view's programs name by path, whatever its
// length.
std::wstring readPath(const View& view, const std::wstring& path) {
    return win::toWide(win::systemPath(win::fromWide(win::viewPath(view.redirected, path))));
}

class WindowsMachine : public Machine {
  public:
    void examine(Report& report) const override;

  private:
    void examineRegistration(Report& report, const View& view, const Scope& scope) const;
    bool checkDll(Report& report, const View& view, const std::wstring& path) const;
    void checkVersion(Report& report, const std::wstring& path) const;
    void checkSignature(Report& report, const std::wstring& path) const;
    void checkInstallDir(Report& report, const View& view, const std::wstring& folder) const;
    void checkTrace(Report& report, const View& view) const;

    const std::wstring clsid_ = layout::kClassId;
    const std::wstring libId_ = layout::kLibraryId;
    const std::wstring classKey_ = layout::kClasses + layout::classKey();
    const std::wstring progIdKey_ = layout::kClasses + std::wstring(layout::kProgId) + L"\\CLSID";
    // The installer's record is kept with the trace switch.
    const std::wstring vpolvKey_ = win::trace_switch::kKey;
};

void WindowsMachine::examine(Report& report) const {
    const bool windows64 = win::windows64();
    std::vector<View> views{{32, windows64 ? registry::View::Bits32 : registry::View::Own, "x86"}};
    if (windows64)
        views.push_back({64, registry::View::Bits64, "x64", sizeof(void*) == 4});
    else
        report.note("32-bit Windows: one registry view");

    bool registered = false;
    for (const View& view : views) {
        const Value machine = keyState(kMachine.root, classKey_, view.view);
        const Value user = keyState(kUser.root, classKey_, view.view);
        if (machine.state == Value::Absent && user.state == Value::Absent) {
            report.group(view.name());
            report.ok("class", "vpolv.Plugin is not registered for " + std::to_string(view.bits) +
                                   "-bit hosts (" + keyName(kMachine, classKey_) + ", " +
                                   keyName(kUser, classKey_) + "): if the host is " +
                                   std::to_string(view.bits) + "-bit, install the " + view.package +
                                   " package (docs/deployment.md sections 1 and 3)");
            continue;
        }
        registered = true;
        for (const Scope* scope : {&kMachine, &kUser}) {
            const Value& state = scope == &kMachine ? machine : user;
            if (state.state == Value::Failed) {
                report.group(view.name() + ", " + scope->label + " (" +
                             registry::rootName(scope->root) + ")");
                report.problem("class",
                               keyName(*scope, classKey_) + " cannot be read: " + state.reason);
            } else if (state.state == Value::Present) {
                examineRegistration(report, view, *scope);
            }
        }
        report.group(view.name());
        checkTrace(report, view);
    }
    if (!registered) {
        report.group("registration");
        report.problem("class",
                       "vpolv.Plugin is registered in neither registry view: install the "
                       "package of the host's bitness (" +
                           kRegistering + ")");
    }
    // A switch that a vpolv-sim run ended before it could put it back: the user's value, the
    // same in both views. A value that cannot be read is the trace check's to report.
    try {
        if (const std::optional<std::string> leftover = readTraceSwitch().leftover) {
            report.group("user");
            report.problem("trace switch", *leftover);
        }
    } catch (const TraceSwitchError&) {
    }
}

void WindowsMachine::examineRegistration(Report& report, const View& view,
                                         const Scope& scope) const {
    report.group(view.name() + ", " + scope.label + " (" + registry::rootName(scope.root) + ")");
    const bool perUser = scope.root == Root::CurrentUser;
    const std::string again = "register the DLL again (" + kRegistering + ")";

    // The programmatic identifier and the type library are shared by both views: read in this
    // program's own. A per-user class may use the machine's.
    Value progId = readValue(scope.root, progIdKey_, nullptr, registry::View::Own);
    std::string progIdKey = keyName(scope, progIdKey_);
    if (perUser && progId.state == Value::Absent) {
        progId = readValue(kMachine.root, progIdKey_, nullptr, registry::View::Own);
        progIdKey = keyName(kMachine, progIdKey_);
    }
    if (progId.state == Value::Present && sameText(progId.text, clsid_)) {
        report.ok("ProgID", progIdKey + " = " + utf8(clsid_));
    } else if (progId.state == Value::Failed) {
        report.problem("ProgID", progIdKey + " cannot be read: " + progId.reason);
    } else {
        report.problem("ProgID",
                       progIdKey +
                           (progId.state == Value::Absent
                                ? " is missing"
                                : " names " + utf8(progId.text) + ", not " + utf8(clsid_)) +
                           ": the host cannot create vpolv.Plugin; " + again);
    }

    // The server: the DLL the host loads, and how.
    const std::wstring serverKey = classKey_ + L"\\" + layout::kServer;
    const Value server = readValue(scope.root, serverKey, nullptr, view.view);
    const std::wstring dll = server.text;
    const bool fullPath = !folderOf(dll).empty();
    if (server.state == Value::Failed) {
        report.problem("InprocServer32",
                       keyName(scope, serverKey) + " cannot be read: " + server.reason);
    } else if (dll.empty()) {
        report.problem("InprocServer32", keyName(scope, serverKey) +
                                             " names no DLL: the host cannot load the "
                                             "plug-in; " +
                                             again);
    } else if (!fullPath) {
        report.problem("InprocServer32", keyName(scope, serverKey) + " = " + utf8(dll) +
                                             ", not a full path; " + again);
    } else {
        report.ok("InprocServer32", keyName(scope, serverKey) + " = " + utf8(dll));
    }
    const Value threading = readValue(scope.root, serverKey, layout::kThreadingModel, view.view);
    if (threading.state == Value::Present && sameText(threading.text, layout::kApartment)) {
        report.ok("ThreadingModel", "Apartment");
    } else {
        report.problem(
            "ThreadingModel",
            keyName(scope, serverKey, layout::kThreadingModel) +
                (threading.state == Value::Failed
                     ? " cannot be read: " + threading.reason
                     : (threading.state == Value::Absent ? " is missing"
                                                         : " is " + utf8(threading.text)) +
                           ", not Apartment: the plug-in must run on the host's "
                           "thread; " +
                           again));
    }

    // The type library: named by the class, with this bitness's entry naming the same DLL. A
    // per-user registration may have its library registered machine-wide.
    const Value classLib = readValue(scope.root, classKey_ + L"\\TypeLib", nullptr, view.view);
    const std::wstring entryKey = layout::kClasses + layout::typeLibEntryKey(view.bits);
    Value entry = readValue(scope.root, entryKey, nullptr, registry::View::Own);
    const Scope* entryScope = &scope;
    if (perUser && entry.state == Value::Absent) {
        entry = readValue(kMachine.root, entryKey, nullptr, registry::View::Own);
        entryScope = &kMachine;
    }
    std::string libraryFault;
    if (classLib.state != Value::Present || !sameText(classLib.text, libId_)) {
        libraryFault = keyName(scope, classKey_ + L"\\TypeLib") +
                       (classLib.state == Value::Failed   ? " cannot be read: " + classLib.reason
                        : classLib.state == Value::Absent ? " is missing"
                                                          : " names " + utf8(classLib.text)) +
                       "; ";
    }
    if (entry.state != Value::Present) {
        libraryFault +=
            keyName(*entryScope, entryKey) +
            (entry.state == Value::Failed
                 ? " cannot be read: " + entry.reason
                 : " is missing (no " + utf8(layout::sysKindKey(view.bits)) + " entry)") +
            "; ";
    } else if (!dll.empty() && !sameText(entry.text, dll)) {
        libraryFault += keyName(*entryScope, entryKey) + " = " + utf8(entry.text) +
                        ", not the registered DLL; ";
    }
    if (libraryFault.empty()) {
        report.ok("type library", keyName(*entryScope, entryKey) + " = " + utf8(entry.text));
    } else {
        report.problem("type library", libraryFault +
                                           "the host's automation cannot describe the plug-in "
                                           "to itself; " +
                                           again);
    }

    if (perUser) {
        const Value machine = readValue(kMachine.root, serverKey, nullptr, view.view);
        if (machine.state == Value::Present) {
            report.problem("per-user registration",
                           "hides the machine-wide one (" + keyName(kMachine, serverKey) + " = " +
                               utf8(machine.text) + ") for this user, who gets " +
                               (sameText(machine.text, dll) ? "the same DLL" : "another DLL") +
                               " and none of the machine's upgrades; remove it with regsvr32 /u /n "
                               "/i:user \"" +
                               utf8(dll) + "\" (" + kRegistering + ")");
        } else {
            report.ok("per-user registration",
                      "only this user's host finds the plug-in (" + kRegistering + ")");
        }
    }

    if (!fullPath)
        return;
    checkDll(report, view, dll);
    const std::wstring folder = folderOf(dll);
    if (!perUser)
        checkInstallDir(report, view, folder);
    const auto files = anyLengthFiles(win::fromWide(win::viewPath(view.redirected, folder)));
    const auto profile = anyLengthProfile();
    const auto locale = platform::makeUserLocale();
    checkHostFolder(report, *files, *profile, *locale);
}

bool WindowsMachine::checkDll(Report& report, const View& view,
                              const std::wstring& registered) const {
    const std::wstring path = readPath(view, registered);
    const std::string readAs = path == registered ? std::string() : ", read as " + utf8(path);
    const win::FileState dll = win::fileState(path);
    if (!dll.exists || dll.folder) {
        report.problem("DLL", utf8(registered) + " is missing" +
                                  (dll.folder ? std::string(" (a folder is there)")
                                              : " (" + reasonOf(dll.error) + readAs + ")") +
                                  ": the host cannot create vpolv.Plugin; install the " +
                                  view.package + " package again, or copy the DLL there (" +
                                  kRegistering + ")");
        return false;
    }
    report.ok("DLL", utf8(registered) + " (" + std::to_string(dll.size) + " bytes" + readAs + ")",
              utf8(path));

    std::string head;
    unsigned long error = 0;
    if (!win::readShared(path, 4096, head, error)) {
        report.problem("DLL bitness", utf8(path) + " cannot be read: " + reasonOf(error));
        return true;
    }
    std::string reason;
    const auto kind = peKind(head, reason);
    const std::string bits = std::to_string(view.bits);
    if (!kind) {
        report.problem("DLL bitness", utf8(path) + " is " + reason + ": install the " +
                                          view.package + " package again (" + kRegistering + ")");
    } else if (kind->bits != view.bits) {
        report.problem("DLL bitness",
                       "a " + std::to_string(kind->bits) + "-bit DLL (" + kind->machine +
                           ") is registered in the " + bits + "-bit view: " + bits +
                           "-bit hosts cannot load it; register the " + view.package +
                           " DLL for them, and this one with the regsvr32 of its own bitness "
                           "(docs/deployment.md sections 1 and 3)");
    } else {
        report.ok("DLL bitness", bits + "-bit (" + kind->machine + "), as the view");
    }
    checkVersion(report, path);
    checkSignature(report, path);
    return true;
}

void WindowsMachine::checkVersion(Report& report, const std::wstring& path) const {
    const win::VersionRecord record = win::versionRecord(path);
    if (record.error != 0) {
        report.problem("version", utf8(path) + " has no version record (" + reasonOf(record.error) +
                                      "): not a vpolv.dll of a release; install the release's "
                                      "package again (docs/deployment.md section 6)");
        return;
    }
    const std::string version = utf8(record.version);
    if (record.product != L"vpolv") {
        report.problem("version", utf8(path) + ": product \"" + utf8(record.product) +
                                      "\", not vpolv: another program's DLL is registered; "
                                      "install the release's package again (" +
                                      kRegistering + ")");
        return;
    }
    std::string found = "vpolv " + version + " (file version " + record.numbers + ")";
    if (version != kVersion)
        found += "; this vpolv-sim is " + std::string(kVersion);
    report.ok("version", found);
}

void WindowsMachine::checkSignature(Report& report, const std::wstring& path) const {
    using win::Signature;
    const Signature signature = win::verifySignature(path);
    if (signature.verdict == Signature::Verified) {
        report.ok("signature", "signed; the signature verifies");
    } else if (signature.verdict == Signature::Unsigned) {
        report.ok("signature", "not signed");
    } else {
        // The usual findings in words; the system's message for the others.
        const std::string why = signature.verdict == Signature::Changed
                                    ? "the file was changed after it was signed"
                                : signature.verdict == Signature::UntrustedRoot
                                    ? "the certificate's root is not trusted on this machine"
                                : signature.verdict == Signature::Expired
                                    ? "the certificate had expired when the file was signed"
                                    : signature.reason;
        report.problem("signature", "the signature does not verify: " + why + " (" +
                                        errorCodeText(signature.code) +
                                        "); install the release's package again (" + kRegistering +
                                        ")");
    }
}

void WindowsMachine::checkInstallDir(Report& report, const View& view,
                                     const std::wstring& folder) const {
    const Value record = readValue(kMachine.root, vpolvKey_, L"InstallDir", view.view);
    const std::string key = keyName(kMachine, vpolvKey_, L"InstallDir");
    if (record.state == Value::Absent) {
        report.ok("InstallDir", "no " + key + ": installed without the package");
    } else if (record.state == Value::Failed) {
        report.problem("InstallDir", key + " cannot be read: " + record.reason);
    } else if (sameText(trimmed(record.text), trimmed(folder))) {
        report.ok("InstallDir", key + " = " + utf8(record.text) + ", the registered DLL's folder");
    } else {
        report.problem("InstallDir", key + " = " + utf8(record.text) +
                                         ", but the registered DLL is in " + utf8(folder) +
                                         ": the package upgrades and removes the DLL of " +
                                         utf8(record.text) + "; install the " + view.package +
                                         " package again with INSTALLDIR=\"" + utf8(folder) +
                                         "\\\" (" + kRegistering + ")");
    }
}

void WindowsMachine::checkTrace(Report& report, const View& view) const {
    const std::string guide = "docs/trace-format.md";
    // What the plug-in of the view's bitness does.
    const win::trace_switch::Lookup found = win::trace_switch::lookUp(view.view);
    const std::string key = keyName(found.root, vpolvKey_, win::trace_switch::kValue);
    if (found.status == registry::kNotFound) {
        report.ok("trace",
                  "off (no " + std::string(kUserSwitchName) + " or " + kMachineSwitchName + ")");
        return;
    }
    if (found.status != registry::kOk) {
        report.problem("trace", key + " cannot be read (" +
                                    reasonOf(static_cast<unsigned long>(found.status)) +
                                    "): the plug-in traces nothing (" + guide + ")");
        return;
    }
    const std::wstring& file = found.file;
    if (file.empty()) {
        report.ok("trace", "off (" + key + " is empty)");
        return;
    }
    const std::string on = "on, into " + utf8(file) + " (" + key + ")";
    // The folder itself: a drive's root with its separator ("C:" is the current folder of C).
    std::wstring folder = folderOf(file);
    if (!folder.empty() && folder.back() == L':')
        folder += L'\\';
    if (folder.empty() || !win::fileState(readPath(view, folder)).folder) {
        report.problem("trace",
                       on + ", but its folder " +
                           (folder.empty() ? "is not named" : utf8(folder) + " does not exist") +
                           ": nothing is traced; create the folder or correct "
                           "TraceFile (" +
                           guide + ")");
        return;
    }
    const win::TraceRights rights = win::traceRights(readPath(view, file), readPath(view, folder));
    const std::string write = "; give the user the right to create files in " + utf8(folder) +
                              " and to append to the file, or correct TraceFile (" + guide + ")";
    if (!rights.reason.empty()) {
        report.problem("trace", on + ", but this user's rights on it cannot be read (" +
                                    rights.reason + "): whether it is traced is not known" + write);
    } else if (!rights.exists) {
        if (rights.append)
            report.ok("trace", on + "; this user can create the file in " + utf8(folder));
        else
            report.problem("trace", on + ", but this user cannot create files in " + utf8(folder) +
                                        ": nothing is traced" + write);
    } else if (!rights.append) {
        report.problem("trace",
                       on + ", but this user cannot append to the file: nothing is traced" + write);
    } else if (!rights.rotate) {
        report.problem("trace", on + "; this user can append to the file but not rotate it: at " +
                                    sizeText(platform::Trace::kMaxBytes) +
                                    " it is not renamed to " + utf8(file) +
                                    ".1 and grows on; give the user the right to delete the file " +
                                    "(and an older .1) and to create files in " + utf8(folder) +
                                    " (" + guide + ")");
    } else {
        report.ok("trace", on + "; this user can append to the file and rotate it");
    }
}

}  // namespace

std::unique_ptr<Machine> systemMachine() {
    return std::make_unique<WindowsMachine>();
}

Text systemPath(const Text& path) {
    return win::systemPath(path);
}

}  // namespace vpolv::support::doctor
