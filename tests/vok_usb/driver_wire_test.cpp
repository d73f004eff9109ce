// The vok_usb driver's traffic on the pipes, against a stand-in access layer.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fake_access_layer.h"
#include "vokcable.h"

namespace {

using Bytes = std::vector<uint8_t>;

class VokUsbWire : public ::testing::Test {
protected:
    void SetUp() override { fake_ezusb::reset(); }

    // Opens the board and forgets the traffic of the open.
    void open() {
        ASSERT_EQ(jtag_init(0, 0, nullptr), 0);
        fake_ezusb::board().writes.clear();
    }
    std::vector<fake_ezusb::Write> &writes() { return fake_ezusb::board().writes; }
};

TEST_F(VokUsbWire, InitSendsSetUpThenReadsStatus) {
    testing::internal::CaptureStdout();
    char name[128];
    EXPECT_EQ(jtag_init(3, 0, name), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Setup EZ-USB with JTAG firnware V0.09\n");
    EXPECT_STREQ(name, "EZ-USB No.3 : AN2135SC (FWR=TCK,D0=TDI,D1=TMS,PC1=TDO,PC3=TVCC)");
    EXPECT_EQ(fake_ezusb::board().init_index, 3);
    EXPECT_EQ(fake_ezusb::board().drained_pipe, 8) << "stale answers are dropped";
    EXPECT_EQ(fake_ezusb::board().writes_before_drain, 0u) << "the drain comes before the first command";
    ASSERT_EQ(writes().size(), 2u);
    EXPECT_EQ(writes()[0].pipe, 0u);
    EXPECT_EQ(writes()[0].bytes, (Bytes{0x00, 0x01, 0x10, 0x00, 0xF0, 0x12}));
    EXPECT_EQ(writes()[1].bytes, Bytes{0x20});
}

TEST_F(VokUsbWire, InitFailures) {
    struct Case {
        const char *what;
        int32_t init_result;
        bool fail_command;
        bool fail_read;
        const char *tail;
    } cases[] = {
        {"board missing", -1, false, false, "Can't found EZ-USB\n"},
        {"set-up refused", 0, true, false, "error ! USB write\n"},
        {"no status answer", 0, false, true, "error ! USB read\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        auto &b = fake_ezusb::reset();
        b.init_result = c.init_result;
        b.fail_writes_on_command_pipe = c.fail_command;
        b.fail_reads = c.fail_read;
        testing::internal::CaptureStdout();
        EXPECT_EQ(jtag_init(0, 0, nullptr), VOK_INIT_NO_PROBE);
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(out.substr(out.size() - std::strlen(c.tail)), c.tail);
        EXPECT_EQ(jtag_power(), 0);
    }
}

TEST_F(VokUsbWire, StatusBits) {
    struct Case {
        uint8_t port_c;
        int32_t power, done;
    } cases[] = {{0x08, 1, 0}, {0x02, 0, 1}, {0x0A, 1, 1}, {0xF5, 0, 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.port_c);
        fake_ezusb::reset().port_c = c.port_c;
        open();
        EXPECT_EQ(jtag_power(), c.power);
        EXPECT_EQ(ss_power(), c.power);
        EXPECT_EQ(ss_done(), c.done);
    }
}

TEST_F(VokUsbWire, AfterAFailedCommandNothingTalksToTheBoard) {
    open();
    fake_ezusb::board().fail_writes_on_command_pipe = true;
    testing::internal::CaptureStdout();
    ss_program(1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "error ! USB write\n");
    fake_ezusb::board().fail_writes_on_command_pipe = false;
    int reads = fake_ezusb::board().reads_posted;
    EXPECT_EQ(jtag_power(), 0);
    EXPECT_EQ(ss_done(), 0);
    uint8_t tdi = 0xFF;
    jtag_txrx(&tdi, nullptr, 8, 0, 0);
    ss_tx(&tdi, 1);
    EXPECT_TRUE(writes().empty());
    EXPECT_EQ(fake_ezusb::board().reads_posted, reads);
}

TEST_F(VokUsbWire, ShiftClockBytes) {
    struct Case {
        const char *what;
        int32_t nbits, tms, tms_last;
        Bytes tdi; // empty: null TDI
        Bytes sent;
    } cases[] = {
        {"no bits", 0, 0, 1, {}, {}},
        {"one bit, TMS on the last", 1, 0, 1, {}, {0x02}},
        {"one bit with TDI", 1, 0, 1, {0x80}, {0x03}},
        {"most significant bit first", 5, 0, 1, {0xA8}, {0x01, 0x00, 0x01, 0x00, 0x03}},
        {"TMS high throughout", 3, 1, 1, {}, {0x02, 0x02, 0x02}},
        {"stays in the shift state", 9, 0, 0, {0xFF, 0x00}, {1, 1, 1, 1, 1, 1, 1, 1, 0}},
        {"TMS high, last low", 2, 1, 0, {0x40}, {0x02, 0x01}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        fake_ezusb::reset();
        open();
        EXPECT_EQ(jtag_txrx(c.tdi.empty() ? nullptr : c.tdi.data(), nullptr, c.nbits, c.tms,
                            c.tms_last),
                  1);
        if (c.sent.empty()) {
            EXPECT_TRUE(writes().empty());
            continue;
        }
        ASSERT_EQ(writes().size(), 1u);
        EXPECT_EQ(writes()[0].pipe, 1u);
        EXPECT_EQ(writes()[0].bytes, c.sent);
    }
}

TEST_F(VokUsbWire, LongShiftGoesOutInTwoChunks) {
    open();
    constexpr int32_t chunk = 0x40000;
    Bytes tdi(chunk / 8 + 1, 0xFF);
    jtag_txrx(tdi.data(), nullptr, chunk + 1, 0, 1);
    ASSERT_EQ(writes().size(), 2u);
    EXPECT_EQ(writes()[0].bytes, Bytes(chunk, 0x01)); // TMS stays low in the first chunk
    EXPECT_EQ(writes()[1].bytes, Bytes{0x03});        // the last cycle has TMS high
}

uint8_t echo_tdi(uint8_t clock) { return (clock & 0x01) ? 0x02 : 0xF5; }

TEST_F(VokUsbWire, CapturedShiftFillsTdoLeastSignificantBitFirst) {
    fake_ezusb::reset().tdo_of = echo_tdi;
    open();
    const uint8_t tdi[] = {0xC5, 0x90};
    uint8_t tdo[3] = {0xFF, 0xFF, 0xFF};
    jtag_txrx(tdi, tdo, 12, 0, 1);
    ASSERT_EQ(writes().size(), 1u);
    EXPECT_EQ(writes()[0].pipe, 3u);
    EXPECT_EQ(writes()[0].bytes, (Bytes{1, 1, 0, 0, 0, 1, 0, 1, 1, 0, 0, 3}));
    EXPECT_EQ(tdo[0], 0xA3);
    EXPECT_EQ(tdo[1], 0x09);
    EXPECT_EQ(tdo[2], 0xFF); // beyond (12 + 7) / 8 bytes nothing is touched
}

TEST_F(VokUsbWire, FailedCapturedShiftIsReported) {
    open();
    fake_ezusb::board().fail_reads = true;
    uint8_t tdo[1] = {0xFF};
    testing::internal::CaptureStdout();
    jtag_txrx(nullptr, tdo, 8, 0, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "error ! USB FastRead&Write\n");
    EXPECT_EQ(tdo[0], 0x00);
}

TEST_F(VokUsbWire, ProgramLevels) {
    open();
    ss_program(0);
    ss_program(1);
    ss_program(0x100); // only the low byte counts
    ASSERT_EQ(writes().size(), 3u);
    EXPECT_EQ(writes()[0].bytes, (Bytes{0x10, 0x00}));
    EXPECT_EQ(writes()[1].bytes, (Bytes{0x10, 0x01}));
    EXPECT_EQ(writes()[2].bytes, (Bytes{0x10, 0x00}));
}

TEST_F(VokUsbWire, SerialBlocksAreIndependent) {
    open();
    const uint8_t first[] = {0xFF}, second[] = {0x81};
    ss_tx(first, 1);
    ss_tx(second, 1);
    ASSERT_EQ(writes().size(), 2u);
    EXPECT_EQ(writes()[0].bytes, Bytes(8, 0x01));
    EXPECT_EQ(writes()[1].bytes, (Bytes{1, 0, 0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(writes()[1].pipe, 1u);
}

TEST_F(VokUsbWire, SerialCallLongerThanTheStagingBufferGoesInPieces) {
    open();
    Bytes data(40000, 0x80);
    ss_tx(data.data(), static_cast<int32_t>(data.size()));
    ASSERT_EQ(writes().size(), 2u);
    EXPECT_EQ(writes()[0].bytes.size(), 0x40000u);
    EXPECT_EQ(writes()[1].bytes.size(), 8u * (40000 - 32768));
    EXPECT_EQ(writes()[1].bytes[8 * 7231], 0x01);
}

TEST_F(VokUsbWire, NamesAndVersions) {
    char name[128];
    fake_ezusb::reset();
    testing::internal::CaptureStdout();
    EXPECT_EQ(ss_init(0, 0, name), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_STREQ(name, "EZ-USB No.0 : AN2135SC (FWR=CCLK,D0=DIN,PC0=PROGRAM,PC1=DONE,PC3=TVCC)");
    EXPECT_EQ(std::strlen(name), 70u);
    EXPECT_EQ(jtag_version(), 0x11300u);
    EXPECT_EQ(ss_version(), 0x10010u);
    EXPECT_EQ(jtag_end(), 1);
    EXPECT_EQ(fake_ezusb::board().closes, 1);
}

} // namespace
