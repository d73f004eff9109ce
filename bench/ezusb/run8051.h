// vokbench 8051 IMAGE: runs a firmware image on a bare AN2131 (nothing attached)
// from reset until an instruction that jumps to itself has run once, or a cycle
// limit, and prints the chip's state as one JSON object.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace bench::ezusb {

// A firmware image for the internal RAM: Intel HEX when the name ends in .ihx
// or .hex, raw binary otherwise. Bytes that the image does not set are 0.
// Throws std::runtime_error naming the problem (unreadable, malformed, or
// where an 0xA0 download cannot reach: a HEX image may also fill the endpoint
// buffers through their alias at 0x1B40).
std::vector<uint8_t> read_firmware_image(const std::string &path);
std::vector<uint8_t> parse_intel_hex(const std::string &text);

// "FROM:TO", hexadecimal with or without 0x, FROM <= TO <= 0xFFFF.
bool parse_xram_range(const std::string &text, uint16_t &from, uint16_t &to);

struct Run8051Result {
    bool self_jump = false;  // stopped at a jump to itself (else at the cycle limit)
    std::string json;        // one line
};
Run8051Result run_8051(std::span<const uint8_t> image, uint64_t max_cycles, uint16_t xram_from,
                       uint16_t xram_to);

} // namespace bench::ezusb

namespace bench {
CLI::App *add_8051_command(CLI::App &app);
}
