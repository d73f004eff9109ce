// Reader of the Xilinx .bit container.
#pragma once

#include <cstdint>
#include <cstdio>

constexpr int BIT_TEXT_SIZE = 64;

struct bitfile {
    uint8_t header[13];
    std::FILE *handle;
    uint32_t idcode;
    uint32_t length;
    char net_name[BIT_TEXT_SIZE];
    char part_name[BIT_TEXT_SIZE];
    char date[BIT_TEXT_SIZE];
    char time[BIT_TEXT_SIZE];
};

bitfile *bitfile_open(const char *path);
uint32_t bitfile_read(bitfile *bf, uint8_t *buffer, uint32_t count);
void bitfile_close(bitfile *bf);
