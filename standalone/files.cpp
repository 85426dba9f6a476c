// Bounded reads of regular files, the whole-or-nothing --out, and writing to standard output.
#include "standalone/files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <ostream>
#include <utility>
#include <vector>

#include "common/text.h"

namespace vpolv::standalone {

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
// Windows error codes and the conditions they stand for; none for a file another program holds
// locked, which has no counterpart.
constexpr std::pair<int, std::optional<std::errc>> kSystemErrors[] = {
    {2, std::errc::no_such_file_or_directory},         // ERROR_FILE_NOT_FOUND
    {3, std::errc::no_such_file_or_directory},         // ERROR_PATH_NOT_FOUND
    {5, std::errc::permission_denied},                 // ERROR_ACCESS_DENIED
    {15, std::errc::no_such_file_or_directory},        // ERROR_INVALID_DRIVE
    {17, std::errc::cross_device_link},                // ERROR_NOT_SAME_DEVICE
    {19, std::errc::read_only_file_system},            // ERROR_WRITE_PROTECT
    {32, std::nullopt},                                // ERROR_SHARING_VIOLATION
    {33, std::nullopt},                                // ERROR_LOCK_VIOLATION
    {39, std::errc::no_space_on_device},               // ERROR_HANDLE_DISK_FULL
    {53, std::errc::no_such_file_or_directory},        // ERROR_BAD_NETPATH
    {67, std::errc::no_such_file_or_directory},        // ERROR_BAD_NET_NAME
    {80, std::errc::file_exists},                      // ERROR_FILE_EXISTS
    {112, std::errc::no_space_on_device},              // ERROR_DISK_FULL
    {123, std::errc::invalid_argument},                // ERROR_INVALID_NAME
    {145, std::errc::directory_not_empty},             // ERROR_DIR_NOT_EMPTY
    {183, std::errc::file_exists},                     // ERROR_ALREADY_EXISTS
    {206, std::errc::filename_too_long},               // ERROR_FILENAME_EXCED_RANGE
    {267, std::errc::not_a_directory},                 // ERROR_DIRECTORY
    {1921, std::errc::too_many_symbolic_link_levels},  // ERROR_CANT_RESOLVE_FILENAME
};
#endif

// The reason of the last failed stream operation, when the system left one.
std::string lastSystemReason() {
    return errno != 0 ? reasonOf(std::error_code(errno, std::generic_category()))
                      : std::string("input/output error");
}

// Where a path's relative parts start: its folder, or the current folder for a bare name.
fs::path folderOf(const fs::path& path) {
    const fs::path folder = path.parent_path();
    return folder.empty() ? fs::path(".") : folder;
}

std::optional<std::string> writeFile(const fs::path& file, std::string_view contents) {
    errno = 0;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out)
        return lastSystemReason();
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    out.close();
    if (!out)
        return lastSystemReason();
    return std::nullopt;
}

// Why a file of this status is not one to read or write whole: the error of looking at it, or
// what it is instead of a regular file; nullopt for a regular file.
std::optional<std::string> notRegular(const fs::file_status& status, const std::error_code& error) {
    if (error)
        return reasonOf(error);
    if (fs::is_directory(status))
        return "is a folder";
    if (!fs::is_regular_file(status))
        return "is not a regular file";
    return std::nullopt;
}

}  // namespace

std::string genericUtf8Path(const fs::path& path) {
    std::string text = platform::utf8Path(path);
#ifdef _WIN32
    std::replace(text.begin(), text.end(), '\\', '/');
#endif
    return text;
}

bool endsInSeparator(std::string_view text) {
    return !text.empty() && (text.back() == '/' || (kWindows && text.back() == '\\'));
}

std::string reasonOf(std::error_code error) {
#ifdef _WIN32
    // The file system library reports some failures with the system's own codes, whose
    // descriptions differ from the C library's: the usual ones are told in the same words as
    // elsewhere.
    if (error.category() == std::system_category()) {
        for (const auto& [code, same] : kSystemErrors) {
            if (error.value() == code)
                return same ? std::make_error_code(*same).message()
                            : "is locked by another program";
        }
    }
#endif
    return error.message();
}

std::string sizeText(std::uintmax_t bytes) {
    if (bytes >= kMiB && bytes % kMiB == 0)
        return std::to_string(bytes / kMiB) + " MiB";
    return std::to_string(bytes) + " bytes";
}

std::optional<std::string> readRegularFile(const fs::path& file, std::uintmax_t maxBytes,
                                           std::string& reason) {
    std::error_code error;
    const fs::file_status status = fs::status(file, error);
    if (auto why = notRegular(status, error)) {
        reason = std::move(*why);
        return std::nullopt;
    }
    const std::string tooLarge = "is larger than " + sizeText(maxBytes);
    const std::uintmax_t size = fs::file_size(file, error);
    if (!error && size > maxBytes) {
        reason = tooLarge;
        return std::nullopt;
    }
    errno = 0;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        reason = lastSystemReason();
        return std::nullopt;
    }
    // Up to one byte more than allowed: a file that grew since it was measured is caught too.
    std::string contents;
    if (!error)
        contents.reserve(static_cast<std::size_t>(std::min(size, maxBytes)) + 1);
    std::vector<char> buffer(64 * 1024);
    while (contents.size() <= maxBytes && in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        contents.append(buffer.data(), static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) {
        reason = lastSystemReason();
        return std::nullopt;
    }
    if (contents.size() > maxBytes) {
        reason = tooLarge;
        return std::nullopt;
    }
    return contents;
}

std::optional<fs::path> outputTarget(const fs::path& out, std::string& reason) {
    fs::path target = out;
    for (int links = 0;; ++links) {
        std::error_code error;
        const fs::file_status status = fs::symlink_status(target, error);
        if (fs::is_symlink(status)) {
            if (links == 40) {
                reason = reasonOf(std::make_error_code(std::errc::too_many_symbolic_link_levels));
                return std::nullopt;
            }
            const fs::path next = fs::read_symlink(target, error);
            if (error) {
                reason = reasonOf(error);
                return std::nullopt;
            }
            target = next.is_absolute() ? next : folderOf(target) / next;
            continue;
        }
        if (status.type() == fs::file_type::not_found) {
            // A new file: its folder must be there.
            const fs::path folder = folderOf(target);
            if (!fs::is_directory(folder, error)) {
                reason = "no folder " + platform::utf8Path(folder);
                return std::nullopt;
            }
            return target;
        }
        if (auto why = notRegular(status, error)) {
            reason = std::move(*why);
            return std::nullopt;
        }
        return target;
    }
}

std::optional<std::string> writeWhole(const fs::path& target, std::string_view contents) {
    const fs::path partial =
        folderOf(target) / (".vpolv-sim-" + standalone::uniqueSuffix() + ".partial");
    const Leftover leftover(partial, Leftover::Kind::File);
    std::error_code error;
    if (auto failed = writeFile(partial, contents)) {
        fs::remove(partial, error);
        return failed;
    }
    if (const auto existing = fs::status(target, error); fs::is_regular_file(existing))
        fs::permissions(partial, existing.permissions(), error);
    error.clear();
    fs::rename(partial, target, error);
    if (error) {
        std::error_code ignored;
        fs::remove(partial, ignored);
        return reasonOf(error);
    }
    return std::nullopt;
}

bool printTo(std::ostream& out, std::ostream& err, const std::string& text,
             std::string_view program) {
    errno = 0;
    out << text;
    out.flush();
    // Standard output goes through the C library's stream too.
    const bool written = out.good() && std::fflush(stdout) == 0 && !std::ferror(stdout);
    if (!written) {
        const int error = errno;
        err << program << ": standard output cannot be written"
            << (error != 0 ? ": " + reasonOf({error, std::generic_category()}) : std::string())
            << "\n";
    }
    return written;
}

bool Console::print(const std::string& text) const {
    return printTo(out, err, text, "vpolv-sim");
}

}  // namespace vpolv::standalone
