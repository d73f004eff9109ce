// End to end: the real vokusb configures bitstreams from vokbench mkbit through the
// simulated cable, which drives the bench target models pin by pin.
#include <gtest/gtest.h>

#include <cstdio>
#include <cctype>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/process.h"
#include "target_state.h"

namespace {

const std::string bin_dir = VOK_BIN_DIR;
const std::string status_header = "FPGA Status :DONE:INIT:    MODE   ( I/O ):GWE:GSR:GHIGH:GTS:IER:LOCK:CRC:\n";

// Writes a bitstream with vokbench mkbit and returns the frame digest it announces.
std::string mkbit(const testsupport::TempDir &dir, const std::string &part,
                  const std::vector<std::string> &extra = {}, const std::string &file = "design.bit")
{
    std::vector<std::string> argv = {bin_dir + "/vokbench", "mkbit", "--part", part, "-o", file};
    argv.insert(argv.end(), extra.begin(), extra.end());
    const testsupport::Result r = testsupport::run(argv, dir.path());
    EXPECT_EQ(r.status, 0) << r.out;
    const size_t at = r.out.find("digest ");
    std::string digest = at == std::string::npos ? "" : r.out.substr(at + 7, 16);
    if (digest.size() != 16 || digest.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        ADD_FAILURE() << "no digest in: " << r.out;
        return "";
    }
    for (char &c : digest)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return digest;
}

testsupport::Result vokusb(const testsupport::TempDir &dir, const std::string &driver,
                           const std::vector<std::string> &extra = {})
{
    std::vector<std::string> argv = {bin_dir + "/vokusb", "design", "-driver", driver};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return testsupport::run(argv, dir.path());
}

void bench_file(const testsupport::TempDir &dir, const std::string &chain)
{
    testsupport::write_file(dir / "bench.cfg", "# simulated target\nchain " + chain + "\npower on\n");
}

// The status line printed after the last block, the one before "Complete!" or the failure.
std::string last_status_line(const std::string &out)
{
    const size_t header = out.rfind(status_header);
    if (header == std::string::npos)
        return "";
    const size_t start = header + status_header.size();
    return out.substr(start, out.find('\n', start) - start);
}

struct PartCase {
    const char *label;
    std::string part;
    std::string chain;
    int target; // -1: automatic choice
    bool xfer;  // vok_simx, bound through "jtag_xfer"
    int fpga;   // chain index of the FPGA
    std::string chain_line;
    std::string id_line;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const PartCase &c, std::ostream *os) { *os << c.label; }

class EveryPart : public ::testing::TestWithParam<PartCase> {};

TEST_P(EveryPart, ConfiguresCompletely)
{
    const PartCase &c = GetParam();
    testsupport::TempDir dir;
    const std::string digest = mkbit(dir, c.part, {"--seed", "7"});
    bench_file(dir, c.chain);
    std::vector<std::string> extra;
    if (c.target >= 0)
        extra = {"-target", std::to_string(c.target)};
    const testsupport::Result r = vokusb(dir, c.xfer ? "vok_simx" : "vok_sim", extra);

    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find(c.chain_line + "\n" + c.id_line + "\nFPGA shutdown\n" + status_header), std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("DLL function 'jtag_xfer' is not found") == std::string::npos, c.xfer) << r.out;
    auto state = sim::read_state(dir / "target_state.txt");
    ASSERT_EQ(state.count(c.fpga), 1u) << testsupport::read_file(dir / "target_state.txt");
    // The status printed after start-up is the device's own status word.
    const std::string after = last_status_line(r.out);
    EXPECT_EQ(after.substr(0, 18), "  " + state[c.fpga]["status"] + "  :YES :") << after;
    EXPECT_EQ(after.substr(after.size() - 5), ":OK :") << after;
    EXPECT_NE(r.out.find(after + "\nComplete!\n"), std::string::npos) << r.out;

    EXPECT_EQ(state[c.fpga]["configured"], "1");
    EXPECT_EQ(state[c.fpga]["crc_errors"], "0");
    EXPECT_EQ(state[c.fpga]["configurations"], "1");
    EXPECT_EQ(state[c.fpga]["digest"], digest) << "frame memory equals the bitstream's frames";
    // The driver's log starts with its open and ends with its end entry point.
    const std::string log = testsupport::read_file(dir / "simcable.log");
    EXPECT_EQ(log.rfind("jtag_init 0 0", 0), 0u) << log.substr(0, 200);
    const size_t last_line = log.rfind('\n', log.size() - 2);
    EXPECT_EQ(log.compare(last_line + 1, 13, "jtag_end tck "), 0) << log.substr(last_line + 1);
}

INSTANTIATE_TEST_SUITE_P(
    Simcable, EveryPart,
    ::testing::Values(
        PartCase{"Xc2s15Alone", "2s15", "2s15", -1, false, 0, "JTAG Chain : TDO -<-*2s15[00608093H]-<-TDI",
                 "Device ID code 00608093H : XC2S15 Rev.0"},
        PartCase{"Xc2s30BehindPromXfer", "2s30", "18v256,2s30:v1", -1, true, 1,
                 "JTAG Chain : TDO -<- 18v256[05022093H]-<-*2s30[1060C093H]-<-TDI",
                 "Device ID code 1060C093H : XC2S30 Rev.1"},
        PartCase{"Xc2s50BeforePromByTarget", "2s50", "2s50,18v512", 0, false, 0,
                 "JTAG Chain : TDO -<-*2s50[00610093H]-<- 18v512[05023093H]-<-TDI",
                 "Device ID code 00610093H : XC2S50 Rev.0"},
        PartCase{"Xc2s100BetweenPromsByTargetXfer", "2s100", "18v01,2s100:v1,18v02", 1, true, 1,
                 "JTAG Chain : TDO -<- 18v01[05024093H]-<-*v100[10614093H]-<- 18v02[05025093H]-<-TDI",
                 "Device ID code 10614093H : XC2S100 Rev.1"},
        PartCase{"Xc2s150BehindTwoPromsByTarget", "2s150", "18v04,18v02,2s150", 2, false, 2,
                 "JTAG Chain : TDO -<- 18v04[05026093H]-<- 18v02[05025093H]-<-*v150[00618093H]-<-TDI",
                 "Device ID code 00618093H : XC2S150 Rev.0"},
        PartCase{"Xc2s150BeforeThreePromsXfer", "2s150", "2s150:v1,18v04,18v02,18v01", -1, true, 0,
                 "JTAG Chain : TDO -<-*v150[10618093H]-<- 18v04[05026093H]-<- 18v02[05025093H]-<- "
                 "18v01[05024093H]-<-TDI",
                 "Device ID code 10618093H : XC2S150 Rev.1"},
        PartCase{"Xc2s200AloneVersion1", "2s200", "2s200:v1", -1, false, 0,
                 "JTAG Chain : TDO -<-*v200[1061C093H]-<-TDI", "Device ID code 1061C093H : XC2S200 Rev.1"},
        PartCase{"Xc2s200BetweenPromsXfer", "2s200", "18v02,2s200,18v04", -1, true, 1,
                 "JTAG Chain : TDO -<- 18v02[05025093H]-<-*v200[0061C093H]-<- 18v04[05026093H]-<-TDI",
                 "Device ID code 0061C093H : XC2S200 Rev.0"}),
    [](const auto &info) { return std::string(info.param.label); });

class Simcable : public ::testing::Test {};

TEST_F(Simcable, CorruptedBitstreamFailsWithCrcError)
{
    for (const char *driver : {"vok_sim", "vok_simx"}) {
        testsupport::TempDir dir;
        mkbit(dir, "2s50", {"--corrupt", "100"});
        bench_file(dir, "2s50");
        const testsupport::Result r = vokusb(dir, driver);
        EXPECT_EQ(r.status, 0x2000 >> 8) << r.out;
        EXPECT_NE(r.out.find("Configuration failed: CRC error in the bitstream\nError ! ,target\n"), std::string::npos)
            << r.out;
        EXPECT_EQ(r.out.find("Complete!"), std::string::npos);
        const std::string after = last_status_line(r.out);
        EXPECT_EQ(after.substr(after.size() - 5), ":ERR:") << after;
        auto state = sim::read_state(dir / "target_state.txt");
        EXPECT_EQ(state[0]["configured"], "0");
        EXPECT_NE(state[0]["crc_errors"], "0");
    }
}

TEST_F(Simcable, CclkStartUpClockLeavesDoneLowAndSaysSo)
{
    testsupport::TempDir dir;
    mkbit(dir, "2s100", {"--startup", "cclk"});
    bench_file(dir, "18v02,2s100");
    const testsupport::Result r = vokusb(dir, "vok_sim");
    EXPECT_EQ(r.status, 0x2000 >> 8) << r.out;
    EXPECT_NE(r.out.find("starts up on CCLK, which JTAG cannot clock: generate it with the JTAG clock as "
                         "start-up clock\nError ! ,target\n"),
              std::string::npos)
        << r.out;
    auto state = sim::read_state(dir / "target_state.txt");
    const std::string after = last_status_line(r.out);
    EXPECT_EQ(after.substr(0, 18), "  " + state[1]["status"] + "  :NO  :") << after;
    EXPECT_EQ(after.substr(after.size() - 5), ":OK :") << after;
    EXPECT_EQ(state[1]["configured"], "0");
    EXPECT_EQ(state[1]["crc_errors"], "0");
}

// Replaces the part name in the .bit header with one that no table row starts.
void rename_part(const testsupport::TempDir &dir, const std::string &from, const std::string &to)
{
    std::string file = testsupport::read_file(dir / "design.bit");
    const size_t at = file.find(from);
    ASSERT_NE(at, std::string::npos);
    ASSERT_LT(at, 100u) << "in the header";
    file.replace(at, from.size(), to);
    testsupport::write_file(dir / "design.bit", file);
}

// A part name that matches no table row goes only where -target sends it.
TEST_F(Simcable, UnmatchedPartNameIsConfiguredOnlyWhereTargetSays)
{
    testsupport::TempDir dir;
    const std::string digest = mkbit(dir, "2s100");
    rename_part(dir, "2s100", "zz100");
    bench_file(dir, "2s100,18v02");
    testsupport::Result r = vokusb(dir, "vok_sim");
    EXPECT_EQ(r.status, 0x2000 >> 8) << r.out;
    EXPECT_NE(r.out.find("The bitstream's part 'zz100"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("FPGA shutdown"), std::string::npos) << r.out;
    EXPECT_EQ(sim::read_state(dir / "target_state.txt")[0]["configured"], "0");

    r = vokusb(dir, "vok_sim", {"-target", "0"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("'[00000000]\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("JTAG Chain : TDO -<-*v100[00614093H]-<- 18v02[05025093H]-<-TDI\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Complete!\n"), std::string::npos);
    EXPECT_EQ(sim::read_state(dir / "target_state.txt")[0]["digest"], digest);
}

TEST_F(Simcable, UnmatchedPartNameSentToAPromIsRefused)
{
    testsupport::TempDir dir;
    mkbit(dir, "2s100");
    rename_part(dir, "2s100", "zz100");
    bench_file(dir, "18v02,2s100");
    const testsupport::Result r = vokusb(dir, "vok_sim", {"-target", "0"});
    EXPECT_EQ(r.status, 0x2000 >> 8) << r.out;
    EXPECT_NE(r.out.find("JTAG Chain : TDO -<-*18v02[05025093H]-<- v100[00614093H]-<-TDI\n"
                         "Target 18v02 has an IR of 8 bits; only a Spartan-II (5 bits) can be configured\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("FPGA shutdown"), std::string::npos);
    EXPECT_EQ(sim::read_state(dir / "target_state.txt")[1]["configured"], "0");
}

TEST_F(Simcable, TwoIdenticalFpgasNeedATarget)
{
    testsupport::TempDir dir;
    const std::string digest = mkbit(dir, "2s50");
    bench_file(dir, "2s50,2s50:v1");
    const testsupport::Result ambiguous = vokusb(dir, "vok_simx");
    EXPECT_EQ(ambiguous.status, 0x2000 >> 8) << ambiguous.out;
    EXPECT_EQ(ambiguous.out.find("JTAG Chain"), std::string::npos) << ambiguous.out;
    EXPECT_NE(ambiguous.out.find("Start Configraion\nError ! ,target\n"), std::string::npos) << ambiguous.out;

    const testsupport::Result chosen = vokusb(dir, "vok_simx", {"-target", "1"});
    EXPECT_EQ(chosen.status, 0) << chosen.out;
    EXPECT_NE(chosen.out.find("JTAG Chain : TDO -<- 2s50[00610093H]-<-*2s50[10610093H]-<-TDI\n"), std::string::npos)
        << chosen.out;
    auto state = sim::read_state(dir / "target_state.txt");
    EXPECT_EQ(state[0]["configured"], "0");
    EXPECT_EQ(state[1]["configured"], "1");
    EXPECT_EQ(state[1]["digest"], digest);
}

TEST_F(Simcable, TargetOutsideTheChainFails)
{
    testsupport::TempDir dir;
    mkbit(dir, "2s15");
    bench_file(dir, "2s15");
    const testsupport::Result r = vokusb(dir, "vok_sim", {"-target", "1"});
    EXPECT_EQ(r.status, 0x2000 >> 8) << r.out;
    EXPECT_EQ(r.out.find("JTAG Chain"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Start Configraion\nError ! ,target\n"), std::string::npos) << r.out;
}

// The slave-serial entry points of the same cable load the FPGA nearest TDO.
TEST_F(Simcable, SlaveSerialLoadsTheFpgaNearestTdo)
{
    testsupport::TempDir dir;
    const std::string digest = mkbit(dir, "2s30", {"--startup", "cclk"});
    bench_file(dir, "18v01,2s30,2s15");
    const testsupport::Result r = vokusb(dir, "vok_sim", {"-mode", "sserial"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Complete!\n"), std::string::npos) << r.out;
    auto state = sim::read_state(dir / "target_state.txt");
    EXPECT_EQ(state[1]["configured"], "1");
    EXPECT_EQ(state[1]["digest"], digest);
    EXPECT_EQ(state[2]["configured"], "0");
    const std::string log = testsupport::read_file(dir / "simcable.log");
    EXPECT_EQ(log.rfind("ss_init 0 0\n", 0), 0u) << log.substr(0, 200);
    EXPECT_NE(log.find("ss_program 0\nss_program 1\n"), std::string::npos) << log;
    EXPECT_NE(log.find("ss_done 1\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\nss_end tck 0 cclk "), std::string::npos) << log;
}

// Continuous mode configures the same device again when the file changes: the
// second start shuts the running design down first.
TEST_F(Simcable, SecondConfigurationShutsTheConfiguredDeviceDown)
{
    testsupport::TempDir dir;
    const std::string first = mkbit(dir, "2s100", {"--seed", "1", "--time", "01:00:00"});
    bench_file(dir, "18v02,2s100");
    const std::string log = dir / "run.log";
    testsupport::Background run({bin_dir + "/vokusb", "design", "-driver", "vok_sim", "-continue"}, dir.path(), log);

    auto completes = [&](size_t n) {
        const std::string out = testsupport::read_file(log);
        size_t count = 0;
        for (size_t at = out.find("Complete!"); at != std::string::npos; at = out.find("Complete!", at + 1))
            ++count;
        return count >= n;
    };
    ASSERT_TRUE(testsupport::wait_until([&] { return completes(1); }, 20)) << testsupport::read_file(log);
    ASSERT_TRUE(testsupport::wait_until(
        [&] { return sim::read_state(dir / "target_state.txt")[1]["configurations"] == "1"; }, 10));
    EXPECT_EQ(sim::read_state(dir / "target_state.txt")[1]["digest"], first);

    // A new design with a new time stamp, put in place in one step.
    const std::string second = mkbit(dir, "2s100", {"--seed", "2", "--time", "01:00:01"}, "next.bit");
    ASSERT_NE(first, second);
    ASSERT_EQ(std::rename((dir / "next.bit").c_str(), (dir / "design.bit").c_str()), 0);

    ASSERT_TRUE(testsupport::wait_until([&] { return completes(2); }, 20)) << testsupport::read_file(log);
    ASSERT_TRUE(testsupport::wait_until(
        [&] { return sim::read_state(dir / "target_state.txt")[1]["configurations"] == "2"; }, 10))
        << testsupport::read_file(dir / "target_state.txt");
    run.stop(SIGKILL);

    auto state = sim::read_state(dir / "target_state.txt");
    EXPECT_EQ(state[1]["configured"], "1");
    EXPECT_EQ(state[1]["crc_errors"], "0");
    EXPECT_EQ(state[1]["digest"], second);

    // The status printed after the second shut-down shows DONE low again.
    const std::string out = testsupport::read_file(log);
    const size_t second_start = out.find("FPGA shutdown", out.find("Complete!"));
    ASSERT_NE(second_start, std::string::npos) << out;
    const size_t line = out.find(status_header, second_start) + status_header.size();
    EXPECT_EQ(out.substr(line + 12, 6), ":NO  :") << out.substr(line, 80);
}

} // namespace
