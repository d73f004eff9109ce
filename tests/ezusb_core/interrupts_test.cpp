// Interrupt entry, priorities, RETI and the instruction that runs after it,
// INT2 with autovectoring, and idle mode.
#include "core_test_bus.h"

#include <gtest/gtest.h>

namespace bench::ezusb::test {
namespace {

constexpr uint8_t SP = 0x81, TCON = 0x88, EXIF = 0x91;

TEST(Interrupts, TimerOverflowEntersVectorInFourCycles) {
    Rig rig;
    // LJMP 0x30; at 0x30: CKCON=0x08 (T0M), TMOD=2, IE=0x82, SETB TR0, SJMP $.
    rig.bus.load({0x02, 0x00, 0x30});
    rig.bus.load({0x75, 0x8E, 0x08, 0x75, 0x89, 0x02, 0x75, 0xA8, 0x82, 0xD2, 0x8C, 0x80, 0xFE}, 0x30);
    rig.bus.load({0x05, 0x40, 0x32}, 0x0B);  // INC 0x40; RETI
    while (rig.cpu.pc() != 0x0B && rig.cpu.cycles() < 1000) rig.cpu.step();
    // TR0 set at cycle 15; the 256th tick (cycle 271) falls in the SJMP ending
    // at 273; the entry takes cycles 273..277.
    EXPECT_EQ(rig.cpu.cycles(), 277u);
    EXPECT_EQ(rig.cpu.sfr(TCON) & 0x20, 0);  // the vector clears TF0
    EXPECT_EQ(rig.cpu.sfr(SP), 0x09);
    EXPECT_EQ(rig.cpu.iram()[0x08], 0x3B);
    rig.cpu.step();
    EXPECT_EQ(rig.cpu.step(), 4u);  // RETI
    EXPECT_EQ(rig.cpu.pc(), 0x3B);
    EXPECT_EQ(rig.cpu.sfr(SP), 0x07);
    EXPECT_EQ(rig.cpu.iram()[0x40], 1);
}

// USB (INT2) at the low level, I2C (INT3) at the high level.
struct PriorityRig : Rig {
    PriorityRig() {
        bus.load({0x02, 0x00, 0x80});
        bus.load({0x02, 0x01, 0x00}, 0x43);
        bus.load({0x02, 0x02, 0x00}, 0x4B);
        // IE=0x80, EIE=0x03, EIP=0x02, SJMP $ (at 0x89)
        bus.load({0x75, 0xA8, 0x80, 0x75, 0xE8, 0x03, 0x75, 0xF8, 0x02, 0x80, 0xFE}, 0x80);
        bus.load({0x05, 0x30, 0x53, 0x91, 0xEF, 0x32}, 0x100);  // INC 0x30; clear EXIF.4; RETI
        bus.load({0x05, 0x31, 0x53, 0x91, 0xDF, 0x32}, 0x200);  // INC 0x31; clear EXIF.5; RETI
        run();
    }
};

TEST(Interrupts, HighLevelPreemptsLowAndLowWaitsForReti) {
    PriorityRig rig;
    ASSERT_EQ(rig.cpu.pc(), 0x89);
    rig.cpu.set_int2(true);
    EXPECT_EQ(rig.cpu.sfr(EXIF) & 0x10, 0x10);
    EXPECT_EQ(rig.cpu.step(), 4u);
    EXPECT_EQ(rig.cpu.pc(), 0x43);
    rig.cpu.step();
    EXPECT_EQ(rig.cpu.pc(), 0x100);

    rig.cpu.set_int3(true);
    rig.cpu.set_int3(false);
    EXPECT_EQ(rig.cpu.step(), 4u);  // the high level interrupts the low one
    EXPECT_EQ(rig.cpu.pc(), 0x4B);
    for (int i = 0; i < 4; ++i) rig.cpu.step();  // LJMP, INC, ANL, RETI
    EXPECT_EQ(rig.cpu.pc(), 0x100);
    EXPECT_EQ(rig.cpu.iram()[0x31], 1);

    rig.cpu.step();
    rig.cpu.step();  // INC 0x30; EXIF.4 cleared
    rig.cpu.set_int2(false);
    rig.cpu.set_int2(true);  // a new edge at the level in service waits
    EXPECT_EQ(rig.cpu.step(), 4u);  // RETI
    EXPECT_EQ(rig.cpu.pc(), 0x89);
    EXPECT_EQ(rig.cpu.step(), 3u);  // one more instruction first
    EXPECT_EQ(rig.cpu.pc(), 0x89);
    EXPECT_EQ(rig.cpu.step(), 4u);
    EXPECT_EQ(rig.cpu.pc(), 0x43);
}

TEST(Interrupts, WriteToIeLetsOneMoreInstructionRun) {
    Rig rig;
    // EIE=1; SETB EA; NOP; SJMP $ with INT2 already pending
    rig.bus.load({0x75, 0xE8, 0x01, 0xD2, 0xAF, 0x00, 0x80, 0xFE});
    rig.bus.load({0x80, 0xFE}, 0x43);
    rig.cpu.set_int2(true);
    rig.cpu.step();
    rig.cpu.step();
    rig.cpu.step();
    EXPECT_EQ(rig.cpu.pc(), 0x06);  // the NOP ran
    EXPECT_EQ(rig.cpu.step(), 4u);
    EXPECT_EQ(rig.cpu.pc(), 0x43);
    EXPECT_EQ(rig.cpu.iram()[0x08], 0x06);
}

TEST(Interrupts, AutovectorReplacesTheLowByteOfTheUsbJump) {
    struct { bool on; uint16_t target; } cases[] = {{true, 0x042C}, {false, 0x0400}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.on);
        Rig rig;
        rig.bus.load({0x75, 0xE8, 0x01, 0x75, 0xA8, 0x80, 0x80, 0xFE});
        rig.bus.load({0x02, 0x04, 0x00}, 0x43);
        rig.cpu.set_autovector(c.on, 0x2C);
        rig.run();
        rig.cpu.set_int2(true);
        rig.cpu.step();
        rig.cpu.step();
        EXPECT_EQ(rig.cpu.pc(), c.target);
    }
}

TEST(Interrupts, ExternalInt0AndInt1LevelThenEdge) {
    struct { const char *name; bool int1; uint8_t it, flag, enable, vector; } cases[] = {
        {"int0", false, 0x01, 0x02, 0x01, 0x03},
        {"int1", true, 0x04, 0x08, 0x04, 0x13},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        auto pin = [&](bool level) { c.int1 ? rig.cpu.set_int1(level) : rig.cpu.set_int0(level); };
        // Level-triggered after reset: the flag follows the pin.
        pin(false);
        EXPECT_EQ(rig.cpu.sfr(TCON) & c.flag, c.flag);
        pin(true);
        EXPECT_EQ(rig.cpu.sfr(TCON) & c.flag, 0);
        // LJMP 0x30; there TCON.ITn=1, IE=0x80|EXn, SJMP $; ISR: INC 0x30, RETI
        rig.bus.load({0x02, 0x00, 0x30});
        rig.bus.load({0x75, 0x88, c.it, 0x75, 0xA8, static_cast<uint8_t>(0x80 | c.enable), 0x80, 0xFE}, 0x30);
        rig.bus.load({0x05, 0x30, 0x32}, c.vector);
        rig.run();
        pin(false);
        EXPECT_EQ(rig.cpu.sfr(TCON) & c.flag, c.flag);
        rig.cpu.step();
        EXPECT_EQ(rig.cpu.pc(), c.vector);
        EXPECT_EQ(rig.cpu.sfr(TCON) & c.flag, 0);
        for (int i = 0; i < 4; ++i) rig.cpu.step();
        EXPECT_EQ(rig.cpu.iram()[0x30], 1);  // the low level held no new edge
    }
}

TEST(Interrupts, IdleWaitsForAnInterrupt) {
    Rig rig;
    // LJMP 0x30; there IE=0x82, CKCON=0x08, TMOD=2, SETB TR0, ORL PCON,#1,
    // MOV A,#0x55, SJMP $; ISR: RETI
    rig.bus.load({0x02, 0x00, 0x30});
    rig.bus.load({0x75, 0xA8, 0x82, 0x75, 0x8E, 0x08, 0x75, 0x89, 0x02, 0xD2, 0x8C, 0x43, 0x87,
                  0x01, 0x74, 0x55, 0x80, 0xFE}, 0x30);
    rig.bus.load({0x32}, 0x0B);
    rig.cpu.run_until(200);
    EXPECT_TRUE(rig.cpu.idle());
    EXPECT_EQ(rig.a(), 0);
    rig.run(2000);
    EXPECT_FALSE(rig.cpu.idle());
    EXPECT_EQ(rig.a(), 0x55);
    EXPECT_GT(rig.cpu.cycles(), 256u + 14u);
    EXPECT_EQ(rig.cpu.sfr(0x87) & 0x01, 0);
}

} // namespace
} // namespace bench::ezusb::test
