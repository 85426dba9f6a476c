// Zip archives, whole in memory: the support bundle that vpolv-sim collect writes and that replay
// and scene-from-trace read. The container (local headers, central directory, end record) is
// written and read here; zlib deflates, inflates and computes the CRC-32. No Zip64, no
// encryption, no archive spanning several files: the bundle never needs them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vpolv::support {

// A fault of an archive, or of entries too large to be written; the message names what is wrong
// and, where there is one, the entry ("trace.jsonl: CRC-32 mismatch"), escaped as echo() does. A
// command that reads a bad bundle reports it as any other unreadable input (exit 2).
class ZipError : public std::runtime_error {
  public:
    explicit ZipError(const std::string& message);
};

struct ZipEntry {
    std::string name;  // forward slashes, UTF-8
    std::string data;  // the file's bytes
};

// Limits of what is written and read: the format's own (sizes and counts that fit its 32- and
// 16-bit fields without Zip64), and a sane limit on what an entry may inflate to.
inline constexpr std::uint64_t kZipMaxEntryBytes = 0xFFFFFFFEu;
inline constexpr std::size_t kZipMaxEntries = 0xFFFE;
inline constexpr std::size_t kZipMaxNameBytes = 0xFFFF;
inline constexpr std::uint64_t kZipMaxInflatedBytes = 256u * 1024 * 1024;

// A whole archive in memory: entries deflated (stored when that is not smaller), CRC-32
// checked, fixed timestamps (1980-01-01) so that the same entries give the same bytes,
// names flagged UTF-8. Throws ZipError on an entry over the format's limits.
std::string writeZip(const std::vector<ZipEntry>& entries);

// Reads every entry; a malformed or truncated archive, an unsupported method, a CRC
// mismatch, or an entry that would inflate beyond a sane limit is a clear error (thrown as
// ZipError with a message naming what is wrong), never a crash.
std::vector<ZipEntry> readZip(std::string_view bytes);

// Starts with a local file header (or, for an archive of no entries, with its end record).
bool looksLikeZip(std::string_view bytes);

}  // namespace vpolv::support
