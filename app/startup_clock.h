// The start-up clock that a bitstream selects, read from its first write to the
// COR register as the data stream past. A bitstream made for the other mode's
// clock cannot start up, and the strategies say so when DONE stays low.
#pragma once

#include <cstdint>

enum class startup_clock { unknown, cclk, user, jtag };

// Forget what was seen: a new configuration begins.
void startup_clock_reset();
// Looks at the next bytes of configuration data, in file order.
void startup_clock_scan(const uint8_t *data, uint32_t count);
// The clock of the COR write seen so far, unknown when none was seen.
startup_clock startup_clock_seen();
