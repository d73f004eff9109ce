// The cable drivers loaded as vokusb loads them, against a served bench: the port
// accesses of their fixed sequences as the bench records them, and what reaches
// the target through each cable.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <functional>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support/driver_library.h"
#include "support/served_bench.h"
#include "vokcable.h"

namespace {

using namespace testsupport;

// Runs body in a child process, so that every test loads the drivers afresh and a
// stuck driver cannot hang the test; returns what body reported.
std::string in_child(const std::string &socket, const std::function<std::string()> &body) {
    int fds[2];
    if (::pipe(fds) != 0) return "pipe failed";
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        ::alarm(30);
        ::setenv("VOKBENCH", socket.c_str(), 1);
        std::string r = body();
        [[maybe_unused]] ssize_t n = ::write(fds[1], r.data(), r.size());
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0) out.append(buf, size_t(n));
    ::close(fds[0]);
    int st = 0;
    ::waitpid(pid, &st, 0);
    if (!WIFEXITED(st) || WEXITSTATUS(st) != 0) out += " [child ended abnormally]";
    return out;
}

class DriverOnBench : public ServedBench {
protected:
    std::vector<std::string> trace(const std::string &base) {
        std::vector<std::string> lines;
        std::istringstream in(ctl("trace " + base).out);
        for (std::string l; std::getline(in, l);) lines.push_back(l);
        return lines;
    }
};

std::string w(int addr, int v) {
    char b[16];
    std::snprintf(b, sizeof b, "W %04X %02X", addr, v);
    return b;
}
std::string r(int addr) {
    char b[16];
    std::snprintf(b, sizeof b, "R %04X", addr);
    return b;
}

// Test-Logic-Reset, then Run-Test/Idle, Select-DR, Capture-DR, Shift-DR: the
// IDCODE register is ready to shift out.
void walk_to_shift_dr(const DriverLibrary &d) {
    d.jtag_txrx(nullptr, nullptr, 5, 1, 1);
    d.jtag_txrx(nullptr, nullptr, 1, 0, 0);
    d.jtag_txrx(nullptr, nullptr, 1, 1, 1);
    d.jtag_txrx(nullptr, nullptr, 2, 0, 0);
}

// The TDI bits of the 12-bit shift: 0xA5 then the upper nibble of 0xC0.
const uint8_t SHIFT_TDI[2] = {0xA5, 0xC0};
const int SHIFT_BITS[12] = {1, 0, 1, 0, 0, 1, 0, 1, 1, 1, 0, 0};

TEST_F(DriverOnBench, XilinxCableSequencesAtThePort) {
    serve({"--chain", "2s15", "--port", "0x378:xilinx"});
    ASSERT_EQ(ctl("trace 378 on").status, 0);
    std::string report = in_child(socket, [] {
        DriverLibrary d(bin("vok_xpar.so"));
        if (!d.complete()) return std::string("cannot load vok_xpar: ") + ::dlerror();
        char name[128] = "";
        int rc = d.jtag_init(0, 0, name);
        const uint8_t a5 = 0xA5;
        d.ss_tx(&a5, 1);
        d.ss_program(0);
        walk_to_shift_dr(d);
        uint8_t tdo[2] = {0xFF, 0xFF};
        d.jtag_txrx(SHIFT_TDI, tdo, 12, 0, 1);
        int power = d.jtag_power();
        d.jtag_end();
        char out[256];
        std::snprintf(out, sizeof out, "init %d name %s power %d tdo %02X %02X", rc, name, power, tdo[0], tdo[1]);
        return std::string(out);
    });
    // The low 12 bits of the XC2S15 IDCODE 0x00608093 come back, least significant first.
    EXPECT_EQ(report, "init 0 name Xilinx Parallel ISP Cable (JTAG),IO Base=0378 power 1 tdo 93 00");

    std::vector<std::string> want = {w(0x378, 0x50), r(0x379), r(0x379), w(0x378, 0x10), r(0x379), r(0x379)};
    for (int v : {0x15, 0x17, 0x14, 0x16, 0x15, 0x17, 0x14, 0x16, 0x14, 0x16, 0x15, 0x17, 0x14, 0x16, 0x15, 0x17})
        want.push_back(w(0x378, v));
    for (int v : {0x10, 0x10, 0x14}) want.push_back(w(0x378, v));
    for (int i = 0; i < 5; ++i) want.insert(want.end(), {w(0x378, 0x14), w(0x378, 0x16)});
    want.insert(want.end(), {w(0x378, 0x10), w(0x378, 0x12), w(0x378, 0x14), w(0x378, 0x16)});
    want.insert(want.end(), {w(0x378, 0x10), w(0x378, 0x12), w(0x378, 0x10), w(0x378, 0x12)});
    for (int i = 0; i < 12; ++i) {
        int v = 0x10 | (i == 11 ? 0x04 : 0) | SHIFT_BITS[i];
        want.insert(want.end(), {w(0x378, v), w(0x378, v | 0x02), r(0x379)});
    }
    want.push_back(r(0x379)); // the power sense
    std::vector<std::string> got = trace("378");
    ASSERT_EQ(got.size(), want.size()) << ::testing::PrintToString(got);
    for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(got[i].substr(0, want[i].size()), want[i]) << "access " << i;
    // The probe saw the detect loop: PE and BUSY follow data bit 6.
    EXPECT_EQ(got[1], "R 0379 7F");
    EXPECT_EQ(got[4], "R 0379 DF");
}

TEST_F(DriverOnBench, AlteraCableSequencesAtThePort) {
    serve({"--chain", "2s15", "--port", "0x378:altera"});
    ASSERT_EQ(ctl("trace 378 on").status, 0);
    std::string report = in_child(socket, [] {
        DriverLibrary d(bin("vok_apar.so"));
        if (!d.complete()) return std::string("cannot load vok_apar: ") + ::dlerror();
        char name[128] = "";
        int rc = d.jtag_init(0, 0, name);
        int power = d.jtag_power();
        walk_to_shift_dr(d);
        uint8_t tdo[2] = {0xFF, 0xFF};
        d.jtag_txrx(SHIFT_TDI, tdo, 12, 0, 1);
        d.jtag_end();
        char out[256];
        std::snprintf(out, sizeof out, "init %d name %s power %d tdo %02X %02X", rc, name, power, tdo[0], tdo[1]);
        return std::string(out);
    });
    EXPECT_EQ(report, "init 0 name Altera BitBlaster ISP Cable (JTAG),IO Base=0378 power 1 tdo 93 00");

    std::vector<std::string> want = {w(0x378, 0x00), r(0x379), w(0x378, 0x20), r(0x379), w(0x37A, 0x02),
                                     w(0x378, 0x00), r(0x379), w(0x378, 0x80), r(0x379)};
    for (int i = 0; i < 5; ++i) want.insert(want.end(), {w(0x378, 0x02), w(0x378, 0x03)});
    want.insert(want.end(), {w(0x378, 0x00), w(0x378, 0x01), w(0x378, 0x02), w(0x378, 0x03)});
    want.insert(want.end(), {w(0x378, 0x00), w(0x378, 0x01), w(0x378, 0x00), w(0x378, 0x01)});
    for (int i = 0; i < 12; ++i) {
        int v = (i == 11 ? 0x02 : 0) | (SHIFT_BITS[i] ? 0x40 : 0);
        want.insert(want.end(), {w(0x378, v), w(0x378, v | 0x01), r(0x379)});
    }
    std::vector<std::string> got = trace("378");
    ASSERT_EQ(got.size(), want.size()) << ::testing::PrintToString(got);
    for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(got[i].substr(0, want[i].size()), want[i]) << "access " << i;
    EXPECT_EQ(got[1], "R 0379 17"); // ACK follows data bit 5, TDO high reads 0, pin 15 grounded
    EXPECT_EQ(got[3], "R 0379 57");
}

TEST_F(DriverOnBench, ProgramClearsThroughTheXilinxCableButNotThroughTheAlteraAdapter) {
    serve({"--chain", "2s30", "--port", "0x378:altera-ss", "--port", "0x278:xilinx-ss"});
    Bitstream bit = mkbit(dir, "2s30", "d.bit", {"--startup", "cclk"});
    Result run1 = vokusb({bit.path, "-driver", "vok_apar", "-mode", "sserial"}, 60);
    ASSERT_EQ(run1.status, 0) << run1.out;
    auto device = [&] { return state().devices[0]; };
    ASSERT_TRUE(device().configured);

    std::string report = in_child(socket, [] {
        DriverLibrary d(bin("vok_apar.so"));
        if (!d.complete()) return std::string("cannot load vok_apar");
        int rc = d.ss_init(0x378, 0, nullptr);
        d.ss_program(0);
        d.ss_program(1);
        return "init " + std::to_string(rc) + " done " + std::to_string(d.ss_done());
    });
    EXPECT_EQ(report, "init 0 done 1");
    DeviceState s = device();
    EXPECT_TRUE(s.configured);
    EXPECT_EQ(s.configurations, 1);
    EXPECT_EQ(s.digest, bit.digest);

    report = in_child(socket, [] {
        DriverLibrary d(bin("vok_xpar.so"));
        if (!d.complete()) return std::string("cannot load vok_xpar");
        int rc = d.ss_init(0x278, 0, nullptr);
        d.ss_program(0);
        int done = d.ss_done();
        d.jtag_end();
        return "init " + std::to_string(rc) + " done " + std::to_string(done);
    });
    EXPECT_EQ(report, "init 0 done 0");
    EXPECT_FALSE(device().configured);
}

} // namespace
