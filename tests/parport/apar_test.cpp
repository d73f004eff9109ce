// Port-level traces of the Altera parallel cable driver.
#include <cstring>
#include <vector>

#include "driver_fixture.h"

namespace {

// A powered Altera cable: detect loop data bit 5 -> status bit 6, power-sense loop
// data bit 7 -> status bit 5, power sense on status bit 3, TDO high (status bit 7 = 0).
uint8_t altera_cable(uint16_t, uint8_t data, uint8_t) {
    return 0x07 | 0x08 | ((data & 0x80) ? 0x20 : 0) | ((data & 0x20) ? 0x40 : 0);
}

class Apar : public DriverTest {
protected:
    Apar() : DriverTest("vok_apar") {}
    void SetUp() override {
        DriverTest::SetUp();
        bench_->set_responder(altera_cable);
    }
};

TEST_F(Apar, ProbeFollowsTheDetectLoopThenEnablesTheBuffer) {
    char name[128];
    EXPECT_EQ(jtag_init(0, 0, name), 0);
    EXPECT_STREQ(name, "Altera BitBlaster ISP Cable (JTAG),IO Base=0378");
    EXPECT_EQ(jtag_end(), 0);
    std::vector<std::string> want = {"O 0378 00", "W 0378 00", "R 0379 0F", "W 0378 20",
                                     "R 0379 4F", "W 037A 02", "X 0378 00"};
    EXPECT_EQ(lines(bench_->records()), want);
    EXPECT_TRUE(bench_->wait_disconnected());

    EXPECT_EQ(ss_init(0x278, 0, name), 0);
    EXPECT_STREQ(name, "Altera BitBlaster ISP Cable (CCLK),IO Base=0278");
    EXPECT_EQ(ss_init(0, 0, nullptr), 0);
}

TEST_F(Apar, DetectLoopThatDoesNotFollowIsNoProbe) {
    // Nothing attached: status bit 6 reads 1 at once.
    bench_->set_responder(nullptr);
    testing::internal::CaptureStdout();
    EXPECT_EQ(jtag_init(0, 0, nullptr), 2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "No Probe\n");
    EXPECT_EQ(jtag_end(), 0);
    std::vector<std::string> want = {"O 0378 00", "W 0378 00", "R 0379 7F", "X 0378 00"};
    EXPECT_EQ(lines(bench_->records()), want);

    // Status bit 6 stuck at 0: the second step fails; the buffer is never enabled.
    bench_->clear();
    bench_->set_responder([](uint16_t, uint8_t, uint8_t) -> uint8_t { return 0x3F; });
    testing::internal::CaptureStdout();
    EXPECT_EQ(ss_init(0, 0, nullptr), 2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "No Probe\n");
    EXPECT_EQ(ss_end(), 0);
    want = {"O 0378 00", "W 0378 00", "R 0379 3F", "W 0378 20", "R 0379 3F", "X 0378 00"};
    EXPECT_EQ(lines(bench_->records()), want);
}

TEST_F(Apar, NoPortAccessSaysSoAndTouchesNoRegister) {
    char name[128] = "";
    testing::internal::CaptureStdout();
    EXPECT_EQ(jtag_init(0x3BC, 0, name), 2);
    EXPECT_EQ(ss_init(0x3BC, 0, nullptr), 2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Can't access GIVEIO system\nCan't access GIVEIO system\n");
    EXPECT_STREQ(name, "Altera BitBlaster ISP Cable (JTAG),IO Base=03BC");
    EXPECT_EQ(jtag_power(), 0);
    EXPECT_EQ(jtag_end(), 0);
    for (const auto &r : bench_->records())
        EXPECT_EQ(r.op, 'O') << to_string(r);
}

// Power is the loop from data bit 7 to status bit 5 alone; status bit 3 (pin 15,
// grounded on a ByteBlasterMV) plays no part.
TEST_F(Apar, PowerCheckIsTheLoopFromDataBit7Alone) {
    struct Case {
        const char *name;
        std::vector<uint8_t> reads;
        int32_t powered;
        std::vector<std::string> records;
    };
    const Case cases[] = {
        {"loop follows, pin 15 low", {0x47, 0x67}, 1, {"W 0378 00", "R 0379 47", "W 0378 80", "R 0379 67"}},
        {"loop follows, pin 15 high", {0x0F, 0x2F}, 1, {"W 0378 00", "R 0379 0F", "W 0378 80", "R 0379 2F"}},
        {"bit 5 high with data bit 7 low", {0x28}, 0, {"W 0378 00", "R 0379 28"}},
        {"bit 5 does not rise", {0x08, 0x08}, 0, {"W 0378 00", "R 0379 08", "W 0378 80", "R 0379 08"}},
    };
    open_cable();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        bench_->clear();
        bench_->script_reads(c.reads);
        EXPECT_EQ(jtag_power(), c.powered);
        EXPECT_EQ(lines(bench_->records()), c.records);
        bench_->clear();
        bench_->script_reads(c.reads);
        EXPECT_EQ(ss_power(), c.powered);
    }
}

TEST_F(Apar, TwelveBitShiftWithInvertedTdo) {
    open_cable();
    const uint8_t tdi[2] = {0xA5, 0x9F};
    // TDO levels 1 1 0 0 0 1 0 1 1 0 1 1: status bit 7 reads 0 for a 1.
    bench_->script_reads({0x00, 0x7F, 0x80, 0xFF, 0x80, 0x00, 0x80, 0x00, 0x00, 0x80, 0x00, 0x00});
    uint8_t tdo[2] = {0xFF, 0xFF};
    EXPECT_EQ(jtag_txrx(tdi, tdo, 12, 0, 1), 0);
    EXPECT_EQ(tdo[0], 0xA3);
    EXPECT_EQ(tdo[1], 0x0D);
    std::vector<uint8_t> want = {0x40, 0x41, 0x00, 0x01, 0x40, 0x41, 0x00, 0x01,
                                 0x00, 0x01, 0x40, 0x41, 0x00, 0x01, 0x40, 0x41,
                                 0x40, 0x41, 0x00, 0x01, 0x00, 0x01, 0x42, 0x43};
    auto log = bench_->records();
    EXPECT_EQ(writes_to(log, 0x378), want);
    // Each bit: two writes, then the status read.
    ASSERT_EQ(log.size(), 36u);
    for (size_t i = 0; i < log.size(); ++i)
        EXPECT_EQ(log[i].op, i % 3 == 2 ? 'R' : 'W') << i;
}

TEST_F(Apar, NullBuffersAndShortShifts) {
    open_cable();
    EXPECT_EQ(jtag_txrx(nullptr, nullptr, 2, 1, 0), 0);
    const uint8_t one = 0xFF;
    EXPECT_EQ(jtag_txrx(&one, nullptr, 1, 0, 1), 0);
    uint8_t tdo = 0x5A;
    EXPECT_EQ(jtag_txrx(&one, &tdo, 0, 0, 0), 0);
    EXPECT_EQ(tdo, 0x5A);
    EXPECT_EQ(jtag_end(), 0);
    auto log = bench_->records();
    EXPECT_EQ(writes_to(log, 0x378), (std::vector<uint8_t>{0x02, 0x03, 0x00, 0x01, 0x42, 0x43}));
    for (const auto &r : log)
        EXPECT_NE(r.op, 'R') << to_string(r);
}

TEST_F(Apar, SlaveSerialUsesTheXilinxPortValues) {
    open_cable();
    const uint8_t a5 = 0xA5;
    EXPECT_EQ(ss_program(0), 0);
    EXPECT_EQ(ss_program(1), 0);
    EXPECT_EQ(ss_tx(&a5, 1), 0);
    bench_->script_reads({0x10, 0xEF});
    EXPECT_EQ(ss_done(), 1);
    EXPECT_EQ(ss_done(), 0);
    std::vector<uint8_t> want = {0x10, 0x10, 0x14, 0x10, 0x10, 0x14, 0x15, 0x17, 0x14, 0x16, 0x15,
                                 0x17, 0x14, 0x16, 0x14, 0x16, 0x15, 0x17, 0x14, 0x16, 0x15, 0x17};
    EXPECT_EQ(writes_to(bench_->records(), 0x378), want);
}

TEST_F(Apar, CloseSendsPendingWritesAndGivesThePortBack) {
    open_cable();
    const uint8_t data[2] = {0x00, 0xFF};
    ss_tx(data, 2);
    EXPECT_EQ(ss_end(), 0);
    EXPECT_TRUE(bench_->wait_disconnected());
    auto log = bench_->records();
    ASSERT_EQ(log.size(), 33u);
    EXPECT_EQ(to_string(log.back()), "X 0378 00");
    EXPECT_EQ(jtag_version(), 0x10000u);
    EXPECT_EQ(ss_version(), 0x10000u);
    EXPECT_EQ(dlsym(handle_, "giveio_start"), nullptr);
}

TEST_F(Apar, UnloadingWithThePortStillHeldSendsPendingWrites) {
    open_cable();
    const uint8_t data = 0x0F;
    ss_tx(&data, 1);
    ASSERT_EQ(::dlclose(handle_), 0);
    handle_ = nullptr;
    EXPECT_TRUE(bench_->wait_disconnected());
    auto log = bench_->records();
    ASSERT_EQ(log.size(), 17u);
    EXPECT_EQ(writes_to(log, 0x378).back(), 0x17);
    EXPECT_EQ(to_string(log.back()), "X 0378 00");
}

} // namespace
