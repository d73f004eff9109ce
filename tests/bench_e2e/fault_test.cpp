// Faults injected while vokusb configures an XC2S200 through vok_xpar on a
// served bench, and files that must never reach an FPGA. The run under test is
// frozen (SIGSTOP) once its progress line passes half of the data, the fault is
// injected, and the run goes on (SIGCONT): so "half way" holds on any machine.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "support/served_bench.h"

namespace {

using namespace testsupport;
using namespace std::chrono_literals;

class Fault : public ServedBench {
protected:
    void SetUp() override
    {
        serve({"--chain", "2s200", "--port", "0x378:xilinx"});
        first = mkbit(dir, "2s200", "design.bit", {"--startup", "jtag", "--time", "10:00:00"});
    }

    std::unique_ptr<Background> start(const std::vector<std::string> &extra = {})
    {
        std::vector<std::string> args = {"design.bit", "-driver", "vok_xpar"};
        args.insert(args.end(), extra.begin(), extra.end());
        return start_vokusb(args);
    }
    static void thaw(Background &run)
    {
        if (run.pid() > 0)
            ::kill(run.pid(), SIGCONT);
    }

    DeviceState device() { return state().devices[0]; }
    bool device_becomes(const Bitstream &bit, int configurations)
    {
        return wait_until(
            [&] {
                const DeviceState d = device();
                return d.configured && d.digest == bit.digest && d.configurations == configurations;
            },
            60, 50);
    }

    Bitstream first;
};

TEST_F(Fault, SupplyOffHalfWayFailsTheRun)
{
    auto run = start();
    ASSERT_NO_FATAL_FAILURE(freeze_half_way(*run));
    ASSERT_EQ(ctl("power off").status, 0);
    ASSERT_EQ(ctl("power on").status, 0); // the data sent before the loss are gone
    thaw(*run);
    ASSERT_TRUE(run->wait(30)) << run->output();
    EXPECT_NE(run->status(), 0) << run->output();
    EXPECT_EQ(run->output().find("Complete!"), std::string::npos) << run->output();
    EXPECT_FALSE(device().configured);
}

TEST_F(Fault, BenchKilledHalfWayEndsTheRunWithinFiveSeconds)
{
    auto run = start();
    ASSERT_NO_FATAL_FAILURE(freeze_half_way(*run));
    bench->stop(SIGKILL);
    const auto killed = std::chrono::steady_clock::now();
    thaw(*run);
    ASSERT_TRUE(run->wait(5)) << run->output();
    EXPECT_LT(std::chrono::steady_clock::now() - killed, 5s);
    EXPECT_NE(run->status(), 0) << run->output();
    EXPECT_LT(run->status(), 128) << "ended by a signal: " << run->output();
    EXPECT_NE(run->output().find("Lost the connection to the bench"), std::string::npos) << run->output();
    EXPECT_EQ(run->output().find("Complete!"), std::string::npos) << run->output();
}

TEST_F(Fault, ContinuousRunConfiguresTheWholeFileAfterTheSupplyReturns)
{
    auto run = start({"-continue"});
    ASSERT_NO_FATAL_FAILURE(freeze_half_way(*run));
    ASSERT_EQ(ctl("power off").status, 0);
    thaw(*run);
    ASSERT_TRUE(wait_until([&] { return run->output().find("Target Power Down\n") != std::string::npos; }, 30))
        << run->output();
    EXPECT_FALSE(device().configured);
    ASSERT_EQ(ctl("power on").status, 0);
    EXPECT_TRUE(device_becomes(first, 1)) << run->output();
    EXPECT_TRUE(run->running()) << run->output();
}

// The pass under way keeps the data it opened; the next pass loads the new file.
TEST_F(Fault, FileRewrittenHalfWayInContinuousMode)
{
    auto run = start({"-continue"});
    ASSERT_NO_FATAL_FAILURE(freeze_half_way(*run));
    const Bitstream second = mkbit(dir, "2s200", "design.bit", {"--startup", "jtag", "--time", "11:00:00", "--seed", "9"});
    ASSERT_NE(second.digest, first.digest);
    thaw(*run);
    EXPECT_TRUE(device_becomes(first, 1)) << run->output();
    EXPECT_TRUE(device_becomes(second, 2)) << run->output();
}

// Files that must not touch the FPGA leave the design it runs as it was.
TEST_F(Fault, WrongOrIncompleteFilesLeaveAConfiguredFpgaAlone)
{
    auto good = start();
    ASSERT_TRUE(good->wait(60));
    ASSERT_EQ(good->status(), 0) << good->output();
    ASSERT_TRUE(device_becomes(first, 1));

    const std::string whole = read_file(first.path);
    std::string other_family = whole;
    const std::string part_field = std::string("b\0\x0b" "2s200pq208\0", 14);
    const size_t at = other_family.find(part_field);
    ASSERT_NE(at, std::string::npos);
    other_family.replace(at, part_field.size(), std::string("b\0\x0c" "2s300epq208\0", 15));
    write_file(dir / "spartan2e.bit", other_family);
    write_file(dir / "half.bit", whole.substr(0, whole.size() / 2));
    mkbit(dir, "2s15", "small.bit", {"--startup", "jtag"});

    const struct {
        const char *file;
        int status;
        const char *says;
    } cases[] = {
        {"small.bit", 32, "No device in the chain is the bitstream's part '2s15"},
        {"spartan2e.bit", 32, "The bitstream's part '2s300epq208' is not a device this program knows"},
        {"half.bit", 128, "Bitstream file 'half.bit' is not complete: its header announces 166980 bytes"},
    };
    for (const auto &c : cases) {
        Result r = vokusb({c.file, "-driver", "vok_xpar"}, 60);
        EXPECT_EQ(r.status, c.status) << r.out;
        EXPECT_NE(r.out.find(c.says), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("FPGA shutdown"), std::string::npos) << r.out;
        EXPECT_TRUE(device_becomes(first, 1)) << c.file;
    }
}

// The Altera cable's slave-serial adapter does not carry PROGRAM: a configured
// FPGA is not cleared, and the run says so instead of sending data for nothing.
TEST(SlaveSerialFault, CableThatCannotDriveProgramIsCaughtBeforeTheData)
{
    TempDir dir;
    const Bitstream bit = mkbit(dir, "2s100", "d.bit", {"--startup", "cclk"});
    Result r = run({bin("vokbench"), "run", "--chain", "2s100", "--port", "0x378:altera-ss", "--", "sh", "-c",
                    "for i in 1 2; do " + bin("vokusb") + " d.bit -driver vok_apar -mode sserial; echo status $?; done"},
                   dir.path(), 60);
    EXPECT_NE(r.out.find("Complete!\nstatus 0\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("the FPGA was not cleared"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Error ! ,target\nstatus 32\n"), std::string::npos) << r.out;
    const BenchState s = parse_state(r.out);
    ASSERT_TRUE(s.devices.count(0)) << r.out;
    EXPECT_EQ(s.devices.at(0).configurations, 1) << r.out;
    EXPECT_EQ(s.devices.at(0).digest, bit.digest) << r.out;
}

TEST(SlaveSerialFault, BitstreamThatStartsUpOnTheJtagClockIsNamed)
{
    TempDir dir;
    mkbit(dir, "2s100", "j.bit", {"--startup", "jtag"});
    Result r = run({bin("vokbench"), "run", "--chain", "2s100", "--port", "0x378:xilinx-ss", "--", bin("vokusb"),
                    "j.bit", "-driver", "vok_xpar", "-mode", "sserial"},
                   dir.path(), 60);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("The bitstream's start-up clock is the JTAG clock, which slave serial does not run: "
                         "generate it with CCLK as the start-up clock\nError ! \n"),
              std::string::npos)
        << r.out;
}

TEST(BenchFileFault, ABenchFileThatNeverEndsIsRefused)
{
    TempDir dir;
    ASSERT_EQ(::symlink("/dev/zero", (dir / "endless.cfg").c_str()), 0);
    Result r = run({bin("vokbench"), "run", "--config", dir / "endless.cfg", "--", "true"}, dir.path(), 20);
    EXPECT_FALSE(r.timed_out);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("is longer than 1 MiB"), std::string::npos) << r.out;
}

} // namespace
