// The doctor's checks of the registry: the class in both registry views, per user and per
// machine, the DLL it names and that DLL's folder, the trace switch and the installer's record.
#include "platform/windows/win32.h"
// clang-format off
#include <softpub.h>
#include <wintrust.h>
// clang-format on

#include <string>
#include <vector>

#include "com/vpolv_h.h"
#include "common/error.h"
#include "common/release.h"
#include "common/text.h"
#include "platform/native.h"
#include "platform/windows/com_support.h"
#include "sim/doctor/doctor.h"

namespace vpolv::sim::doctor {
namespace {

const std::string kRegistering = "docs/deployment.md section 3";

std::string utf8(const std::wstring& text) {
    return toUtf8(win::fromWide(text));
}

std::string reasonOf(DWORD status) {
    return toUtf8(win::systemMessage(HRESULT_FROM_WIN32(status)));
}

std::wstring guidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

bool sameText(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

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
    REGSAM flag;
    const wchar_t* sysKind;  // the type library's entry for DLLs of this bitness
    const char* package;     // the installer's architecture
    std::string name() const { return std::to_string(bits) + "-bit view"; }
};

struct Scope {
    HKEY root;
    const char* rootName;
    const char* label;
};
const Scope kMachine{HKEY_LOCAL_MACHINE, "HKLM", "per machine"};
const Scope kUser{HKEY_CURRENT_USER, "HKCU", "per user"};

// What reading a key or value found: nothing there, the value, or a failure with the system's
// message.
struct Value {
    enum State { Absent, Present, Failed } state = Absent;
    std::wstring text;
    std::string reason;
};

Value readValue(HKEY root, const std::wstring& path, const wchar_t* name, REGSAM view) {
    win::UniqueKey key;
    LSTATUS status = RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | view, key.put());
    if (status == ERROR_SUCCESS) {
        DWORD bytes = 0;
        status = RegGetValueW(key.get(), nullptr, name, RRF_RT_REG_SZ, nullptr, nullptr, &bytes);
        if (status == ERROR_SUCCESS) {
            std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
            bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
            status =
                RegGetValueW(key.get(), nullptr, name, RRF_RT_REG_SZ, nullptr, text.data(), &bytes);
            if (status == ERROR_SUCCESS) {
                text.resize(wcsnlen(text.c_str(), text.size()));
                return {Value::Present, std::move(text), {}};
            }
        }
    }
    if (status == ERROR_FILE_NOT_FOUND)
        return {};
    return {Value::Failed, {}, reasonOf(static_cast<DWORD>(status))};
}

Value keyState(HKEY root, const std::wstring& path, REGSAM view) {
    win::UniqueKey key;
    const LSTATUS status = RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.put());
    if (status == ERROR_SUCCESS)
        return {Value::Present, {}, {}};
    if (status == ERROR_FILE_NOT_FOUND)
        return {};
    return {Value::Failed, {}, reasonOf(static_cast<DWORD>(status))};
}

// How the messages name a key or a value.
std::string keyName(const Scope& scope, const std::wstring& path, const wchar_t* value = nullptr) {
    std::string name = std::string(scope.rootName) + "\\" + utf8(path);
    if (value)
        name += " " + utf8(value);
    return name;
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

    const std::wstring clsid_ = guidText(CLSID_Plugin);
    const std::wstring libId_ = guidText(LIBID_vpolv);
    const std::wstring classKey_ = L"Software\\Classes\\CLSID\\" + clsid_;
    const std::wstring progIdKey_ = L"Software\\Classes\\vpolv.Plugin\\CLSID";
    const std::wstring vpolvKey_ = L"Software\\vpolv";
};

void WindowsMachine::examine(Report& report) const {
    BOOL wow64 = FALSE;
    const bool windows64 =
        sizeof(void*) == 8 || (IsWow64Process(GetCurrentProcess(), &wow64) && wow64);
    const REGSAM view32 = windows64 ? KEY_WOW64_32KEY : 0;
    std::vector<View> views{{32, view32, L"win32", "x86"}};
    if (windows64)
        views.push_back({64, KEY_WOW64_64KEY, L"win64", "x64"});
    else
        report.note("32-bit Windows: one registry view");

    bool registered = false;
    for (const View& view : views) {
        const Value machine = keyState(kMachine.root, classKey_, view.flag);
        const Value user = keyState(kUser.root, classKey_, view.flag);
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
                report.group(view.name() + ", " + scope->label + " (" + scope->rootName + ")");
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
}

void WindowsMachine::examineRegistration(Report& report, const View& view,
                                         const Scope& scope) const {
    report.group(view.name() + ", " + scope.label + " (" + scope.rootName + ")");
    const bool perUser = scope.root == HKEY_CURRENT_USER;
    const std::string again = "register the DLL again (" + kRegistering + ")";

    // The programmatic identifier and the type library are shared by both views: read in this
    // program's own. A per-user class may use the machine's.
    Value progId = readValue(scope.root, progIdKey_, nullptr, 0);
    std::string progIdKey = keyName(scope, progIdKey_);
    if (perUser && progId.state == Value::Absent) {
        progId = readValue(kMachine.root, progIdKey_, nullptr, 0);
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
    const std::wstring serverKey = classKey_ + L"\\InprocServer32";
    const Value server = readValue(scope.root, serverKey, nullptr, view.flag);
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
    const Value threading = readValue(scope.root, serverKey, L"ThreadingModel", view.flag);
    if (threading.state == Value::Present && sameText(threading.text, L"Apartment")) {
        report.ok("ThreadingModel", "Apartment");
    } else {
        report.problem(
            "ThreadingModel",
            keyName(scope, serverKey, L"ThreadingModel") +
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
    const Value classLib = readValue(scope.root, classKey_ + L"\\TypeLib", nullptr, view.flag);
    const std::wstring entryKey =
        L"Software\\Classes\\TypeLib\\" + libId_ + L"\\1.0\\409\\" + view.sysKind;
    Value entry = readValue(scope.root, entryKey, nullptr, 0);
    const Scope* entryScope = &scope;
    if (perUser && entry.state == Value::Absent) {
        entry = readValue(kMachine.root, entryKey, nullptr, 0);
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
            (entry.state == Value::Failed ? " cannot be read: " + entry.reason
                                          : " is missing (no " + utf8(view.sysKind) + " entry)") +
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
        const Value machine = readValue(kMachine.root, serverKey, nullptr, view.flag);
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
    const auto files = platform::makeFileSystem(win::fromWide(folder));
    const auto profile = platform::makeProfile();
    const auto locale = platform::makeUserLocale();
    checkHostFolder(report, *files, *profile, *locale);
}

bool WindowsMachine::checkDll(Report& report, const View& view, const std::wstring& path) const {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        const DWORD error = GetLastError();
        report.problem("DLL", utf8(path) + " is missing" +
                                  (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY
                                       ? std::string(" (a folder is there)")
                                       : " (" + reasonOf(error) + ")") +
                                  ": the host cannot create vpolv.Plugin; install the " +
                                  view.package + " package again, or copy the DLL there (" +
                                  kRegistering + ")");
        return false;
    }
    const auto size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    report.ok("DLL", utf8(path) + " (" + std::to_string(size) + " bytes)");

    std::string head(4096, '\0');
    DWORD read = 0;
    const win::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file ||
        !ReadFile(file.get(), head.data(), static_cast<DWORD>(head.size()), &read, nullptr)) {
        const DWORD error = GetLastError();
        report.problem("DLL bitness", utf8(path) + " cannot be read: " + reasonOf(error));
        return true;
    }
    head.resize(read);
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
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    std::vector<BYTE> record(size);
    if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, record.data())) {
        const DWORD error = GetLastError();
        report.problem("version", utf8(path) + " has no version record (" + reasonOf(error) +
                                      "): not a vpolv.dll of a release; install the release's "
                                      "package again (docs/deployment.md section 6)");
        return;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    std::string numbers = "none";
    if (VerQueryValueW(record.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) && fixed &&
        length >= sizeof *fixed) {
        numbers = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
                  std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
                  std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
                  std::to_string(LOWORD(fixed->dwFileVersionLS));
    }
    // The texts, in the record's first language.
    struct Translation {
        WORD language;
        WORD codePage;
    }* translation = nullptr;
    const auto text = [&](const wchar_t* name) -> std::wstring {
        if (!translation)
            return {};
        wchar_t query[64];
        swprintf(query, 64, L"\\StringFileInfo\\%04x%04x\\%ls", translation->language,
                 translation->codePage, name);
        wchar_t* value = nullptr;
        UINT chars = 0;
        if (!VerQueryValueW(record.data(), query, reinterpret_cast<void**>(&value), &chars) ||
            !value) {
            return {};
        }
        return std::wstring(value, wcsnlen(value, chars));
    };
    if (!VerQueryValueW(record.data(), L"\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&translation), &length) ||
        length < sizeof *translation) {
        translation = nullptr;
    }
    const std::wstring product = text(L"ProductName");
    const std::string version = utf8(text(L"ProductVersion"));
    if (product != L"vpolv") {
        report.problem("version", utf8(path) + ": product \"" + utf8(product) +
                                      "\", not vpolv: another program's DLL is registered; "
                                      "install the release's package again (" +
                                      kRegistering + ")");
        return;
    }
    std::string found = "vpolv " + version + " (file version " + numbers + ")";
    if (version != kVersion)
        found += "; this vpolv-sim is " + std::string(kVersion);
    report.ok("version", found);
}

void WindowsMachine::checkSignature(Report& report, const std::wstring& path) const {
    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = path.c_str();
    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const HWND noWindow = static_cast<HWND>(INVALID_HANDLE_VALUE);
    const LONG status = WinVerifyTrust(noWindow, &action, &data);
    // The verification keeps state until it is closed, whatever it found.
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(noWindow, &action, &data);

    const auto code = static_cast<HRESULT>(status);
    if (code == S_OK) {
        report.ok("signature", "signed; the signature verifies");
    } else if (code == TRUST_E_NOSIGNATURE || code == TRUST_E_SUBJECT_FORM_UNKNOWN ||
               code == TRUST_E_PROVIDER_UNKNOWN) {
        report.ok("signature", "not signed");
    } else {
        // The usual findings in words; the system's message for the others.
        std::string why;
        if (code == TRUST_E_BAD_DIGEST)
            why = "the file was changed after it was signed";
        else if (code == CERT_E_UNTRUSTEDROOT)
            why = "the certificate's root is not trusted on this machine";
        else if (code == CERT_E_EXPIRED)
            why = "the certificate had expired when the file was signed";
        else
            why = toUtf8(win::systemMessage(code));
        report.problem("signature", "the signature does not verify: " + why + " (" +
                                        errorCodeText(static_cast<std::int32_t>(status)) +
                                        "); install the release's package again (" + kRegistering +
                                        ")");
    }
}

void WindowsMachine::checkInstallDir(Report& report, const View& view,
                                     const std::wstring& folder) const {
    const Value record = readValue(kMachine.root, vpolvKey_, L"InstallDir", view.flag);
    const std::string key = keyName(kMachine, vpolvKey_, L"InstallDir");
    if (record.state == Value::Absent) {
        report.ok("InstallDir", "no " + key + ": installed without the package");
    } else if (record.state == Value::Failed) {
        report.problem("InstallDir", key + " cannot be read: " + record.reason);
    } else if (sameText(trimmed(record.text), folder)) {
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
    // As the plug-in reads it: the user's value when there is one, else the machine's.
    const Scope* scope = &kUser;
    Value value = readValue(kUser.root, vpolvKey_, L"TraceFile", view.flag);
    if (value.state == Value::Absent) {
        scope = &kMachine;
        value = readValue(kMachine.root, vpolvKey_, L"TraceFile", view.flag);
    }
    const std::string key = keyName(*scope, vpolvKey_, L"TraceFile");
    if (value.state == Value::Absent) {
        report.ok("trace", "off (no " + keyName(kUser, vpolvKey_, L"TraceFile") + " or " +
                               keyName(kMachine, vpolvKey_, L"TraceFile") + ")");
        return;
    }
    if (value.state == Value::Failed) {
        report.problem("trace", key + " cannot be read (" + value.reason +
                                    "): the plug-in traces nothing (" + guide + ")");
        return;
    }
    if (value.text.empty()) {
        report.ok("trace", "off (" + key + " is empty)");
        return;
    }
    const std::string on = "on, into " + utf8(value.text) + " (" + key + ")";
    const std::wstring folder = folderOf(value.text);
    const DWORD attributes =
        folder.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        report.problem("trace",
                       on + ", but its folder " +
                           (folder.empty() ? "is not named" : utf8(folder) + " does not exist") +
                           ": nothing is traced; create the folder or correct "
                           "TraceFile (" +
                           guide + ")");
        return;
    }
    // Written as the plug-in would, by a file that goes when its handle closes.
    const std::wstring probe = folder + L"\\vpolv-doctor-" +
                               std::to_wstring(GetCurrentProcessId()) + L"-" +
                               std::to_wstring(GetTickCount64()) + L".tmp";
    win::UniqueFile written(CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                                        nullptr));
    if (!written) {
        const DWORD error = GetLastError();
        report.problem("trace", on + ", but this user cannot write into " + utf8(folder) + " (" +
                                    reasonOf(error) +
                                    "): nothing is traced; give the user write access, or "
                                    "correct TraceFile (" +
                                    guide + ")");
        return;
    }
    written.reset();
    const win::UniqueFile existing(
        CreateFileW(value.text.c_str(), FILE_APPEND_DATA,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL, nullptr));
    const DWORD error = existing ? ERROR_SUCCESS : GetLastError();
    if (!existing && error != ERROR_FILE_NOT_FOUND) {
        report.problem("trace", on + ", but the file cannot be appended to (" + reasonOf(error) +
                                    "): nothing is traced (" + guide + ")");
        return;
    }
    report.ok("trace", on + "; the folder can be written");
}

}  // namespace

std::unique_ptr<Machine> systemMachine() {
    return std::make_unique<WindowsMachine>();
}

}  // namespace vpolv::sim::doctor
