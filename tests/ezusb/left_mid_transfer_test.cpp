// A board left in the middle of a transfer by a run that was killed: answers
// nobody read wait on EP2 IN, packets wait on the OUT endpoints, a block shift
// is half done. The next vokusb run must configure all the same, on each of
// the three boards of our drivers.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/served_bench.h"
#include "usb.h"

namespace {

using namespace testsupport;
using Bytes = std::vector<uint8_t>;

struct Leftover {
    uint8_t endpoint;
    Bytes bytes;
};

struct BoardCase {
    const char *board, *driver;
    std::vector<Leftover> leftovers; // sent and never answered
};

Bytes repeat(uint8_t value, size_t n) { return Bytes(n, value); }

class LeftMidTransfer : public ServedBench {};

TEST_F(LeftMidTransfer, NextRunDrainsTheBoardAndConfigures) {
    const BoardCase cases[] = {
        // Status queries and a clock packet whose pin answers nobody takes.
        {"an2135sc-jtag", "vok_usb", {{0x01, {0x20}}, {0x04, repeat(0x02, 64)}, {0x04, repeat(0x00, 64)}}},
        // TDO packets and bit cycles, answered on EP2 IN.
        {"spi", "vok_usb2", {{0x04, repeat(0xA5, 64)}, {0x04, repeat(0x5A, 64)}, {0x06, {0x06, 0x02}}}},
        // A port read, then a block shift of two packets with one of them sent.
        {"qrt", "vok_qrt", {{0x01, {0xB0, 0x10, 0xA0}}, {0x01, {0xC0, 0x00, 0x02, 0x00}}, {0x02, repeat(0x10, 64)}}},
    };
    for (const BoardCase &c : cases) {
        SCOPED_TRACE(c.board);
        serve({"--chain", "2s15", "--usb", std::string("0:") + c.board}, true);
        const std::string file = mkbit(dir, "2s15", "d.bit").path;
        auto configure = [&] { return vokusb({file, "-driver", c.driver}, 60); };
        Result first = configure(); // loads the firmware
        ASSERT_EQ(first.status, 0) << first.out;

        {
            std::string reason;
            auto h = vokhw::usb_open(0, &reason);
            ASSERT_TRUE(h) << reason;
            for (const Leftover &l : c.leftovers) {
                Bytes b = l.bytes;
                int moved = 0;
                h->bulk(l.endpoint, b.data(), int(b.size()), &moved, 300); // may stay unacknowledged
            }
            vokhw::usb_wait_ms(20);
        } // closed as a killed process leaves it

        Result next = configure();
        EXPECT_EQ(next.status, 0) << next.out;
        EXPECT_NE(next.out.find("Complete!"), std::string::npos) << next.out;
        bench.reset();
    }
}

} // namespace
