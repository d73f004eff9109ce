// The 8051 core: reset, SFRs and interrupts. The instruction set lives in
// cpu8051_opcodes.cpp, the timers and the serial port in cpu8051_periph.cpp.
#include "cpu8051.h"
#include "cpu8051_sfr.h"

namespace bench::ezusb {

using namespace sfr;

namespace {

// Which SFR addresses answer on this core (there are no P0..P3 SFRs: the ports
// are xdata registers of the chip).
constexpr std::array<bool, 128> sfr_map() {
    std::array<bool, 128> m{};
    for (uint8_t a : {SP, DPL, DPH, DPL1, DPH1, DPS, PCON, TCON, TMOD, TL0, TL1, TH0, TH1,
                      CKCON, SPC_FNC, EXIF, MPAGE, SCON0, SBUF0, IE, IP, SCON1, SBUF1, T2CON,
                      RCAP2L, RCAP2H, TL2, TH2, PSW, EICON, ACC, EIE, B, EIP})
        m[a - 0x80] = true;
    return m;
}
constexpr std::array<bool, 128> kSfrExists = sfr_map();

// Interrupt sources in polling order (vector 0x03 + 8*index). Resume is polled
// first and always at the high level: on the Dallas core this slot is the
// power-fail interrupt, which has no priority bit; the chip's manual pages on
// it were not available, so this follows the core.
constexpr unsigned kResume = 6;

} // namespace

Cpu8051::Cpu8051(CpuBus &bus, const uint8_t *code, const CoreSettings &settings)
    : bus_(bus), code_(code), settings_(settings) {
    reset();
}

void Cpu8051::reset() {
    // A transfer in progress stops; the pins go back to idle.
    tx_ = {};
    rx_ = {};
    serial_pins();
    sfr_.fill(0);
    pc_ = 0;
    cycles_ = instr_end_ = timer_time_ = bus_clock_ = 0;
    self_jump_ = false;
    acc_ = b_ = psw_ = dps_ = 0;
    sp_ = 7;
    rbase_ = 0;
    dptr_ = {};
    sfr_[PCON - 0x80] = 0x30;
    sfr_[CKCON - 0x80] = 0x01;
    sfr_[EXIF - 0x80] = 0x08;
    sbuf0_rx_ = 0;
    irq_check_ = irq_block_ = false;
    in_service_ = 0;
    idle_ = false;
    timers_on_ = false;
    timer_deadline_ = UINT64_MAX;
}

uint8_t Cpu8051::psw() const {
    return psw_ | static_cast<uint8_t>(__builtin_parity(acc_));
}

void Cpu8051::set_psw(uint8_t value) {
    psw_ = value & 0xFE;  // P always follows A
    rbase_ = value & 0x18;
}

uint8_t Cpu8051::sfr(uint8_t addr) const {
    switch (addr) {
    case TCON: case TL0: case TL1: case TH0: case TH1: case T2CON: case TL2: case TH2:
        catch_up_timers();
        return sfr_[addr - 0x80];
    case ACC: return acc_;
    case B: return b_;
    case PSW: return psw();
    case SP: return sp_;
    case DPL: return dptr_[0] & 0xFF;
    case DPH: return dptr_[0] >> 8;
    case DPL1: return dptr_[1] & 0xFF;
    case DPH1: return dptr_[1] >> 8;
    case DPS: return dps_;
    case SBUF0: return sbuf0_rx_;
    default: return addr >= 0x80 && kSfrExists[addr - 0x80] ? sfr_[addr - 0x80] : 0;
    }
}

uint8_t Cpu8051::read_sfr(uint8_t addr) { return sfr(addr); }

void Cpu8051::set_sfr(uint8_t addr, uint8_t value) {
    instr_end_ = cycles_;
    write_sfr(addr, value);
}

void Cpu8051::write_sfr(uint8_t addr, uint8_t value) {
    uint8_t &r = sfr_[addr - 0x80];
    switch (addr) {
    case ACC: acc_ = value; return;
    case B: b_ = value; return;
    case PSW: set_psw(value); return;
    case SP: sp_ = value; return;
    case DPL: dptr_[0] = (dptr_[0] & 0xFF00) | value; return;
    case DPH: dptr_[0] = (dptr_[0] & 0x00FF) | value << 8; return;
    case DPL1: dptr_[1] = (dptr_[1] & 0xFF00) | value; return;
    case DPH1: dptr_[1] = (dptr_[1] & 0x00FF) | value << 8; return;
    case DPS: dps_ = value & 0x01; return;  // bits 7..1 read 0, so INC DPS toggles
    case PCON:
        r = (value & 0xCF) | 0x30;
        // IDLE stops the instruction stream until an interrupt; timers and the
        // serial port run on.
        if (value & 0x01) idle_ = true;
        return;
    case TCON: {
        sync_timers();
        uint8_t old = r;
        r = value;
        // A level-triggered INT0/INT1 flag follows its pin.
        if (!(value & 0x01)) r = (r & ~0x02) | (int0_ ? 0 : 0x02);
        if (!(value & 0x04)) r = (r & ~0x08) | (int1_ ? 0 : 0x08);
        if ((old ^ r) & 0x50) update_timer_state();
        else plan_timers();
        check_interrupts_soon();
        return;
    }
    case TMOD: case CKCON:
        sync_timers();
        r = value;
        update_timer_state();
        return;
    case TL0: case TL1: case TH0: case TH1: case TL2: case TH2: case RCAP2L: case RCAP2H:
        sync_timers();
        r = value;
        plan_timers();
        return;
    case T2CON:
        sync_timers();
        r = value;
        update_timer_state();
        check_interrupts_soon();
        return;
    case SPC_FNC: r = value & 0x01; return;
    case EXIF: r = (value & 0xF7) | 0x08; check_interrupts_soon(); return;
    case SCON0: {
        // The write takes effect when the instruction ends. Serial events before
        // the cycle ahead of that come first; a flag that the engine sets in that
        // last cycle is applied after the write, so the write cannot clear it.
        if (serial_busy() && instr_end_ >= 2) serial_advance(4 * instr_end_ - 5);
        uint8_t old = r;
        r = value;
        check_interrupts_soon();
        serial_scon_written(old);
        return;
    }
    case SBUF0:
        // A transmit that ends before this write takes effect frees the port.
        if (serial_busy()) serial_advance(4 * instr_end_ - 1);
        serial_sbuf_written(value);
        return;
    case IE: case IP: case EIE: case EIP:
        r = value;
        check_interrupts_soon();
        irq_block_ = true;
        return;
    case SCON1: case EICON:
        r = value;
        check_interrupts_soon();
        return;
    default:
        if (kSfrExists[addr - 0x80]) r = value;
        return;
    }
}

bool Cpu8051::read_bit(uint8_t bit) {
    if (bit < 0x80) return (iram_[0x20 + (bit >> 3)] >> (bit & 7)) & 1;
    return (read_sfr(bit & 0xF8) >> (bit & 7)) & 1;
}

void Cpu8051::write_bit(uint8_t bit, bool value) {
    uint8_t mask = 1u << (bit & 7);
    if (bit < 0x80) {
        uint8_t &byte = iram_[0x20 + (bit >> 3)];
        byte = value ? (byte | mask) : (byte & ~mask);
        return;
    }
    uint8_t addr = bit & 0xF8;
    uint8_t cur = read_sfr(addr);
    write_sfr(addr, value ? (cur | mask) : (cur & ~mask));
}

uint16_t Cpu8051::dptr(int which) const { return dptr_[which & 1]; }

void Cpu8051::set_autovector(bool on, uint8_t avec) {
    avec_on_ = on;
    avec_ = avec;
}

// External lines. The flags are set at once: the two synchroniser flip-flops
// of the real core add at most a cycle, which no firmware here can observe.
void Cpu8051::set_int2(bool level) {
    if (level && !int2_) { sfr_[EXIF - 0x80] |= 0x10; check_interrupts_soon(); }
    int2_ = level;
}
void Cpu8051::set_int3(bool level) {
    if (level && !int3_) { sfr_[EXIF - 0x80] |= 0x20; check_interrupts_soon(); }
    int3_ = level;
}
void Cpu8051::set_int4(bool level) {
    if (level && !int4_) { sfr_[EXIF - 0x80] |= 0x40; check_interrupts_soon(); }
    int4_ = level;
}
void Cpu8051::set_int5(bool level) {
    if (!level && int5_) { sfr_[EXIF - 0x80] |= 0x80; check_interrupts_soon(); }
    int5_ = level;
}
void Cpu8051::set_int6(bool level) {
    if (level && !int6_) { sfr_[EICON - 0x80] |= 0x08; check_interrupts_soon(); }
    int6_ = level;
}
void Cpu8051::set_int0(bool level) { set_int01(0, level); }
void Cpu8051::set_int1(bool level) { set_int01(1, level); }

// TCON.IT0/IT1 set: a falling edge sets IE0/IE1; clear: the flag follows the
// (active low) level.
void Cpu8051::set_int01(unsigned n, bool level) {
    catch_up_timers();
    bool &pin = n ? int1_ : int0_;
    const uint8_t edge_mode = n ? 0x04 : 0x01, flag = n ? 0x08 : 0x02;
    uint8_t &tcon = sfr_[TCON - 0x80];
    if (tcon & edge_mode) {
        if (!level && pin) tcon |= flag;
    } else {
        tcon = (tcon & ~flag) | (level ? 0 : flag);
    }
    pin = level;
    update_timer_state();
    check_interrupts_soon();
}
void Cpu8051::request_resume() {
    sfr_[EICON - 0x80] |= 0x10;
    check_interrupts_soon();
}

// Picks the highest pending request that the level in service allows, and
// enters it: a hardware LCALL of 4 cycles.
bool Cpu8051::take_interrupt() {
    if (irq_block_) {
        irq_block_ = false;
        return false;
    }
    irq_check_ = false;
    const uint8_t ie = sfr_[IE - 0x80];
    if (!(ie & 0x80)) return false;
    const uint8_t tcon = sfr_[TCON - 0x80], exif = sfr_[EXIF - 0x80];
    const uint8_t eicon = sfr_[EICON - 0x80], eie = sfr_[EIE - 0x80];
    unsigned req = 0;
    if (tcon & 0x02) req |= 1u << 0;
    if (tcon & 0x20) req |= 1u << 1;
    if (tcon & 0x08) req |= 1u << 2;
    if (tcon & 0x80) req |= 1u << 3;
    if (sfr_[SCON0 - 0x80] & 0x03) req |= 1u << 4;
    if (sfr_[T2CON - 0x80] & 0xC0) req |= 1u << 5;
    if ((eicon & 0x30) == 0x30) req |= 1u << kResume;
    if (sfr_[SCON1 - 0x80] & 0x03) req |= 1u << 7;
    req |= static_cast<unsigned>(exif >> 4) << 8;  // INT2..INT5
    if (eicon & 0x08) req |= 1u << 12;
    // IE bits 0..5 enable sources 0..5, IE.6 the second UART; EIE.0..4 INT2..INT6.
    unsigned enabled = (ie & 0x3F) | ((ie & 0x40u) << 1) | (1u << kResume) | (eie & 0x1Fu) << 8;
    const uint8_t ip = sfr_[IP - 0x80];
    unsigned high = (ip & 0x3F) | ((ip & 0x40u) << 1) | (1u << kResume) |
                    (sfr_[EIP - 0x80] & 0x1Fu) << 8;
    req &= enabled;
    if (!req) return false;
    // Resume first, then by vector address.
    int src = -1;
    unsigned level = 0;
    auto first = [](unsigned m) {
        if (m & (1u << kResume)) return static_cast<int>(kResume);
        return __builtin_ctz(m);
    };
    if ((req & high) && !(in_service_ & 2)) {
        src = first(req & high);
        level = 2;
    } else if (!in_service_) {
        src = first(req);
        level = (high >> src) & 1 ? 2 : 1;
    }
    if (src < 0) return false;

    switch (src) {  // flags that the vector clears
    case 0: if (tcon & 0x01) sfr_[TCON - 0x80] &= ~0x02; break;
    case 1: sfr_[TCON - 0x80] &= ~0x20; break;
    case 2: if (tcon & 0x04) sfr_[TCON - 0x80] &= ~0x08; break;
    case 3: sfr_[TCON - 0x80] &= ~0x80; break;
    default: break;
    }
    if (idle_) {
        idle_ = false;
        sfr_[PCON - 0x80] &= ~0x01;
    }
    instr_end_ = cycles_ + 4;
    push(pc_ & 0xFF);
    push(pc_ >> 8);
    pc_ = static_cast<uint16_t>(0x03 + 8 * src);
    in_service_ |= level;
    irq_check_ = true;  // a high-level request may still interrupt this one
    return true;
}

} // namespace bench::ezusb
