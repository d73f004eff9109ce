// How many zero bytes bring a load cut after a given prefix to a packet boundary.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "packet_end.h"

namespace {

std::vector<uint8_t> words(std::initializer_list<uint32_t> ws)
{
    std::vector<uint8_t> bytes;
    for (uint32_t w : ws) {
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes.push_back(static_cast<uint8_t>(w >> shift));
    }
    return bytes;
}

TEST(PacketEnd, PadBytesAfterAPrefix)
{
    const uint32_t dummy = 0xFFFFFFFF, sync = 0xAA995566;
    const struct {
        const char *what;
        std::vector<uint8_t> sent;
        uint32_t pad;
    } cases[] = {
        {"nothing before the sync word", words({dummy, 0x30004000, 0x50000010}), 0},
        {"between packets", words({dummy, sync, 0x30008001, 7}), 0},
        {"inside a type-1 write", words({sync, 0x3000400C, 0, 0}), 4 * 10},
        {"inside the frame data", words({sync, 0x30004000, 0x500099C6, 1, 2, 3}), 4 * (0x99C6 - 3)},
        {"a read announces no data", words({sync, 0x2800E001}), 0},
        {"a type-2 header without a type-1 header before it", words({sync, 0, 0x50000010}), 0},
        {"a huge type-2 count is cut to the longest frame data", words({sync, 0x30004000, 0x57FFFFFF}), 4 * 39366},
        // Three bytes of "write FDRI, 0x100 words": the zero that completes it still announces them.
        {"three bytes of a header", {0xAA, 0x99, 0x55, 0x66, 0x30, 0x00, 0x41}, 1 + 4 * 0x100},
        {"half a data word", {0xAA, 0x99, 0x55, 0x66, 0x30, 0x00, 0x80, 0x01, 0x00, 0x00}, 2},
    };
    for (const auto &c : cases) {
        packet_end_reset();
        // Split in two calls: the tracker keeps its place across blocks.
        const size_t half = c.sent.size() / 2;
        packet_end_scan(c.sent.data(), static_cast<uint32_t>(half));
        packet_end_scan(c.sent.data() + half, static_cast<uint32_t>(c.sent.size() - half));
        EXPECT_EQ(packet_end_pad_bytes(), c.pad) << c.what;
    }
}

} // namespace
