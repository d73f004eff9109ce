// SIGINT and SIGTERM while the configuration data go out: the signal is noted,
// and the load stops at the next block, at a packet boundary, instead of
// leaving the FPGA inside a packet. A second signal ends the program at once.
#pragma once

// Starts and ends the watch; outside it the signals keep their usual effect.
void interrupt_watch_begin();
void interrupt_watch_end();
// The signal that came during the watch, 0 when none.
int interrupt_caught();
