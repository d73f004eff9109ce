// What every cable driver does the same way: the bit order of the shift buffers, and
// console text that has to appear in order with the program's own output.
#pragma once

#include <cstdint>
#include <cstdio>

namespace vokcable {

// TDI is consumed most significant bit first: cycle i takes bit 7 - i % 8 of byte
// i / 8. A null buffer sends 0 on every cycle.
inline bool tdi_bit(const uint8_t *tdi, int32_t i) {
    return tdi != nullptr && ((tdi[i / 8] >> (7 - i % 8)) & 1);
}

// TDO is stored least significant bit first: cycle i goes to bit i % 8 of byte i / 8.
// The caller has cleared the buffer, so only ones are written.
inline void put_tdo_bit(uint8_t *tdo, int32_t i, bool bit) {
    if (bit)
        tdo[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
}

// The program prints to the same stdout; flushing at once keeps the order of the lines.
inline void say(const char *text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

} // namespace vokcable
