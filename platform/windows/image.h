// Files as the support tool reads them, and what a program file says about itself: its version
// record and its signature. Without the system's headers.
#pragma once

#include <cstdint>
#include <string>

namespace vpolv::win {

// A file as the system finds it; error is the system's when it is not there or cannot be looked
// at.
struct FileState {
    bool exists = false;
    bool folder = false;
    std::uint64_t size = 0;
    unsigned long error = 0;
};
FileState fileState(const std::wstring& path);

// Up to most bytes from the start of a file, read while others may write, rename or delete it
// (the plug-in appending to a trace); false with the system's error when it cannot be opened.
bool readShared(const std::wstring& path, std::size_t most, std::string& data,
                unsigned long& error);

// The version record's numbers ("1.1.0.0", "none" without them) and, in its first language, the
// product's name and version; error is the system's when there is no record.
struct VersionRecord {
    unsigned long error = 0;
    std::string numbers = "none";
    std::wstring product;
    std::wstring version;
};
VersionRecord versionRecord(const std::wstring& path);

// Whether the file's Authenticode signature verifies (revocation not checked, no network).
struct Signature {
    enum Verdict { Verified, Unsigned, Changed, UntrustedRoot, Expired, Fails } verdict = Fails;
    std::int32_t code = 0;  // the verification's HRESULT
    std::string reason;     // the system's words for it
};
Signature verifySignature(const std::wstring& path);

}  // namespace vpolv::win
