#include "usbcore.h"

#include <algorithm>

namespace bench::ezusb {

namespace {

constexpr uint8_t GET_STATUS = 0, CLEAR_FEATURE = 1, SET_FEATURE = 3, SET_ADDRESS = 5, GET_DESCRIPTOR = 6,
                  GET_CONFIGURATION = 8, SET_CONFIGURATION = 9, GET_INTERFACE = 10, SET_INTERFACE = 11;
constexpr uint8_t TYPE_MASK = 0x60, TYPE_STANDARD = 0x00, TYPE_VENDOR = 0x40;

// The Default USB Device: vendor class, 64-byte endpoint 0, no strings.
const std::array<uint8_t, 18> DEVICE_DESCRIPTOR{18,   1,    0x10, 0x01, 0xFF, 0xFF, 0xFF, 64,
                                                DEFAULT_VID & 0xFF, DEFAULT_VID >> 8,
                                                DEFAULT_PID & 0xFF, DEFAULT_PID >> 8,
                                                0x01, 0x00, 0, 0, 0, 1};
// One configuration, bus powered (100 mA), interface 0 alternate 0 without endpoints.
const std::array<uint8_t, 18> CONFIG_DESCRIPTOR{9, 2, 18, 0, 1, 1, 0, 0x80, 50,
                                                9, 4, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0};

bool firmware_load(const SetupPacket &s) { return (s.type() & TYPE_MASK) == TYPE_VENDOR && s.request() == REQUEST_FIRMWARE_LOAD; }

} // namespace

SetupPacket SetupPacket::make(uint8_t type, uint8_t request, uint16_t value, uint16_t index, uint16_t length) {
    SetupPacket s;
    s.bytes = {type, request, uint8_t(value), uint8_t(value >> 8), uint8_t(index), uint8_t(index >> 8),
               uint8_t(length), uint8_t(length >> 8)};
    return s;
}

Answerer answerer(const An2131 &chip, const SetupPacket &s) {
    if (firmware_load(s)) return Answerer::core;
    bool standard = (s.type() & TYPE_MASK) == TYPE_STANDARD;
    if (standard && s.request() == SET_ADDRESS) return Answerer::core;
    // Without RENUM the core is the device for every standard request; the 8051
    // may still take the others.
    if (!(chip.usbcs() & USBCS_RENUM) && standard) return Answerer::core;
    return Answerer::firmware;
}

CoreAnswer core_request(An2131 &chip, const SetupPacket &s, const std::vector<uint8_t> &out_data) {
    CoreAnswer a;
    auto give = [&](const uint8_t *p, size_t n) { a.data.assign(p, p + std::min<size_t>(n, s.length())); };
    if (firmware_load(s)) {
        if (s.in()) {
            a.data.resize(s.length());
            a.ok = chip.host_read(s.value(), a.data);
            if (!a.ok) a.data.clear();
        } else {
            a.ok = out_data.size() == s.length() && chip.host_write(s.value(), out_data);
        }
        return a;
    }
    switch (s.request()) {
    case SET_ADDRESS:
        chip.set_address(uint8_t(s.value() & 0x7F));
        return a;
    case GET_DESCRIPTOR:
        if (s.value() >> 8 == 1) {
            auto d = DEVICE_DESCRIPTOR;
            if (const auto &ids = chip.eeprom_ids()) { // the EEPROM's IDs replace the chip's own
                const uint16_t words[3] = {ids->vid, ids->pid, ids->did};
                for (int i = 0; i < 3; ++i) {
                    d[size_t(8 + 2 * i)] = uint8_t(words[i]);
                    d[size_t(9 + 2 * i)] = uint8_t(words[i] >> 8);
                }
            }
            give(d.data(), d.size());
        }
        else if (s.value() >> 8 == 2 && (s.value() & 0xFF) == 0) give(CONFIG_DESCRIPTOR.data(), CONFIG_DESCRIPTOR.size());
        else a.ok = false; // no strings, no other descriptors
        return a;
    case GET_STATUS: {
        const uint8_t zero[2] = {0, 0};
        give(zero, 2);
        return a;
    }
    case GET_CONFIGURATION: {
        const uint8_t one = 1;
        give(&one, 1);
        return a;
    }
    case GET_INTERFACE: {
        const uint8_t zero = 0;
        give(&zero, 1);
        return a;
    }
    case SET_CONFIGURATION:
        a.ok = s.value() <= 1;
        return a;
    case SET_INTERFACE:
        a.ok = s.value() == 0 && s.index() == 0;
        return a;
    case CLEAR_FEATURE:
    case SET_FEATURE:
        return a;
    default:
        a.ok = false;
        return a;
    }
}

} // namespace bench::ezusb
