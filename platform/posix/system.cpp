// The platform services on POSIX systems, for the simulator and the native tests.
#include <dirent.h>
#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <utility>

#include "common/error.h"
#include "common/fixed_locale.h"
#include "common/text.h"
#include "platform/ini.h"
#include "platform/native.h"
#include "platform/posix/posix_platform.h"

namespace vpolv::platform::posix {

namespace {

// A system call of these services, named, unless a test makes it fail: then errno is that
// error and the answer is the call's failure.
template <class R, class... Args, class... Given>
R systemCall(const char* name, R failure, R (*call)(Args...), Given&&... args) {
    if (const int error = failingSystemCall ? failingSystemCall(name) : 0)
        return errno = error, failure;
    return call(std::forward<Given>(args)...);
}

// open() for reading, as one function with a fixed list of parameters.
int openReading(const char* path) {
    return open(path, O_RDONLY | O_CLOEXEC);
}

// An open file descriptor (none when negative), closed with its owner.
struct OpenFile {
    int fd;
    ~OpenFile() {
        if (fd >= 0)
            close(fd);
    }
};

// Whether a call's error means that there is no such file or folder (rather than that the
// system could not look).
bool notThere(int error) {
    return error == ENOENT || error == ENOTDIR;
}

// A call that could not look: the error as an HRESULT, with the system's text for it.
[[noreturn]] void fail(std::u16string_view what, const Text& path, int error) {
    if (error == ENOMEM)
        throw errors::systemCallFailed(errors::kOutOfMemory, what, path, u"Out of memory");
    const std::int32_t code =
        error == EACCES || error == EPERM ? errors::kAccessDenied : errors::kFail;
    throw errors::systemCallFailed(code, what, path,
                                   fromUtf8(std::generic_category().message(error)));
}

constexpr std::u16string_view kCouldNotList = u"Could not list the folder";
constexpr std::u16string_view kCouldNotLook = u"Could not look for";
constexpr std::u16string_view kCouldNotOpen = u"Could not open";
constexpr std::u16string_view kCouldNotRead = u"Could not read";

}  // namespace

PosixFileSystem::PosixFileSystem(Text moduleFolder) : moduleFolder_(std::move(moduleFolder)) {}

std::vector<DirEntry> PosixFileSystem::listDirectory(const Text& directory) const {
    const std::string path = toUtf8(directory);
    std::unique_ptr<DIR, int (*)(DIR*)> dir(
        systemCall<DIR*>("opendir", nullptr, opendir, path.c_str()), closedir);
    if (!dir) {
        const int error = errno;
        if (notThere(error))
            throw errors::pathNotFound(directory);
        fail(kCouldNotList, directory, error);
    }
    std::vector<DirEntry> entries;
    for (;;) {
        // The end of the listing leaves errno as it was; a failure sets it.
        errno = 0;
        const dirent* entry = systemCall<dirent*>("readdir", nullptr, readdir, dir.get());
        if (!entry) {
            if (errno != 0)
                fail(kCouldNotList, directory, errno);
            break;
        }
        const std::string name = entry->d_name;
        const bool dots = name == "." || name == "..";
        if (!dots && name.front() == '.')
            continue;  // hidden
        struct stat info {};
        const std::string full = path + (path.empty() || path.back() == '/' ? "" : "/") + name;
        // An entry that went meanwhile, or a link to nothing, is no folder.
        bool directory = false;
        if (systemCall("stat", -1, stat, full.c_str(), &info) == 0) {
            directory = S_ISDIR(info.st_mode);
        } else if (const int error = errno; !notThere(error)) {
            fail(kCouldNotLook, fromUtf8(full), error);
        }
        entries.push_back({fromUtf8(name), directory});
    }
    std::sort(entries.begin(), entries.end(),
              [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
    return entries;
}

std::int64_t PosixFileSystem::fileLength(const Text& path) const {
    struct stat info {};
    if (systemCall("stat", -1, stat, toUtf8(path).c_str(), &info) != 0) {
        if (notThere(errno))
            return -1;
        fail(kCouldNotLook, path, errno);
    }
    return S_ISREG(info.st_mode) ? static_cast<std::int64_t>(info.st_size) : -1;
}

Text PosixProfile::readString(const Text& file, const Text& section, const Text& key) const {
    const OpenFile in{systemCall("open", -1, openReading, toUtf8(file).c_str())};
    const int fd = in.fd;
    if (fd < 0) {
        if (notThere(errno))
            return {};
        fail(kCouldNotOpen, file, errno);
    }
    struct stat info {};
    if (systemCall("fstat", -1, fstat, fd, &info) != 0)
        fail(kCouldNotRead, file, errno);
    if (S_ISDIR(info.st_mode))
        return {};  // a folder is no file
    std::string content;
    char buffer[4096];
    for (;;) {
        const ssize_t got = systemCall<ssize_t>("read", -1, read, fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            fail(kCouldNotRead, file, errno);
        }
        if (got == 0)
            break;
        content.append(buffer, static_cast<std::size_t>(got));
    }
    std::string_view text = content;
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    return iniValue(fromUtf8(text), section, key);
}

char16_t environmentDecimalSeparator() {
    char16_t decimal = u'.';
    if (locale_t loc = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0))) {
        const char* radix = nl_langinfo_l(RADIXCHAR, loc);
        if (radix && std::strcmp(radix, ",") == 0)
            decimal = u',';
        freelocale(loc);
    }
    return decimal;
}

}  // namespace vpolv::platform::posix

namespace vpolv::platform {

bool appendTraceRecord(const Text& file, std::string_view record) noexcept {
    // One process rotates at a time; the record itself goes in with a single write to a file
    // opened for appending, so lines of several writers never interleave.
    static std::mutex rotation;
    try {
        const std::string path = toUtf8(file);
        const std::lock_guard lock(rotation);
        struct stat info {};
        if (stat(path.c_str(), &info) == 0 && info.st_size >= Trace::kMaxBytes)
            std::rename(path.c_str(), (path + ".1").c_str());
        const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0)
            return false;
        const ssize_t written = write(fd, record.data(), record.size());
        const bool closed = close(fd) == 0;
        return closed && written == static_cast<ssize_t>(record.size());
    } catch (...) {
        return false;
    }
}

std::unique_ptr<FileSystem> makeFileSystem(Text moduleFolder) {
    return std::make_unique<posix::PosixFileSystem>(std::move(moduleFolder));
}

std::unique_ptr<Profile> makeProfile() {
    return std::make_unique<posix::PosixProfile>();
}

std::unique_ptr<Locale> makeUserLocale() {
    return std::make_unique<FixedLocale>(posix::environmentDecimalSeparator());
}

}  // namespace vpolv::platform
