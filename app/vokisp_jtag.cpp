// Boundary-scan configuration strategy: discover the chain, pick and identify the
// target, shut it down, stream the bitstream through CFG_IN, start it and check it.
#include <cstdio>

#include "bscan.h"
#include "sp2jtag.h"
#include "vokisp.h"
#include "vokusb.h"

namespace {

struct part_name {
    uint32_t idcode;
    const char *name;
};

constexpr part_name part_names[] = {
    {0x00608093, "XC2S15"},  {0x0060C093, "XC2S30"},  {0x00610093, "XC2S50"},
    {0x00614093, "XC2S100"}, {0x00618093, "XC2S150"}, {0x0061C093, "XC2S200"},
};

const char *name_of(uint32_t idcode)
{
    for (const part_name &p : part_names) {
        if (p.idcode == (idcode & 0x0FFFFFFFu))
            return p.name;
    }
    return "unknown";
}

const char *const md2_str[] = {" Hi-z ", "Pullup"};
const char *const hl_str[] = {"H", "L"};
const char *const lock_str[] = {"L", "U"};
const char *const yesno_str[] = {"YES", "NO "};
const char *const err_str[] = {"OK ", "ERR"};

constexpr uint32_t STAT_CRC_ERROR = 1u << 0;
constexpr uint32_t STAT_DONE = 1u << 14;
constexpr int32_t SPARTAN2_IR_LEN = 5;

// The bitstream's own COR, found in the data as it streams past: a CCLK start-up
// clock explains why a JTAG start-up leaves DONE low.
constexpr uint32_t COR_WRITE_HEADER = 0x30012001;
constexpr uint32_t COR_SSCLKSRC_MASK = 3u << 20; // 00 = CCLK
uint64_t cor_window = 0;
uint32_t cor_bytes_seen = 0;
bool cor_found = false;
uint32_t bitstream_cor = 0;

void cor_reset()
{
    cor_window = 0;
    cor_bytes_seen = 0;
    cor_found = false;
    bitstream_cor = 0;
}

// Looks for the first write to COR. It sits among the packets before the frame
// data, so the search ends after the first block and costs nothing per block after.
constexpr uint32_t COR_SEARCH_BYTES = BLOCK_SIZE;
void cor_scan(const uint8_t *data, uint32_t count)
{
    for (uint32_t i = 0; i < count && !cor_found && cor_bytes_seen < COR_SEARCH_BYTES; ++i) {
        cor_window = cor_window << 8 | data[i];
        ++cor_bytes_seen;
        if (cor_bytes_seen >= 8 && static_cast<uint32_t>(cor_window >> 32) == COR_WRITE_HEADER) {
            bitstream_cor = static_cast<uint32_t>(cor_window);
            cor_found = true;
        }
    }
}

uint32_t bit(uint32_t s, int n) { return (s >> n) & 1u; }

} // namespace

uint32_t jtag_start(uint32_t idcode)
{
    cor_reset();
    if (bscan_scan_chain() == 0) {
        std::printf("Can't scan JTAG chain\n");
        std::fflush(stdout);
        return ERR_TARGET;
    }
    if (bscan_tdo_chips < 0)
        bscan_tdo_chips = bscan_device_autoditect(idcode);
    if (bscan_tdo_chips < 0 || bscan_tdo_chips >= bscan_num_chain)
        return ERR_TARGET;
    bscan_select(bscan_tdo_chips);

    // Every scan below loads a 5-bit instruction into the target.
    const chain_entry &target = dev_chain[bscan_tdo_chips];
    if (target.ir_len != SPARTAN2_IR_LEN) {
        std::printf("Target %s has an IR of %d bits; only a Spartan-II (5 bits) can be configured\n",
                    target.name != nullptr ? target.name : "?", target.ir_len);
        std::fflush(stdout);
        return ERR_TARGET;
    }

    const uint32_t id = spa2_read_deviceid();
    std::printf("Device ID code %08XH : %s Rev.%d\n", id, name_of(id), static_cast<int>(id >> 28));
    std::fflush(stdout);
    if (id == 0xFFFFFFFFu || id == 0) {
        std::printf("JTAG DEVICE error\n");
        std::fflush(stdout);
        return ERR_TARGET;
    }
    jtag_shutdown();
    jtag_status();
    spa2_enter_config();
    return 0;
}

uint32_t jtag_write(const uint8_t *data, uint32_t count, int32_t last)
{
    cor_scan(data, count);
    spa2_write_config(data, count, last);
    if (last == 0)
        return 0;

    const uint32_t s = jtag_status();
    const bool cclk_startup = cor_found && (bitstream_cor & COR_SSCLKSRC_MASK) == 0;
    cor_reset(); // the next configuration looks again
    if ((s & STAT_CRC_ERROR) != 0) {
        std::printf("Configuration failed: CRC error in the bitstream\n");
    } else if ((s & STAT_DONE) == 0) {
        if (cclk_startup)
            std::printf("Configuration failed: DONE is low; the bitstream starts up on CCLK, "
                        "which JTAG cannot clock: generate it with the JTAG clock as start-up clock\n");
        else
            std::printf("Configuration failed: DONE is low\n");
    } else {
        return 0;
    }
    std::fflush(stdout);
    return ERR_TARGET;
}

uint32_t jtag_status()
{
    const uint32_t s = spa2_read_status();
    std::printf("FPGA Status :DONE:INIT:    MODE   ( I/O ):GWE:GSR:GHIGH:GTS:IER:LOCK:CRC:\n");
    std::printf("  %08X  :%s :%s :%s(%s): %s : %s :  %s  : %s : %s :%s%s%s%s:%s:\n", s,
                yesno_str[bit(s, 14) ? 0 : 1], yesno_str[bit(s, 13)], md_str[(s >> 10) & 3u],
                md2_str[bit(s, 12)], hl_str[bit(s, 7)], hl_str[bit(s, 8)], hl_str[bit(s, 9)],
                hl_str[bit(s, 6)], hl_str[bit(s, 5)], lock_str[bit(s, 1)], lock_str[bit(s, 2)],
                lock_str[bit(s, 3)], lock_str[bit(s, 4)], err_str[bit(s, 0)]);
    std::fflush(stdout);
    return s;
}

int32_t jtag_shutdown()
{
    std::printf("FPGA shutdown\n");
    std::fflush(stdout);
    return spa2_shutdown();
}
