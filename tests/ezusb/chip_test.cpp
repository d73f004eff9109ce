// The AN2131's registers as the firmware sees them (MOVX from the test, playing
// the firmware's part) and as the USB core uses them, and a small SDCC program
// streaming bytes out with fast-transfer strobes.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "an2131.h"
#include "fw_image.h"

using namespace bench::ezusb;

namespace {

class RecordingWiring : public BoardWiring {
public:
    std::vector<uint8_t> fwr;
    int frd = 0;
    uint8_t pc_in = 0xFF;
    PortPins pins;
    void pins_changed(const PortPins &p) override { pins = p; }
    uint8_t pins_in(int port) override { return port == 2 ? pc_in : 0xFF; }
    void fwr_strobe(uint8_t b) override { fwr.push_back(b); }
    uint8_t frd_strobe() override { return uint8_t(0xC0 + frd++); }
};

std::vector<uint8_t> packet(int n) {
    std::vector<uint8_t> p(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) p[size_t(i)] = uint8_t(i + 1);
    return p;
}

TEST(Chip, BulkEndpointsMovePacketsOnlyWhenArmed) {
    An2131 chip;
    uint8_t buf[64];
    auto p = packet(10);
    // OUT: unarmed after reset, armed by any write of OUTnBC, unarmed by a packet.
    EXPECT_EQ(chip.bulk_out(2, p.data(), 10), -1);
    chip.xwrite(reg::outbc(2), 0);
    EXPECT_EQ(chip.xread(reg::outcs(2)) & EPCS_BUSY, EPCS_BUSY);
    EXPECT_EQ(chip.bulk_out(2, p.data(), 10), 10);
    EXPECT_EQ(chip.xread(reg::outbc(2)), 10);
    EXPECT_EQ(chip.xread(reg::outbuf(2) + 9), 10);
    EXPECT_EQ(chip.xread(reg::OUT07IRQ), 0x04);
    EXPECT_EQ(chip.bulk_out(2, p.data(), 10), -1);
    // IN: a write of INnBC arms it with that count; the host's read disarms it.
    EXPECT_EQ(chip.bulk_in(2, buf), -1);
    chip.xwrite(reg::inbuf(2), 0x5A);
    chip.xwrite(reg::inbc(2), 1);
    EXPECT_EQ(chip.xread(reg::incs(2)) & EPCS_BUSY, EPCS_BUSY);
    EXPECT_EQ(chip.bulk_in(2, buf), 1);
    EXPECT_EQ(buf[0], 0x5A);
    EXPECT_EQ(chip.xread(reg::incs(2)) & EPCS_BUSY, 0);
    EXPECT_EQ(chip.xread(reg::IN07IRQ), 0x04);
    EXPECT_EQ(chip.bulk_in(2, buf), -1);
    // A stalled endpoint, and one the firmware has not made valid.
    chip.xwrite(reg::incs(2), EPCS_STALL);
    EXPECT_EQ(chip.bulk_in(2, buf), -2);
    chip.xwrite(reg::IN07VAL, 0x01);
    EXPECT_EQ(chip.bulk_in(2, buf), -3);
}

TEST(Chip, PairedEndpointTwoTakesTwoPacketsBehindItsRegisters) {
    An2131 chip;
    chip.xwrite(reg::USBPAIR, 0x09);
    chip.xwrite(reg::outbc(2), 0);
    auto a = packet(3), b = packet(5);
    EXPECT_EQ(chip.bulk_out(2, a.data(), 3), 3);
    EXPECT_EQ(chip.bulk_out(2, b.data(), 5), 5);
    EXPECT_EQ(chip.bulk_out(2, a.data(), 3), -1); // both buffers full
    EXPECT_EQ(chip.xread(reg::outbc(2)), 3);
    chip.xwrite(reg::outbc(2), 0); // done with the first: the second shows
    EXPECT_EQ(chip.xread(reg::outbc(2)), 5);
    EXPECT_EQ(chip.bulk_out(2, a.data(), 3), 3);
    EXPECT_FALSE(chip.ep_valid(3, false)); // EP3's buffer serves EP2
}

TEST(Chip, InterruptRequestsClearOnlyWhereOnesAreWritten) {
    An2131 chip;
    chip.xwrite(reg::OUT07VAL, 0x15);
    chip.xwrite(reg::outbc(2), 0);
    chip.xwrite(reg::outbc(4), 0);
    auto p = packet(1);
    chip.bulk_out(2, p.data(), 1);
    chip.bulk_out(4, p.data(), 1);
    struct Step {
        uint16_t addr;
        uint8_t write;
        uint16_t check;
        uint8_t expect;
    } steps[] = {
        {reg::OUT07IRQ, 0x00, reg::OUT07IRQ, 0x14}, // writing 0 clears nothing
        {reg::OUT07IRQ, 0x04, reg::OUT07IRQ, 0x10},
        {reg::OUT07IEN, 0x10, reg::IVEC, 0x3C}, // EP4-OUT is the pending, enabled source
        {reg::OUT07IRQ, 0xFF, reg::OUT07IRQ, 0x00},
        {reg::IVEC, 0x55, reg::IVEC, 0x00}, // read-only
        {reg::FNADDR, 0x12, reg::FNADDR, 0x00},
        {reg::CPUCS, 0x00, reg::CPUCS, 0x41}, // the 8051 cannot release itself; CLK24OE is its to clear
    };
    for (auto &s : steps) {
        chip.xwrite(s.addr, s.write);
        EXPECT_EQ(chip.xread(s.check), s.expect) << std::hex << s.addr << " <- " << int(s.write);
    }
}

TEST(Chip, SetupDataPointerSendsTheShorterOfDescriptorAndRequest) {
    struct Case {
        uint16_t wlength;
        std::vector<int> packets;
    } cases[] = {{255, {64, 36}}, {70, {64, 6}}, {9, {9}}, {128, {64, 36}}};
    for (auto &c : cases) {
        An2131 chip;
        std::vector<uint8_t> desc(100, 0xEE);
        desc[0] = 9, desc[1] = 2, desc[2] = 100, desc[3] = 0; // a configuration of 100 bytes
        chip.load(0x0800, desc);
        chip.setup_packet({0x80, 6, 0, 2, 0, 0, uint8_t(c.wlength), uint8_t(c.wlength >> 8)});
        EXPECT_TRUE(chip.handshake_pending());
        EXPECT_EQ(chip.xread(reg::USBIRQ) & USBIRQ_SUDAV, USBIRQ_SUDAV);
        uint8_t buf[64];
        EXPECT_EQ(chip.ep0_in(buf), -1); // nothing armed yet
        chip.xwrite(reg::EP0CS, EP0CS_HSNAK);
        chip.xwrite(reg::SUDPTRH, 0x08);
        chip.xwrite(reg::SUDPTRL, 0x00);
        std::vector<int> got;
        for (int n; (n = chip.ep0_in(buf)) >= 0 && got.size() < 4;) got.push_back(n);
        EXPECT_EQ(got, c.packets) << "wLength " << c.wlength;
        EXPECT_FALSE(chip.handshake_pending());
    }
}

TEST(Chip, HostRequestReachesRamAndOnlyTheResetBitOfCpucs) {
    An2131 chip;
    std::vector<uint8_t> image{0x80, 0xFE}; // SJMP $
    // Program RAM ends at 0x1B3F; the endpoint buffers follow through their alias.
    struct {
        uint16_t addr;
        bool ok;
    } writes[] = {{0x1B3E, true}, {0x1B3F, true}, {0x1F3E, true}, {0x7B40, false},
                  {0x1F3F, false}, {0x7F3F, false}, {0x2000, false}, {0x7F92, false}};
    for (auto &w : writes) EXPECT_EQ(chip.host_write(w.addr, image), w.ok) << std::hex << w.addr;
    uint8_t back[2] = {};
    EXPECT_TRUE(chip.host_write(0x1B3F, std::vector<uint8_t>{0x12, 0x34}));
    EXPECT_EQ(chip.peek(0x7B40), 0x34);
    EXPECT_EQ(chip.xread(0x1B40), 0x34); // the firmware sees it where the download put it
    EXPECT_TRUE(chip.host_read(0x1B3F, back));
    EXPECT_EQ(back[1], 0x34);
    EXPECT_TRUE(chip.host_write(0, image));
    uint8_t release = 0x00;
    EXPECT_TRUE(chip.host_write(reg::CPUCS, {&release, 1}));
    EXPECT_FALSE(chip.in_reset());
    EXPECT_EQ(chip.peek(reg::CPUCS) & CPUCS_CLK24OE, CPUCS_CLK24OE);
    EXPECT_EQ(chip.loads(), 1);
    chip.run_cycles(100);
    EXPECT_GE(chip.cycles(), 100u);
    EXPECT_TRUE(chip.cpu().at_self_jump());
}

TEST(Chip, FastTransferLoopStrobesEachByteOut) {
    auto image = fw_image("fast");
    ASSERT_EQ(image.size(), 4096u);
    An2131 chip;
    RecordingWiring wiring;
    chip.attach_wiring(&wiring);
    chip.host_write(0, std::span<const uint8_t>(image.data(), 0x1000));
    uint8_t release = 0;
    chip.host_write(reg::CPUCS, {&release, 1});
    for (int i = 0; i < 100 && !chip.cpu().at_self_jump(); ++i) chip.run_cycles(1000);
    ASSERT_TRUE(chip.cpu().at_self_jump());
    EXPECT_EQ(wiring.fwr, (std::vector<uint8_t>{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}));
    EXPECT_EQ(wiring.pins.drive[0] & 0x10, 0x10); // PA4 is the strobe
    // A write of AUTODATA takes the bus byte with an FRD# strobe.
    chip.xwrite(reg::PORTACFG, PORTACFG_FWR | PORTACFG_FRD);
    chip.xwrite(reg::AUTOPTRH, 0x18);
    chip.xwrite(reg::AUTOPTRL, 0x00);
    chip.xwrite(reg::AUTODATA, 0x00);
    EXPECT_EQ(chip.xread(0x1800), 0xC0);
    EXPECT_EQ(chip.xread(reg::AUTOPTRL), 0x01);
}

#ifdef AN2131_INC
// The assembler's equates hold the register list as the C and C++ headers read
// it: every entry with its value, and each register's low byte as NAME_L.
TEST(Chip, AssemblerEquatesMatchTheRegisterList) {
    std::ifstream in(AN2131_INC);
    ASSERT_TRUE(in) << AN2131_INC;
    std::map<std::string, long> equates;
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string name, eq, value;
        if (words >> name >> eq >> value && eq == "=") equates[name] = std::stol(value, nullptr, 0);
    }
    struct Entry {
        const char *name;
        long value;
        bool xreg;
    };
    const Entry entries[] = {
#define AN2131_SFR(name, addr) {#name, addr, false},
#define AN2131_SBIT(name, addr) {#name, addr, false},
#define AN2131_XREG(name, addr) {#name, addr, true},
#define AN2131_XBUF(name, addr, size) {#name, addr, false},
#define AN2131_BIT(name, mask) {#name, mask, false},
#define AN2131_CONST(name, value) {#name, value, false},
#include "an2131_registers.def"
    };
    for (const Entry &e : entries) {
        SCOPED_TRACE(e.name);
        ASSERT_EQ(equates.count(e.name), 1u);
        EXPECT_EQ(equates[e.name], e.value);
        if (e.xreg) {
            EXPECT_EQ(equates[std::string(e.name) + "_L"], e.value & 0xFF);
        }
    }
}
#endif

} // namespace
