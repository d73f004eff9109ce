// Port-level traces of the Xilinx parallel cable driver.
#include <cstring>
#include <vector>

#include "driver_fixture.h"

namespace {

// A powered Xilinx cable: the detect loop returns data bit 6 on status bit 5 and,
// inverted by the port, on status bit 7; power sense on bit 3.
uint8_t xilinx_cable(uint16_t, uint8_t data, uint8_t) {
    bool d6 = data & 0x40;
    return 0x07 | 0x08 | (d6 ? 0x20 : 0x80);
}

class Xpar : public DriverTest {
protected:
    Xpar() : DriverTest("vok_xpar") {}
    void SetUp() override {
        DriverTest::SetUp();
        bench_->set_responder(xilinx_cable);
    }
};

TEST_F(Xpar, ProbeFollowsTheDetectLoopAndNamesTheCable) {
    char name[128];
    std::memset(name, 'x', sizeof name);
    EXPECT_EQ(jtag_init(0, 0, name), 0);
    EXPECT_STREQ(name, "Xilinx Parallel ISP Cable (JTAG),IO Base=0378");
    EXPECT_EQ(jtag_power(), 1); // a read, so every write has arrived
    std::vector<std::string> want = {"O 0378 00", "W 0378 50", "R 0379 2F", "R 0379 2F",
                                     "W 0378 10", "R 0379 8F", "R 0379 8F", "R 0379 8F"};
    EXPECT_EQ(lines(bench_->records()), want);
}

TEST_F(Xpar, EveryProbeMismatchStopsWithNoProbe) {
    // Good answers of the four probe reads, and a wrong one for each.
    const uint8_t good[4] = {0x20, 0x00, 0x00, 0x80};
    const uint8_t bad[4] = {0x00, 0xA0, 0x20, 0x00};
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE(k);
        std::vector<uint8_t> script(good, good + k);
        script.push_back(bad[k]);
        bench_->clear();
        bench_->script_reads(script);
        testing::internal::CaptureStdout();
        EXPECT_EQ(jtag_init(0x378, 0, nullptr), 2);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "No Probe\n");
        EXPECT_EQ(jtag_end(), 0); // sends what is pending and releases
        auto log = bench_->records();
        int reads = 0;
        for (const auto &r : log)
            reads += r.op == 'R';
        EXPECT_EQ(reads, k + 1);
        std::vector<uint8_t> want_writes = {0x50};
        if (k >= 2)
            want_writes.push_back(0x10);
        EXPECT_EQ(writes_to(log, 0x378), want_writes);
    }
}

TEST_F(Xpar, NoPortAccessTouchesNoRegister) {
    char name[128] = "";
    testing::internal::CaptureStdout();
    EXPECT_EQ(jtag_init(0x3BC, 0, name), 2);
    EXPECT_EQ(ss_init(0x3BC, 0, name), 2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Can't access GIVEIO system\nCan't access GIVEIO system\n");
    EXPECT_STREQ(name, "Xilinx Parallel ISP Cable (CCLK),IO Base=03BC");
    EXPECT_EQ(jtag_power(), 0);
    ss_tx(reinterpret_cast<const uint8_t *>("\xFF"), 1);
    EXPECT_EQ(jtag_end(), 0);
    for (const auto &r : bench_->records())
        EXPECT_EQ(r.op, 'O') << to_string(r);
}

TEST_F(Xpar, PortBaseChoosesTheRegistersAndTheName) {
    char name[128];
    EXPECT_EQ(jtag_init(0x278, 0, name), 0);
    EXPECT_STREQ(name, "Xilinx Parallel ISP Cable (JTAG),IO Base=0278");
    EXPECT_EQ(jtag_end(), 0);
    auto log = bench_->records();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(to_string(log.front()), "O 0278 00");
    for (const auto &r : log) {
        if (r.op == 'W' || r.op == 'R') {
            EXPECT_TRUE(r.addr == 0x278 || r.addr == 0x279) << to_string(r);
        }
    }

    EXPECT_EQ(ss_init(0, 0, name), 0);
    EXPECT_STREQ(name, "Xilinx Parallel ISP Cable (CCLK),IO Base=0378");
    // A null name buffer is left alone and the cable is still opened.
    EXPECT_EQ(ss_init(0, 0, nullptr), 0);
    EXPECT_EQ(jtag_init(0, 0, nullptr), 0);
}

TEST_F(Xpar, SerialByteA5IsSixteenWritesMostSignificantBitFirst) {
    open_cable();
    const uint8_t a5 = 0xA5;
    EXPECT_EQ(ss_tx(&a5, 1), 0);
    bench_->script_reads({0x10});
    EXPECT_EQ(ss_done(), 1);
    std::vector<uint8_t> want = {0x15, 0x17, 0x14, 0x16, 0x15, 0x17, 0x14, 0x16,
                                 0x14, 0x16, 0x15, 0x17, 0x14, 0x16, 0x15, 0x17};
    auto log = bench_->records();
    EXPECT_EQ(writes_to(log, 0x378), want);
    ASSERT_EQ(log.size(), 17u);
    EXPECT_EQ(to_string(log.back()), "R 0379 10");
}

TEST_F(Xpar, ProgramGivesOnePulseWhateverTheLevel) {
    open_cable();
    EXPECT_EQ(ss_program(0), 0);
    EXPECT_EQ(ss_program(1), 0);
    EXPECT_EQ(ss_program(7), 0);
    EXPECT_EQ(jtag_end(), 0);
    std::vector<uint8_t> want = {0x10, 0x10, 0x14, 0x10, 0x10, 0x14, 0x10, 0x10, 0x14};
    EXPECT_EQ(writes_to(bench_->records(), 0x378), want);
}

TEST_F(Xpar, SenseEntryPointsReadOneStatusBitEach) {
    open_cable();
    bench_->script_reads({0x08, 0xF7, 0x10, 0xEF, 0x08, 0xF7});
    EXPECT_EQ(jtag_power(), 1);
    EXPECT_EQ(jtag_power(), 0);
    EXPECT_EQ(ss_done(), 1);
    EXPECT_EQ(ss_done(), 0);
    EXPECT_EQ(ss_power(), 1);
    EXPECT_EQ(ss_power(), 0);
    EXPECT_TRUE(writes_to(bench_->records(), 0x378).empty());
}

TEST_F(Xpar, TwelveBitShiftWithTdo) {
    open_cable();
    const uint8_t tdi[2] = {0xA5, 0x9F}; // 1010 0101 1001 (low nibble of 0x9F unused)
    // TDO levels 1 1 0 0 0 1 0 1 1 0 1 1 on status bit 4.
    bench_->script_reads({0x10, 0x10, 0, 0, 0, 0x10, 0, 0x10, 0x10, 0, 0x10, 0x10});
    uint8_t tdo[3] = {0xFF, 0xFF, 0xEE};
    EXPECT_EQ(jtag_txrx(tdi, tdo, 12, 0, 1), 0);
    EXPECT_EQ(tdo[0], 0xA3);
    EXPECT_EQ(tdo[1], 0x0D); // spare high bits cleared
    EXPECT_EQ(tdo[2], 0xEE); // beyond (12 + 7) / 8 bytes: untouched
    std::vector<std::string> want;
    const uint8_t lows[12] = {0x11, 0x10, 0x11, 0x10, 0x10, 0x11,
                              0x10, 0x11, 0x11, 0x10, 0x10, 0x15};
    for (uint8_t low : lows) {
        char w1[16], w2[16];
        std::snprintf(w1, sizeof w1, "W 0378 %02X", low);
        std::snprintf(w2, sizeof w2, "W 0378 %02X", low | 0x02);
        want.push_back(w1);
        want.push_back(w2);
        want.push_back("R 0379 --");
    }
    auto got = lines(bench_->records());
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) {
        if (want[i][0] == 'W') {
            EXPECT_EQ(got[i], want[i]) << i;
        } else {
            EXPECT_EQ(got[i].substr(0, 6), "R 0379") << i;
        }
    }
}

TEST_F(Xpar, NullBuffersAndShortShifts) {
    open_cable();
    // Null TDI sends zeros, null TDO reads nothing; TMS flag on all but the last bit.
    EXPECT_EQ(jtag_txrx(nullptr, nullptr, 3, 1, 0), 0);
    // A single bit takes the last-bit TMS.
    const uint8_t one = 0x80;
    EXPECT_EQ(jtag_txrx(&one, nullptr, 1, 0, 1), 0);
    // No bits: nothing clocked, nothing cleared.
    uint8_t tdo[2] = {0x5A, 0x5A};
    EXPECT_EQ(jtag_txrx(&one, tdo, 0, 1, 1), 0);
    EXPECT_EQ(tdo[0], 0x5A);
    EXPECT_EQ(jtag_end(), 0);
    auto log = bench_->records();
    std::vector<uint8_t> want = {0x14, 0x16, 0x14, 0x16, 0x10, 0x12, 0x15, 0x17};
    EXPECT_EQ(writes_to(log, 0x378), want);
    for (const auto &r : log)
        EXPECT_NE(r.op, 'R') << to_string(r);
}

TEST_F(Xpar, AccessLevelsAreGivenBackOnlyOnce) {
    ASSERT_EQ(jtag_init(0, 0, nullptr), 0);
    auto giveio_start = sym<int32_t (*)()>("giveio_start");
    auto giveio_stop = sym<int32_t (*)(int32_t)>("giveio_stop");
    // The bench connection is level 2; asking again for the same base keeps it.
    EXPECT_EQ(giveio_start(), 2);
    EXPECT_EQ(bench_->connections(), 1);
    EXPECT_EQ(giveio_stop(0), 0);
    EXPECT_EQ(giveio_stop(3), 0); // names no access that is held: nothing undone
    EXPECT_EQ(bench_->connections(), 1);
    EXPECT_FALSE(bench_->wait_disconnected(50));
    EXPECT_EQ(jtag_end(), 0);
    EXPECT_TRUE(bench_->wait_disconnected());
    EXPECT_EQ(to_string(bench_->records().back()), "X 0378 00");
    EXPECT_EQ(giveio_stop(2), 0);

    // A slave-serial run gives its access back at the close as well.
    ASSERT_EQ(ss_init(0, 0, nullptr), 0);
    EXPECT_EQ(bench_->connections(), 2);
    EXPECT_EQ(ss_end(), 0);
    EXPECT_TRUE(bench_->wait_disconnected());
}

TEST_F(Xpar, ExportsTheServiceNamesAndVersionWords) {
    EXPECT_STREQ(sym<const char *>("giveio_dname"), "\\\\.\\giveio");
    EXPECT_STREQ(sym<const char *>("giveio_fname"), "giveio.sys");
    EXPECT_STREQ(sym<const char *>("giveio_sname"), "giveio");
    EXPECT_EQ(jtag_version(), 0x10000u);
    EXPECT_EQ(ss_version(), 0x10000u);
    EXPECT_EQ(dlsym(handle_, "jtag_xfer"), nullptr);
}

} // namespace
