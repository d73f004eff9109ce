// A simulated cable for the end-to-end tests: the JTAG and slave-serial entry points
// drive a bench target in this process, pin by pin. The target comes from the bench
// file "bench.cfg" in the working folder. Every call is recorded in "simcable.log";
// the end entry point writes the state of the target to "target_status.txt",
// "target_status.json" and, one line per Spartan-II, "target_state.txt".
//
// Built twice: vok_sim exports "jtag_txrx" (TDO least significant bit first),
// vok_simx exports "jtag_xfer" (TDO in the order of TDI) instead.
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include "bench_config.h"
#include "spartan2.h"
#include "target.h"
#include "vokcable.h"

#ifdef VOK_SIM_XFER
extern "C" VOK_EXPORT int32_t VOK_CALL jtag_xfer(const uint8_t *tdi, uint8_t *tdo, int32_t nbits, int32_t tms,
                                                  int32_t tms_last);
#endif

namespace {

constexpr const char *bench_file = "bench.cfg";
constexpr const char *log_file = "simcable.log";
constexpr uint32_t version_word = VOK_VERSION(1, 0);
// The program pauses this long around PROGRAM; the target sees the time pass.
constexpr uint64_t program_pause_ns = 50'000'000;

std::unique_ptr<bench::Target> target;
std::FILE *log_out = nullptr;
uint64_t tck_cycles = 0;
uint64_t cclk_cycles = 0;
bool prog_b = true;

void log_line(const char *format, ...) __attribute__((format(printf, 1, 2)));
void log_line(const char *format, ...)
{
    if (log_out == nullptr)
        return;
    va_list args;
    va_start(args, format);
    std::vfprintf(log_out, format, args);
    va_end(args);
    std::fputc('\n', log_out);
    std::fflush(log_out);
}

void write_file(const char *name, const std::string &text)
{
    if (std::FILE *f = std::fopen(name, "w")) {
        std::fputs(text.c_str(), f);
        std::fclose(f);
    }
}

// One line per Spartan-II of the chain, in words a test can pick apart.
std::string spartan_lines()
{
    std::string out;
    char line[512];
    for (size_t i = 0; i < target->size(); ++i) {
        const bench::Spartan2 *fpga = target->spartan(i);
        if (fpga == nullptr)
            continue;
        std::snprintf(line, sizeof line,
                      "device %zu configured %d done %d init %d crc_errors %" PRIu32 " frames %" PRIu64
                      " configurations %" PRIu64 " status %08X digest %016" PRIX64 "\n",
                      i, fpga->configured() ? 1 : 0, fpga->done_pin() ? 1 : 0, fpga->init_pin() ? 1 : 0,
                      fpga->crc_errors(), fpga->frames_written(), fpga->configurations(), fpga->status_word(),
                      fpga->digest());
        out += line;
    }
    return out;
}

// Opens the log and builds the target from the bench file; 0 ready, 2 no cable.
int32_t open_cable(const char *entry, int32_t port, int32_t baud, char *name)
{
    if (log_out == nullptr)
        log_out = std::fopen(log_file, "a");
    log_line("%s %d %d", entry, port, baud);
    try {
        bench::BenchConfig cfg;
        bench::read_bench_file(cfg, bench_file);
        target = std::make_unique<bench::Target>(cfg.chain, cfg.power);
    } catch (const std::exception &e) {
        std::printf("simulated cable: %s\n", e.what());
        std::fflush(stdout);
        log_line("%s failed: %s", entry, e.what());
        return VOK_INIT_NO_PROBE;
    }
    tck_cycles = 0;
    cclk_cycles = 0;
    prog_b = true;
    if (name != nullptr) {
        std::snprintf(name, 128, "Simulated cable, %zu device(s) from %s", target->size(), bench_file);
    }
    return VOK_INIT_READY;
}

int32_t close_cable(const char *entry)
{
    if (target) {
        write_file("target_status.txt", target->status_text());
        write_file("target_status.json", target->status_json());
        write_file("target_state.txt", spartan_lines());
        log_line("%s tck %" PRIu64 " cclk %" PRIu64, entry, tck_cycles, cclk_cycles);
        target.reset();
    } else {
        log_line("%s", entry);
    }
    if (log_out != nullptr) {
        std::fclose(log_out);
        log_out = nullptr;
    }
    return 0;
}

// The program checks the supply before each configuration and while it waits in
// continuous mode, so the state written here is never older than one pass.
int32_t power()
{
    const bool on = target && target->powered();
    log_line("power %d", on ? 1 : 0);
    if (target)
        write_file("target_state.txt", spartan_lines());
    return on ? 1 : 0;
}

// One shift: TMS and TDI set while TCK is low, TDO sampled, then the rising edge.
void shift(const uint8_t *tdi, uint8_t *tdo, int32_t nbits, int32_t tms, int32_t tms_last, bool msb_first)
{
    log_line("shift %d tms %d last %d tdi %s tdo %s", nbits, tms, tms_last, tdi ? "buf" : "null",
             tdo ? "buf" : "null");
    if (!target || nbits <= 0)
        return;
    if (tdo != nullptr)
        std::memset(tdo, 0, static_cast<size_t>((nbits + 7) / 8));
    for (int32_t i = 0; i < nbits; ++i) {
        const bool m = (i == nbits - 1 ? tms_last : tms) != 0;
        const bool d = tdi != nullptr && (tdi[i / 8] & (0x80u >> (i % 8))) != 0;
        target->set_jtag(false, m, d);
        const bool out = target->tdo();
        target->set_jtag(true, m, d);
        if (tdo != nullptr && out)
            tdo[i / 8] = static_cast<uint8_t>(tdo[i / 8] | (msb_first ? 0x80u >> (i % 8) : 1u << (i % 8)));
    }
    tck_cycles += static_cast<uint64_t>(nbits);
}

} // namespace

extern "C" {

VOK_EXPORT int32_t VOK_CALL jtag_init(int32_t port, int32_t baud, char *name)
{
    return open_cable("jtag_init", port, baud, name);
}

VOK_EXPORT int32_t jtag_power(void) { return power(); }

#ifdef VOK_SIM_XFER
VOK_EXPORT int32_t VOK_CALL jtag_xfer(const uint8_t *tdi, uint8_t *tdo, int32_t nbits, int32_t tms, int32_t tms_last)
{
    shift(tdi, tdo, nbits, tms, tms_last, true);
    return 0;
}
#else
VOK_EXPORT int32_t VOK_CALL jtag_txrx(const uint8_t *tdi, uint8_t *tdo, int32_t nbits, int32_t tms, int32_t tms_last)
{
    shift(tdi, tdo, nbits, tms, tms_last, false);
    return 0;
}
#endif

VOK_EXPORT int32_t jtag_end(void) { return close_cable("jtag_end"); }

VOK_EXPORT uint32_t jtag_version(void) { return version_word; }

VOK_EXPORT int32_t VOK_CALL ss_init(int32_t port, int32_t baud, char *name)
{
    return open_cable("ss_init", port, baud, name);
}

VOK_EXPORT int32_t ss_power(void) { return power(); }

VOK_EXPORT int32_t VOK_CALL ss_tx(const uint8_t *data, int32_t count)
{
    log_line("ss_tx %d", count);
    if (!target || data == nullptr)
        return 0;
    for (int32_t i = 0; i < count; ++i) {
        for (int b = 7; b >= 0; --b) {
            const bool din = ((data[i] >> b) & 1) != 0;
            target->set_serial(prog_b, false, din);
            target->set_serial(prog_b, true, din);
        }
    }
    cclk_cycles += 8u * static_cast<uint64_t>(count > 0 ? count : 0);
    return 0;
}

VOK_EXPORT int32_t VOK_CALL ss_program(int32_t level)
{
    log_line("ss_program %d", level);
    if (!target)
        return 0;
    prog_b = level != 0;
    target->set_serial(prog_b, false, false);
    target->elapse_ns(program_pause_ns);
    return 0;
}

VOK_EXPORT int32_t ss_done(void)
{
    const bool done = target && target->done_pin();
    log_line("ss_done %d", done ? 1 : 0);
    return done ? 1 : 0;
}

VOK_EXPORT int32_t ss_end(void) { return close_cable("ss_end"); }

VOK_EXPORT uint32_t ss_version(void) { return version_word; }

} // extern "C"
