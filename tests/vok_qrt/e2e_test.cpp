// vokusb with vok_qrt against the bench's USB-QRT board, from a bare board.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/files.h"
#include "support/process.h"

namespace {

using namespace testsupport;

std::string bin(const std::string &name) { return std::string(VOK_BIN_DIR) + "/" + name; }

bool has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

// The value after "key " on the bench's line for USB board 0, as a number.
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

    std::string mkbit(const std::string &part) {
        std::string file = dir / (part + ".bit");
        Result r = run({bin("vokbench"), "mkbit", "--part", part, "-o", file}, dir.path());
        EXPECT_EQ(r.status, 0) << r.out;
        return file;
    }
    Result configure(const std::vector<std::string> &bench, const std::string &file) {
        std::vector<std::string> argv{bin("vokbench"), "run"};
        argv.insert(argv.end(), bench.begin(), bench.end());
        for (const std::string &w : {std::string("--"), bin("vokusb"), file, std::string("-driver"),
                                     std::string("vok_qrt")})
            argv.push_back(w);
        return run(argv, dir.path(), 120);
    }
};

TEST_F(QrtOnBench, EveryPartConfiguresBehindAPromFromABareBoard) {
    for (const char *part : {"2s15", "2s30", "2s50", "2s100", "2s150", "2s200"}) {
        SCOPED_TRACE(part);
        Result r = configure({"--chain", std::string("18v04,") + part, "--usb", "0:qrt"}, mkbit(part));
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_TRUE(has(r.out, "Complete!")) << r.out;
        EXPECT_TRUE(has(r.out, "configured yes")) << r.out;
        EXPECT_EQ(usb_field(r.out, "loads"), 1) << r.out;
        EXPECT_TRUE(has(r.out, "EZ-USB No.0 : USB-QRT(AN2131SC)")) << r.out;
    }
}

TEST_F(QrtOnBench, SecondRunFindsTheFirmwareRunning) {
    std::string file = mkbit("2s15");
    std::string socket = dir / "bench.sock";
    Background bench({bin("vokbench"), "serve", "--socket", socket, "--chain", "2s15", "--usb", "0:qrt"},
                     dir.path(), dir / "bench.log");
    ASSERT_TRUE(wait_until(
        [&] { return run({bin("vokbench"), "ctl", "--socket", socket, "status"}, dir.path()).status == 0; }, 10))
        << bench.output();
    Env env{{"VOKBENCH", socket}};
    for (int pass = 0; pass < 2; ++pass) {
        Result r = run({bin("vokusb"), file, "-driver", "vok_qrt"}, dir.path(), 120, env);
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_TRUE(has(r.out, "Setup EZ-USB with velantoUSB GP firnware V1.10 for USB-QRT Ver0.00")) << r.out;
        Result state = run({bin("vokbench"), "ctl", "--socket", socket, "status"}, dir.path());
        EXPECT_EQ(usb_field(state.out, "loads"), 1) << "pass " << pass << ": " << state.out;
    }
}

TEST_F(QrtOnBench, MissingBoardAndSupplyOff) {
    struct Case {
        const char *label;
        std::vector<std::string> bench;
        int status;
        const char *message;
    };
    const Case cases[] = {
        {"no board", {"--chain", "2s15"}, 64, "Can't found EZ-USB\n"},
        {"supply off", {"--chain", "2s15", "--power", "off", "--usb", "0:qrt"}, 16, "Target power down"},
    };
    std::string file = mkbit("2s15");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        Result r = configure(c.bench, file);
        EXPECT_EQ(r.status, c.status) << r.out;
        EXPECT_TRUE(has(r.out, c.message)) << r.out;
        EXPECT_FALSE(has(r.out, "Complete!")) << r.out;
    }
}

} // namespace
