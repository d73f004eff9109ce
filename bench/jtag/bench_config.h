// Bench options: the chain, the supply, parallel ports and EZ-USB boards, from
// a bench file (one option per line without the dashes, '#' comments) or from
// command-line options.
#pragma once

#include "target.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bench {

struct BenchConfig {
    struct Port {
        uint16_t base = 0;
        std::string cable; // "xilinx", "altera" or "none"
    };
    struct Usb {
        int number = 0;
        std::string board; // "an2135sc-jtag", "an2135sc-ss", "spi", "qrt" or "ulink"
        // Points of the chip's behaviour set otherwise than by default
        // ("BOARD+out_armed_at_reset=1"), by name.
        std::vector<std::pair<std::string, bool>> chip_settings;
        // A chain of the board's own ("N:BOARD:DEVICES"); otherwise the board
        // drives the bench's chain.
        bool own_chain = false;
        std::vector<DeviceSpec> chain;
    };
    std::vector<DeviceSpec> chain;
    bool power = true;
    std::vector<Port> ports; // one per base, in the order first given
    std::vector<Usb> usb;    // one per board number, in the order first given
};

// Applies one option ("chain", "power", "port", "usb") with its value; a port
// or board given again replaces the earlier one. A board is "N:BOARD" or
// "N:BOARD:DEVICES" (DEVICES as for "chain"); BOARD may end in
// "+SETTING=0|1" items for the chip (see chip_setting_names()). Throws std::invalid_argument
// with a readable message on a bad name or value.
void apply_bench_option(BenchConfig &cfg, std::string_view name, std::string_view value);

// The chip settings a board word may carry, as named in ezusb::ChipSettings.
const std::vector<std::string> &chip_setting_names();

// The lines of a bench file: "chain 2s100,18v02", blank lines and '#' comments
// allowed. Errors name the origin and the line.
void read_bench_text(BenchConfig &cfg, std::string_view text, std::string_view origin);
// Throws std::runtime_error when the file cannot be read.
void read_bench_file(BenchConfig &cfg, const std::string &path);

// Takes the bench options out of args ("--chain X", "--chain=X", "--config FILE",
// likewise power, port, usb) and applies them in order; returns the other
// arguments in their order. Stops at "--", which it leaves with the rest.
std::vector<std::string> parse_bench_args(BenchConfig &cfg, const std::vector<std::string> &args);

} // namespace bench
