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

class Cpu8051 {
public:
    // code points at the 64 KiB code space (on the AN2131 the same RAM as xdata
    // below 0x1B40); instructions are fetched from it directly.
    Cpu8051(CpuBus &bus, const uint8_t *code);

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

private:
    // Implementation details are the core's own; the members below are the state
    // that the accessors above expose.
    CpuBus &bus_;
    const uint8_t *code_;
    std::array<uint8_t, 256> iram_{};
    uint16_t pc_ = 0;
    uint64_t cycles_ = 0;
    bool self_jump_ = false;
};

} // namespace bench::ezusb
