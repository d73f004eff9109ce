#include "parts.h"

#include <array>

namespace bench {

int PartInfo::column_frames(int major) const {
    if (major == 0)
        return 8;
    if (major >= 1 && major <= cols)
        return 48;
    if (major == cols + 1 || major == cols + 2)
        return 54;
    if (major == cols + 3 || major == cols + 4)
        return 27;
    return 0;
}

const std::vector<PartInfo> &spartan2_parts() {
    static const std::vector<PartInfo> parts = {
        {"2s15", "XC2S15", "tq144", 0x00608093, 8, 12},
        {"2s30", "XC2S30", "tq144", 0x0060C093, 12, 18},
        {"2s50", "XC2S50", "tq144", 0x00610093, 16, 24},
        {"2s100", "XC2S100", "tq144", 0x00614093, 20, 30},
        {"2s150", "XC2S150", "pq208", 0x00618093, 24, 36},
        {"2s200", "XC2S200", "pq208", 0x0061C093, 28, 42},
    };
    return parts;
}

const PartInfo *find_part(std::string_view name) {
    for (const auto &p : spartan2_parts())
        if (name == p.name)
            return &p;
    return nullptr;
}

const PartInfo *find_part_by_idcode(uint32_t idcode) {
    for (const auto &p : spartan2_parts())
        if ((idcode & 0x0FFFFFFF) == p.idcode)
            return &p;
    return nullptr;
}

namespace {

constexpr uint16_t feed_bit(uint16_t crc, unsigned bit) {
    unsigned fb = (bit ^ crc) & 1;
    crc >>= 1;
    if (fb)
        crc ^= 0xA001;
    return crc;
}

struct CrcTables {
    std::array<uint16_t, 256> byte{};
    std::array<uint16_t, 16> nibble{};
    constexpr CrcTables() {
        for (unsigned i = 0; i < 256; i++) {
            uint16_t c = uint16_t(i);
            for (int b = 0; b < 8; b++)
                c = feed_bit(c, 0);
            byte[i] = c;
        }
        for (unsigned i = 0; i < 16; i++) {
            uint16_t c = uint16_t(i);
            for (int b = 0; b < 4; b++)
                c = feed_bit(c, 0);
            nibble[i] = c;
        }
    }
};

constexpr CrcTables tables;

} // namespace

uint16_t crc_update(uint16_t crc, uint32_t addr, uint32_t value) {
    for (int i = 0; i < 4; i++) {
        crc = uint16_t((crc >> 8) ^ tables.byte[(crc ^ value) & 0xFF]);
        value >>= 8;
    }
    return uint16_t((crc >> 4) ^ tables.nibble[(crc ^ addr) & 0xF]);
}

uint16_t crc_update_bitwise(uint16_t crc, uint32_t addr, uint32_t value) {
    for (int i = 0; i < 32; i++)
        crc = feed_bit(crc, (value >> i) & 1);
    for (int i = 0; i < 4; i++)
        crc = feed_bit(crc, (addr >> i) & 1);
    return crc;
}

uint64_t memory_digest(const uint32_t *words, size_t count) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < count; i++) {
        uint32_t w = words[i];
        for (int s = 24; s >= 0; s -= 8) {
            h ^= (w >> s) & 0xFF;
            h *= 0x100000001b3ull;
        }
    }
    return h;
}

} // namespace bench
