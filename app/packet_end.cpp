#include "packet_end.h"

#include <algorithm>

namespace {

constexpr uint32_t SYNC_WORD = 0xAA995566;
// The longest packet of any Spartan-II bitstream: the XC2S200's frame data.
// A longer count can only come from a damaged file, and is cut to this.
constexpr uint32_t MAX_PACKET_WORDS = 39366;

struct tracker {
    bool synced = false;
    uint32_t word = 0;
    uint32_t word_bytes = 0; // bytes of the word under way, 0..3
    uint32_t words_left = 0; // data words of the packet under way
    bool after_type1 = false;

    void take(uint8_t b)
    {
        word = word << 8 | b;
        if (!synced) {
            synced = word == SYNC_WORD;
            return;
        }
        if (++word_bytes < 4)
            return;
        word_bytes = 0;
        if (words_left > 0) {
            --words_left;
            return;
        }
        // Headers: bits 31..29 the type, 28..27 the operation (10 write), the
        // count in bits 10..0 (type 1) or 26..0 (type 2, which goes on from the
        // type-1 header before it).
        const uint32_t type = word >> 29;
        const bool write = ((word >> 27) & 3u) == 2;
        if (type == 1 && write)
            words_left = word & 0x7FFu;
        else if (type == 2 && write && after_type1)
            words_left = std::min(word & 0x07FFFFFFu, MAX_PACKET_WORDS);
        after_type1 = type == 1;
    }
};

tracker seen;

} // namespace

void packet_end_reset() { seen = tracker{}; }

void packet_end_scan(const uint8_t *data, uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i)
        seen.take(data[i]);
}

uint32_t packet_end_pad_bytes()
{
    if (!seen.synced)
        return 0;
    // Zeros that finish a header may finish one that announces data.
    tracker ahead = seen;
    uint32_t bytes = 0;
    while (ahead.word_bytes != 0) {
        ahead.take(0);
        ++bytes;
    }
    return bytes + 4 * ahead.words_left;
}
