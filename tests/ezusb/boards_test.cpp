// Each board's wiring, driven through the chip's registers as its firmware drives
// it: the IDCODE of a Spartan-II read over the board's JTAG lines, and the
// supply sense.
#include <gtest/gtest.h>

#include "an2131.h"
#include "boards.h"

using namespace bench;
using namespace bench::ezusb;

namespace {

struct Pin {
    int port, bit;
};

struct BoardCase {
    const char *kind;
    bool fast; // JTAG on the data bus with FWR# strobes, else on port pins
    Pin tck, tdi, tms, tdo;
    int supply_bit; // on port C; -1: no supply sense
};

const BoardCase boards[] = {
    {"an2135sc-jtag", true, {}, {}, {}, {2, 1}, 3},
    {"spi", false, {2, 1}, {0, 5}, {2, 2}, {2, 0}, 3},
    {"qrt", false, {2, 5}, {2, 1}, {2, 4}, {2, 0}, 2},
    {"ulink", false, {1, 2}, {1, 0}, {1, 1}, {0, 5}, -1},
};

class Driver {
public:
    Driver(const BoardCase &c, Target &t) : c_(c), wiring_(make_wiring(c.kind, t)) {
        chip_.attach_wiring(wiring_.get());
        if (c.fast) {
            chip_.xwrite(reg::PORTACFG, PORTACFG_FWR);
            chip_.xwrite(reg::FASTXFR, FASTXFR_FBLK);
        } else {
            for (Pin p : {c.tck, c.tdi, c.tms}) chip_.xwrite(uint16_t(reg::OEA + p.port), uint8_t(chip_.xread(uint16_t(reg::OEA + p.port)) | 1 << p.bit));
        }
    }
    bool pin(Pin p) { return (chip_.xread(uint16_t(reg::PINSA + p.port)) >> p.bit) & 1; }
    bool pin_c(int bit) { return pin({2, bit}); }
    // One TCK period; TDO as seen after its falling edge.
    bool step(bool tms, bool tdi) {
        if (c_.fast) {
            chip_.xwrite(0x1000, uint8_t(tms << 1 | tdi));
            chip_.xwrite(reg::AUTOPTRH, 0x10);
            chip_.xwrite(reg::AUTOPTRL, 0x00);
            chip_.xread(reg::AUTODATA);
            return pin(c_.tdo);
        }
        set(c_.tdi, tdi);
        set(c_.tms, tms);
        set(c_.tck, false);
        bool tdo = pin(c_.tdo);
        set(c_.tck, true);
        return tdo;
    }

private:
    void set(Pin p, bool v) {
        uint16_t a = uint16_t(reg::OUTA + p.port);
        uint8_t cur = chip_.xread(a);
        chip_.xwrite(a, v ? uint8_t(cur | 1 << p.bit) : uint8_t(cur & ~(1 << p.bit)));
    }
    const BoardCase &c_;
    An2131 chip_;
    std::unique_ptr<BoardWiring> wiring_;
};

TEST(Boards, EachWiringReadsTheIdcodeAndSensesTheSupply) {
    for (const BoardCase &c : boards) {
        Target target(parse_chain("2s15"), true);
        Driver d(c, target);
        if (c.supply_bit >= 0) {
            EXPECT_TRUE(d.pin_c(c.supply_bit)) << c.kind;
        }
        for (bool tms : {1, 1, 1, 1, 1, 0, 1, 0, 0}) d.step(tms, false); // to Shift-DR
        uint32_t id = 0;
        for (int i = 0; i < 32; ++i) id |= uint32_t(d.step(i == 31, false)) << i;
        EXPECT_EQ(id, target.chain()[0].idcode) << c.kind;
        target.set_power(false);
        if (c.supply_bit >= 0) {
            EXPECT_FALSE(d.pin_c(c.supply_bit)) << c.kind;
        }
    }
}

TEST(Boards, SlaveSerialWiringDrivesProgramFromPc0) {
    Target target(parse_chain("2s15"), true);
    An2131 chip;
    auto wiring = make_wiring("an2135sc-ss", target);
    chip.attach_wiring(wiring.get());
    chip.xwrite(reg::OEC, 0x01);
    chip.xwrite(reg::OUTC, 0x00); // PROGRAM low clears the FPGA: INIT goes low
    EXPECT_FALSE(target.init_pin());
    chip.xwrite(reg::OUTC, 0x01);
    target.elapse_ns(10'000'000);
    EXPECT_TRUE(target.init_pin());
    EXPECT_FALSE((chip.xread(reg::PINSC) >> 1) & 1); // DONE low: not configured
}

} // namespace
