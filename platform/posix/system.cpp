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
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "common/error.h"
#include "common/fixed_locale.h"
#include "common/text.h"
#include "platform/native.h"
#include "platform/posix/posix_platform.h"

namespace vpolv::platform::posix {

PosixFileSystem::PosixFileSystem(Text moduleFolder) : moduleFolder_(std::move(moduleFolder)) {}

std::vector<DirEntry> PosixFileSystem::listDirectory(const Text& directory) const {
    const std::string path = toUtf8(directory);
    DIR* const opened = systemAllocationFails && systemAllocationFails() ? (errno = ENOMEM, nullptr)
                                                                         : opendir(path.c_str());
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opened, closedir);
    if (!dir) {
        // Memory running out is no missing folder.
        if (errno == ENOMEM)
            throw std::bad_alloc();
        throw errors::pathNotFound(directory);
    }
    std::vector<DirEntry> entries;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        const bool dots = name == "." || name == "..";
        if (!dots && name.front() == '.')
            continue;  // hidden
        struct stat info {};
        const std::string full = path + (path.empty() || path.back() == '/' ? "" : "/") + name;
        const bool directory = stat(full.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        entries.push_back({fromUtf8(name), directory});
    }
    std::sort(entries.begin(), entries.end(),
              [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
    return entries;
}

std::int64_t PosixFileSystem::fileLength(const Text& path) const {
    struct stat info {};
    if (stat(toUtf8(path).c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return -1;
    return static_cast<std::int64_t>(info.st_size);
}

namespace {

// Case-insensitive comparison for section and key names (ASCII letters).
bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

std::string_view trim(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

}  // namespace

Text PosixProfile::readString(const Text& file, const Text& section, const Text& key) const {
    std::ifstream in(toUtf8(file), std::ios::binary);
    if (!in)
        return {};
    // Read whole and cut into lines here: the streams' own reading would take memory running out
    // for the end of the file.
    std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::string_view rest = content;
    if (rest.starts_with("\xEF\xBB\xBF"))
        rest.remove_prefix(3);

    const std::string wantedSection = toUtf8(section);
    const std::string wantedKey = toUtf8(key);
    bool inSection = false;
    bool sectionSeen = false;
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        const std::string_view line = trim(rest.substr(0, end));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            if (inSection)
                break;  // only the first matching section counts
            const auto close = line.find(']');
            const auto name =
                trim(line.substr(1, close == std::string_view::npos ? line.npos : close - 1));
            inSection = !sectionSeen && sameName(name, wantedSection);
            sectionSeen = sectionSeen || inSection;
            continue;
        }
        if (!inSection)
            continue;
        const auto eq = line.find('=');
        if (eq == std::string_view::npos || !sameName(trim(line.substr(0, eq)), wantedKey))
            continue;
        std::string_view value = trim(line.substr(eq + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        return fromUtf8(value);
    }
    return {};
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
