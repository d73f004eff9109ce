// Follows the packets of the configuration data as they are sent, so that a
// load stopped half way can be brought to the end of the packet under way:
// configuration logic left inside a packet would take the next load's first
// words as that packet's data.
#pragma once

#include <cstdint>

// Forget what was seen: a new configuration begins.
void packet_end_reset();
// Looks at the next bytes of configuration data, in file order.
void packet_end_scan(const uint8_t *data, uint32_t count);
// Zero bytes that complete the word under way and the data of the packet under
// way; zero words after that are no-ops. 0 before the sync word.
uint32_t packet_end_pad_bytes();
