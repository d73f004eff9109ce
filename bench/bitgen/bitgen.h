// Synthetic Spartan-II bitstreams in the standard layout, with the true frame
// geometry and word counts of each part and frame contents from a seed.
#pragma once

#include "parts.h"

#include <cstdint>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace bench {

struct BitgenOptions {
    std::string part = "2s100";
    std::string design = "synthetic.ncd";
    std::string date = "2026/01/01";
    std::string time = "00:00:00";
    bool startup_jtag = true; // start-up clock: TCK (JSTART) or CCLK
    uint64_t seed = 1;
    long long corrupt_word = -1; // word index whose lowest bit is inverted, -1 none
};

struct Bitstream {
    const PartInfo *part = nullptr;
    std::vector<uint32_t> words; // configuration words as sent
    std::vector<uint8_t> data;   // the same, bytes most significant first
    std::vector<uint8_t> file;   // the .bit file: header and data
    uint64_t digest = 0;         // frame-memory digest after a good configuration
};

// COR values: bitgen's default (start-up on CCLK) and the same with the JTAG clock.
constexpr uint32_t cor_startup_cclk = 0x00803F2D;
constexpr uint32_t cor_startup_jtag = 0x00A03F2D;

// The configuration memory a good load of the bitstream leaves behind.
std::vector<uint32_t> frame_image(const PartInfo &part, uint64_t seed);

// Throws std::invalid_argument for an unknown part or a corrupt word past the end.
Bitstream generate_bitstream(const BitgenOptions &opt);

// A .bit file around configuration bytes: preamble, fields a-d, e with the length.
std::vector<uint8_t> bit_file(const BitgenOptions &opt, const std::vector<uint8_t> &data);

// vokbench mkbit --part PART -o FILE [--design N] [--date D] [--time T]
//                [--startup jtag|cclk] [--seed S] [--corrupt WORD]
CLI::App *add_mkbit_command(CLI::App &app);
// The same command from its arguments alone (argv holds no command name).
int mkbit_command(int argc, char **argv);

} // namespace bench
