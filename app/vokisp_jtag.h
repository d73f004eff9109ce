// The boundary-scan configuration strategy.
#pragma once

#include <cstdint>

// Part name from the header of the bitstream being configured, set by the run
// before the start: the target must be that part. Empty when the file names none.
constexpr int PART_NAME_SIZE = 64;
extern char bitstream_part[PART_NAME_SIZE];

uint32_t jtag_start(uint32_t idcode);
uint32_t jtag_write(const uint8_t *data, uint32_t count, int32_t last);
// Ends a load before its last block at a packet boundary and leaves Shift-DR.
void jtag_break();
uint32_t jtag_status();
// DONE of the configured target from its instruction capture, leaving BYPASS
// loaded: 1 high, 0 low, -1 when the chain does not answer.
int32_t jtag_done();
int32_t jtag_shutdown();
