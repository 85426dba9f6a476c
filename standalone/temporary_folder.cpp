// The temporary folder: a fresh name, its files, its removal.
#include "standalone/temporary_folder.h"

#include <cerrno>
#include <chrono>
#include <fstream>
#include <random>
#include <stdexcept>
#include <system_error>

#include "platform/paths.h"

namespace vpolv::standalone {

namespace fs = std::filesystem;

std::string uniqueSuffix() {
    static std::mt19937_64 random(
        std::random_device{}() ^
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    return std::to_string(random() % 1000000000000ULL);
}

namespace {

// The reason of the last failed stream operation, when the system left one.
std::string lastSystemReason() {
    return errno != 0 ? std::error_code(errno, std::generic_category()).message()
                      : std::string("input/output error");
}

}  // namespace

TemporaryFolder::TemporaryFolder(std::string_view prefix) {
    std::error_code error;
    const fs::path base = fs::temp_directory_path(error);
    if (error)
        throw std::runtime_error("the temporary folder cannot be used: " + error.message());
    for (int attempt = 0; path_.empty(); ++attempt) {
        const fs::path candidate = base / (std::string(prefix) + uniqueSuffix());
        if (fs::create_directory(candidate, error)) {
            path_ = candidate;
        } else if (error || attempt == 100) {
            throw std::runtime_error("cannot create a temporary folder in " +
                                     platform::utf8Path(base) + ": " +
                                     (error ? error.message() : std::string("names all taken")));
        }
    }
    folder_ = std::make_unique<Leftover>(path_, Leftover::Kind::Folder);
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

fs::path TemporaryFolder::write(const std::string& relative, std::string_view contents) {
    const fs::path file = path_ / fs::u8path(relative);
    if (file.parent_path() == path_) {
        files_.push_back(std::make_unique<Leftover>(file, Leftover::Kind::File));
    } else {
        std::error_code error;
        fs::create_directories(file.parent_path(), error);
        if (error)
            throw std::runtime_error("cannot make the folder " +
                                     platform::utf8Path(file.parent_path()) + ": " +
                                     error.message());
    }
    errno = 0;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (out) {
        out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
        out.close();
    }
    if (!out)
        throw std::runtime_error("cannot write " + platform::utf8Path(file) + ": " +
                                 lastSystemReason());
    return file;
}

void TemporaryFolder::mkdir(const std::string& relative) {
    std::error_code error;
    fs::create_directories(path_ / fs::u8path(relative), error);
    if (error)
        throw std::runtime_error("cannot make the folder " + relative + ": " + error.message());
}

}  // namespace vpolv::standalone
