// The doctor's checks of the registry: the class in both registry views, per user and per
// machine, the DLL it names and that DLL's folder, the trace switch and the installer's record.
#include "platform/windows/win32.h"
// clang-format off
#include <softpub.h>
#include <wintrust.h>
// clang-format on

#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "com/vpolv_h.h"
#include "common/error.h"
#include "common/release.h"
#include "common/text.h"
#include "platform/native.h"
#include "platform/windows/com_support.h"
#include "standalone/files.h"
#include "support/doctor.h"
#include "support/trace_switch.h"

namespace vpolv::support::doctor {

using namespace standalone;
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

// A file's or folder's owner, group and access list, as the system keeps them.
using Descriptor = std::vector<BYTE>;

// The descriptor of path; nullopt with the system's error when it cannot be read (absent:
// ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND).
std::optional<Descriptor> securityOf(const std::wstring& path, DWORD& error) {
    const SECURITY_INFORMATION wanted =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD size = 0;
    Descriptor descriptor;
    while (!GetFileSecurityW(path.c_str(), wanted, descriptor.data(),
                             static_cast<DWORD>(descriptor.size()), &size)) {
        error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER || size <= descriptor.size())
            return std::nullopt;
        descriptor.resize(size);
    }
    return descriptor;
}

// The rights the system grants this user on files, decided by the system's own access check
// for the user's token (the thread's when it impersonates, else the process's), so that
// groups, deny entries and inherited entries count as they do when the plug-in opens a file.
class Access {
  public:
    Access() {
        HANDLE raw = nullptr;
        if (!OpenThreadToken(GetCurrentThread(), TOKEN_DUPLICATE | TOKEN_QUERY, TRUE, &raw) &&
            !OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &raw)) {
            error_ = GetLastError();
            return;
        }
        const win::UniqueHandle token(raw);
        // The check takes a token of the kind a thread impersonates with.
        HANDLE copy = nullptr;
        if (!DuplicateToken(token.get(), SecurityIdentification, &copy))
            error_ = GetLastError();
        token_ = win::UniqueHandle(copy);
    }
    // Whether every one of rights is granted on an object with this descriptor (none when
    // there is no object); false too when the check fails, with error() set.
    bool grants(const std::optional<Descriptor>& descriptor, ACCESS_MASK rights) {
        if (!descriptor || !token_)
            return false;
        GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                                FILE_ALL_ACCESS};
        PRIVILEGE_SET privileges{};
        DWORD length = sizeof privileges;
        DWORD granted = 0;
        BOOL status = FALSE;
        if (!AccessCheck(const_cast<BYTE*>(descriptor->data()), token_.get(), rights, &mapping,
                         &privileges, &length, &granted, &status)) {
            error_ = GetLastError();
            return false;
        }
        return status != FALSE;
    }
    DWORD error() const { return error_; }

  private:
    win::UniqueHandle token_;
    DWORD error_ = ERROR_SUCCESS;
};

// What this user may do with the trace file, as the plug-in does it: open it for appending
// (creating it in its folder when it is not there), and at the size limit rename it to the same
// name plus ".1", replacing that file, and create a new one.
struct TraceRights {
    bool exists = false;  // the file is there
    bool append = false;  // it can be appended to, or created when it is not there
    bool rotate = false;  // it can be renamed over its ".1" file and started again
    std::string reason;   // why the rights could not be read; empty when they were
};

TraceRights traceRights(const std::wstring& file, const std::wstring& folder) {
    TraceRights rights;
    DWORD error = ERROR_SUCCESS;
    const auto absent = [&] { return error == ERROR_FILE_NOT_FOUND; };
    const auto folderSecurity = securityOf(folder, error);
    if (!folderSecurity) {
        rights.reason = reasonOf(error);
        return rights;
    }
    const auto fileSecurity = securityOf(file, error);
    if (!fileSecurity && !absent()) {
        rights.reason = reasonOf(error);
        return rights;
    }
    const auto olderSecurity = securityOf(file + L".1", error);
    if (!olderSecurity && !absent()) {
        rights.reason = reasonOf(error);
        return rights;
    }
    Access access;
    rights.exists = fileSecurity.has_value();
    // Opening a file also reads its attributes, which listing its folder grants as well; a file
    // is deleted (renamed away or replaced) by its own right or by its folder's.
    const bool readsAttributes = access.grants(fileSecurity, FILE_READ_ATTRIBUTES) ||
                                 access.grants(folderSecurity, FILE_LIST_DIRECTORY);
    const auto deletable = [&](const std::optional<Descriptor>& security) {
        return access.grants(security, DELETE) || access.grants(folderSecurity, FILE_DELETE_CHILD);
    };
    const bool creates = access.grants(folderSecurity, FILE_ADD_FILE);
    if (rights.exists) {
        rights.append =
            access.grants(fileSecurity, FILE_APPEND_DATA | SYNCHRONIZE) && readsAttributes;
        rights.rotate =
            creates && deletable(fileSecurity) && (!olderSecurity || deletable(olderSecurity));
    } else {
        rights.append = creates;
    }
    if (access.error() != ERROR_SUCCESS)
        rights.reason = reasonOf(access.error());
    return rights;
}

// A registry view, and the registrations that hosts of its bitness see.
struct View {
    int bits;
    REGSAM flag;
    const wchar_t* sysKind;   // the type library's entry for DLLs of this bitness
    const char* package;      // the installer's architecture
    bool redirected = false;  // this program is 32-bit and the view 64-bit: see viewPath
    std::string name() const { return std::to_string(bits) + "-bit view"; }
};

// The path by which this program reaches a file that the view's programs name by path. A
// 32-bit program on 64-bit Windows has its System32 redirected to the 32-bit system folder; it
// reaches the 64-bit System32 through Sysnative, the name that redirection leaves alone.
std::wstring viewPath(const View& view, const std::wstring& path) {
    if (!view.redirected)
        return path;
    wchar_t system[MAX_PATH];
    wchar_t windows[MAX_PATH];
    const UINT systemLength = GetSystemDirectoryW(system, MAX_PATH);
    const UINT windowsLength = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (systemLength == 0 || systemLength >= MAX_PATH || windowsLength == 0 ||
        windowsLength >= MAX_PATH) {
        return path;
    }
    const std::wstring prefix = trimmed(std::wstring(system, systemLength));
    const std::size_t n = prefix.size();
    if (path.size() < n || !sameText(path.substr(0, n), prefix) ||
        (path.size() > n && path[n] != L'\\' && path[n] != L'/')) {
        return path;
    }
    return trimmed(std::wstring(windows, windowsLength)) + L"\\Sysnative" + path.substr(n);
}

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

// The path by which this program reads what the view's programs name by path, whatever its
// length.
std::wstring readPath(const View& view, const std::wstring& path) {
    return win::toWide(systemPath(win::fromWide(viewPath(view, path))));
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
        views.push_back({64, KEY_WOW64_64KEY, L"win64", "x64", sizeof(void*) == 4});
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
    const auto files = anyLengthFiles(win::fromWide(viewPath(view, folder)));
    const auto profile = anyLengthProfile();
    const auto locale = platform::makeUserLocale();
    checkHostFolder(report, *files, *profile, *locale);
}

bool WindowsMachine::checkDll(Report& report, const View& view,
                              const std::wstring& registered) const {
    const std::wstring path = readPath(view, registered);
    const std::string readAs = path == registered ? std::string() : ", read as " + utf8(path);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        const DWORD error = GetLastError();
        report.problem("DLL", utf8(registered) + " is missing" +
                                  (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY
                                       ? std::string(" (a folder is there)")
                                       : " (" + reasonOf(error) + readAs + ")") +
                                  ": the host cannot create vpolv.Plugin; install the " +
                                  view.package + " package again, or copy the DLL there (" +
                                  kRegistering + ")");
        return false;
    }
    const auto size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    report.ok("DLL", utf8(registered) + " (" + std::to_string(size) + " bytes" + readAs + ")",
              utf8(path));

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
    // The folder itself: a drive's root with its separator ("C:" is the current folder of C).
    std::wstring folder = folderOf(value.text);
    if (!folder.empty() && folder.back() == L':')
        folder += L'\\';
    const DWORD attributes = folder.empty() ? INVALID_FILE_ATTRIBUTES
                                            : GetFileAttributesW(readPath(view, folder).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        report.problem("trace",
                       on + ", but its folder " +
                           (folder.empty() ? "is not named" : utf8(folder) + " does not exist") +
                           ": nothing is traced; create the folder or correct "
                           "TraceFile (" +
                           guide + ")");
        return;
    }
    const TraceRights rights = traceRights(readPath(view, value.text), readPath(view, folder));
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
                                    " it is not renamed to " + utf8(value.text) +
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
    // The limit of a folder's path is 12 characters below that of a file's (room for an 8.3
    // name): paths from there on take the prefix.
    constexpr std::size_t kLimit = MAX_PATH - 12;
    const std::wstring wide = win::toWide(path);
    if (wide.size() < kLimit || wide.starts_with(L"\\\\?\\") || wide.starts_with(L"\\\\.\\"))
        return path;
    const DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    const DWORD length = size == 0 ? 0 : GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size)
        return path;
    full.resize(length);
    // A network path, \\server\share\..., becomes \\?\UNC\server\share\...
    if (full.starts_with(L"\\\\"))
        return win::fromWide(L"\\\\?\\UNC" + full.substr(1));
    return win::fromWide(L"\\\\?\\" + full);
}

}  // namespace vpolv::support::doctor
