// The recent events' ring: chunks in a shared region, claimed with one atomic addition.
#include "trace/recent.h"

#include <atomic>
#include <cstring>
#include <unordered_map>

namespace vpolv::trace::recent {
namespace {

constexpr char kMagic[8] = {'v', 'p', 'o', 'l', 'v', 'R', 'E', '1'};
constexpr std::uint32_t kChunkMagic = 0x43527076;  // "vpRC"
constexpr std::uint16_t kCutFlag = 1;

// The region's header: the format, the ring's size, and the next place to write.
struct Header {
    char magic[8];
    std::uint32_t ringBytes;
    std::uint32_t reserved;
    std::uint32_t next;  // atomic: the count of bytes claimed since the region was made
};
static_assert(sizeof(Header) <= kHeaderBytes);
constexpr std::size_t kNextOffset = offsetof(Header, next);

struct ChunkHeader {
    std::uint32_t magic;
    std::uint32_t place;  // where the chunk starts: the count `next` had when it was claimed
    std::uint64_t event;
    std::uint32_t index;
    std::uint16_t piece;
    std::uint16_t flags;
    std::uint32_t length;    // the piece's bytes that follow the header
    std::uint32_t checksum;  // of the header (with this field 0) and the piece
};
static_assert(sizeof(ChunkHeader) == 32);
static_assert(kMaxPieceBytes + sizeof(ChunkHeader) <= kRingBytes / 16);

constexpr std::uint32_t chunkBytes(std::size_t length) {
    return static_cast<std::uint32_t>((sizeof(ChunkHeader) + length + 7) & ~std::size_t{7});
}

// FNV-1a, 32 bits.
std::uint32_t checksum(const ChunkHeader& header, const std::byte* piece) {
    std::uint32_t hash = 2166136261u;
    const auto mix = [&](const std::byte* bytes, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i)
            hash = (hash ^ static_cast<std::uint8_t>(bytes[i])) * 16777619u;
    };
    ChunkHeader copy = header;
    copy.checksum = 0;
    mix(reinterpret_cast<const std::byte*>(&copy), sizeof copy);
    mix(piece, header.length);
    return hash;
}

std::byte* ring(std::span<std::byte> region) {
    return region.data() + kHeaderBytes;
}

}  // namespace

void format(std::span<std::byte> region) {
    std::memset(region.data(), 0, kRegionBytes);
    Header header{};
    std::memcpy(header.magic, kMagic, sizeof kMagic);
    header.ringBytes = kRingBytes;
    std::memcpy(region.data(), &header, sizeof header);
}

bool isRing(std::span<const std::byte> region) {
    if (region.size() < kRegionBytes)
        return false;
    Header header;
    std::memcpy(&header, region.data(), sizeof header);
    return std::memcmp(header.magic, kMagic, sizeof kMagic) == 0 && header.ringBytes == kRingBytes;
}

void append(std::span<std::byte> region, std::uint64_t event, std::uint32_t index, Piece piece,
            std::string_view bytes) {
    const bool cut = bytes.size() > kMaxPieceBytes;
    if (cut)
        bytes = bytes.substr(0, kMaxPieceBytes);
    const std::uint32_t size = chunkBytes(bytes.size());

    // The claim: a chunk never runs past the ring's end; when it would, the claim takes the rest
    // of the ring too and the chunk starts at its beginning. A count that is not a multiple of 8
    // (a damaged header) is taken up to the next one.
    std::atomic_ref<std::uint32_t> next(
        *reinterpret_cast<std::uint32_t*>(region.data() + kNextOffset));
    std::uint32_t claimed = next.load(std::memory_order_relaxed);
    std::uint32_t place = 0;
    do {
        const std::uint32_t aligned = (claimed + 7) & ~7u;
        const std::uint32_t offset = aligned % kRingBytes;
        place = offset + size > kRingBytes ? aligned + (kRingBytes - offset) : aligned;
    } while (!next.compare_exchange_weak(claimed, place + size, std::memory_order_relaxed));

    std::byte* at = ring(region) + place % kRingBytes;
    ChunkHeader header{kChunkMagic,
                       place,
                       event,
                       index,
                       static_cast<std::uint16_t>(piece),
                       static_cast<std::uint16_t>(cut ? kCutFlag : 0),
                       static_cast<std::uint32_t>(bytes.size()),
                       0};
    std::memcpy(at + sizeof header, bytes.data(), bytes.size());
    header.checksum = checksum(header, at + sizeof header);
    // The checksum goes in last: until then the chunk reads as a torn one.
    std::memcpy(at, &header, offsetof(ChunkHeader, checksum));
    std::atomic_ref<std::uint32_t>(
        *reinterpret_cast<std::uint32_t*>(at + offsetof(ChunkHeader, checksum)))
        .store(header.checksum, std::memory_order_release);
}

std::vector<Event> read(std::span<const std::byte> region) {
    std::vector<Event> events;
    if (!isRing(region))
        return events;
    Header header;
    std::memcpy(&header, region.data(), sizeof header);
    const std::byte* const bytes = region.data() + kHeaderBytes;
    const std::uint32_t end = header.next & ~7u;

    struct Found {
        std::size_t event;            // in events
        std::uint32_t nextIndex = 0;  // the piece that should follow
    };
    std::unordered_map<std::uint64_t, Found> open;
    // From the oldest place the ring can still hold to the next one, in steps of 8 bytes where
    // no whole chunk starts.
    for (std::uint32_t place = end - kRingBytes; end - place >= sizeof(ChunkHeader);) {
        const std::uint32_t offset = place % kRingBytes;
        if (kRingBytes - offset < sizeof(ChunkHeader)) {
            place += kRingBytes - offset;
            continue;
        }
        ChunkHeader chunk;
        std::memcpy(&chunk, bytes + offset, sizeof chunk);
        const bool whole = chunk.magic == kChunkMagic && chunk.place == place &&
                           chunk.length <= kMaxPieceBytes &&
                           offset + chunkBytes(chunk.length) <= kRingBytes &&
                           end - place >= chunkBytes(chunk.length) &&
                           chunk.checksum == checksum(chunk, bytes + offset + sizeof chunk);
        if (!whole) {
            place += 8;
            continue;
        }
        place += chunkBytes(chunk.length);

        const std::string piece(reinterpret_cast<const char*>(bytes + offset + sizeof chunk),
                                chunk.length);
        const auto kind = static_cast<Piece>(chunk.piece);
        if (kind == Piece::Opening && chunk.index == 0) {
            open[chunk.event] = {events.size(), 1};
            events.push_back({chunk.event, piece, {}, {}, (chunk.flags & kCutFlag) != 0});
            continue;
        }
        const auto found = open.find(chunk.event);
        if (found == open.end())
            continue;  // its opening was overwritten
        Event& event = events[found->second.event];
        if (chunk.index != found->second.nextIndex || (chunk.flags & kCutFlag))
            event.cut = true;
        found->second.nextIndex = chunk.index + 1;
        if (kind == Piece::Call) {
            event.calls.push_back(piece);
        } else if (kind == Piece::Closing) {
            event.closing = piece;
            open.erase(found);
        } else {
            event.cut = true;
        }
    }
    return events;
}

}  // namespace vpolv::trace::recent
