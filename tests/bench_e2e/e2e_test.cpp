// The real vokusb, driving vok_xpar and vok_apar, against a vokbench: a simulated
// parallel port, cable and Spartan-II chain in another process.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "support/served_bench.h"

namespace {

using namespace testsupport;

struct CableCase {
    const char *cable;
    const char *driver;
};
const CableCase CABLES[] = {{"xilinx", "vok_xpar"}, {"altera", "vok_apar"}};

// vokbench run BENCH... -- vokusb ARGS... in dir.
Result bench_run(const TempDir &dir, const std::vector<std::string> &bench,
                 const std::vector<std::string> &vokusb_args, double timeout_s = 60) {
    std::vector<std::string> argv = {bin("vokbench"), "run"};
    argv.insert(argv.end(), bench.begin(), bench.end());
    argv.push_back("--");
    argv.push_back(bin("vokusb"));
    argv.insert(argv.end(), vokusb_args.begin(), vokusb_args.end());
    return run(argv, dir.path(), timeout_s);
}

void expect_configured(const BenchState &s, int index, const Bitstream &bit, int configurations,
                       const std::string &out) {
    ASSERT_TRUE(s.devices.count(index)) << out;
    const DeviceState &d = s.devices.at(index);
    EXPECT_TRUE(d.configured) << out;
    EXPECT_TRUE(d.done) << out;
    EXPECT_EQ(d.crc_errors, 0) << out;
    EXPECT_EQ(d.digest, bit.digest) << out;
    EXPECT_EQ(d.configurations, configurations) << out;
}

TEST(ParallelJtag, EveryPartThroughEachCable) {
    TempDir dir;
    for (const char *part : {"2s15", "2s30", "2s50", "2s100", "2s150", "2s200"}) {
        Bitstream bit = mkbit(dir, part, std::string(part) + ".bit", {"--startup", "jtag"});
        for (const auto &c : CABLES) {
            SCOPED_TRACE(std::string(part) + " through " + c.cable);
            Result r = bench_run(dir, {"--chain", part, "--port", std::string("0x378:") + c.cable},
                                 {bit.path, "-driver", c.driver});
            ASSERT_FALSE(r.timed_out) << r.out;
            EXPECT_EQ(r.status, 0) << r.out;
            EXPECT_NE(r.out.find("Complete!"), std::string::npos) << r.out;
            BenchState s = parse_state(r.out);
            expect_configured(s, 0, bit, 1, r.out);
            EXPECT_EQ(s.ports["0378"].cable, c.cable);
            EXPECT_GT(s.ports["0378"].writes, 0);
        }
    }
}

// Every part behind a PROM (automatic choice) and before one (-target), through each cable.
TEST(ParallelJtag, BehindAndBeforeAPromAutomaticAndByTarget) {
    TempDir dir;
    const char *parts[] = {"2s15", "2s30", "2s50", "2s100", "2s150", "2s200"};
    const char *proms[] = {"18v256", "18v512", "18v01", "18v02", "18v04", "18v02"};
    for (size_t p = 0; p < std::size(parts); ++p) {
        const std::string part = parts[p], prom = proms[p];
        const Bitstream bit = mkbit(dir, part, part + ".bit", {"--startup", "jtag", "--seed", std::to_string(p + 3)});
        struct Case {
            std::string chain;
            int fpga;           // index from the TDO end
            const char *target; // -target argument, or null for automatic choice
        } cases[] = {
            {prom + "," + part, 1, nullptr},
            {part + "," + prom, 0, "0"},
        };
        for (const auto &c : CABLES) {
            for (const auto &k : cases) {
                SCOPED_TRACE(k.chain + " through " + c.cable + (k.target ? " -target" : " auto"));
                std::vector<std::string> args = {bit.path, "-driver", c.driver};
                if (k.target) args.insert(args.end(), {"-target", k.target});
                Result r = bench_run(dir, {"--chain", k.chain, "--port", std::string("0x378:") + c.cable}, args);
                ASSERT_FALSE(r.timed_out) << r.out;
                EXPECT_EQ(r.status, 0) << r.out;
                EXPECT_NE(r.out.find("Complete!"), std::string::npos) << r.out;
                expect_configured(parse_state(r.out), k.fpga, bit, 1, r.out);
            }
        }
    }
}

TEST(ParallelSlaveSerial, ThroughEachCableAndACorruptedBitstreamFails) {
    TempDir dir;
    Bitstream good = mkbit(dir, "2s100", "good.bit", {"--startup", "cclk"});
    Bitstream bad = mkbit(dir, "2s100", "bad.bit", {"--startup", "cclk", "--corrupt", "200"});
    for (const auto &c : CABLES) {
        std::string port = std::string("0x378:") + c.cable + "-ss";
        SCOPED_TRACE(port);
        Result r = bench_run(dir, {"--chain", "2s100", "--port", port},
                             {good.path, "-driver", c.driver, "-mode", "sserial"});
        ASSERT_FALSE(r.timed_out) << r.out;
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find("Complete!"), std::string::npos) << r.out;
        expect_configured(parse_state(r.out), 0, good, 1, r.out);

        r = bench_run(dir, {"--chain", "2s100", "--port", port},
                      {bad.path, "-driver", c.driver, "-mode", "sserial"});
        ASSERT_FALSE(r.timed_out) << r.out;
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_NE(r.out.find("Error ! \n"), std::string::npos) << r.out;
        BenchState s = parse_state(r.out);
        ASSERT_TRUE(s.devices.count(0)) << r.out;
        EXPECT_FALSE(s.devices[0].done) << r.out;
        EXPECT_FALSE(s.devices[0].configured) << r.out;
        EXPECT_GE(s.devices[0].crc_errors, 1) << r.out;
    }
}

TEST(ParallelProbe, NoCableSupplyOffAndPortZero) {
    TempDir dir;
    Bitstream bit = mkbit(dir, "2s15", "d.bit", {"--startup", "jtag"});
    for (const auto &c : CABLES) {
        SCOPED_TRACE(c.driver);
        Result r = bench_run(dir, {"--chain", "2s15", "--port", "0x378:none"}, {bit.path, "-driver", c.driver});
        EXPECT_EQ(r.status, 64) << r.out;
        EXPECT_NE(r.out.find("No Probe\n"), std::string::npos) << r.out;
        // Nothing at the base at all: no port access.
        r = bench_run(dir, {"--chain", "2s15", "--port", "0x278:none"}, {bit.path, "-driver", c.driver});
        EXPECT_EQ(r.status, 64) << r.out;
        EXPECT_NE(r.out.find("Can't access GIVEIO system\n"), std::string::npos) << r.out;
        // Port 0 means 0x378, and the probe name says so.
        r = bench_run(dir, {"--chain", "2s15", "--port", std::string("0x378:") + c.cable},
                      {bit.path, "-driver", c.driver, "-port", "0"});
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find("IO Base=0378'"), std::string::npos) << r.out;
        r = bench_run(dir, {"--chain", "2s15", "--port", std::string("0x278:") + c.cable},
                      {bit.path, "-driver", c.driver, "-port", "278"});
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find("IO Base=0278'"), std::string::npos) << r.out;
        EXPECT_GT(parse_state(r.out).ports["0278"].writes, 0) << r.out;
    }
    // Supply off: the Altera cable's detect loop still answers, so the power check fails;
    // the Xilinx cable's loop is powered from the target, so the probe fails.
    Result r = bench_run(dir, {"--chain", "2s15", "--power", "off", "--port", "0x378:altera"},
                         {bit.path, "-driver", "vok_apar"});
    EXPECT_EQ(r.status, 16) << r.out;
    EXPECT_NE(r.out.find("Target power down\n"), std::string::npos) << r.out;
    r = bench_run(dir, {"--chain", "2s15", "--power", "off", "--port", "0x378:xilinx"},
                  {bit.path, "-driver", "vok_xpar"});
    EXPECT_EQ(r.status, 64) << r.out;
    EXPECT_NE(r.out.find("No Probe\n"), std::string::npos) << r.out;
    // An Altera cable whose detect loop needs target power, switched in the cable word.
    r = bench_run(dir, {"--chain", "2s15", "--power", "off", "--port", "0x378:altera+detect_loop_unpowered=0"},
                  {bit.path, "-driver", "vok_apar"});
    EXPECT_EQ(r.status, 64) << r.out;
    EXPECT_NE(r.out.find("No Probe\n"), std::string::npos) << r.out;
}

// The Altera power check reads the data bit 7 loop alone: a ByteBlasterMV (pin 15
// grounded, the bench's default) and a cable that senses VCC on pin 15 both read power.
TEST(ParallelProbe, AlteraPowerWithPin15GroundedOrSensing) {
    TempDir dir;
    Bitstream bit = mkbit(dir, "2s15", "d.bit", {"--startup", "jtag"});
    for (const char *cable : {"0x378:altera", "0x378:altera+error_line_grounded=0"}) {
        for (bool on : {true, false}) {
            SCOPED_TRACE(std::string(cable) + (on ? " on" : " off"));
            Result r = bench_run(dir, {"--chain", "2s15", "--power", on ? "on" : "off", "--port", cable},
                                 {bit.path, "-driver", "vok_apar"});
            EXPECT_EQ(r.status, on ? 0 : 16) << r.out;
            EXPECT_EQ(r.out.find("Target power down\n") != std::string::npos, !on) << r.out;
        }
    }
}

// A bench served in the background, with a vokusb run beside it.
class ServedRun : public ServedBench {
protected:
    // Waits until pred holds for the bench state; false after timeout_s.
    bool wait_state(const std::function<bool(const BenchState &)> &pred, double timeout_s) {
        return wait_until([&] { return pred(state()); }, timeout_s, 50);
    }
    // Waits until the background run has printed text; false after timeout_s.
    static bool wait_output(Background &p, const std::string &text, double timeout_s) {
        return wait_until([&] { return has(p.output(), text); }, timeout_s, 50);
    }

    int configurations() {
        BenchState s = state();
        return s.devices.count(0) ? s.devices[0].configurations : -1;
    }
};

TEST_F(ServedRun, ContinuousModeConfiguresOnNewFileAndAfterPowerReturns) {
    serve({"--chain", "2s50", "--port", "0x378:xilinx"});
    Bitstream first = mkbit(dir, "2s50", "design.bit", {"--startup", "jtag", "--time", "10:00:00"});
    auto watch = start_vokusb({"design.bit", "-driver", "vok_xpar", "-continue"});
    auto configs_are = [](int n) {
        return [n](const BenchState &s) { return s.devices.count(0) && s.devices.at(0).configurations == n; };
    };
    ASSERT_TRUE(wait_state(configs_are(1), 20)) << watch->output();
    EXPECT_EQ(state().devices[0].digest, first.digest);

    // Unchanged file: no configuration for a while (passes poll every 100 ms).
    // Meanwhile the port is claimed: a second run gets no access to it.
    Result other = vokusb({"design.bit", "-driver", "vok_xpar"}, 20);
    EXPECT_EQ(other.status, 64) << other.out;
    EXPECT_NE(other.out.find("Can't access GIVEIO system\n"), std::string::npos) << other.out;
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(configurations(), 1) << watch->output();

    // A new time stamp (written aside, then moved over the file) configures again.
    Bitstream second = mkbit(dir, "2s50", "next.bit", {"--startup", "jtag", "--time", "11:00:00", "--seed", "5"});
    ASSERT_EQ(std::rename(second.path.c_str(), (dir / "design.bit").c_str()), 0);
    ASSERT_TRUE(wait_state(configs_are(2), 20)) << watch->output();
    EXPECT_EQ(state().devices[0].digest, second.digest);

    // Supply off and on: the same file again, once the run has seen the loss.
    ASSERT_EQ(ctl("power off").status, 0);
    EXPECT_TRUE(wait_output(*watch, "Target Power Down\n", 10)) << watch->output();
    ASSERT_EQ(ctl("power on").status, 0);
    ASSERT_TRUE(wait_state(configs_are(3), 20)) << watch->output();
    EXPECT_TRUE(state().devices[0].configured);
    EXPECT_EQ(state().devices[0].digest, second.digest);
    EXPECT_TRUE(watch->running()) << watch->output();
}

TEST_F(ServedRun, ASecondSlaveSerialConfigurationPulsesProgramEachRun) {
    serve({"--chain", "2s30", "--port", "0x378:xilinx-ss"});
    Bitstream a = mkbit(dir, "2s30", "a.bit", {"--startup", "cclk"});
    Bitstream b = mkbit(dir, "2s30", "b.bit", {"--startup", "cclk", "--seed", "3"});
    ASSERT_EQ(ctl("trace 378 on").status, 0);
    for (const Bitstream *bit : {&a, &b}) {
        Result r = vokusb({bit->path, "-driver", "vok_xpar", "-mode", "sserial"}, 60);
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find("Complete!"), std::string::npos) << r.out;
    }
    BenchState s = state();
    EXPECT_EQ(s.devices[0].configurations, 2);
    EXPECT_EQ(s.devices[0].digest, b.digest);
    // Each run pulses PROGRAM twice: data 0x10, 0x10, 0x14 in a row.
    std::string trace = ctl("trace 378").out;
    size_t pulses = 0;
    for (size_t at = 0; (at = trace.find("W 0378 10\nW 0378 10\nW 0378 14\n", at)) != std::string::npos; ++at)
        ++pulses;
    EXPECT_EQ(pulses, 4u);
}

TEST_F(ServedRun, SupplySwitchedOffDuringAContinuousRunThroughAltera) {
    serve({"--chain", "2s15", "--port", "0x378:altera"});
    mkbit(dir, "2s15", "design.bit", {"--startup", "jtag"});
    auto watch = start_vokusb({"design.bit", "-driver", "vok_apar", "-continue"});
    ASSERT_TRUE(wait_state([](const BenchState &s) { return s.devices.count(0) && s.devices.at(0).configured; }, 20))
        << watch->output();
    ASSERT_EQ(ctl("power off").status, 0);
    EXPECT_TRUE(wait_output(*watch, "Target Power Down\n", 10)) << watch->output();
    EXPECT_TRUE(watch->running());
    ASSERT_EQ(ctl("power on").status, 0);
    EXPECT_TRUE(wait_state(
        [](const BenchState &s) { return s.devices.count(0) && s.devices.at(0).configurations == 2; }, 20))
        << watch->output();
    EXPECT_TRUE(state().devices[0].configured);
}

TEST(BenchProgram, RunGivesAPrivateSocketAndTheCommandsStatus) {
    TempDir dir;
    Result r = run({bin("vokbench"), "run", "--port", "0x378:none", "--", "sh", "-c",
                    "stat -c '%a %F' \"$VOKBENCH\" \"$(dirname \"$VOKBENCH\")\"; exit 7"},
                   dir.path(), 20);
    EXPECT_EQ(r.status, 7) << r.out;
    EXPECT_NE(r.out.find("600 socket"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("700 directory"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("port 0378: cable none, reads 0, writes 0"), std::string::npos) << r.out;

    // A bench file gives the same options; a bad option stops before the command runs.
    std::string cfg = dir / "bench.cfg";
    FILE *f = std::fopen(cfg.c_str(), "w");
    std::fputs("# two ports\nchain 2s15,18v02\npower off\nport 0x3BC:altera\nport 378:xilinx-ss\n", f);
    std::fclose(f);
    r = run({bin("vokbench"), "run", "--config", cfg, "--", "true"}, dir.path(), 20);
    EXPECT_EQ(r.status, 0) << r.out;
    BenchState s = parse_state(r.out);
    EXPECT_EQ(s.powered, std::optional<bool>(false));
    EXPECT_EQ(s.devices.size(), 2u);
    EXPECT_EQ(s.ports["03BC"].cable, "altera");
    EXPECT_EQ(s.ports["0378"].cable, "xilinx-ss");
    r = run({bin("vokbench"), "run", "--port", "0x378:parallel", "--", "touch", dir / "ran"}, dir.path(), 20);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("port cable must be"), std::string::npos) << r.out;
    struct stat st;
    EXPECT_NE(::stat((dir / "ran").c_str(), &st), 0);
}

TEST(BenchProgram, RunPassesTermToTheCommandAndStillReports) {
    TempDir dir;
    Background bench({bin("vokbench"), "run", "--chain", "2s15", "--", "sleep", "30"}, dir.path(), dir / "log");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_EQ(::kill(bench.pid(), SIGTERM), 0);
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (bench.running() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(bench.running());
    EXPECT_EQ(bench.stop(), 128 + SIGTERM);
    EXPECT_NE(bench.output().find("supply: on"), std::string::npos) << bench.output();
}

// Help reaches stdout with status 0; a usage error prints nothing on stdout, status 2.
TEST(BenchProgram, HelpOnStdoutUsageErrorsOnStderr) {
    struct Case {
        const char *args;
        int status;
        const char *on_stdout;
    };
    const Case cases[] = {
        {"--help", 0, "Usage: vokbench [OPTIONS] SUBCOMMAND"},
        {"serve --help", 0, "--socket PATH"},
        {"run --help", 0, "--port BASE:CABLE"},
        {"ctl --help", 0, "REQUEST: power on|off"},
        {"mkbit --help", 0, "--part PART"},
        {"", 2, ""},
        {"frobnicate", 2, ""},
        {"run --chain 2s15", 2, ""},
        {"run --chain -- true", 2, ""},
        {"mkbit --part 2s15 -o x.bit --seed 1x", 2, ""},
    };
    TempDir dir;
    for (const Case &c : cases) {
        Result r = run({"sh", "-c", "\"$0\" " + std::string(c.args) + " 2>/dev/null", bin("vokbench")}, dir.path(), 10);
        EXPECT_EQ(r.status, c.status) << c.args;
        if (*c.on_stdout)
            EXPECT_NE(r.out.find(c.on_stdout), std::string::npos) << c.args << "\n" << r.out;
        else
            EXPECT_EQ(r.out, "") << c.args;
    }
}

// Bench options apply in their order, whether given on the line or read from a file.
TEST(BenchProgram, BenchOptionsApplyInTheirOrder) {
    TempDir dir;
    std::string cfg = dir / "bench.cfg";
    FILE *f = std::fopen(cfg.c_str(), "w");
    std::fputs("port 0x278:altera\nport 0x378:altera\n", f);
    std::fclose(f);
    Result r = run({bin("vokbench"), "run", "--port", "0x278:xilinx", "--config", cfg, "--port=0x378:none", "--",
                    "true"},
                   dir.path(), 20);
    ASSERT_EQ(r.status, 0) << r.out;
    BenchState s = parse_state(r.out);
    EXPECT_EQ(s.ports["0278"].cable, "altera") << r.out;
    EXPECT_EQ(s.ports["0378"].cable, "none") << r.out;
}

TEST_F(ServedRun, ControlRequestsAnswerAndRefuse) {
    serve({"--chain", "2s15", "--port", "0x378:xilinx"});
    EXPECT_EQ(state().powered, std::optional<bool>(true));
    Result r = ctl("power off");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "power off\n");
    EXPECT_EQ(state().powered, std::optional<bool>(false));
    r = ctl("chain 2s15");
    EXPECT_EQ(r.out, "chain of 1 device\n");
    r = ctl("chain 18v02,2s200");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "chain of 2 devices\n");
    EXPECT_EQ(state().devices[1].part, "2s200");
    r = ctl("chain 2s999");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_EQ(state().devices.size(), 2u);
    // A PROGRAM pulse reaches a Spartan-II of the chain, and only with the supply on.
    for (auto [request, says] : {std::pair{"program 1", "the supply is off"}, {"program 0", "index of a Spartan-II"},
                                 {"program 2", "index of a Spartan-II"}, {"program x", "index of a Spartan-II"}}) {
        r = ctl(request);
        EXPECT_EQ(r.status, 1) << request;
        EXPECT_NE(r.out.find(says), std::string::npos) << request << ": " << r.out;
    }
    r = ctl("port 0x278:altera");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(state().ports["0278"].cable, "altera");
    r = ctl("usb 0:qrt");
    EXPECT_EQ(r.status, 0) << r.out;
    r = ctl("usb 0 unplug");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(ctl("status").out.find("usb 0: qrt, detached"), std::string::npos);
    r = ctl("status --json");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("{\"target\":{", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\"ports\":[{\"base\":\"0x0278\",\"cable\":\"altera\""), std::string::npos) << r.out;
    r = ctl("frobnicate");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("error: unknown request"), std::string::npos) << r.out;
    // A second bench on the same socket is refused while this one answers.
    Result second = run({bin("vokbench"), "serve", "--socket", socket}, dir.path(), 10);
    EXPECT_EQ(second.status, 2);
    EXPECT_NE(second.out.find("already serves"), std::string::npos) << second.out;
    EXPECT_EQ(ctl("status").status, 0);
}

} // namespace
