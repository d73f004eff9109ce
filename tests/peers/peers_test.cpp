// Other JTAG tools against the bench, through `vokbench run --ppdev`: they drive
// the bench's cables through /dev/parport0 as they would drive a real port.
#include "support/served_bench.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <sstream>
#include <unistd.h>

namespace {

using testsupport::bin;

// The program's path in PATH; empty when it is not installed.
std::string installed(const std::string &name) {
    const char *path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "");
    for (std::string d; std::getline(dirs, d, ':');)
        if (!d.empty() && ::access((d + "/" + name).c_str(), X_OK) == 0)
            return d + "/" + name;
    return "";
}

#define REQUIRE_PEER(program, package)                                                                     \
    if (installed(program).empty())                                                                        \
    GTEST_SKIP() << program " is not installed (Debian package " package "): this peer is not tried"

class Peer : public ::testing::Test {
protected:
    testsupport::TempDir dir{"vokpeers"};

    // vokbench run BENCH_OPTIONS --ppdev -- COMMAND
    testsupport::Result on_bench(const std::vector<std::string> &bench, const std::vector<std::string> &command,
                                 double timeout_s = 60) {
        std::vector<std::string> argv = {bin("vokbench"), "run"};
        argv.insert(argv.end(), bench.begin(), bench.end());
        argv.insert(argv.end(), {"--ppdev", "--"});
        argv.insert(argv.end(), command.begin(), command.end());
        testsupport::Result r = testsupport::run(argv, dir.path(), timeout_s);
        // Every request these peers make is one the shim serves.
        EXPECT_EQ(r.out.find("is not served"), std::string::npos) << r.out;
        return r;
    }

    // xc3sprog -c pp design.bit; the XC2S100 at index ends up configured. Each chain
    // is a test of its own: a load takes one socket round trip per bit.
    void xc3sprog_configures(const char *chain, int index) {
        testsupport::Bitstream b = testsupport::mkbit(dir, "2s100", "design.bit");
        auto r = on_bench({"--chain", chain, "--port", "0x378:xilinx"}, {"xc3sprog", "-c", "pp", b.path}, 380);
        EXPECT_EQ(r.status, 0) << r.out;
        testsupport::DeviceState d = testsupport::parse_state(r.out).devices[index];
        EXPECT_EQ(d.part, "2s100");
        EXPECT_TRUE(d.configured) << r.out;
        EXPECT_TRUE(d.done);
        EXPECT_EQ(d.crc_errors, 0);
        EXPECT_EQ(d.digest, b.digest);
    }
};

// "JTAG loc.:   1  IDCODE: 0x05025093  Desc: ... IR length:  8" -> "1 0x05025093 8", in order.
std::vector<std::string> xc3sprog_chain(const std::string &out) {
    static const std::regex loc(R"(JTAG loc\.:\s+(\d+)\s+IDCODE: (0x[0-9a-fA-F]+).*IR length:\s+(\d+))");
    std::vector<std::string> chain;
    for (std::sregex_iterator m(out.begin(), out.end(), loc), end; m != end; ++m)
        chain.push_back((*m)[1].str() + " " + (*m)[2].str() + " " + (*m)[3].str());
    return chain;
}

TEST_F(Peer, Xc3sprogListsTheChain) {
    REQUIRE_PEER("xc3sprog", "xc3sprog");
    // xc3sprog counts from the TDI end; the bench's chain words go from TDO.
    const std::pair<const char *, std::vector<std::string>> cases[] = {
        {"2s100", {"0 0x00614093 5"}},
        {"18v02,2s100", {"0 0x00614093 5", "1 0x05025093 8"}},
        {"2s200", {"0 0x0061c093 5"}},
    };
    for (const auto &[chain, expected] : cases) {
        auto r = on_bench({"--chain", chain, "--port", "0x378:xilinx"}, {"xc3sprog", "-c", "pp", "-j"});
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find("Found Xilinx Parallel Cable III"), std::string::npos) << r.out;
        EXPECT_EQ(xc3sprog_chain(r.out), expected) << chain << "\n" << r.out;
    }
}

TEST_F(Peer, Xc3sprogConfiguresALoneXc2s100) {
    REQUIRE_PEER("xc3sprog", "xc3sprog");
    xc3sprog_configures("2s100", 0);
}

// Behind the PROM every CFG_IN scan reaches the FPGA one bypass bit late.
TEST_F(Peer, Xc3sprogConfiguresAnXc2s100BehindAProm) {
    REQUIRE_PEER("xc3sprog", "xc3sprog");
    xc3sprog_configures("18v02,2s100", 1);
}

TEST_F(Peer, Xc3sprogTellsAnUnpoweredCableAndFindsAByteBlaster) {
    REQUIRE_PEER("xc3sprog", "xc3sprog");
    auto off = on_bench({"--chain", "2s100", "--power", "off", "--port", "0x378:xilinx"}, {"xc3sprog", "-c", "pp", "-j"});
    EXPECT_NE(off.out.find("Unpowered Parallel Cable III cable"), std::string::npos) << off.out;
    EXPECT_TRUE(xc3sprog_chain(off.out).empty()) << off.out;
    // A plain ByteBlasterMV: pin 15 grounded.
    auto bb = on_bench({"--chain", "2s100", "--port", "0x378:altera+error_line_grounded=1"},
                       {"xc3sprog", "-c", "pp", "-j"});
    EXPECT_EQ(bb.status, 0) << bb.out;
    EXPECT_NE(bb.out.find("Found ByteBlaster Cable"), std::string::npos) << bb.out;
    EXPECT_EQ(xc3sprog_chain(bb.out), std::vector<std::string>{"0 0x00614093 5"}) << bb.out;
}

// UrJTAG's XC18V02 part file crashes Debian's UrJTAG 0.10 while it loads, so its
// chain holds the FPGA alone.
TEST_F(Peer, UrjtagDetectsALoneXc2s100) {
    REQUIRE_PEER("jtag", "urjtag");
    testsupport::write_file(dir / "detect.jtag", "cable DLC5 ppdev /dev/parport0\ndetect\n");
    auto r = on_bench({"--chain", "2s100", "--port", "0x378:xilinx"}, {"jtag", "-n", dir / "detect.jtag"});
    EXPECT_EQ(r.status, 0) << r.out;
    for (const char *line : {"IR length: 5\n", "Chain length: 1\n", "(0x00614093)\n"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
}

TEST_F(Peer, OpenocdFindsTheTaps) {
    REQUIRE_PEER("openocd", "openocd");
    struct Tap {
        const char *name;
        int ir_len;
        const char *idcode;
    };
    // Taps are declared from the TDO end, as the bench's chain words go.
    const std::pair<const char *, std::vector<Tap>> cases[] = {
        {"2s100", {{"fpga", 5, "0x00614093"}}},
        {"18v02,2s100", {{"prom", 8, "0x05025093"}, {"fpga", 5, "0x00614093"}}},
    };
    for (const auto &[chain, taps] : cases) {
        std::vector<std::string> cmd = {"openocd", "-c", "adapter driver parport", "-c", "parport cable dlc5",
                                        "-c", "parport port 0", "-c", "adapter speed 1000"};
        for (const Tap &t : taps)
            cmd.insert(cmd.end(), {"-c", std::string("jtag newtap ") + t.name + " tap -irlen " +
                                             std::to_string(t.ir_len) + " -expected-id " + t.idcode});
        cmd.insert(cmd.end(), {"-c", "init", "-c", "scan_chain", "-c", "shutdown"});
        auto r = on_bench({"--chain", chain, "--port", "0x378:xilinx"}, cmd);
        EXPECT_EQ(r.status, 0) << r.out;
        for (const Tap &t : taps)
            EXPECT_NE(r.out.find(std::string("JTAG tap: ") + t.name + ".tap tap/device found: " + t.idcode),
                      std::string::npos)
                << chain << " " << t.name << "\n" << r.out;
        EXPECT_EQ(r.out.find("UNEXPECTED"), std::string::npos) << r.out;
    }
}

} // namespace
