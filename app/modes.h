// The configuration modes: the mode number is the index into the keyword table
// of -mode and into md_str.
#pragma once

#include <cstdint>

constexpr int32_t MODE_MSERIAL = 0;
constexpr int32_t MODE_BSCAN = 1;
constexpr int32_t MODE_SPARALLEL = 2;
constexpr int32_t MODE_SSERIAL = 3;

// Display names of the modes, indexed by mode number; also the names of the
// mode pins in the FPGA's status word.
extern const char *const md_str[];
