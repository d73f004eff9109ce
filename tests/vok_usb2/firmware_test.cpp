// The ez_spi image on the emulated AN2131, wired to a recorder of the JTAG pins:
// TDI at every rising TCK edge across whole packets, TDO bytes first bit in
// bit 0, bit-cycle answers, and the cycles a packet costs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

#include "an2131.h"
#include "ez_spi_image.h"

namespace {

using namespace bench::ezusb;
using Bytes = std::vector<uint8_t>;

constexpr uint64_t CYCLES_PER_MS = 6000;
constexpr uint8_t TDO = 0x01, SUPPLY = 0x08;

bool pin(const PortPins &p, int port, int bit) {
    uint8_t m = uint8_t(1 << bit);
    return !(p.drive[size_t(port)] & m) || (p.level[size_t(port)] & m);
}

// What a target sees: TMS and TDI at each rising TCK edge, and how long TDI had
// been stable then (CLK24 periods). TDO follows a pattern, one bit per falling
// edge, as a TAP shifts it out.
struct JtagRecorder : BoardWiring {
    An2131 *chip = nullptr;
    bool tck = true, tdi = false;
    uint64_t tdi_since = 0;
    std::vector<int> tdi_bits, tms_bits;
    uint64_t least_setup = UINT64_MAX;
    std::vector<int> tdo_pattern;
    size_t falls = 0;
    bool supply = true;

    void pins_changed(const PortPins &p) override {
        uint64_t now = chip->cpu().bus_clock();
        bool new_tdi = pin(p, 0, 5), new_tck = pin(p, 2, 1);
        if (new_tdi != tdi) tdi_since = now;
        tdi = new_tdi;
        if (tck && !new_tck) ++falls;
        if (!tck && new_tck) {
            tdi_bits.push_back(tdi);
            tms_bits.push_back(pin(p, 2, 2));
            least_setup = std::min(least_setup, now - tdi_since);
        }
        tck = new_tck;
    }
    uint8_t pins_in(int port) override {
        if (port != 2) return 0xFF;
        bool tdo = falls > 0 && falls <= tdo_pattern.size() && tdo_pattern[falls - 1];
        return uint8_t(0xF0 | (supply ? SUPPLY : 0) | (tdo ? TDO : 0));
    }
    void fwr_strobe(uint8_t) override {}
    uint8_t frd_strobe() override { return 0xFF; }
};

// The bits of bytes as the serial port sends them: bit 0 of each byte first.
std::vector<int> lsb_first(const Bytes &bytes) {
    std::vector<int> bits;
    for (uint8_t b : bytes)
        for (int k = 0; k < 8; ++k) bits.push_back((b >> k) & 1);
    return bits;
}

Bytes random_bytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    Bytes b(n);
    for (auto &v : b) v = uint8_t(gen());
    return b;
}

class SpiFirmware : public ::testing::Test {
protected:
    An2131 chip;
    JtagRecorder board;

    void SetUp() override {
        board.chip = &chip;
        chip.attach_wiring(&board);
        chip.load(0, std::span<const uint8_t>(ez_spi, sizeof ez_spi));
        chip.set_reset(false);
        chip.run_cycles(700 * CYCLES_PER_MS); // start-up and the renumeration's detach
        ASSERT_EQ(chip.usbcs() & (USBCS_DISCOE | USBCS_DISCON | USBCS_RENUM), USBCS_DISCOE | USBCS_RENUM);
        chip.bus_reset();
        chip.run_cycles(1000);
        board.tdi_bits.clear();
        board.tms_bits.clear();
    }
    void send(int ep, const Bytes &packet) {
        for (int tries = 0; tries < 1000; ++tries) {
            if (chip.bulk_out(ep, packet.data(), int(packet.size())) >= 0) return;
            chip.run_cycles(200);
        }
        FAIL() << "EP" << ep << " OUT never took the packet";
    }
    Bytes answer() {
        uint8_t buf[64];
        for (int tries = 0; tries < 100; ++tries) {
            int n = chip.bulk_in(2, buf);
            if (n >= 0) return Bytes(buf, buf + n);
            chip.run_cycles(500);
        }
        return {};
    }
};

TEST_F(SpiFirmware, SerialBytesDriveEveryTdiBitAtItsRisingEdge) {
    struct Case {
        int ep;
        std::vector<size_t> packets;
    } cases[] = {{2, {64, 64, 5, 1}}, {4, {64, 3}}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.ep);
        Bytes all;
        board.tdi_bits.clear();
        board.tms_bits.clear();
        board.least_setup = UINT64_MAX;
        for (size_t n : c.packets) {
            Bytes p = random_bytes(n, unsigned(n + c.ep));
            all.insert(all.end(), p.begin(), p.end());
            send(c.ep, p);
            chip.run_cycles(3000);
            if (c.ep == 4) {
                EXPECT_EQ(answer().size(), n);
            }
        }
        EXPECT_EQ(board.tdi_bits, lsb_first(all));
        EXPECT_EQ(board.tms_bits, std::vector<int>(all.size() * 8, 0)) << "TMS stays as it was";
        EXPECT_GE(board.least_setup, 4u) << "TDI must settle before the edge, not with it";
        EXPECT_EQ(chip.peek(reg::PORTCCFG), 0) << "PC0/PC1 go back to the port after the packet";
        EXPECT_TRUE(board.tck) << "TCK idles high";
    }
}

TEST_F(SpiFirmware, TdoBytesFirstBitInBitZero) {
    Bytes expected = random_bytes(64 + 7, 11);
    std::vector<int> bits = lsb_first(expected);
    board.tdo_pattern = bits;
    board.falls = 0;
    send(4, Bytes(64, 0x00));
    chip.run_cycles(3000);
    Bytes got = answer();
    send(4, Bytes(7, 0xFF));
    chip.run_cycles(1000);
    Bytes more = answer();
    got.insert(got.end(), more.begin(), more.end());
    EXPECT_EQ(got, expected);
}

TEST_F(SpiFirmware, BitCyclesAndLevelMessages) {
    // 0x24: TMS+TDI; 0x20: TDI; 0x04: TMS; then the level messages 0x06, 0x02.
    board.tdo_pattern = {1, 0, 0, 1};
    board.falls = 0;
    // Answers: port C after the rising edge, TCK (bit 1) and TMS (bit 2) as driven.
    send(6, {0x24, 0x20, 0x00, 0x04, 0x06, 0x02});
    chip.run_cycles(2000);
    EXPECT_EQ(answer(), (Bytes{0xFF, 0xFA, 0xFA, 0xFF, 0xFF, 0xFB}));
    board.supply = false;
    send(6, {0x06});
    chip.run_cycles(2000);
    EXPECT_EQ(answer(), Bytes{0xF7}) << "no target supply";
    EXPECT_EQ(board.tdi_bits, (std::vector<int>{1, 1, 0, 0})) << "no clock for a level message";
    EXPECT_EQ(board.tms_bits, (std::vector<int>{1, 0, 0, 1}));
}

TEST_F(SpiFirmware, AnAnswerWaitsUntilTheHostTookThePreviousOne) {
    send(6, {0x00});
    chip.run_cycles(2000);
    send(6, {0x00, 0x00});
    chip.run_cycles(20000);
    EXPECT_EQ(board.tdi_bits.size(), 1u) << "the second packet waits";
    EXPECT_EQ(answer().size(), 1u);
    chip.run_cycles(2000);
    EXPECT_EQ(answer().size(), 2u);
    EXPECT_EQ(board.tdi_bits.size(), 3u);
}

TEST_F(SpiFirmware, FullPacketCyclesPerByte) {
    struct Case {
        int ep;
        uint64_t limit;
    } cases[] = {{2, 32 * 64}, {4, 40 * 64}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.ep);
        // Two packets back to back: the second shows the steady rate.
        send(c.ep, random_bytes(64, 1));
        uint64_t start = chip.cpu().cycles();
        if (c.ep == 2) send(c.ep, random_bytes(64, 2));
        uint64_t end_rise = 0;
        size_t target = board.tdi_bits.size() + (c.ep == 2 ? 128 : 64) * 8;
        while (board.tdi_bits.size() < target) chip.cpu().step();
        while (!(chip.peek(reg::outcs(c.ep)) & EPCS_BUSY)) chip.cpu().step();
        end_rise = chip.cpu().cycles() - start;
        uint64_t per_packet = c.ep == 2 ? end_rise / 2 : end_rise;
        std::printf("EP%d: %llu machine cycles per 64-byte packet, %.2f per byte\n", c.ep,
                    (unsigned long long)per_packet, double(per_packet) / 64);
        EXPECT_LE(per_packet, c.limit);
        if (c.ep == 4) answer();
    }
}

} // namespace
