// Reader of the Xilinx .bit container: a 13-byte preamble, then keyed fields
// up to the data-length key 'e', then the raw configuration data.
#include "xilinxbit.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "console.h"
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
            say("Unknown header ID %02x found\n", static_cast<unsigned>(key));
            if (!skip(f, len))
                return false;
            break;
        }
    }
}

// Reads the `length` data bytes that follow the header, in one pass. A regular
// file is measured first, so that a length it cannot hold (a file cut short or
// still being written, a length of 0xFFFFFFFF) allocates and reads nothing.
bool read_data(bitfile *bf, bitfile_shortfall &why)
{
    std::FILE *f = bf->handle;
    why.announced = bf->length;
    struct stat st;
    const long at = std::ftell(f);
    if (at >= 0 && ::fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode)) {
        why.present = st.st_size > at ? static_cast<uint64_t>(st.st_size - at) : 0;
        if (why.present < bf->length) {
            why.incomplete = true;
            return false;
        }
    }
    try {
        if (why.present >= bf->length)
            bf->data.reserve(bf->length);
        constexpr size_t CHUNK = 1 << 16;
        size_t got = 0;
        while (got < bf->length) {
            const size_t want = std::min<size_t>(CHUNK, bf->length - got);
            bf->data.resize(got + want);
            const size_t n = std::fread(bf->data.data() + got, 1, want, f);
            got += n;
            if (n < want)
                break;
        }
        bf->data.resize(got);
    } catch (const std::bad_alloc &) {
        return false;
    }
    if (bf->data.size() < bf->length) { // shrank since it was measured, or not a regular file
        why.incomplete = true;
        why.present = bf->data.size();
        return false;
    }
    return true;
}

} // namespace

bitfile *bitfile_open_checked(const char *path, bitfile_shortfall *why)
{
    bitfile_shortfall local;
    bitfile_shortfall &shortfall = why != nullptr ? *why : local;
    shortfall = bitfile_shortfall{};
    std::FILE *f = std::fopen(path, "rb");
    if (f == nullptr)
        return nullptr;
    bitfile *bf = new (std::nothrow) bitfile{};
    if (bf == nullptr) {
        std::fclose(f);
        return nullptr;
    }
    bf->handle = f;
    if (!parse_header(bf) || !read_data(bf, shortfall)) {
        bitfile_close(bf);
        return nullptr;
    }
    bf->idcode = devlist_idcode_for_part(bf->part_name);
    return bf;
}

bitfile *bitfile_open(const char *path) { return bitfile_open_checked(path, nullptr); }

uint32_t bitfile_read(bitfile *bf, uint8_t *buffer, uint32_t count)
{
    const size_t left = bf->data.size() - bf->data_pos;
    const size_t n = count < left ? count : left;
    if (n > 0)
        std::memcpy(buffer, bf->data.data() + bf->data_pos, n);
    bf->data_pos += n;
    return static_cast<uint32_t>(n);
}

void bitfile_close(bitfile *bf)
{
    if (bf == nullptr)
        return;
    if (bf->handle != nullptr)
        std::fclose(bf->handle);
    delete bf;
}
