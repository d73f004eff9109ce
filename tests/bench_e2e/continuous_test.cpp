// A continuous run notices every way the FPGA can lose its design while the
// run pauses or waits, and configures the same file again; with nothing
// happening it leaves the FPGA alone. One parallel cable and one USB board.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/served_bench.h"

namespace {

using namespace testsupport;
using namespace std::chrono_literals;

size_t count_of(const std::string &text, const std::string &what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++n;
    return n;
}

class ContinuousWatch : public ServedBench {
protected:
    DeviceState device() { return state().devices[0]; }
};

TEST_F(ContinuousWatch, ConfiguresAgainAfterEveryLossAndOnlyThen)
{
    serve({"--chain", "2s100", "--port", "0x378:xilinx", "--usb", "0:an2135sc-jtag"});
    mkbit(dir, "2s100", "design.bit", {"--startup", "jtag"});
    const std::regex any_loss("Target Power Down|DONE is low: the FPGA lost its configuration");
    const struct {
        const char *what;
        const char *request; // none: nothing happens
        int off_ms;          // the supply comes back after this
        bool after_complete; // at once, else once the run waits
        const char *says;    // how the run names the loss
    } cases[] = {
        {"nothing happens", nullptr, 0, false, nullptr},
        {"PROGRAM pulse with the supply on", "program 0", 0, false, "DONE is low: the FPGA lost its configuration\n"},
        {"supply off 0.3 s right after Complete!", "power off", 300, true, "Target Power Down\n"},
        // Caught by a supply sample or, falling between two, by DONE.
        {"50 ms supply glitch during the wait", "power off", 50, false, "Target Power Down|DONE is low"},
    };
    for (const char *driver : {"vok_xpar", "vok_usb"}) {
        SCOPED_TRACE(driver);
        auto watch = start_vokusb({"design.bit", "-driver", driver, "-continue"}, std::string(driver) + ".log");
        Background &run = *watch;
        ASSERT_TRUE(wait_until([&] { return count_of(run.output(), "Complete!") == 1; }, 30)) << run.output();
        for (const auto &c : cases) {
            SCOPED_TRACE(c.what);
            const std::string out = run.output();
            const size_t completes = count_of(out, "Complete!");
            const int configurations = device().configurations;
            if (!c.after_complete) {
                ASSERT_TRUE(wait_until([&] { return count_of(run.output(), "Waiting for update") > completes; }, 5));
                std::this_thread::sleep_for(200ms); // past the first polls of the wait
            }
            if (c.request == nullptr) {
                std::this_thread::sleep_for(1000ms);
            } else {
                ASSERT_EQ(ctl(c.request).status, 0);
                std::this_thread::sleep_for(std::chrono::milliseconds(c.off_ms));
                if (c.off_ms > 0) {
                    ASSERT_EQ(ctl("power on").status, 0);
                }
                EXPECT_TRUE(wait_until([&] { return count_of(run.output(), "Complete!") > completes; }, 10));
            }
            const DeviceState d = device();
            EXPECT_TRUE(d.configured);
            EXPECT_EQ(d.configurations, configurations + (c.request != nullptr ? 1 : 0));
            const std::string since = run.output().substr(out.size());
            EXPECT_EQ(std::regex_search(since, c.says != nullptr ? std::regex(c.says) : any_loss), c.says != nullptr)
                << since;
        }
        EXPECT_TRUE(run.running()) << run.output();
    }
}

} // namespace
