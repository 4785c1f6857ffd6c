// The block-read pump and the block-write path.
#include "board_fixture.h"
#include "firmware/layout.h"

#include <numeric>

namespace pulsara::test {
namespace {

constexpr std::size_t kSampleBytes = 131072;
const Bytes kReadOut = {0x66, 0x00, 0x00, 0x08};

class BlockTransfers : public FirmwareBoard {
protected:
    void SetUp() override {
        bootAndConfigure();
        send({0x07, 0x10});
        board.memory.resize(kSampleBytes);
        for (std::size_t i = 0; i < kSampleBytes; ++i) {
            // Distinct in every byte of a packet and from packet to packet.
            board.memory[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8) * 13 + (i >> 16));
        }
    }

    // Reads packets until none comes; returns their sizes and appends their bytes. A
    // firmware that never stops sending fails here, after one packet more than the
    // longest read-out of these tests, instead of filling the memory.
    std::vector<std::size_t> drain(Bytes& into) {
        std::vector<std::size_t> sizes;
        while (auto p = receive()) {
            if (sizes.size() > kMostPackets) {
                ADD_FAILURE() << "more than " << kMostPackets << " packets";
                break;
            }
            sizes.push_back(p->size());
            into.insert(into.end(), p->begin(), p->end());
        }
        return sizes;
    }
    static constexpr std::size_t kMostPackets = 0x2001 + 1; // 0x2001 packets and a tail
};

TEST_F(BlockTransfers, FullPacketsThenTheTailAsOneShortPacketAndNothingMore) {
    struct Case {
        Bytes command;
        std::vector<std::size_t> sizes;
    } cases[] = {
        {kReadOut, std::vector<std::size_t>(2048, 64)},
        {{0x66, 0x05, 0x01, 0x00}, {64, 5}},
        {{0x66, 0xC5, 0x01, 0x00}, {64, 5}}, // only the low 6 bits of p1 count
        {{0x66, 0x3F, 0x00, 0x00}, {63}},
        {{0x66, 0x00, 0x03, 0x00}, {64, 64, 64}},
        {{0x66, 0x00, 0x00, 0x00}, {}},
    };
    for (const Case& c : cases) {
        send(c.command);
        Bytes data;
        EXPECT_EQ(drain(data), c.sizes) << int(c.command[1]) << " " << int(c.command[2]);
        const std::size_t total = std::accumulate(c.sizes.begin(), c.sizes.end(), 0u);
        EXPECT_EQ(data, Bytes(board.memory.begin(), board.memory.begin() + total));
        EXPECT_EQ(board.modeReads, total);
        EXPECT_EQ(chip.peekXdata(fw::kPacketsLeft) | chip.peekXdata(fw::kPacketsLeft + 1), 0);
        send({0x10}); // leave mode 6, so the next read-out starts at the top again
    }
}

TEST_F(BlockTransfers, UnfilledCounterCountsGroupsWithTheStatusLineLow) {
    struct Case {
        Bytes command;
        std::uint32_t unfilledGroups;
        Bytes reply;
        std::uint32_t counter; // at 0x1004-0x1007, most significant byte first
    } cases[] = {
        {kReadOut, 0, {0x00, 0x00}, 0},         // line high throughout
        {kReadOut, 16384, {0x00, 0x40}, 16384}, // line low throughout
        {kReadOut, 3, {0x03, 0x00}, 3},
        {kReadOut, 300, {0x2C, 0x01}, 300},
        {{0x66, 0x05, 0x01, 0x00}, 100, {0x08, 0x00}, 8}, // the tail is not sampled
        // 8193 packets, all unfilled: the counter passes 16 bits, 0x70 gives its low half.
        {{0x66, 0x00, 0x01, 0x20}, 1u << 30, {0x08, 0x00}, 0x10008},
    };
    for (const Case& c : cases) {
        board.unfilledGroups = c.unfilledGroups;
        send(c.command);
        Bytes data;
        drain(data);
        std::uint32_t counter = 0;
        for (int i = 0; i < 4; ++i) {
            counter = counter << 8 | chip.peekXdata(fw::kUnfilledCounter + i);
        }
        EXPECT_EQ(counter, c.counter) << c.unfilledGroups;
        send({0x70});
        EXPECT_EQ(receive(), c.reply) << c.unfilledGroups;
        send({0x10});
    }
}

TEST_F(BlockTransfers, CommandsDuringAReadOutNeverBreakIntoItsPackets) {
    send(kReadOut);
    chip.run(10 * kCyclesPerFrame);
    EXPECT_EQ(board.modeReads, 128u) << "only the two halves of endpoint 2 IN may be filled";

    // Before draining, the host sends a command without reply (runs at once) and one with
    // reply bytes (waits for a free buffer). Then, while draining, a register write and a
    // status query after each packet: they meet the pump in every phase of its work.
    send({0x16});
    send({0x26, 0x70});
    Bytes stream;
    std::vector<Bytes> replies;
    for (int round = 0; round <= 2048 + 65; ++round) {
        const std::optional<Bytes> p = receive();
        if (!p) {
            break;
        }
        if (p->size() == 64) {
            stream.insert(stream.end(), p->begin(), p->end());
        } else {
            replies.push_back(*p);
        }
        if (round < 64) {
            send({0x36, 0x55, 0x26});
        }
    }
    EXPECT_EQ(stream, board.memory) << "the read-out must arrive whole and in order";
    ASSERT_EQ(replies.size(), 65u);
    EXPECT_EQ(replies[0].size(), 3u);
    for (const Bytes& r : replies) {
        EXPECT_EQ(r[0], 0x0E) << "mode 6, status high";
    }
    EXPECT_EQ(board.writes.size(), 64u);
}

TEST_F(BlockTransfers, BlockWriteDrivesAnnouncedPacketsOntoTheBus) {
    send({0x53, 0x05, 0x01, 0x00});
    Bytes full(64);
    std::iota(full.begin(), full.end(), std::uint8_t{0x40});
    const Bytes tail = {1, 2, 3, 4, 5};
    ASSERT_TRUE(chip.bulkOut(2, full).ok());
    ASSERT_TRUE(chip.bulkOut(2, tail).ok());
    ASSERT_TRUE(chip.bulkOut(2, Bytes(7, 0xEE)).ok()); // nothing announced: dropped
    chip.run(kCyclesPerFrame);
    Bytes written;
    for (const auto& w : board.writes) {
        EXPECT_EQ(w.mode, 3);
        written.push_back(w.byte);
    }
    Bytes expected = full;
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(written, expected);
    EXPECT_EQ(board.reads, 0u);
    EXPECT_FALSE(receive()) << "a block write never sends";
}

TEST_F(BlockTransfers, FullPacketWhenOnlyTheTailIsExpectedDoesNotWrapTheCount) {
    send({0x50, 0x05, 0x00, 0x00});
    ASSERT_TRUE(chip.bulkOut(2, Bytes(64, 0x11)).ok());
    ASSERT_TRUE(chip.bulkOut(2, Bytes(3, 0x22)).ok());
    ASSERT_TRUE(chip.bulkOut(2, Bytes(64, 0x33)).ok()); // dropped
    send({0x66, 0x00, 0x00, 0x00});
    ASSERT_TRUE(chip.bulkOut(2, Bytes(64, 0x44)).ok()); // direction is read: dropped
    chip.run(kCyclesPerFrame);
    EXPECT_EQ(board.writes.size(), 67u);
    EXPECT_EQ(chip.peekXdata(fw::kPacketsLeft), 0);
    EXPECT_EQ(chip.peekXdata(fw::kPacketsLeft + 1), 0);
}

} // namespace
} // namespace pulsara::test
