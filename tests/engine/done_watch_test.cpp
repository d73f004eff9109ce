// DONE of the configured target as continuous mode reads it between passes:
// from the target's instruction capture while every device gets BYPASS.
#include <gtest/gtest.h>

#include <vector>

#include "bscan.h"
#include "fake_chain.h"
#include "vokisp_jtag.h"

namespace {

constexpr uint32_t XC2S100 = 0x00614093;
constexpr uint32_t XC18V02 = 0x05025093;
constexpr uint32_t CAPTURE_DONE_HIGH = 0x1D; // PROGRAM, INIT, DONE, then 01
constexpr uint32_t CAPTURE_DONE_LOW = 0x19;

TEST(DoneWatch, ReadsTheTargetsCaptureWhereverItSitsAndLeavesBypassLoaded)
{
    const struct {
        const char *what;
        bool prom_before; // a PROM between the target and TDO
        bool prom_after;  // a PROM between the target and TDI
        uint32_t capture;
        fake::Tap start;  // where the TAP is when the read begins
        fake::Stuck tdo;
        int32_t done;
    } cases[] = {
        {"alone, DONE high", false, false, CAPTURE_DONE_HIGH, fake::Tap::Idle, fake::Stuck::None, 1},
        {"alone, DONE low", false, false, CAPTURE_DONE_LOW, fake::Tap::Idle, fake::Stuck::None, 0},
        {"behind a PROM, DONE high", true, false, CAPTURE_DONE_HIGH, fake::Tap::Idle, fake::Stuck::None, 1},
        {"before a PROM, DONE high", false, true, CAPTURE_DONE_HIGH, fake::Tap::Idle, fake::Stuck::None, 1},
        {"between PROMs, DONE high", true, true, CAPTURE_DONE_HIGH, fake::Tap::Idle, fake::Stuck::None, 1},
        {"TAP reset by a supply dip", true, false, CAPTURE_DONE_LOW, fake::Tap::Reset, fake::Stuck::None, 0},
        {"TDO floating high", false, false, CAPTURE_DONE_HIGH, fake::Tap::Idle, fake::Stuck::High, -1},
        {"TDO stuck low", false, false, CAPTURE_DONE_HIGH, fake::Tap::Idle, fake::Stuck::Low, -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        fake::reset_engine_state();
        std::vector<fake::Device> devices;
        if (c.prom_before)
            devices.push_back(fake::prom(XC18V02));
        const int target = static_cast<int>(devices.size());
        devices.push_back(fake::spartan2(XC2S100));
        devices.back().ir_capture = c.capture;
        if (c.prom_after)
            devices.push_back(fake::prom(XC18V02));
        fake::Chain cable(devices);
        cable.state = c.start;
        cable.stuck = c.tdo;
        chain.bscan_num_chain = static_cast<int32_t>(devices.size());
        for (size_t i = 0; i < devices.size(); ++i)
            chain.dev_chain[i] = chain_entry{"dev", devices[i].idcode, devices[i].ir_len};
        bscan_select(target);

        EXPECT_EQ(jtag_done(), c.done);
        EXPECT_EQ(cable.state, fake::Tap::Idle);
        if (c.tdo == fake::Stuck::None) {
            for (const fake::Device &d : cable.devices)
                EXPECT_EQ(d.ir, d.bypass);
        }
    }
}

} // namespace
