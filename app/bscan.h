// TAP operations over the driver's shift entry point, and chain discovery.
#pragma once

#include <cstdint>


int32_t bscan_reset(int32_t count);
int32_t bscan_inst(uint8_t instruction, const uint8_t *tdi, uint8_t *tdo, int32_t bits, int32_t last);
int32_t bscan_dr(const uint8_t *tdi, uint8_t *tdo, int32_t bits, int32_t last);
uint8_t swap_byte(uint8_t b);

// Loads BYPASS into every instruction register, from Run-Test/Idle back to it,
// and keeps the first bits (at most 64) of what the registers captured, in
// stream order, the device nearest TDO first.
int32_t bscan_bypass_capture(uint8_t *capture, int32_t bits);

int32_t bscan_scan_chain();
int32_t bscan_device_autoditect(uint32_t idcode);
void bscan_select(int32_t target);
