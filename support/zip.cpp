// Zip archives in memory. The three records of the container are described once each (map*
// below, with the fields in the order they are stored); the writer and the reader pass an io that
// does their part, so that the two cannot disagree on a field's width or place.
#include "support/zip.h"

#include <zlib.h>

#include <algorithm>
#include <limits>
#include <set>

#include "standalone/echo.h"

namespace vpolv::support {

using standalone::echo;

ZipError::ZipError(const std::string& message) : std::runtime_error(standalone::echo(message)) {}

namespace {

constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::size_t kLocalBytes = 30;
constexpr std::size_t kCentralBytes = 46;
constexpr std::size_t kEndBytes = 22;

constexpr std::uint16_t kStored = 0;
constexpr std::uint16_t kDeflated = 8;
constexpr std::uint16_t kVersion20 = 20;  // deflate and folders: what every reader knows
constexpr std::uint16_t kFlagEncrypted = 0x0001;
constexpr std::uint16_t kFlagDescriptor = 0x0008;  // sizes and CRC after the data
constexpr std::uint16_t kFlagUtf8 = 0x0800;
constexpr std::uint16_t kDosTime = 0;                        // 00:00:00
constexpr std::uint16_t kDosDate = (0 << 9) | (1 << 5) | 1;  // 1980-01-01

// What a local header and a central directory header both hold, in the same order.
struct EntryFields {
    std::uint16_t versionNeeded = kVersion20;
    std::uint16_t flags = kFlagUtf8;
    std::uint16_t method = kStored;
    std::uint16_t time = kDosTime;
    std::uint16_t date = kDosDate;
    std::uint32_t crc = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t size = 0;
    std::uint16_t nameLength = 0;
    std::uint16_t extraLength = 0;
};

struct LocalHeader {
    EntryFields entry;
};

struct CentralHeader {
    std::uint16_t versionMadeBy = kVersion20;  // MS-DOS attributes, version 2.0
    EntryFields entry;
    std::uint16_t commentLength = 0;
    std::uint16_t diskStart = 0;
    std::uint16_t internalAttributes = 0;
    std::uint32_t externalAttributes = 0;
    std::uint32_t localHeaderOffset = 0;
};

struct EndRecord {
    std::uint16_t disk = 0;
    std::uint16_t centralDisk = 0;
    std::uint16_t entriesOnDisk = 0;
    std::uint16_t entries = 0;
    std::uint32_t centralSize = 0;
    std::uint32_t centralOffset = 0;
    std::uint16_t commentLength = 0;
};

template <class IO, class E>
void mapEntry(IO& io, E& e) {
    io(e.versionNeeded);
    io(e.flags);
    io(e.method);
    io(e.time);
    io(e.date);
    io(e.crc);
    io(e.compressedSize);
    io(e.size);
    io(e.nameLength);
    io(e.extraLength);
}

template <class IO, class H>
void mapLocal(IO& io, H& h) {
    io.signature(kLocalSignature);
    mapEntry(io, h.entry);
}

template <class IO, class H>
void mapCentral(IO& io, H& h) {
    io.signature(kCentralSignature);
    io(h.versionMadeBy);
    mapEntry(io, h.entry);
    io(h.commentLength);
    io(h.diskStart);
    io(h.internalAttributes);
    io(h.externalAttributes);
    io(h.localHeaderOffset);
}

template <class IO, class R>
void mapEnd(IO& io, R& r) {
    io.signature(kEndSignature);
    io(r.disk);
    io(r.centralDisk);
    io(r.entriesOnDisk);
    io(r.entries);
    io(r.centralSize);
    io(r.centralOffset);
    io(r.commentLength);
}

// Appends each field, little-endian.
struct Put {
    std::string& out;
    template <class U>
    void operator()(U value) {
        for (std::size_t i = 0; i < sizeof(U); ++i)
            out += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
    void signature(std::uint32_t value) { (*this)(value); }
};

// Takes each field from bytes at a position the caller has checked holds the whole record.
struct Get {
    std::string_view bytes;
    std::size_t at;
    bool signed_ = true;  // whether the signature was the expected one
    template <class U>
    void operator()(U& value) {
        value = 0;
        for (std::size_t i = 0; i < sizeof(U); ++i)
            value |=
                static_cast<U>(static_cast<U>(static_cast<unsigned char>(bytes[at++])) << (8 * i));
    }
    void signature(std::uint32_t expected) {
        std::uint32_t value = 0;
        (*this)(value);
        signed_ = value == expected;
    }
};

[[noreturn]] void fail(const std::string& message) {
    throw ZipError(message);
}

std::uint32_t crcOf(std::string_view data) {
    uLong crc = crc32(0L, Z_NULL, 0);
    // zlib takes at most a uInt at a time.
    while (!data.empty()) {
        const auto n = static_cast<uInt>(std::min<std::size_t>(data.size(), 1u << 30));
        crc = crc32(crc, reinterpret_cast<const Bytef*>(data.data()), n);
        data.remove_prefix(n);
    }
    return static_cast<std::uint32_t>(crc);
}

// Raw deflate (no zlib header), as the format stores it.
std::string deflateRaw(std::string_view data) {
    z_stream z{};
    if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        fail("the compressor could not start");
    std::string out;
    char buffer[64 * 1024];
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        if (z.avail_in == 0 && !data.empty()) {
            const auto n = static_cast<uInt>(std::min<std::size_t>(data.size(), 1u << 30));
            z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
            z.avail_in = n;
            data.remove_prefix(n);
        }
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof buffer;
        status = deflate(&z, data.empty() ? Z_FINISH : Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
            deflateEnd(&z);
            fail("the compressor failed");
        }
        out.append(buffer, sizeof buffer - z.avail_out);
    }
    deflateEnd(&z);
    return out;
}

// Inflates a raw deflate stream that must give exactly `size` bytes; the output grows with what
// the input really holds, so that a size that lies costs no memory.
std::string inflateRaw(std::string_view data, std::uint32_t size, const std::string& name) {
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK)
        fail("the decompressor could not start");
    std::string out;
    char buffer[64 * 1024];
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());  // an entry's size fits 32 bits
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof buffer;
        status = inflate(&z, Z_NO_FLUSH);
        const std::size_t got = sizeof buffer - z.avail_out;
        if (status == Z_OK && got == 0 && z.avail_in == 0)
            status = Z_BUF_ERROR;
        if (status != Z_OK && status != Z_STREAM_END) {
            inflateEnd(&z);
            fail(name + (status == Z_BUF_ERROR ? ": compressed data cut short"
                                               : ": compressed data damaged"));
        }
        if (out.size() + got > size) {
            inflateEnd(&z);
            fail(name + ": inflates to more than the " + std::to_string(size) +
                 " bytes its header gives");
        }
        out.append(buffer, got);
    }
    const bool rest = z.avail_in != 0;
    inflateEnd(&z);
    if (rest)
        fail(name + ": bytes after the end of its compressed data");
    if (out.size() != size) {
        fail(name + ": inflates to " + std::to_string(out.size()) + " bytes, its header gives " +
             std::to_string(size));
    }
    return out;
}

// The end record: the last one in the archive's tail (a comment may follow it).
std::size_t findEnd(std::string_view bytes) {
    if (bytes.size() < kEndBytes)
        fail("too short for a zip archive (" + std::to_string(bytes.size()) + " bytes)");
    const std::size_t lowest =
        bytes.size() - kEndBytes - std::min<std::size_t>(bytes.size() - kEndBytes, 0xFFFF);
    for (std::size_t at = bytes.size() - kEndBytes + 1; at-- > lowest;) {
        if (bytes.compare(at, 4, "PK\x05\x06") == 0)
            return at;
    }
    fail("no end of central directory record: not a zip archive, or cut short");
}

}  // namespace

bool looksLikeZip(std::string_view bytes) {
    return bytes.substr(0, 4) == std::string_view("PK\x03\x04", 4) ||
           bytes.substr(0, 4) == std::string_view("PK\x05\x06", 4);
}

std::string writeZip(const std::vector<ZipEntry>& entries) {
    if (entries.size() > kZipMaxEntries)
        fail("more than " + std::to_string(kZipMaxEntries) + " entries");
    std::string out;
    std::string central;
    Put putOut{out};
    Put putCentral{central};
    for (const ZipEntry& e : entries) {
        if (e.name.empty() || e.name.size() > kZipMaxNameBytes)
            fail("an entry's name must have 1 to " + std::to_string(kZipMaxNameBytes) + " bytes");
        if (e.data.size() > kZipMaxEntryBytes)
            fail(e.name + ": larger than a zip archive without Zip64 can hold");
        std::string packed = deflateRaw(e.data);
        CentralHeader header;
        header.entry.crc = crcOf(e.data);
        header.entry.size = static_cast<std::uint32_t>(e.data.size());
        header.entry.nameLength = static_cast<std::uint16_t>(e.name.size());
        if (packed.size() < e.data.size()) {
            header.entry.method = kDeflated;
        } else {
            packed = e.data;
        }
        header.entry.compressedSize = static_cast<std::uint32_t>(packed.size());
        if (out.size() >
            std::numeric_limits<std::uint32_t>::max() - kLocalBytes - e.name.size() - packed.size())
            fail(e.name +
                 ": the archive would be larger than a zip archive without Zip64 can hold");
        header.localHeaderOffset = static_cast<std::uint32_t>(out.size());
        LocalHeader local{header.entry};
        mapLocal(putOut, local);
        out += e.name;
        out += packed;
        mapCentral(putCentral, header);
        central += e.name;
    }
    EndRecord end;
    end.entries = end.entriesOnDisk = static_cast<std::uint16_t>(entries.size());
    if (out.size() + central.size() > std::numeric_limits<std::uint32_t>::max() - kEndBytes)
        fail("the archive would be larger than a zip archive without Zip64 can hold");
    end.centralSize = static_cast<std::uint32_t>(central.size());
    end.centralOffset = static_cast<std::uint32_t>(out.size());
    out += central;
    Put putEnd{out};
    mapEnd(putEnd, end);
    return out;
}

std::vector<ZipEntry> readZip(std::string_view bytes) {
    const std::size_t endAt = findEnd(bytes);
    EndRecord end;
    Get getEnd{bytes, endAt};
    mapEnd(getEnd, end);
    if (end.disk != 0 || end.centralDisk != 0 || end.entriesOnDisk != end.entries)
        fail("an archive spanning several files is not supported");
    if (end.entries == 0xFFFF || end.centralSize == 0xFFFFFFFF || end.centralOffset == 0xFFFFFFFF)
        fail("Zip64 archives are not supported");
    if (std::uint64_t{end.centralOffset} + end.centralSize > endAt)
        fail("the central directory lies beyond its end record: cut short or damaged");

    std::vector<ZipEntry> entries;
    std::set<std::string> names;
    std::uint64_t total = 0;
    std::size_t at = end.centralOffset;
    const std::size_t centralEnd = std::size_t{end.centralOffset} + end.centralSize;
    for (std::size_t n = 0; n < end.entries; ++n) {
        const std::string which = "central directory entry " + std::to_string(n + 1);
        if (centralEnd - at < kCentralBytes)
            fail(which + ": past the end of the central directory");
        CentralHeader header;
        Get get{bytes, at};
        mapCentral(get, header);
        if (!get.signed_)
            fail(which + ": no central directory header there");
        at = get.at;
        const std::size_t variable =
            std::size_t{header.entry.nameLength} + header.entry.extraLength + header.commentLength;
        if (centralEnd - at < variable)
            fail(which + ": its name runs past the end of the central directory");
        std::string name(bytes.substr(at, header.entry.nameLength));
        at += variable;
        if (name.empty())
            fail(which + ": no name");
        if (!names.insert(name).second)
            fail(name + ": more than one entry has this name");
        const EntryFields& e = header.entry;
        if (e.flags & kFlagEncrypted)
            fail(name + ": encrypted entries are not supported");
        if (e.method != kStored && e.method != kDeflated) {
            fail(name + ": unsupported compression method " + std::to_string(e.method) +
                 " (only stored and deflated)");
        }
        if (e.size == 0xFFFFFFFF || e.compressedSize == 0xFFFFFFFF)
            fail(name + ": Zip64 entries are not supported");
        total += e.size;
        if (e.size > kZipMaxInflatedBytes || total > kZipMaxInflatedBytes) {
            fail(name + ": the entries would inflate to more than " +
                 std::to_string(kZipMaxInflatedBytes / (1024 * 1024)) + " MiB");
        }

        // The local header, its name, then the data: all before the central directory.
        const std::size_t localAt = header.localHeaderOffset;
        if (localAt > end.centralOffset || end.centralOffset - localAt < kLocalBytes)
            fail(name + ": its local header lies beyond the entries");
        LocalHeader local;
        Get getLocal{bytes, localAt};
        mapLocal(getLocal, local);
        if (!getLocal.signed_)
            fail(name + ": no local header where the central directory says");
        const std::uint64_t dataAt =
            std::uint64_t{getLocal.at} + local.entry.nameLength + local.entry.extraLength;
        if (dataAt + e.compressedSize > end.centralOffset)
            fail(name + ": its data runs past the entries: cut short, or sizes that lie");
        if (bytes.substr(getLocal.at, local.entry.nameLength) != name)
            fail(name + ": its local header names another entry");
        const bool descriptor = (local.entry.flags & kFlagDescriptor) != 0;
        if (local.entry.method != e.method ||
            (!descriptor && (local.entry.crc != e.crc || local.entry.size != e.size ||
                             local.entry.compressedSize != e.compressedSize)))
            fail(name + ": its local header and the central directory disagree");
        const std::string_view data = bytes.substr(dataAt, e.compressedSize);
        std::string contents;
        if (e.method == kStored) {
            if (e.compressedSize != e.size)
                fail(name + ": stored with two different sizes");
            contents = std::string(data);
        } else {
            contents = inflateRaw(data, e.size, name);
        }
        if (crcOf(contents) != e.crc)
            fail(name + ": CRC-32 mismatch (the data is damaged)");
        entries.push_back({std::move(name), std::move(contents)});
    }
    return entries;
}

}  // namespace vpolv::support
