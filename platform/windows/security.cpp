// The access check on the Win32 API.
#include "platform/windows/security.h"

#include <optional>
#include <vector>

#include "platform/windows/com_support.h"
#include "platform/windows/win32.h"

namespace vpolv::win {
namespace {

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

}  // namespace

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

}  // namespace vpolv::win
