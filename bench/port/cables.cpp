// The Xilinx parallel cable with its target-powered buffer and the Altera cable,
// in pin levels. Data bits are the port's data register, written by the PC.
#include <stdexcept>
#include <string>

#include "port.h"

namespace bench {
namespace {

inline bool bit(uint8_t v, int n) { return (v >> n) & 1; }

class XilinxCable final : public Cable {
public:
    XilinxCable(TargetLines &lines, XilinxSettings s) : lines_(lines), s_(s) {}

    std::string name() const override { return s_.leads == Leads::Jtag ? "xilinx" : "xilinx-ss"; }

    // D0 = TDI/DIN, D1 = TCK/CCLK, D2 = TMS/PROG through the buffer that the target powers.
    void outputs(uint8_t data, uint8_t) override {
        if (!lines_.powered() || (s_.d3_disables_outputs && bit(data, 3))) return;
        if (s_.leads == Leads::Jtag)
            lines_.set_jtag(bit(data, 1), bit(data, 2), bit(data, 0));
        else
            lines_.set_serial(bit(data, 2), bit(data, 1), bit(data, 0));
    }

    StatusDrive inputs(uint8_t data, uint8_t) const override {
        StatusDrive d;
        bool d6 = bit(data, 6), d4 = bit(data, 4);
        if (!lines_.powered()) {
            d.set(PIN_ERROR, false); // no supply to sense
            if (s_.passive_busy_loop) d.set(PIN_BUSY, d6);
            return d; // pins 13, 12, 10 float
        }
        d.set(PIN_ERROR, s_.power_sense_needs_d4_low ? !d4 : true);
        if (!d4 && s_.d4_low_pulls_tdo_line)
            d.set(PIN_SELECT, false);
        else
            d.set(PIN_SELECT, s_.leads == Leads::Jtag ? lines_.tdo() : lines_.done_pin());
        d.set(PIN_PE, d6);
        d.set(PIN_BUSY, d6);
        return d; // pin 10 floats
    }

private:
    TargetLines &lines_;
    XilinxSettings s_;
};

class AlteraCable final : public Cable {
public:
    AlteraCable(TargetLines &lines, AlteraSettings s) : lines_(lines), s_(s) {}

    std::string name() const override { return s_.leads == Leads::Jtag ? "altera" : "altera-ss"; }

    // D0 = TCK, D1 = TMS, D6 = TDI on the JTAG header; the adapter takes D0 to DIN and
    // D1 to CCLK. D2, D3, D4 reach nothing.
    void outputs(uint8_t data, uint8_t control) override {
        if (!lines_.powered() || (s_.enable_by_control_bit1 && !bit(control, 1))) return;
        if (s_.leads == Leads::Jtag)
            lines_.set_jtag(bit(data, 0), bit(data, 1), bit(data, 6));
        else
            lines_.set_serial(true, bit(data, 1), bit(data, 0));
    }

    StatusDrive inputs(uint8_t data, uint8_t) const override {
        StatusDrive d;
        bool powered = lines_.powered();
        if (powered || s_.detect_loop_unpowered) d.set(PIN_ACK, bit(data, 5));
        d.set(PIN_ERROR, s_.error_line_grounded ? false : powered);
        if (!powered) return d; // pins 12, 11, 13 float
        d.set(PIN_PE, bit(data, 7));
        if (s_.leads == Leads::Jtag)
            d.set(PIN_BUSY, lines_.tdo());
        else
            d.set(PIN_SELECT, lines_.done_pin());
        return d;
    }

private:
    TargetLines &lines_;
    AlteraSettings s_;
};

} // namespace

std::unique_ptr<Cable> make_xilinx_cable(TargetLines &lines, XilinxSettings settings) {
    return std::make_unique<XilinxCable>(lines, settings);
}

std::unique_ptr<Cable> make_altera_cable(TargetLines &lines, AlteraSettings settings) {
    return std::make_unique<AlteraCable>(lines, settings);
}

bool is_cable_name(std::string_view name) {
    return name == "none" || name == "xilinx" || name == "xilinx-ss" || name == "altera" ||
           name == "altera-ss";
}

std::unique_ptr<Cable> make_cable(std::string_view name, TargetLines &lines) {
    if (name == "none") return nullptr;
    if (name == "xilinx") return make_xilinx_cable(lines);
    if (name == "xilinx-ss") return make_xilinx_cable(lines, {.leads = Leads::Serial});
    if (name == "altera") return make_altera_cable(lines);
    if (name == "altera-ss") return make_altera_cable(lines, {.leads = Leads::Serial});
    throw std::invalid_argument("unknown cable \"" + std::string(name) +
                                "\" (xilinx, xilinx-ss, altera, altera-ss or none)");
}

} // namespace bench
