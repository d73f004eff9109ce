// Cable driver for the USB-QRT board: an EZ-USB AN2131 running our general-purpose
// firmware, with the JTAG signals on port C (PC3 driven low); see vok_qrt_protocol.h.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "cable_common.h"
#include "cusb.h"
#include "fw_bin_image.h"
#include "vok_qrt_protocol.h"
#include "vokcable.h"

namespace {

constexpr int NAME_SIZE = 128;

// Command bytes of the commands that take no port value in their low bits.
constexpr uint8_t CMD_SETUP_PORTS = VOK_QRT_COMMAND(VOK_QRT_CMD_SETUP_PORTS, 0);
constexpr uint8_t CMD_SET_PORT = VOK_QRT_COMMAND(VOK_QRT_CMD_SET_PORT, 0);
constexpr uint8_t CMD_READ_PORT = VOK_QRT_COMMAND(VOK_QRT_CMD_READ_PORT, 0);
constexpr uint8_t CMD_CLOCK = VOK_QRT_COMMAND(VOK_QRT_CMD_CLOCK, 0);
constexpr uint8_t CMD_BLOCK = VOK_QRT_COMMAND(VOK_QRT_CMD_BLOCK, 0);
constexpr uint8_t CMD_TIMING = VOK_QRT_COMMAND(VOK_QRT_CMD_TIMING, 0);
constexpr char MANUFACTURER[] = {VOK_QRT_MANUFACTURER, '\0'};
constexpr char PRODUCT[] = {VOK_QRT_PRODUCT, '\0'};

// Outputs on PC1, PC3, PC4 and PC5.
constexpr uint8_t OUTPUT_ENABLES = VOK_QRT_PORT_TDI | VOK_QRT_PORT_LOW | VOK_QRT_PORT_TMS | VOK_QRT_PORT_TCK;
// Fast-transfer control written at start-up (FBLK is set by the firmware).
constexpr uint8_t FAST_TRANSFER = 0x12;

// One byte per TCK cycle of a block shift.
constexpr int32_t BIT_BUFFER_SIZE = 0x40000;

cusb_handle usb_handle = nullptr;
int32_t board_number = 0;
// Set when a transfer fails: the board has left or stopped answering, so nothing
// more is sent to it until the next jtag_init. Without this every TDO bit of the
// run would wait out a timeout of its own.
bool board_lost = false;
std::array<uint8_t, 4> cmd_buffer{};
std::array<uint8_t, BIT_BUFFER_SIZE> bit_buffer{};

void lose_board() {
    board_lost = true;
    std::fprintf(stderr, "EZ-USB board %d stopped answering (%s): no more transfers in this run\n",
                 static_cast<int>(board_number), cusb::last_transfer_error());
}

bool write_pipe(uint32_t pipe, const uint8_t *data, int32_t length) {
    if (board_lost)
        return false;
    if (usb_bulk_write(&usb_handle, pipe, data, length) == 0)
        return true;
    lose_board();
    return false;
}

bool read_pipe(uint32_t pipe, uint8_t *buffer, int32_t length) {
    if (board_lost)
        return false;
    if (usb_bulk_read(&usb_handle, pipe, buffer, length) >= 0)
        return true;
    lose_board();
    return false;
}

// Bits [first, first + count) of a shift of nbits as one block shift.
void shift_block(const uint8_t *tdi, int32_t first, int32_t count, int32_t nbits, bool tms,
                 bool tms_last) {
    for (int32_t k = 0; k < count; ++k) {
        int32_t i = first + k;
        bool m = i == nbits - 1 ? tms_last : tms;
        bit_buffer[k] = static_cast<uint8_t>((m ? VOK_QRT_PORT_TMS : 0) |
                                             (vokcable::tdi_bit(tdi, i) ? VOK_QRT_PORT_TDI : 0));
    }
    const uint8_t command[4] = {CMD_BLOCK, static_cast<uint8_t>(count & VOK_QRT_COUNT_SHORT_MASK),
                                static_cast<uint8_t>((count >> 6) & 0xFF),
                                static_cast<uint8_t>((count >> 14) & 0xFF)};
    if (write_pipe(VOK_QRT_PIPE_COMMAND, command, sizeof command))
        write_pipe(VOK_QRT_PIPE_SHIFT, bit_buffer.data(), count);
}

} // namespace

extern "C" {

int32_t VOK_CALL jtag_init(int32_t index, int32_t /*baud*/, char *name) {
    if (name != nullptr)
        std::snprintf(name, NAME_SIZE,
                      "EZ-USB No.%d : USB-QRT(AN2131SC) (PC5=TCK,PC1=TDI,PC4=TMS,PC1=PC0,PC2=TVCC)",
                      static_cast<int>(index));
    vokcable::say("Setup EZ-USB with velantoUSB GP firnware V1.10 for USB-QRT Ver0.00\n");
    // A board still open from an init without an end is closed first: its
    // interface stays claimed otherwise, and the open below would find it busy.
    if (usb_handle != nullptr)
        usb_close(&usb_handle);
    board_number = index;
    board_lost = false;
    if (cusb_init(index, &usb_handle, fw_bin, MANUFACTURER, PRODUCT) != 0) {
        usb_handle = nullptr;
        vokcable::say("Can't found EZ-USB\n");
        std::fprintf(stderr, "%s\n", cusb::failure_reason());
        return VOK_INIT_NO_PROBE;
    }
    // A run killed mid-transfer may have left a reply on EP2 IN and a block shift
    // waiting for packets: the reply is dropped and an empty block ends the shift.
    if (cusb::drain(&usb_handle, VOK_QRT_PIPE_REPLY) < 0)
        lose_board();
    const uint8_t end_block[4] = {CMD_BLOCK, 0, 0, 0};
    write_pipe(VOK_QRT_PIPE_COMMAND, end_block, sizeof end_block);
    // TCK high with TDI, TMS and PC3 low, the JTAG outputs on, port C written again.
    const uint8_t ports[4] = {CMD_SETUP_PORTS, OUTPUT_ENABLES, CMD_SET_PORT, VOK_QRT_PORT_TCK};
    write_pipe(VOK_QRT_PIPE_COMMAND, ports, sizeof ports);
    const uint8_t timing[2] = {CMD_TIMING, FAST_TRANSFER};
    write_pipe(VOK_QRT_PIPE_COMMAND, timing, sizeof timing);
    return VOK_INIT_READY;
}

// When the board does not answer, the byte examined is the command itself (no power).
int32_t jtag_power(void) {
    cmd_buffer[0] = CMD_READ_PORT;
    if (write_pipe(VOK_QRT_PIPE_COMMAND, cmd_buffer.data(), 1))
        read_pipe(VOK_QRT_PIPE_REPLY, cmd_buffer.data(), 1);
    return (cmd_buffer[0] & VOK_QRT_PORT_POWER) ? 1 : 0;
}

int32_t VOK_CALL jtag_txrx(const uint8_t *tdi, uint8_t *tdo, int32_t nbits, int32_t tms,
                           int32_t tms_last) {
    if (nbits <= 0)
        return 0;
    if (tdo == nullptr) {
        // Longer shifts go in pieces that the staging buffer holds.
        for (int32_t first = 0; first < nbits; first += BIT_BUFFER_SIZE)
            shift_block(tdi, first, std::min(BIT_BUFFER_SIZE, nbits - first), nbits, tms != 0,
                        tms_last != 0);
        return 0;
    }
    std::memset(tdo, 0, (static_cast<size_t>(nbits) + 7) / 8);
    for (int32_t i = 0; i < nbits; ++i) {
        bool m = i == nbits - 1 ? tms_last != 0 : tms != 0;
        const uint8_t exchange[3] = {
            CMD_CLOCK,
            static_cast<uint8_t>((m ? VOK_QRT_PORT_TMS : 0) | (vokcable::tdi_bit(tdi, i) ? VOK_QRT_PORT_TDI : 0)),
            CMD_READ_PORT};
        if (!write_pipe(VOK_QRT_PIPE_COMMAND, exchange, sizeof exchange) ||
            !read_pipe(VOK_QRT_PIPE_REPLY, bit_buffer.data(), 1))
            break;
        vokcable::put_tdo_bit(tdo, i, bit_buffer[0] & VOK_QRT_PORT_TDO);
    }
    return 0;
}

int32_t jtag_end(void) {
    if (usb_handle != nullptr)
        usb_close(&usb_handle);
    return 0;
}

uint32_t jtag_version(void) { return VOK_VERSION(1, 0); }

} // extern "C"
