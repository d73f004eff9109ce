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
    XilinxCable(TargetLines &lines, XilinxSettings s, std::string label)
        : lines_(lines), s_(s), label_(std::move(label)) {}

    std::string name() const override {
        return !label_.empty() ? label_ : s_.leads == Leads::Jtag ? "xilinx" : "xilinx-ss";
    }

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
    std::string label_;
};

class AlteraCable final : public Cable {
public:
    AlteraCable(TargetLines &lines, AlteraSettings s, std::string label)
        : lines_(lines), s_(s), label_(std::move(label)) {}

    std::string name() const override {
        return !label_.empty() ? label_ : s_.leads == Leads::Jtag ? "altera" : "altera-ss";
    }

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
    std::string label_;
};

} // namespace

namespace {

// Switches of the inferred wiring rules, named as in the settings.
template <class Settings> struct Flag {
    const char *name;
    bool Settings::*member;
};

constexpr Flag<XilinxSettings> xilinx_flags[] = {
    {"passive_busy_loop", &XilinxSettings::passive_busy_loop},
    {"d4_low_pulls_tdo_line", &XilinxSettings::d4_low_pulls_tdo_line},
    {"d3_disables_outputs", &XilinxSettings::d3_disables_outputs},
    {"power_sense_needs_d4_low", &XilinxSettings::power_sense_needs_d4_low},
};

constexpr Flag<AlteraSettings> altera_flags[] = {
    {"error_line_grounded", &AlteraSettings::error_line_grounded},
    {"detect_loop_unpowered", &AlteraSettings::detect_loop_unpowered},
    {"enable_by_control_bit1", &AlteraSettings::enable_by_control_bit1},
};

// Applies the "+SETTING=0|1" parts of a cable word to the cable's settings.
template <class Settings, size_t N>
void apply_flags(Settings &s, const Flag<Settings> (&flags)[N], std::string_view word, std::string_view rest) {
    while (!rest.empty()) {
        rest.remove_prefix(1); // the '+'
        const size_t next = rest.find('+');
        const std::string_view item = rest.substr(0, next);
        rest = next == std::string_view::npos ? std::string_view() : rest.substr(next);
        const size_t eq = item.find('=');
        const std::string_view name = item.substr(0, eq);
        const std::string_view value = eq == std::string_view::npos ? "" : item.substr(eq + 1);
        const Flag<Settings> *flag = nullptr;
        for (const auto &f : flags)
            if (name == f.name) flag = &f;
        if (flag == nullptr || (value != "0" && value != "1")) {
            std::string known;
            for (const auto &f : flags) known += std::string(known.empty() ? "" : ", ") + f.name;
            throw std::invalid_argument("bad cable setting \"" + std::string(item) + "\" in \"" + std::string(word) +
                                        "\" (SETTING=0|1 with SETTING one of " + known + ")");
        }
        s.*(flag->member) = value == "1";
    }
}

} // namespace

std::unique_ptr<Cable> make_xilinx_cable(TargetLines &lines, XilinxSettings settings) {
    return std::make_unique<XilinxCable>(lines, settings, std::string());
}

std::unique_ptr<Cable> make_altera_cable(TargetLines &lines, AlteraSettings settings) {
    return std::make_unique<AlteraCable>(lines, settings, std::string());
}

std::unique_ptr<Cable> make_cable(std::string_view word, TargetLines &lines) {
    const size_t plus = word.find('+');
    const std::string_view name = word.substr(0, plus);
    const std::string_view rest = plus == std::string_view::npos ? std::string_view() : word.substr(plus);
    const std::string label(word);
    if (name == "none" && rest.empty()) return nullptr;
    if (name == "xilinx" || name == "xilinx-ss") {
        XilinxSettings s;
        s.leads = name == "xilinx" ? Leads::Jtag : Leads::Serial;
        apply_flags(s, xilinx_flags, word, rest);
        return std::make_unique<XilinxCable>(lines, s, label);
    }
    if (name == "altera" || name == "altera-ss") {
        AlteraSettings s;
        s.leads = name == "altera" ? Leads::Jtag : Leads::Serial;
        apply_flags(s, altera_flags, word, rest);
        return std::make_unique<AlteraCable>(lines, s, label);
    }
    throw std::invalid_argument("unknown cable \"" + std::string(name) +
                                "\" (xilinx, xilinx-ss, altera, altera-ss or none)");
}

} // namespace bench
