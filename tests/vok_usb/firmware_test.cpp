// The AN2135SC firmware image on the emulated AN2131: descriptors, the commands
// of EP1, the strobes of EP2 and EP4 with the pins read after each, the wait
// for the host to take an answer, and the cycles a packet costs.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

#include "an2131.h"
#include "firmware_image.h"

namespace {

using namespace bench::ezusb;
using Bytes = std::vector<uint8_t>;

constexpr uint64_t CYCLES_PER_MS = 6000;

// The board seen from the chip: records every FWR strobe; PC1 follows bit 0 of
// the last strobed byte (so each answer tells which strobe came before the
// read), PC3 is the target supply.
struct StrobeRecorder : BoardWiring {
    Bytes strobes;
    uint8_t supply = 0x08;
    void pins_changed(const PortPins &) override {}
    uint8_t pins_in(int port) override {
        if (port != 2) return 0xFF;
        uint8_t tdo = !strobes.empty() && (strobes.back() & 1) ? 0x02 : 0x00;
        return uint8_t(0xF5 | tdo | supply);
    }
    void fwr_strobe(uint8_t byte) override { strobes.push_back(byte); }
    uint8_t frd_strobe() override { return 0xFF; }
};

class UsbFirmware : public ::testing::Test {
protected:
    An2131 chip;
    StrobeRecorder board;

    void SetUp() override {
        chip.attach_wiring(&board);
        chip.load(0, std::span<const uint8_t>(firmware, sizeof firmware));
        chip.set_reset(false);
        // Start-up and the renumeration's detach, then the host's bus reset.
        chip.run_cycles(700 * CYCLES_PER_MS);
        ASSERT_EQ(chip.usbcs() & (USBCS_DISCOE | USBCS_DISCON | USBCS_RENUM),
                  USBCS_DISCOE | USBCS_RENUM)
            << "back on the bus with its own descriptors";
        chip.bus_reset();
        chip.run_cycles(1000);
    }

    void send(int ep, const Bytes &packet) {
        for (int tries = 0; tries < 1000; ++tries) {
            if (chip.bulk_out(ep, packet.data(), int(packet.size())) >= 0) return;
            chip.run_cycles(200);
        }
        FAIL() << "EP" << ep << " OUT never took the packet";
    }
    std::vector<Bytes> answers() {
        std::vector<Bytes> out;
        uint8_t buf[64];
        for (int n; (n = chip.bulk_in(2, buf)) >= 0;) {
            out.emplace_back(buf, buf + n);
            chip.run_cycles(2000);
        }
        return out;
    }
    Bytes command(const Bytes &packet) {
        send(1, packet);
        chip.run_cycles(3000);
        std::vector<Bytes> a = answers();
        return a.empty() ? Bytes{} : a.front();
    }
    // Runs instruction by instruction until the OUT endpoint is armed again;
    // the machine cycles that took.
    uint64_t cycles_until_armed(int ep) {
        uint64_t start = chip.cpu().cycles();
        while (!(chip.peek(reg::outcs(ep)) & EPCS_BUSY)) chip.cpu().step();
        return chip.cpu().cycles() - start;
    }
};

// GET_DESCRIPTOR through endpoint 0, answered by the firmware core that every
// image shares (the layout test checks each board's bytes); empty when stalled.
Bytes descriptor(An2131 &chip, uint8_t type, uint8_t index) {
    chip.setup_packet({0x80, 6, index, type, 0x1B, 0, 0xFF, 0});
    Bytes got;
    uint8_t buf[64];
    for (int tries = 0; tries < 50 && !chip.ep0_stalled(); ++tries) {
        chip.run_cycles(500);
        int n = chip.ep0_in(buf);
        if (n < 0) continue;
        got.insert(got.end(), buf, buf + n);
        if (n < 64) break;
    }
    return got;
}

TEST_F(UsbFirmware, DescriptorsByteForByte) {
    EXPECT_EQ(descriptor(chip, 1, 0),
              (Bytes{18, 1, 0x00, 0x01, 0, 0, 0, 64, 0x47, 0x05, 0x31, 0x21, 0x01, 0x00, 1, 2, 0, 1}));
    Bytes config = {9, 2, 116, 0, 1, 1, 0, 0xA0, 0xFA, 9, 4, 0, 0, 14, 0xFF, 0, 0, 0};
    for (uint8_t ep : {1, 2, 3, 4, 5, 6, 7})
        config.insert(config.end(), {7, 5, ep, 2, 64, 0, 0});
    config.insert(config.end(), {7, 5, 0x81, 3, 64, 0, 1});
    for (uint8_t ep : {0x82, 0x83, 0x84, 0x85, 0x86, 0x87})
        config.insert(config.end(), {7, 5, ep, 2, 64, 0, 0});
    EXPECT_EQ(descriptor(chip, 2, 0), config);
    EXPECT_EQ(descriptor(chip, 3, 0), (Bytes{4, 3, 0x09, 0x04}));
    EXPECT_EQ(descriptor(chip, 3, 1), (Bytes{10, 3, 'J', 0, 'T', 0, 'A', 0, 'G', 0}));
    EXPECT_EQ(descriptor(chip, 3, 2), (Bytes{10, 3, 'V', 0, '0', 0, '0', 0, '9', 0}));
    EXPECT_EQ(descriptor(chip, 3, 3), Bytes{});
    EXPECT_TRUE(chip.ep0_stalled()) << "no string 3";
}

TEST_F(UsbFirmware, Commands) {
    struct Case {
        const char *what;
        Bytes packet;
        Bytes answer;
        uint16_t reg;
        uint8_t value;
    } cases[] = {
        {"port C output enables", {0x05, 0x0F}, {}, reg::OEC, 0x0F},
        {"port C outputs", {0x1F, 0x01}, {}, reg::OUTC, 0x01},
        {"port C pins", {0x20}, {0xFD}, 0, 0},
        {"write external data", {0x30, 0x34, 0x12, 0x5A}, {}, 0x1234, 0x5A},
        {"read external data", {0x30, 0x35, 0x12, 0xC3, 0x4F, 0x35, 0x12}, {0xC3}, 0, 0},
        {"stretch 0, fast transfer mode", {0xF0, 0x12}, {}, reg::FASTXFR, 0x52},
        {"ignored commands", {0x60, 0x7F, 0xE1, 0x20}, {0xFD}, 0, 0},
        {"a cut-off command is dropped", {0x20, 0x30, 0x00}, {0xFD}, 0, 0},
        {"answers of one packet make one packet",
         {0x20, 0x01, 0x0F, 0x10, 0x06, 0x41, 0x98, 0x7F, 0x2F}, {0xFD, 0x06, 0xF6}, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        command({0x00, 0x00, 0x10, 0x00}); // port C all inputs
        EXPECT_EQ(command(c.packet), c.answer);
        if (c.reg != 0) {
            EXPECT_EQ(chip.peek(c.reg), c.value);
        }
    }
}

TEST_F(UsbFirmware, StretchCommand) {
    command({0xF1, 0x00});
    EXPECT_EQ(chip.cpu().sfr(0x8E) & 7, 1);
    EXPECT_EQ(chip.peek(reg::FASTXFR), 0x40);
    command({0xF0, 0x52});
    EXPECT_EQ(chip.cpu().sfr(0x8E) & 7, 0);
}

TEST_F(UsbFirmware, ZeroBytesInPacketsThenTheRest) {
    send(1, {0x55, 0x05, 0x02, 0x00});
    std::vector<size_t> sizes;
    for (int i = 0; i < 10; ++i) {
        chip.run_cycles(3000);
        for (const Bytes &a : answers()) {
            sizes.push_back(a.size());
            EXPECT_EQ(a, Bytes(a.size(), 0));
        }
    }
    EXPECT_EQ(sizes, (std::vector<size_t>{64, 64, 5}));
}

TEST_F(UsbFirmware, Ep2BytesAreStrobedInOrder) {
    Bytes sent;
    for (size_t n : {64, 64, 17, 64, 1}) {
        Bytes p(n);
        for (size_t i = 0; i < n; ++i) p[i] = uint8_t((sent.size() + i) * 37 + 1);
        send(2, p);
        sent.insert(sent.end(), p.begin(), p.end());
    }
    chip.run_cycles(2000);
    EXPECT_EQ(board.strobes, sent);
    EXPECT_TRUE(answers().empty());
}

TEST_F(UsbFirmware, Ep4AnswersThePinsAfterEachStrobe) {
    for (size_t n : {64, 13}) {
        SCOPED_TRACE(n);
        board.strobes.clear();
        Bytes p(n);
        for (size_t i = 0; i < n; ++i) p[i] = uint8_t((i * 5 / 3) & 3);
        send(4, p);
        chip.run_cycles(3000);
        EXPECT_EQ(board.strobes, p);
        Bytes want(n);
        for (size_t i = 0; i < n; ++i) want[i] = uint8_t(0xFD | ((p[i] & 1) << 1));
        EXPECT_EQ(answers(), std::vector<Bytes>{want});
    }
}

TEST_F(UsbFirmware, Ep4WaitsUntilTheHostTookTheAnswer) {
    Bytes p(64, 0x01);
    send(4, p);
    send(4, p); // taken into the buffer, but not strobed yet
    chip.run_cycles(20000);
    EXPECT_EQ(board.strobes.size(), 64u);
    uint8_t buf[64];
    ASSERT_EQ(chip.bulk_in(2, buf), 64);
    chip.run_cycles(3000);
    EXPECT_EQ(board.strobes.size(), 128u);
    EXPECT_EQ(chip.bulk_in(2, buf), 64);
}

TEST_F(UsbFirmware, UnusedEndpointsAreDrained) {
    for (int ep : {3, 5, 6, 7})
        for (int i = 0; i < 3; ++i)
            send(ep, Bytes(64, 0x01));
    chip.run_cycles(1000);
    EXPECT_TRUE(board.strobes.empty());
    EXPECT_TRUE(answers().empty());
}

TEST_F(UsbFirmware, CyclesPerPacket) {
    command({0xF0, 0x12});
    Bytes p(64, 0x03);
    uint64_t ep2_max = 0, ep2_total = 0, ep4_max = 0;
    constexpr int PACKETS = 64;
    for (int i = 0; i < PACKETS; ++i) {
        chip.cpu().run_until(chip.cpu().cycles() + uint64_t(i * 7 % 61)); // any phase of the loop
        ASSERT_GE(chip.bulk_out(2, p.data(), 64), 0);
        uint64_t c = cycles_until_armed(2);
        ep2_max = std::max(ep2_max, c);
        ep2_total += c;
    }
    for (int i = 0; i < 8; ++i) {
        chip.cpu().run_until(chip.cpu().cycles() + uint64_t(i * 13 % 61));
        ASSERT_GE(chip.bulk_out(4, p.data(), 64), 0);
        ep4_max = std::max(ep4_max, cycles_until_armed(4));
        uint8_t buf[64];
        ASSERT_EQ(chip.bulk_in(2, buf), 64);
    }
    std::printf("EP2 OUT: %.1f machine cycles per 64-byte packet on average, %llu at most; "
                "EP4 OUT: %llu at most\n",
                double(ep2_total) / PACKETS, (unsigned long long)ep2_max,
                (unsigned long long)ep4_max);
    // One bus slot is 316 cycles; at 160 the bus, not the firmware, sets the pace.
    EXPECT_LE(ep2_max, 160u);
    // A captured packet is answered within three bus slots.
    EXPECT_LE(ep4_max, 3 * 316u);
}

} // namespace
