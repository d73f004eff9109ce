#include "fw_image.h"

#include <fstream>
#include <iterator>

std::vector<uint8_t> fw_image(const std::string &name) {
    std::ifstream f(std::string(EZUSB_FW_DIR) + "/" + name + ".bin", std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}
