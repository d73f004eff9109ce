// The vok_usb2 driver's traffic on the board's endpoints, through the EZ-USB
// access layer, against a board on the stand-in USB seam.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/fake_usb.h"
#include "vokcable.h"

namespace {

using fakeusb::Bytes;
using fakeusb::Transfer;

// Pipes 1, 2, 3 and 5: serial bytes, serial bytes answered with TDO, bit cycles
// and level messages, answers.
constexpr uint8_t EP_SERIAL = 0x02, EP_SERIAL_TDO = 0x04, EP_BITS = 0x06, EP_ANSWER = 0x82;

bool powered = true;

// A board that runs the SPI firmware: each serial byte on EP4 answers itself, as
// if TDO were wired to TDI; each bit-cycle byte on EP6 answers the pins, TDO
// (PC0) being the byte's TDI bit (PA5), and the supply (PC3).
fakeusb::Board &spi_board() {
    jtag_end(); // no read of the last board is left waiting
    fakeusb::Board &b = fakeusb::reset();
    b.strings = {"USB_SPI", "V010"};
    b.endpoints = {0x01, EP_SERIAL, EP_SERIAL_TDO, EP_BITS, 0x81, EP_ANSWER, 0x84, 0x86};
    powered = true;
    b.responder = [](uint8_t endpoint, const Bytes &written) {
        Bytes answer;
        if (endpoint == EP_SERIAL_TDO) answer = written;
        if (endpoint == EP_BITS)
            for (uint8_t bits : written) answer.push_back(uint8_t(((bits & 0x20) ? 0x01 : 0) | (powered ? 0x08 : 0)));
        return answer;
    };
    return b;
}

Transfer read5(size_t n) { return {Transfer::BULK, 0, 0, 0, 0, EP_ANSWER, Bytes(n)}; }
Transfer write(uint8_t endpoint, Bytes b) { return {Transfer::BULK, 0, 0, 0, 0, endpoint, std::move(b)}; }

std::vector<Transfer> &log() { return fakeusb::board().log; }

// A fresh board, opened, with the open's traffic forgotten.
void open_board() {
    spi_board();
    testing::internal::CaptureStdout();
    ASSERT_EQ(jtag_init(0, 0, nullptr), VOK_INIT_READY);
    testing::internal::GetCapturedStdout();
    log().clear();
}

TEST(VokUsb2, InitNameMessagesAndVersion) {
    spi_board().number = 7;
    char name[128];
    testing::internal::CaptureStdout();
    EXPECT_EQ(jtag_init(7, 9600, name), VOK_INIT_READY);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Setup EZ-USB Firmware\n\n");
    EXPECT_STREQ(name, "EZ-USB No.7 : SPI(PC1=TCK,PA5=TDI,PC2=TMS,PC0=TDO,PC3=TVCC)");
    EXPECT_EQ(std::strlen(name), 59u);
    for (const Transfer &t : fakeusb::board().of_kind(Transfer::CONTROL))
        EXPECT_EQ(t.request, 6) << "the board's strings are the firmware's: nothing is loaded";
    const auto bulk = fakeusb::board().of_kind(Transfer::BULK);
    ASSERT_EQ(bulk.size(), 1u) << "at the open, stale answers are dropped and nothing is sent";
    EXPECT_EQ(bulk[0].endpoint, EP_ANSWER);
    EXPECT_EQ(jtag_version(), 0x10000u);
    EXPECT_EQ(jtag_end(), 1);

    spi_board().present = false;
    fakeusb::board().away_opens = 1000;
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
        std::vector<Transfer> traffic;
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
         {read5(8), write(EP_BITS, {0x20, 0, 0x20, 0, 0, 0x20, 0, 0x24})},
         {0xEE, 0xEE, 0xEE}},
        {"16 bits right after the open: level message, then two serial bytes",
         [](uint8_t *) {
             const uint8_t tdi[] = {0x80, 0x03};
             jtag_txrx(tdi, nullptr, 16, 0, 0);
         },
         {read5(1), write(EP_BITS, {0x02}), write(EP_SERIAL, {0x01, 0xC0})},
         {0xEE, 0xEE, 0xEE}},
        {"16 bits with a TMS change: one serial byte, eight bit cycles from the second byte",
         [](uint8_t *) {
             const uint8_t tdi[] = {0x0F, 0xC3};
             jtag_txrx(tdi, nullptr, 16, 0, 1);
         },
         {read5(1), write(EP_BITS, {0x02}), write(EP_SERIAL, {0xF0}), read5(8),
          write(EP_BITS, {0x20, 0x20, 0, 0, 0, 0, 0x20, 0x24})},
         {0xEE, 0xEE, 0xEE}},
        {"20 bits with TDO: two serial bytes answered, four bit cycles into bits 0-3",
         [](uint8_t *tdo) {
             const uint8_t tdi[] = {0x12, 0x34, 0xAF};
             jtag_txrx(tdi, tdo, 20, 1, 1);
         },
         {read5(1), write(EP_BITS, {0x06}), read5(2), write(EP_SERIAL_TDO, {0x48, 0x2C}), read5(4),
          write(EP_BITS, {0x24, 0x04, 0x24, 0x04})},
         {0x48, 0x2C, 0x05}},
        {"the same level twice: one level message",
         [](uint8_t *) {
             const uint8_t tdi[] = {0x01, 0x02};
             jtag_txrx(tdi, nullptr, 16, 0, 0);
             jtag_txrx(tdi, nullptr, 16, 0, 0);
         },
         {read5(1), write(EP_BITS, {0x02}), write(EP_SERIAL, {0x80, 0x40}), write(EP_SERIAL, {0x80, 0x40})},
         {0xEE, 0xEE, 0xEE}},
        {"TDI null: zeros, no TDI bit in the bit cycles",
         [](uint8_t *) { jtag_txrx(nullptr, nullptr, 12, 1, 0); },
         {read5(1), write(EP_BITS, {0x06}), write(EP_SERIAL, {0x00}), read5(4), write(EP_BITS, {0x04, 0x04, 0x04, 0x00})},
         {0xEE, 0xEE, 0xEE}},
        {"a power query leaves TMS high: the next shift at TMS low sets it",
         [](uint8_t *) {
             EXPECT_EQ(jtag_txrx(nullptr, nullptr, 16, 0, 0), 1);
             EXPECT_EQ(jtag_power(), 1);
             jtag_txrx(nullptr, nullptr, 16, 0, 0);
         },
         {read5(1), write(EP_BITS, {0x02}), write(EP_SERIAL, {0, 0}), read5(1), write(EP_BITS, {0x06}), read5(1),
          write(EP_BITS, {0x02}), write(EP_SERIAL, {0, 0})},
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
    EXPECT_EQ(log()[2], write(EP_SERIAL, Bytes(32768, 0x01)));
    EXPECT_EQ(log()[3], write(EP_SERIAL, Bytes(5, 0x01)));
}

TEST(VokUsb2, FailuresArePrintedAndTheCallGoesOn) {
    struct Case {
        const char *what;
        uint8_t failing_endpoint;
        bool fail_reads;
        bool capture;
        const char *message;
        Bytes tdo;
    } cases[] = {
        {"serial bytes", EP_SERIAL, false, false, "error ! USB SPI TX\n", {0xEE, 0xEE, 0xEE}},
        // The answer to the write never comes: the access layer keeps the read failed.
        {"serial bytes with TDO: the bytes are cleared, not stale", EP_SERIAL_TDO, false, true,
         "error ! USB SPI TX-RX\nerror ! USB SPI Protcol\n", {0x00, 0x00, 0x00}},
        {"answers lost: every exchange fails, TDO reads 0", 0, true, true,
         "error ! USB SPI Protcol\nerror ! USB SPI TX-RX\nerror ! USB SPI Protcol\n", {0, 0, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        open_board();
        fakeusb::board().failing_endpoint = c.failing_endpoint;
        fakeusb::board().fail_reads = c.fail_reads;
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
    open_board();
    powered = false;
    EXPECT_EQ(jtag_power(), 0);
    powered = true;
    EXPECT_EQ(jtag_power(), 1);
    jtag_end();
}

} // namespace
