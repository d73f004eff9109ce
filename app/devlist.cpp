#include "devlist.h"

#include <cctype>
#include <cstdio>
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

namespace {

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool names_part(const char *row_name, const char *part)
{
    size_t i = 0;
    for (; row_name[i] != '\0'; ++i) {
        if (lower(part[i]) != row_name[i])
            return false; // a shorter part name ends here too, at its NUL
    }
    return !std::isdigit(static_cast<unsigned char>(part[i]));
}

// The first row of a name is the one the part-name lookup returns.
const device_row *first_row_named(const char *name)
{
    for (const device_row *row = device_list; row->name != nullptr; ++row) {
        if (std::strcmp(row->name, name) == 0)
            return row;
    }
    return nullptr;
}

constexpr struct {
    uint32_t idcode;
    const char *name;
} spartan2_names[] = {
    {0x00608093, "XC2S15"},  {0x0060C093, "XC2S30"},  {0x00610093, "XC2S50"},
    {0x00614093, "XC2S100"}, {0x00618093, "XC2S150"}, {0x0061C093, "XC2S200"},
};

} // namespace

const device_row *devlist_row_for_part(const char *part_name)
{
    if (lower(part_name[0]) == 'x' && lower(part_name[1]) == 'c')
        part_name += 2;
    for (const device_row *row = device_list; row->name != nullptr; ++row) {
        if (names_part(row->name, part_name))
            return row;
    }
    return nullptr;
}

uint32_t devlist_idcode_for_part(const char *part_name)
{
    const device_row *row = devlist_row_for_part(part_name);
    return row != nullptr ? row->idcode : 0;
}

bool devlist_same_part(uint32_t part_idcode, uint32_t device_idcode)
{
    device_idcode &= 0x0FFFFFFFu;
    // The part's name: the row with part_idcode that is the first of its name.
    for (const device_row *row = device_list; row->name != nullptr; ++row) {
        if (row->idcode != part_idcode || first_row_named(row->name) != row)
            continue;
        for (const device_row *same = row; same->name != nullptr; ++same) {
            if (std::strcmp(same->name, row->name) == 0 && same->idcode == device_idcode)
                return true;
        }
        return false;
    }
    return false;
}

const char *devlist_spartan2_name(uint32_t idcode)
{
    idcode &= 0x0FFFFFFFu;
    for (const auto &p : spartan2_names) {
        if (p.idcode == idcode)
            return p.name;
    }
    return nullptr;
}

std::string devlist_display_name(uint32_t idcode)
{
    if (const char *name = devlist_spartan2_name(idcode))
        return name;
    idcode &= 0x0FFFFFFFu;
    for (const device_row *row = device_list; row->name != nullptr; ++row) {
        if (row->idcode == idcode) {
            std::string name = "XC";
            for (const char *c = row->name; *c != '\0'; ++c)
                name += static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
            return name;
        }
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08X", idcode);
    return hex;
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

int32_t build_device_chain(chain_entry *entries, int32_t capacity, const uint8_t *ir_stream,
                           int32_t ir_bits, const uint8_t *id_stream, int32_t id_bits)
{
    int32_t ir_pos = 0;
    int32_t id_pos = 0;
    int32_t filled = 0;
    while (ir_pos < ir_bits && id_pos + 32 <= id_bits && filled < capacity) {
        const uint32_t idcode = get_bit(id_stream, id_pos, 32);
        chain_entry &entry = entries[filled];
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
