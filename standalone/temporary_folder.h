// A temporary folder for a run or a test.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "standalone/interrupt.h"

namespace vpolv::standalone {

// A name part no other run is likely to choose: digits.
std::string uniqueSuffix();

// A new folder in the system's temporary folder, removed with everything in it when the object
// goes. It and the files written directly into it are registered as leftovers (see
// interrupt.h), so that an interrupted program that installed the handler removes them too.
class TemporaryFolder {
  public:
    // Raises std::runtime_error with the reason when the folder cannot be made.
    explicit TemporaryFolder(std::string_view prefix = "vpolv-test-");
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Writes a file of the folder, making the folders on its way, and returns its path; raises
    // std::runtime_error with the reason on failure.
    std::filesystem::path write(const std::string& relative, std::string_view contents);
    // Makes a folder in it, and the folders on its way.
    void mkdir(const std::string& relative);

  private:
    std::filesystem::path path_;
    std::unique_ptr<Leftover> folder_;
    std::vector<std::unique_ptr<Leftover>> files_;
};

}  // namespace vpolv::standalone
