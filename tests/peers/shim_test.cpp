// The ppdev shim's node: requests it does not serve, and the control register
// as a Linux port driver keeps it, against a served bench.
#include "support/served_bench.h"
#include "ppdev_node.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/ioctl.h>

#include <linux/ppdev.h>

using ppdevshim::Node;

TEST(PpdevShim, UnknownRequestFailsWithEinvalAndIsNamedOnce) {
    Node node("/nonexistent/socket", 3, 0x378);
    testing::internal::CaptureStderr();
    for (int i = 0; i < 2; i++) {
        errno = 0;
        EXPECT_EQ(node.ioctl(PPYIELD, nullptr), -1);
        EXPECT_EQ(errno, EINVAL);
    }
    int x = 0;
    EXPECT_EQ(node.ioctl(0x5401 /* TCGETS */, &x), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "vokbench ppdev: ioctl 0x708d (PPYIELD) on /dev/parport3 is not served (EINVAL)\n"
              "vokbench ppdev: ioctl 0x5401 on /dev/parport3 is not served (EINVAL)\n");
    // A register request before the claim is refused, as the Linux driver does, but named nowhere.
    unsigned char b = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(node.ioctl(PPRSTATUS, &b), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(PpdevShim, NodeNames) {
    const std::pair<const char *, int> cases[] = {
        {"/dev/parport0", 0}, {"/dev/parport12", 12}, {"/dev/parport255", 255}, {"/dev/parport256", -1},
        {"/dev/parport", -1}, {"/dev/parport01", -1}, {"/dev/parport0x", -1},  {"/dev/lp0", -1},
        {"dev/parport0", -1},
    };
    for (auto [path, index] : cases)
        EXPECT_EQ(ppdevshim::parport_index(path), index) << path;
}

class PpdevShimOnBench : public testsupport::ServedBench {};

TEST_F(PpdevShimOnBench, ClaimAndControlRegisterAsLinuxKeepsThem) {
    serve({"--chain", "2s15", "--port", "0x278:none", "--port", "0x378:xilinx"});
    EXPECT_EQ(ppdevshim::bench_port_bases(socket), (std::vector<uint16_t>{0x278, 0x378}));
    ASSERT_EQ(testsupport::ctl(socket, "trace 0x378 on").status, 0);
    Node node(socket, 1, 0x378);
    Node other(socket, 1, 0x378);
    ASSERT_EQ(node.ioctl(PPCLAIM, nullptr), 0);
    EXPECT_EQ(other.ioctl(PPCLAIM, nullptr), -1); // the bench gives a port to one claimant
    EXPECT_EQ(errno, EBUSY);

    auto control = [&] {
        unsigned char c = 0xFF;
        EXPECT_EQ(node.ioctl(PPRCONTROL, &c), 0);
        return c;
    };
    EXPECT_EQ(control(), 0x0C); // INIT high, SELECT_IN asserted
    unsigned char b = 0x23;     // bit 5 turns the data lines around first
    ASSERT_EQ(node.ioctl(PPWCONTROL, &b), 0);
    EXPECT_EQ(control(), 0x03);
    ppdev_frob_struct frob{0x01, 0x00};
    ASSERT_EQ(node.ioctl(PPFCONTROL, &frob), 0);
    EXPECT_EQ(control(), 0x02);
    int forward = 0;
    ASSERT_EQ(node.ioctl(PPDATADIR, &forward), 0);
    EXPECT_EQ(control(), 0x02);
    b = 0x5A;
    ASSERT_EQ(node.ioctl(PPWDATA, &b), 0);
    b = 0;
    ASSERT_EQ(node.ioctl(PPRDATA, &b), 0);
    EXPECT_EQ(b, 0x5A);
    ASSERT_EQ(node.ioctl(PPRELEASE, nullptr), 0);
    EXPECT_EQ(other.ioctl(PPCLAIM, nullptr), 0);
    // The writes the port saw, in order; PPRCONTROL reads no register.
    EXPECT_EQ(testsupport::ctl(socket, "trace 0x378").out, "W 037A 2C\nW 037A 23\nW 037A 22\nW 037A 02\nW 0378 5A\nR 0378 5A\n");
}
