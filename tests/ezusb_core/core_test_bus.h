// A plain 64 KiB bus for the core's tests: code and xdata arrays, and a log of
// every bus access and serial pin event with its CLK24 time.
#pragma once

#include "cpu8051.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <vector>

namespace bench::ezusb::test {

struct BusEvent {
    enum Kind { Read, Write, Pins, Sample } kind;
    uint64_t clk;
    uint16_t addr;
    uint8_t value;  // Pins: bit 1 TxD0, bit 0 RxD0OUT; Sample: the level read
};

class TestBus : public CpuBus {
public:
    std::vector<uint8_t> code = std::vector<uint8_t>(0x10000, 0);
    std::vector<uint8_t> xram = std::vector<uint8_t>(0x10000, 0);
    std::vector<BusEvent> log;
    std::function<bool()> rxd0 = [] { return true; };
    const Cpu8051 *cpu = nullptr;

    uint8_t xread(uint16_t addr) override;
    void xwrite(uint16_t addr, uint8_t value) override;
    void serial_out(bool txd0, bool rxd0out) override;
    bool serial_in() override;

    void load(std::initializer_list<uint8_t> bytes, uint16_t at = 0);
};

// A core on a TestBus.
struct Rig {
    TestBus bus;
    Cpu8051 cpu;
    explicit Rig(const CoreSettings &s = {}) : cpu(bus, bus.code.data(), s) { bus.cpu = &cpu; }
    // Runs until an instruction jumped to itself, or `limit` cycles.
    uint64_t run(uint64_t limit = 100000);
    uint8_t a() const { return cpu.sfr(0xE0); }
    uint8_t psw() const { return cpu.sfr(0xD0); }
};

} // namespace bench::ezusb::test
