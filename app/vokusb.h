// State shared by the modules of the vokusb program: the settings read from the
// command line and response files, the driver entry points bound by the loader,
// and the JTAG chain with its fill counts. State used by one module only stays
// inside that module.
#pragma once

#include <climits>
#include <cstdint>

#include "vokcable.h"

// Error-flag word of a run; also the source of the exit status.
constexpr uint32_t ERR_DRIVER = 0x0800;
constexpr uint32_t ERR_POWER = 0x1000;
constexpr uint32_t ERR_TARGET = 0x2000;
constexpr uint32_t ERR_PROBE = 0x4000;
constexpr uint32_t ERR_FILE = 0x8000;

constexpr int NAME_SIZE = 128;      // the driver name and the cable description
constexpr int PATH_SIZE = PATH_MAX; // bitstream and response-file names
constexpr int BLOCK_SIZE = 8192; // one block of configuration data

// Configuration modes, the index into mode_select and md_str.
constexpr int32_t MODE_MSERIAL = 0;
constexpr int32_t MODE_BSCAN = 1;
constexpr int32_t MODE_SPARALLEL = 2;
constexpr int32_t MODE_SSERIAL = 3;

// Settings.
extern int32_t config_mode;
extern uint32_t port_addr;
extern int32_t baudrate;
extern int32_t continus_mode;
extern int32_t bscan_tdo_chips; // target index from the TDO end, -1 = automatic
// Set when the JTAG strategy chose bscan_tdo_chips itself: the index then
// stays for later passes, but it is no choice of the user's.
extern bool target_chosen_automatically;
extern char dll_name[NAME_SIZE];
extern char filename[PATH_SIZE];
extern char rsp_name[PATH_SIZE];
// The same names as the user typed them, before lower-casing: files and
// libraries are opened under these first, then under the lower-case names.
extern char dll_name_typed[NAME_SIZE];
extern char filename_typed[PATH_SIZE];
extern char rsp_name_typed[PATH_SIZE];

// Part name from the header of the bitstream being configured, for the
// target check of the JTAG strategy; empty when the file names none.
constexpr int PART_NAME_SIZE = 64;
extern char bitstream_part[PART_NAME_SIZE];

// Display names of the modes, indexed by mode number.
extern const char *const md_str[];

// Driver binding, filled by dll_setup.
using start_strategy_fn = uint32_t (*)(uint32_t idcode);
using write_strategy_fn = uint32_t (*)(const uint8_t *data, uint32_t count, int32_t last);

extern void *dllHandle;
extern vok_init_fn sh_init;
extern vok_power_fn sh_power;
extern vok_end_fn sh_end;
extern vok_shift_fn jtag_txrx;
extern int32_t bscan_convert_bit_order_in; // 1: TDO arrives least significant bit first
extern vok_tx_fn xcclk_tx;
extern vok_program_fn xcclk_program;
extern vok_done_fn xcclk_done;
extern vok_version_fn jtag_version;
extern start_strategy_fn sh_start;
extern write_strategy_fn sh_write;

// The JTAG chain as discovered, index 0 nearest TDO.
constexpr int CHAIN_CAPACITY = 8;
struct chain_entry {
    const char *name; // device-table name, null when empty
    uint32_t idcode;  // as read, version field included
    int32_t ir_len;
};
extern chain_entry dev_chain[CHAIN_CAPACITY];
extern int32_t bscan_num_chain;

// Fill around the target, set by bscan_select.
extern int32_t bscan_tdo_bypass;
extern int32_t bscan_tdi_bypass;
extern int32_t bscan_tdo_ir;
extern int32_t bscan_tdi_ir;
extern int32_t bscan_before_dr;
extern int32_t bscan_after_dr;
