#include "fake_access_layer.h"

#include <algorithm>
#include <deque>

#include "ezusb.h"

namespace fake_ezusb {
namespace {
Board state;
// Bytes the board has put on EP2 IN; a read takes them when it is waited for.
std::deque<uint8_t> answers;
uint8_t *pending = nullptr;
int32_t pending_length = 0;
} // namespace

Board &reset() {
    state = Board{};
    answers.clear();
    pending = nullptr;
    return state;
}
Board &board() { return state; }

} // namespace fake_ezusb

using fake_ezusb::state;

extern "C" {

int32_t ezusb_init(int32_t index, const uint8_t *, const char *, const char *) {
    state.init_index = index;
    return state.init_result;
}

int32_t ezusb_close(void) {
    ++state.closes;
    return 1;
}

int32_t ezusb_bulk_write(uint32_t pipe, const uint8_t *data, int32_t length) {
    if (pipe == 0 && state.fail_writes_on_command_pipe)
        return -1;
    state.writes.push_back({pipe, std::vector<uint8_t>(data, data + length)});
    if (pipe == 0 && length == 1 && data[0] == 0x20)
        fake_ezusb::answers.push_back(state.port_c);
    if (pipe == 3)
        for (int32_t i = 0; i < length; ++i)
            fake_ezusb::answers.push_back(state.tdo_of ? state.tdo_of(data[i]) : 0);
    return 0;
}

int32_t ezusb_bulk_read(uint32_t pipe, uint8_t *buffer, int32_t length) {
    ++state.reads_posted;
    if (pipe != 8)
        return -1;
    fake_ezusb::pending = buffer;
    fake_ezusb::pending_length = length;
    return 1;
}

int32_t ezusb_bulk_read_left(int32_t) {
    using fake_ezusb::answers;
    if (state.fail_reads)
        return -1;
    int32_t got = 0;
    for (; got < fake_ezusb::pending_length && !answers.empty(); ++got) {
        fake_ezusb::pending[got] = answers.front();
        answers.pop_front();
    }
    int32_t left = fake_ezusb::pending_length - got;
    fake_ezusb::pending_length = 0;
    return left;
}

uint32_t ezusb_read_thread(void *) { return 0; }

} // extern "C"

namespace ezusb {
const char *failure_reason() { return "no board in this test"; }
int32_t drain(uint32_t pipe) {
    state.drained_pipe = pipe;
    state.writes_before_drain = state.writes.size();
    return 0;
}
} // namespace ezusb
