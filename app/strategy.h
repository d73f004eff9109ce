// What the run and the two configuration strategies agree on: the blocks the
// run hands over and the error-flag word the strategies give back.
#pragma once

#include <cstdint>

// Error-flag word of a run; also the source of the exit status.
constexpr uint32_t ERR_DRIVER = 0x0800;
constexpr uint32_t ERR_POWER = 0x1000;
constexpr uint32_t ERR_TARGET = 0x2000;
constexpr uint32_t ERR_PROBE = 0x4000;
constexpr uint32_t ERR_FILE = 0x8000;

constexpr int BLOCK_SIZE = 8192; // one block of configuration data

// The start strategy takes the IDCODE of the bitstream's part (0 when unknown),
// the write strategy one block and whether it is the last; both return error flags.
using start_strategy_fn = uint32_t (*)(uint32_t idcode);
using write_strategy_fn = uint32_t (*)(const uint8_t *data, uint32_t count, int32_t last);
// DONE of the configured FPGA as the mode reads it: 1 high, 0 low, -1 unknown.
using done_level_fn = int32_t (*)();
