#include "core_test_bus.h"

namespace bench::ezusb::test {

uint8_t TestBus::xread(uint16_t addr) {
    log.push_back({BusEvent::Read, cpu->bus_clock(), addr, xram[addr]});
    return xram[addr];
}

void TestBus::xwrite(uint16_t addr, uint8_t value) {
    log.push_back({BusEvent::Write, cpu->bus_clock(), addr, value});
    xram[addr] = value;
}

void TestBus::serial_out(bool txd0, bool rxd0out) {
    log.push_back({BusEvent::Pins, cpu->bus_clock(), 0, static_cast<uint8_t>(txd0 << 1 | rxd0out)});
}

bool TestBus::serial_in() {
    bool v = rxd0();
    log.push_back({BusEvent::Sample, cpu->bus_clock(), 0, v});
    return v;
}

void TestBus::load(std::initializer_list<uint8_t> bytes, uint16_t at) {
    for (uint8_t b : bytes) code[at++] = b;
}

uint64_t Rig::run(uint64_t limit) {
    do cpu.step();
    while (!cpu.at_self_jump() && cpu.cycles() < limit);
    return cpu.cycles();
}

} // namespace bench::ezusb::test
