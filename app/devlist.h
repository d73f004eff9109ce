// The table of known JTAG devices and the chain builder.
#pragma once

#include <cstdint>

#include "vokusb.h"

struct device_row {
    const char *name; // part name without "XC", null in the end marker
    uint32_t idcode;  // version field (bits 31..28) cleared
    int32_t ir_len;
};

extern const device_row device_list[]; // 33 rows and the end marker

// Bits start .. start+count-1 of a stream-order buffer, first bit lowest (count <= 32).
uint32_t get_bit(const uint8_t *stream, int32_t start, int32_t count);

// Identifies the devices of a chain from its IR capture and IDCODE streams.
// Returns the number of entries filled, or -1 when a device is not in the table.
int32_t build_device_chain(chain_entry *chain, int32_t capacity, const uint8_t *ir_stream,
                           int32_t ir_bits, const uint8_t *id_stream, int32_t id_bits);

// IDCODE of the first row whose name is a prefix of part_name, 0 when none.
uint32_t devlist_idcode_for_part(const char *part_name);
