// Timers 0 to 2 with their clock choice, and serial port 0 in mode 0: pin
// edges at their CLK24 times, sampling of RxD0, flags and SBUF0.
#include "core_test_bus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace bench::ezusb::test {
namespace {

enum : uint8_t {
    TCON = 0x88, TMOD = 0x89, TL0 = 0x8A, TL1 = 0x8B, TH0 = 0x8C, TH1 = 0x8D, CKCON = 0x8E,
    SCON0 = 0x98, SBUF0 = 0x99, T2CON = 0xC8, RCAP2L = 0xCA, RCAP2H = 0xCB, TL2 = 0xCC, TH2 = 0xCD,
};

using Regs = std::vector<std::pair<uint8_t, uint8_t>>;

TEST(Timers, CountModesAndClocks) {
    struct { const char *name; Regs set; uint64_t cycles; Regs expect; } cases[] = {
        {"t0 mode 1 at clk/4", {{CKCON, 0x08}, {TMOD, 0x01}, {TH0, 0xFF}, {TL0, 0xF0}, {TCON, 0x10}},
         0x20, {{TH0, 0x00}, {TL0, 0x10}, {TCON, 0x30}}},
        {"t0 mode 1 at clk/12, one tick short", {{CKCON, 0x00}, {TMOD, 0x01}, {TH0, 0xFF}, {TL0, 0xF0}, {TCON, 0x10}},
         45, {{TH0, 0xFF}, {TL0, 0xFF}, {TCON, 0x10}}},
        {"t0 mode 1 at clk/12, overflow", {{CKCON, 0x00}, {TMOD, 0x01}, {TH0, 0xFF}, {TL0, 0xF0}, {TCON, 0x10}},
         48, {{TH0, 0x00}, {TL0, 0x00}, {TCON, 0x30}}},
        {"t0 mode 2 reloads from th0", {{CKCON, 0x08}, {TMOD, 0x02}, {TH0, 0xF0}, {TL0, 0xFE}, {TCON, 0x10}},
         5, {{TH0, 0xF0}, {TL0, 0xF3}, {TCON, 0x30}}},
        {"t0 mode 0 has 13 bits", {{CKCON, 0x08}, {TMOD, 0x00}, {TH0, 0xFF}, {TL0, 0x1E}, {TCON, 0x10}},
         3, {{TH0, 0x00}, {TL0, 0x01}, {TCON, 0x30}}},
        {"t1 mode 1 at clk/4", {{CKCON, 0x10}, {TMOD, 0x10}, {TH1, 0xFF}, {TL1, 0xFE}, {TCON, 0x40}},
         2, {{TH1, 0x00}, {TL1, 0x00}, {TCON, 0xC0}}},
        {"t1 ignores t0m", {{CKCON, 0x08}, {TMOD, 0x10}, {TCON, 0x40}}, 30, {{TL1, 10}, {TCON, 0x40}}},
        {"t0 stopped counts nothing", {{CKCON, 0x08}, {TMOD, 0x01}}, 30, {{TL0, 0}}},
        {"t2 reloads from rcap2", {{CKCON, 0x20}, {RCAP2H, 0xFF}, {TH2, 0xFF}, {TL2, 0xFE}, {T2CON, 0x04}},
         4, {{TH2, 0xFF}, {TL2, 0x02}, {T2CON, 0x84}}},
        {"t2 at clk/12", {{CKCON, 0x00}, {T2CON, 0x04}}, 30, {{TL2, 10}, {T2CON, 0x04}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;  // code is all NOPs: one cycle each
        for (auto [reg, v] : c.set) rig.cpu.set_sfr(reg, v);
        rig.cpu.run_until(c.cycles);
        for (auto [reg, v] : c.expect) EXPECT_EQ(rig.cpu.sfr(reg), v) << std::hex << int(reg);
    }
}

TEST(Timers, GateHoldsTimerZeroWhileInt0IsLow) {
    Rig rig;
    for (auto [reg, v] : Regs{{CKCON, 0x08}, {TMOD, 0x09}, {TCON, 0x10}}) rig.cpu.set_sfr(reg, v);
    rig.cpu.set_int0(false);
    rig.cpu.run_until(10);
    EXPECT_EQ(rig.cpu.sfr(TL0), 0);
    rig.cpu.set_int0(true);
    rig.cpu.run_until(20);
    EXPECT_EQ(rig.cpu.sfr(TL0), 10);
}

// Pin levels from the log: every Pins event with its time.
std::vector<BusEvent> pins(const TestBus &bus, BusEvent::Kind kind = BusEvent::Pins) {
    std::vector<BusEvent> out;
    for (const BusEvent &e : bus.log)
        if (e.kind == kind) out.push_back(e);
    return out;
}

// The first cycle boundary at which SCON0 shows `flag`, stepping NOPs.
uint64_t flag_seen(Rig &rig, uint8_t flag) {
    while (!(rig.cpu.sfr(SCON0) & flag) && rig.cpu.cycles() < 1000) rig.cpu.step();
    return rig.cpu.cycles();
}

struct Rate {
    uint8_t scon;       // SM2 bit
    unsigned first_data, first_rise, period;
    uint64_t flag_cycles;  // cycles from the starting write's end until the flag shows
};
const Rate kRates[] = {{0x20, 5, 8, 4, 10}, {0x00, 13, 23, 12, 28}};

TEST(SerialMode0, TransmitShiftsLsbFirstOnRxd0outClockedByTxd0) {
    for (const Rate &r : kRates) {
        SCOPED_TRACE(testing::Message() << "SM2 " << (r.scon != 0));
        Rig rig;
        rig.bus.load({0x75, SCON0, r.scon, 0x75, SBUF0, 0x5A});  // then NOPs
        const uint64_t e = 4 * 6;
        EXPECT_EQ(flag_seen(rig, 0x02), 6 + r.flag_cycles);
        std::vector<BusEvent> p = pins(rig.bus);
        ASSERT_FALSE(p.empty());
        EXPECT_EQ(p.front().clk, e + r.first_data);  // bit 0 of 0x5A is 0
        EXPECT_EQ(p.front().value, 0b10);
        std::vector<uint64_t> rises;
        uint8_t byte = 0, prev = 0b11;
        for (const BusEvent &ev : p) {
            if ((ev.value & 2) && !(prev & 2)) {
                rises.push_back(ev.clk);
                byte = static_cast<uint8_t>(byte >> 1 | (ev.value & 1) << 7);
            }
            prev = ev.value;
        }
        ASSERT_EQ(rises.size(), 8u);
        for (unsigned k = 0; k < 8; ++k) EXPECT_EQ(rises[k], e + r.first_rise + r.period * k);
        EXPECT_EQ(byte, 0x5A);
        EXPECT_EQ(p.back().value, 0b11);  // both lines idle high again
    }
}

TEST(SerialMode0, ReceiveMakesEightPulsesAndSamplesRxd0AtEachRise) {
    struct { const Rate *rate; unsigned delay; } cases[] = {{&kRates[0], 0}, {&kRates[1], 0}, {&kRates[0], 2}};
    for (const auto &c : cases) {
        const Rate &r = *c.rate;
        SCOPED_TRACE(testing::Message() << "SM2 " << (r.scon != 0) << " delay " << c.delay);
        CoreSettings s;
        s.rxd0_sample_delay = c.delay;
        Rig rig(s);
        unsigned bit = 0;
        rig.bus.rxd0 = [&] { return (0xC3 >> bit++) & 1; };
        rig.bus.load({0x75, SCON0, static_cast<uint8_t>(r.scon | 0x10)});  // REN=1, RI=0
        const uint64_t e = 4 * 3;
        EXPECT_EQ(flag_seen(rig, 0x01), 3 + r.flag_cycles);
        EXPECT_EQ(rig.cpu.sfr(SBUF0), 0xC3);
        std::vector<BusEvent> samples = pins(rig.bus, BusEvent::Sample);
        ASSERT_EQ(samples.size(), 8u);
        for (unsigned k = 0; k < 8; ++k)
            EXPECT_EQ(samples[k].clk, e + r.first_rise + r.period * k - c.delay);
        std::vector<BusEvent> p = pins(rig.bus);
        EXPECT_EQ(p.size(), 16u);  // eight low and eight high
        EXPECT_TRUE(std::all_of(p.begin(), p.end(), [](const BusEvent &ev) { return ev.value & 1; }));
        rig.cpu.run_until(rig.cpu.cycles() + 100);
        EXPECT_EQ(pins(rig.bus, BusEvent::Sample).size(), 8u);  // RI=1 holds the receiver
    }
}

TEST(SerialMode0, PinEdgesBeforeAMovxWriteAreReportedFirst) {
    Rig rig;
    // CKCON=0, SCON0=0x20, SBUF0=0, then 20 x MOVX @DPTR,A and SJMP $
    rig.bus.load({0x75, CKCON, 0x00, 0x75, SCON0, 0x20, 0x75, SBUF0, 0x00});
    std::fill(rig.bus.code.begin() + 9, rig.bus.code.begin() + 29, 0xF0);
    rig.bus.load({0x80, 0xFE}, 29);
    rig.run();
    const auto &log = rig.bus.log;
    EXPECT_TRUE(std::is_sorted(log.begin(), log.end(),
                               [](const BusEvent &a, const BusEvent &b) { return a.clk < b.clk; }));
    auto first_write = std::find_if(log.begin(), log.end(), [](auto &e) { return e.kind == BusEvent::Write; });
    auto last_pins = std::find_if(log.rbegin(), log.rend(), [](auto &e) { return e.kind == BusEvent::Pins; });
    ASSERT_NE(first_write, log.end());
    EXPECT_LT(first_write - log.begin(), log.rend() - last_pins - 1);  // interleaved
}

TEST(SerialMode0, WriteDuringTransmitIsIgnored) {
    Rig rig;
    rig.bus.load({0x75, SCON0, 0x20, 0x75, SBUF0, 0xFF, 0x75, SBUF0, 0x00});
    rig.cpu.run_until(200);
    std::vector<BusEvent> p = pins(rig.bus);
    EXPECT_EQ(std::count_if(p.begin(), p.end(), [](auto &e) { return !(e.value & 1); }), 0);
    EXPECT_EQ(p.size(), 16u);
}

TEST(SerialMode0, ControlWritesStopTransfersAndSpareFreshFlags) {
    std::vector<uint8_t> nops(8, 0x00);
    auto program = [&](std::initializer_list<uint8_t> head, size_t n_nops, std::initializer_list<uint8_t> tail) {
        std::vector<uint8_t> p(head);
        p.insert(p.end(), nops.begin(), nops.begin() + n_nops);
        p.insert(p.end(), tail);
        return p;
    };
    struct {
        const char *name;
        std::vector<uint8_t> code;
        uint8_t flags;          // SCON0 & 3 afterwards
        size_t samples;         // RxD0 samples taken
        uint64_t last_pin_clk;  // no pin changes after this
    } cases[] = {
        // receive from CLK 12; REN cleared by the write ending at cycle 9: four
        // rises before it, the fifth (at 36) never comes
        {"clearing ren stops a receive", program({0x75, SCON0, 0x30}, 3, {0x75, SCON0, 0x20}), 0, 4, 36},
        // transmit from CLK 24; mode 1 written by the instruction ending at cycle 11
        {"changing the mode stops a transmit", program({0x75, SCON0, 0x20, 0x75, SBUF0, 0x00}, 2, {0x75, SCON0, 0x60}),
         0, 0, 44},
        // TI set at CLK 63: a write ending at cycle 16 keeps it, one at 17 clears it
        {"a write in the next cycle keeps ti", program({0x75, SCON0, 0x20, 0x75, SBUF0, 0x00}, 7, {0x75, SCON0, 0x20}),
         0x02, 0, 64},
        {"a later write clears ti", program({0x75, SCON0, 0x20, 0x75, SBUF0, 0x00}, 8, {0x75, SCON0, 0x20}), 0, 0, 64},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        std::copy(c.code.begin(), c.code.end(), rig.bus.code.begin());
        rig.cpu.run_until(200);
        EXPECT_EQ(rig.cpu.sfr(SCON0) & 3, c.flags);
        EXPECT_EQ(pins(rig.bus, BusEvent::Sample).size(), c.samples);
        std::vector<BusEvent> p = pins(rig.bus);
        ASSERT_FALSE(p.empty());
        EXPECT_LE(p.back().clk, c.last_pin_clk);
        EXPECT_EQ(p.back().value, 0b11);
    }
}

} // namespace
} // namespace bench::ezusb::test
