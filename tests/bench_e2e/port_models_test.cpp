// The PC port and the cable models at pin level, against a recording target.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "port.h"

namespace {

using bench::Port;

struct FakeLines : bench::TargetLines {
    bool power = true;
    bool tdo_level = false, done_level = false;
    struct Jtag { bool tck, tms, tdi; };
    struct Serial { bool prog, cclk, din; };
    std::vector<Jtag> jtag;
    std::vector<Serial> serial;
    uint64_t ns = 0;
    bool powered() const override { return power; }
    void set_jtag(bool tck, bool tms, bool tdi) override { jtag.push_back({tck, tms, tdi}); }
    bool tdo() const override { return tdo_level; }
    void set_serial(bool p, bool c, bool d) override { serial.push_back({p, c, d}); }
    bool done_pin() const override { return done_level; }
    void elapse_ns(uint64_t n) override { ns += n; }
};

constexpr uint16_t BASE = 0x378;

uint8_t write_read(Port &p, uint8_t data) {
    p.write(BASE, data);
    return p.read(BASE + 1);
}

TEST(BenchPortModel, IdlePortReadsBackRegistersAndCountsAccesses) {
    FakeLines lines;
    Port p(BASE, lines, nullptr);
    EXPECT_EQ(p.read(BASE + 1), 0x7F);
    EXPECT_EQ(p.read(BASE + 2), 0x0C); // control after claim
    p.write(BASE, 0xA5);
    p.write(BASE + 2, 0x02);
    EXPECT_EQ(p.read(BASE), 0xA5);
    EXPECT_EQ(p.read(BASE + 2), 0x02);
    // No loop follows any data bit.
    EXPECT_EQ(write_read(p, 0xFF), 0x7F);
    EXPECT_EQ(write_read(p, 0x00), 0x7F);
    EXPECT_EQ(p.reads(), 6u);
    EXPECT_EQ(p.writes(), 4u);
    EXPECT_EQ(lines.ns, 10u * Port::DEFAULT_NS_PER_ACCESS);
    p.claim();
    EXPECT_EQ(p.read(BASE + 2), 0x0C);
}

TEST(BenchPortModel, IdleValueSetsFloatingPinsAndBusyIsInverted) {
    FakeLines lines;
    Port p(BASE, lines, nullptr, 0x87); // all inputs low, BUSY pin low
    EXPECT_EQ(p.read(BASE + 1), 0x87);
    // A Xilinx cable driving BUSY high clears bit 7.
    p.set_cable(bench::make_xilinx_cable(lines));
    EXPECT_EQ(write_read(p, 0x50) & 0x80, 0x00);
    EXPECT_EQ(write_read(p, 0x10) & 0x80, 0x80);
}

TEST(BenchPortModel, TraceRecordsAccessesInOrder) {
    FakeLines lines;
    Port p(BASE, lines, nullptr);
    p.trace(true);
    p.write(BASE, 0x10);
    p.read(BASE + 1);
    std::vector<bench::PortAccess> want = {{'W', BASE, 0x10}, {'R', BASE + 1, 0x7F}};
    EXPECT_EQ(p.accesses(), want);
}

TEST(XilinxCableModel, PoweredDetectLoopSenseAndJtagLines) {
    FakeLines lines;
    Port p(BASE, lines, bench::make_xilinx_cable(lines));
    uint8_t s = write_read(p, 0x50);
    EXPECT_EQ(s & 0x20, 0x20); // PE follows D6
    EXPECT_EQ(s & 0x80, 0x00); // BUSY pin high reads 0
    EXPECT_EQ(s & 0x08, 0x08); // power sense
    s = write_read(p, 0x10);
    EXPECT_EQ(s & 0x20, 0x00);
    EXPECT_EQ(s & 0x80, 0x80);
    // TDO on status bit 4 while D4 = 1; D4 = 0 pulls the line low.
    lines.tdo_level = true;
    EXPECT_EQ(write_read(p, 0x10) & 0x10, 0x10);
    EXPECT_EQ(write_read(p, 0x00) & 0x10, 0x00);
    lines.tdo_level = false;
    EXPECT_EQ(write_read(p, 0x10) & 0x10, 0x00);
    // D0 = TDI, D1 = TCK, D2 = TMS.
    lines.jtag.clear();
    p.write(BASE, 0x13);
    p.write(BASE, 0x14);
    ASSERT_EQ(lines.jtag.size(), 2u);
    EXPECT_TRUE(lines.jtag[0].tck && !lines.jtag[0].tms && lines.jtag[0].tdi);
    EXPECT_TRUE(!lines.jtag[1].tck && lines.jtag[1].tms && !lines.jtag[1].tdi);
    EXPECT_TRUE(lines.serial.empty());
}

TEST(XilinxCableModel, UnpoweredOnlyTheBusyLoopAnswers) {
    FakeLines lines;
    lines.power = false;
    Port p(BASE, lines, bench::make_xilinx_cable(lines));
    uint8_t on = write_read(p, 0x50), off = write_read(p, 0x10);
    EXPECT_EQ(on & 0x80, 0x00);
    EXPECT_EQ(off & 0x80, 0x80); // BUSY still follows D6
    EXPECT_EQ(on & 0x20, off & 0x20); // PE does not
    EXPECT_EQ(on & 0x08, 0x00);      // no power sense
    EXPECT_EQ(on & 0x10, 0x10);      // TDO line floats high
    EXPECT_TRUE(lines.jtag.empty()); // the buffer drives nothing

    bench::XilinxSettings s;
    s.passive_busy_loop = false;
    Port q(BASE, lines, bench::make_xilinx_cable(lines, s));
    EXPECT_EQ(write_read(q, 0x50), 0x77); // only the dead power sense is driven
    EXPECT_EQ(write_read(q, 0x10), 0x77);
}

TEST(XilinxCableModel, NamedSettingsChangeTheirLines) {
    FakeLines lines;
    bench::XilinxSettings s;
    s.d3_disables_outputs = true;
    s.power_sense_needs_d4_low = true;
    s.d4_low_pulls_tdo_line = false;
    lines.tdo_level = true;
    Port p(BASE, lines, bench::make_xilinx_cable(lines, s));
    lines.jtag.clear();
    p.write(BASE, 0x18); // D3 high: outputs off
    EXPECT_TRUE(lines.jtag.empty());
    EXPECT_EQ(write_read(p, 0x10) & 0x08, 0x00); // sense only with D4 low
    uint8_t st = write_read(p, 0x00);
    EXPECT_EQ(st & 0x08, 0x08);
    EXPECT_EQ(st & 0x10, 0x10); // D4 low no longer pulls TDO down
}

TEST(XilinxCableModel, SerialLeadsDriveProgramCclkDinAndReadDone) {
    FakeLines lines;
    Port p(BASE, lines, bench::make_cable("xilinx-ss", lines));
    lines.serial.clear();
    p.write(BASE, 0x10); // PROG low
    p.write(BASE, 0x17); // PROG high, CCLK high, DIN 1
    ASSERT_EQ(lines.serial.size(), 2u);
    EXPECT_TRUE(!lines.serial[0].prog && !lines.serial[0].cclk && !lines.serial[0].din);
    EXPECT_TRUE(lines.serial[1].prog && lines.serial[1].cclk && lines.serial[1].din);
    EXPECT_TRUE(lines.jtag.empty());
    lines.done_level = true;
    EXPECT_EQ(p.read(BASE + 1) & 0x10, 0x10);
    lines.done_level = false;
    EXPECT_EQ(p.read(BASE + 1) & 0x10, 0x00);
}

TEST(AlteraCableModel, BufferNeedsEnableAndPower) {
    FakeLines lines;
    Port p(BASE, lines, bench::make_altera_cable(lines));
    lines.jtag.clear();
    p.write(BASE, 0x43); // control is 0x0C after claim: buffer off
    EXPECT_TRUE(lines.jtag.empty());
    p.write(BASE + 2, 0x02);
    ASSERT_EQ(lines.jtag.size(), 1u);
    EXPECT_TRUE(lines.jtag[0].tck && lines.jtag[0].tms && lines.jtag[0].tdi);
    p.write(BASE, 0x01); // D0 = TCK only
    EXPECT_TRUE(lines.jtag[1].tck && !lines.jtag[1].tms && !lines.jtag[1].tdi);
    lines.power = false;
    p.write(BASE, 0x00);
    EXPECT_EQ(lines.jtag.size(), 2u);
}

TEST(AlteraCableModel, LoopsSenseAndInvertedTdo) {
    FakeLines lines;
    Port p(BASE, lines, bench::make_altera_cable(lines));
    EXPECT_EQ(write_read(p, 0x00) & 0x40, 0x00);
    EXPECT_EQ(write_read(p, 0x20) & 0x40, 0x40); // D5 -> ACK
    EXPECT_EQ(write_read(p, 0x00) & 0x20, 0x00);
    EXPECT_EQ(write_read(p, 0x80) & 0x20, 0x20); // D7 -> PE
    lines.tdo_level = true;
    EXPECT_EQ(p.read(BASE + 1) & 0x80, 0x00); // TDO 1 reads 0
    lines.tdo_level = false;
    EXPECT_EQ(p.read(BASE + 1) & 0x80, 0x80);

    lines.power = false;
    EXPECT_EQ(write_read(p, 0x00) & 0x40, 0x00); // detect loop works unpowered
    EXPECT_EQ(write_read(p, 0x20) & 0x40, 0x40);
    uint8_t a = write_read(p, 0x00), b = write_read(p, 0x80);
    EXPECT_EQ(a & 0x20, b & 0x20); // the power loop does not

    bench::AlteraSettings s;
    s.detect_loop_unpowered = false;
    Port q(BASE, lines, bench::make_altera_cable(lines, s));
    EXPECT_EQ(write_read(q, 0x00), write_read(q, 0x20)); // nothing answers
}

// Pin 15: grounded on a ByteBlasterMV (the default), the VCC sense with error_line_grounded=0.
TEST(AlteraCableModel, Pin15IsGroundedUnlessTheCableSensesVcc) {
    struct Case {
        const char *cable;
        bool powered;
        uint8_t pin15;
    };
    const Case cases[] = {
        {"altera", true, 0x00},
        {"altera", false, 0x00},
        {"altera+error_line_grounded=0", true, 0x08},
        {"altera+error_line_grounded=0", false, 0x00},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.cable) + (c.powered ? " powered" : " unpowered"));
        FakeLines lines;
        lines.power = c.powered;
        Port p(BASE, lines, bench::make_cable(c.cable, lines));
        EXPECT_EQ(write_read(p, 0x80) & 0x08, c.pin15);
        EXPECT_EQ(write_read(p, 0x00) & 0x08, c.pin15);
    }
}

TEST(AlteraCableModel, SerialAdapterMapsTckToDinTmsToCclkAndDoneToPin13) {
    FakeLines lines;
    Port p(BASE, lines, bench::make_cable("altera-ss", lines));
    p.write(BASE + 2, 0x02);
    lines.serial.clear();
    p.write(BASE, 0x15); // DIN 1, CCLK low, "PROG" bit 2 set
    p.write(BASE, 0x10); // the driver's PROGRAM pulse does not arrive
    p.write(BASE, 0x16);
    ASSERT_EQ(lines.serial.size(), 3u);
    EXPECT_TRUE(lines.serial[0].din && !lines.serial[0].cclk);
    for (auto &s : lines.serial) EXPECT_TRUE(s.prog);
    EXPECT_TRUE(lines.serial[2].cclk && !lines.serial[2].din);
    lines.done_level = true;
    EXPECT_EQ(p.read(BASE + 1) & 0x10, 0x10);
    lines.done_level = false;
    EXPECT_EQ(p.read(BASE + 1) & 0x10, 0x00);
}

TEST(CableModelNames, KnownNamesAndErrors) {
    FakeLines lines;
    for (const char *n : {"xilinx", "xilinx-ss", "altera", "altera-ss"}) {
        auto c = bench::make_cable(n, lines);
        ASSERT_TRUE(c);
        EXPECT_EQ(c->name(), n);
    }
    EXPECT_EQ(bench::make_cable("none", lines), nullptr);
    EXPECT_THROW(bench::make_cable("byteblaster", lines), std::invalid_argument);
    EXPECT_THROW(bench::make_cable("xilinx+no_such_rule=1", lines), std::invalid_argument);
    EXPECT_THROW(bench::make_cable("altera+detect_loop_unpowered=yes", lines), std::invalid_argument);
    EXPECT_THROW(bench::make_cable("xilinx+detect_loop_unpowered=0", lines), std::invalid_argument); // Altera's rule
    EXPECT_THROW(bench::make_cable("none+passive_busy_loop=0", lines), std::invalid_argument);
}

// A wiring rule switched in the cable word changes what the port reads.
TEST(CableModelNames, SettingsInTheNameSwitchWiringRules) {
    FakeLines lines;
    lines.power = false;
    constexpr uint8_t idle_low = 0x87; // floating inputs read low, BUSY pin low
    Port plain(BASE, lines, bench::make_cable("xilinx", lines), idle_low);
    EXPECT_EQ(write_read(plain, 0x50) & 0x80, 0x00); // the passive loop drives BUSY high unpowered
    auto c = bench::make_cable("xilinx+passive_busy_loop=0+d3_disables_outputs=1", lines);
    EXPECT_EQ(c->name(), "xilinx+passive_busy_loop=0+d3_disables_outputs=1");
    Port varied(BASE, lines, std::move(c), idle_low);
    EXPECT_EQ(write_read(varied, 0x50) & 0x80, 0x80); // BUSY floats low

    Port altera(BASE, lines, bench::make_cable("altera", lines), idle_low);
    EXPECT_EQ(write_read(altera, 0x20) & 0x40, 0x40); // ACK follows data bit 5 unpowered
    Port altera_off(BASE, lines, bench::make_cable("altera+detect_loop_unpowered=0", lines), idle_low);
    EXPECT_EQ(write_read(altera_off, 0x20) & 0x40, 0x00); // ACK floats low
}

} // namespace
