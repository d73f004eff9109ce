// vokusb with vok_qrt against a served bench's USB-QRT board, from a bare board.
#include <gtest/gtest.h>

#include <string>

#include "support/served_bench.h"

namespace {

using namespace testsupport;

class QrtOnBench : public ServedBench {
protected:
    std::string mkbit(const std::string &part) { return testsupport::mkbit(dir, part, part + ".bit").path; }
    Result configure(const std::string &file) { return vokusb({file, "-driver", "vok_qrt"}); }
};

TEST_F(QrtOnBench, EveryPartBehindAPromFromABareBoardWithOneDownload) {
    serve({"--chain", "2s15", "--usb", "0:qrt"}, true);
    for (const char *part : {"2s15", "2s30", "2s50", "2s100", "2s150", "2s200"}) {
        SCOPED_TRACE(part);
        ASSERT_EQ(ctl(std::string("chain 18v04,") + part).status, 0);
        Result r = configure(mkbit(part));
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_TRUE(has(r.out, "Complete!")) << r.out;
        EXPECT_TRUE(has(r.out, "EZ-USB No.0 : USB-QRT(AN2131SC)")) << r.out;
        std::string state = ctl("status").out;
        EXPECT_TRUE(has(state, "configured yes")) << state;
        EXPECT_EQ(usb_field(state, "loads"), 1) << "the firmware is loaded once: " << state;
    }
}

TEST_F(QrtOnBench, MissingBoardThenSupplyOff) {
    serve({"--chain", "2s15"});
    std::string file = mkbit("2s15");
    Result r = configure(file);
    EXPECT_EQ(r.status, 64) << r.out;
    EXPECT_TRUE(has(r.out, "Can't found EZ-USB\n")) << r.out;

    ASSERT_EQ(ctl("usb 0:qrt").status, 0);
    ASSERT_EQ(ctl("power off").status, 0);
    ASSERT_TRUE(usb_board_enumerated());
    r = configure(file);
    EXPECT_EQ(r.status, 16) << r.out;
    EXPECT_TRUE(has(r.out, "Target power down")) << r.out;
    EXPECT_FALSE(has(r.out, "Complete!")) << r.out;
}

// A board that leaves mid-run ends the run soon, with a reason; a board that
// stops answering would wait out one timeout at most.
TEST_F(QrtOnBench, BoardUnpluggedMidRunEndsItWithAReason) {
    serve({"--chain", "2s200", "--usb", "0:qrt"}, true);
    const Unplugged cut = unplug_mid_run({mkbit("2s200"), "-driver", "vok_qrt"});
    ASSERT_TRUE(cut.run);
    EXPECT_LT(cut.seconds, 15.0);
    EXPECT_LT(cut.run->status(), 128) << cut.run->output();
    EXPECT_TRUE(has(cut.run->output(), "EZ-USB board 0 stopped answering (no device")) << cut.run->output();
}

} // namespace
