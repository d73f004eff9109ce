#include "port.h"

namespace bench {

Port::Port(uint16_t base, TargetLines &lines, std::unique_ptr<Cable> cable, uint8_t idle_status)
    : base_(base), lines_(lines), cable_(std::move(cable)), idle_(idle_status) {
    if (cable_) cable_->outputs(data_, control_);
}

std::string Port::cable_name() const { return cable_ ? cable_->name() : "none"; }

void Port::set_cable(std::unique_ptr<Cable> cable) {
    cable_ = std::move(cable);
    if (cable_) cable_->outputs(data_, control_);
}

void Port::claim() {
    control_ = CONTROL_AFTER_CLAIM;
    if (cable_) cable_->outputs(data_, control_);
}

void Port::trace(bool on) {
    tracing_ = on;
    if (!on) trace_.clear();
}

uint8_t Port::status() {
    // Floating pins read as on the idle port; bit 7 is the inverse of the BUSY pin.
    uint8_t idle_pins = static_cast<uint8_t>((idle_ & 0x78) | (~idle_ & 0x80));
    uint8_t pins = idle_pins & STATUS_PINS;
    if (cable_) {
        StatusDrive d = cable_->inputs(data_, control_);
        pins = static_cast<uint8_t>((pins & ~d.driven) | (d.level & d.driven)) & STATUS_PINS;
    }
    return static_cast<uint8_t>((pins & 0x78) | (~pins & 0x80) | (idle_ & 0x07));
}

void Port::write(uint16_t addr, uint8_t value) {
    ++writes_;
    lines_.elapse_ns(ns_per_access_);
    if (tracing_) trace_.push_back({'W', addr, value});
    if (addr == base_) {
        data_ = value;
    } else if (addr == base_ + 2) {
        control_ = value;
    } else {
        return; // the status register and foreign addresses take no writes
    }
    if (cable_) cable_->outputs(data_, control_);
}

uint8_t Port::read(uint16_t addr) {
    ++reads_;
    lines_.elapse_ns(ns_per_access_);
    uint8_t v = 0xFF;
    if (addr == base_)
        v = data_; // output mode: the data register reads back the last write
    else if (addr == base_ + 1)
        v = status();
    else if (addr == base_ + 2)
        v = control_ & 0x0F; // only the low nibble reads back
    if (tracing_) trace_.push_back({'R', addr, v});
    return v;
}

} // namespace bench
