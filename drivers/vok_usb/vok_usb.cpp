// Cable driver for the AN2135SC EZ-USB board, JTAG or slave-serial wiring: one
// byte on a bulk pipe per clock cycle on the target (see vok_usb_protocol.h).
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

#include "cable_common.h"
#include "ezusb.h"
#include "firmware_image.h"
#include "vok_usb_protocol.h"
#include "vokcable.h"

namespace {

using vokcable::say;

constexpr uint8_t STATUS_QUERY = VOK_USB_COMMAND(VOK_USB_CMD_PORT_READ, 0);
constexpr uint8_t PROGRAM_LEVEL = VOK_USB_COMMAND(VOK_USB_CMD_PORT_WRITE, 0);
// PC0 (PROGRAM) an output and low; no MOVX stretch; fast bulk transfers with
// read and write strobe mode 2.
constexpr uint8_t SETUP_MESSAGE[] = {
    VOK_USB_COMMAND(VOK_USB_CMD_PORT_ENABLE, 0), VOK_USB_PIN_PROGRAM, PROGRAM_LEVEL, 0x00,
    VOK_USB_COMMAND(VOK_USB_CMD_BUS_TIMING, 0), 0x12};
constexpr char MANUFACTURER[] = {VOK_USB_MANUFACTURER, '\0'};
constexpr char PRODUCT[] = {VOK_USB_PRODUCT, '\0'};

constexpr int NAME_SIZE = 128;
constexpr int32_t CHUNK = 0x40000; // clock bytes per transfer
constexpr int32_t SS_BLOCK = CHUNK / 8; // data bytes that fill one chunk

// 1 while the board is not usable; then nothing talks to it.
int32_t usb_error = 0;
uint8_t cmd_buffer[64];
// One byte per clock cycle; the answers of a captured shift arrive in their own
// buffer, since the read thread writes them while this one still sends.
std::vector<uint8_t> bit_buffer(CHUNK);
std::vector<uint8_t> answer_buffer(CHUNK);

bool send_command(const uint8_t *message, int32_t length) {
    if (ezusb_bulk_write(VOK_USB_PIPE_COMMAND, message, length) == 0)
        return true;
    usb_error = 1;
    say("error ! USB write\n");
    return false;
}

// The port C pins after a status query, or 0x20 (no power, DONE low) when the
// board did not answer.
uint8_t status_byte() {
    cmd_buffer[0] = STATUS_QUERY;
    if (usb_error || !send_command(cmd_buffer, 1))
        return cmd_buffer[0];
    ezusb_bulk_read(VOK_USB_PIPE_ANSWER, cmd_buffer, 1);
    if (ezusb_bulk_read_left(1) == -1) {
        usb_error = 1;
        say("error ! USB read\n");
        cmd_buffer[0] = STATUS_QUERY;
    }
    return cmd_buffer[0];
}

// The eight clock bytes of a data byte, most significant bit first, with the
// data bit in bit 0: one table lookup per byte instead of a branch per bit.
struct BitExpansion {
    std::array<std::array<uint8_t, 8>, 256> bytes{};
    constexpr BitExpansion() {
        for (int v = 0; v < 256; ++v)
            for (int j = 0; j < 8; ++j)
                bytes[v][j] = (v & (0x80 >> j)) ? VOK_USB_CLOCK_DATA : 0;
    }
};
constexpr BitExpansion EXPANSION;

// Clock bytes of a shift: TMS in bit 1 (tms, or tms_last on the last cycle of
// the call), TDI in bit 0. A final partial TDI byte fills entries past the
// chunk's length, which stay unsent.
void stage_shift(const uint8_t *tdi, int32_t length, bool tms, bool last_chunk, bool tms_last) {
    uint8_t *out = bit_buffer.data();
    if (tdi == nullptr) {
        std::fill_n(out, length, tms ? VOK_USB_CLOCK_TMS : 0);
    } else {
        const uint64_t tms_bits = tms ? 0x0202020202020202ull : 0;
        for (int32_t k = 0; 8 * k < length; ++k) {
            uint64_t eight;
            std::memcpy(&eight, EXPANSION.bytes[tdi[k]].data(), 8);
            eight |= tms_bits;
            std::memcpy(out + 8 * k, &eight, 8);
        }
    }
    if (last_chunk)
        out[length - 1] = static_cast<uint8_t>((out[length - 1] & VOK_USB_CLOCK_DATA) | (tms_last ? VOK_USB_CLOCK_TMS : 0));
}

// TDO least significant bit first, from bit 1 of each answer byte.
void unstage_tdo(uint8_t *tdo, int32_t length) {
    std::memset(tdo, 0, (length + 7) / 8);
    for (int32_t i = 0; i < length; ++i)
        vokcable::put_tdo_bit(tdo, i, answer_buffer[i] & VOK_USB_PIN_TDO_DONE);
}

void shift_chunk(uint8_t *tdo, int32_t length) {
    if (tdo == nullptr) {
        if (!usb_error && ezusb_bulk_write(VOK_USB_PIPE_CLOCK, bit_buffer.data(), length) != 0)
            say("error ! USB FastWrite\n");
        return;
    }
    std::fill_n(answer_buffer.begin(), length, 0);
    if (!usb_error) {
        // The read is posted first: the board answers while the bytes go out.
        ezusb_bulk_read(VOK_USB_PIPE_ANSWER, answer_buffer.data(), length);
        bool written = ezusb_bulk_write(VOK_USB_PIPE_CLOCK_PINS, bit_buffer.data(), length) == 0;
        if (ezusb_bulk_read_left(1) == -1 || !written)
            say("error ! USB FastRead&Write\n");
    }
    unstage_tdo(tdo, length);
}

} // namespace

extern "C" {

VOK_EXPORT int32_t VOK_CALL jtag_init(int32_t port, int32_t /*baud*/, char *name) {
    if (name != nullptr)
        std::snprintf(name, NAME_SIZE,
                      "EZ-USB No.%d : AN2135SC (FWR=TCK,D0=TDI,D1=TMS,PC1=TDO,PC3=TVCC)", port);
    usb_error = 1;
    say("Setup EZ-USB with JTAG firnware V0.09\n");
    if (ezusb_init(port, firmware, MANUFACTURER, PRODUCT) != 0) {
        say("Can't found EZ-USB\n");
        std::fprintf(stderr, "%s\n", ezusb::failure_reason());
        return VOK_INIT_NO_PROBE;
    }
    // Answers that a run killed mid-transfer never took would pass for ours.
    ezusb::drain(VOK_USB_PIPE_ANSWER);
    usb_error = 0;
    send_command(SETUP_MESSAGE, sizeof SETUP_MESSAGE);
    if (usb_error)
        return VOK_INIT_NO_PROBE;
    // A board that takes commands but gives no status is no usable probe.
    status_byte();
    return usb_error ? VOK_INIT_NO_PROBE : VOK_INIT_READY;
}

VOK_EXPORT int32_t jtag_power(void) {
    if (usb_error)
        return 0;
    return (status_byte() & VOK_USB_PIN_POWER) ? 1 : 0;
}

VOK_EXPORT int32_t VOK_CALL jtag_txrx(const uint8_t *tdi, uint8_t *tdo, int32_t nbits,
                                     int32_t tms, int32_t tms_last) {
    while (nbits > 0) {
        int32_t length = std::min(nbits, CHUNK);
        bool last = length == nbits;
        stage_shift(tdi, length, tms != 0, last, tms_last != 0);
        shift_chunk(tdo, length);
        if (tdi != nullptr)
            tdi += length / 8;
        if (tdo != nullptr)
            tdo += length / 8;
        nbits -= length;
    }
    return 1;
}

VOK_EXPORT int32_t jtag_end(void) { return ezusb_close(); }

VOK_EXPORT uint32_t jtag_version(void) { return VOK_VERSION(0x1, 0x1300); }

VOK_EXPORT int32_t VOK_CALL ss_init(int32_t port, int32_t baud, char *name) {
    if (name != nullptr)
        std::snprintf(name, NAME_SIZE,
                      "EZ-USB No.%d : AN2135SC (FWR=CCLK,D0=DIN,PC0=PROGRAM,PC1=DONE,PC3=TVCC)",
                      port);
    return jtag_init(port, baud, nullptr);
}

VOK_EXPORT int32_t ss_power(void) { return jtag_power(); }

// Each byte most significant bit first, one CCLK per bit. A call longer than
// one staging buffer goes out in pieces.
VOK_EXPORT int32_t VOK_CALL ss_tx(const uint8_t *data, int32_t count) {
    while (count > 0) {
        int32_t bytes = std::min(count, SS_BLOCK);
        for (int32_t k = 0; k < bytes; ++k)
            std::memcpy(&bit_buffer[8 * k], EXPANSION.bytes[data[k]].data(), 8);
        if (!usb_error && ezusb_bulk_write(VOK_USB_PIPE_CLOCK, bit_buffer.data(), 8 * bytes) != 0)
            say("error ! USB FastWrite\n");
        data += bytes;
        count -= bytes;
    }
    return 0;
}

VOK_EXPORT int32_t VOK_CALL ss_program(int32_t level) {
    cmd_buffer[0] = PROGRAM_LEVEL;
    cmd_buffer[1] = (level & 0xFF) ? VOK_USB_PIN_PROGRAM : 0x00;
    if (!usb_error)
        send_command(cmd_buffer, 2);
    return 0;
}

VOK_EXPORT int32_t ss_done(void) { return (status_byte() & VOK_USB_PIN_TDO_DONE) ? 1 : 0; }

VOK_EXPORT int32_t ss_end(void) { return ezusb_close(); }

VOK_EXPORT uint32_t ss_version(void) { return VOK_VERSION(0x1, 0x0010); }

} // extern "C"
