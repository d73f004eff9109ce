// Slave-serial configuration strategy.
#pragma once

#include <cstdint>

uint32_t xcclk_start(uint32_t idcode);
uint32_t xcclk_write(const uint8_t *data, uint32_t count, int32_t last);
// Ends a load before its last block at a packet boundary, with zero bytes.
void xcclk_break();
