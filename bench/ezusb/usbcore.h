// The part of the AN2131's USB core that answers requests without the 8051: the
// Default USB Device of a bare chip (VID 0x0547, PID 0x2131, one configuration, no
// endpoints beyond endpoint 0, no strings), SET_ADDRESS, and vendor request 0xA0
// (internal RAM, and CPUCS as the only register it reaches).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "an2131.h"

namespace bench::ezusb {

constexpr uint16_t DEFAULT_VID = 0x0547, DEFAULT_PID = 0x2131;
constexpr uint8_t REQUEST_FIRMWARE_LOAD = 0xA0;

struct SetupPacket {
    std::array<uint8_t, 8> bytes{};
    uint8_t type() const { return bytes[0]; }
    uint8_t request() const { return bytes[1]; }
    uint16_t value() const { return uint16_t(bytes[2] | bytes[3] << 8); }
    uint16_t index() const { return uint16_t(bytes[4] | bytes[5] << 8); }
    uint16_t length() const { return uint16_t(bytes[6] | bytes[7] << 8); }
    bool in() const { return (bytes[0] & 0x80) != 0; }
    static SetupPacket make(uint8_t type, uint8_t request, uint16_t value, uint16_t index, uint16_t length);
};

// Who answers a request on this chip now.
enum class Answerer { core, firmware };
Answerer answerer(const An2131 &chip, const SetupPacket &setup);

// The core's answer: ok false is a stall. For an IN request, data holds what is
// sent (at most wLength bytes).
struct CoreAnswer {
    bool ok = true;
    std::vector<uint8_t> data;
};
// Answers a request that answerer() gives to the core; out_data is the data stage
// of an OUT request.
CoreAnswer core_request(An2131 &chip, const SetupPacket &setup, const std::vector<uint8_t> &out_data);

} // namespace bench::ezusb
