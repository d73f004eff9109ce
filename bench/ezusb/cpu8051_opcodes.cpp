// The 8051 instruction set: one table row per opcode (mnemonic, bytes, machine
// cycles, handler), the handlers grouped by kind, and the loop that decodes
// through the table. Operand kinds (A, #data, direct, @Ri, Rn) are resolved at
// compile time, so that a family of opcodes shares one short handler.
#include "cpu8051.h"
#include "cpu8051_sfr.h"

#include <functional>

namespace bench::ezusb {

using namespace sfr;

// ---- the instruction loop ---------------------------------------------------

// Runs the instruction at pc_. Sets instr_end_ first, so that SFR writes and
// bus accesses know when in simulated time they happen.
inline void Cpu8051::execute() {
    const uint16_t at = pc_;
    const Instr i{at, code_[at], code_[static_cast<uint16_t>(at + 1)],
                  code_[static_cast<uint16_t>(at + 2)]};
    const Opcode &row = kOpcodes[i.op];
    instr_end_ = cycles_ + settings_.cycles[i.op];
    pc_ = static_cast<uint16_t>(at + row.bytes);
    row.run(*this, i);
}

// One instruction, or one interrupt entry; then the timers and the serial
// port catch up with its end.
inline void Cpu8051::run_one() {
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
}

unsigned Cpu8051::step() {
    const uint64_t start = cycles_;
    run_one();
    return static_cast<unsigned>(cycles_ - start);
}

uint64_t Cpu8051::run_until(uint64_t target) {
    while (cycles_ < target) run_one();
    return cycles_;
}

// ---- operands ---------------------------------------------------------------

template <Cpu8051::Operand K> uint8_t Cpu8051::load(Instr i) {
    if constexpr (K == Acc) return acc_;
    else if constexpr (K == Imm) return i.o1;
    else if constexpr (K == Imm2) return i.o2;
    else if constexpr (K == Dir) return read_direct(i.o1);
    else if constexpr (K == Dir2) return read_direct(i.o2);
    else if constexpr (K == Ind) return iram_[ri(i)];
    else return reg(i.op & 7);
}

template <Cpu8051::Operand K> void Cpu8051::store(Instr i, uint8_t v) {
    static_assert(K != Imm && K != Imm2, "an immediate is not a destination");
    if constexpr (K == Acc) acc_ = v;
    else if constexpr (K == Dir) write_direct(i.o1, v);
    else if constexpr (K == Dir2) write_direct(i.o2, v);
    else if constexpr (K == Ind) iram_[ri(i)] = v;
    else reg(i.op & 7) = v;
}

// ---- arithmetic -------------------------------------------------------------

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

template <Cpu8051::Operand K> void Cpu8051::add_a(Instr i) { add(load<K>(i), false); }
template <Cpu8051::Operand K> void Cpu8051::addc_a(Instr i) { add(load<K>(i), carry()); }
template <Cpu8051::Operand K> void Cpu8051::subb_a(Instr i) { subb(load<K>(i)); }
template <Cpu8051::Operand K> void Cpu8051::inc(Instr i) { store<K>(i, load<K>(i) + 1); }
template <Cpu8051::Operand K> void Cpu8051::dec(Instr i) { store<K>(i, load<K>(i) - 1); }
void Cpu8051::inc_dptr(Instr) { ++dptr_[dps_]; }

void Cpu8051::mul_ab(Instr) {
    const unsigned p = acc_ * b_;
    acc_ = p & 0xFF;
    b_ = p >> 8;
    psw_ = (psw_ & ~(CY | OV)) | (p > 0xFF ? OV : 0);
}

// Division by zero sets OV and leaves A and B as they were.
void Cpu8051::div_ab(Instr) {
    psw_ &= ~(CY | OV);
    if (b_ == 0) {
        psw_ |= OV;
        return;
    }
    const uint8_t q = acc_ / b_, m = acc_ % b_;
    acc_ = q;
    b_ = m;
}

// DA A sets CY on a carry out of either digit, and never clears it.
void Cpu8051::da_a(Instr) {
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
}

// ---- logic ------------------------------------------------------------------

namespace {
using Or = std::bit_or<uint8_t>;
using And = std::bit_and<uint8_t>;
using Xor = std::bit_xor<uint8_t>;
} // namespace

// ORL, ANL and XRL, into A or into a direct byte.
template <class F, Cpu8051::Operand D, Cpu8051::Operand S> void Cpu8051::logic(Instr i) {
    const uint8_t d = load<D>(i);
    store<D>(i, F{}(d, load<S>(i)));
}

void Cpu8051::clr_a(Instr) { acc_ = 0; }
void Cpu8051::cpl_a(Instr) { acc_ = ~acc_; }
void Cpu8051::rl_a(Instr) { acc_ = static_cast<uint8_t>(acc_ << 1 | acc_ >> 7); }
void Cpu8051::rr_a(Instr) { acc_ = static_cast<uint8_t>(acc_ >> 1 | acc_ << 7); }
void Cpu8051::swap_a(Instr) { acc_ = static_cast<uint8_t>(acc_ << 4 | acc_ >> 4); }

void Cpu8051::rlc_a(Instr) {
    const bool c = acc_ & 0x80;
    acc_ = static_cast<uint8_t>(acc_ << 1 | (carry() ? 1 : 0));
    set_carry(c);
}

void Cpu8051::rrc_a(Instr) {
    const bool c = acc_ & 1;
    acc_ = static_cast<uint8_t>(acc_ >> 1 | (carry() ? 0x80 : 0));
    set_carry(c);
}

// ---- moves ------------------------------------------------------------------

template <Cpu8051::Operand D, Cpu8051::Operand S> void Cpu8051::mov(Instr i) {
    store<D>(i, load<S>(i));
}

void Cpu8051::mov_dptr(Instr i) { dptr_[dps_] = static_cast<uint16_t>(i.o1 << 8 | i.o2); }
void Cpu8051::movc_pc(Instr) { acc_ = code_[static_cast<uint16_t>(pc_ + acc_)]; }
void Cpu8051::movc_dptr(Instr) { acc_ = code_[static_cast<uint16_t>(dptr_[dps_] + acc_)]; }

// A MOVX takes 2 + CKCON.MD cycles, and its strobe falls in the last one:
// serial edges before the strobe happen first.
void Cpu8051::movx_timing() {
    instr_end_ = cycles_ + settings_.movx_cycles[sfr_[CKCON - 0x80] & 7];
    bus_clock_ = 4 * (instr_end_ - 1) + 2;
    if (serial_busy()) serial_advance(bus_clock_);
    bus_clock_ = 4 * (instr_end_ - 1) + 2;
}

// @DPTR uses the selected pointer; @Ri takes its high byte from MPAGE.
template <bool Dptr> void Cpu8051::movx_load(Instr i) {
    movx_timing();
    acc_ = bus_.xread(Dptr ? dptr_[dps_] : static_cast<uint16_t>(sfr_[MPAGE - 0x80] << 8 | ri(i)));
}

template <bool Dptr> void Cpu8051::movx_store(Instr i) {
    movx_timing();
    bus_.xwrite(Dptr ? dptr_[dps_] : static_cast<uint16_t>(sfr_[MPAGE - 0x80] << 8 | ri(i)), acc_);
}

void Cpu8051::push_direct(Instr i) { push(read_direct(i.o1)); }
void Cpu8051::pop_direct(Instr i) { write_direct(i.o1, pop()); }

template <Cpu8051::Operand K> void Cpu8051::xch(Instr i) {
    const uint8_t v = load<K>(i);
    store<K>(i, acc_);
    acc_ = v;
}

// XCHD A,@Ri swaps the low digits only.
void Cpu8051::xchd(Instr i) {
    uint8_t &m = iram_[ri(i)];
    const uint8_t a = acc_;
    acc_ = (a & 0xF0) | (m & 0x0F);
    m = (m & 0xF0) | (a & 0x0F);
}

// ---- jumps ------------------------------------------------------------------

void Cpu8051::nop(Instr) {}

void Cpu8051::jump(Instr i, uint16_t to) {
    pc_ = to;
    self_jump_ = to == i.at;
}

void Cpu8051::call(uint16_t to) {
    push(pc_ & 0xFF);
    push(pc_ >> 8);
    pc_ = to;
}

// AJMP and ACALL replace the low 11 bits of the next instruction's address.
void Cpu8051::ajmp(Instr i) { jump(i, static_cast<uint16_t>((pc_ & 0xF800) | (i.op >> 5) << 8 | i.o1)); }
void Cpu8051::acall(Instr i) { call(static_cast<uint16_t>((pc_ & 0xF800) | (i.op >> 5) << 8 | i.o1)); }
void Cpu8051::lcall(Instr i) { call(static_cast<uint16_t>(i.o1 << 8 | i.o2)); }

// Autovectoring: the USB core supplies the low byte of the LJMP at 0x0043.
void Cpu8051::ljmp(Instr i) {
    const uint8_t lo = (avec_on_ && i.at == 0x0043) ? avec_ : i.o2;
    jump(i, static_cast<uint16_t>(i.o1 << 8 | lo));
}

void Cpu8051::ret(Instr) {
    pc_ = static_cast<uint16_t>(pop() << 8);
    pc_ |= pop();
}

// RETI ends the level in service; one more instruction runs before the next
// interrupt.
void Cpu8051::reti(Instr i) {
    ret(i);
    in_service_ &= (in_service_ & 2) ? ~2 : ~1;
    check_interrupts_soon();
    irq_block_ = true;
}

void Cpu8051::sjmp(Instr i) { jump(i, static_cast<uint16_t>(pc_ + static_cast<int8_t>(i.o1))); }
void Cpu8051::jmp_a_dptr(Instr) { pc_ = static_cast<uint16_t>(acc_ + dptr_[dps_]); }
void Cpu8051::jc(Instr i) { if (carry()) branch(i.o1); }
void Cpu8051::jnc(Instr i) { if (!carry()) branch(i.o1); }
void Cpu8051::jz(Instr i) { if (acc_ == 0) branch(i.o1); }
void Cpu8051::jnz(Instr i) { if (acc_ != 0) branch(i.o1); }

// CJNE sets CY when the first operand is the smaller; the offset is the last byte.
template <Cpu8051::Operand L, Cpu8051::Operand R> void Cpu8051::cjne(Instr i) {
    const uint8_t a = load<L>(i), b = load<R>(i);
    set_carry(a < b);
    if (a != b) branch(i.o2);
}

template <Cpu8051::Operand K> void Cpu8051::djnz(Instr i) {
    const uint8_t v = load<K>(i) - 1;
    store<K>(i, v);
    if (v) branch(K == Reg ? i.o1 : i.o2);
}

// ---- bit operations ---------------------------------------------------------

template <bool When> void Cpu8051::jump_bit(Instr i) {
    if (read_bit(i.o1) == When) branch(i.o2);
}

void Cpu8051::jbc(Instr i) {
    if (!read_bit(i.o1)) return;
    write_bit(i.o1, false);
    branch(i.o2);
}

// ORL/ANL C,bit do not read the bit when the carry alone decides.
template <bool Invert> void Cpu8051::orl_c(Instr i) { set_carry(carry() || read_bit(i.o1) != Invert); }
template <bool Invert> void Cpu8051::anl_c(Instr i) { set_carry(carry() && read_bit(i.o1) != Invert); }
void Cpu8051::mov_c_bit(Instr i) { set_carry(read_bit(i.o1)); }
void Cpu8051::mov_bit_c(Instr i) { write_bit(i.o1, carry()); }
template <bool V> void Cpu8051::set_bit(Instr i) { write_bit(i.o1, V); }
void Cpu8051::cpl_bit(Instr i) { write_bit(i.o1, !read_bit(i.o1)); }
template <bool V> void Cpu8051::set_c(Instr) { set_carry(V); }
void Cpu8051::cpl_c(Instr) { psw_ ^= CY; }

// ---- the opcode table -------------------------------------------------------

namespace {

// The table's rows must stand at their own opcode.
template <std::size_t N>
constexpr std::array<Cpu8051::Opcode, 256> in_opcode_order(const Cpu8051::Opcode (&rows)[N]) {
    static_assert(N == 256, "one row per opcode");
    std::array<Cpu8051::Opcode, 256> table{};
    for (std::size_t k = 0; k < N; ++k) {
        if (rows[k].code != k) throw "opcode table row out of place";
        table[k] = rows[k];
    }
    return table;
}

using C = Cpu8051;

} // namespace

// Bytes and cycles: a four-clock core that fetches one code byte per cycle.
constinit const std::array<Cpu8051::Opcode, 256> Cpu8051::kOpcodes = in_opcode_order({
    {0x00, "NOP",                 1, 1, &handler<&C::nop>},
    {0x01, "AJMP addr11",         2, 3, &handler<&C::ajmp>},
    {0x02, "LJMP addr16",         3, 4, &handler<&C::ljmp>},
    {0x03, "RR A",                1, 1, &handler<&C::rr_a>},
    {0x04, "INC A",               1, 1, &handler<&C::inc<Acc>>},
    {0x05, "INC direct",          2, 2, &handler<&C::inc<Dir>>},
    {0x06, "INC @R0",             1, 1, &handler<&C::inc<Ind>>},
    {0x07, "INC @R1",             1, 1, &handler<&C::inc<Ind>>},
    {0x08, "INC R0",              1, 1, &handler<&C::inc<Reg>>},
    {0x09, "INC R1",              1, 1, &handler<&C::inc<Reg>>},
    {0x0A, "INC R2",              1, 1, &handler<&C::inc<Reg>>},
    {0x0B, "INC R3",              1, 1, &handler<&C::inc<Reg>>},
    {0x0C, "INC R4",              1, 1, &handler<&C::inc<Reg>>},
    {0x0D, "INC R5",              1, 1, &handler<&C::inc<Reg>>},
    {0x0E, "INC R6",              1, 1, &handler<&C::inc<Reg>>},
    {0x0F, "INC R7",              1, 1, &handler<&C::inc<Reg>>},
    {0x10, "JBC bit,rel",         3, 4, &handler<&C::jbc>},
    {0x11, "ACALL addr11",        2, 3, &handler<&C::acall>},
    {0x12, "LCALL addr16",        3, 4, &handler<&C::lcall>},
    {0x13, "RRC A",               1, 1, &handler<&C::rrc_a>},
    {0x14, "DEC A",               1, 1, &handler<&C::dec<Acc>>},
    {0x15, "DEC direct",          2, 2, &handler<&C::dec<Dir>>},
    {0x16, "DEC @R0",             1, 1, &handler<&C::dec<Ind>>},
    {0x17, "DEC @R1",             1, 1, &handler<&C::dec<Ind>>},
    {0x18, "DEC R0",              1, 1, &handler<&C::dec<Reg>>},
    {0x19, "DEC R1",              1, 1, &handler<&C::dec<Reg>>},
    {0x1A, "DEC R2",              1, 1, &handler<&C::dec<Reg>>},
    {0x1B, "DEC R3",              1, 1, &handler<&C::dec<Reg>>},
    {0x1C, "DEC R4",              1, 1, &handler<&C::dec<Reg>>},
    {0x1D, "DEC R5",              1, 1, &handler<&C::dec<Reg>>},
    {0x1E, "DEC R6",              1, 1, &handler<&C::dec<Reg>>},
    {0x1F, "DEC R7",              1, 1, &handler<&C::dec<Reg>>},
    {0x20, "JB bit,rel",          3, 4, &handler<&C::jump_bit<true>>},
    {0x21, "AJMP addr11",         2, 3, &handler<&C::ajmp>},
    {0x22, "RET",                 1, 4, &handler<&C::ret>},
    {0x23, "RL A",                1, 1, &handler<&C::rl_a>},
    {0x24, "ADD A,#data",         2, 2, &handler<&C::add_a<Imm>>},
    {0x25, "ADD A,direct",        2, 2, &handler<&C::add_a<Dir>>},
    {0x26, "ADD A,@R0",           1, 1, &handler<&C::add_a<Ind>>},
    {0x27, "ADD A,@R1",           1, 1, &handler<&C::add_a<Ind>>},
    {0x28, "ADD A,R0",            1, 1, &handler<&C::add_a<Reg>>},
    {0x29, "ADD A,R1",            1, 1, &handler<&C::add_a<Reg>>},
    {0x2A, "ADD A,R2",            1, 1, &handler<&C::add_a<Reg>>},
    {0x2B, "ADD A,R3",            1, 1, &handler<&C::add_a<Reg>>},
    {0x2C, "ADD A,R4",            1, 1, &handler<&C::add_a<Reg>>},
    {0x2D, "ADD A,R5",            1, 1, &handler<&C::add_a<Reg>>},
    {0x2E, "ADD A,R6",            1, 1, &handler<&C::add_a<Reg>>},
    {0x2F, "ADD A,R7",            1, 1, &handler<&C::add_a<Reg>>},
    {0x30, "JNB bit,rel",         3, 4, &handler<&C::jump_bit<false>>},
    {0x31, "ACALL addr11",        2, 3, &handler<&C::acall>},
    {0x32, "RETI",                1, 4, &handler<&C::reti>},
    {0x33, "RLC A",               1, 1, &handler<&C::rlc_a>},
    {0x34, "ADDC A,#data",        2, 2, &handler<&C::addc_a<Imm>>},
    {0x35, "ADDC A,direct",       2, 2, &handler<&C::addc_a<Dir>>},
    {0x36, "ADDC A,@R0",          1, 1, &handler<&C::addc_a<Ind>>},
    {0x37, "ADDC A,@R1",          1, 1, &handler<&C::addc_a<Ind>>},
    {0x38, "ADDC A,R0",           1, 1, &handler<&C::addc_a<Reg>>},
    {0x39, "ADDC A,R1",           1, 1, &handler<&C::addc_a<Reg>>},
    {0x3A, "ADDC A,R2",           1, 1, &handler<&C::addc_a<Reg>>},
    {0x3B, "ADDC A,R3",           1, 1, &handler<&C::addc_a<Reg>>},
    {0x3C, "ADDC A,R4",           1, 1, &handler<&C::addc_a<Reg>>},
    {0x3D, "ADDC A,R5",           1, 1, &handler<&C::addc_a<Reg>>},
    {0x3E, "ADDC A,R6",           1, 1, &handler<&C::addc_a<Reg>>},
    {0x3F, "ADDC A,R7",           1, 1, &handler<&C::addc_a<Reg>>},
    {0x40, "JC rel",              2, 3, &handler<&C::jc>},
    {0x41, "AJMP addr11",         2, 3, &handler<&C::ajmp>},
    {0x42, "ORL direct,A",        2, 2, &handler<&C::logic<Or, Dir, Acc>>},
    {0x43, "ORL direct,#data",    3, 3, &handler<&C::logic<Or, Dir, Imm2>>},
    {0x44, "ORL A,#data",         2, 2, &handler<&C::logic<Or, Acc, Imm>>},
    {0x45, "ORL A,direct",        2, 2, &handler<&C::logic<Or, Acc, Dir>>},
    {0x46, "ORL A,@R0",           1, 1, &handler<&C::logic<Or, Acc, Ind>>},
    {0x47, "ORL A,@R1",           1, 1, &handler<&C::logic<Or, Acc, Ind>>},
    {0x48, "ORL A,R0",            1, 1, &handler<&C::logic<Or, Acc, Reg>>},
    {0x49, "ORL A,R1",            1, 1, &handler<&C::logic<Or, Acc, Reg>>},
    {0x4A, "ORL A,R2",            1, 1, &handler<&C::logic<Or, Acc, Reg>>},
    {0x4B, "ORL A,R3",            1, 1, &handler<&C::logic<Or, Acc, Reg>>},
    {0x4C, "ORL A,R4",            1, 1, &handler<&C::logic<Or, Acc, Reg>>},
    {0x4D, "ORL A,R5",            1, 1, &handler<&C::logic<Or, Acc, Reg>>},
    {0x4E, "ORL A,R6",            1, 1, &handler<&C::logic<Or, Acc, Reg>>},
    {0x4F, "ORL A,R7",            1, 1, &handler<&C::logic<Or, Acc, Reg>>},
    {0x50, "JNC rel",             2, 3, &handler<&C::jnc>},
    {0x51, "ACALL addr11",        2, 3, &handler<&C::acall>},
    {0x52, "ANL direct,A",        2, 2, &handler<&C::logic<And, Dir, Acc>>},
    {0x53, "ANL direct,#data",    3, 3, &handler<&C::logic<And, Dir, Imm2>>},
    {0x54, "ANL A,#data",         2, 2, &handler<&C::logic<And, Acc, Imm>>},
    {0x55, "ANL A,direct",        2, 2, &handler<&C::logic<And, Acc, Dir>>},
    {0x56, "ANL A,@R0",           1, 1, &handler<&C::logic<And, Acc, Ind>>},
    {0x57, "ANL A,@R1",           1, 1, &handler<&C::logic<And, Acc, Ind>>},
    {0x58, "ANL A,R0",            1, 1, &handler<&C::logic<And, Acc, Reg>>},
    {0x59, "ANL A,R1",            1, 1, &handler<&C::logic<And, Acc, Reg>>},
    {0x5A, "ANL A,R2",            1, 1, &handler<&C::logic<And, Acc, Reg>>},
    {0x5B, "ANL A,R3",            1, 1, &handler<&C::logic<And, Acc, Reg>>},
    {0x5C, "ANL A,R4",            1, 1, &handler<&C::logic<And, Acc, Reg>>},
    {0x5D, "ANL A,R5",            1, 1, &handler<&C::logic<And, Acc, Reg>>},
    {0x5E, "ANL A,R6",            1, 1, &handler<&C::logic<And, Acc, Reg>>},
    {0x5F, "ANL A,R7",            1, 1, &handler<&C::logic<And, Acc, Reg>>},
    {0x60, "JZ rel",              2, 3, &handler<&C::jz>},
    {0x61, "AJMP addr11",         2, 3, &handler<&C::ajmp>},
    {0x62, "XRL direct,A",        2, 2, &handler<&C::logic<Xor, Dir, Acc>>},
    {0x63, "XRL direct,#data",    3, 3, &handler<&C::logic<Xor, Dir, Imm2>>},
    {0x64, "XRL A,#data",         2, 2, &handler<&C::logic<Xor, Acc, Imm>>},
    {0x65, "XRL A,direct",        2, 2, &handler<&C::logic<Xor, Acc, Dir>>},
    {0x66, "XRL A,@R0",           1, 1, &handler<&C::logic<Xor, Acc, Ind>>},
    {0x67, "XRL A,@R1",           1, 1, &handler<&C::logic<Xor, Acc, Ind>>},
    {0x68, "XRL A,R0",            1, 1, &handler<&C::logic<Xor, Acc, Reg>>},
    {0x69, "XRL A,R1",            1, 1, &handler<&C::logic<Xor, Acc, Reg>>},
    {0x6A, "XRL A,R2",            1, 1, &handler<&C::logic<Xor, Acc, Reg>>},
    {0x6B, "XRL A,R3",            1, 1, &handler<&C::logic<Xor, Acc, Reg>>},
    {0x6C, "XRL A,R4",            1, 1, &handler<&C::logic<Xor, Acc, Reg>>},
    {0x6D, "XRL A,R5",            1, 1, &handler<&C::logic<Xor, Acc, Reg>>},
    {0x6E, "XRL A,R6",            1, 1, &handler<&C::logic<Xor, Acc, Reg>>},
    {0x6F, "XRL A,R7",            1, 1, &handler<&C::logic<Xor, Acc, Reg>>},
    {0x70, "JNZ rel",             2, 3, &handler<&C::jnz>},
    {0x71, "ACALL addr11",        2, 3, &handler<&C::acall>},
    {0x72, "ORL C,bit",           2, 2, &handler<&C::orl_c<false>>},
    {0x73, "JMP @A+DPTR",         1, 3, &handler<&C::jmp_a_dptr>},
    {0x74, "MOV A,#data",         2, 2, &handler<&C::mov<Acc, Imm>>},
    {0x75, "MOV direct,#data",    3, 3, &handler<&C::mov<Dir, Imm2>>},
    {0x76, "MOV @R0,#data",       2, 2, &handler<&C::mov<Ind, Imm>>},
    {0x77, "MOV @R1,#data",       2, 2, &handler<&C::mov<Ind, Imm>>},
    {0x78, "MOV R0,#data",        2, 2, &handler<&C::mov<Reg, Imm>>},
    {0x79, "MOV R1,#data",        2, 2, &handler<&C::mov<Reg, Imm>>},
    {0x7A, "MOV R2,#data",        2, 2, &handler<&C::mov<Reg, Imm>>},
    {0x7B, "MOV R3,#data",        2, 2, &handler<&C::mov<Reg, Imm>>},
    {0x7C, "MOV R4,#data",        2, 2, &handler<&C::mov<Reg, Imm>>},
    {0x7D, "MOV R5,#data",        2, 2, &handler<&C::mov<Reg, Imm>>},
    {0x7E, "MOV R6,#data",        2, 2, &handler<&C::mov<Reg, Imm>>},
    {0x7F, "MOV R7,#data",        2, 2, &handler<&C::mov<Reg, Imm>>},
    {0x80, "SJMP rel",            2, 3, &handler<&C::sjmp>},
    {0x81, "AJMP addr11",         2, 3, &handler<&C::ajmp>},
    {0x82, "ANL C,bit",           2, 2, &handler<&C::anl_c<false>>},
    {0x83, "MOVC A,@A+PC",        1, 3, &handler<&C::movc_pc>},
    {0x84, "DIV AB",              1, 5, &handler<&C::div_ab>},
    {0x85, "MOV direct,direct",   3, 3, &handler<&C::mov<Dir2, Dir>>},
    {0x86, "MOV direct,@R0",      2, 2, &handler<&C::mov<Dir, Ind>>},
    {0x87, "MOV direct,@R1",      2, 2, &handler<&C::mov<Dir, Ind>>},
    {0x88, "MOV direct,R0",       2, 2, &handler<&C::mov<Dir, Reg>>},
    {0x89, "MOV direct,R1",       2, 2, &handler<&C::mov<Dir, Reg>>},
    {0x8A, "MOV direct,R2",       2, 2, &handler<&C::mov<Dir, Reg>>},
    {0x8B, "MOV direct,R3",       2, 2, &handler<&C::mov<Dir, Reg>>},
    {0x8C, "MOV direct,R4",       2, 2, &handler<&C::mov<Dir, Reg>>},
    {0x8D, "MOV direct,R5",       2, 2, &handler<&C::mov<Dir, Reg>>},
    {0x8E, "MOV direct,R6",       2, 2, &handler<&C::mov<Dir, Reg>>},
    {0x8F, "MOV direct,R7",       2, 2, &handler<&C::mov<Dir, Reg>>},
    {0x90, "MOV DPTR,#data16",    3, 3, &handler<&C::mov_dptr>},
    {0x91, "ACALL addr11",        2, 3, &handler<&C::acall>},
    {0x92, "MOV bit,C",           2, 2, &handler<&C::mov_bit_c>},
    {0x93, "MOVC A,@A+DPTR",      1, 3, &handler<&C::movc_dptr>},
    {0x94, "SUBB A,#data",        2, 2, &handler<&C::subb_a<Imm>>},
    {0x95, "SUBB A,direct",       2, 2, &handler<&C::subb_a<Dir>>},
    {0x96, "SUBB A,@R0",          1, 1, &handler<&C::subb_a<Ind>>},
    {0x97, "SUBB A,@R1",          1, 1, &handler<&C::subb_a<Ind>>},
    {0x98, "SUBB A,R0",           1, 1, &handler<&C::subb_a<Reg>>},
    {0x99, "SUBB A,R1",           1, 1, &handler<&C::subb_a<Reg>>},
    {0x9A, "SUBB A,R2",           1, 1, &handler<&C::subb_a<Reg>>},
    {0x9B, "SUBB A,R3",           1, 1, &handler<&C::subb_a<Reg>>},
    {0x9C, "SUBB A,R4",           1, 1, &handler<&C::subb_a<Reg>>},
    {0x9D, "SUBB A,R5",           1, 1, &handler<&C::subb_a<Reg>>},
    {0x9E, "SUBB A,R6",           1, 1, &handler<&C::subb_a<Reg>>},
    {0x9F, "SUBB A,R7",           1, 1, &handler<&C::subb_a<Reg>>},
    {0xA0, "ORL C,/bit",          2, 2, &handler<&C::orl_c<true>>},
    {0xA1, "AJMP addr11",         2, 3, &handler<&C::ajmp>},
    {0xA2, "MOV C,bit",           2, 2, &handler<&C::mov_c_bit>},
    {0xA3, "INC DPTR",            1, 3, &handler<&C::inc_dptr>},
    {0xA4, "MUL AB",              1, 5, &handler<&C::mul_ab>},
    {0xA5, "(undefined)",         1, 1, &handler<&C::nop>},
    {0xA6, "MOV @R0,direct",      2, 2, &handler<&C::mov<Ind, Dir>>},
    {0xA7, "MOV @R1,direct",      2, 2, &handler<&C::mov<Ind, Dir>>},
    {0xA8, "MOV R0,direct",       2, 2, &handler<&C::mov<Reg, Dir>>},
    {0xA9, "MOV R1,direct",       2, 2, &handler<&C::mov<Reg, Dir>>},
    {0xAA, "MOV R2,direct",       2, 2, &handler<&C::mov<Reg, Dir>>},
    {0xAB, "MOV R3,direct",       2, 2, &handler<&C::mov<Reg, Dir>>},
    {0xAC, "MOV R4,direct",       2, 2, &handler<&C::mov<Reg, Dir>>},
    {0xAD, "MOV R5,direct",       2, 2, &handler<&C::mov<Reg, Dir>>},
    {0xAE, "MOV R6,direct",       2, 2, &handler<&C::mov<Reg, Dir>>},
    {0xAF, "MOV R7,direct",       2, 2, &handler<&C::mov<Reg, Dir>>},
    {0xB0, "ANL C,/bit",          2, 2, &handler<&C::anl_c<true>>},
    {0xB1, "ACALL addr11",        2, 3, &handler<&C::acall>},
    {0xB2, "CPL bit",             2, 2, &handler<&C::cpl_bit>},
    {0xB3, "CPL C",               1, 1, &handler<&C::cpl_c>},
    {0xB4, "CJNE A,#data,rel",    3, 4, &handler<&C::cjne<Acc, Imm>>},
    {0xB5, "CJNE A,direct,rel",   3, 4, &handler<&C::cjne<Acc, Dir>>},
    {0xB6, "CJNE @R0,#data,rel",  3, 4, &handler<&C::cjne<Ind, Imm>>},
    {0xB7, "CJNE @R1,#data,rel",  3, 4, &handler<&C::cjne<Ind, Imm>>},
    {0xB8, "CJNE R0,#data,rel",   3, 4, &handler<&C::cjne<Reg, Imm>>},
    {0xB9, "CJNE R1,#data,rel",   3, 4, &handler<&C::cjne<Reg, Imm>>},
    {0xBA, "CJNE R2,#data,rel",   3, 4, &handler<&C::cjne<Reg, Imm>>},
    {0xBB, "CJNE R3,#data,rel",   3, 4, &handler<&C::cjne<Reg, Imm>>},
    {0xBC, "CJNE R4,#data,rel",   3, 4, &handler<&C::cjne<Reg, Imm>>},
    {0xBD, "CJNE R5,#data,rel",   3, 4, &handler<&C::cjne<Reg, Imm>>},
    {0xBE, "CJNE R6,#data,rel",   3, 4, &handler<&C::cjne<Reg, Imm>>},
    {0xBF, "CJNE R7,#data,rel",   3, 4, &handler<&C::cjne<Reg, Imm>>},
    {0xC0, "PUSH direct",         2, 2, &handler<&C::push_direct>},
    {0xC1, "AJMP addr11",         2, 3, &handler<&C::ajmp>},
    {0xC2, "CLR bit",             2, 2, &handler<&C::set_bit<false>>},
    {0xC3, "CLR C",               1, 1, &handler<&C::set_c<false>>},
    {0xC4, "SWAP A",              1, 1, &handler<&C::swap_a>},
    {0xC5, "XCH A,direct",        2, 2, &handler<&C::xch<Dir>>},
    {0xC6, "XCH A,@R0",           1, 1, &handler<&C::xch<Ind>>},
    {0xC7, "XCH A,@R1",           1, 1, &handler<&C::xch<Ind>>},
    {0xC8, "XCH A,R0",            1, 1, &handler<&C::xch<Reg>>},
    {0xC9, "XCH A,R1",            1, 1, &handler<&C::xch<Reg>>},
    {0xCA, "XCH A,R2",            1, 1, &handler<&C::xch<Reg>>},
    {0xCB, "XCH A,R3",            1, 1, &handler<&C::xch<Reg>>},
    {0xCC, "XCH A,R4",            1, 1, &handler<&C::xch<Reg>>},
    {0xCD, "XCH A,R5",            1, 1, &handler<&C::xch<Reg>>},
    {0xCE, "XCH A,R6",            1, 1, &handler<&C::xch<Reg>>},
    {0xCF, "XCH A,R7",            1, 1, &handler<&C::xch<Reg>>},
    {0xD0, "POP direct",          2, 2, &handler<&C::pop_direct>},
    {0xD1, "ACALL addr11",        2, 3, &handler<&C::acall>},
    {0xD2, "SETB bit",            2, 2, &handler<&C::set_bit<true>>},
    {0xD3, "SETB C",              1, 1, &handler<&C::set_c<true>>},
    {0xD4, "DA A",                1, 1, &handler<&C::da_a>},
    {0xD5, "DJNZ direct,rel",     3, 4, &handler<&C::djnz<Dir>>},
    {0xD6, "XCHD A,@R0",          1, 1, &handler<&C::xchd>},
    {0xD7, "XCHD A,@R1",          1, 1, &handler<&C::xchd>},
    {0xD8, "DJNZ R0,rel",         2, 3, &handler<&C::djnz<Reg>>},
    {0xD9, "DJNZ R1,rel",         2, 3, &handler<&C::djnz<Reg>>},
    {0xDA, "DJNZ R2,rel",         2, 3, &handler<&C::djnz<Reg>>},
    {0xDB, "DJNZ R3,rel",         2, 3, &handler<&C::djnz<Reg>>},
    {0xDC, "DJNZ R4,rel",         2, 3, &handler<&C::djnz<Reg>>},
    {0xDD, "DJNZ R5,rel",         2, 3, &handler<&C::djnz<Reg>>},
    {0xDE, "DJNZ R6,rel",         2, 3, &handler<&C::djnz<Reg>>},
    {0xDF, "DJNZ R7,rel",         2, 3, &handler<&C::djnz<Reg>>},
    {0xE0, "MOVX A,@DPTR",        1, 2, &handler<&C::movx_load<true>>},
    {0xE1, "AJMP addr11",         2, 3, &handler<&C::ajmp>},
    {0xE2, "MOVX A,@R0",          1, 2, &handler<&C::movx_load<false>>},
    {0xE3, "MOVX A,@R1",          1, 2, &handler<&C::movx_load<false>>},
    {0xE4, "CLR A",               1, 1, &handler<&C::clr_a>},
    {0xE5, "MOV A,direct",        2, 2, &handler<&C::mov<Acc, Dir>>},
    {0xE6, "MOV A,@R0",           1, 1, &handler<&C::mov<Acc, Ind>>},
    {0xE7, "MOV A,@R1",           1, 1, &handler<&C::mov<Acc, Ind>>},
    {0xE8, "MOV A,R0",            1, 1, &handler<&C::mov<Acc, Reg>>},
    {0xE9, "MOV A,R1",            1, 1, &handler<&C::mov<Acc, Reg>>},
    {0xEA, "MOV A,R2",            1, 1, &handler<&C::mov<Acc, Reg>>},
    {0xEB, "MOV A,R3",            1, 1, &handler<&C::mov<Acc, Reg>>},
    {0xEC, "MOV A,R4",            1, 1, &handler<&C::mov<Acc, Reg>>},
    {0xED, "MOV A,R5",            1, 1, &handler<&C::mov<Acc, Reg>>},
    {0xEE, "MOV A,R6",            1, 1, &handler<&C::mov<Acc, Reg>>},
    {0xEF, "MOV A,R7",            1, 1, &handler<&C::mov<Acc, Reg>>},
    {0xF0, "MOVX @DPTR,A",        1, 2, &handler<&C::movx_store<true>>},
    {0xF1, "ACALL addr11",        2, 3, &handler<&C::acall>},
    {0xF2, "MOVX @R0,A",          1, 2, &handler<&C::movx_store<false>>},
    {0xF3, "MOVX @R1,A",          1, 2, &handler<&C::movx_store<false>>},
    {0xF4, "CPL A",               1, 1, &handler<&C::cpl_a>},
    {0xF5, "MOV direct,A",        2, 2, &handler<&C::mov<Dir, Acc>>},
    {0xF6, "MOV @R0,A",           1, 1, &handler<&C::mov<Ind, Acc>>},
    {0xF7, "MOV @R1,A",           1, 1, &handler<&C::mov<Ind, Acc>>},
    {0xF8, "MOV R0,A",            1, 1, &handler<&C::mov<Reg, Acc>>},
    {0xF9, "MOV R1,A",            1, 1, &handler<&C::mov<Reg, Acc>>},
    {0xFA, "MOV R2,A",            1, 1, &handler<&C::mov<Reg, Acc>>},
    {0xFB, "MOV R3,A",            1, 1, &handler<&C::mov<Reg, Acc>>},
    {0xFC, "MOV R4,A",            1, 1, &handler<&C::mov<Reg, Acc>>},
    {0xFD, "MOV R5,A",            1, 1, &handler<&C::mov<Reg, Acc>>},
    {0xFE, "MOV R6,A",            1, 1, &handler<&C::mov<Reg, Acc>>},
    {0xFF, "MOV R7,A",            1, 1, &handler<&C::mov<Reg, Acc>>},
});

std::array<uint8_t, 256> CoreSettings::default_cycles() {
    std::array<uint8_t, 256> cycles{};
    for (const Cpu8051::Opcode &o : Cpu8051::kOpcodes) cycles[o.code] = o.cycles;
    return cycles;
}

} // namespace bench::ezusb
