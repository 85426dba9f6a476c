// The recent events' ring from arbitrary bytes: the input's first four bytes are the next place
// to write, the rest lies at the start of the ring (a chunk, a torn chunk, anything). The reader
// never reads outside the region, never fails, and gives only pieces within the limits; pieces
// appended to whatever the region holds read back whole.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>

#include "fuzz_support.h"
#include "trace/recent.h"

using namespace vpolv::trace::recent;
using vpolv::fuzzing::finding;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::unique_ptr<std::uint64_t[]> words(new std::uint64_t[kRegionBytes / 8]);
    const std::span<std::byte> region(reinterpret_cast<std::byte*>(words.get()), kRegionBytes);
    format(region);
    if (size >= 4) {
        std::memcpy(region.data() + 16, data, 4);
        std::memcpy(region.data() + kHeaderBytes, data + 4,
                    std::min<std::size_t>(size - 4, kRingBytes));
    }
    std::size_t bytes = 0;
    for (const Event& event : read(region)) {
        bytes += event.opening.size() + (event.closing ? event.closing->size() : 0);
        for (const std::string& call : event.calls)
            bytes += call.size();
    }
    if (bytes > kRingBytes)
        finding("the pieces read are more than the ring holds");

    append(region, 0xF00D, 0, Piece::Opening, "opening");
    append(region, 0xF00D, 1, Piece::Call, std::string(size % 500, 'c'));
    append(region, 0xF00D, 2, Piece::Closing, "closing");
    const auto events = read(region);
    if (events.empty() || events.back().id != 0xF00D || events.back().cut ||
        events.back().calls.size() != 1 || events.back().closing != "closing") {
        finding("an event appended to the region did not read back whole");
    }
    return 0;
}
