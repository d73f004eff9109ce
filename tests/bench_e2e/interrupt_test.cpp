// A run stopped by a signal half way through the data, then the next run at
// once, on every cable: the next run configures the XC2S200, and says nothing
// against the file. The run is frozen (SIGSTOP) once its progress line passes
// half of the data, so the signal lands in the data phase on any machine.
#include <gtest/gtest.h>

#include <csignal>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "support/served_bench.h"

namespace {

using namespace testsupport;
using namespace std::chrono_literals;

const std::string kRecovered = "The FPGA was still inside an interrupted load";
const std::string kComplete = "Complete!";
const std::string kBlame = "CRC error";

const std::string kPowerCycle = "switch the target supply off and on, and load again";

struct Case {
    const char *label;
    const char *bench; // --port or --usb
    const char *cable;
    const char *driver;
    bool slave_serial;
    int signal;
    int next_status;
    const std::string &next_says;
    const std::string &next_lacks; // a clean stop leaves nothing to recover
};

// Names the row in test listings.
void PrintTo(const Case &c, std::ostream *os) { *os << c.label; }

// One row per cable and way of stopping; each row is a test of its own, as the
// emulated boards are slow under the sanitizers.
const Case cases[] = {
    {"XparJtagSigint", "--port", "0x378:xilinx", "vok_xpar", false, SIGINT, 0, kComplete, kRecovered},
    {"XparJtagSigkill", "--port", "0x378:xilinx", "vok_xpar", false, SIGKILL, 0, kRecovered, kBlame},
    {"XparSerialSigkill", "--port", "0x378:xilinx-ss", "vok_xpar", true, SIGKILL, 0, kComplete, kBlame},
    {"AparJtagSigterm", "--port", "0x378:altera", "vok_apar", false, SIGTERM, 0, kComplete, kRecovered},
    {"AparSerialSigint", "--port", "0x378:altera-ss", "vok_apar", true, SIGINT, 0, kComplete, kBlame},
    {"AparSerialSigkill", "--port", "0x378:altera-ss", "vok_apar", true, SIGKILL, 1, kPowerCycle, kComplete},
    {"UsbJtagSigint", "--usb", "0:an2135sc-jtag", "vok_usb", false, SIGINT, 0, kComplete, kRecovered},
    {"Usb2SpiSigkill", "--usb", "0:spi", "vok_usb2", false, SIGKILL, 0, kRecovered, kBlame},
    {"QrtSigterm", "--usb", "0:qrt", "vok_qrt", false, SIGTERM, 0, kComplete, kRecovered},
};

class Interrupted : public ServedBench {
protected:
    Result next_run(const std::vector<std::string> &args)
    {
        Result r = vokusb(args, 60);
        // The bench may hold the killed client's cable for a moment yet: "Error !
        // ,probe", status 64.
        for (int retry = 0; retry < 20 && r.status == 64; ++retry) {
            std::this_thread::sleep_for(100ms);
            r = vokusb(args, 60);
        }
        return r;
    }
};

class InterruptedLoad : public Interrupted, public ::testing::WithParamInterface<Case> {};

TEST_P(InterruptedLoad, NextRunConfigures)
{
    const Case &c = GetParam();
    serve({"--chain", "2s200", c.bench, c.cable});
    const Bitstream bit = mkbit(dir, "2s200", "d.bit", {"--startup", c.slave_serial ? "cclk" : "jtag"});
    std::vector<std::string> args = {"d.bit", "-driver", c.driver};
    if (c.slave_serial)
        args.insert(args.end(), {"-mode", "sserial"});

    auto first = start_vokusb(args, "first.log");
    ASSERT_NO_FATAL_FAILURE(freeze_half_way(*first));
    ASSERT_EQ(::kill(first->pid(), c.signal), 0);
    ::kill(first->pid(), SIGCONT);
    ASSERT_TRUE(first->wait(60)) << first->output();
    EXPECT_EQ(first->status(), 128 + c.signal) << first->output();

    const Result next = next_run(args);
    EXPECT_EQ(next.status, c.next_status) << next.out;
    EXPECT_NE(next.out.find(c.next_says), std::string::npos) << next.out;
    EXPECT_EQ(next.out.find(c.next_lacks), std::string::npos) << next.out;
    const DeviceState d = state().devices[0];
    EXPECT_EQ(d.configured, c.next_status == 0) << next.out;
    if (c.next_status == 0) {
        EXPECT_EQ(d.digest, bit.digest) << next.out;
    }
}

INSTANTIATE_TEST_SUITE_P(EveryCable, InterruptedLoad, ::testing::ValuesIn(cases),
                         [](const auto &info) { return std::string(info.param.label); });

// JTAG cannot clear a CRC error that an earlier load left; the good file
// loaded after it is not blamed for it.
TEST_F(Interrupted, CrcErrorLeftByAnEarlierLoadIsNotBlamedOnTheFile)
{
    serve({"--chain", "2s50", "--port", "0x378:xilinx"});
    mkbit(dir, "2s50", "bad.bit", {"--corrupt", "100"});
    mkbit(dir, "2s50", "good.bit");
    const Result bad = vokusb({"bad.bit", "-driver", "vok_xpar"}, 60);
    ASSERT_NE(bad.out.find("Configuration failed: CRC error in the bitstream"), std::string::npos) << bad.out;
    const Result good = vokusb({"good.bit", "-driver", "vok_xpar"}, 60);
    EXPECT_EQ(good.status, 32) << good.out;
    EXPECT_EQ(good.out.find("CRC error in the bitstream"), std::string::npos) << good.out;
    EXPECT_NE(good.out.find("the FPGA held a CRC error from an earlier load"), std::string::npos) << good.out;
}

} // namespace
