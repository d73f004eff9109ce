// Spartan-II configuration sequences over JTAG and the user channel.
#pragma once

#include <cstdint>

uint32_t get_dword(const uint8_t *p);
uint32_t swap_dword(uint32_t w);

uint32_t spa2_read_deviceid();
uint32_t spa2_read_status();
// Reads the status with a sync word ahead of the request.
uint32_t spa2_read_status_synced();
int32_t spa2_shutdown();
int32_t spa2_enter_config();
// Words of frame data in the longest packet of the part's bitstream (the
// largest part's count for an IDCODE that is no Spartan-II).
uint32_t spa2_frame_data_words(uint32_t idcode);
// Shifts words of zeros into CFG_IN: no-ops where a packet header is due, data
// inside a packet, so enough of them end any packet a load left unfinished.
int32_t spa2_write_noops(uint32_t words);
// Ends a load before its last block: pad_bytes zero bytes go on into the
// open CFG_IN scan, which then leaves Shift-DR. No start-up follows.
int32_t spa2_end_config(uint32_t pad_bytes);
int32_t spa2_write_config(const uint8_t *data, uint32_t count, int32_t last);
int32_t spa2_select_user(uint8_t type);
int32_t spa2_xfer_user(const uint8_t *tdi, uint8_t *tdo, int32_t bits, int32_t last);
