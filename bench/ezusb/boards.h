// How each kind of EZ-USB board wires its chip to the target's JTAG or
// slave-serial pins. Every wiring works at pin level: it sees the chip's port
// pins and fast-transfer strobes and drives the bench's Target with them.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "an2131.h"
#include "target.h"

namespace bench::ezusb {

// The board kinds, as words of the bench options.
const std::vector<std::string> &board_kinds();

// The wiring of a board kind ("an2135sc-jtag", "an2135sc-ss", "spi", "qrt",
// "ulink").
// Throws std::invalid_argument for another word.
std::unique_ptr<BoardWiring> make_wiring(std::string_view kind, Target &target);

} // namespace bench::ezusb
