// The 8051 core of the EZ-USB (AN2131 family): a Dallas-style core with four
// CLK24 periods per machine cycle, two data pointers, MPAGE for MOVX @Ri, 256
// bytes of internal RAM, timers 0 to 2, serial port 0 in mode 0, and the extra
// interrupt sources of the EZ-USB (INT2 for USB, INT3 for I2C, INT4 to INT6).
//
// The core owns the SFRs of the 8051 itself. Everything outside it (the shared
// code/xdata RAM, the USB registers, the port pins) is reached through CpuBus,
// which the chip (an2131.h) implements.
#pragma once

#include <array>
#include <cstdint>

namespace bench::ezusb {

// What the core reaches outside itself. Calls happen in the order of simulated
// time: a pin change that the serial engine makes before an instruction's MOVX
// write is reported before that write.
class CpuBus {
public:
    virtual ~CpuBus() = default;
    // MOVX reads and writes (both pointers, and @Ri with MPAGE as the high byte).
    virtual uint8_t xread(uint16_t addr) = 0;
    virtual void xwrite(uint16_t addr, uint8_t value) = 0;
    // Serial port 0 pins: TxD0 (the mode-0 shift clock, PC1 when PORTCCFG.1 is set)
    // and RxD0OUT (the transmit data, PA6 when PORTACFG.6 is set). Called when
    // either level changes; both idle high.
    virtual void serial_out(bool txd0, bool rxd0out) = 0;
    // RxD0 (PC0 when PORTCCFG.0 is set), sampled at each rising TxD0 edge.
    virtual bool serial_in() = 0;
};

// Timing of one mode-0 shift rate, in CLK24 periods. E is the CLK24 edge that
// ends the instruction starting the transfer (the SBUF0 write, or the SCON0
// write that leaves REN=1 and RI=0). Bit k (1..8) is put on RxD0OUT at
// E + first_data + period*(k-1); TxD0 falls one CLK24 later and rises `low`
// periods after that, and RxD0 is sampled at that rise. The last bit is held
// as long as the others before RxD0OUT returns high.
struct SerialTiming {
    unsigned first_data;  // E to the first data change
    unsigned period;      // CLK24 periods per bit
    unsigned low;         // TxD0 low time per bit
    unsigned flag_delay;  // 8th rise to TI/RI set (and the received byte in SBUF0)
};

// The named settings of the core. Cycle counts and the serial timing come from a
// public description of a compatible core, not from the chip's own manual, so
// each of them can be replaced.
struct CoreSettings {
    // Machine cycles per opcode (default: the opcode table's); the MOVX entries
    // are ignored (see movx_cycles).
    std::array<uint8_t, 256> cycles = default_cycles();
    // MOVX cycles for each CKCON.MD value 0..7. Default: the linear law 2 + MD,
    // on-chip addresses included (the bus unit does not decode addresses).
    std::array<uint8_t, 8> movx_cycles = {2, 3, 4, 5, 6, 7, 8, 9};
    // Mode 0 at SM2=1 (CLK24/4, TxD0 2 high / 2 low) and SM2=0 (CLK24/12, 3 high /
    // 9 low). Inferred, not confirmed on the chip.
    SerialTiming serial_fast{5, 4, 2, 3};
    SerialTiming serial_slow{13, 12, 9, 4};
    // CLK24 periods between the RxD0 pin and the sampling flip-flop; the port
    // logic between them is not documented, so none is assumed.
    unsigned rxd0_sample_delay = 0;

    static std::array<uint8_t, 256> default_cycles();
};

class Cpu8051 {
public:
    // The bytes of one instruction, as its handler receives them. Whole words:
    // with byte fields the decoder assembles it byte by byte in memory and
    // reads it back whole, which stalls every instruction.
    struct Instr {
        unsigned at;  // address of the opcode
        unsigned op, o1, o2;
    };
    // One row of the instruction set: mnemonic, length, machine cycles (MOVX:
    // with no stretch) and the handler that runs it.
    struct Opcode {
        uint8_t code;
        const char *mnemonic;
        uint8_t bytes, cycles;
        void (*run)(Cpu8051 &, Instr);
    };
    // Indexed by opcode; 0xA5, undefined, is a 1-byte NOP.
    static const std::array<Opcode, 256> kOpcodes;

    // code points at the 64 KiB code space (on the AN2131 the same RAM as xdata
    // below 0x1B40); instructions are fetched from it directly.
    Cpu8051(CpuBus &bus, const uint8_t *code, const CoreSettings &settings = {});

    // Power-on / CPUCS reset: PC 0, SFRs to their reset values (SP 0x07, CKCON
    // 0x01, PCON 0x30, ...). Internal RAM keeps its contents.
    void reset();

    // Runs whole instructions (and interrupt entries) until at least `cycles`
    // machine cycles have passed since reset; returns the cycle count reached.
    uint64_t run_until(uint64_t cycles);
    // Runs one instruction, or one interrupt entry; returns its machine cycles.
    unsigned step();

    uint64_t cycles() const { return cycles_; }

    // USB interrupt line (INT2) from the chip: a rising edge sets EXIF.4.
    void set_int2(bool level);
    // I2C (INT3), INT4, INT5 (active low), INT6 edges, for completeness.
    void set_int3(bool level);
    void set_int4(bool level);
    void set_int5(bool level);
    void set_int6(bool level);
    // INT0#/INT1# pins (PC2/PC3 when configured): level or falling edge per
    // TCON.IT0/IT1; also the gates of timers 0 and 1. Idle high.
    void set_int0(bool level);
    void set_int1(bool level);
    // Resume (WAKEUP) from the USB core: sets EICON.RESI.
    void request_resume();

    // Autovectoring: while on, the code byte at 0x0045 reads as `avec` when the
    // LJMP at 0x0043 is executed (the USB core substitutes its vector).
    void set_autovector(bool on, uint8_t avec);

    // State, for the bench's 8051 command and for tests.
    uint16_t pc() const { return pc_; }
    uint8_t sfr(uint8_t addr) const;      // 0x80..0xFF; 0 where no register answers
    void set_sfr(uint8_t addr, uint8_t value);
    const std::array<uint8_t, 256> &iram() const { return iram_; }
    std::array<uint8_t, 256> &iram() { return iram_; }
    uint16_t dptr(int which) const;
    // True when the last instruction executed jumped to its own address.
    bool at_self_jump() const { return self_jump_; }
    // CLK24 periods from reset at the bus access or serial pin event in progress
    // (four per machine cycle; a MOVX strobe falls in c3 of its last cycle).
    uint64_t bus_clock() const { return bus_clock_; }
    // True while PCON.IDLE holds the core until an interrupt.
    bool idle() const { return idle_; }
    const CoreSettings &settings() const { return settings_; }

private:
    struct SerialEvent {
        uint64_t time;  // CLK24 periods from reset
        uint8_t kind;
        uint8_t arg;
    };
    struct SerialMachine {
        bool active = false;
        bool clock = true;      // this machine's share of TxD0 (low while it drives low)
        bool data = true;       // RxD0OUT (the transmitter only)
        uint8_t shift = 0;
        unsigned count = 0, index = 0;
        std::array<SerialEvent, 32> events{};
    };

    void run_one();
    void execute();
    bool take_interrupt();
    void set_int01(unsigned n, bool level);
    void check_interrupts_soon() const { irq_check_ = true; }

    uint8_t read_sfr(uint8_t addr);
    void write_sfr(uint8_t addr, uint8_t value);
    uint8_t read_direct(uint8_t addr) { return addr < 0x80 ? iram_[addr] : read_sfr(addr); }
    void write_direct(uint8_t addr, uint8_t value) {
        if (addr < 0x80) iram_[addr] = value; else write_sfr(addr, value);
    }
    bool read_bit(uint8_t bit);
    void write_bit(uint8_t bit, bool value);
    uint8_t psw() const;
    void set_psw(uint8_t value);
    void push(uint8_t v) { iram_[++sp_] = v; }
    uint8_t pop() { return iram_[sp_--]; }
    uint8_t &reg(unsigned n) { return iram_[rbase_ + n]; }

    bool carry() const { return psw_ & 0x80; }
    void set_carry(bool c) { psw_ = c ? (psw_ | 0x80) : (psw_ & 0x7F); }
    void add(uint8_t v, bool carry);
    void subb(uint8_t v);

    // Instruction handlers (cpu8051_opcodes.cpp). pc_ already holds the next
    // instruction's address when a handler runs; a jump overwrites it. A
    // family of opcodes shares one handler, which reads and writes its
    // operands through load/store of its operand kinds.
    enum Operand : uint8_t {
        Acc,   // A
        Imm,   // #data in the first operand byte
        Imm2,  // #data in the second (after a direct address)
        Dir,   // direct address in the first operand byte: RAM below 0x80, else an SFR
        Dir2,  // direct address in the second (the destination of MOV direct,direct)
        Ind,   // @R0 or @R1 (opcode bit 0), internal RAM
        Reg,   // R0..R7 (opcode bits 2..0) of the selected bank
    };
    // The table holds plain function pointers: a call through one is cheaper
    // than through a pointer to member.
    template <void (Cpu8051::*H)(Instr)> static void handler(Cpu8051 &c, Instr i) { (c.*H)(i); }
    template <Operand K> uint8_t load(Instr i);
    template <Operand K> void store(Instr i, uint8_t v);
    uint8_t ri(Instr i) const { return iram_[rbase_ + (i.op & 1)]; }
    void branch(uint8_t rel) { pc_ = static_cast<uint16_t>(pc_ + static_cast<int8_t>(rel)); }
    void jump(Instr i, uint16_t to);  // an unconditional jump; notes a jump to itself
    void call(uint16_t to);
    void movx_timing();
    // arithmetic
    template <Operand K> void add_a(Instr i);
    template <Operand K> void addc_a(Instr i);
    template <Operand K> void subb_a(Instr i);
    template <Operand K> void inc(Instr i);
    template <Operand K> void dec(Instr i);
    void inc_dptr(Instr i);
    void mul_ab(Instr i);
    void div_ab(Instr i);
    void da_a(Instr i);
    // logic
    template <class F, Operand D, Operand S> void logic(Instr i);
    void clr_a(Instr i);
    void cpl_a(Instr i);
    void rl_a(Instr i);
    void rlc_a(Instr i);
    void rr_a(Instr i);
    void rrc_a(Instr i);
    void swap_a(Instr i);
    // moves
    template <Operand D, Operand S> void mov(Instr i);
    void mov_dptr(Instr i);
    void movc_pc(Instr i);
    void movc_dptr(Instr i);
    template <bool Dptr> void movx_load(Instr i);
    template <bool Dptr> void movx_store(Instr i);
    void push_direct(Instr i);
    void pop_direct(Instr i);
    template <Operand K> void xch(Instr i);
    void xchd(Instr i);
    // jumps
    void nop(Instr i);
    void ajmp(Instr i);
    void acall(Instr i);
    void ljmp(Instr i);
    void lcall(Instr i);
    void ret(Instr i);
    void reti(Instr i);
    void sjmp(Instr i);
    void jmp_a_dptr(Instr i);
    void jc(Instr i);
    void jnc(Instr i);
    void jz(Instr i);
    void jnz(Instr i);
    template <Operand L, Operand R> void cjne(Instr i);
    template <Operand K> void djnz(Instr i);
    // bit operations
    template <bool When> void jump_bit(Instr i);  // JB/JNB
    void jbc(Instr i);
    template <bool Invert> void orl_c(Instr i);
    template <bool Invert> void anl_c(Instr i);
    void mov_c_bit(Instr i);
    void mov_bit_c(Instr i);
    template <bool V> void set_bit(Instr i);  // SETB/CLR bit
    void cpl_bit(Instr i);
    template <bool V> void set_c(Instr i);  // SETB/CLR C
    void cpl_c(Instr i);

    // The timers count lazily: up to the present when one of their registers is
    // read, and at the end of the instruction in which the next overflow falls.
    void update_timer_state();
    void sync_timers();
    void plan_timers();
    void catch_up_timers() const;
    void advance_timers(uint64_t from, uint64_t to) const;
    void tick_timer01(unsigned timer, uint64_t ticks) const;
    void tick_timer2(uint64_t ticks) const;

    // Serial port 0, mode 0; times in CLK24 periods from reset.
    void serial_scon_written(uint8_t old_scon);
    void serial_sbuf_written(uint8_t value);
    void serial_advance(uint64_t clk);
    void serial_event(SerialMachine &m, bool is_tx);
    void serial_start(SerialMachine &m, bool is_tx, uint8_t data);
    void serial_abort(SerialMachine &m);
    void serial_pins();
    bool serial_busy() const { return tx_.active || rx_.active; }

    CpuBus &bus_;
    const uint8_t *code_;
    CoreSettings settings_;
    std::array<uint8_t, 256> iram_{};
    mutable std::array<uint8_t, 128> sfr_{};  // SFRs without a member of their own (timers count in reads)
    uint16_t pc_ = 0;
    uint64_t cycles_ = 0;
    uint64_t instr_end_ = 0;           // machine cycle at which the running instruction ends
    bool self_jump_ = false;

    uint8_t acc_ = 0, b_ = 0, psw_ = 0, sp_ = 7, dps_ = 0;
    unsigned rbase_ = 0;
    std::array<uint16_t, 2> dptr_{};

    bool avec_on_ = false;
    uint8_t avec_ = 0;

    // Interrupts: irq_check_ is set whenever a request, an enable or the level in
    // service may have changed; irq_block_ lets one more instruction run first.
    mutable bool irq_check_ = false;
    bool irq_block_ = false;
    uint8_t in_service_ = 0;           // bit 0: low level, bit 1: high level
    bool idle_ = false;
    bool int2_ = false, int3_ = false, int4_ = false, int5_ = true, int6_ = false;
    bool int0_ = true, int1_ = true;

    bool timers_on_ = false;
    mutable uint64_t timer_time_ = 0;  // the timers have counted up to this cycle
    uint64_t timer_deadline_ = UINT64_MAX;  // the cycle of the next overflow that sets a flag
    uint64_t bus_clock_ = 0;

    SerialMachine tx_, rx_;
    uint8_t sbuf0_rx_ = 0;
    bool txd0_pin_ = true, rxd0out_pin_ = true;
};

} // namespace bench::ezusb
