// Bounded reads of regular files, the whole-or-nothing --out, and the temporary plug-in folder.
#include "sim/system/files.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <random>
#include <stdexcept>
#include <vector>

namespace vpolv::sim {

namespace fs = std::filesystem;

namespace {

// The reason of the last failed stream operation, when the system left one.
std::string lastSystemReason() {
    return errno != 0 ? reasonOf(std::error_code(errno, std::generic_category()))
                      : std::string("input/output error");
}

// A name part no other run is likely to choose.
std::string uniqueSuffix() {
    static std::mt19937_64 random(
        std::random_device{}() ^
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    return std::to_string(random() % 1000000000000ULL);
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

// Why a file of this status is not one to read or write whole, or null when it is a regular file.
const char* notRegular(const fs::file_status& status) {
    if (fs::is_directory(status))
        return "is a folder";
    if (!fs::is_regular_file(status))
        return "is not a regular file";
    return nullptr;
}

}  // namespace

std::string reasonOf(std::error_code error) {
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
    if (error) {
        reason = reasonOf(error);
        return std::nullopt;
    }
    if (const char* why = notRegular(status)) {
        reason = why;
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
                reason = "no folder " + folder.string();
                return std::nullopt;
            }
            return target;
        }
        if (error) {
            reason = reasonOf(error);
            return std::nullopt;
        }
        if (const char* why = notRegular(status)) {
            reason = why;
            return std::nullopt;
        }
        return target;
    }
}

std::optional<std::string> writeWhole(const fs::path& target, std::string_view contents) {
    const fs::path partial = folderOf(target) / (".vpolv-sim-" + uniqueSuffix() + ".partial");
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

TemporaryFolder::TemporaryFolder(std::string_view prefix) {
    std::error_code error;
    const fs::path base = fs::temp_directory_path(error);
    if (error) {
        throw std::runtime_error("the temporary folder cannot be used: " + reasonOf(error));
    }
    for (int attempt = 0; path_.empty(); ++attempt) {
        const fs::path candidate = base / (std::string(prefix) + uniqueSuffix());
        if (fs::create_directory(candidate, error)) {
            path_ = candidate;
        } else if (error || attempt == 100) {
            throw std::runtime_error("cannot create a temporary folder in " + base.string() + ": " +
                                     (error ? reasonOf(error) : std::string("names all taken")));
        }
    }
    folder_ = std::make_unique<Leftover>(path_, Leftover::Kind::Folder);
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

void TemporaryFolder::write(const std::string& name, std::string_view contents) {
    const fs::path file = path_ / name;
    files_.push_back(std::make_unique<Leftover>(file, Leftover::Kind::File));
    if (const auto failed = writeFile(file, contents))
        throw std::runtime_error("cannot write " + file.string() + ": " + *failed);
}

}  // namespace vpolv::sim
