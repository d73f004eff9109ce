// The table of known JTAG devices and the chain builder.
#pragma once

#include <cstdint>
#include <string>

struct device_row {
    const char *name; // part name without "XC", null in the end marker
    uint32_t idcode;  // version field (bits 31..28) cleared
    int32_t ir_len;
};

// One device of a chain as identified.
struct chain_entry {
    const char *name; // device-table name, null when empty
    uint32_t idcode;  // as read, version field included
    int32_t ir_len;
};

extern const device_row device_list[]; // 33 rows and the end marker

// Bits start .. start+count-1 of a stream-order buffer, first bit lowest (count <= 32).
uint32_t get_bit(const uint8_t *stream, int32_t start, int32_t count);

// Identifies the devices of a chain from its IR capture and IDCODE streams.
// Returns the number of entries filled, or -1 when a device is not in the table.
int32_t build_device_chain(chain_entry *entries, int32_t capacity, const uint8_t *ir_stream,
                           int32_t ir_bits, const uint8_t *id_stream, int32_t id_bits);

// The row that a .bit part name names: case is ignored, a leading "xc" is
// skipped, and a row counts only when the character after its name is not a
// digit ("2s30vq100" is a 2s30, "2s300e..." is no 2s30). The first such row
// wins; null when none.
const device_row *devlist_row_for_part(const char *part_name);
// IDCODE of that row, 0 when none.
uint32_t devlist_idcode_for_part(const char *part_name);

// True when a device reporting device_idcode (version field ignored) is the part
// whose lookup gave part_idcode: any row that carries the same name counts, as
// the Virtex and Virtex-E rows share names.
bool devlist_same_part(uint32_t part_idcode, uint32_t device_idcode);

// "XC2S15" to "XC2S200" for the Spartan-II IDCODEs (version field ignored), else null.
const char *devlist_spartan2_name(uint32_t idcode);

// Name a person knows a device by: "XC2S200" for the Spartan-II IDCODEs (which
// the table also lists as Virtex rows), else "XC" and the row name, else the
// IDCODE in hexadecimal.
std::string devlist_display_name(uint32_t idcode);
