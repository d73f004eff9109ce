// The vok_usb driver's traffic on the board's endpoints, through the EZ-USB
// access layer, against a board on the stand-in USB seam.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/fake_usb.h"
#include "vokcable.h"

namespace {

using fakeusb::Bytes;
using fakeusb::Transfer;

// The endpoints of the pipes: commands, clock bytes, clock bytes answered, answers.
constexpr uint8_t EP_COMMAND = 0x01, EP_CLOCK = 0x02, EP_CLOCK_TDO = 0x04, EP_ANSWER = 0x82;

// A board that runs the JTAG firmware: a status query (0x20 on EP1) answers the
// port C pins, each clock byte on EP4 the pin byte that tdo_of gives (0 without).
fakeusb::Board &jtag_board(uint8_t port_c = 0x08, uint8_t (*tdo_of)(uint8_t) = nullptr) {
    fakeusb::Board &b = fakeusb::reset();
    b.strings = {"JTAG", "V009"};
    b.responder = [port_c, tdo_of](uint8_t endpoint, const Bytes &written) {
        Bytes answer;
        if (endpoint == EP_COMMAND && written == Bytes{0x20}) answer.push_back(port_c);
        if (endpoint == EP_CLOCK_TDO)
            for (uint8_t clock : written) answer.push_back(tdo_of ? tdo_of(clock) : 0);
        return answer;
    };
    return b;
}

// The bulk OUT transfers, in order.
std::vector<Transfer> writes() {
    std::vector<Transfer> out;
    for (const Transfer &t : fakeusb::board().of_kind(Transfer::BULK))
        if (!(t.endpoint & 0x80)) out.push_back(t);
    return out;
}

// What went to one endpoint, all transfers joined.
Bytes joined(uint8_t endpoint) {
    Bytes all;
    for (const Bytes &b : fakeusb::board().sent(endpoint)) all.insert(all.end(), b.begin(), b.end());
    return all;
}

class VokUsbWire : public ::testing::Test {
protected:
    void SetUp() override { jtag_board(); }
    void TearDown() override { jtag_end(); }

    // Opens the board and forgets the traffic of the open.
    void open() {
        testing::internal::CaptureStdout();
        ASSERT_EQ(jtag_init(0, 0, nullptr), 0);
        testing::internal::GetCapturedStdout();
        fakeusb::board().log.clear();
    }
};

TEST_F(VokUsbWire, InitSendsSetUpThenReadsStatus) {
    testing::internal::CaptureStdout();
    char name[128];
    fakeusb::board().number = 3;
    EXPECT_EQ(jtag_init(3, 0, name), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Setup EZ-USB with JTAG firnware V0.09\n");
    EXPECT_STREQ(name, "EZ-USB No.3 : AN2135SC (FWR=TCK,D0=TDI,D1=TMS,PC1=TDO,PC3=TVCC)");
    const auto bulk = fakeusb::board().of_kind(Transfer::BULK);
    ASSERT_FALSE(bulk.empty());
    EXPECT_EQ(bulk[0].endpoint, EP_ANSWER) << "stale answers are dropped before the first command";
    EXPECT_EQ(fakeusb::board().of_kind(Transfer::CONTROL).size(), 2u) << "the strings are read, nothing loaded";
    ASSERT_EQ(writes().size(), 2u);
    EXPECT_EQ(writes()[0].endpoint, EP_COMMAND);
    EXPECT_EQ(writes()[0].data, (Bytes{0x00, 0x01, 0x10, 0x00, 0xF0, 0x12}));
    EXPECT_EQ(writes()[1].data, Bytes{0x20});
}

TEST_F(VokUsbWire, InitFailures) {
    struct Case {
        const char *what;
        bool present;
        bool fail_command;
        bool fail_read;
        const char *tail;
    } cases[] = {
        {"board missing", false, false, false, "Can't found EZ-USB\n"},
        {"set-up refused", true, true, false, "error ! USB write\n"},
        {"no status answer", true, false, true, "error ! USB read\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        auto &b = jtag_board();
        b.present = c.present;
        b.away_opens = c.present ? 0 : 1000;
        b.failing_endpoint = c.fail_command ? EP_COMMAND : 0;
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
        jtag_board(c.port_c);
        open();
        EXPECT_EQ(jtag_power(), c.power);
        EXPECT_EQ(ss_power(), c.power);
        EXPECT_EQ(ss_done(), c.done);
    }
}

TEST_F(VokUsbWire, AfterAFailedCommandNothingTalksToTheBoard) {
    open();
    fakeusb::board().failing_endpoint = EP_COMMAND;
    testing::internal::CaptureStdout();
    ss_program(1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "error ! USB write\n");
    fakeusb::board().failing_endpoint = 0;
    fakeusb::board().log.clear();
    EXPECT_EQ(jtag_power(), 0);
    EXPECT_EQ(ss_done(), 0);
    uint8_t tdi = 0xFF;
    jtag_txrx(&tdi, nullptr, 8, 0, 0);
    ss_tx(&tdi, 1);
    EXPECT_TRUE(fakeusb::board().log.empty()) << "neither a write nor a read";
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
        jtag_board();
        open();
        EXPECT_EQ(jtag_txrx(c.tdi.empty() ? nullptr : c.tdi.data(), nullptr, c.nbits, c.tms,
                            c.tms_last),
                  1);
        if (c.sent.empty()) {
            EXPECT_TRUE(writes().empty());
            continue;
        }
        ASSERT_EQ(writes().size(), 1u);
        EXPECT_EQ(writes()[0].endpoint, EP_CLOCK);
        EXPECT_EQ(writes()[0].data, c.sent);
    }
}

// The staging buffer holds 0x40000 clock bytes: TMS stays low to the end of
// the first, the last cycle of the second has it high.
TEST_F(VokUsbWire, LongShiftKeepsTmsLowUntilItsLastCycle) {
    open();
    constexpr int32_t chunk = 0x40000;
    Bytes tdi(chunk / 8 + 1, 0xFF);
    jtag_txrx(tdi.data(), nullptr, chunk + 1, 0, 1);
    Bytes want(chunk, 0x01);
    want.push_back(0x03);
    EXPECT_EQ(joined(EP_CLOCK), want);
}

uint8_t echo_tdi(uint8_t clock) { return (clock & 0x01) ? 0x02 : 0xF5; }

TEST_F(VokUsbWire, CapturedShiftFillsTdoLeastSignificantBitFirst) {
    jtag_board(0x08, echo_tdi);
    open();
    const uint8_t tdi[] = {0xC5, 0x90};
    uint8_t tdo[3] = {0xFF, 0xFF, 0xFF};
    jtag_txrx(tdi, tdo, 12, 0, 1);
    ASSERT_EQ(writes().size(), 1u);
    EXPECT_EQ(writes()[0].endpoint, EP_CLOCK_TDO);
    EXPECT_EQ(writes()[0].data, (Bytes{1, 1, 0, 0, 0, 1, 0, 1, 1, 0, 0, 3}));
    EXPECT_EQ(tdo[0], 0xA3);
    EXPECT_EQ(tdo[1], 0x09);
    EXPECT_EQ(tdo[2], 0xFF); // beyond (12 + 7) / 8 bytes nothing is touched
}

TEST_F(VokUsbWire, FailedCapturedShiftIsReported) {
    open();
    fakeusb::board().fail_reads = true;
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
    EXPECT_EQ(fakeusb::board().sent(EP_COMMAND), (std::vector<Bytes>{{0x10, 0x00}, {0x10, 0x01}, {0x10, 0x00}}));
}

TEST_F(VokUsbWire, SerialBlocksAreIndependent) {
    open();
    const uint8_t first[] = {0xFF}, second[] = {0x81};
    ss_tx(first, 1);
    ss_tx(second, 1);
    EXPECT_EQ(fakeusb::board().sent(EP_CLOCK), (std::vector<Bytes>{Bytes(8, 0x01), {1, 0, 0, 0, 0, 0, 0, 1}}));
}

// 40000 data bytes are more than one staging buffer (32768): the second piece
// goes on where the first ended.
TEST_F(VokUsbWire, SerialCallLongerThanTheStagingBufferGoesInPieces) {
    open();
    Bytes data(40000, 0x80);
    data[32768 + 7231] = 0x40;
    ss_tx(data.data(), static_cast<int32_t>(data.size()));
    const Bytes sent = joined(EP_CLOCK);
    ASSERT_EQ(sent.size(), 8u * 40000);
    EXPECT_EQ(sent[8 * (32768 + 7230)], 0x01);
    EXPECT_EQ(sent[8 * (32768 + 7231)], 0x00);
    EXPECT_EQ(sent[8 * (32768 + 7231) + 1], 0x01);
}

TEST_F(VokUsbWire, NamesAndVersions) {
    char name[128];
    testing::internal::CaptureStdout();
    EXPECT_EQ(ss_init(0, 0, name), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_STREQ(name, "EZ-USB No.0 : AN2135SC (FWR=CCLK,D0=DIN,PC0=PROGRAM,PC1=DONE,PC3=TVCC)");
    EXPECT_EQ(std::strlen(name), 70u);
    EXPECT_EQ(jtag_version(), 0x11300u);
    EXPECT_EQ(ss_version(), 0x10010u);
    EXPECT_EQ(jtag_end(), 1);
    EXPECT_EQ(fakeusb::board().closes, fakeusb::board().opens);
}

} // namespace
