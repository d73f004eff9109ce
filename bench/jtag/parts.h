// Spartan-II part geometry and the configuration CRC, shared by the device
// models and the bitstream generator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace bench {

struct PartInfo {
    const char *name;    // "2s100", as in .bit part names and chain words
    const char *display; // "XC2S100"
    const char *package; // a package this part comes in, for .bit headers
    uint32_t idcode;     // version field 0
    int rows;            // CLB rows
    int cols;            // CLB columns

    // 32-bit words per frame: 18 bits per row plus the two IOB rows, one pad word.
    int frame_words() const { return (18 * (rows + 2) + 31) / 32 + 1; }
    // Frames of block type 0: clock column, CLB columns, two IOB columns and
    // the two block-RAM interconnect columns.
    int type0_frames() const { return 8 + 48 * cols + 2 * 54 + 2 * 27; }
    // Block type 1: the two block-RAM content columns of 64 frames each.
    static constexpr int bram_frames_per_column = 64;
    int total_frames() const { return type0_frames() + 2 * bram_frames_per_column; }
    size_t memory_words() const { return size_t(total_frames()) * size_t(frame_words()); }
    // Frames in block 0, major column `major`; 0 past the last column.
    int column_frames(int major) const;
    // Words of the standard bitstream: 39 words of packets around the frame data
    // (every type-0 frame, 128 block-RAM frames, and three pad/flush frames).
    size_t bitstream_words() const { return 39 + size_t(total_frames() + 3) * size_t(frame_words()); }
};

// The six Spartan-II parts, smallest first.
const std::vector<PartInfo> &spartan2_parts();
// By name ("2s100"); null when unknown.
const PartInfo *find_part(std::string_view name);
// By IDCODE, the version field ignored; null when unknown.
const PartInfo *find_part_by_idcode(uint32_t idcode);

// Frame address register fields.
constexpr uint32_t far_value(int block, int major, int minor) {
    return (uint32_t(block) << 25) | (uint32_t(major) << 17) | (uint32_t(minor) << 9);
}

// The configuration CRC: 16 bits, polynomial x^16 + x^15 + x^2 + 1 run LSB
// first (0xA001 reflected). Every covered register write feeds the 32 data bits
// and then the 4 address bits, LSB first.
uint16_t crc_update(uint16_t crc, uint32_t addr, uint32_t value);
// The same, one bit at a time; the reference the table version is tested against.
uint16_t crc_update_bitwise(uint16_t crc, uint32_t addr, uint32_t value);

// A 64-bit FNV-1a digest over the words of a configuration memory, each word's
// bytes taken most significant first.
uint64_t memory_digest(const uint32_t *words, size_t count);
inline uint64_t memory_digest(const std::vector<uint32_t> &words) {
    return memory_digest(words.data(), words.size());
}

} // namespace bench
