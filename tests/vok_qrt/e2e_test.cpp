// vokusb with vok_qrt against a served bench's USB-QRT board, from a bare board.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/process.h"
#include "usb.h"

namespace {

using namespace testsupport;

std::string bin(const std::string &name) { return std::string(VOK_BIN_DIR) + "/" + name; }

bool has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

// The number after "key " on the bench's line for USB board 0.
long usb_field(const std::string &state, const std::string &key) {
    size_t line = state.find("usb 0:");
    if (line == std::string::npos) return -1;
    size_t at = state.find(key + " ", line);
    if (at == std::string::npos) return -1;
    return std::stol(state.substr(at + key.size() + 1));
}

class QrtOnBench : public ::testing::Test {
protected:
    TempDir dir{"vokqrt"};
    std::string socket = dir / "bench.sock";
    std::unique_ptr<Background> bench;

    // A bench served with these options, for the whole test.
    void serve(const std::vector<std::string> &options) {
        std::vector<std::string> argv{bin("vokbench"), "serve", "--socket", socket};
        argv.insert(argv.end(), options.begin(), options.end());
        bench = std::make_unique<Background>(argv, dir.path(), dir / "bench.log");
        ASSERT_TRUE(wait_until([&] { return ctl("status").status == 0; }, 10)) << bench->output();
        ::setenv("VOKBENCH", socket.c_str(), 1);
    }
    // A board plugged in is enumerated once the host lets simulated time pass.
    static bool board_enumerated() {
        return wait_until(
            [] {
                vokhw::usb_wait_ms(50);
                return !vokhw::usb_list_boards().empty();
            },
            10);
    }
    void TearDown() override { ::unsetenv("VOKBENCH"); }

    Result ctl(const std::string &request) {
        std::vector<std::string> argv{bin("vokbench"), "ctl", "--socket", socket};
        for (size_t at = 0, end; at < request.size(); at = end + 1) {
            end = std::min(request.find(' ', at), request.size());
            argv.push_back(request.substr(at, end - at));
        }
        return run(argv, dir.path());
    }
    std::string mkbit(const std::string &part) {
        std::string file = dir / (part + ".bit");
        Result r = run({bin("vokbench"), "mkbit", "--part", part, "-o", file}, dir.path());
        EXPECT_EQ(r.status, 0) << r.out;
        return file;
    }
    Result configure(const std::string &file) {
        return run({bin("vokusb"), file, "-driver", "vok_qrt"}, dir.path(), 120, {{"VOKBENCH", socket}});
    }
};

TEST_F(QrtOnBench, EveryPartBehindAPromFromABareBoardWithOneDownload) {
    serve({"--chain", "2s15", "--usb", "0:qrt"});
    ASSERT_TRUE(board_enumerated());
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
    ASSERT_TRUE(board_enumerated());
    r = configure(file);
    EXPECT_EQ(r.status, 16) << r.out;
    EXPECT_TRUE(has(r.out, "Target power down")) << r.out;
    EXPECT_FALSE(has(r.out, "Complete!")) << r.out;
}

// A board that leaves mid-run ends the run soon, with a reason; a board that
// stops answering would wait out one timeout at most.
TEST_F(QrtOnBench, BoardUnpluggedMidRunEndsItWithAReason) {
    serve({"--chain", "2s200", "--usb", "0:qrt"});
    ASSERT_TRUE(board_enumerated());
    std::string file = mkbit("2s200");
    ASSERT_EQ(configure(file).status, 0); // the firmware is loaded before the run that matters
    for (int attempt = 0; attempt < 5; ++attempt) {
        SCOPED_TRACE(attempt);
        Background run({bin("vokusb"), file, "-driver", "vok_qrt"}, dir.path(), dir / "vokusb.log",
                       {{"VOKBENCH", socket}});
        ASSERT_TRUE(wait_until([&] { return has(run.output(), "Configration bit"); }, 60)) << run.output();
        ASSERT_EQ(ctl("usb 0 unplug").status, 0);
        auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(run.wait(60)) << "vokusb hangs: " << run.output();
        if (run.status() != 0) {
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
            EXPECT_LT(run.status(), 128) << run.output();
            EXPECT_TRUE(has(run.output(), "EZ-USB board 0 stopped answering (no device")) << run.output();
            return;
        }
        ASSERT_EQ(ctl("usb 0 plug").status, 0);
        ASSERT_TRUE(board_enumerated());
    }
    FAIL() << "the unplug never fell into a configuration";
}

} // namespace
