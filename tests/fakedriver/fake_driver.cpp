// A cable driver for tests. Its answers come from "fake.cfg" in the working
// folder, read again on every call so that a test can change them while the
// program runs; every call is appended to "fake.log" with its arguments.
//
// fake.cfg lines (all optional):
//   init N            result of the open entry points (default 0)
//   name TEXT         description written into the name buffer
//   version HEX       jtag_version / ss_version word (default 11300)
//   power A B C ...   power answers by call number, the last one repeating (default 1)
//   done A B C ...    DONE answers by call number, the last one repeating (default:
//                     low after a PROGRAM pulse until data are sent, as an FPGA)
//   tdo HEX           TDO bits in stream order, repeated (default all zero)
//
// Variants, by compile definition: FAKE_NO_VERSION (no jtag_version),
// FAKE_XFER (jtag_xfer instead of jtag_txrx), FAKE_NO_JTAG (slave-serial set
// only), FAKE_NO_SS (JTAG set only).
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "vokcable.h"

extern "C" {
VOK_EXPORT int32_t VOK_CALL jtag_xfer(const uint8_t *tdi, uint8_t *tdo, int32_t nbits, int32_t tms,
                                     int32_t tms_last);
}

namespace {

struct settings {
    int32_t init = 0;
    std::string name = "fake cable";
    uint32_t version = 0x11300;
    std::vector<int32_t> power{1};
    std::vector<int32_t> done; // empty: follow PROGRAM and the data
    std::vector<uint8_t> tdo;
};

int power_calls = 0;
[[maybe_unused]] bool cleared = false; // PROGRAM pulsed and no data sent since
[[maybe_unused]] int done_calls = 0;
uint32_t tdo_pos = 0;

std::vector<int32_t> numbers(std::istringstream &in)
{
    std::vector<int32_t> out;
    int32_t v = 0;
    while (in >> v)
        out.push_back(v);
    return out;
}

settings load()
{
    settings s;
    std::ifstream f("fake.cfg");
    std::string line;
    while (std::getline(f, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::istringstream in(line);
        std::string key;
        in >> key;
        if (key == "init") {
            in >> s.init;
        } else if (key == "name") {
            std::getline(in >> std::ws, s.name);
        } else if (key == "version") {
            in >> std::hex >> s.version;
        } else if (key == "power") {
            auto v = numbers(in);
            if (!v.empty())
                s.power = v;
        } else if (key == "done") {
            auto v = numbers(in);
            if (!v.empty())
                s.done = v;
        } else if (key == "tdo") {
            std::string hex;
            in >> hex;
            for (size_t i = 0; i + 1 < hex.size(); i += 2)
                s.tdo.push_back(static_cast<uint8_t>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
        }
    }
    return s;
}

void log_line(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void log_line(const char *fmt, ...)
{
    std::FILE *f = std::fopen("fake.log", "a");
    if (f == nullptr)
        return;
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(f, fmt, ap);
    va_end(ap);
    std::fputc('\n', f);
    std::fclose(f);
}

int32_t answer(const std::vector<int32_t> &seq, int &calls)
{
    const size_t i = static_cast<size_t>(calls++);
    return i < seq.size() ? seq[i] : seq.back();
}

uint32_t checksum(const uint8_t *data, int32_t count)
{
    uint32_t h = 2166136261u;
    for (int32_t i = 0; i < count; ++i)
        h = (h ^ data[i]) * 16777619u;
    return h;
}

int32_t open_cable(const char *entry, int32_t port, int32_t baud, char *name)
{
    const settings s = load();
    log_line("%s port=%d baud=%d name=%s", entry, port, baud, name != nullptr ? "buffer" : "null");
    if (name != nullptr) {
        std::strncpy(name, s.name.c_str(), 127);
        name[127] = '\0';
    }
    return s.init;
}

int32_t power(const char *entry)
{
    const settings s = load();
    const int32_t p = answer(s.power, power_calls);
    log_line("%s -> %d", entry, p);
    return p;
}

// One shift: TDO bits come from the "tdo" pattern; msb_first selects the
// order of the TDO buffer (jtag_xfer) against least significant bit first (jtag_txrx).
[[maybe_unused]] int32_t shift(const char *entry, const uint8_t *tdi, uint8_t *tdo, int32_t nbits, int32_t tms,
              int32_t tms_last, bool msb_first)
{
    const settings s = load();
    uint32_t tdi_sum = tdi != nullptr ? checksum(tdi, (nbits + 7) / 8) : 0;
    log_line("%s bits=%d tms=%d last=%d tdi=%s sum=%08x tdo=%s", entry, nbits, tms, tms_last,
             tdi != nullptr ? "buf" : "null", tdi_sum, tdo != nullptr ? "buf" : "null");
    if (tdo == nullptr)
        return 0;
    std::memset(tdo, 0, static_cast<size_t>((nbits + 7) / 8));
    const uint32_t pattern_bits = static_cast<uint32_t>(s.tdo.size()) * 8;
    for (int32_t i = 0; i < nbits; ++i) {
        int bit = 0;
        if (pattern_bits != 0) {
            const uint32_t k = tdo_pos % pattern_bits;
            bit = (s.tdo[k / 8] >> (7 - k % 8)) & 1;
        }
        ++tdo_pos;
        if (bit)
            tdo[i / 8] |= static_cast<uint8_t>(msb_first ? 0x80u >> (i % 8) : 1u << (i % 8));
    }
    return 0;
}

} // namespace

extern "C" {

#ifndef FAKE_NO_JTAG
int32_t VOK_CALL jtag_init(int32_t port, int32_t baud, char *name)
{
    return open_cable("jtag_init", port, baud, name);
}

int32_t jtag_power(void) { return power("jtag_power"); }

#ifdef FAKE_XFER
int32_t VOK_CALL jtag_xfer(const uint8_t *tdi, uint8_t *tdo, int32_t nbits, int32_t tms, int32_t tms_last)
{
    return shift("jtag_xfer", tdi, tdo, nbits, tms, tms_last, true);
}
#else
int32_t VOK_CALL jtag_txrx(const uint8_t *tdi, uint8_t *tdo, int32_t nbits, int32_t tms, int32_t tms_last)
{
    return shift("jtag_txrx", tdi, tdo, nbits, tms, tms_last, false);
}
#endif

int32_t jtag_end(void)
{
    log_line("jtag_end");
    return 0;
}
#endif

#if !defined(FAKE_NO_VERSION) && !defined(FAKE_NO_JTAG)
uint32_t jtag_version(void)
{
    log_line("jtag_version");
    return load().version;
}
#endif

#ifndef FAKE_NO_SS
int32_t VOK_CALL ss_init(int32_t port, int32_t baud, char *name)
{
    return open_cable("ss_init", port, baud, name);
}

int32_t ss_power(void) { return power("ss_power"); }

int32_t VOK_CALL ss_tx(const uint8_t *data, int32_t count)
{
    cleared = false;
    log_line("ss_tx count=%d sum=%08x", count, checksum(data, count));
    return 0;
}

int32_t VOK_CALL ss_program(int32_t level)
{
    log_line("ss_program %d", level);
    cleared = true;
    return 0;
}

int32_t ss_done(void)
{
    const settings s = load();
    const int32_t d = s.done.empty() ? (cleared ? 0 : 1) : answer(s.done, done_calls);
    log_line("ss_done -> %d", d);
    return d;
}

int32_t ss_end(void)
{
    log_line("ss_end");
    return 0;
}

uint32_t ss_version(void)
{
    log_line("ss_version");
    return load().version;
}
#endif
}
