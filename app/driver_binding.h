// The driver library as the loader bound it for the mode: its entry points and
// the strategies of the mode. Filled by dll_setup, emptied by dll_end; a slot
// of the other mode stays empty.
#pragma once

#include <cstdint>

#include "strategy.h"
#include "vokcable.h"

struct driver_binding {
    void *dllHandle = nullptr;
    vok_init_fn sh_init = nullptr;
    vok_power_fn sh_power = nullptr;
    vok_end_fn sh_end = nullptr;
    vok_shift_fn jtag_txrx = nullptr;       // "jtag_xfer", else "jtag_txrx"
    int32_t bscan_convert_bit_order_in = 0; // 1: TDO arrives least significant bit first
    vok_tx_fn xcclk_tx = nullptr;
    vok_program_fn xcclk_program = nullptr;
    vok_done_fn xcclk_done = nullptr;
    vok_version_fn jtag_version = nullptr; // empty when the library has none
    start_strategy_fn sh_start = nullptr;
    write_strategy_fn sh_write = nullptr;
    done_level_fn sh_done_level = nullptr;
};

extern driver_binding driver;
