// Emulated 8051 speed: machine cycles per second of wall time for a loop of
// everyday instructions (MOVX, ALU, indirect, bit and branch), with and
// without timer 0 and the serial port running. Usage: core_speed [MCYCLES]
#include "cpu8051.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

class RamBus : public bench::ezusb::CpuBus {
public:
    std::vector<uint8_t> mem = std::vector<uint8_t>(0x10000, 0);
    uint8_t xread(uint16_t a) override { return mem[a]; }
    void xwrite(uint16_t a, uint8_t v) override { mem[a] = v; }
    void serial_out(bool, bool) override {}
    bool serial_in() override { return true; }
};

double measure(const std::vector<uint8_t> &setup, uint64_t cycles) {
    RamBus bus;
    const std::vector<uint8_t> loop = {
        0x90, 0x10, 0x00,  // 0x40: MOV DPTR,#0x1000
        0x78, 0x00,        //       MOV R0,#0
        0xE0,              // 0x45: MOVX A,@DPTR
        0x24, 0x03,        //       ADD A,#3
        0xF0,              //       MOVX @DPTR,A
        0xA3,              //       INC DPTR
        0x33,              //       RLC A
        0xF6,              //       MOV @R0,A
        0x08,              //       INC R0
        0x54, 0x0F,        //       ANL A,#0x0F
        0x60, 0x02,        //       JZ +2
        0xC2, 0x00,        //       CLR 0x00
        0xD8, 0xF0,        //       DJNZ R0,0x45
        0x80, 0xE9,        //       SJMP 0x40
    };
    std::copy(setup.begin(), setup.end(), bus.mem.begin());
    bus.mem[setup.size()] = 0x02;  // LJMP 0x0040
    bus.mem[setup.size() + 1] = 0x00;
    bus.mem[setup.size() + 2] = 0x40;
    std::copy(loop.begin(), loop.end(), bus.mem.begin() + 0x40);
    bench::ezusb::Cpu8051 cpu(bus, bus.mem.data());
    auto t0 = std::chrono::steady_clock::now();
    cpu.run_until(cycles);
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return cpu.cycles() / s;
}

} // namespace

int main(int argc, char **argv) {
    const uint64_t cycles = (argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200) * 1000000ull;
    const std::vector<uint8_t> plain = {0x75, 0x8E, 0x00};  // CKCON: no MOVX stretch
    // Timer 0 in mode 2 at CLK/4, counting all along.
    const std::vector<uint8_t> busy = {0x75, 0x8E, 0x08, 0x75, 0x89, 0x02, 0x75, 0x88, 0x10};
    std::printf("plain loop:        %.1f million machine cycles per second\n", measure(plain, cycles) / 1e6);
    std::printf("with timer 0 on:   %.1f million machine cycles per second\n", measure(busy, cycles) / 1e6);
    return 0;
}
