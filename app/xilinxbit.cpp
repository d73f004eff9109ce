// Reader of the Xilinx .bit container: a 13-byte preamble, then keyed fields
// up to the data-length key 'e', then the raw configuration data.
#include "xilinxbit.h"

#include <cstring>
#include <new>

#include "devlist.h"

namespace {

bool read_exact(std::FILE *f, void *buf, size_t n)
{
    return n == 0 || std::fread(buf, 1, n, f) == n;
}

bool read_be(std::FILE *f, int bytes, uint32_t &value)
{
    uint8_t b[4];
    if (!read_exact(f, b, static_cast<size_t>(bytes)))
        return false;
    value = 0;
    for (int i = 0; i < bytes; ++i)
        value = (value << 8) | b[i];
    return true;
}

// Reads a field of len bytes into a text field, keeping at most 63 bytes when
// the field would not otherwise end in a NUL; the rest of the field is skipped.
bool read_text(std::FILE *f, uint32_t len, char *field)
{
    char tmp[BIT_TEXT_SIZE];
    const uint32_t keep = len < BIT_TEXT_SIZE ? len : BIT_TEXT_SIZE;
    if (!read_exact(f, tmp, keep))
        return false;
    std::memset(field, 0, BIT_TEXT_SIZE);
    std::memcpy(field, tmp, keep);
    field[BIT_TEXT_SIZE - 1] = '\0';
    for (uint32_t skipped = keep; skipped < len; ++skipped) {
        if (std::fgetc(f) == EOF)
            return false;
    }
    return true;
}

bool skip(std::FILE *f, uint32_t len)
{
    for (uint32_t i = 0; i < len; ++i) {
        if (std::fgetc(f) == EOF)
            return false;
    }
    return true;
}

bool parse_header(bitfile *bf)
{
    std::FILE *f = bf->handle;
    if (!read_exact(f, bf->header, sizeof bf->header))
        return false;
    for (;;) {
        const int key = std::fgetc(f);
        if (key == EOF)
            return false;
        uint32_t len = 0;
        if (key == 'e')
            return read_be(f, 4, bf->length);
        if (!read_be(f, 2, len))
            return false;
        switch (key) {
        case 'a':
            if (!read_text(f, len, bf->net_name))
                return false;
            break;
        case 'b':
            if (!read_text(f, len, bf->part_name))
                return false;
            break;
        case 'c':
            if (!read_text(f, len, bf->date))
                return false;
            break;
        case 'd':
            if (!read_text(f, len, bf->time))
                return false;
            break;
        default:
            std::printf("Unknown header ID %02x found\n", static_cast<unsigned>(key));
            std::fflush(stdout);
            if (!skip(f, len))
                return false;
            break;
        }
    }
}

} // namespace

bitfile *bitfile_open(const char *path)
{
    std::FILE *f = std::fopen(path, "rb");
    if (f == nullptr)
        return nullptr;
    bitfile *bf = new (std::nothrow) bitfile{};
    if (bf == nullptr) {
        std::fclose(f);
        return nullptr;
    }
    bf->handle = f;
    if (!parse_header(bf)) {
        bitfile_close(bf);
        return nullptr;
    }
    bf->idcode = devlist_idcode_for_part(bf->part_name);
    return bf;
}

uint32_t bitfile_read(bitfile *bf, uint8_t *buffer, uint32_t count)
{
    const size_t got = std::fread(buffer, 1, count, bf->handle);
    return static_cast<uint32_t>(got);
}

void bitfile_close(bitfile *bf)
{
    if (bf == nullptr)
        return;
    if (bf->handle != nullptr)
        std::fclose(bf->handle);
    delete bf;
}
