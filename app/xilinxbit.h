// Reader of the Xilinx .bit container.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

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
    // The configuration data, read whole at open: a file that is rewritten
    // while it is sent cannot mix two bitstreams.
    std::vector<uint8_t> data;
    size_t data_pos;
};

// Why bitfile_open_checked refused a file whose header was read: it holds fewer
// bytes of configuration data than its header announces.
struct bitfile_shortfall {
    bool incomplete = false;
    uint32_t announced = 0; // the header's length field
    uint64_t present = 0;   // data bytes after the header
};

// Null on any failure, also when the data after the header are fewer than
// `length` bytes; `why` then tells the two numbers.
bitfile *bitfile_open_checked(const char *path, bitfile_shortfall *why);
bitfile *bitfile_open(const char *path);
uint32_t bitfile_read(bitfile *bf, uint8_t *buffer, uint32_t count);
void bitfile_close(bitfile *bf);
