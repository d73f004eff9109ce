#include "startup_clock.h"

#include "strategy.h"

namespace {

constexpr uint32_t COR_WRITE_HEADER = 0x30012001; // type 1, write 1 word to COR
// The COR write sits among the packets before the frame data, so the search
// ends after the first block and costs nothing per block after that.
constexpr uint32_t SEARCH_BYTES = BLOCK_SIZE;

uint64_t window = 0;
uint32_t bytes_seen = 0;
bool found = false;
uint32_t cor = 0;

} // namespace

void startup_clock_reset()
{
    window = 0;
    bytes_seen = 0;
    found = false;
    cor = 0;
}

void startup_clock_scan(const uint8_t *data, uint32_t count)
{
    for (uint32_t i = 0; i < count && !found && bytes_seen < SEARCH_BYTES; ++i) {
        window = window << 8 | data[i];
        ++bytes_seen;
        if (bytes_seen >= 8 && static_cast<uint32_t>(window >> 32) == COR_WRITE_HEADER) {
            cor = static_cast<uint32_t>(window);
            found = true;
        }
    }
}

startup_clock startup_clock_seen()
{
    if (!found)
        return startup_clock::unknown;
    switch ((cor >> 20) & 3u) { // SSCLKSRC: 00 CCLK, 01 user clock, 1x JTAG clock
    case 0:
        return startup_clock::cclk;
    case 1:
        return startup_clock::user;
    default:
        return startup_clock::jtag;
    }
}
