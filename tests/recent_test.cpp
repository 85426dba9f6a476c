// The recent events' ring: events read back whole, in order, from several writers at once; the
// oldest overwritten; torn, cut and foreign bytes passed over, never read outside the region.
#include "trace/recent.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace vpolv::trace::recent {
namespace {

struct Region {
    // 8-byte aligned, as a mapped file is.
    std::unique_ptr<std::uint64_t[]> words{new std::uint64_t[kRegionBytes / 8]};
    std::span<std::byte> bytes{reinterpret_cast<std::byte*>(words.get()), kRegionBytes};
    Region() { format(bytes); }

    // One whole event: its opening, `calls` calls and, when `ended`, its closing.
    void event(std::uint64_t id, int calls, bool ended = true, std::size_t callBytes = 40) {
        std::uint32_t index = 0;
        append(bytes, id, index++, Piece::Opening, "open " + std::to_string(id));
        for (int i = 0; i < calls; ++i)
            append(bytes, id, index++, Piece::Call, std::string(callBytes, char('a' + i % 26)));
        if (ended)
            append(bytes, id, index, Piece::Closing, "close " + std::to_string(id));
    }
    std::vector<Event> events() const { return read(bytes); }
};

TEST(RecentEvents, ReadBackInOrderWithTheirPieces) {
    Region region;
    // Two events interleaved, as two hosts write them; the second never ends.
    append(region.bytes, 7, 0, Piece::Opening, "open 7");
    append(region.bytes, 9, 0, Piece::Opening, "open 9");
    append(region.bytes, 7, 1, Piece::Call, "call 7.1");
    append(region.bytes, 9, 1, Piece::Call, "call 9.1");
    append(region.bytes, 7, 2, Piece::Call, "");
    append(region.bytes, 7, 3, Piece::Closing, "close 7");

    const std::vector<Event> events = region.events();
    ASSERT_EQ(events.size(), 2U);
    EXPECT_EQ(events[0].id, 7U);
    EXPECT_EQ(events[0].opening, "open 7");
    EXPECT_EQ(events[0].calls, (std::vector<std::string>{"call 7.1", ""}));
    EXPECT_EQ(events[0].closing, "close 7");
    EXPECT_FALSE(events[0].cut);
    EXPECT_EQ(events[1].id, 9U);
    EXPECT_EQ(events[1].calls, std::vector<std::string>{"call 9.1"});
    EXPECT_FALSE(events[1].closing.has_value());  // unfinished
}

TEST(RecentEvents, KeepTheLatestWithinTheRing) {
    Region region;
    // Far more than the ring holds, and past the 32-bit count's wrap.
    constexpr int kEvents = 10000;
    for (int id = 1; id <= kEvents; ++id)
        region.event(id, id % 7, true, 100 + id % 300);
    std::memcpy(region.bytes.data() + 16, "\xF0\xFF\xFF\xFF", 4);  // the count near its wrap
    for (int id = kEvents + 1; id <= kEvents + 3000; ++id)
        region.event(id, id % 7, true, 100 + id % 300);

    const std::vector<Event> events = region.events();
    ASSERT_GT(events.size(), 1000U);
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < events.size(); ++i) {
        const std::uint64_t id = kEvents + 3000 - (events.size() - 1 - i);
        ASSERT_EQ(events[i].id, id) << "event " << i << " of " << events.size();
        EXPECT_EQ(events[i].calls.size(), id % 7);
        EXPECT_EQ(events[i].closing, "close " + std::to_string(id));
        EXPECT_FALSE(events[i].cut);
        ASSERT_TRUE(events[i].closing.has_value());
        bytes += events[i].opening.size() + events[i].closing->size();
        for (const std::string& call : events[i].calls)
            bytes += call.size();
    }
    EXPECT_LT(bytes, kRingBytes);
}

TEST(RecentEvents, PassOverTornCutAndForeignBytes) {
    {
        // A piece torn by a process that ended while copying it: the event reads cut.
        Region region;
        region.event(1, 3);
        region.event(2, 1);
        const auto before = region.events();
        auto* byte = region.bytes.data() + kHeaderBytes + 120;  // in event 1's second call
        *byte = static_cast<std::byte>(~static_cast<unsigned char>(*byte));
        const std::vector<Event> events = region.events();
        ASSERT_EQ(events.size(), 2U);
        EXPECT_TRUE(events[0].cut);
        EXPECT_EQ(events[0].calls.size(), 2U);
        EXPECT_EQ(events[1].calls, before[1].calls);
        EXPECT_FALSE(events[1].cut);
    }
    {
        // A piece over the limit is cut there, and says so.
        Region region;
        region.event(1, 1, true, kMaxPieceBytes + 100);
        const std::vector<Event> events = region.events();
        ASSERT_EQ(events.size(), 1U);
        EXPECT_TRUE(events[0].cut);
        EXPECT_EQ(events[0].calls[0].size(), kMaxPieceBytes);
        EXPECT_TRUE(events[0].closing.has_value());
    }
    {
        // Not a ring: another file's bytes, a short file; a damaged count reads what is whole.
        Region region;
        region.event(1, 2);
        std::vector<std::byte> other(kRegionBytes, std::byte{0x5A});
        EXPECT_TRUE(read(other).empty());
        EXPECT_TRUE(read(region.bytes.first(kRegionBytes - 1)).empty());
        std::memcpy(region.bytes.data() + 16, "\x03\x00\x00\x80", 4);
        EXPECT_TRUE(region.events().empty());
        std::memcpy(region.bytes.data() + 16, "\x00\x10\x00\x00", 4);  // past the events
        EXPECT_EQ(region.events().size(), 1U);
    }
}

TEST(RecentEvents, SeveralWritersAtOnce) {
    Region region;
    constexpr int kWriters = 4;
    constexpr int kEach = 50;
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&region, w] {
            for (int e = 0; e < kEach; ++e)
                region.event(std::uint64_t(w) << 32 | e, 5);
        });
    }
    for (std::thread& writer : writers)
        writer.join();
    const std::vector<Event> events = region.events();
    ASSERT_EQ(events.size(), std::size_t{kWriters * kEach});
    for (const Event& event : events) {
        EXPECT_FALSE(event.cut);
        EXPECT_EQ(event.calls.size(), 5U);
        EXPECT_EQ(event.closing, "close " + std::to_string(event.id));
    }
}

}  // namespace
}  // namespace vpolv::trace::recent
