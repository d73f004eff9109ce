// Real-port access through ppdev and ioperm, with the system calls replaced so that
// each step can be made to fail: what is claimed, and what the user is told.
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <sys/stat.h>
#include <vector>

#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <linux/parport.h>
#include <linux/ppdev.h>

#include "port.h"
#include "support/files.h"

namespace {

using vokhw::PortKind;

// Stands in for the kernel: one parallel port, parport0 at 0x378, whose calls fail
// as the case says. Records every call.
struct FakeKernel {
    int open_err = 0;           // errno of every open, 0 = it opens
    int exclusive_claim_err = 0; // errno of PPCLAIM on a descriptor marked PPEXCL
    int claim_err = 0;           // errno of every PPCLAIM
    int ioperm_err = 0;
    std::vector<std::string> calls;
    std::set<int> exclusive;
    int next_fd = 10;

    vokhw::PortSystem system(const std::string &proc_dir) {
        vokhw::PortSystem sys;
        sys.proc_dir = proc_dir;
        sys.open = [this](const char *path, int) {
            calls.push_back(std::string("open ") + path);
            return fail(open_err) ? -1 : next_fd++;
        };
        sys.ioctl = [this](int fd, unsigned long request, void *) {
            std::string fdtext = " " + std::to_string(fd);
            if (request == PPEXCL) {
                calls.push_back("PPEXCL" + fdtext);
                exclusive.insert(fd);
                return 0;
            }
            if (request == PPCLAIM) {
                calls.push_back("PPCLAIM" + fdtext);
                return fail(exclusive.count(fd) ? exclusive_claim_err : 0) || fail(claim_err) ? -1 : 0;
            }
            if (request == PPRELEASE)
                calls.push_back("PPRELEASE" + fdtext);
            return 0;
        };
        sys.close = [this](int fd) {
            calls.push_back("close " + std::to_string(fd));
            return 0;
        };
        sys.ioperm = [this](unsigned long from, unsigned long count, int on) {
            calls.push_back("ioperm " + std::to_string(from) + " " + std::to_string(count) + " " +
                            std::to_string(on));
            return on && fail(ioperm_err) ? -1 : 0;
        };
        return sys;
    }

    static bool fail(int err) {
        errno = err;
        return err != 0;
    }
};

// Each part appears in told, in this order.
void expect_told(const std::string &told, const std::vector<std::string> &parts) {
    size_t at = 0;
    for (const std::string &part : parts) {
        at = told.find(part, at);
        ASSERT_NE(at, std::string::npos) << "missing: " << part << "\nin:\n" << told;
    }
    if (parts.empty()) {
        EXPECT_EQ(told, "");
    }
}

class PortAccess : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = vokhw::port_system();
        ::mkdir((proc_.path() + "/parport0").c_str(), 0700);
        std::ofstream(proc_.path() + "/parport0/base-addr") << "888\t1912\n";
        ::unsetenv("VOKBENCH");
    }
    void TearDown() override {
        vokhw::port_release();
        vokhw::port_system() = saved_;
    }
    void use(FakeKernel &kernel, const std::string &proc_dir) { vokhw::port_system() = kernel.system(proc_dir); }

    testsupport::TempDir proc_{"vokproc"};
    vokhw::PortSystem saved_;
};

TEST_F(PortAccess, PpdevClaimsExclusivelyThenSharedAndSaysWhatFixesAFailure) {
    struct Case {
        const char *name;
        int open_err, exclusive_claim_err, claim_err;
        bool opened, found;
        std::vector<std::string> calls;
        std::vector<std::string> told; // lines or parts of lines on stderr, in order
    };
    const std::vector<std::string> exclusive = {"open /dev/parport0", "PPEXCL 10", "PPCLAIM 10"};
    const Case cases[] = {
        {"exclusive claim", 0, 0, 0, true, true, exclusive, {}},
        {"printer driver shares the port", 0, ENXIO, 0, true, true,
         {"open /dev/parport0", "PPEXCL 10", "PPCLAIM 10", "close 10", "open /dev/parport0", "PPCLAIM 11"},
         {"/dev/parport0: ioctl PPCLAIM (exclusive): No such device or address\n",
          "the printer driver lp) shares the port; claiming it shared\n"}},
        {"shared claim refused too", 0, ENXIO, EBUSY, false, true,
         {"open /dev/parport0", "PPEXCL 10", "PPCLAIM 10", "close 10", "open /dev/parport0", "PPCLAIM 11",
          "close 11"},
         {"(exclusive): No such device or address\n", "/dev/parport0: ioctl PPCLAIM (shared): Device or resource busy\n"}},
        {"no permission", EACCES, 0, 0, false, true, {"open /dev/parport0"},
         {"/dev/parport0: open: Permission denied\n", "lp group", "usermod -aG lp"}},
        {"node missing", ENOENT, 0, 0, false, false, {"open /dev/parport0"},
         {"/dev/parport0: open: No such file or directory\n", "modprobe parport_pc ppdev\n"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FakeKernel kernel;
        kernel.open_err = c.open_err;
        kernel.exclusive_claim_err = c.exclusive_claim_err;
        kernel.claim_err = c.claim_err;
        use(kernel, proc_.path());
        bool found = !c.found;
        std::string why_not;
        testing::internal::CaptureStderr();
        auto port = vokhw::open_ppdev_port(0x378, &found, &why_not);
        std::string told = testing::internal::GetCapturedStderr();
        EXPECT_EQ(port != nullptr, c.opened);
        EXPECT_EQ(found, c.found);
        EXPECT_EQ(kernel.calls, c.calls);
        EXPECT_EQ(why_not, c.found ? "" : "/dev/parport0 cannot be opened");
        expect_told(told, c.told);
        if (port) {
            kernel.calls.clear();
            EXPECT_TRUE(port->release());
            std::string fd = c.calls.back().substr(c.calls.back().rfind(' '));
            EXPECT_EQ(kernel.calls, (std::vector<std::string>{"PPRELEASE" + fd, "close" + fd}));
        }
    }
}

TEST_F(PortAccess, IopermIsTheFallbackWhenPpdevHasNoPortAndSaysSo) {
    struct Case {
        const char *name;
        bool proc_lists_ports; // false: the parport drivers are not loaded
        int open_err, ioperm_err;
        PortKind kind;
        std::vector<std::string> calls; // before the release
        std::vector<std::string> told;
    };
    const Case cases[] = {
        {"no port at the base", true, 0, 0, PortKind::ioperm, {"ioperm 632 3 1"},
         {"parallel port 0278: no ppdev port: no parallel port in ", " has base address 0278\n",
          "parallel port 0278: using direct port access (ioperm) instead\n"}},
        {"ppdev not loaded, ioperm refused", false, 0, EPERM, PortKind::none, {"ioperm 632 3 1"},
         {"parallel port 0278: no ppdev port: no ", "sudo modprobe parport_pc ppdev",
          "parallel port 0278: ioperm: Operation not permitted (direct access needs root or CAP_SYS_RAWIO)\n"}},
        {"node missing", true, ENOENT, 0, PortKind::ioperm, {"open /dev/parport0", "ioperm 632 3 1"},
         {"parallel port 0278: no ppdev port: /dev/parport0 cannot be opened\n", "(ioperm) instead\n"}},
        {"node refused: no fallback", true, EACCES, 0, PortKind::none, {"open /dev/parport0"},
         {"Permission denied\n"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FakeKernel kernel;
        kernel.open_err = c.open_err;
        kernel.ioperm_err = c.ioperm_err;
        std::ofstream(proc_.path() + "/parport0/base-addr") << (c.open_err ? "632\n" : "888\n");
        use(kernel, c.proc_lists_ports ? proc_.path() : proc_.path() + "/missing");
        testing::internal::CaptureStderr();
        EXPECT_EQ(vokhw::port_acquire(0x278), c.kind);
        std::string told = testing::internal::GetCapturedStderr();
        EXPECT_EQ(kernel.calls, c.calls);
        expect_told(told, c.told);
        kernel.calls.clear();
        EXPECT_TRUE(vokhw::port_release());
        if (c.kind == PortKind::ioperm) {
            EXPECT_EQ(kernel.calls, std::vector<std::string>{"ioperm 632 3 0"});
        }
    }
}

} // namespace
