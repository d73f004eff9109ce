// Cable driver for the SPI board: JTAG through the EZ-USB's serial port 0.
//
// A shift is split into a byte part, eight TCK cycles per byte through the
// serial engine with TMS held at one level, and a bit part of at most eight
// cycles, one byte per cycle, which carries the TMS change on the last cycle
// and the bits that do not fill a byte (see vok_usb2_protocol.h).
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "cable_common.h"
#include "ez_spi_image.h"
#include "ezusb.h"
#include "vok_usb2_protocol.h"
#include "vokcable.h"

namespace {

using vokcable::say;

constexpr char MANUFACTURER[] = {VOK_USB2_MANUFACTURER, '\0'};
constexpr char PRODUCT[] = {VOK_USB2_PRODUCT, '\0'};

constexpr int NAME_SIZE = 128;
constexpr int32_t SPI_BUFFER_SIZE = 0x8000;
constexpr int32_t BIT_PART_MAX = 8;

// 1 from the start of jtag_init until the board is open; nothing talks to the
// board while it is set.
int32_t usb_error = 0;
// The TMS level the board holds: 0, 1, or -1 when not known.
int32_t tms_state = -1;
uint8_t rev_table[256];
uint8_t spi_buffer[SPI_BUFFER_SIZE];
// Answers of an exchange land apart from the request, then replace it.
uint8_t answer_buffer[BIT_PART_MAX];

void build_rev_table() {
    for (int v = 0; v < 256; ++v) {
        uint8_t r = 0;
        for (int b = 0; b < 8; ++b)
            if (v & (1 << b))
                r = static_cast<uint8_t>(r | (0x80 >> b));
        rev_table[v] = r;
    }
}

// Sends count bytes of spi_buffer on the bit pipe; their answers replace them.
// An answer that did not arrive reads as 0.
bool exchange(int32_t count) {
    std::memset(answer_buffer, 0, sizeof answer_buffer);
    ezusb_bulk_read(VOK_USB2_PIPE_ANSWER, answer_buffer, count);
    bool written = ezusb_bulk_write(VOK_USB2_PIPE_BITS, spi_buffer, count) >= 0;
    bool read = ezusb_bulk_read_left(1) != -1;
    if (!(written && read))
        std::memset(answer_buffer, 0, sizeof answer_buffer);
    std::memcpy(spi_buffer, answer_buffer, size_t(count));
    return written && read;
}

void send_level(bool tms) {
    tms_state = tms ? 1 : 0;
    spi_buffer[0] = tms ? VOK_USB2_LEVEL_TMS_HIGH : VOK_USB2_LEVEL_TMS_LOW;
    if (!usb_error && !exchange(1))
        say("error ! USB SPI Protcol\n");
}

// len serial bytes already staged in spi_buffer; TDO straight into tdo.
void shift_bytes(uint8_t *tdo, int32_t len) {
    if (tdo == nullptr) {
        if (!usb_error && ezusb_bulk_write(VOK_USB2_PIPE_SERIAL, spi_buffer, len) < 0)
            say("error ! USB SPI TX\n");
        return;
    }
    if (usb_error)
        return;
    ezusb_bulk_read(VOK_USB2_PIPE_ANSWER, tdo, len);
    bool written = ezusb_bulk_write(VOK_USB2_PIPE_SERIAL_TDO, spi_buffer, len) >= 0;
    if (ezusb_bulk_read_left(1) == -1 || !written) {
        // The access layer has cancelled the read: no stale bytes are left.
        std::memset(tdo, 0, size_t(len));
        say("error ! USB SPI TX-RX\n");
    }
}

} // namespace

extern "C" {

VOK_EXPORT int32_t VOK_CALL jtag_init(int32_t port, int32_t /*baud*/, char *name) {
    build_rev_table();
    if (name != nullptr)
        std::snprintf(name, NAME_SIZE, "EZ-USB No.%d : SPI(PC1=TCK,PA5=TDI,PC2=TMS,PC0=TDO,PC3=TVCC)",
                      port);
    usb_error = 1;
    say("Setup EZ-USB Firmware\n");
    if (ezusb_init(port, ez_spi, MANUFACTURER, PRODUCT) != 0) {
        say("\nCan't found EZ-USB\n");
        std::fprintf(stderr, "%s\n", ezusb::failure_reason());
        return VOK_INIT_NO_PROBE;
    }
    // Answers that a run killed mid-transfer never took would pass for ours.
    ezusb::drain(VOK_USB2_PIPE_ANSWER);
    say("\n");
    usb_error = 0;
    tms_state = -1;
    return VOK_INIT_READY;
}

// The query is a level message for TMS high, so the board holds TMS high
// afterwards; the driver records that.
VOK_EXPORT int32_t jtag_power(void) {
    spi_buffer[0] = VOK_USB2_LEVEL_TMS_HIGH;
    if (usb_error)
        return 0;
    if (!exchange(1)) {
        tms_state = -1;
        say("error ! USB SPI Protcol\n");
        return 0;
    }
    tms_state = 1;
    return (spi_buffer[0] & VOK_USB2_PIN_POWER) ? 1 : 0;
}

VOK_EXPORT int32_t VOK_CALL jtag_txrx(const uint8_t *tdi, uint8_t *tdo, int32_t nbits,
                                     int32_t tms, int32_t tms_last) {
    if (nbits <= 0)
        return 0;
    const bool tms_on = tms != 0, last_on = tms_last != 0;
    const int32_t set_aside = tms_on != last_on ? 1 : 0;
    int32_t n = nbits - set_aside;

    if (n > 7) {
        if (tms_state != (tms_on ? 1 : 0))
            send_level(tms_on);
        while (n > 7) {
            const int32_t len = std::min(n / 8, SPI_BUFFER_SIZE);
            if (tdi != nullptr) {
                for (int32_t i = 0; i < len; ++i)
                    spi_buffer[i] = rev_table[tdi[i]];
                tdi += len;
            } else {
                std::memset(spi_buffer, 0, size_t(len));
            }
            shift_bytes(tdo, len);
            if (tdo != nullptr)
                tdo += len;
            n -= 8 * len;
        }
    }

    n += set_aside;
    if (n > 0) {
        // Bit-cycle bytes: TCK stays clear, so every byte is one clock cycle.
        for (int32_t i = 0; i < n; ++i) {
            const bool cycle_tms = i == n - 1 ? last_on : tms_on;
            spi_buffer[i] = static_cast<uint8_t>((cycle_tms ? VOK_USB2_PIN_TMS : 0) |
                                                 (vokcable::tdi_bit(tdi, i) ? VOK_USB2_PIN_TDI : 0));
        }
        if (!usb_error && !exchange(n))
            say("error ! USB SPI Protcol\n");
        if (tdo != nullptr) {
            *tdo = 0;
            for (int32_t i = 0; i < n; ++i)
                vokcable::put_tdo_bit(tdo, i, spi_buffer[i] & VOK_USB2_PIN_TDO);
        }
    }
    tms_state = last_on ? 1 : 0;
    return 1;
}

VOK_EXPORT int32_t jtag_end(void) { return ezusb_close(); }

VOK_EXPORT uint32_t jtag_version(void) { return VOK_VERSION(0x1, 0x0000); }

} // extern "C"
