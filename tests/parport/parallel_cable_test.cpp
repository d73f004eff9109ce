// Port-level traces of the two parallel-port cable drivers, loaded from the build's bin
// folder with a test bench behind VOKBENCH: one table over their wirings where they
// behave alike, then what only one of them does. Each test loads the library afresh,
// so that its module state starts anew.
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/driver_library.h"
#include "test_bench.h"
#include "vokcable.h"

namespace {

using testsupport::DriverLibrary;
using Strings = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

std::vector<std::string> lines(const std::vector<PortRecord> &log) {
    Strings out;
    for (const auto &r : log)
        out.push_back(to_string(r));
    return out;
}

int count_op(const std::vector<PortRecord> &log, char op) {
    int n = 0;
    for (const auto &r : log)
        n += r.op == op;
    return n;
}

// A probe that fails: the status values answered, then the data writes made and the
// number of status reads before the driver gave up.
struct ProbeFailure {
    Bytes reads;
    Bytes writes;
    int read_count;
};

// A power check: the status values answered, the result and the records.
struct PowerCase {
    Bytes reads;
    int32_t powered;
    Strings records;
};

struct CableCase {
    const char *library;
    const char *maker; // start of the probe names
    TestBench::Responder powered_cable;
    Strings open_records; // a good open at the default base, then one status read
    std::vector<ProbeFailure> probe_failures;
    std::vector<PowerCase> power;
    Bytes tdo_reads;    // TDO levels 1 1 0 0 0 1 0 1 1 0 1 1
    Bytes shift_writes; // shifting A5 9F, twelve bits, TMS on the last
    Bytes short_shift_writes;
    bool exports_giveio;
};

void PrintTo(const CableCase &c, std::ostream *os) { *os << c.library; }

// Detect loop data bit 6 -> status bit 5, and inverted by the port on status bit 7;
// power sense on status bit 3.
uint8_t xilinx_cable(uint16_t, uint8_t data, uint8_t) {
    return 0x07 | 0x08 | ((data & 0x40) ? 0x20 : 0x80);
}

// Detect loop data bit 5 -> status bit 6, power-sense loop data bit 7 -> status bit 5,
// TDO high (status bit 7 = 0).
uint8_t altera_cable(uint16_t, uint8_t data, uint8_t) {
    return 0x07 | 0x08 | ((data & 0x80) ? 0x20 : 0) | ((data & 0x20) ? 0x40 : 0);
}

const CableCase xpar = {
    "vok_xpar",
    "Xilinx Parallel ISP Cable",
    xilinx_cable,
    {"O 0378 00", "W 0378 50", "R 0379 2F", "R 0379 2F", "W 0378 10", "R 0379 8F", "R 0379 8F",
     "R 0379 8F"},
    // A wrong answer to each of the four probe reads.
    {{{0x00}, {0x50}, 1},
     {{0x20, 0xA0}, {0x50}, 2},
     {{0x20, 0x00, 0x20}, {0x50, 0x10}, 3},
     {{0x20, 0x00, 0x00, 0x00}, {0x50, 0x10}, 4}},
    // Power is status bit 3 alone.
    {{{0x08}, 1, {"R 0379 08"}}, {{0xF7}, 0, {"R 0379 F7"}}},
    {0x10, 0x10, 0, 0, 0, 0x10, 0, 0x10, 0x10, 0, 0x10, 0x10},
    {0x11, 0x13, 0x10, 0x12, 0x11, 0x13, 0x10, 0x12, 0x10, 0x12, 0x11, 0x13,
     0x10, 0x12, 0x11, 0x13, 0x11, 0x13, 0x10, 0x12, 0x10, 0x12, 0x15, 0x17},
    {0x14, 0x16, 0x14, 0x16, 0x10, 0x12, 0x15, 0x17},
    true,
};

const CableCase apar = {
    "vok_apar",
    "Altera BitBlaster ISP Cable",
    altera_cable,
    {"O 0378 00", "W 0378 00", "R 0379 0F", "W 0378 20", "R 0379 4F", "W 037A 02", "R 0379 4F"},
    // Nothing attached (status bit 6 high at once), and status bit 6 stuck at 0.
    {{{0x7F}, {0x00}, 1}, {{0x3F, 0x3F}, {0x00, 0x20}, 2}},
    // Power is the loop from data bit 7 to status bit 5; status bit 3 (pin 15,
    // grounded on a ByteBlasterMV) plays no part.
    {{{0x47, 0x67}, 1, {"W 0378 00", "R 0379 47", "W 0378 80", "R 0379 67"}},
     {{0x0F, 0x2F}, 1, {"W 0378 00", "R 0379 0F", "W 0378 80", "R 0379 2F"}},
     {{0x28}, 0, {"W 0378 00", "R 0379 28"}},
     {{0x08, 0x08}, 0, {"W 0378 00", "R 0379 08", "W 0378 80", "R 0379 08"}}},
    // TDO comes back inverted on status bit 7.
    {0x00, 0x7F, 0x80, 0xFF, 0x80, 0x00, 0x80, 0x00, 0x00, 0x80, 0x00, 0x00},
    {0x40, 0x41, 0x00, 0x01, 0x40, 0x41, 0x00, 0x01, 0x00, 0x01, 0x40, 0x41,
     0x00, 0x01, 0x40, 0x41, 0x40, 0x41, 0x00, 0x01, 0x00, 0x01, 0x42, 0x43},
    {0x02, 0x03, 0x02, 0x03, 0x00, 0x01, 0x42, 0x43},
    false,
};

class CableDriver : public ::testing::Test {
protected:
    void load(const CableCase &c) {
        bench_ = std::make_unique<TestBench>();
        bench_->add_port(0x378);
        bench_->add_port(0x278);
        bench_->set_responder(c.powered_cable);
        ::setenv("VOKBENCH", bench_->socket_path().c_str(), 1);
        lib_ = std::make_unique<DriverLibrary>(std::string(VOK_BIN_DIR) + "/" + c.library + ".so");
        ASSERT_NE(lib_->handle, nullptr) << ::dlerror();
        EXPECT_EQ(lib_->missing(), nullptr);
    }

    void TearDown() override {
        if (lib_)
            lib_->close();
        ::unsetenv("VOKBENCH");
        bench_.reset();
    }

    // A symbol beyond the entry points, e.g. the port-access service's.
    template <class F> F sym(const char *name) {
        void *p = ::dlsym(lib_->handle, name);
        EXPECT_NE(p, nullptr) << name;
        return reinterpret_cast<F>(p);
    }

    // Opens the cable and forgets the records of the open; the DONE read (a read and
    // nothing else) makes sure that the writes of the open have all arrived.
    void open_cable() {
        ASSERT_EQ(lib_->jtag_init(0, 0, nullptr), VOK_INIT_READY);
        lib_->ss_done();
        bench_->clear();
    }

    std::unique_ptr<TestBench> bench_;
    std::unique_ptr<DriverLibrary> lib_;
};

class ParallelCable : public CableDriver, public ::testing::WithParamInterface<CableCase> {
protected:
    void SetUp() override { load(GetParam()); }
    std::string name_of(const char *mode, const char *base) const {
        return std::string(GetParam().maker) + " (" + mode + "),IO Base=" + base;
    }
};

TEST_P(ParallelCable, OpenProbesTheDetectLoopAndNamesTheCable) {
    char name[128];
    std::memset(name, 'x', sizeof name);
    EXPECT_EQ(lib_->jtag_init(0, 0, name), VOK_INIT_READY);
    EXPECT_EQ(name, name_of("JTAG", "0378"));
    lib_->ss_done();
    EXPECT_EQ(lines(bench_->records()), GetParam().open_records);
    EXPECT_EQ(lib_->jtag_end(), 0);

    // Another base moves every register; a null name buffer is left alone.
    bench_->clear();
    EXPECT_EQ(lib_->ss_init(0x278, 0, name), VOK_INIT_READY);
    EXPECT_EQ(name, name_of("CCLK", "0278"));
    EXPECT_EQ(lib_->jtag_end(), 0);
    for (const auto &r : bench_->records())
        EXPECT_TRUE(r.addr >= 0x278 && r.addr <= 0x27A) << to_string(r);
    EXPECT_EQ(lib_->ss_init(0, 0, nullptr), VOK_INIT_READY);
}

TEST_P(ParallelCable, ProbeStopsAtTheFirstWrongReadWithNoProbe) {
    for (const ProbeFailure &f : GetParam().probe_failures) {
        SCOPED_TRACE(f.read_count);
        bench_->clear();
        bench_->script_reads(f.reads);
        testing::internal::CaptureStdout();
        EXPECT_EQ(lib_->jtag_init(0x378, 0, nullptr), VOK_INIT_NO_PROBE);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "No Probe\n");
        EXPECT_EQ(lib_->jtag_end(), 0); // sends what is pending and releases
        auto log = bench_->records();
        EXPECT_EQ(count_op(log, 'R'), f.read_count);
        EXPECT_EQ(writes_to(log, 0x378), f.writes);
        EXPECT_TRUE(writes_to(log, 0x37A).empty()); // no buffer enabled
    }
}

TEST_P(ParallelCable, NoPortAccessSaysSoAndTouchesNoRegister) {
    char name[128] = "";
    testing::internal::CaptureStdout();
    EXPECT_EQ(lib_->jtag_init(0x3BC, 0, name), VOK_INIT_NO_PROBE);
    EXPECT_EQ(lib_->ss_init(0x3BC, 0, name), VOK_INIT_NO_PROBE);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Can't access GIVEIO system\nCan't access GIVEIO system\n");
    EXPECT_EQ(name, name_of("CCLK", "03BC"));
    EXPECT_EQ(lib_->jtag_power(), 0);
    lib_->ss_tx(reinterpret_cast<const uint8_t *>("\xFF"), 1);
    EXPECT_EQ(lib_->jtag_end(), 0);
    for (const auto &r : bench_->records())
        EXPECT_EQ(r.op, 'O') << to_string(r);
}

TEST_P(ParallelCable, PowerSenseOfBothModes) {
    open_cable();
    for (const PowerCase &c : GetParam().power) {
        SCOPED_TRACE(testing::PrintToString(c.records));
        bench_->clear();
        bench_->script_reads(c.reads);
        EXPECT_EQ(lib_->jtag_power(), c.powered);
        EXPECT_EQ(lines(bench_->records()), c.records);
        bench_->script_reads(c.reads);
        EXPECT_EQ(lib_->ss_power(), c.powered);
    }
}

TEST_P(ParallelCable, TwelveBitShiftWithTdo) {
    open_cable();
    const uint8_t tdi[2] = {0xA5, 0x9F}; // 1010 0101 1001 (low nibble of 0x9F unused)
    bench_->script_reads(GetParam().tdo_reads);
    uint8_t tdo[3] = {0xFF, 0xFF, 0xEE};
    EXPECT_EQ(lib_->jtag_txrx(tdi, tdo, 12, 0, 1), 0);
    EXPECT_EQ(tdo[0], 0xA3);
    EXPECT_EQ(tdo[1], 0x0D); // spare high bits cleared
    EXPECT_EQ(tdo[2], 0xEE); // beyond (12 + 7) / 8 bytes: untouched
    auto log = bench_->records();
    EXPECT_EQ(writes_to(log, 0x378), GetParam().shift_writes);
    // Each bit: TCK low, TCK high, then TDO read while TCK is high.
    ASSERT_EQ(log.size(), 36u);
    for (size_t i = 0; i < log.size(); ++i)
        EXPECT_EQ(to_string(log[i]).substr(0, 6), i % 3 == 2 ? "R 0379" : "W 0378") << i;
}

TEST_P(ParallelCable, NullBuffersAndShortShifts) {
    open_cable();
    // Null TDI sends zeros, null TDO reads nothing; TMS on all but the last bit.
    EXPECT_EQ(lib_->jtag_txrx(nullptr, nullptr, 3, 1, 0), 0);
    // A single bit takes the last-bit TMS.
    const uint8_t one = 0x80;
    EXPECT_EQ(lib_->jtag_txrx(&one, nullptr, 1, 0, 1), 0);
    // No bits, or fewer: nothing clocked, nothing cleared.
    uint8_t tdo[2] = {0x5A, 0x5A};
    EXPECT_EQ(lib_->jtag_txrx(&one, tdo, 0, 1, 1), 0);
    EXPECT_EQ(lib_->jtag_txrx(&one, tdo, -5, 1, 1), 0);
    EXPECT_EQ(tdo[0], 0x5A);
    EXPECT_EQ(lib_->jtag_end(), 0);
    auto log = bench_->records();
    EXPECT_EQ(writes_to(log, 0x378), GetParam().short_shift_writes);
    EXPECT_EQ(count_op(log, 'R'), 0);
}

// Both cables write the Xilinx cable's slave-serial values.
TEST_P(ParallelCable, SlaveSerialProgramBytesAndDone) {
    open_cable();
    const uint8_t a5 = 0xA5;
    EXPECT_EQ(lib_->ss_program(0), 0); // one complete pulse whatever the level
    EXPECT_EQ(lib_->ss_program(7), 0);
    EXPECT_EQ(lib_->ss_tx(&a5, 1), 0);
    EXPECT_EQ(lib_->ss_tx(nullptr, 3), 0);
    bench_->script_reads({0x10, 0xEF});
    EXPECT_EQ(lib_->ss_done(), 1);
    EXPECT_EQ(lib_->ss_done(), 0);
    Bytes want = {0x10, 0x10, 0x14, 0x10, 0x10, 0x14, 0x15, 0x17, 0x14, 0x16, 0x15,
                  0x17, 0x14, 0x16, 0x14, 0x16, 0x15, 0x17, 0x14, 0x16, 0x15, 0x17};
    auto log = bench_->records();
    EXPECT_EQ(writes_to(log, 0x378), want);
    EXPECT_EQ(log.size(), want.size() + 2);
}

TEST_P(ParallelCable, CloseSendsPendingWritesAndGivesThePortBack) {
    open_cable();
    const uint8_t data[2] = {0x00, 0xFF};
    lib_->ss_tx(data, 2);
    EXPECT_EQ(lib_->ss_end(), 0);
    EXPECT_TRUE(bench_->wait_disconnected());
    auto log = bench_->records();
    ASSERT_EQ(log.size(), 33u);
    EXPECT_EQ(to_string(log.back()), "X 0378 00");

    ASSERT_EQ(lib_->jtag_init(0, 0, nullptr), VOK_INIT_READY);
    EXPECT_EQ(bench_->connections(), 2);
    EXPECT_EQ(lib_->jtag_end(), 0);
    EXPECT_TRUE(bench_->wait_disconnected());
    EXPECT_EQ(lib_->jtag_version(), 0x10000u);
    EXPECT_EQ(lib_->ss_version(), 0x10000u);
    EXPECT_EQ(dlsym(lib_->handle, "giveio_start") != nullptr, GetParam().exports_giveio);
}

TEST_P(ParallelCable, UnloadingWithThePortStillHeldSendsPendingWrites) {
    open_cable();
    const uint8_t data = 0x0F;
    lib_->ss_tx(&data, 1);
    ASSERT_EQ(lib_->close(), 0);
    EXPECT_TRUE(bench_->wait_disconnected());
    auto log = bench_->records();
    ASSERT_EQ(log.size(), 17u);
    EXPECT_EQ(writes_to(log, 0x378).back(), 0x17);
    EXPECT_EQ(to_string(log.back()), "X 0378 00");
}

INSTANTIATE_TEST_SUITE_P(Wirings, ParallelCable, ::testing::Values(xpar, apar),
                         [](const auto &info) {
                             return std::string(info.param.library).substr(4);
                         });

// The Xilinx driver also exports the port-access service.
class Xpar : public CableDriver {
protected:
    void SetUp() override { load(xpar); }
};

TEST_F(Xpar, AccessLevelsAreGivenBackOnlyOnce) {
    ASSERT_EQ(lib_->jtag_init(0, 0, nullptr), VOK_INIT_READY);
    auto giveio_start = sym<int32_t (*)()>("giveio_start");
    auto giveio_stop = sym<int32_t (*)(int32_t)>("giveio_stop");
    // A port service already running is level 2; asking again for the same base keeps it.
    EXPECT_EQ(giveio_start(), 2);
    EXPECT_EQ(bench_->connections(), 1);
    EXPECT_EQ(giveio_stop(0), 0);
    EXPECT_EQ(giveio_stop(3), 0); // names no access that is held: nothing undone
    EXPECT_EQ(bench_->connections(), 1);
    EXPECT_FALSE(bench_->wait_disconnected(50));
    EXPECT_EQ(lib_->jtag_end(), 0);
    EXPECT_TRUE(bench_->wait_disconnected());
    EXPECT_EQ(giveio_stop(2), 0);
}

TEST_F(Xpar, ExportsTheServiceNames) {
    EXPECT_STREQ(sym<const char *>("giveio_dname"), "\\\\.\\giveio");
    EXPECT_STREQ(sym<const char *>("giveio_fname"), "giveio.sys");
    EXPECT_STREQ(sym<const char *>("giveio_sname"), "giveio");
    EXPECT_EQ(dlsym(lib_->handle, "jtag_xfer"), nullptr);
}

} // namespace
