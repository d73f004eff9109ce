// Emulated 8051 speed: machine cycles per second of wall time for a loop of
// everyday instructions (MOVX, ALU, indirect, bit and branch), with and
// without timer 0 and the serial port running. Usage: core_speed [MCYCLES]
#include "an2131.h"
#include "cpu8051.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
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

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double measure(const std::vector<uint8_t> &setup, uint64_t cycles) {
    RamBus bus;
    std::copy(setup.begin(), setup.end(), bus.mem.begin());
    bus.mem[setup.size()] = 0x02;  // LJMP 0x0040
    bus.mem[setup.size() + 1] = 0x00;
    bus.mem[setup.size() + 2] = 0x40;
    std::copy(loop.begin(), loop.end(), bus.mem.begin() + 0x40);
    bench::ezusb::Cpu8051 cpu(bus, bus.mem.data());
    auto t0 = std::chrono::steady_clock::now();
    cpu.run_until(cycles);
    return cpu.cycles() / seconds_since(t0);
}

// The same loop on the AN2131 chip, its MOVX going through the chip's registers.
double measure_on_chip(const std::vector<uint8_t> &setup, uint64_t cycles) {
    auto chip = std::make_unique<bench::ezusb::An2131>();
    std::vector<uint8_t> image(0x40 + loop.size(), 0);
    std::copy(setup.begin(), setup.end(), image.begin());
    const uint8_t ljmp[] = {0x02, 0x00, 0x40};
    std::copy(ljmp, ljmp + 3, image.begin() + setup.size());
    std::copy(loop.begin(), loop.end(), image.begin() + 0x40);
    chip->load(0, image);
    chip->set_reset(false);
    auto t0 = std::chrono::steady_clock::now();
    chip->run_cycles(cycles);
    return chip->cycles() / seconds_since(t0);
}

} // namespace

int main(int argc, char **argv) {
    const uint64_t cycles = (argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200) * 1000000ull;
    const std::vector<uint8_t> plain = {0x75, 0x8E, 0x00};  // CKCON: no MOVX stretch
    // Timer 0 in mode 2 at CLK/4, counting all along.
    const std::vector<uint8_t> busy = {0x75, 0x8E, 0x08, 0x75, 0x89, 0x02, 0x75, 0x88, 0x10};
    std::printf("plain loop:        %.1f million machine cycles per second\n", measure(plain, cycles) / 1e6);
    std::printf("with timer 0 on:   %.1f million machine cycles per second\n", measure(busy, cycles) / 1e6);
    std::printf("on the AN2131:     %.1f million machine cycles per second\n", measure_on_chip(plain, cycles) / 1e6);
    return 0;
}
