#include "jtag_driver.h"
#include "spartan2.h"
#include "tap.h"
#include "target.h"

#include <gtest/gtest.h>

#include <set>

using namespace bench;
using testjtag::bits_of;
using testjtag::Driver;
using testjtag::value_of;

TEST(TapController, EveryStateReachableAndFiveOnesReset) {
    std::set<TapState> seen;
    // Walk every path of length up to 6 from each state: all 16 are reached,
    // and five TMS-high clocks end in Test-Logic-Reset from any of them.
    for (int s = 0; s < 16; s++) {
        for (int path = 0; path < 64; path++) {
            TapState st = TapState(s);
            for (int i = 0; i < 6; i++) {
                st = tap_next(st, (path >> i) & 1);
                seen.insert(st);
            }
        }
        TapState st = TapState(s);
        for (int i = 0; i < 5; i++)
            st = tap_next(st, true);
        EXPECT_EQ(st, TapState::TestLogicReset) << tap_state_name(TapState(s));
    }
    EXPECT_EQ(seen.size(), 16u);
    // The standard scan path.
    TapState st = TapState::RunTestIdle;
    const bool tms[] = {1, 1, 0, 0, 1, 1, 0};
    const TapState want[] = {TapState::SelectDR, TapState::SelectIR, TapState::CaptureIR, TapState::ShiftIR,
                             TapState::Exit1IR,  TapState::UpdateIR, TapState::RunTestIdle};
    for (int i = 0; i < 7; i++) {
        st = tap_next(st, tms[i]);
        EXPECT_EQ(st, want[i]) << i;
    }
}

TEST(TapController, TdoChangesOnFallingEdgeOnly) {
    Target t(parse_chain("2s15"));
    Driver d(t);
    d.reset();
    // To Shift-DR with IDCODE selected by the reset.
    d.clock(true);
    d.clock(false);
    d.clock(false);
    // Now in Shift-DR; TDO still shows what it drove before (not shifting: high).
    t.set_jtag(false, false, false);
    EXPECT_TRUE(t.tdo()); // IDCODE bit 0 is 1
    t.set_jtag(true, false, false); // shifts: bit 1 moves to the output stage
    t.set_jtag(false, false, false);
    EXPECT_TRUE(t.tdo()); // 0x...093 bit 1 = 1
    t.set_jtag(true, false, false);
    EXPECT_TRUE(t.tdo()); // still bit 1: bit 2 (0) shows only after the falling edge
    t.set_jtag(false, false, false);
    EXPECT_FALSE(t.tdo()); // bit 2 = 0
    // Same levels again are no edge: nothing shifts.
    t.set_jtag(false, false, false);
    t.set_jtag(false, true, true);
    EXPECT_EQ(t.device(0)->state(), TapState::ShiftDR);
}

TEST(ChainModel, ResetLoadsIdcodeInEveryDevice) {
    Target t(parse_chain("18v02,2s100:v1,dev:0x12345093:6,2s15"));
    Driver d(t);
    d.reset();
    auto out = d.scan(false, std::vector<bool>(4 * 32, false));
    EXPECT_EQ(value_of(out, 0, 32), 0x05025093u);
    EXPECT_EQ(value_of(out, 32, 32), 0x10614093u);
    EXPECT_EQ(value_of(out, 64, 32), 0x12345093u);
    EXPECT_EQ(value_of(out, 96, 32), 0x00608093u);
}

TEST(ChainModel, InstructionCapturesAndBypassCount) {
    Target t(parse_chain("18v02,2s100,dev:0x0ABCD093:6"));
    Driver d(t);
    d.reset();
    t.elapse_ns(1000000); // memory clear over
    // IR capture: PROM 0x01, Spartan-II XXX01 with PROGRAM and INIT high, DONE low, generic 01.
    auto cap = d.load_ir({0xFF, Spartan2::BYPASS, 0x3F});
    EXPECT_EQ(value_of(cap, 0, 8), 0x01u);
    EXPECT_EQ(value_of(cap, 8, 5), 0x19u);
    EXPECT_EQ(value_of(cap, 13, 6) & 3, 1u);
    // All in BYPASS: each device delays by one bit and captures 0.
    std::vector<bool> ones(10, true);
    auto out = d.scan(false, ones);
    EXPECT_EQ(value_of(out, 0, 10), 0x3F8u); // three zeros, then the ones come through
    // PROM IDCODE 0xFE; generic IDCODE is all ones minus one.
    d.load_ir({0xFE, Spartan2::IDCODE, 0x3E});
    out = d.scan(false, std::vector<bool>(96, false));
    EXPECT_EQ(value_of(out, 0, 32), 0x05025093u);
    EXPECT_EQ(value_of(out, 32, 32), 0x00614093u);
    EXPECT_EQ(value_of(out, 64, 32), 0x0ABCD093u);
}

TEST(ChainModel, GenericDeviceWithoutIdcodeResetsToBypass) {
    Target t(parse_chain("dev:0x00000000:4,2s15"));
    Driver d(t);
    d.reset();
    auto out = d.scan(false, std::vector<bool>(33, false));
    EXPECT_FALSE(out[0]); // BYPASS captured 0
    EXPECT_EQ(value_of(out, 1, 32), 0x00608093u);
}

TEST(ChainModel, PowerOffFloatsAndPowerOnResets) {
    Target t(parse_chain("2s50"));
    Driver d(t);
    d.reset();
    d.instruction(0, Spartan2::BYPASS);
    t.set_power(false);
    EXPECT_FALSE(t.powered());
    EXPECT_TRUE(t.tdo());
    auto out = d.scan(false, std::vector<bool>(8, false));
    for (bool b : out)
        EXPECT_TRUE(b); // nothing drives TDO
    t.set_power(true);
    EXPECT_EQ(t.device(0)->state(), TapState::TestLogicReset);
    EXPECT_EQ(t.device(0)->instruction(), uint32_t(Spartan2::IDCODE));
    d.reset();
    out = d.scan(false, std::vector<bool>(32, false));
    EXPECT_EQ(value_of(out, 0, 32), 0x00610093u);
}

TEST(ChainModel, UserRegistersCaptureAndUpdate) {
    Target t(parse_chain("18v01,2s30"));
    Spartan2 *f = t.spartan(1);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(t.spartan(0), nullptr);
    f->set_user_capture(0, 0xCAFEF00D);
    f->set_user_capture(1, 0x12345678);
    Driver d(t);
    d.reset();
    d.instruction(1, Spartan2::USER1);
    // The PROM in BYPASS sits between the Spartan-II and TDO: one extra bit.
    auto out = d.scan(false, bits_of(uint64_t(0xA5A5A5A5) << 1, 33));
    EXPECT_EQ(value_of(out, 1, 32), 0xCAFEF00Du);
    EXPECT_EQ(f->user_value(0), 0xA5A5A5A5u);
    EXPECT_EQ(f->user_updates(0), 1u);
    d.instruction(1, Spartan2::USER2);
    out = d.scan(false, bits_of(uint64_t(0x0F0F0F0F) << 1, 33));
    EXPECT_EQ(value_of(out, 1, 32), 0x12345678u);
    EXPECT_EQ(f->user_value(1), 0x0F0F0F0Fu);
    EXPECT_EQ(f->user_updates(1), 1u);
    EXPECT_EQ(f->user_updates(0), 1u); // USER1 untouched by the USER2 scan
}

TEST(ChainWords, ParsesEveryDevice) {
    auto c = parse_chain("2s15, 2s30,2s50,2s100,2s150,2S200:v3,18v256,18v512,18v01,18v02,18v04,dev:1234A093:7");
    ASSERT_EQ(c.size(), 12u);
    EXPECT_EQ(c[0].kind, DeviceSpec::Kind::Spartan2);
    EXPECT_EQ(c[0].idcode, 0x00608093u);
    EXPECT_EQ(c[5].part, "2s200");
    EXPECT_EQ(c[5].idcode, 0x3061C093u);
    EXPECT_EQ(c[5].ir_len, 5);
    EXPECT_EQ(c[6].kind, DeviceSpec::Kind::Prom);
    EXPECT_EQ(c[6].idcode, 0x05022093u);
    EXPECT_EQ(c[10].idcode, 0x05026093u);
    EXPECT_EQ(c[10].ir_len, 8);
    EXPECT_EQ(c[11].kind, DeviceSpec::Kind::Generic);
    EXPECT_EQ(c[11].idcode, 0x1234A093u);
    EXPECT_EQ(c[11].ir_len, 7);
    EXPECT_TRUE(parse_chain("").empty());
    for (const char *bad : {"2s300", "2s100:v16", "2s100:x1", "18v02:v1", "dev:xyz:5", "dev:0x93:1",
                            "dev:0x93:33", "dev:0x93", "2s15,,2s30", "2s15,"})
        EXPECT_THROW(parse_chain(bad), std::invalid_argument) << bad;
    std::string many = "2s15";
    for (int i = 0; i < 16; i++)
        many += ",2s15";
    EXPECT_THROW(parse_chain(many), std::invalid_argument);
}
