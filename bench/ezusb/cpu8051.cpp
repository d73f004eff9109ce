// The 8051 core: SFRs, interrupts and the instruction decoder. The timers and
// the serial port live in cpu8051_periph.cpp.
#include "cpu8051.h"

#include <utility>

namespace bench::ezusb {

namespace {

// SFR addresses of the core.
enum : uint8_t {
    SP = 0x81, DPL0 = 0x82, DPH0 = 0x83, DPL1 = 0x84, DPH1 = 0x85, DPS = 0x86, PCON = 0x87,
    TCON = 0x88, TMOD = 0x89, TL0 = 0x8A, TL1 = 0x8B, TH0 = 0x8C, TH1 = 0x8D, CKCON = 0x8E,
    SPC_FNC = 0x8F, EXIF = 0x91, MPAGE = 0x92, SCON0 = 0x98, SBUF0 = 0x99, IE = 0xA8,
    IP = 0xB8, SCON1 = 0xC0, SBUF1 = 0xC1, T2CON = 0xC8, RCAP2L = 0xCA, RCAP2H = 0xCB,
    TL2 = 0xCC, TH2 = 0xCD, PSW = 0xD0, EICON = 0xD8, ACC = 0xE0, EIE = 0xE8, B = 0xF0,
    EIP = 0xF8,
};

constexpr uint8_t CY = 0x80, AC = 0x40, OV = 0x04;

// Which SFR addresses answer on this core (there are no P0..P3 SFRs: the ports
// are xdata registers of the chip).
constexpr std::array<bool, 128> sfr_map() {
    std::array<bool, 128> m{};
    for (uint8_t a : {SP, DPL0, DPH0, DPL1, DPH1, DPS, PCON, TCON, TMOD, TL0, TL1, TH0, TH1,
                      CKCON, SPC_FNC, EXIF, MPAGE, SCON0, SBUF0, IE, IP, SCON1, SBUF1, T2CON,
                      RCAP2L, RCAP2H, TL2, TH2, PSW, EICON, ACC, EIE, B, EIP})
        m[a - 0x80] = true;
    return m;
}
constexpr std::array<bool, 128> kSfrExists = sfr_map();

// Bytes/cycles per opcode. Rows are the high nibble; within a row the columns
// 0..F. The x1 column is AJMP (even rows) or ACALL (odd rows), 2/3.
constexpr uint8_t kBytesRows[16][16] = {
    {1, 2, 3, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},  // 0x
    {3, 2, 3, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},  // 1x
    {3, 2, 1, 1, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},  // 2x
    {3, 2, 1, 1, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},  // 3x
    {2, 2, 2, 3, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},  // 4x
    {2, 2, 2, 3, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},  // 5x
    {2, 2, 2, 3, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},  // 6x
    {2, 2, 2, 1, 2, 3, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2},  // 7x
    {2, 2, 2, 1, 1, 3, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2},  // 8x
    {3, 2, 2, 1, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},  // 9x
    {2, 2, 2, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2},  // Ax
    {2, 2, 2, 1, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3},  // Bx
    {2, 2, 2, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},  // Cx
    {2, 2, 2, 1, 1, 3, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2},  // Dx
    {1, 2, 1, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},  // Ex
    {1, 2, 1, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},  // Fx
};
constexpr uint8_t kCycleRows[16][16] = {
    {1, 3, 4, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},  // 0x
    {4, 3, 4, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},  // 1x
    {4, 3, 4, 1, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},  // 2x
    {4, 3, 4, 1, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},  // 3x
    {3, 3, 2, 3, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},  // 4x
    {3, 3, 2, 3, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},  // 5x
    {3, 3, 2, 3, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},  // 6x
    {3, 3, 2, 3, 2, 3, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2},  // 7x
    {3, 3, 2, 3, 5, 3, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2},  // 8x
    {3, 3, 2, 3, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},  // 9x
    {2, 3, 2, 3, 5, 1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2},  // Ax
    {2, 3, 2, 1, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4},  // Bx
    {2, 3, 2, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},  // Cx
    {2, 3, 2, 1, 1, 4, 1, 1, 3, 3, 3, 3, 3, 3, 3, 3},  // Dx
    {2, 3, 2, 2, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},  // Ex (MOVX: see movx_cycles)
    {2, 3, 2, 2, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},  // Fx
};

constexpr std::array<uint8_t, 256> flatten(const uint8_t (&rows)[16][16]) {
    std::array<uint8_t, 256> t{};
    for (int i = 0; i < 256; ++i) t[i] = rows[i >> 4][i & 15];
    return t;
}

constexpr bool is_movx(uint8_t op) {
    return op == 0xE0 || op == 0xE2 || op == 0xE3 || op == 0xF0 || op == 0xF2 || op == 0xF3;
}

// Interrupt sources in polling order (vector 0x03 + 8*index). Resume is polled
// first and always at the high level: on the Dallas core this slot is the
// power-fail interrupt, which has no priority bit; the chip's manual pages on
// it were not available, so this follows the core.
constexpr unsigned kResume = 6;

} // namespace

const std::array<uint8_t, 256> kOpcodeBytes = flatten(kBytesRows);

std::array<uint8_t, 256> CoreSettings::default_cycles() { return flatten(kCycleRows); }

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
    case DPL0: return dptr_[0] & 0xFF;
    case DPH0: return dptr_[0] >> 8;
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
    case DPL0: dptr_[0] = (dptr_[0] & 0xFF00) | value; return;
    case DPH0: dptr_[0] = (dptr_[0] & 0x00FF) | value << 8; return;
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
void Cpu8051::set_int0(bool level) {
    catch_up_timers();
    uint8_t &tcon = sfr_[TCON - 0x80];
    if (tcon & 0x01) {
        if (!level && int0_) tcon |= 0x02;
    } else {
        tcon = (tcon & ~0x02) | (level ? 0 : 0x02);
    }
    int0_ = level;
    update_timer_state();
    check_interrupts_soon();
}
void Cpu8051::set_int1(bool level) {
    catch_up_timers();
    uint8_t &tcon = sfr_[TCON - 0x80];
    if (tcon & 0x04) {
        if (!level && int1_) tcon |= 0x08;
    } else {
        tcon = (tcon & ~0x08) | (level ? 0 : 0x08);
    }
    int1_ = level;
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

unsigned Cpu8051::step() {
    const uint64_t start = cycles_;
    self_jump_ = false;
    if (!(irq_check_ && take_interrupt())) {
        if (idle_)
            instr_end_ = cycles_ + 1;
        else
            execute();
    }
    cycles_ = instr_end_;
    if (cycles_ >= timer_deadline_) {
        catch_up_timers();
        plan_timers();
    }
    if (serial_busy()) serial_advance(4 * cycles_);
    return static_cast<unsigned>(cycles_ - start);
}

uint64_t Cpu8051::run_until(uint64_t target) {
    while (cycles_ < target) step();
    return cycles_;
}

void Cpu8051::add(uint8_t v, bool carry) {
    const unsigned a = acc_, c = carry;
    const unsigned r = a + v + c;
    const unsigned ac = ((a & 0x0F) + (v & 0x0F) + c) > 0x0F;
    const unsigned c6 = ((a & 0x7F) + (v & 0x7F) + c) > 0x7F;
    const unsigned cy = r > 0xFF;
    psw_ = (psw_ & ~(CY | AC | OV)) | cy << 7 | ac << 6 | (cy ^ c6) << 2;
    acc_ = static_cast<uint8_t>(r);
}

void Cpu8051::subb(uint8_t v) {
    const unsigned a = acc_, c = (psw_ >> 7) & 1;
    const unsigned cy = a < v + c;
    const unsigned ac = (a & 0x0F) < (v & 0x0F) + c;
    const unsigned b6 = (a & 0x7F) < (v & 0x7F) + c;  // borrow into bit 7
    psw_ = (psw_ & ~(CY | AC | OV)) | cy << 7 | ac << 6 | (cy ^ b6) << 2;
    acc_ = static_cast<uint8_t>(a - v - c);
}

// Decodes and runs one instruction at pc_. Sets instr_end_ first, so that SFR
// writes and bus accesses know when in simulated time they happen.
unsigned Cpu8051::execute() {
    const uint16_t at = pc_;
    const uint8_t op = code_[at];
    const uint8_t o1 = code_[static_cast<uint16_t>(at + 1)];
    const uint8_t o2 = code_[static_cast<uint16_t>(at + 2)];
    unsigned n = settings_.cycles[op];
    if (is_movx(op)) n = settings_.movx_cycles[sfr_[CKCON - 0x80] & 7];
    instr_end_ = cycles_ + n;
    uint16_t next = static_cast<uint16_t>(at + kOpcodeBytes[op]);
    auto rel = [&](uint8_t r) { return static_cast<uint16_t>(next + static_cast<int8_t>(r)); };
    auto carry = [&] { return (psw_ & CY) != 0; };
    auto set_carry = [&](bool c) { psw_ = c ? (psw_ | CY) : (psw_ & ~CY); };
    auto ri = [&] { return iram_[rbase_ + (op & 1)]; };  // the address in R0/R1
    auto bus_time = [&] {
        // The MOVX strobe falls in the last cycle; serial edges before it go first.
        bus_clock_ = 4 * (instr_end_ - 1) + 2;
        if (serial_busy()) serial_advance(bus_clock_);
        bus_clock_ = 4 * (instr_end_ - 1) + 2;
    };

    switch (op) {
    case 0x00: case 0xA5: break;  // NOP; 0xA5 is undefined and does nothing
    case 0x01: case 0x21: case 0x41: case 0x61: case 0x81: case 0xA1: case 0xC1: case 0xE1:
        next = (next & 0xF800) | (op >> 5) << 8 | o1;
        self_jump_ = next == at;
        break;
    case 0x11: case 0x31: case 0x51: case 0x71: case 0x91: case 0xB1: case 0xD1: case 0xF1:
        push(next & 0xFF);
        push(next >> 8);
        next = (next & 0xF800) | (op >> 5) << 8 | o1;
        break;
    case 0x02: {
        // Autovectoring: the USB core supplies the low byte of the LJMP at 0x0043.
        uint8_t lo = (avec_on_ && at == 0x0043) ? avec_ : o2;
        next = static_cast<uint16_t>(o1 << 8 | lo);
        self_jump_ = next == at;
        break;
    }
    case 0x12:
        push(next & 0xFF);
        push(next >> 8);
        next = static_cast<uint16_t>(o1 << 8 | o2);
        break;
    case 0x22: case 0x32:
        next = static_cast<uint16_t>(pop() << 8);
        next |= pop();
        if (op == 0x32) {
            in_service_ &= (in_service_ & 2) ? ~2 : ~1;
            check_interrupts_soon();
            irq_block_ = true;
        }
        break;

    case 0x03: acc_ = static_cast<uint8_t>(acc_ >> 1 | acc_ << 7); break;  // RR A
    case 0x13: {  // RRC A
        bool c = acc_ & 1;
        acc_ = static_cast<uint8_t>(acc_ >> 1 | (carry() ? 0x80 : 0));
        set_carry(c);
        break;
    }
    case 0x23: acc_ = static_cast<uint8_t>(acc_ << 1 | acc_ >> 7); break;  // RL A
    case 0x33: {  // RLC A
        bool c = acc_ & 0x80;
        acc_ = static_cast<uint8_t>(acc_ << 1 | (carry() ? 1 : 0));
        set_carry(c);
        break;
    }

    case 0x04: ++acc_; break;
    case 0x05: write_direct(o1, read_direct(o1) + 1); break;
    case 0x06: case 0x07: ++iram_[ri()]; break;
    case 0x08 ... 0x0F: ++reg(op & 7); break;
    case 0x14: --acc_; break;
    case 0x15: write_direct(o1, read_direct(o1) - 1); break;
    case 0x16: case 0x17: --iram_[ri()]; break;
    case 0x18 ... 0x1F: --reg(op & 7); break;
    case 0xA3: ++dptr_[dps_]; break;  // INC DPTR

    case 0x10:  // JBC bit,rel
        if (read_bit(o1)) {
            write_bit(o1, false);
            next = rel(o2);
        }
        break;
    case 0x20: if (read_bit(o1)) next = rel(o2); break;
    case 0x30: if (!read_bit(o1)) next = rel(o2); break;
    case 0x40: if (carry()) next = rel(o1); break;
    case 0x50: if (!carry()) next = rel(o1); break;
    case 0x60: if (acc_ == 0) next = rel(o1); break;
    case 0x70: if (acc_ != 0) next = rel(o1); break;
    case 0x80:
        next = rel(o1);
        self_jump_ = next == at;
        break;
    case 0x73: next = static_cast<uint16_t>(acc_ + dptr_[dps_]); break;  // JMP @A+DPTR

    case 0x24: add(o1, false); break;
    case 0x25: add(read_direct(o1), false); break;
    case 0x26: case 0x27: add(iram_[ri()], false); break;
    case 0x28 ... 0x2F: add(reg(op & 7), false); break;
    case 0x34: add(o1, carry()); break;
    case 0x35: add(read_direct(o1), carry()); break;
    case 0x36: case 0x37: add(iram_[ri()], carry()); break;
    case 0x38 ... 0x3F: add(reg(op & 7), carry()); break;
    case 0x94: subb(o1); break;
    case 0x95: subb(read_direct(o1)); break;
    case 0x96: case 0x97: subb(iram_[ri()]); break;
    case 0x98 ... 0x9F: subb(reg(op & 7)); break;

    case 0x42: write_direct(o1, read_direct(o1) | acc_); break;
    case 0x43: write_direct(o1, read_direct(o1) | o2); break;
    case 0x44: acc_ |= o1; break;
    case 0x45: acc_ |= read_direct(o1); break;
    case 0x46: case 0x47: acc_ |= iram_[ri()]; break;
    case 0x48 ... 0x4F: acc_ |= reg(op & 7); break;
    case 0x52: write_direct(o1, read_direct(o1) & acc_); break;
    case 0x53: write_direct(o1, read_direct(o1) & o2); break;
    case 0x54: acc_ &= o1; break;
    case 0x55: acc_ &= read_direct(o1); break;
    case 0x56: case 0x57: acc_ &= iram_[ri()]; break;
    case 0x58 ... 0x5F: acc_ &= reg(op & 7); break;
    case 0x62: write_direct(o1, read_direct(o1) ^ acc_); break;
    case 0x63: write_direct(o1, read_direct(o1) ^ o2); break;
    case 0x64: acc_ ^= o1; break;
    case 0x65: acc_ ^= read_direct(o1); break;
    case 0x66: case 0x67: acc_ ^= iram_[ri()]; break;
    case 0x68 ... 0x6F: acc_ ^= reg(op & 7); break;

    case 0x72: set_carry(carry() || read_bit(o1)); break;   // ORL C,bit
    case 0xA0: set_carry(carry() || !read_bit(o1)); break;  // ORL C,/bit
    case 0x82: set_carry(carry() && read_bit(o1)); break;   // ANL C,bit
    case 0xB0: set_carry(carry() && !read_bit(o1)); break;  // ANL C,/bit
    case 0x92: write_bit(o1, carry()); break;               // MOV bit,C
    case 0xA2: set_carry(read_bit(o1)); break;              // MOV C,bit
    case 0xB2: write_bit(o1, !read_bit(o1)); break;         // CPL bit
    case 0xB3: psw_ ^= CY; break;
    case 0xC2: write_bit(o1, false); break;
    case 0xC3: psw_ &= ~CY; break;
    case 0xD2: write_bit(o1, true); break;
    case 0xD3: psw_ |= CY; break;

    case 0x74: acc_ = o1; break;
    case 0x75: write_direct(o1, o2); break;
    case 0x76: case 0x77: iram_[ri()] = o1; break;
    case 0x78 ... 0x7F: reg(op & 7) = o1; break;
    case 0x85: write_direct(o2, read_direct(o1)); break;  // MOV dest,src: bytes src, dest
    case 0x86: case 0x87: write_direct(o1, iram_[ri()]); break;
    case 0x88 ... 0x8F: write_direct(o1, reg(op & 7)); break;
    case 0x90: dptr_[dps_] = static_cast<uint16_t>(o1 << 8 | o2); break;
    case 0xA6: case 0xA7: iram_[ri()] = read_direct(o1); break;
    case 0xA8 ... 0xAF: reg(op & 7) = read_direct(o1); break;
    case 0xE4: acc_ = 0; break;
    case 0xE5: acc_ = read_direct(o1); break;
    case 0xE6: case 0xE7: acc_ = iram_[ri()]; break;
    case 0xE8 ... 0xEF: acc_ = reg(op & 7); break;
    case 0xF4: acc_ = ~acc_; break;
    case 0xF5: write_direct(o1, acc_); break;
    case 0xF6: case 0xF7: iram_[ri()] = acc_; break;
    case 0xF8 ... 0xFF: reg(op & 7) = acc_; break;

    case 0x83: acc_ = code_[static_cast<uint16_t>(next + acc_)]; break;          // MOVC A,@A+PC
    case 0x93: acc_ = code_[static_cast<uint16_t>(dptr_[dps_] + acc_)]; break;  // MOVC A,@A+DPTR

    case 0x84: {  // DIV AB; by zero sets OV and leaves A and B as they were
        psw_ &= ~(CY | OV);
        if (b_ == 0) {
            psw_ |= OV;
        } else {
            uint8_t q = acc_ / b_, m = acc_ % b_;
            acc_ = q;
            b_ = m;
        }
        break;
    }
    case 0xA4: {  // MUL AB
        unsigned p = acc_ * b_;
        acc_ = p & 0xFF;
        b_ = p >> 8;
        psw_ = (psw_ & ~(CY | OV)) | (p > 0xFF ? OV : 0);
        break;
    }
    case 0xD4: {  // DA A: sets CY on a carry out, never clears it
        unsigned a = acc_;
        bool c = carry();
        if ((a & 0x0F) > 9 || (psw_ & AC)) {
            a += 6;
            if (a > 0xFF) c = true;
            a &= 0xFF;
        }
        if ((a >> 4) > 9 || c) {
            a += 0x60;
            if (a > 0xFF) c = true;
        }
        acc_ = static_cast<uint8_t>(a);
        set_carry(c);
        break;
    }

    case 0xB4: set_carry(acc_ < o1); if (acc_ != o1) next = rel(o2); break;
    case 0xB5: {
        uint8_t v = read_direct(o1);
        set_carry(acc_ < v);
        if (acc_ != v) next = rel(o2);
        break;
    }
    case 0xB6: case 0xB7: {
        uint8_t v = iram_[ri()];
        set_carry(v < o1);
        if (v != o1) next = rel(o2);
        break;
    }
    case 0xB8 ... 0xBF: {
        uint8_t v = reg(op & 7);
        set_carry(v < o1);
        if (v != o1) next = rel(o2);
        break;
    }
    case 0xD5: {
        uint8_t v = read_direct(o1) - 1;
        write_direct(o1, v);
        if (v) next = rel(o2);
        break;
    }
    case 0xD8 ... 0xDF:
        if (--reg(op & 7)) next = rel(o1);
        break;

    case 0xC0: push(read_direct(o1)); break;
    case 0xD0: {
        uint8_t v = pop();
        write_direct(o1, v);
        break;
    }
    case 0xC4: acc_ = static_cast<uint8_t>(acc_ << 4 | acc_ >> 4); break;
    case 0xC5: {
        uint8_t v = read_direct(o1);
        write_direct(o1, acc_);
        acc_ = v;
        break;
    }
    case 0xC6: case 0xC7: std::swap(acc_, iram_[ri()]); break;
    case 0xC8 ... 0xCF: std::swap(acc_, reg(op & 7)); break;
    case 0xD6: case 0xD7: {  // XCHD A,@Ri
        uint8_t &m = iram_[ri()];
        uint8_t a = acc_;
        acc_ = (a & 0xF0) | (m & 0x0F);
        m = (m & 0xF0) | (a & 0x0F);
        break;
    }

    case 0xE0: bus_time(); acc_ = bus_.xread(dptr_[dps_]); break;
    case 0xE2: case 0xE3:
        bus_time();
        acc_ = bus_.xread(static_cast<uint16_t>(sfr_[MPAGE - 0x80] << 8 | ri()));
        break;
    case 0xF0: bus_time(); bus_.xwrite(dptr_[dps_], acc_); break;
    case 0xF2: case 0xF3:
        bus_time();
        bus_.xwrite(static_cast<uint16_t>(sfr_[MPAGE - 0x80] << 8 | ri()), acc_);
        break;
    }
    pc_ = next;
    return n;
}

} // namespace bench::ezusb
