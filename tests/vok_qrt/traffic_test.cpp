// What the vok_qrt driver sends to the board for each entry point, against a
// scripted board that already runs the firmware.
#include <gtest/gtest.h>

#include "qrt_board.h"
#include "vokcable.h"

namespace {

using namespace qrt_test;
using fakeusb::Transfer;

using Bytes = std::vector<uint8_t>;

class QrtTraffic : public ::testing::Test {
protected:
    fakeusb::Board &s = gpfw_board(2);
    OnFakeSeam seam;

    void SetUp() override {
        testing::internal::CaptureStdout();
        char name[128];
        ASSERT_EQ(jtag_init(2, 0, name), 0);
        testing::internal::GetCapturedStdout();
        s.log.clear();
    }
    void TearDown() override { jtag_end(); }

    std::vector<Bytes> sent(uint8_t endpoint) const {
        return s.sent(endpoint);
    }
};

TEST(QrtInit, SetUpLineProbeNameAndTheFirstCommands) {
    fakeusb::Board &s = gpfw_board(7);
    OnFakeSeam seam;
    char name[128];
    testing::internal::CaptureStdout();
    EXPECT_EQ(jtag_init(7, 0, name), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Setup EZ-USB with velantoUSB GP firnware V1.10 for USB-QRT Ver0.00\n");
    EXPECT_STREQ(name, "EZ-USB No.7 : USB-QRT(AN2131SC) (PC5=TCK,PC1=TDI,PC4=TMS,PC1=PC0,PC2=TVCC)");
    // A stale reply is read away first, then an empty block ends any shift left
    // half done, then the set-up.
    auto bulk = s.of_kind(Transfer::BULK);
    size_t reads = 0;
    while (reads < bulk.size() && bulk[reads].endpoint == 0x82) ++reads;
    EXPECT_GE(reads, 1u) << "the drain comes first";
    std::vector<Bytes> commands;
    for (size_t i = reads; i < bulk.size(); ++i) commands.push_back(bulk[i].data);
    EXPECT_EQ(commands,
              (std::vector<Bytes>{{0xC0, 0x00, 0x00, 0x00}, {0x80, 0x3A, 0x90, 0x20}, {0xF0, 0x12}}));
    EXPECT_EQ(jtag_version(), 0x10000u);
    jtag_end();
    EXPECT_EQ(jtag_end(), 0) << "a second end finds nothing to close";
}

TEST(QrtInit, BoardMissingOrNotBackAfterTheDownloadIsReported) {
    struct Case {
        const char *label;
        bool present;
        int waits;
    };
    const Case cases[] = {{"no board", false, 0}, {"not back after the download", true, cusb::RETURN_POLLS}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        fakeusb::Board &s = gpfw_board();
        s.strings.clear(); // a bare chip
        s.present = c.present;
        s.away_opens = c.present ? 0 : 1000;
        s.away_after_run = 1000;
        OnFakeSeam seam;
        testing::internal::CaptureStdout();
        EXPECT_EQ(jtag_init(0, 0, nullptr), 2);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "Setup EZ-USB with velantoUSB GP firnware V1.10 for USB-QRT Ver0.00\nCan't found EZ-USB\n");
        EXPECT_EQ(s.waits.size(), size_t(c.waits));
        EXPECT_EQ(s.downloaded, c.present);
        s.log.clear();
        EXPECT_EQ(jtag_power(), 0);
        EXPECT_EQ(jtag_txrx(nullptr, nullptr, 8, 0, 0), 0);
        EXPECT_EQ(jtag_end(), 0);
        EXPECT_TRUE(s.log.empty()) << "nothing reaches a board after a failed open";
    }
}

TEST_F(QrtTraffic, WriteOnlyShiftIsOneCommandAndOneBlockOfPortValues) {
    struct Case {
        int32_t nbits;
        Bytes command;
    };
    const Case cases[] = {
        {100, {0xC0, 0x24, 0x01, 0x00}},
        {64, {0xC0, 0x00, 0x01, 0x00}},
        {1, {0xC0, 0x01, 0x00, 0x00}},
        {65536, {0xC0, 0x00, 0x00, 0x04}},
    };
    Bytes tdi(8192);
    for (size_t i = 0; i < tdi.size(); ++i) tdi[i] = uint8_t(0xA5 ^ i);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.nbits);
        s.log.clear();
        // TMS high on every bit but the last, which takes the last-TMS flag (0).
        jtag_txrx(tdi.data(), nullptr, c.nbits, 1, 0);
        ASSERT_EQ(sent(0x01), std::vector<Bytes>{c.command});
        Bytes values;
        for (const auto &b : sent(0x02)) values.insert(values.end(), b.begin(), b.end());
        ASSERT_EQ(values.size(), size_t(c.nbits));
        for (int32_t i = 0; i < c.nbits; ++i) {
            uint8_t want = uint8_t((i < c.nbits - 1 ? 0x10 : 0) | ((tdi[i / 8] >> (7 - i % 8)) & 1 ? 0x02 : 0));
            ASSERT_EQ(values[size_t(i)], want) << "bit " << i;
        }
    }
}

TEST_F(QrtTraffic, OneBitTakesTheLastTmsAndNullTdiSendsZeros) {
    jtag_txrx(nullptr, nullptr, 1, 0, 1);
    EXPECT_EQ(sent(0x02), std::vector<Bytes>{{0x10}});
    s.log.clear();
    jtag_txrx(nullptr, nullptr, 3, 1, 0);
    EXPECT_EQ(sent(0x02), (std::vector<Bytes>{{0x10, 0x10, 0x00}}));
}

TEST_F(QrtTraffic, LongerShiftThanTheStagingBufferGoesInPieces) {
    const int32_t nbits = 0x40000 + 3;
    Bytes tdi((nbits + 7) / 8, 0xFF);
    jtag_txrx(tdi.data(), nullptr, nbits, 0, 1);
    EXPECT_EQ(sent(0x01), (std::vector<Bytes>{{0xC0, 0x00, 0x00, 0x10}, {0xC0, 0x03, 0x00, 0x00}}));
    Bytes values;
    for (const auto &b : sent(0x02)) values.insert(values.end(), b.begin(), b.end());
    ASSERT_EQ(values.size(), size_t(nbits));
    EXPECT_EQ(values[0x3FFFF], 0x02) << "the end of the first piece is not the last bit";
    EXPECT_EQ(values.back(), 0x12);
}

TEST_F(QrtTraffic, NothingIsSentForZeroBits) {
    uint8_t tdo[2] = {0xFF, 0xFF};
    jtag_txrx(nullptr, nullptr, 0, 1, 1);
    jtag_txrx(nullptr, tdo, 0, 1, 1);
    EXPECT_TRUE(s.log.empty());
}

TEST_F(QrtTraffic, ReadShiftIsOneExchangePerBitWithTdoLeastSignificantFirst) {
    // TDO pattern 1,0,1,1, 0,0,0,1, 1,1,0,1 in PC0 of the replies; other pins high.
    const int tdo_bits[12] = {1, 0, 1, 1, 0, 0, 0, 1, 1, 1, 0, 1};
    for (int b : tdo_bits) s.answer({uint8_t(0xFE | b)});
    const uint8_t tdi[2] = {0xC3, 0x50};
    uint8_t tdo[3] = {0xFF, 0xFF, 0x77};
    jtag_txrx(tdi, tdo, 12, 0, 1);
    EXPECT_EQ(tdo[0], 0x8D);
    EXPECT_EQ(tdo[1], 0x0B) << "spare high bits cleared";
    EXPECT_EQ(tdo[2], 0x77);
    auto commands = sent(0x01);
    ASSERT_EQ(commands.size(), 12u);
    for (int i = 0; i < 12; ++i) {
        uint8_t v = uint8_t((i == 11 ? 0x10 : 0) | ((tdi[i / 8] >> (7 - i % 8)) & 1 ? 0x02 : 0));
        EXPECT_EQ(commands[size_t(i)], (Bytes{0xB0, v, 0xA0})) << "bit " << i;
    }
    auto reads = s.of_kind(Transfer::BULK, 0x82);
    ASSERT_EQ(reads.size(), 12u);
    for (const auto &r : reads) EXPECT_EQ(r.data.size(), 1u);
}

TEST_F(QrtTraffic, PowerIsPinTwoOfTheReplyAndNoReplyMeansNoPower) {
    s.answer({0x04});
    s.answer({0xFB});
    EXPECT_EQ(jtag_power(), 1);
    EXPECT_EQ(jtag_power(), 0);
    EXPECT_EQ(jtag_power(), 0) << "no answer";
    EXPECT_EQ(sent(0x01), (std::vector<Bytes>{{0xA0}, {0xA0}, {0xA0}}));
}

TEST_F(QrtTraffic, BoardThatStopsAnsweringIsLeftAloneUntilTheNextInit) {
    s.answer({0x01}); // one answer, then none
    uint8_t tdo[2] = {0xFF, 0xFF};
    testing::internal::CaptureStderr();
    EXPECT_EQ(jtag_txrx(nullptr, tdo, 12, 0, 0), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "EZ-USB board 2 stopped answering (timeout): no more transfers in this run\n");
    EXPECT_EQ(s.of_kind(Transfer::BULK, 0x82).size(), 2u) << "reads go on after a timeout";
    EXPECT_EQ(tdo[0], 0x01);
    EXPECT_EQ(tdo[1], 0x00);

    s.log.clear();
    EXPECT_EQ(jtag_txrx(nullptr, tdo, 8, 0, 0), 0);
    EXPECT_EQ(jtag_txrx(nullptr, nullptr, 100, 0, 0), 0);
    EXPECT_EQ(jtag_power(), 0);
    EXPECT_TRUE(s.log.empty()) << "a lost board is sent more";

    testing::internal::CaptureStdout();
    ASSERT_EQ(jtag_init(2, 0, nullptr), 0);
    testing::internal::GetCapturedStdout();
    s.answer({0x04});
    EXPECT_EQ(jtag_power(), 1) << "a new init talks to the board again";
}

} // namespace
