// vokusb in a QEMU guest that owns the bench's boards over usbredir: the libusb
// backend, the guest kernel's enumeration and renumeration, udev and its rule,
// an unprivileged user. Each vokbench run --vm boots one guest.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "support/files.h"
#include "support/process.h"

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

// Why a guest cannot run here, or empty.
std::string guest_unavailable() {
    if (run({"sh", "-c", "command -v qemu-system-x86_64"}, "").status != 0)
        return "qemu-system-x86_64 is not installed (apt-get install qemu-system-x86)";
    // The command runs as an unprivileged user in the guest: it must reach the build.
    std::string path = VOK_BIN_DIR;
    for (size_t at = 1; at != std::string::npos; at = path.find('/', at + 1)) {
        struct stat st;
        std::string part = path.substr(0, at == 0 ? 1 : at);
        if (::stat(part.c_str(), &st) == 0 && !(st.st_mode & S_IXOTH))
            return part + " is closed to other users, so the guest's unprivileged user cannot reach the build";
    }
    return "";
}

class GuestRun : public ::testing::Test {
protected:
    TempDir dir{"vokvm"};

    void SetUp() override {
        ::chmod(dir.path().c_str(), 0755); // the guest's user reads the bitstreams
        std::string why = guest_unavailable();
        if (!why.empty()) GTEST_SKIP() << why;
    }
    std::string mkbit(const std::string &part, const std::vector<std::string> &extra = {}) {
        std::string file = dir / (part + (extra.empty() ? "" : "-cclk") + ".bit");
        std::vector<std::string> argv{bin("vokbench"), "mkbit", "--part", part, "-o", file};
        argv.insert(argv.end(), extra.begin(), extra.end());
        Result r = run(argv, dir.path());
        EXPECT_EQ(r.status, 0) << r.out;
        ::chmod(file.c_str(), 0644);
        return file;
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
    EXPECT_EQ(usb_field(r.out, "loads"), 0) << r.out;
    EXPECT_TRUE(has(r.out, "configured no")) << r.out;
}

TEST_F(GuestRun, AnUnplugMidRunEndsTheRunWithAFailureWithin15Seconds) {
    std::string file = mkbit("2s200");
    std::string socket = dir / "bench.sock";
    Background guest(vm({"--chain", "2s200", "--usb", "0:an2135sc-jtag", "--vm", "--socket", socket},
                        {bin("vokusb"), file, "-driver", "vok_usb"}),
                     dir.path(), dir / "guest.log");
    auto state = [&] { return run({bin("vokbench"), "ctl", "--socket", socket, "status"}, dir.path()).out; };
    // The firmware is in and the driver has started talking to it.
    ASSERT_TRUE(wait_until([&] { return usb_field(state(), "packets out") > 0; }, 180, 20)) << guest.output();
    ASSERT_EQ(run({bin("vokbench"), "ctl", "--socket", socket, "usb", "0", "unplug"}, dir.path()).status, 0);
    auto unplugged = std::chrono::steady_clock::now();
    ASSERT_TRUE(guest.wait(60)) << guest.output();
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - unplugged).count();
    EXPECT_NE(guest.status(), 0) << guest.output();
    EXPECT_LT(took, 15.0) << guest.output();
    std::printf("unplugged mid-run: the run ended %.1f s later\n", took);
    EXPECT_TRUE(has(guest.output(), "configured no")) << guest.output();
}

} // namespace
