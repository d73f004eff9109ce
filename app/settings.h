// The settings of a run: the defaults, overridden by the command line and the
// response files. Written by the options module; the JTAG strategy also keeps
// its automatic choice of target here, for the passes that follow.
#pragma once

#include <climits>
#include <cstdint>

#include "modes.h"

constexpr int NAME_SIZE = 128;      // the driver name and the cable description
constexpr int PATH_SIZE = PATH_MAX; // bitstream and response-file names

struct program_settings {
    int32_t config_mode = MODE_BSCAN;
    uint32_t port_addr = 0;
    int32_t baudrate = 0;
    int32_t continus_mode = 0;
    int32_t bscan_tdo_chips = -1; // target index from the TDO end, -1 = automatic
    // Set when the JTAG strategy chose bscan_tdo_chips itself: the index then
    // stays for later passes, but it is no choice of the user's.
    bool target_chosen_automatically = false;
    char dll_name[NAME_SIZE] = "vok_isp";
    char filename[PATH_SIZE] = "";
    char rsp_name[PATH_SIZE] = "";
    // The same names as the user typed them, before lower-casing: files and
    // libraries are opened under these first, then under the lower-case names.
    char dll_name_typed[NAME_SIZE] = "vok_isp";
    char filename_typed[PATH_SIZE] = "";
    char rsp_name_typed[PATH_SIZE] = "";
};

extern program_settings settings;
