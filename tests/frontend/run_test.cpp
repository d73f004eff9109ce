// End to end: the built vokusb against the test driver, in temporary folders.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>

#include "helpers.h"
#include "support/process.h"

#ifndef VOK_BIN_DIR
#error "VOK_BIN_DIR must name the folder of the built program"
#endif

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string kBin = VOK_BIN_DIR;
const std::string kProgram = kBin + "/vokusb";

const std::string kBanner = "\nVokmar Ver.1.14\nSpartan-II configuration over JTAG or slave serial\n";
const std::string kFileMode = "++++++++++++++++++++++ File / Mode Information ++++++++++++++++++++++\n";
const std::string kDash = "---------------------------------------------------------------\n";

std::string probe_block(const std::string &version_line = "Version  1.1300\n")
{
    return "-------------------- Probe / Driver Information ---------------------\n"
           "Name    'fake cable'\n" +
           version_line;
}

std::string file_block(const std::string &mode, const vt::BitSpec &s, const std::string &idcode = "00614093",
                       const std::string &file = "design.bit")
{
    return "MODE          " + mode + "\nConfigFile    '" + file + "'\n -Netname     '" + s.net +
           "'\n -TargetDeive '" + s.part + "'[" + idcode + "]\n -TimeStamp   '" + s.date + " " + s.time +
           "'\n -ConfigSize  " + std::to_string(s.length * 8) + "bits(" + std::to_string(s.length) +
           "bytes)\n" + kDash;
}

std::string tx_line(const std::string &data, size_t from, size_t count)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "ss_tx count=%zu sum=%08x\n", count, vt::fnv(data, from, count));
    return buf;
}

class Run : public ::testing::Test {
protected:
    // Runs vokusb to its end with these words.
    void run(const std::vector<std::string> &words, const std::string &program = kProgram)
    {
        std::vector<std::string> argv{program};
        argv.insert(argv.end(), words.begin(), words.end());
        const testsupport::Result r = testsupport::run(argv, dir.path(), 20);
        ASSERT_FALSE(r.timed_out) << "vokusb did not end";
        out = r.out;
        status = r.status;
    }
    void bit(const vt::BitSpec &s, const std::string &name = "design.bit")
    {
        vt::write_file(dir / name, vt::bit_file(s));
    }
    void cfg(const std::string &text) { vt::write_file(dir / "fake.cfg", text); }
    std::string log() const { return vt::read_file(dir / "fake.log"); }

    vt::TempDir dir;
    std::string out;
    int status = -1;
};

const std::string kUsage = "\n"
                           "useage: vokusb [Xilinx_bit_file] [options]\n"
                           "  options :\n"
                           "       -port [address]  : port address\n"
                           "       -baud [bps]      : baud rate\n"
                           "       -mode bscan      : BoundaryScan  (JTAG) mode\n"
                           "       -mode sserlal    : SlaveSerial   (CCLK) mode\n"
                           "       -mode sparalell  : SlaveParalell (CCLK) mode\n"
                           "       -bitstream       : [future]\n"
                           "       -jedec           : [future]\n"
                           "       -driver [dllname]: DLL driver slelect\n"
                           "       -continue        : continus mode\n"
                           "       -target [nums]   : number of chained device in TDO side\n"
                           "       -f [rspname]     : use option in file\n";

TEST_F(Run, NoWordsPrintsBannerAndUsage)
{
    run({});
    EXPECT_EQ(out, kBanner + kUsage);
    EXPECT_EQ(status, 1);
}

TEST_F(Run, HelpWordsPrintTheUsageAndRunNothingElse)
{
    for (const char *word : {"-h", "-help", "--help", "-?", "-HELP"}) {
        run({word, "-driver", "vok_fake"});
        EXPECT_EQ(out, kBanner + kUsage) << word;
        EXPECT_EQ(status, 0) << word;
    }
    EXPECT_FALSE(fs::exists(dir / "fake.log"));
}

TEST_F(Run, DriverThatDoesNotLoadSaysWhereItWasLookedFor)
{
    run({"x.bit", "-driver", "NoSuch"});
    EXPECT_EQ(status, 72);
    const std::string head = kBanner + "Can't open 'nosuch.DLL'\n";
    EXPECT_EQ(out.substr(0, head.size()), head);
    EXPECT_NE(out.find("Looked for 'nosuch.so' in " + kBin + ", " +
                       fs::path(kBin + "/../lib/vokusb").lexically_normal().string() +
                       ", then in the system's library search path\n"),
              std::string::npos)
        << out;
    const size_t found = out.find("Drivers found there: ");
    EXPECT_LT(found, out.find("vok_fake, vok_fake_nojtag, vok_fake_noss, vok_fake_nover")) << out;
    EXPECT_NE(out.find("The loader said: nosuch.so: cannot open shared object file"), std::string::npos) << out;
    EXPECT_EQ(out.substr(out.size() - (kFileMode.size() + 22)), kFileMode + "Error ! ,probe,driver\n");

    // The default driver name is used without -driver.
    run({"x.bit"});
    EXPECT_NE(out.find("Can't open 'vok_isp.DLL'\n"), std::string::npos);

    // A file that is there but is no library: the loader's reason for it.
    vt::write_file(dir / "vok_junk.so", "not a library");
    run({"x.bit", "-driver", "./vok_junk.so"});
    EXPECT_NE(out.find("Driver file './vok_junk.so' was not loaded: ./vok_junk.so: "), std::string::npos) << out;
}

TEST_F(Run, DriverNameEndingInSoIsUsedAsItStands)
{
    vt::BitSpec s;
    s.length = 10;
    bit(s);
    for (const std::string &name : {std::string("vok_fake.so"), kBin + "/vok_fake.so"}) {
        run({"design.bit", "-driver", name, "-mode", "sserial"});
        EXPECT_EQ(status, 0) << out;
    }
}

TEST_F(Run, SlaveSerialSendsThreeBlocksAndCompletes)
{
    vt::BitSpec s;
    const std::string data = vt::data_bytes(20000);
    s.data = data;
    s.data_set = true;
    bit(s);
    run({"Design", "-driver", "vok_fake", "-mode", "sserial", "-port", "3bc", "-baud", "9600"});
    EXPECT_EQ(out, kBanner + probe_block() + kFileMode + file_block("SlaveSerial", s) +
                       "Start Configraion\n"
                       "Configration bit       0 to -  65535\r"
                       "Configration bit   65536 to - 131071\r"
                       "Configration bit  131072 to - 159999\r"
                       "Complete!\n");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(log(), "ss_init port=956 baud=9600 name=buffer\n"
                     "jtag_version\n"
                     "ss_power -> 1\n"
                     "ss_program 0\n"
                     "ss_program 1\n"
                     "ss_done -> 0\n" +
                         tx_line(data, 0, 8192) + tx_line(data, 8192, 8192) + tx_line(data, 16384, 3616) +
                         "ss_done -> 1\n"
                         "ss_end\n");
}

TEST_F(Run, ExactMultipleOfTheBlockSizeFlagsTheSecondBlockLast)
{
    vt::BitSpec s;
    s.length = 16384;
    bit(s);
    run({"design.bit", "-driver", "vok_fake", "-mode", "sserial"});
    EXPECT_NE(out.find("Configration bit       0 to -  65535\rConfigration bit   65536 to - 131071\rComplete!\n"),
              std::string::npos)
        << out;
    const std::string l = log();
    EXPECT_EQ(vt::count_of(l, "ss_tx count=8192"), 2u);
    EXPECT_NE(l.find(tx_line(vt::data_bytes(16384), 8192, 8192)), std::string::npos);
    EXPECT_EQ(vt::count_of(l, "ss_done"), 2u); // cleared, then done
    EXPECT_LT(l.rfind("ss_tx"), l.rfind("ss_done"));
    EXPECT_EQ(status, 0);
}

TEST_F(Run, EmptyDataIsAFileErrorBeforeAnythingIsSent)
{
    vt::BitSpec s;
    s.length = 0;
    bit(s);
    run({"design.bit", "-driver", "vok_fake", "-mode", "sserial"});
    EXPECT_EQ(out, kBanner + probe_block() + kFileMode + file_block("SlaveSerial", s) +
                       "Bitstream file 'design.bit' holds no configuration data\n"
                       "Error ! ,file\n");
    EXPECT_EQ(status, 128);
    EXPECT_EQ(log().find("ss_program"), std::string::npos);
}

TEST_F(Run, MissingBitstreamFile)
{
    run({"design.bit", "-driver", "vok_fake", "-mode", "sserial"});
    EXPECT_EQ(out, kBanner + probe_block() + kFileMode + "Can't open bitstream file 'design.bit'\nError ! ,file\n");
    EXPECT_EQ(status, 128);
    EXPECT_NE(log().find("ss_end"), std::string::npos);
}

TEST_F(Run, NoProbeStopsBeforeTheFileButClosesTheCable)
{
    bit({});
    cfg("init 2\n");
    run({"design.bit", "-driver", "vok_fake"});
    EXPECT_EQ(out, kBanner + "DLL function 'jtag_xfer' is not found\nNO Probe\n" + kFileMode + "Error ! ,probe\n");
    EXPECT_EQ(status, 64);
    EXPECT_EQ(log(), "jtag_init port=0 baud=0 name=buffer\njtag_end\n");
}

TEST_F(Run, NoTargetChecksPowerAndReports)
{
    bit({});
    cfg("init 4\n");
    run({"design.bit", "-driver", "vok_fake", "-mode", "sserial"});
    EXPECT_EQ(out, kBanner + "NO Target\n" + kFileMode + "Error ! ,target\n");
    EXPECT_EQ(status, 32);
    EXPECT_EQ(log(), "ss_init port=0 baud=0 name=buffer\nss_power -> 1\nss_end\n");
}

TEST_F(Run, TargetWithoutPower)
{
    vt::BitSpec s;
    bit(s);
    cfg("power 0\n");
    run({"design.bit", "-driver", "vok_fake", "-mode", "sserial"});
    EXPECT_EQ(out, kBanner + probe_block() + kFileMode + file_block("SlaveSerial", s) +
                       "Target power down\nError ! ,power\n");
    EXPECT_EQ(status, 16);
    EXPECT_EQ(log().find("ss_program"), std::string::npos);
}

// A file that holds less data than its header announces is refused before
// anything reaches the FPGA.
TEST_F(Run, DataShorterThanItsLengthIsRefusedBeforeTheStart)
{
    vt::write_file(dir / "design.bit", vt::preamble() + vt::length_field(0xFFFFFFFF) + vt::data_bytes(100));
    run({"design.bit", "-driver", "vok_fake", "-mode", "sserial"});
    EXPECT_EQ(out, kBanner + probe_block() + kFileMode +
                       "Bitstream file 'design.bit' is not complete: its header announces 4294967295 bytes of "
                       "configuration data, 100 are there\nError ! ,file\n");
    EXPECT_EQ(status, 128);
    EXPECT_EQ(log().find("ss_program"), std::string::npos);
}

TEST_F(Run, SlaveSerialStopsWhenProgramDidNotClearTheFpga)
{
    vt::BitSpec s;
    s.length = 100;
    bit(s);
    cfg("done 1\n");
    run({"design.bit", "-driver", "vok_fake", "-mode", "sserial"});
    EXPECT_NE(out.find("DONE is still high after the PROGRAM pulse: the FPGA was not cleared. Check that the cable "
                       "drives PROGRAM, or switch the target supply off and on to clear it\nStart Configraion\n"
                       "Error ! ,target\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(status, 32);
    EXPECT_EQ(log().find("ss_tx"), std::string::npos);
}

// DONE low after the data, and the bitstream starts up on the JTAG clock: said
// before the report. The data carry a COR write (0x30012001) with its start-up
// clock field (bits 21..20) as given.
TEST_F(Run, DoneLowWithAJtagStartUpClockSaysSo)
{
    const struct {
        uint8_t cor_byte1; // bits 23..16 of COR
        bool says;
    } cases[] = {{0xA0, true}, {0x80, false}, {0x90, false}};
    for (const auto &c : cases) {
        const unsigned char packets[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xAA, 0x99, 0x55, 0x66, 0x30, 0x01,
                                         0x20, 0x01, 0x00, c.cor_byte1, 0x3F, 0x2D, 0x00, 0x00, 0x00, 0x00};
        vt::BitSpec s;
        s.data = std::string(reinterpret_cast<const char *>(packets), sizeof packets);
        s.length = sizeof packets;
        s.data_set = true;
        bit(s);
        cfg("done 0\n");
        run({"design.bit", "-driver", "vok_fake", "-mode", "sserial"});
        const std::string line = "The bitstream's start-up clock is the JTAG clock, which slave serial does not run: "
                                 "generate it with CCLK as the start-up clock\nError ! \n";
        EXPECT_EQ(out.find(line) != std::string::npos, c.says) << out;
        EXPECT_EQ(status, 1);
    }
}

TEST_F(Run, HeaderTextIsPrintedSafely)
{
    vt::BitSpec s;
    s.net = "top\x1b[2J\xff.ncd";
    s.length = 10;
    bit(s);
    run({"design.bit", "-driver", "vok_fake", "-mode", "sserial"});
    EXPECT_NE(out.find(" -Netname     'top\\x1B[2J\\xFF.ncd'\n"), std::string::npos) << out;
    EXPECT_EQ(status, 0);
}

TEST_F(Run, DoneLowAfterTheLastBlock)
{
    vt::BitSpec s;
    s.length = 100;
    bit(s);
    cfg("done 0\n");
    run({"design.bit", "-driver", "vok_fake", "-mode", "sserial"});
    EXPECT_EQ(out, kBanner + probe_block() + kFileMode + file_block("SlaveSerial", s) +
                       "Start Configraion\n"
                       "Configration bit       0 to -    799\r"
                       "\nDONE is low after the data. A cable that cannot pulse PROGRAM leaves an FPGA inside an "
                       "interrupted load: then switch the target supply off and on, and load again\n"
                       "Error ! \n");
    EXPECT_EQ(status, 1);
}

TEST_F(Run, ProbeBlockShowsTheVersionWordOrUnknown)
{
    vt::BitSpec s;
    bit(s);
    cfg("name USB board 0\nversion 10000\ninit 0\n");
    run({"design.bit", "-driver", "vok_fake"});
    const std::string head = kBanner + "DLL function 'jtag_xfer' is not found\n"
                                       "-------------------- Probe / Driver Information ---------------------\n"
                                       "Name    'USB board 0'\nVersion  1.0000\n" +
                             kFileMode + file_block("BoundaryScan", s);
    EXPECT_EQ(out.substr(0, head.size()), head);

    cfg("");
    run({"design.bit", "-driver", "vok_fake_nover"});
    const std::string head2 = kBanner + "DLL function 'jtag_xfer' is not found\n"
                                        "DLL function 'jtag_version' is not found\n" +
                              probe_block(" Version : Unknown\n") + kFileMode;
    EXPECT_EQ(out.substr(0, head2.size()), head2);
}

TEST_F(Run, LoaderFailuresEndWithProbeAndDriver)
{
    bit({});
    run({"design.bit", "-driver", "vok_fake_nojtag"});
    EXPECT_EQ(out, kBanner +
                       "DLL function 'jtag_init' is not found\n"
                       "DLL function 'jtag_power' is not found\n"
                       "DLL function 'jtag_end' is not found\n" +
                       kFileMode + "Error ! ,probe,driver\n");
    EXPECT_EQ(status, 72);

    run({"design.bit", "-driver", "vok_fake_noss", "-mode", "sserial"});
    EXPECT_EQ(vt::count_of(out, "is not found\n"), 6u);
    EXPECT_EQ(status, 72);

    for (const std::string mode : {"MasterSerial", "SlaveParallel"}) {
        run({"design.bit", "-driver", "vok_fake", "-mode", mode == "MasterSerial" ? "mserial" : "sparalell"});
        EXPECT_EQ(out, kBanner + "Mode " + mode +
                           " is not supported by this program: use -mode bscan or -mode sserial\n" + kFileMode +
                           "Error ! ,probe,driver\n");
        EXPECT_EQ(status, 72);
    }
    EXPECT_FALSE(fs::exists(dir / "fake.log")); // no entry point was ever called
}

TEST_F(Run, DriverFoundBesideTheProgramThenInLibVokusb)
{
    bit({});
    // An installed layout: prefix/bin/vokusb and prefix/lib/vokusb/NAME.so.
    fs::create_directories(dir / "prefix/bin");
    fs::create_directories(dir / "prefix/lib/vokusb");
    fs::copy_file(kProgram, dir / "prefix/bin/vokusb");
    fs::copy_file(kBin + "/vok_fake.so", dir / "prefix/lib/vokusb/vok_inst.so");
    run({"design.bit", "-driver", "vok_inst", "-mode", "sserial"}, dir / "prefix/bin/vokusb");
    EXPECT_EQ(status, 0) << out;

    // A copy beside the program wins over the one in lib/vokusb.
    fs::copy_file(kBin + "/vok_fake_nover.so", dir / "prefix/bin/vok_inst.so");
    run({"design.bit", "-driver", "vok_inst", "-mode", "sserial"}, dir / "prefix/bin/vokusb");
    EXPECT_NE(out.find("DLL function 'jtag_version' is not found\n"), std::string::npos) << out;

    // The working folder is searched only for names holding a '/'.
    fs::copy_file(kBin + "/vok_fake.so", dir / "Here_Drv.so");
    run({"design.bit", "-driver", "Here_Drv", "-mode", "sserial"});
    EXPECT_EQ(status, 72);
    EXPECT_NE(out.find("Can't open 'here_drv.DLL'\n"), std::string::npos);
    run({"design.bit", "-driver", "./Here_Drv", "-mode", "sserial"});
    EXPECT_EQ(status, 0) << out;
}

TEST_F(Run, NameTooLongEndsBeforeAnyDriverIsLoaded)
{
    run({std::string(PATH_MAX, 'n') + ".bit", "-driver", "vok_fake"});
    EXPECT_EQ(out, kBanner + "Name too long for the bitstream file name: at most " + std::to_string(PATH_MAX - 1) +
                       " characters\n");
    EXPECT_EQ(status, 1);
    EXPECT_FALSE(fs::exists(dir / "fake.log"));
}

TEST_F(Run, FileNamesOpenAsTypedThenInLowerCase)
{
    vt::BitSpec s;
    s.length = 10;
    bit(s, "Design.BIT");
    run({"Design.BIT", "-driver", "vok_fake", "-mode", "sserial"});
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("ConfigFile    'design.bit'\n"), std::string::npos);

    bit(s, "lower.bit");
    run({"LOWER", "-driver", "vok_fake", "-mode", "sserial"});
    EXPECT_EQ(status, 0) << out;
}

TEST_F(Run, DefaultResponseFileWithCrLfLines)
{
    vt::BitSpec s;
    s.length = 10;
    bit(s);
    vt::write_file(dir / "vokisp.rsp", "-driver VOK_FAKE\r\n-mode sserial\r\n");
    run({"design", "-mode", "bscan"});
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("MODE          SlaveSerial\n"), std::string::npos);
}

// Continuous mode. The runs are stopped by the test; every wait is bounded.
class Continuous : public Run {
protected:
    void start(const std::vector<std::string> &extra = {})
    {
        std::vector<std::string> words{"design.bit", "-driver", "vok_fake", "-mode", "sserial", "-continue"};
        words.insert(words.end(), extra.begin(), extra.end());
        words.insert(words.begin(), kProgram);
        child = std::make_unique<testsupport::Background>(words, dir.path(), dir / "out.txt");
    }
    // Waits until the output holds `what` at least n times.
    bool seen(const std::string &what, size_t n = 1, double timeout_s = 15)
    {
        return testsupport::wait_until([&] { return vt::count_of(child->output(), what) >= n; }, timeout_s);
    }
    std::string text() const { return child->output(); }

    std::unique_ptr<testsupport::Background> child;
};

TEST_F(Continuous, UnchangedFileIsNotConfiguredAgainANewTimeStampIs)
{
    vt::BitSpec s;
    s.length = 100;
    bit(s);
    start();
    ASSERT_TRUE(seen("Complete!\n"));
    ASSERT_TRUE(seen("Waiting for update 'design.bit'\n", 2));
    bit(s); // rewritten with the same header
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(vt::count_of(text(), "Complete!\n"), 1u);
    EXPECT_EQ(vt::count_of(log(), "ss_tx"), 1u);

    s.time = "01:02:04";
    bit(s);
    ASSERT_TRUE(seen("Complete!\n", 2)) << text();
    EXPECT_NE(text().find(" -TimeStamp   '2026/12/08 01:02:04'\n"), std::string::npos);
    EXPECT_EQ(vt::count_of(log(), "ss_tx"), 2u);
}

TEST_F(Continuous, PowerLossDuringTheWaitConfiguresTheSameFileAgain)
{
    vt::BitSpec s;
    s.length = 100;
    bit(s);
    cfg("power 1 1 1 0 1\n");
    start();
    ASSERT_TRUE(seen("Complete!\n", 2)) << text();
    const std::string t = text();
    const size_t down = t.find("Target Power Down\n");
    ASSERT_NE(down, std::string::npos);
    EXPECT_EQ(vt::count_of(t, "Target Power Down\n"), 1u);
    EXPECT_LT(t.find("Complete!\n"), down);
    EXPECT_LT(down, t.rfind("Complete!\n"));
}

// DONE answers by call: after PROGRAM, after the last block, right after the
// pass, then the samples of the pause.
TEST_F(Continuous, DoneLowAfterAConfigurationConfiguresAgainOnlyWhenTheCableReadItHigh)
{
    const struct {
        const char *what;
        const char *done;
        size_t completes;
    } cases[] = {
        {"DONE drops during the pause", "done 0 1 1 1 0 0 1\n", 2},
        {"the cable reads DONE low right after the configuration", "done 0 1 0\n", 1},
    };
    vt::BitSpec s;
    s.length = 100;
    bit(s);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        cfg(c.done);
        start();
        ASSERT_TRUE(seen("Complete!\n", c.completes)) << text();
        // The pause and a few polls of the wait.
        ASSERT_TRUE(seen("Waiting for update 'design.bit'\n", c.completes + 1)) << text();
        std::this_thread::sleep_for(300ms);
        EXPECT_EQ(vt::count_of(text(), "Complete!\n"), c.completes) << text();
        EXPECT_EQ(vt::count_of(text(), "DONE is low: the FPGA lost its configuration\n"), c.completes - 1) << text();
        child->stop();
    }
}

TEST_F(Continuous, PowerErrorIsRetriedWithoutWaitingForANewFile)
{
    vt::BitSpec s;
    s.length = 100;
    bit(s);
    cfg("power 1 0 1\n"); // the first poll of the wait, then the check before configuring
    start();
    ASSERT_TRUE(seen("Complete!\n")) << text();
    const std::string fb = file_block("SlaveSerial", s);
    const std::string expected = kBanner + probe_block() + kFileMode + "Waiting for update 'design.bit'\n" + fb +
                                 "Target power down\nError ! ,power\n" +
                                 fb + "Start Configraion\nConfigration bit       0 to -    799\rComplete!\n";
    EXPECT_EQ(text().substr(0, expected.size()), expected);
}

TEST_F(Continuous, FailedConfigurationWaitsForANewFileAndRecovers)
{
    vt::BitSpec s;
    s.length = 100;
    bit(s);
    cfg("done 0\n");
    start();
    ASSERT_TRUE(seen("Error ! \n"));
    ASSERT_TRUE(seen("Waiting for update 'design.bit'\n")) << text();
    std::this_thread::sleep_for(500ms);
    // The same file is not tried again, and PROGRAM is not pulsed again.
    EXPECT_EQ(vt::count_of(text(), "Error ! \n"), 1u);
    EXPECT_EQ(vt::count_of(log(), "ss_program"), 2u);

    cfg(""); // DONE low after PROGRAM, high after the data
    s.date = "2026/12/09";
    bit(s);
    ASSERT_TRUE(seen("Complete!\n")) << text();
    EXPECT_EQ(vt::count_of(log(), "ss_program"), 4u);
    EXPECT_EQ(vt::count_of(log(), "ss_tx"), 2u);
}

TEST_F(Continuous, MissingFileIsPolledWithAPause)
{
    cfg("power 0 0 0 1\n");
    start();
    ASSERT_TRUE(seen("Target Power Down\n", 3));
    std::this_thread::sleep_for(600ms);
    // Without a pause this would be thousands of polls.
    EXPECT_LE(vt::count_of(log(), "ss_power"), 12u);
    EXPECT_EQ(vt::count_of(text(), "Target Power Down\n"), 3u);
    EXPECT_EQ(text().find("Can't open"), std::string::npos);

    vt::BitSpec s;
    s.length = 100;
    bit(s);
    ASSERT_TRUE(seen("Complete!\n")) << text();
}

TEST_F(Continuous, NoTargetAtOpenWaitsForTheFileThenConfigures)
{
    vt::BitSpec s;
    s.length = 100;
    bit(s);
    cfg("init 4\n");
    start();
    ASSERT_TRUE(seen("Complete!\n")) << text();
    const std::string expected = kBanner + "NO Target\n" + kFileMode + "Error ! ,target\n" +
                                 "Waiting for update 'design.bit'\n" + file_block("SlaveSerial", s) +
                                 "Start Configraion\nConfigration bit       0 to -    799\rComplete!\n";
    EXPECT_EQ(text().substr(0, expected.size()), expected);
}

// The file met on the retry after a power error was never started: it is
// configured as it stands, not waited on as if it had failed.
TEST_F(Continuous, NoTargetAtOpenThenPowerReturnsConfiguresThePresentFile)
{
    vt::BitSpec s;
    s.length = 100;
    bit(s);
    cfg("init 4\npower 0 0 1\n");
    start();
    ASSERT_TRUE(seen("Complete!\n")) << text();
    EXPECT_NE(text().find("Error ! ,target,power\n"), std::string::npos) << text();
}

// A file without date and time fields has an empty time stamp; nothing has been
// configured yet, so it must not count as already seen.
TEST_F(Continuous, FileWithoutTimeStampIsConfiguredOnceAndAgainAfterPowerLoss)
{
    vt::write_file(dir / "design.bit", vt::preamble() + vt::length_field(100) + vt::data_bytes(100));
    cfg("power 1 1 0 1\n");
    start();
    ASSERT_TRUE(seen("Complete!\n", 2)) << text();
    EXPECT_NE(text().find("Target Power Down\n"), std::string::npos);
    EXPECT_EQ(vt::count_of(log(), "ss_tx"), 2u);
}

// A file still being written is not ready: the FPGA keeps its design, the wait
// says so once, and the file is configured once it is whole.
TEST_F(Continuous, IncompleteFileIsWaitedForThenConfigured)
{
    vt::BitSpec s;
    s.length = 1000;
    const std::string whole = vt::bit_file(s);
    vt::write_file(dir / "design.bit", whole.substr(0, whole.size() - 500));
    start();
    ASSERT_TRUE(seen("is not complete"));
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(vt::count_of(text(), "is not complete"), 1u) << text();
    EXPECT_EQ(log().find("ss_program"), std::string::npos);
    vt::write_file(dir / "design.bit", whole);
    ASSERT_TRUE(seen("Complete!\n")) << text();
    EXPECT_EQ(vt::count_of(log(), "ss_tx"), 1u);
}

TEST_F(Continuous, FileErrorEndsContinuousMode)
{
    vt::BitSpec s;
    s.length = 0;
    bit(s);
    start();
    ASSERT_TRUE(child->wait(10));
    EXPECT_EQ(child->status(), 128);
    EXPECT_NE(text().find("Error ! ,file\n"), std::string::npos);
}

} // namespace
