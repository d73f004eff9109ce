// vokusb in a QEMU guest that owns the bench's boards over usbredir: the libusb
// backend, the guest kernel's enumeration and renumeration, udev and its rule,
// an unprivileged user. Each vokbench run --vm boots one guest.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

#include "support/served_bench.h"

namespace {

using namespace testsupport;

// Why a guest cannot run here, or empty.
std::string guest_unavailable() {
    if (run({"sh", "-c", "command -v qemu-system-x86_64"}, "").status != 0)
        return "qemu-system-x86_64 is not installed (apt-get install qemu-system-x86)";
    return "";
}

class GuestRun : public ::testing::Test {
protected:
    TempDir dir{"vokvm"};

    void SetUp() override {
        std::string why = guest_unavailable();
        if (!why.empty()) GTEST_SKIP() << why;
    }
    std::string mkbit(const std::string &part, const std::vector<std::string> &extra = {}) {
        return testsupport::mkbit(dir, part, part + (extra.empty() ? "" : "-cclk") + ".bit", extra).path;
    }
    std::vector<std::string> vm(const std::vector<std::string> &bench, const std::vector<std::string> &command) {
        std::vector<std::string> argv{bin("vokbench"), "run"};
        argv.insert(argv.end(), bench.begin(), bench.end());
        argv.push_back("--");
        argv.insert(argv.end(), command.begin(), command.end());
        return argv;
    }
};

TEST_F(GuestRun, EachBoardConfiguresAnXc2s200FromBareThroughTheGuestKernel) {
    std::string jtag = mkbit("2s200"), cclk = mkbit("2s200", {"--startup", "cclk"});
    struct Case {
        const char *board;
        std::vector<std::string> vokusb;
        const char *name;
    } cases[] = {
        {"an2135sc-jtag", {jtag, "-driver", "vok_usb"}, "AN2135SC (FWR=TCK"},
        {"an2135sc-ss", {cclk, "-driver", "vok_usb", "-mode", "sserial"}, "AN2135SC (FWR=CCLK"},
        {"spi", {jtag, "-driver", "vok_usb2"}, "EZ-USB No.0"},
        {"qrt", {jtag, "-driver", "vok_qrt"}, "USB-QRT(AN2131SC)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.board);
        std::vector<std::string> command{bin("vokusb")};
        command.insert(command.end(), c.vokusb.begin(), c.vokusb.end());
        auto start = std::chrono::steady_clock::now();
        Result r = run(vm({"--chain", "2s200", "--usb", std::string("0:") + c.board, "--vm"}, command), dir.path(),
                       240);
        double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_TRUE(has(r.out, "Complete!")) << r.out;
        EXPECT_TRUE(has(r.out, c.name)) << r.out;
        EXPECT_TRUE(has(r.out, "configured yes")) << r.out;
        EXPECT_EQ(usb_field(r.out, "loads"), 1) << r.out;
        std::printf("%s through the guest: %.1f s wall, bulk_us %ld\n", c.board, wall, usb_field(r.out, "bulk_us"));
    }
}

TEST_F(GuestRun, WithoutTheUdevRuleTheUnprivilegedUserCannotOpenTheBoard) {
    std::string file = mkbit("2s200");
    // One boot: who runs the command, the bench's variable gone, then the open.
    Result r = run(vm({"--chain", "2s200", "--usb", "0:an2135sc-jtag", "--vm", "--vm-no-rule"},
                      {"sh", "-c",
                       "echo uid=$(id -u) groups=$(id -G) VOKBENCH=${VOKBENCH-unset}; exec \"$0\" \"$1\" -driver vok_usb",
                       bin("vokusb"), file}),
                   dir.path(), 240);
    EXPECT_TRUE(has(r.out, "uid=65534 groups=65534 46 VOKBENCH=unset")) << r.out;
    EXPECT_NE(r.status, 0) << r.out;
    EXPECT_TRUE(has(r.out, "Can't found EZ-USB")) << r.out;
    EXPECT_TRUE(has(r.out, "/dev/bus/usb/") && has(r.out, "60-vokusb-ezusb.rules")) << "the node and the rule: " << r.out;
    EXPECT_EQ(usb_field(r.out, "loads"), 0) << r.out;
    EXPECT_TRUE(has(r.out, "configured no")) << r.out;
}

TEST_F(GuestRun, TwoBareBoardsWithChainsOfTheirOwnConfigureTheirOwnFpgasAtOnce) {
    std::string big = mkbit("2s200"), small = mkbit("2s100");
    // Both runs start together; the script's status is theirs.
    std::string script = "\"$0\" \"$1\" -driver vok_usb -port 0 >/run/tmp/0 2>&1 & a=$!; "
                         "\"$0\" \"$2\" -driver vok_usb -port 1 >/run/tmp/1 2>&1 & b=$!; "
                         "wait $a; ra=$?; wait $b; rb=$?; cat /run/tmp/0 /run/tmp/1; exit $((ra | rb))";
    Result r = run(vm({"--usb", "0:an2135sc-jtag:2s200", "--usb", "1:an2135sc-jtag:2s100", "--vm"},
                      {"sh", "-c", script, bin("vokusb"), big, small}),
                   dir.path(), 240);
    EXPECT_EQ(r.status, 0) << r.out;
    size_t board1 = r.out.find("usb 1:");
    ASSERT_NE(board1, std::string::npos) << r.out;
    std::string first = r.out.substr(r.out.find("usb 0:"), board1), second = r.out.substr(board1);
    EXPECT_TRUE(has(first, "2s200") && has(first, "configured yes")) << r.out;
    EXPECT_TRUE(has(second, "2s100") && has(second, "configured yes")) << r.out;
    EXPECT_EQ(usb_field(r.out, "loads"), 1) << r.out;
}

TEST_F(GuestRun, AnUnplugMidRunEndsTheRunWithAFailureWithin15Seconds) {
    std::string file = mkbit("2s200");
    std::string socket = dir / "bench.sock";
    Background guest(vm({"--chain", "2s200", "--usb", "0:an2135sc-jtag", "--vm", "--socket", socket},
                        {bin("vokusb"), file, "-driver", "vok_usb"}),
                     dir.path(), dir / "guest.log");
    auto state = [&] { return ctl(socket, "status").out; };
    // The firmware is in and the driver has started talking to it.
    ASSERT_TRUE(wait_until([&] { return usb_field(state(), "packets out") > 0; }, 180, 20)) << guest.output();
    ASSERT_EQ(ctl(socket, "usb 0 unplug").status, 0);
    auto unplugged = std::chrono::steady_clock::now();
    ASSERT_TRUE(guest.wait(60)) << guest.output();
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - unplugged).count();
    EXPECT_NE(guest.status(), 0) << guest.output();
    EXPECT_LT(took, 15.0) << guest.output();
    std::printf("unplugged mid-run: the run ended %.1f s later\n", took);
    EXPECT_TRUE(has(guest.output(), "configured no")) << guest.output();
}

} // namespace
