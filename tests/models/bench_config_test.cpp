#include "bench_config.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

using namespace bench;

TEST(BenchConfig, FileLinesWithCommentsAndBlankLines) {
    BenchConfig c;
    read_bench_text(c,
                    "# a bench\n"
                    "\n"
                    "chain 18v02, 2s100:v1   # PROM nearest TDO\n"
                    "power off\n"
                    "port 378:xilinx\n"
                    "port 0x278:altera\n"
                    "usb 0:an2135sc-jtag\n"
                    "  usb 1:qrt\n"
                    "port 0x378:none\n", "test");
    ASSERT_EQ(c.chain.size(), 2u);
    EXPECT_EQ(c.chain[0].part, "18v02");
    EXPECT_EQ(c.chain[1].idcode, 0x10614093u);
    EXPECT_FALSE(c.power);
    ASSERT_EQ(c.ports.size(), 2u);
    EXPECT_EQ(c.ports[0].base, 0x378);
    EXPECT_EQ(c.ports[0].cable, "none"); // given again: replaced
    EXPECT_EQ(c.ports[1].base, 0x278);
    EXPECT_EQ(c.ports[1].cable, "altera");
    ASSERT_EQ(c.usb.size(), 2u);
    EXPECT_EQ(c.usb[0].board, "an2135sc-jtag");
    EXPECT_EQ(c.usb[1].number, 1);
    EXPECT_EQ(c.usb[1].board, "qrt");
}

TEST(BenchConfig, BadWordsNameTheLine) {
    const char *bad[] = {"chain 2s999", "power maybe", "port xyz:xilinx", "port 378", "port 378:lpt",
                         "port 10000:xilinx", "usb a:qrt", "usb 0:board", "usb 0", "voltage 3.3", "power"};
    for (const char *line : bad) {
        BenchConfig c;
        std::string text = std::string("# first\n") + line + "\n";
        try {
            read_bench_text(c, text, "bench.txt");
            ADD_FAILURE() << "accepted: " << line;
        } catch (const std::invalid_argument &e) {
            EXPECT_EQ(std::string(e.what()).rfind("bench.txt:2: ", 0), 0u) << e.what();
        }
    }
}

TEST(BenchConfig, UsbBoardWithAChainOfItsOwn) {
    struct Case {
        const char *value;
        bool own;
        std::vector<std::string> parts;
    } cases[] = {
        {"0:qrt", false, {}},
        {"0:qrt:2s100", true, {"2s100"}},
        {"0:an2135sc-jtag:18v02,2s15:v1", true, {"18v02", "2s15"}},
        {"0:spi:", true, {}}, // a board with nothing on its JTAG pins
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        BenchConfig cfg;
        apply_bench_option(cfg, "usb", c.value);
        ASSERT_EQ(cfg.usb.size(), 1u);
        EXPECT_EQ(cfg.usb[0].own_chain, c.own);
        std::vector<std::string> parts;
        for (auto &d : cfg.usb[0].chain) parts.push_back(d.part);
        EXPECT_EQ(parts, c.parts);
    }
    BenchConfig cfg;
    apply_bench_option(cfg, "usb", "0:qrt:2s100");
    apply_bench_option(cfg, "usb", "0:qrt"); // given again without a chain: the bench's chain
    EXPECT_FALSE(cfg.usb.at(0).own_chain);
    EXPECT_THROW(apply_bench_option(cfg, "usb", "0:qrt:2s999"), std::invalid_argument);
    // Chip settings after the board word, before the chain.
    apply_bench_option(cfg, "usb", "1:ulink+out_armed_at_reset=1+int2_repulse=0:2s100");
    EXPECT_EQ(cfg.usb.at(1).board, "ulink");
    EXPECT_EQ(cfg.usb.at(1).chip_settings,
              (std::vector<std::pair<std::string, bool>>{{"out_armed_at_reset", true}, {"int2_repulse", false}}));
    EXPECT_EQ(cfg.usb.at(1).chain.size(), 1u);
    for (const char *bad : {"1:ulink+out_armed_at_reset", "1:ulink+out_armed_at_reset=2", "1:ulink+speed=1"})
        EXPECT_THROW(apply_bench_option(cfg, "usb", bad), std::invalid_argument) << bad;
}

TEST(BenchConfig, CommandLineOptionsAndConfigFile) {
    std::string path = ::testing::TempDir() + "bench_config_test.bench";
    {
        std::ofstream f(path);
        f << "chain 2s15\nusb 2:spi\n";
    }
    BenchConfig c;
    auto rest = parse_bench_args(c, {"serve", "--socket", "/tmp/s", "--config", path, "--chain=2s200,18v04",
                                     "--power", "on", "--port", "3bc:xilinx", "--", "--chain", "x"});
    EXPECT_EQ(rest, (std::vector<std::string>{"serve", "--socket", "/tmp/s", "--", "--chain", "x"}));
    ASSERT_EQ(c.chain.size(), 2u); // the later option wins
    EXPECT_EQ(c.chain[0].part, "2s200");
    ASSERT_EQ(c.usb.size(), 1u);
    EXPECT_EQ(c.usb[0].number, 2);
    ASSERT_EQ(c.ports.size(), 1u);
    EXPECT_EQ(c.ports[0].base, 0x3BC);
    EXPECT_TRUE(c.power);
    EXPECT_THROW(parse_bench_args(c, {"--chain"}), std::invalid_argument);
    EXPECT_THROW(parse_bench_args(c, {"--config", path + ".missing"}), std::runtime_error);
    std::remove(path.c_str());
}
