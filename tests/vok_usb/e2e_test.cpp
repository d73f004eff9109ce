// vokusb with vok_usb against a served bench with an AN2135SC board that starts
// bare and has been enumerated by the host, as a board plugged in before the run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/served_bench.h"

namespace {

using namespace testsupport;

class UsbOnBench : public ServedBench {
protected:
    std::string mkbit(const std::string &part, const std::vector<std::string> &extra = {}) {
        return testsupport::mkbit(dir, part, part + ".bit", extra).path;
    }
    Result vokusb(const std::string &file, const std::vector<std::string> &options = {}) {
        std::vector<std::string> args{file, "-driver", "vok_usb"};
        args.insert(args.end(), options.begin(), options.end());
        return ServedBench::vokusb(args);
    }
};

TEST_F(UsbOnBench, BootsOnceThenConfiguresEveryPartAloneAndBehindAProm) {
    serve({"--chain", "2s15", "--usb", "0:an2135sc-jtag"}, true);
    bool first = true;
    for (const char *part : {"2s15", "2s30", "2s50", "2s100", "2s150", "2s200"}) {
        std::string file = mkbit(part);
        for (const std::string &chain : {std::string(part), std::string("18v02,") + part}) {
            SCOPED_TRACE(chain);
            ASSERT_EQ(ctl("chain " + chain).status, 0);
            Result r = vokusb(file);
            EXPECT_EQ(r.status, 0) << r.out;
            EXPECT_EQ(has(r.out, "Setup EZ-USB with JTAG firnware V0.09\n-Boot-Wait."), first) << r.out;
            EXPECT_EQ(has(r.out, ".-Reconnect"), first) << r.out;
            EXPECT_TRUE(has(r.out, "EZ-USB No.0 : AN2135SC (FWR=TCK,D0=TDI,D1=TMS,PC1=TDO,PC3=TVCC)"))
                << r.out;
            EXPECT_TRUE(has(r.out, "Complete!")) << r.out;
            std::string state = ctl("status").out;
            EXPECT_TRUE(has(state, "configured yes")) << state;
            EXPECT_EQ(usb_field(state, "loads"), 1) << "downloaded again: " << state;
            first = false;
        }
    }
}

// Each board drives a chain of its own; the supply feeds them all.
TEST_F(UsbOnBench, TwoBoardsEachConfigureTheirOwnChain) {
    serve({"--chain", "2s15", "--usb", "0:an2135sc-jtag:2s50", "--usb", "1:an2135sc-jtag:18v02,2s100"}, true);
    auto configured = [&](int board) {
        auto usb = status_json().at("usb");
        std::vector<bool> fpgas;
        for (auto &d : usb.at(board).at("chain").at("devices"))
            if (d.contains("configured")) fpgas.push_back(d.at("configured"));
        return fpgas;
    };
    Result r = vokusb(mkbit("2s100"), {"-port", "1"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(configured(1), std::vector<bool>{true});
    EXPECT_EQ(configured(0), std::vector<bool>{false});
    r = vokusb(mkbit("2s50"), {"-port", "0"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(configured(0), std::vector<bool>{true});
    std::string state = ctl("status").out;
    EXPECT_TRUE(has(state, "configured no")) << "the bench's own 2s15 was touched: " << state;

    ASSERT_EQ(ctl("power off").status, 0);
    auto usb = status_json().at("usb");
    for (auto &b : usb) EXPECT_EQ(b.at("chain").at("power"), false) << b;
    r = vokusb(mkbit("2s100"), {"-port", "1"});
    EXPECT_EQ(r.status, 16) << r.out;
}

TEST_F(UsbOnBench, SlaveSerial) {
    serve({"--chain", "2s50", "--usb", "0:an2135sc-ss"}, true);
    struct Case {
        const char *what;
        std::vector<std::string> mkbit;
        int status;
        const char *message;
        const char *configured;
    } cases[] = {
        {"DONE goes high", {"--startup", "cclk"}, 0, "Complete!", "configured yes"},
        {"a corrupted bitstream leaves DONE low", {"--startup", "cclk", "--corrupt", "40"}, 1,
         "Error ! ", "configured no"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Result r = vokusb(mkbit("2s50", c.mkbit), {"-mode", "sserial"});
        EXPECT_EQ(r.status, c.status) << r.out;
        EXPECT_TRUE(has(r.out, c.message)) << r.out;
        EXPECT_TRUE(has(r.out, "EZ-USB No.0 : AN2135SC (FWR=CCLK,D0=DIN,PC0=PROGRAM,PC1=DONE,PC3=TVCC)"))
            << r.out;
        EXPECT_TRUE(has(ctl("status").out, c.configured));
    }
}

TEST_F(UsbOnBench, NoBoardZero) {
    struct Case {
        const char *what;
        std::vector<std::string> bench;
    } cases[] = {
        {"no board", {"--chain", "2s15"}},
        {"board 1 only", {"--chain", "2s15", "--usb", "1:an2135sc-jtag"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        serve(c.bench, c.bench.size() > 2);
        Result r = vokusb(mkbit("2s15"));
        EXPECT_EQ(r.status, 64) << r.out;
        EXPECT_TRUE(has(r.out, "Setup EZ-USB with JTAG firnware V0.09\nCan't found EZ-USB\n")) << r.out;
        EXPECT_TRUE(has(r.out, "Can't found EZ-USB\nno bench board 0\n")) << "the reason follows: " << r.out;
        bench.reset();
    }
}

TEST_F(UsbOnBench, SupplyOff) {
    serve({"--chain", "2s15", "--power", "off", "--usb", "0:an2135sc-jtag"}, true);
    Result r = vokusb(mkbit("2s15"));
    EXPECT_EQ(r.status, 16) << r.out;
}

TEST_F(UsbOnBench, BoardUnpluggedDuringConfiguration) {
    serve({"--chain", "2s200", "--usb", "0:an2135sc-jtag"}, true);
    const Unplugged cut = unplug_mid_run({mkbit("2s200"), "-driver", "vok_usb"});
    ASSERT_TRUE(cut.run);
    EXPECT_LT(cut.run->status(), 128) << "ended by a signal: " << cut.run->output();
    EXPECT_TRUE(has(cut.run->output(), "error ! USB")) << cut.run->output();
}

} // namespace
