// The test programs' images, built by SDCC with the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The 4096-byte image of fw/NAME.c; empty when it cannot be read.
std::vector<uint8_t> fw_image(const std::string &name);
