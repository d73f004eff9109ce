// vokusb with vok_usb2 against a served bench with an SPI board that starts bare
// and has been enumerated by the host, as a board plugged in before the run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/served_bench.h"

namespace {

using namespace testsupport;

class SpiOnBench : public ServedBench {
protected:
    std::string mkbit(const std::string &part) { return testsupport::mkbit(dir, part, part + ".bit").path; }
    Result vokusb(const std::string &file) { return ServedBench::vokusb({file, "-driver", "vok_usb2"}); }
};

TEST_F(SpiOnBench, BootsOnceThenConfiguresEveryPartAloneAndBesideAProm) {
    serve({"--chain", "2s15", "--usb", "0:spi"}, true);
    bool first = true;
    for (const char *part : {"2s15", "2s30", "2s50", "2s100", "2s150", "2s200"}) {
        std::string file = mkbit(part);
        for (const std::string &chain :
             {std::string(part), std::string("18v02,") + part, std::string(part) + ",18v02"}) {
            SCOPED_TRACE(chain);
            ASSERT_EQ(ctl("chain " + chain).status, 0);
            Result r = vokusb(file);
            EXPECT_EQ(r.status, 0) << r.out;
            EXPECT_EQ(has(r.out, "Setup EZ-USB Firmware\n-Boot-Wait."), first) << r.out;
            EXPECT_TRUE(has(r.out, "EZ-USB No.0 : SPI(PC1=TCK,PA5=TDI,PC2=TMS,PC0=TDO,PC3=TVCC)")) << r.out;
            EXPECT_TRUE(has(r.out, "Complete!")) << r.out;
            std::string state = ctl("status").out;
            EXPECT_TRUE(has(state, "configured yes")) << state;
            EXPECT_EQ(usb_field(state, "loads"), 1) << "downloaded again: " << state;
            first = false;
        }
    }
}

TEST_F(SpiOnBench, NoBoardAndSupplyOff) {
    struct Case {
        const char *what;
        std::vector<std::string> bench;
        bool board;
        int status;
        const char *message;
    } cases[] = {
        {"no board", {"--chain", "2s15"}, false, 64, "Setup EZ-USB Firmware\n\nCan't found EZ-USB\n"},
        {"supply off", {"--chain", "2s15", "--power", "off", "--usb", "0:spi"}, true, 16, "-Reconnect\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        serve(c.bench, c.board);
        Result r = vokusb(mkbit("2s15"));
        EXPECT_EQ(r.status, c.status) << r.out;
        EXPECT_TRUE(has(r.out, c.message)) << r.out;
        bench.reset();
    }
}

} // namespace
