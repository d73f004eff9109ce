// A stand-in for the EZ-USB access layer, linked with the driver's source: it
// logs every posted read and every write, and answers the way the firmware
// does: a TDO byte per serial byte on pipe 2 (the byte itself, as if TDO were
// wired to TDI), a pin byte per byte on pipe 3 (TDO = the byte's TDI bit, and
// the supply bit).
#include "fake_board.h"

#include <cstring>

#include "ezusb.h"

namespace fake_board {
namespace {
Board state;
uint8_t *pending = nullptr;
int32_t pending_length = 0;
} // namespace

Board &reset() {
    state = Board{};
    pending = nullptr;
    pending_length = 0;
    return state;
}
Board &board() { return state; }

} // namespace fake_board

using fake_board::state;

extern "C" {

int32_t ezusb_init(int32_t index, const uint8_t *, const char *string1, const char *string2) {
    state.init_index = index;
    state.strings = std::string(string1) + "/" + string2;
    return state.init_result;
}

int32_t ezusb_close(void) { return ++state.closes; }

int32_t ezusb_bulk_write(uint32_t pipe, const uint8_t *data, int32_t length) {
    state.log.push_back({'W', pipe, fake_board::Bytes(data, data + length)});
    if (pipe == state.failing_write_pipe)
        return -1;
    if (fake_board::pending != nullptr) {
        for (int32_t i = 0; i < length && i < fake_board::pending_length; ++i)
            fake_board::pending[i] =
                pipe == 3 ? uint8_t(((data[i] & 0x20) ? 0x01 : 0) | (state.powered ? 0x08 : 0))
                          : data[i];
        fake_board::pending = nullptr;
    }
    return 0;
}

int32_t ezusb_bulk_read(uint32_t pipe, uint8_t *buffer, int32_t length) {
    state.log.push_back({'R', pipe, fake_board::Bytes(size_t(length))});
    if (!state.fail_reads) {
        fake_board::pending = buffer;
        fake_board::pending_length = length;
    }
    return 1;
}

int32_t ezusb_bulk_read_left(int32_t) { return state.fail_reads ? -1 : 0; }

uint32_t ezusb_read_thread(void *) { return 0; }

} // extern "C"

namespace ezusb {
const char *failure_reason() { return "no board in this test"; }
int32_t drain(uint32_t pipe) {
    state.log.push_back({'D', pipe, {}});
    return 0;
}
} // namespace ezusb
