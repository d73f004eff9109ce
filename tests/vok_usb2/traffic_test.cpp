// The vok_usb2 driver's traffic on the pipes, against a stand-in access layer.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fake_board.h"
#include "vokcable.h"

namespace {

using fake_board::Bytes;
using fake_board::Event;

Event read5(size_t n) { return {'R', 5, Bytes(n)}; }
Event write(uint32_t pipe, Bytes b) { return {'W', pipe, std::move(b)}; }

std::vector<Event> &log() { return fake_board::board().log; }

// A fresh board, opened, with the open's traffic forgotten.
void open_board() {
    fake_board::reset();
    testing::internal::CaptureStdout();
    ASSERT_EQ(jtag_init(0, 0, nullptr), VOK_INIT_READY);
    testing::internal::GetCapturedStdout();
    log().clear();
}

TEST(VokUsb2, InitNameMessagesAndVersion) {
    fake_board::reset();
    char name[128];
    testing::internal::CaptureStdout();
    EXPECT_EQ(jtag_init(7, 9600, name), VOK_INIT_READY);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Setup EZ-USB Firmware\n\n");
    EXPECT_STREQ(name, "EZ-USB No.7 : SPI(PC1=TCK,PA5=TDI,PC2=TMS,PC0=TDO,PC3=TVCC)");
    EXPECT_EQ(std::strlen(name), 59u);
    EXPECT_EQ(fake_board::board().init_index, 7);
    EXPECT_EQ(fake_board::board().strings, "USB_SPI/V010");
    EXPECT_EQ(log(), (std::vector<fake_board::Event>{{'D', 5, {}}}))
        << "at the open, stale answers are dropped and nothing is sent";
    EXPECT_EQ(jtag_version(), 0x10000u);
    EXPECT_EQ(jtag_end(), 1);

    fake_board::reset().init_result = -1;
    testing::internal::CaptureStdout();
    EXPECT_EQ(jtag_init(0, 0, nullptr), VOK_INIT_NO_PROBE);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Setup EZ-USB Firmware\n\nCan't found EZ-USB\n");
    EXPECT_EQ(jtag_power(), 0);
    uint8_t tdi[2] = {0xFF, 0xFF};
    EXPECT_EQ(jtag_txrx(tdi, nullptr, 16, 0, 1), 1);
    EXPECT_TRUE(log().empty()) << "a board that did not open is never talked to";
}

TEST(VokUsb2, ShiftTraffic) {
    struct Case {
        const char *what;
        std::function<void(uint8_t *tdo)> calls;
        std::vector<Event> traffic;
        Bytes tdo;  // after the calls, from a buffer filled with 0xEE
    } cases[] = {
        {"nbits 0: nothing",
         [](uint8_t *tdo) {
             const uint8_t tdi[] = {0xFF};
             EXPECT_EQ(jtag_txrx(tdi, tdo, 0, 0, 1), 0);
         },
         {},
         {0xEE, 0xEE, 0xEE}},
        {"8 bits with a TMS change: bit cycles only, TMS on the last",
         [](uint8_t *) {
             const uint8_t tdi[] = {0xA5};
             EXPECT_EQ(jtag_txrx(tdi, nullptr, 8, 0, 1), 1);
         },
         {read5(8), write(3, {0x20, 0, 0x20, 0, 0, 0x20, 0, 0x24})},
         {0xEE, 0xEE, 0xEE}},
        {"16 bits right after the open: level message, then two serial bytes",
         [](uint8_t *) {
             const uint8_t tdi[] = {0x80, 0x03};
             jtag_txrx(tdi, nullptr, 16, 0, 0);
         },
         {read5(1), write(3, {0x02}), write(1, {0x01, 0xC0})},
         {0xEE, 0xEE, 0xEE}},
        {"16 bits with a TMS change: one serial byte, eight bit cycles from the second byte",
         [](uint8_t *) {
             const uint8_t tdi[] = {0x0F, 0xC3};
             jtag_txrx(tdi, nullptr, 16, 0, 1);
         },
         {read5(1), write(3, {0x02}), write(1, {0xF0}), read5(8),
          write(3, {0x20, 0x20, 0, 0, 0, 0, 0x20, 0x24})},
         {0xEE, 0xEE, 0xEE}},
        {"20 bits with TDO: two serial bytes answered, four bit cycles into bits 0-3",
         [](uint8_t *tdo) {
             const uint8_t tdi[] = {0x12, 0x34, 0xAF};
             jtag_txrx(tdi, tdo, 20, 1, 1);
         },
         {read5(1), write(3, {0x06}), read5(2), write(2, {0x48, 0x2C}), read5(4),
          write(3, {0x24, 0x04, 0x24, 0x04})},
         {0x48, 0x2C, 0x05}},
        {"the same level twice: one level message",
         [](uint8_t *) {
             const uint8_t tdi[] = {0x01, 0x02};
             jtag_txrx(tdi, nullptr, 16, 0, 0);
             jtag_txrx(tdi, nullptr, 16, 0, 0);
         },
         {read5(1), write(3, {0x02}), write(1, {0x80, 0x40}), write(1, {0x80, 0x40})},
         {0xEE, 0xEE, 0xEE}},
        {"TDI null: zeros, no TDI bit in the bit cycles",
         [](uint8_t *) { jtag_txrx(nullptr, nullptr, 12, 1, 0); },
         {read5(1), write(3, {0x06}), write(1, {0x00}), read5(4), write(3, {0x04, 0x04, 0x04, 0x00})},
         {0xEE, 0xEE, 0xEE}},
        {"a power query leaves TMS high: the next shift at TMS low sets it",
         [](uint8_t *) {
             EXPECT_EQ(jtag_txrx(nullptr, nullptr, 16, 0, 0), 1);
             EXPECT_EQ(jtag_power(), 1);
             jtag_txrx(nullptr, nullptr, 16, 0, 0);
         },
         {read5(1), write(3, {0x02}), write(1, {0, 0}), read5(1), write(3, {0x06}), read5(1),
          write(3, {0x02}), write(1, {0, 0})},
         {0xEE, 0xEE, 0xEE}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        open_board();
        Bytes tdo(3, 0xEE);
        c.calls(tdo.data());
        EXPECT_EQ(log(), c.traffic);
        EXPECT_EQ(tdo, c.tdo);
    }
}

TEST(VokUsb2, LongShiftGoesOutInPiecesOf32768Bytes) {
    open_board();
    std::vector<uint8_t> tdi(32768 + 5, 0x80);
    jtag_txrx(tdi.data(), nullptr, int32_t(tdi.size() * 8), 1, 1);
    ASSERT_EQ(log().size(), 4u);
    EXPECT_EQ(log()[2], write(1, Bytes(32768, 0x01)));
    EXPECT_EQ(log()[3], write(1, Bytes(5, 0x01)));
}

TEST(VokUsb2, FailuresArePrintedAndTheCallGoesOn) {
    struct Case {
        const char *what;
        uint32_t failing_pipe;
        bool fail_reads;
        bool capture;
        const char *message;
        Bytes tdo;
    } cases[] = {
        {"serial bytes", 1, false, false, "error ! USB SPI TX\n", {0xEE, 0xEE, 0xEE}},
        {"serial bytes with TDO: the bytes are cleared, not stale", 2, false, true,
         "error ! USB SPI TX-RX\n", {0x00, 0x00, 0x05}},
        {"answers lost: every exchange fails, TDO reads 0", 99, true, true,
         "error ! USB SPI Protcol\nerror ! USB SPI TX-RX\nerror ! USB SPI Protcol\n", {0, 0, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        open_board();
        fake_board::board().failing_write_pipe = c.failing_pipe;
        fake_board::board().fail_reads = c.fail_reads;
        const uint8_t tdi[] = {0x12, 0x34, 0xAF};
        Bytes tdo(3, 0xEE);
        testing::internal::CaptureStdout();
        EXPECT_EQ(jtag_txrx(tdi, c.capture ? tdo.data() : nullptr, 20, 1, 1), 1);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.message);
        EXPECT_EQ(tdo, c.tdo);
    }
    // A failed power query reports no power.
    testing::internal::CaptureStdout();
    EXPECT_EQ(jtag_power(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "error ! USB SPI Protcol\n");
    fake_board::board().fail_reads = false;
    fake_board::board().powered = false;
    EXPECT_EQ(jtag_power(), 0);
    fake_board::board().powered = true;
    EXPECT_EQ(jtag_power(), 1);
}

} // namespace
