// The platform services on POSIX systems (Linux), for the simulator and the tests.
#pragma once

#include <string_view>

#include "platform/platform.h"

namespace vpolv::platform::posix {

// The decimal separator of the process's numeric locale (LC_ALL, LC_NUMERIC, LANG): ',' or '.'.
char16_t environmentDecimalSeparator();

// Asked before each system call that the file system and the profile make, with the call's name
// ("opendir", "readdir", "stat", "open", "fstat", "read"): when set and it answers an error number
// other than 0, the call is not made and fails with that error. For tests that make each call,
// or each allocation, fail in turn.
inline int (*failingSystemCall)(const char* call) = nullptr;

// Directory listings are sorted by name so that runs are repeatable; names starting with a dot
// count as hidden (".", ".." are listed, as the system's own listing does).
class PosixFileSystem : public FileSystem {
  public:
    // moduleFolder stands for the folder of the plug-in library file.
    explicit PosixFileSystem(Text moduleFolder);

    Text moduleFolder() const override { return moduleFolder_; }
    char16_t separator() const override { return u'/'; }
    bool isSeparator(char16_t c) const override { return c == u'/'; }
    std::vector<DirEntry> listDirectory(const Text& directory) const override;
    std::int64_t fileLength(const Text& path) const override;

  private:
    Text moduleFolder_;
};

// Initialisation files in UTF-8 (a byte-order mark is skipped).
class PosixProfile : public Profile {
  public:
    Text readString(const Text& file, const Text& section, const Text& key) const override;
};

}  // namespace vpolv::platform::posix
