// The configuration run: the bitstream file, the target supply, the strategy
// of the mode over the blocks of data, the report; pass after pass in
// continuous mode.
#pragma once

#include <cstdint>

// Takes the error flags of loading and opening the cable and returns those of
// the last pass; a signal that cut a load short is left to interrupt_caught().
uint32_t run_configuration(uint32_t err);
