#include "devlist.h"

#include <cstring>

// Searched from the top; the first suitable row wins, so the order matters:
// names that are prefixes of others come after them ("2s150" before "2s15"),
// and the Virtex rows come before the Spartan-II rows that share their IDCODEs.
const device_row device_list[] = {
    {"18v01", 0x05024093, 8},  {"18v02", 0x05025093, 8},  {"18v04", 0x05026093, 8},
    {"18v256", 0x05022093, 8}, {"18v512", 0x05023093, 8}, {"v812em", 0x00C28093, 5},
    {"v405em", 0x00C38093, 5}, {"v3200", 0x00A68093, 5},  {"v2600", 0x00A5C093, 5},
    {"v2000", 0x00A50093, 5},  {"v1600", 0x00A48093, 5},  {"v1000", 0x00A40093, 5},
    {"v600", 0x00A30093, 5},   {"v400", 0x00A28093, 5},   {"v300", 0x00A20093, 5},
    {"v200", 0x00A1C093, 5},   {"v100", 0x00A14093, 5},   {"v50", 0x00A10093, 5},
    {"v1000", 0x00640093, 5},  {"v800", 0x00638093, 5},   {"v600", 0x00630093, 5},
    {"v400", 0x00628093, 5},   {"v300", 0x00620093, 5},   {"v200", 0x0061C093, 5},
    {"v150", 0x00618093, 5},   {"v100", 0x00614093, 5},   {"v50", 0x00610099, 5},
    {"2s200", 0x0061C093, 5},  {"2s150", 0x00618093, 5},  {"2s100", 0x00614093, 5},
    {"2s50", 0x00610093, 5},   {"2s30", 0x0060C093, 5},   {"2s15", 0x00608093, 5},
    {nullptr, 0, 0},
};

uint32_t devlist_idcode_for_part(const char *part_name)
{
    for (const device_row *row = device_list; row->name != nullptr; ++row) {
        if (std::strncmp(row->name, part_name, std::strlen(row->name)) == 0)
            return row->idcode;
    }
    return 0;
}

uint32_t get_bit(const uint8_t *stream, int32_t start, int32_t count)
{
    uint32_t value = 0;
    for (int32_t i = 0; i < count; ++i) {
        const int32_t k = start + i;
        if (stream[k / 8] & (0x80u >> (k % 8)))
            value |= 1u << i;
    }
    return value;
}

int32_t build_device_chain(chain_entry *chain, int32_t capacity, const uint8_t *ir_stream,
                           int32_t ir_bits, const uint8_t *id_stream, int32_t id_bits)
{
    int32_t ir_pos = 0;
    int32_t id_pos = 0;
    int32_t filled = 0;
    while (ir_pos < ir_bits && id_pos + 32 <= id_bits && filled < capacity) {
        const uint32_t idcode = get_bit(id_stream, id_pos, 32);
        chain_entry &entry = chain[filled];
        entry = chain_entry{nullptr, 0, 0};
        for (const device_row *row = device_list; row->name != nullptr; ++row) {
            if (row->idcode != (idcode & 0x0FFFFFFFu))
                continue;
            // A register that would reach past the measured IR bits cannot be this row.
            if (row->ir_len > ir_bits - ir_pos)
                continue;
            // Every instruction capture ends in 01 at its TDO end.
            if ((get_bit(ir_stream, ir_pos, row->ir_len) & 0x3u) != 0x1u)
                continue;
            entry = chain_entry{row->name, idcode, row->ir_len};
            break;
        }
        if (entry.name == nullptr)
            return -1;
        ir_pos += entry.ir_len;
        id_pos += 32;
        ++filled;
    }
    return filled;
}
