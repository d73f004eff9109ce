// The general-purpose firmware image on the emulated AN2131: start-up state,
// every command, the port writes of a TCK cycle, block shifts and
// the paired EP2 buffers. Port-C writes are traced instruction by instruction.
#include <gtest/gtest.h>

#include <vector>

#include "an2131.h"
#include "fw_bin_image.h"

namespace {

using namespace bench::ezusb;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t TCK = 0x20;
constexpr uint64_t CYCLES_PER_MS = 6000;

// Port C inputs as the board gives them: PC0 TDO, PC2 target power.
struct InputPins : BoardWiring {
    uint8_t port_c = 0x04;
    void pins_changed(const PortPins &) override {}
    uint8_t pins_in(int port) override { return port == 2 ? port_c : 0xFF; }
    void fwr_strobe(uint8_t) override {}
    uint8_t frd_strobe() override { return 0xFF; }
};

struct PortWrite {
    uint64_t cycle;
    uint8_t value;
};

class Firmware : public ::testing::Test {
protected:
    An2131 chip;
    InputPins pins;
    std::vector<PortWrite> writes; // every write of OUTC, while tracing

    void SetUp() override {
        chip.attach_wiring(&pins);
        chip.load(0, std::span<const uint8_t>(fw_bin, sizeof fw_bin));
        chip.set_reset(false);
        // Start-up and renumeration (a 500 ms detach), then the host's bus reset.
        chip.run_cycles(700 * CYCLES_PER_MS);
        ASSERT_EQ(chip.usbcs() & (USBCS_DISCOE | USBCS_DISCON), USBCS_DISCOE) << "back on the bus";
        chip.bus_reset();
        run(1000);
    }

    // Runs the 8051 for about n machine cycles, one instruction at a time, noting
    // the port-C writes.
    void run(uint64_t n) {
        Cpu8051 &cpu = chip.cpu();
        uint64_t end = cpu.cycles() + n;
        while (cpu.cycles() < end) {
            uint16_t pc = cpu.pc();
            uint8_t op = chip.peek(pc);
            uint16_t addr = 0;
            if (op == 0xF0) {
                addr = cpu.dptr(cpu.sfr(0x86) & 1);
            } else if (op == 0xF2 || op == 0xF3) {
                uint8_t bank = cpu.sfr(0xD0) & 0x18;
                addr = uint16_t(cpu.sfr(0x92) << 8 | cpu.iram()[bank + (op & 1)]);
            }
            uint8_t a = cpu.sfr(0xE0);
            uint64_t at = cpu.cycles();
            cpu.step();
            // The instruction ran (an interrupt entry leaves the PC elsewhere).
            if ((addr == reg::OUTC || addr == reg::OUTC - 0x6000) && cpu.pc() == pc + 1)
                writes.push_back({at, a});
        }
    }

    // Hands a packet to an OUT endpoint, running the firmware until it is taken.
    void send(int ep, const Bytes &packet) {
        for (int tries = 0; tries < 2000; ++tries) {
            if (chip.bulk_out(ep, packet.data(), int(packet.size())) >= 0) return;
            run(200);
        }
        FAIL() << "EP" << ep << " OUT never took the packet";
    }
    // Commands, then time for them to run.
    void command(const Bytes &packet) {
        send(1, packet);
        run(3000);
    }
    std::vector<Bytes> replies() {
        std::vector<Bytes> out;
        uint8_t buf[64];
        for (int n; (n = chip.bulk_in(2, buf)) >= 0;) out.emplace_back(buf, buf + n);
        return out;
    }
    Bytes values() const {
        Bytes v;
        for (const auto &w : writes) v.push_back(w.value);
        return v;
    }
    // The eight writes of one TCK cycle with port value v.
    static Bytes cycle_of(uint8_t v) {
        uint8_t hi = uint8_t(v | TCK), lo = uint8_t(v & ~TCK);
        return {hi, hi, lo, lo, lo, lo, hi, hi};
    }
    static Bytes cycles_of(const Bytes &bytes) {
        Bytes out;
        for (uint8_t b : bytes) {
            Bytes c = cycle_of(b);
            out.insert(out.end(), c.begin(), c.end());
        }
        return out;
    }
    uint8_t reg(uint16_t addr) const { return chip.peek(addr); }
};

TEST_F(Firmware, StartUpState) {
    const std::pair<uint16_t, uint8_t> registers[] = {
        {reg::USBPAIR, 0x09}, {reg::PORTACFG, 0x30}, {reg::PORTBCFG, 0x00}, {reg::PORTCCFG, 0x00},
        {reg::OEB, 0x00},     {reg::OEC, 0x00},      {reg::FASTXFR, 0x40},  {reg::USBBAV, 0x00},
    };
    for (auto [addr, value] : registers) EXPECT_EQ(reg(addr), value) << std::hex << addr;
    EXPECT_EQ(reg(reg::CPUCS) & 0x03, CPUCS_CLK24OE) << "24 MHz output on, running";
    EXPECT_EQ(reg(reg::IN07VAL) & 0xFE, 0xF6);
    EXPECT_EQ(reg(reg::OUT07VAL) & 0xFE, 0xF6);
    EXPECT_EQ(chip.cpu().sfr(0x8E), 0x00) << "CKCON";
    EXPECT_TRUE(chip.usbcs() & USBCS_RENUM);
}

TEST_F(Firmware, EveryCommandActsOnPortC) {
    struct Case {
        const char *label;
        Bytes packet;
        uint8_t outc, oec;
        std::vector<Bytes> replies;
    };
    // Each case starts from OUTC 0x55, OEC 0x3A, OEB 0xFF; TDO high, power on. The
    // pins read back the outputs PC1, PC3, PC4, PC5 and the inputs PC0, PC2.
    const Case cases[] = {
        {"0x80 sets up the port", {0x80, 0x3A}, 0x20, 0x3A, {}},
        {"0x90 forces TCK high", {0x90, 0x12}, 0x32, 0x3A, {}},
        {"0x0n output enables", {0x0F}, 0x55, 0x0F, {}},
        {"0x1n output register", {0x1A}, 0x0A, 0x3A, {}},
        {"0x3n skips its byte", {0x35, 0x99}, 0x05, 0x3A, {}},
        {"0x4n replies 0", {0x46}, 0x06, 0x3A, {{0x00}}},
        {"0x2n and 0xA0 read the pins", {0x27, 0xA0}, 0x55, 0x3A, {{0x15, 0x15}}},
        {"0x70, 0xD0, 0xE0 are ignored", {0x70, 0xD5, 0xE0}, 0x55, 0x3A, {}},
        {"a cut-off command is dropped", {0xA0, 0x90}, 0x55, 0x3A, {{0x15}}},
        {"reads of one packet make one reply", {0xA0, 0x1B, 0xA0, 0x10, 0xA0}, 0x00, 0x3A, {{0x15, 0x0F, 0x05}}},
    };
    pins.port_c = 0x05;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        command({0x80, 0x3A, 0x15});
        chip.xwrite(reg::OEB, 0xFF);
        ASSERT_EQ(reg(reg::OUTC), 0x05);
        chip.xwrite(reg::OUTC, 0x55);
        command(c.packet);
        EXPECT_EQ(reg(reg::OUTC), c.outc);
        EXPECT_EQ(reg(reg::OEC), c.oec);
        EXPECT_EQ(replies(), c.replies);
    }
    command({0x80, 0x3A});
    EXPECT_EQ(reg(reg::OEB), 0x00) << "0x80 makes port B inputs";
}

TEST_F(Firmware, TimingCommandSetsStretchAndFastTransfer) {
    command({0xF1, 0x12});
    EXPECT_EQ(chip.cpu().sfr(0x8E), 1);
    EXPECT_EQ(reg(reg::FASTXFR), 0x52);
    command({0xF0, 0x01});
    EXPECT_EQ(chip.cpu().sfr(0x8E), 0);
    EXPECT_EQ(reg(reg::FASTXFR), 0x41);
}

TEST_F(Firmware, CountedDataGoesOutOnEp2In) {
    command({0x63, 0x05, 0x02, 0x00});
    EXPECT_EQ(reg(reg::OUTC), 0x03);
    // Two packets fit the paired buffers; the host takes them as they come.
    std::vector<size_t> sizes;
    uint8_t buf[64];
    for (int i = 0; i < 20 && sizes.size() < 3; ++i) {
        run(500);
        for (int n; (n = chip.bulk_in(2, buf)) >= 0;) sizes.push_back(size_t(n));
    }
    EXPECT_EQ(sizes, (std::vector<size_t>{64, 64, 5}));
}

TEST_F(Firmware, ClockCommandWritesTheCycleInOrder) {
    command({0x80, 0x3A});
    writes.clear();
    command({0xB0, 0x12, 0xB0, 0xFF, 0x90, 0x00});
    Bytes want = cycles_of({0x12, 0xFF});
    want.push_back(0x20);
    EXPECT_EQ(values(), want);
}

TEST_F(Firmware, BlockShiftClocksAnnouncedPacketsThenDiscards) {
    struct Case {
        const char *label;
        Bytes start;
        std::vector<size_t> packets;
        size_t clocked;
    };
    const Case cases[] = {
        {"two full and a short one", {0xC0, 0x05, 0x02, 0x00}, {64, 64, 5, 64}, 133},
        {"full packets only", {0xC0, 0x00, 0x02, 0x00}, {64, 64, 64}, 128},
        {"short packet only", {0xC0, 0x24, 0x00, 0x00}, {36, 36}, 36},
        {"an early short packet ends the block", {0xC0, 0x05, 0x03, 0x00}, {64, 10, 64}, 74},
        {"0x5n sets the port first", {0x5A, 0x01, 0x00, 0x00}, {1, 1}, 1},
        {"no block: discarded", {0xA0}, {64}, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        command({0x80, 0x3A});
        replies();
        command(c.start);
        writes.clear();
        Bytes sent;
        for (size_t n : c.packets) {
            Bytes p(n);
            for (size_t i = 0; i < n; ++i) p[i] = uint8_t((sent.size() + i) * 37);
            send(2, p);
            sent.insert(sent.end(), p.begin(), p.end());
            run(2000);
        }
        run(5000);
        EXPECT_EQ(values(), cycles_of(Bytes(sent.begin(), sent.begin() + long(c.clocked))));
    }
}

TEST_F(Firmware, PairedBuffersHoldTwoPacketsEachWay) {
    // Two reply packets wait for the host; the third waits in the firmware until
    // the host has taken one.
    command({0xA0});
    command({0x4F});
    send(1, {0xA0, 0xA0});
    run(3000);
    EXPECT_EQ(replies(), (std::vector<Bytes>{{0x04}, {0x00}}));
    run(3000);
    EXPECT_EQ(replies(), (std::vector<Bytes>{{0x04, 0x04}}));
    // With the 8051 held, EP2 OUT takes two packets and refuses the third.
    chip.set_reset(true);
    Bytes p(64, 0);
    int accepted = 0;
    for (int i = 0; i < 3; ++i) accepted += chip.bulk_out(2, p.data(), 64) >= 0;
    EXPECT_EQ(accepted, 2);
}

TEST_F(Firmware, BlockShiftCostsAtMost22CyclesPerBit) {
    constexpr int PACKETS = 24;
    command({0x80, 0x3A});
    command({0xC0, 0x00, PACKETS, 0x00});
    writes.clear();
    Bytes p(64);
    for (size_t i = 0; i < 64; ++i) p[i] = uint8_t(i * 5);
    // Keep both buffers full so that the firmware never waits for the bus.
    for (int sent = 0; sent < PACKETS;) {
        while (sent < PACKETS && chip.bulk_out(2, p.data(), 64) >= 0) ++sent;
        run(300);
    }
    run(3000);
    ASSERT_EQ(writes.size(), size_t(PACKETS * 64 * 8));
    const size_t bits = PACKETS * 64;
    double per_bit = double(writes[(bits - 1) * 8].cycle - writes[0].cycle) / double(bits - 1);
    std::printf("block shift: %.2f machine cycles per bit\n", per_bit);
    EXPECT_LE(per_bit, 22.0);
    EXPECT_GE(per_bit, 16.0);
}

} // namespace
