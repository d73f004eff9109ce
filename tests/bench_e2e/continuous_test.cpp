// A continuous run notices every way the FPGA can lose its design while the
// run pauses or waits, and configures the same file again; with nothing
// happening it leaves the FPGA alone. One parallel cable and one USB board.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "bench_util.h"

namespace {

using namespace e2e;
using namespace testsupport;
using namespace std::chrono_literals;

size_t count_of(const std::string &text, const std::string &what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++n;
    return n;
}

class ContinuousWatch : public BenchServedInBackground {
protected:
    DeviceState device() { return parse_state(ctl(socket, "status").out).devices[0]; }
};

TEST_F(ContinuousWatch, ConfiguresAgainAfterEveryLossAndOnlyThen)
{
    serve({"--chain", "2s100", "--port", "0x378:xilinx", "--usb", "0:an2135sc-jtag"});
    mkbit(dir, "2s100", "design.bit", {"--startup", "jtag"});

    const std::string power_down = "Target Power Down\n";
    const std::string done_low = "DONE is low: the FPGA lost its configuration\n";
    enum class Loss { none, program_pulse, supply_off_after_complete, glitch_during_wait };
    const struct {
        const char *what;
        Loss loss;
        std::vector<std::string> says; // the run names the loss with one of these
    } cases[] = {
        {"nothing happens", Loss::none, {}},
        {"PROGRAM pulse with the supply on", Loss::program_pulse, {done_low}},
        {"supply off 0.3 s right after Complete!", Loss::supply_off_after_complete, {power_down}},
        // Caught by the supply sample or, when it falls between two, by DONE.
        {"50 ms supply glitch during the wait", Loss::glitch_during_wait, {power_down, done_low}},
    };

    for (const char *driver : {"vok_xpar", "vok_usb"}) {
        SCOPED_TRACE(driver);
        const int before = device().configurations;
        Background run({bin("vokusb"), "design.bit", "-driver", driver, "-continue"}, dir.path(),
                       dir / (std::string(driver) + ".log"), {{"VOKBENCH", socket}});
        ASSERT_TRUE(wait_until([&] { return count_of(run.output(), "Complete!") == 1; }, 30)) << run.output();

        for (const auto &c : cases) {
            SCOPED_TRACE(c.what);
            const std::string out = run.output();
            const size_t completes = count_of(out, "Complete!");
            const int configurations = device().configurations;
            if (c.loss != Loss::supply_off_after_complete) {
                // Into the wait, past the pause after the pass.
                ASSERT_TRUE(wait_until([&] { return count_of(run.output(), "Waiting for update") > completes; }, 5))
                    << run.output();
                std::this_thread::sleep_for(200ms);
            }
            switch (c.loss) {
            case Loss::none:
                std::this_thread::sleep_for(1000ms);
                break;
            case Loss::program_pulse:
                ASSERT_EQ(ctl(socket, "program 0").status, 0);
                break;
            case Loss::supply_off_after_complete:
            case Loss::glitch_during_wait:
                ASSERT_EQ(ctl(socket, "power off").status, 0);
                std::this_thread::sleep_for(c.loss == Loss::glitch_during_wait ? 50ms : 300ms);
                ASSERT_EQ(ctl(socket, "power on").status, 0);
                break;
            }
            const int expected = configurations + (c.loss == Loss::none ? 0 : 1);
            if (c.loss != Loss::none) {
                EXPECT_TRUE(wait_until([&] { return count_of(run.output(), "Complete!") > completes; }, 10))
                    << run.output();
            }
            const DeviceState d = device();
            EXPECT_TRUE(d.configured);
            EXPECT_EQ(d.configurations, expected) << run.output();
            const std::string since = run.output().substr(out.size());
            bool named = false;
            for (const std::string &line : {power_down, done_low}) {
                const bool expected_line = std::find(c.says.begin(), c.says.end(), line) != c.says.end();
                named |= since.find(line) != std::string::npos;
                if (!expected_line) {
                    EXPECT_EQ(since.find(line), std::string::npos) << since;
                }
            }
            EXPECT_EQ(named, !c.says.empty()) << since;
        }
        EXPECT_EQ(device().configurations, before + 4);
        EXPECT_TRUE(run.running()) << run.output();
    }
}

} // namespace
