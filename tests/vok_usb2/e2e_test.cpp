// vokusb with vok_usb2 against a served bench with an SPI board that starts bare
// and has been enumerated by the host, as a board plugged in before the run.
#include <gtest/gtest.h>

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
    size_t at = line == std::string::npos ? line : state.find(key + " ", line);
    return at == std::string::npos ? -1 : std::stol(state.substr(at + key.size() + 1));
}

class SpiOnBench : public ::testing::Test {
protected:
    TempDir dir{"vokusb2"};
    std::string socket = dir / "bench.sock";
    std::unique_ptr<Background> bench;

    void serve(const std::vector<std::string> &options, bool board_expected = true) {
        std::vector<std::string> argv{bin("vokbench"), "serve", "--socket", socket};
        argv.insert(argv.end(), options.begin(), options.end());
        bench = std::make_unique<Background>(argv, dir.path(), dir / "bench.log");
        ASSERT_TRUE(wait_until([&] { return ctl({"status"}).status == 0; }, 10)) << bench->output();
        ::setenv("VOKBENCH", socket.c_str(), 1);
        if (board_expected) {
            ASSERT_TRUE(wait_until(
                [] {
                    vokhw::usb_wait_ms(50);
                    return !vokhw::usb_list_boards().empty();
                },
                10))
                << "the board never enumerated";
        }
    }
    void TearDown() override { ::unsetenv("VOKBENCH"); }

    Result ctl(const std::vector<std::string> &request) {
        std::vector<std::string> argv{bin("vokbench"), "ctl", "--socket", socket};
        argv.insert(argv.end(), request.begin(), request.end());
        return run(argv, dir.path(), 20);
    }
    std::string mkbit(const std::string &part) {
        std::string file = dir / (part + ".bit");
        Result r = run({bin("vokbench"), "mkbit", "--part", part, "-o", file}, dir.path());
        EXPECT_EQ(r.status, 0) << r.out;
        return file;
    }
    Result vokusb(const std::string &file) {
        return run({bin("vokusb"), file, "-driver", "vok_usb2"}, dir.path(), 120, {{"VOKBENCH", socket}});
    }
};

TEST_F(SpiOnBench, BootsOnceThenConfiguresEveryPartAloneAndBesideAProm) {
    serve({"--chain", "2s15", "--usb", "0:spi"});
    bool first = true;
    for (const char *part : {"2s15", "2s30", "2s50", "2s100", "2s150", "2s200"}) {
        std::string file = mkbit(part);
        for (const std::string &chain :
             {std::string(part), std::string("18v02,") + part, std::string(part) + ",18v02"}) {
            SCOPED_TRACE(chain);
            ASSERT_EQ(ctl({"chain", chain}).status, 0);
            Result r = vokusb(file);
            EXPECT_EQ(r.status, 0) << r.out;
            EXPECT_EQ(has(r.out, "Setup EZ-USB Firmware\n-Boot-Wait."), first) << r.out;
            EXPECT_TRUE(has(r.out, "EZ-USB No.0 : SPI(PC1=TCK,PA5=TDI,PC2=TMS,PC0=TDO,PC3=TVCC)")) << r.out;
            EXPECT_TRUE(has(r.out, "Complete!")) << r.out;
            std::string state = ctl({"status"}).out;
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
