// The AN2131 around its 8051: the shared code/xdata RAM, the endpoint buffers and
// USB registers with their arming and interrupt rules, CPUCS, ports A to C, the
// autopointer and fast transfers. The host side (the USB core in usbcore.h) moves
// packets through the endpoint operations below; the board wiring sees the pins.
//
// A bare chip has nothing attached and its 8051 held in reset:
//     An2131 chip;  chip.load(0, image);  chip.set_reset(false);  chip.run_cycles(n);
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "cpu8051.h"

namespace bench::ezusb {

// Register addresses (external data space), from the chip's register list.
namespace reg {
#define AN2131_XREG(name, addr) constexpr uint16_t name = addr;
#define AN2131_XBUF(name, addr, size) constexpr uint16_t name = addr;
#define AN2131_CONST(name, value) constexpr uint16_t name = value;
#include "an2131_registers.def"
constexpr uint16_t inbuf(int n) { return uint16_t(IN0BUF - 0x80 * n); }
constexpr uint16_t outbuf(int n) { return uint16_t(OUT0BUF - 0x80 * n); }
constexpr uint16_t incs(int n) { return uint16_t(EP_IN_CS_BASE + 2 * n); }
constexpr uint16_t inbc(int n) { return uint16_t(incs(n) + 1); }
constexpr uint16_t outcs(int n) { return uint16_t(EP_OUT_CS_BASE + 2 * n); }
constexpr uint16_t outbc(int n) { return uint16_t(outcs(n) + 1); }
} // namespace reg

// Bits of the registers.
#define AN2131_BIT(name, mask) constexpr uint8_t name = mask;
#include "an2131_registers.def"

// Points where the reference leaves the chip's behaviour open; each default is the
// documented-most-likely choice.
struct ChipSettings {
    // 0x1B40-0x1FFF reads and writes the buffers and registers at 0x7B40-0x7FFF.
    bool alias_1b40 = true;
    // Bulk OUT endpoints start unarmed after power-on and bus reset: the firmware
    // arms them by writing OUTnBC.
    bool out_armed_at_reset = false;
    // Clearing one IRQ bit while others stay enabled and pending gives INT2 a new
    // edge, so EXIF.4 comes back for them.
    bool int2_repulse = true;
    // An 0xA0 write to CPUCS changes only 8051RES.
    bool a0_cpucs_only_reset_bit = true;
    // IN07VAL and OUT07VAL after reset: endpoints 0 to 2 valid. Firmware writes
    // both anyway.
    uint8_t valid_at_reset = 0x07;
    // USBCS after power-on: DISCOE set and DISCON clear, so a bare chip is on the bus.
    uint8_t usbcs_at_reset = 0x04;
    // Chip revision in CPUCS bits 7..4.
    uint8_t revision = 4;
};

// What the chip shows of its pins to the board. Port n: 0 = A, 1 = B, 2 = C.
struct PortPins {
    std::array<uint8_t, 3> level{}; // what the chip drives (valid where drive is 1)
    std::array<uint8_t, 3> drive{}; // 1 = the chip drives the pin
};

// What an EEPROM whose first byte is 0xB0 gives the Default USB Device.
struct EepromIds {
    uint16_t vid, pid, did;
};

// The board around the chip: sees the pins and the fast-transfer strobes, and
// gives the levels of the pins that the chip does not drive.
class BoardWiring {
public:
    virtual ~BoardWiring() = default;
    // The IDs of the board's EEPROM, read by the core at power-on; none when the
    // board has no EEPROM and the chip is 0547:2131.
    virtual std::optional<EepromIds> eeprom_ids() const { return std::nullopt; }
    virtual void pins_changed(const PortPins &pins) = 0;
    // Level of every pin of port n as the outside sees it (the chip's driven pins
    // are overlaid by the chip).
    virtual uint8_t pins_in(int port) = 0;
    // Fast transfer out: the byte on D7..D0 with an FWR# pulse.
    virtual void fwr_strobe(uint8_t byte) = 0;
    // Fast transfer in: an FRD# pulse; the byte on D7..D0.
    virtual uint8_t frd_strobe() = 0;
};

class An2131 final : public CpuBus {
public:
    static constexpr uint16_t RAM_END = 0x1B40; // internal RAM 0x0000-0x1B3F
    static constexpr uint16_t REG_BASE = reg::OUT7BUF; // the lowest endpoint buffer
    static constexpr int EP_SIZE = reg::EP_BUF_SIZE;

    explicit An2131(ChipSettings settings = {});
    An2131(const An2131 &) = delete;
    An2131 &operator=(const An2131 &) = delete;

    void attach_wiring(BoardWiring *wiring);
    // The IDs the Default USB Device gives: the board's EEPROM, if any.
    const std::optional<EepromIds> &eeprom_ids() const { return eeprom_; }
    const ChipSettings &settings() const { return settings_; }

    Cpu8051 &cpu() { return cpu_; }
    const Cpu8051 &cpu() const { return cpu_; }

    // Power-on: registers to their reset values, the 8051 held in reset.
    void power_on();
    // CPUCS.8051RES: holding resets the 8051; a release starts it at 0.
    void set_reset(bool hold);
    bool in_reset() const { return (mem_[reg::CPUCS] & CPUCS_8051RES) != 0; }
    // Machine cycles the 8051 has run since power-on (none while in reset).
    uint64_t cycles() const { return cycles_; }
    // Runs the 8051 (when it is not in reset) for n machine cycles.
    void run_cycles(uint64_t n);

    // Internal RAM, as the host's 0xA0 request and the firmware see it; bytes
    // for the endpoint buffers' alias at 0x1B40 land in the buffers, bytes that
    // no download reaches are dropped.
    void load(uint16_t addr, std::span<const uint8_t> bytes);
    // Where a byte of an 0xA0 download lands: the internal RAM, or an endpoint
    // buffer through its alias at 0x1B40; -1 where a download cannot reach.
    static int32_t download_address(uint32_t addr);
    std::span<const uint8_t> ram() const { return {mem_.data(), RAM_END}; }
    uint8_t peek(uint16_t addr) const { return mem_[addr]; }

    // CpuBus: the 8051's MOVX accesses and its serial port 0 pins.
    uint8_t xread(uint16_t addr) override;
    void xwrite(uint16_t addr, uint8_t value) override;
    void serial_out(bool txd0, bool rxd0out) override;
    bool serial_in() override;

    // ---- the USB side, used by the USB core ----
    // Bus reset: endpoint state and interrupt requests as after a USB reset, URES
    // requested, FNADDR 0.
    void bus_reset();
    // A SETUP packet: SETUPDAT, HSNAK set, stall cleared, SUTOK and SUDAV requested.
    void setup_packet(const std::array<uint8_t, 8> &setup);
    // Endpoint 0 data stages. IN: the packet that the firmware (or the automatic
    // descriptor send) has armed; -1 while none is (NAK). OUT: false while OUT0BC
    // is not armed (NAK).
    int ep0_in(uint8_t *buf);
    bool ep0_out(const uint8_t *data, int len);
    bool ep0_stalled() const { return (mem_[reg::EP0CS] & EP0CS_STALL) != 0; }
    bool handshake_pending() const { return (mem_[reg::EP0CS] & EP0CS_HSNAK) != 0; }
    // Bulk endpoints 1..7. OUT: stores the packet when the endpoint is armed, else
    // false (NAK). IN: the armed packet's length (data into buf), or -1 (NAK).
    // A stalled endpoint: -2.
    int bulk_out(int ep, const uint8_t *data, int len);
    int bulk_in(int ep, uint8_t *buf);
    bool ep_valid(int ep, bool in) const;
    void clear_stall(int ep, bool in);
    void set_address(uint8_t address) { mem_[reg::FNADDR] = address; }

    uint8_t usbcs() const { return mem_[reg::USBCS]; }
    // Called by the chip when USBCS changes, so that the bus sees a detach/attach.
    void on_usbcs(std::function<void(uint8_t)> f);
    // The host's 0xA0 request: internal RAM, and CPUCS as the only register (a write
    // there moves 8051RES). False for any other address.
    bool host_write(uint16_t addr, std::span<const uint8_t> bytes);
    bool host_read(uint16_t addr, std::span<uint8_t> bytes);
    // Firmware downloads: releases of reset by the host after 0xA0 writes to RAM.
    int loads() const { return loads_; }
    void reset_loads() { loads_ = 0; }

private:
    struct OutSlot {
        std::array<uint8_t, EP_SIZE> data{};
        int len = 0;
    };

    uint16_t map(uint16_t addr) const;
    void write_register(uint16_t addr, uint8_t value);
    uint8_t read_register(uint16_t addr);
    void request(uint16_t irq_reg, uint8_t bit);
    void update_int2(bool repulse);
    void update_ivec();
    void update_pins();
    bool paired(int ep, bool in) const;
    void arm_out(int ep);
    void arm_in(int ep, uint8_t count);
    int sudptr_packet(uint8_t *buf);

    ChipSettings settings_;
    std::vector<uint8_t> mem_; // 64 KiB: RAM below 0x1B40, registers from 0x7B40
    Cpu8051 cpu_;
    BoardWiring *wiring_ = nullptr;
    std::optional<EepromIds> eeprom_;
    uint64_t cycles_ = 0;
    uint64_t cpu_base_ = 0; // the core's cycle count at the last release
    bool int2_ = false;
    bool txd0_ = true, rxd0out_ = true;
    PortPins pins_{};

    // Paired EP2 (with EP3): a second slot behind the EP2 registers in each direction.
    std::array<OutSlot, 2> pair_out_{};
    int pair_out_count_ = 0;          // packets waiting for the firmware
    bool pair_out_armed2_ = false;    // room for a second packet
    std::array<OutSlot, 2> pair_in_{};
    int pair_in_count_ = 0;           // packets armed for the host

    // Automatic descriptor send through SUDPTR.
    bool sud_active_ = false;
    uint16_t sud_addr_ = 0;
    int sud_left_ = 0;

    std::array<bool, 8> toggle_in_{}, toggle_out_{};
    std::function<void(uint8_t)> usbcs_changed_;
    bool host_wrote_ram_ = false;
    int64_t owed_ = 0; // cycles asked for but not yet run (negative: run ahead)
    bool sud_zlp_ = false;
    int loads_ = 0;
};

} // namespace bench::ezusb
