// The .bit reader on arbitrary files: open, header fields, part lookup, and
// block reads to the end of the configuration data. A file is read back through
// a small model of the container, and the reader must agree with it.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "devlist.h"
#include "fuzz_support.h"
#include "xilinxbit.h"

namespace {

// The container as the model reads it: fields up to key 'e' after a 13-byte preamble.
struct Container {
    bool header_whole = false;
    std::string text[4]; // fields a to d, the last occurrence of each
    uint32_t length = 0;
    size_t data_at = 0;
};

Container read_container(std::string_view f)
{
    Container c;
    size_t pos = 13;
    auto number = [&](int bytes, uint32_t &out) {
        if (f.size() - pos < size_t(bytes))
            return false;
        out = 0;
        for (int i = 0; i < bytes; ++i)
            out = (out << 8) | uint8_t(f[pos++]);
        return true;
    };
    if (f.size() < pos)
        return c;
    while (pos < f.size()) {
        const char key = f[pos++];
        uint32_t len = 0;
        if (key == 'e') {
            if (!number(4, c.length))
                return c;
            c.data_at = pos;
            c.header_whole = true;
            return c;
        }
        if (!number(2, len) || f.size() - pos < len)
            return c;
        if (key >= 'a' && key <= 'd')
            c.text[key - 'a'] = std::string(f.substr(pos, len));
        pos += len;
    }
    return c;
}

// A text field holds the file's bytes up to their first NUL, cut to fit.
void check_text(const char *field, const std::string &stored)
{
    const std::string got(field, strnlen(field, BIT_TEXT_SIZE));
    const std::string want = stored.substr(0, stored.find('\0'));
    fuzz::require(want.compare(0, got.size(), got) == 0, "a text field is a prefix of the file's text");
    fuzz::require(got.size() >= std::min<size_t>(want.size(), BIT_TEXT_SIZE - 1),
                  "a text field keeps at least 63 characters of the file's text");
}

// A table row names the part when the part name, "xc" and case aside, starts with
// the row's name and no digit follows it ("2s30vq100" is an XC2S30, "2s300e" is not).
bool row_names_part(const device_row &row, const std::string &bare)
{
    const size_t n = std::strlen(row.name);
    return bare.compare(0, n, row.name) == 0 && (bare.size() == n || !std::isdigit(uint8_t(bare[n])));
}

void check_idcode(const bitfile *bf)
{
    std::string part(bf->part_name, strnlen(bf->part_name, BIT_TEXT_SIZE));
    for (char &ch : part)
        ch = char(std::tolower(static_cast<unsigned char>(ch)));
    const std::string bare = part.rfind("xc", 0) == 0 ? part.substr(2) : part;
    bool named = false, found = false;
    for (const device_row *row = device_list; row->name != nullptr; ++row) {
        named |= row_names_part(*row, bare);
        found |= row->idcode == bf->idcode && row_names_part(*row, bare);
    }
    fuzz::require(bf->idcode == 0 || found, "the IDCODE belongs to a table row that names the part");
    fuzz::require(bf->idcode != 0 || !named, "a part that a table row names gets an IDCODE");
}

// Reads the data in the run's blocks and compares it with the file.
void check_data(bitfile *bf, std::string_view file, const Container &c)
{
    static uint8_t block[8192];
    uint32_t pos = 0;
    while (pos < bf->length) {
        const uint32_t want = std::min<uint32_t>(sizeof block, bf->length - pos);
        fuzz::require(bitfile_read(bf, block, want) == want,
                      "a file accepted at open delivers all of its length");
        fuzz::require(std::memcmp(block, file.data() + c.data_at + pos, want) == 0,
                      "data is delivered exactly as it stands in the file");
        pos += want;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string path = fuzz::scratch_dir() + "/input.bit";
    const std::string_view file = fuzz::as_text(data, size);
    fuzz::write_file(path, file);
    const Container c = read_container(file);
    const bool whole = c.header_whole && file.size() - c.data_at >= c.length;

    bitfile *bf = bitfile_open(path.c_str());
    if (bf == nullptr) {
        fuzz::require(!whole, "a file with a whole header and all its data opens");
        return 0;
    }
    fuzz::require(c.header_whole, "a file opens only with a whole header");
    fuzz::require(std::memcmp(bf->header, data, sizeof bf->header) == 0, "the preamble is kept as read");
    fuzz::require(bf->length == c.length, "length is the header's data length");
    check_text(bf->net_name, c.text[0]);
    check_text(bf->part_name, c.text[1]);
    check_text(bf->date, c.text[2]);
    check_text(bf->time, c.text[3]);
    check_idcode(bf);
    check_data(bf, file, c);
    bitfile_close(bf);
    return 0;
}
