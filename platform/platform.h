// The operating-system services the plug-in uses, behind small interfaces.
//
// The core never includes a system header: each platform fills these in its own files
// (platform/posix, platform/windows), and tests substitute their own where they need to.
//
// The file calls tell "nothing there" from "could not look". Nothing there is an answer (-1, an
// empty value, the path-not-found Error for a folder to list); could not look raises
// errors::systemCallFailed with the system's error as an HRESULT (memory exhausted as
// E_OUTOFMEMORY) and a description that names the file or folder and what could not be done.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "common/locale.h"
#include "common/types.h"

namespace vpolv::platform {

// The user locale's number conversions (the interface lives with the fixed-separator twin).
using vpolv::Locale;

// One entry of a directory listing.
struct DirEntry {
    Text name;
    bool directory = false;
};

class FileSystem {
  public:
    virtual ~FileSystem() = default;
    // The folder that holds the plug-in library file, without a final separator.
    virtual Text moduleFolder() const = 0;
    // The platform's path separator ('\\' on Windows, '/' elsewhere).
    virtual char16_t separator() const = 0;
    // Whether c separates path components here.
    virtual bool isSeparator(char16_t c) const = 0;
    // The entries of a directory, in the order the system returns them, directories included;
    // hidden and system entries are left out. A missing directory raises the path-not-found
    // Error; a listing the system cannot make or cannot finish raises a system-call Error.
    virtual std::vector<DirEntry> listDirectory(const Text& directory) const = 0;
    // Length in bytes of the file at path; -1 when there is no file there (a folder is not one).
    // Finding nothing there is no failure; when the system cannot look (memory exhausted, access
    // refused, a device error) a system-call Error is raised.
    virtual std::int64_t fileLength(const Text& path) const = 0;
};

// Reads a key of an initialisation file ("[Section]" lines and "key=value" lines).
class Profile {
  public:
    virtual ~Profile() = default;
    // The value of key in section, whole; empty when the file, the section or the key is missing.
    // Sections and keys match without regard to case; the first matching section wins. A file
    // that is there but cannot be opened or read raises a system-call Error.
    virtual Text readString(const Text& file, const Text& section, const Text& key) const = 0;
};

// Modal message boxes.
class Dialogs {
  public:
    virtual ~Dialogs() = default;
    static constexpr Long kOk = 0;
    static constexpr Long kIconExclamation = 48;
    // Shows the box and waits until the user closes it.
    virtual void show(const Text& text, const Text& title, Long style) = 0;
};

// The diagnosis trace's switch and file.
class Trace {
  public:
    virtual ~Trace() = default;
    // A trace file grows to this size, then becomes "<file>.1" (replacing an older one) and a
    // new file starts: at most about twice this on disk.
    static constexpr std::int64_t kMaxBytes = 10 * 1024 * 1024;
    // The trace file's full path, read anew at every call; empty when the trace is off.
    virtual Text file() const = 0;
    // Appends one record whole, with a single write, rotating the file first when it has reached
    // kMaxBytes; several threads and processes may append to one file. False when it cannot be
    // written; nothing is thrown.
    virtual bool append(const Text& file, std::string_view record) const noexcept = 0;
};

// The services one plug-in instance works with. Without a trace, no event is traced.
struct Services {
    const Locale& locale;
    const FileSystem& files;
    const Profile& profile;
    Dialogs& messages;
    const Trace* trace = nullptr;
};

}  // namespace vpolv::platform
