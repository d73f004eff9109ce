// The JTAG chain as discovered, index 0 nearest TDO, and the fill around the
// target. Set by chain discovery and bscan_select; the Spartan-II sequences
// change the fill before the data for a while.
#pragma once

#include <cstdint>

#include "devlist.h"

constexpr int CHAIN_CAPACITY = 8;

struct jtag_chain {
    chain_entry dev_chain[CHAIN_CAPACITY] = {};
    int32_t bscan_num_chain = 0;
    int32_t bscan_tdo_bypass = 0; // devices between the target and TDO
    int32_t bscan_tdi_bypass = 0; // devices between TDI and the target
    int32_t bscan_tdo_ir = 0;     // IR bits between the target and TDO
    int32_t bscan_tdi_ir = 0;     // IR bits between TDI and the target
    int32_t bscan_before_dr = 0;  // fill shifted ahead of the data of a DR scan
    int32_t bscan_after_dr = 0;   // fill shifted after it
};

extern jtag_chain chain;
