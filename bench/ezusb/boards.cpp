#include "boards.h"

#include <optional>
#include <stdexcept>

namespace bench::ezusb {

namespace {

constexpr int PORT_A = 0, PORT_B = 1, PORT_C = 2;

// A pin's level as the board sees it: what the chip drives, else pulled high.
bool pin(const PortPins &p, int port, int bit) {
    uint8_t m = uint8_t(1 << bit);
    return !(p.drive[size_t(port)] & m) || (p.level[size_t(port)] & m);
}

uint8_t with_bit(uint8_t v, int bit, bool on) { return on ? uint8_t(v | (1 << bit)) : uint8_t(v & ~(1 << bit)); }

// AN2135SC: the external data bus carries the bits, the FWR# strobe (idle high,
// pulsed low by each fast write) is the clock. JTAG wiring: D0 = TDI, D1 = TMS,
// FWR# = TCK, PC1 from TDO. Slave-serial wiring: D0 = DIN, FWR# = CCLK, PC1 from
// DONE, PC0 drives PROGRAM. PC3 senses the target supply in both.
class An2135scWiring final : public BoardWiring {
public:
    An2135scWiring(Target &t, bool slave_serial) : t_(t), ss_(slave_serial) {
        if (ss_) t_.set_serial(prog_, true, true);
        else t_.set_jtag(true, tms_, tdi_);
    }
    void pins_changed(const PortPins &p) override {
        if (!ss_) return; // in the JTAG wiring only the data bus and the strobe reach the target
        bool prog = pin(p, PORT_C, 0);
        if (prog != prog_) {
            prog_ = prog;
            t_.set_serial(prog_, true, din_);
        }
    }
    uint8_t pins_in(int port) override {
        if (port != PORT_C) return 0xFF;
        uint8_t v = 0xFF;
        v = with_bit(v, 1, ss_ ? t_.done_pin() : t_.tdo());
        v = with_bit(v, 3, t_.powered());
        return v;
    }
    void fwr_strobe(uint8_t byte) override {
        if (ss_) {
            din_ = byte & 1;
            t_.set_serial(prog_, false, din_);
            t_.set_serial(prog_, true, din_);
        } else {
            tdi_ = byte & 1;
            tms_ = (byte >> 1) & 1;
            t_.set_jtag(false, tms_, tdi_);
            t_.set_jtag(true, tms_, tdi_);
        }
    }
    uint8_t frd_strobe() override { return 0xFF; } // nothing drives the bus towards the chip

private:
    Target &t_;
    bool ss_;
    bool prog_ = true, din_ = true, tms_ = true, tdi_ = true;
};

// Boards that move JTAG through port pins: TCK, TDI and TMS are chip outputs (a
// pin the chip does not drive floats high), TDO and the supply sense are inputs.
struct PinMap {
    int tck_port, tck_bit, tdi_port, tdi_bit, tms_port, tms_bit;
    int tdo_port, tdo_bit;
    int supply_port, supply_bit; // supply_port -1: the board cannot sense the supply
};

class PinJtagWiring final : public BoardWiring {
public:
    PinJtagWiring(Target &t, PinMap m, std::optional<EepromIds> eeprom = std::nullopt)
        : t_(t), m_(m), eeprom_(eeprom) {
        t_.set_jtag(true, true, true);
    }
    void pins_changed(const PortPins &p) override {
        t_.set_jtag(pin(p, m_.tck_port, m_.tck_bit), pin(p, m_.tms_port, m_.tms_bit), pin(p, m_.tdi_port, m_.tdi_bit));
    }
    uint8_t pins_in(int port) override {
        uint8_t v = 0xFF;
        if (port == m_.tdo_port) v = with_bit(v, m_.tdo_bit, t_.tdo());
        if (port == m_.supply_port) v = with_bit(v, m_.supply_bit, t_.powered());
        return v;
    }
    void fwr_strobe(uint8_t) override {}
    uint8_t frd_strobe() override { return 0xFF; }
    std::optional<EepromIds> eeprom_ids() const override { return eeprom_; }

private:
    Target &t_;
    PinMap m_;
    std::optional<EepromIds> eeprom_;
};

} // namespace

const std::vector<std::string> &board_kinds() {
    static const std::vector<std::string> kinds{"an2135sc-jtag", "an2135sc-ss", "spi", "qrt", "ulink"};
    return kinds;
}

std::unique_ptr<BoardWiring> make_wiring(std::string_view kind, Target &target) {
    if (kind == "an2135sc-jtag") return std::make_unique<An2135scWiring>(target, false);
    if (kind == "an2135sc-ss") return std::make_unique<An2135scWiring>(target, true);
    // SPI board: PC1 = TCK, PA5 = TDI, PC2 = TMS, PC0 = TDO, PC3 = supply.
    if (kind == "spi")
        return std::make_unique<PinJtagWiring>(target, PinMap{PORT_C, 1, PORT_A, 5, PORT_C, 2, PORT_C, 0, PORT_C, 3});
    // USB-QRT: PC5 = TCK, PC1 = TDI, PC4 = TMS, PC0 = TDO, PC2 = supply; PC3 is not connected.
    if (kind == "qrt")
        return std::make_unique<PinJtagWiring>(target, PinMap{PORT_C, 5, PORT_C, 1, PORT_C, 4, PORT_C, 0, PORT_C, 2});
    // ULINK: PB2 = TCK, PB0 = TDI, PB1 = TMS, PA5 = TDO; no supply sense. Its EEPROM
    // names the adapter C251:2710 before any firmware runs. TRST (PB3) and RESET
    // (PB5) reach no pin of the bench's parts; the LEDs and buffer enables on
    // port A and the break and trap lines light or drive nothing here.
    if (kind == "ulink")
        return std::make_unique<PinJtagWiring>(target, PinMap{PORT_B, 2, PORT_B, 0, PORT_B, 1, PORT_A, 5, -1, 0},
                                               EepromIds{0xC251, 0x2710, 0x0000});
    throw std::invalid_argument("unknown board \"" + std::string(kind) +
                                "\" (an2135sc-jtag, an2135sc-ss, spi, qrt, ulink)");
}

} // namespace bench::ezusb
