// The recent events: a ring of the last events' pieces in one region of memory that several
// processes share (a file mapped into each host that loads the plug-in), written as an event goes
// on, so that an event cut short by the end of its process leaves every piece written before it.
//
// The region is a header and a ring of chunks. A chunk is one piece of one event (its opening,
// one host call, its closing), 8-byte aligned, with a header that names the event, the piece's
// number within it, the chunk's own place in the ring and a checksum of it all. A writer claims
// its place with one atomic addition to the header's next place, copies the chunk in and writes
// the checksum last; the ring overwrites its oldest chunks. Nothing else is shared: no lock, and
// a writer that stops half-way (its process ended) leaves a chunk whose checksum fails, which a
// reader passes over.
//
// A reader copies the region and walks it from its oldest place, taking every chunk that is
// whole: at the place its header names, with its checksum. A region that is not one (another
// file, a damaged header) reads as empty; nothing in it can make a reader fail or read outside
// the copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vpolv::trace::recent {

// The size of the ring: the region is the header and this much. A power of two, so that a place
// (a 32-bit count of bytes written since the region was made, wrapping) maps onto the ring the
// same way before and after the count wraps.
inline constexpr std::uint32_t kRingBytes = 2u * 1024 * 1024;
inline constexpr std::size_t kHeaderBytes = 64;
inline constexpr std::size_t kRegionBytes = kHeaderBytes + kRingBytes;
// A piece larger than this is cut (the reader then marks its event cut); a chunk takes at most a
// sixteenth of the ring, so that an event's pieces are not the only thing it holds.
inline constexpr std::size_t kMaxPieceBytes = kRingBytes / 16 - 64;

// What a piece is to its event.
enum class Piece : std::uint16_t {
    Opening = 1,  // the first: what the event was called with
    Call = 2,     // one host call, with its answer or error
    Closing = 3,  // the last: what the event did and returned
};

// Makes `region` (kRegionBytes, 8-byte aligned) an empty ring. The region's owner calls it on a
// new region, and on one whose header is not a ring's (isRing() false), before anyone writes.
void format(std::span<std::byte> region);

// Whether `region` holds a ring of this format and size.
bool isRing(std::span<const std::byte> region);

// Appends one piece of event `event` (an identifier unique to the event among every process that
// shares the region) as piece number `index` (from 0). Safe from several threads and processes at
// once; never fails: a piece over kMaxPieceBytes is cut there, and its chunk says so.
void append(std::span<std::byte> region, std::uint64_t event, std::uint32_t index, Piece piece,
            std::string_view bytes);

// One event as a reader found it: its pieces in order, as long as they follow one another from
// the opening on.
struct Event {
    std::uint64_t id = 0;
    std::string opening;
    std::vector<std::string> calls;
    std::optional<std::string> closing;  // none: the event had not ended (or its end was lost)
    bool cut = false;                    // a piece was cut at kMaxPieceBytes, or one was missing
};

// The events the region holds whose opening is still in the ring, oldest first (by the place of
// their opening). `region` is a copy, or a region no one writes to while it is read.
std::vector<Event> read(std::span<const std::byte> region);

}  // namespace vpolv::trace::recent
