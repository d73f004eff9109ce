#include "an2131.h"

#include <algorithm>
#include <cstring>

namespace bench::ezusb {

namespace {

// memcpy, but a count of 0 may come with a null pointer.
void copy_bytes(void *dst, const void *src, size_t n) {
    if (n) std::memcpy(dst, src, n);
}

constexpr uint16_t ALIAS_BEGIN = 0x1B40, ALIAS_END = 0x2000, ALIAS_SHIFT = 0x6000;
constexpr uint32_t BUFFERS_END = reg::IN0BUF + reg::EP_BUF_SIZE; // EP0 IN is the last buffer

bool is_in_cs(uint16_t a) { return a >= reg::incs(1) && a <= reg::incs(7) && (a - reg::EP0CS) % 2 == 0; }
bool is_in_bc(uint16_t a) { return a >= reg::inbc(1) && a <= reg::inbc(7) && (a - reg::IN0BC) % 2 == 0; }
bool is_out_cs(uint16_t a) { return a >= reg::outcs(1) && a <= reg::outcs(7) && (a - reg::outcs(1)) % 2 == 0; }
bool is_out_bc(uint16_t a) { return a >= reg::outbc(1) && a <= reg::outbc(7) && (a - reg::outbc(1)) % 2 == 0; }

} // namespace

An2131::An2131(ChipSettings settings) : settings_(settings), mem_(0x10000, 0), cpu_(*this, mem_.data()) {
    power_on();
}

void An2131::attach_wiring(BoardWiring *wiring) {
    wiring_ = wiring;
    eeprom_ = wiring_ ? wiring_->eeprom_ids() : std::nullopt;
    update_pins();
    if (wiring_) wiring_->pins_changed(pins_);
}

void An2131::on_usbcs(std::function<void(uint8_t)> f) { usbcs_changed_ = std::move(f); }

void An2131::power_on() {
    std::fill(mem_.begin() + REG_BASE, mem_.end(), 0);
    mem_[reg::CPUCS] = uint8_t(settings_.revision << 4) | CPUCS_CLK24OE | CPUCS_8051RES;
    mem_[reg::USBCS] = settings_.usbcs_at_reset;
    mem_[reg::IN07VAL] = settings_.valid_at_reset | 0x01;
    mem_[reg::OUT07VAL] = settings_.valid_at_reset | 0x01;
    txd0_ = rxd0out_ = true;
    int2_ = false;
    cpu_.set_int2(false);
    cpu_.set_autovector(false, 0);
    bus_reset();
    mem_[reg::USBIRQ] = 0; // no bus reset seen yet
    update_pins();
}

void An2131::set_reset(bool hold) {
    uint8_t &cs = mem_[reg::CPUCS];
    bool was = (cs & CPUCS_8051RES) != 0;
    cs = hold ? (cs | CPUCS_8051RES) : (cs & ~CPUCS_8051RES);
    if (hold && !was) {
        // The 8051 stops; its pins go back to the reset state of the serial port.
        txd0_ = rxd0out_ = true;
        update_pins();
    }
    if (!hold && was) {
        cpu_.reset();
        owed_ = 0;
        update_int2(false);
    }
}

void An2131::run_cycles(uint64_t n) {
    if (in_reset()) return;
    owed_ += int64_t(n);
    if (owed_ <= 0) return;
    uint64_t before = cpu_.cycles();
    uint64_t after = cpu_.run_until(before + uint64_t(owed_));
    owed_ -= int64_t(after - before);
    cycles_ += after - before;
}

void An2131::load(uint16_t addr, std::span<const uint8_t> bytes) {
    for (size_t i = 0; i < bytes.size(); ++i)
        if (int32_t at = download_address(uint32_t(addr + i)); at >= 0) mem_[size_t(at)] = bytes[i];
}

int32_t An2131::download_address(uint32_t addr) {
    // Program RAM ends at 0x1B3F. The endpoint buffers (0x7B40-0x7F3F) appear
    // again at 0x1B40-0x1F3F, where an image's tables may run on past the end
    // of the program RAM; there the download reaches them.
    if (addr < RAM_END) return int32_t(addr);
    if (addr >= ALIAS_BEGIN && addr < BUFFERS_END - ALIAS_SHIFT) return int32_t(addr + ALIAS_SHIFT);
    return -1;
}

bool An2131::host_write(uint16_t addr, std::span<const uint8_t> bytes) {
    if (addr == reg::CPUCS && bytes.size() == 1) {
        uint8_t v = bytes[0];
        if (!settings_.a0_cpucs_only_reset_bit)
            mem_[reg::CPUCS] = uint8_t((mem_[reg::CPUCS] & ~CPUCS_CLK24OE) | (v & CPUCS_CLK24OE));
        bool release = in_reset() && !(v & CPUCS_8051RES);
        if (release && host_wrote_ram_) {
            ++loads_;
            host_wrote_ram_ = false;
        }
        set_reset(v & CPUCS_8051RES);
        return true;
    }
    for (size_t i = 0; i < bytes.size(); ++i)
        if (download_address(uint32_t(addr + i)) < 0) return false;
    load(addr, bytes);
    if (!bytes.empty()) host_wrote_ram_ = true;
    return true;
}

bool An2131::host_read(uint16_t addr, std::span<uint8_t> bytes) {
    if (addr == reg::CPUCS && bytes.size() == 1) {
        bytes[0] = mem_[reg::CPUCS];
        return true;
    }
    for (size_t i = 0; i < bytes.size(); ++i)
        if (download_address(uint32_t(addr + i)) < 0) return false;
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = mem_[size_t(download_address(uint32_t(addr + i)))];
    return true;
}

uint16_t An2131::map(uint16_t addr) const {
    if (settings_.alias_1b40 && addr >= ALIAS_BEGIN && addr < ALIAS_END) return uint16_t(addr + ALIAS_SHIFT);
    return addr;
}

// ---- MOVX ----

uint8_t An2131::xread(uint16_t addr) {
    addr = map(addr);
    if (addr < RAM_END) return mem_[addr];
    if (addr >= 0x2000 && addr < 0x2800) return mem_[addr]; // ISO FIFO RAM, plain RAM here
    if (addr >= REG_BASE) return read_register(addr);
    return 0xFF; // the external bus, with nothing on it
}

void An2131::xwrite(uint16_t addr, uint8_t value) {
    addr = map(addr);
    if (addr < RAM_END || (addr >= 0x2000 && addr < 0x2800)) {
        mem_[addr] = value;
        return;
    }
    if (addr >= REG_BASE) write_register(addr, value);
}

uint8_t An2131::read_register(uint16_t addr) {
    switch (addr) {
    case reg::PINSA:
    case reg::PINSB:
    case reg::PINSC: {
        int n = addr - reg::PINSA;
        uint8_t outside = wiring_ ? wiring_->pins_in(n) : 0xFF;
        return uint8_t((pins_.level[n] & pins_.drive[n]) | (outside & ~pins_.drive[n]));
    }
    case reg::TOGCTL: {
        uint8_t sel = mem_[reg::TOGCTL];
        int ep = sel & 7;
        bool t = (sel & TOGCTL_IO) ? toggle_in_[ep] : toggle_out_[ep];
        return uint8_t((sel & (TOGCTL_IO | 7)) | (t ? TOGCTL_Q : 0));
    }
    case reg::AUTODATA: {
        uint16_t p = uint16_t(mem_[reg::AUTOPTRH] << 8 | mem_[reg::AUTOPTRL]);
        uint8_t v = p == reg::AUTODATA ? 0xFF : xread(p);
        if ((mem_[reg::FASTXFR] & FASTXFR_FBLK) && (mem_[reg::PORTACFG] & PORTACFG_FWR) && wiring_)
            wiring_->fwr_strobe(v);
        ++p;
        mem_[reg::AUTOPTRH] = uint8_t(p >> 8);
        mem_[reg::AUTOPTRL] = uint8_t(p);
        return v;
    }
    default:
        return mem_[addr];
    }
}

void An2131::write_register(uint16_t addr, uint8_t value) {
    if (addr < 0x7F60) { // endpoint buffers, and the reserved bytes after them
        mem_[addr] = value;
        return;
    }
    if (addr >= reg::SETUPDAT) return; // SETUPDAT is the core's; the ISO registers above it are unused
    if (is_in_cs(addr)) {
        mem_[addr] = uint8_t((mem_[addr] & EPCS_BUSY) | (value & EPCS_STALL));
        return;
    }
    if (is_in_bc(addr)) {
        arm_in((addr - reg::IN0BC) / 2, value);
        return;
    }
    if (is_out_cs(addr)) {
        mem_[addr] = uint8_t((mem_[addr] & EPCS_BUSY) | (value & EPCS_STALL));
        return;
    }
    if (is_out_bc(addr)) {
        arm_out((addr - reg::OUT0BC) / 2);
        return;
    }
    switch (addr) {
    case reg::CPUCS: // the 8051 reaches only the clock output; 8051RES is the host's
        mem_[addr] = uint8_t((mem_[addr] & ~CPUCS_CLK24OE) | (value & CPUCS_CLK24OE));
        return;
    case reg::PORTACFG:
    case reg::PORTBCFG:
    case reg::PORTCCFG:
    case reg::OUTA:
    case reg::OUTB:
    case reg::OUTC:
    case reg::OEA:
    case reg::OEB:
    case reg::OEC:
        mem_[addr] = value;
        update_pins();
        return;
    case reg::PINSA:
    case reg::PINSB:
    case reg::PINSC:
    case reg::IVEC:
    case reg::FNADDR:
        return;
    case reg::IN07IRQ:
    case reg::OUT07IRQ:
    case reg::USBIRQ:
        mem_[addr] &= uint8_t(~value); // write 1 to clear
        update_int2(true);
        return;
    case reg::IN07IEN:
    case reg::OUT07IEN:
    case reg::USBIEN:
    case reg::USBBAV:
        mem_[addr] = value;
        update_int2(false);
        return;
    case reg::EP0CS: {
        uint8_t v = mem_[addr];
        v = uint8_t((v & ~EP0CS_STALL) | (value & EP0CS_STALL));
        if (value & EP0CS_HSNAK) v &= uint8_t(~EP0CS_HSNAK); // write 1 to end the handshake
        mem_[addr] = v;
        return;
    }
    case reg::IN0BC:
        arm_in(0, value);
        return;
    case reg::OUT0BC:
        arm_out(0);
        return;
    case reg::SUDPTRL: {
        mem_[addr] = value;
        sud_addr_ = uint16_t(mem_[reg::SUDPTRH] << 8 | value);
        // The descriptor's own length: wTotalLength for a configuration, else bLength.
        uint8_t type = xread(uint16_t(sud_addr_ + 1));
        int own = type == 2 ? (xread(uint16_t(sud_addr_ + 2)) | xread(uint16_t(sud_addr_ + 3)) << 8)
                            : xread(sud_addr_);
        int wanted = mem_[reg::SETUPDAT + 6] | mem_[reg::SETUPDAT + 7] << 8;
        sud_left_ = std::min(own, wanted);
        sud_zlp_ = own < wanted && sud_left_ % EP_SIZE == 0;
        sud_active_ = true;
        return;
    }
    case reg::USBCS: {
        uint8_t old = mem_[addr];
        uint8_t v = uint8_t((value & 0x0F) | (old & USBCS_WAKESRC));
        if (value & USBCS_WAKESRC) v &= uint8_t(~USBCS_WAKESRC);
        mem_[addr] = v;
        if (usbcs_changed_ && (old & 0x0F) != (v & 0x0F)) usbcs_changed_(old);
        return;
    }
    case reg::TOGCTL: {
        int ep = value & 7;
        auto &t = (value & TOGCTL_IO) ? toggle_in_ : toggle_out_;
        if (value & TOGCTL_R) t[ep] = false;
        if (value & TOGCTL_S) t[ep] = true;
        mem_[addr] = uint8_t(value & (TOGCTL_IO | 7));
        return;
    }
    case reg::USBPAIR:
        mem_[addr] = value;
        pair_out_count_ = pair_in_count_ = 0;
        pair_out_armed2_ = false;
        return;
    case reg::IN07VAL:
    case reg::OUT07VAL:
        mem_[addr] = value | 0x01;
        return;
    case reg::AUTODATA: {
        uint16_t p = uint16_t(mem_[reg::AUTOPTRH] << 8 | mem_[reg::AUTOPTRL]);
        uint8_t v = value;
        if ((mem_[reg::FASTXFR] & FASTXFR_FBLK) && (mem_[reg::PORTACFG] & PORTACFG_FRD) && wiring_)
            v = wiring_->frd_strobe(); // the byte comes from the bus, not from A
        if (p != reg::AUTODATA) xwrite(p, v);
        ++p;
        mem_[reg::AUTOPTRH] = uint8_t(p >> 8);
        mem_[reg::AUTOPTRL] = uint8_t(p);
        return;
    }
    default:
        mem_[addr] = value;
        return;
    }
}

// ---- interrupts ----

void An2131::request(uint16_t irq_reg, uint8_t bit) {
    mem_[irq_reg] |= bit;
    uint8_t en = mem_[irq_reg + 3];
    if (en & bit) {
        // Every new request is an edge on INT2, also while others are pending.
        if (int2_) cpu_.set_int2(false);
        int2_ = false;
    }
    update_int2(false);
}

void An2131::update_int2(bool repulse) {
    bool level = (mem_[reg::IN07IRQ] & mem_[reg::IN07IEN]) || (mem_[reg::OUT07IRQ] & mem_[reg::OUT07IEN]) ||
                 (mem_[reg::USBIRQ] & mem_[reg::USBIEN] & 0x1F);
    if (level && int2_ && repulse && settings_.int2_repulse) {
        cpu_.set_int2(false);
        int2_ = false;
    }
    if (level != int2_) {
        int2_ = level;
        cpu_.set_int2(level);
    }
    update_ivec();
}

void An2131::update_ivec() {
    int index = -1;
    uint8_t usb = mem_[reg::USBIRQ] & mem_[reg::USBIEN] & 0x1F;
    uint8_t in = mem_[reg::IN07IRQ] & mem_[reg::IN07IEN];
    uint8_t out = mem_[reg::OUT07IRQ] & mem_[reg::OUT07IEN];
    for (int b = 0; b < 5 && index < 0; ++b)
        if (usb & (1 << b)) index = b;
    for (int n = 0; n < 8 && index < 0; ++n) {
        if (in & (1 << n)) index = 6 + 2 * n;
        else if (out & (1 << n)) index = 7 + 2 * n;
    }
    uint8_t avec = index < 0 ? 0 : uint8_t(index * 4);
    mem_[reg::IVEC] = avec;
    cpu_.set_autovector((mem_[reg::USBBAV] & USBBAV_AVEN) != 0, avec);
}

// ---- ports ----

void An2131::update_pins() {
    PortPins p;
    for (int n = 0; n < 3; ++n) {
        uint8_t cfg = mem_[reg::PORTACFG + n];
        p.drive[n] = uint8_t(mem_[reg::OEA + n] & ~cfg);
        p.level[n] = uint8_t(mem_[reg::OUTA + n] & p.drive[n]);
    }
    auto alt = [&](int port, int bit, bool level) {
        p.drive[port] |= uint8_t(1 << bit);
        if (level) p.level[port] |= uint8_t(1 << bit);
    };
    uint8_t acfg = mem_[reg::PORTACFG], ccfg = mem_[reg::PORTCCFG];
    if (acfg & PORTACFG_FWR) alt(0, 4, true); // strobes idle high between pulses
    if (acfg & PORTACFG_FRD) alt(0, 5, true);
    if (acfg & PORTACFG_RXD0OUT) alt(0, 6, rxd0out_);
    if (ccfg & PORTCCFG_TXD0) alt(2, 1, txd0_);
    bool changed = p.level != pins_.level || p.drive != pins_.drive;
    pins_ = p;
    if (changed && wiring_) wiring_->pins_changed(pins_);
}

void An2131::serial_out(bool txd0, bool rxd0out) {
    txd0_ = txd0;
    rxd0out_ = rxd0out;
    update_pins();
}

bool An2131::serial_in() {
    if (!(mem_[reg::PORTCCFG] & PORTCCFG_RXD0)) return true;
    return ((wiring_ ? wiring_->pins_in(2) : 0xFF) & 0x01) != 0;
}

// ---- endpoints ----

bool An2131::paired(int ep, bool in) const {
    return ep == 2 && (mem_[reg::USBPAIR] & (in ? USBPAIR_PR2IN : USBPAIR_PR2OUT));
}

void An2131::arm_in(int ep, uint8_t count) {
    int n = std::min<int>(count, EP_SIZE);
    if (ep == 0) {
        mem_[reg::IN0BC] = uint8_t(n);
        mem_[reg::EP0CS] |= EP0CS_IN0BSY;
        sud_active_ = false;
        return;
    }
    mem_[reg::inbc(ep)] = uint8_t(n);
    if (paired(ep, true)) {
        if (pair_in_count_ < 2) {
            auto &slot = pair_in_[size_t(pair_in_count_++)];
            copy_bytes(slot.data.data(), &mem_[reg::inbuf(ep)], size_t(n));
            slot.len = n;
        }
        // Busy only when both buffers wait for the host.
        mem_[reg::incs(ep)] = uint8_t((mem_[reg::incs(ep)] & ~EPCS_BUSY) | (pair_in_count_ == 2 ? EPCS_BUSY : 0));
        return;
    }
    mem_[reg::incs(ep)] |= EPCS_BUSY;
}

void An2131::arm_out(int ep) {
    if (ep == 0) {
        mem_[reg::EP0CS] |= EP0CS_OUT0BSY;
        return;
    }
    if (paired(ep, false)) {
        // A write frees the buffer the firmware has read; with none held it arms both.
        if (pair_out_count_ > 0) {
            pair_out_[0] = pair_out_[1];
            --pair_out_count_;
            pair_out_armed2_ = true;
        } else {
            pair_out_armed2_ = true;
        }
        if (pair_out_count_ > 0) {
            copy_bytes(&mem_[reg::outbuf(ep)], pair_out_[0].data.data(), size_t(pair_out_[0].len));
            mem_[reg::outbc(ep)] = uint8_t(pair_out_[0].len);
        }
        mem_[reg::outcs(ep)] = uint8_t((mem_[reg::outcs(ep)] & ~EPCS_BUSY) | (pair_out_count_ == 0 ? EPCS_BUSY : 0));
        return;
    }
    mem_[reg::outcs(ep)] |= EPCS_BUSY;
}

int An2131::sudptr_packet(uint8_t *buf) {
    int n = std::min(sud_left_, EP_SIZE);
    for (int i = 0; i < n; ++i) buf[i] = xread(uint16_t(sud_addr_ + i));
    sud_addr_ = uint16_t(sud_addr_ + n);
    sud_left_ -= n;
    if (sud_left_ == 0 && !(n == EP_SIZE && sud_zlp_)) sud_active_ = false;
    if (n == 0) sud_zlp_ = false, sud_active_ = false;
    request(reg::IN07IRQ, 0x01);
    return n;
}

void An2131::bus_reset() {
    for (int ep = 1; ep < 8; ++ep) {
        mem_[reg::incs(ep)] = 0;
        mem_[reg::outcs(ep)] = settings_.out_armed_at_reset ? EPCS_BUSY : 0;
    }
    mem_[reg::EP0CS] = 0;
    toggle_in_.fill(false);
    toggle_out_.fill(false);
    pair_out_count_ = pair_in_count_ = 0;
    pair_out_armed2_ = settings_.out_armed_at_reset;
    sud_active_ = false;
    mem_[reg::FNADDR] = 0;
    request(reg::USBIRQ, USBIRQ_URES);
}

void An2131::setup_packet(const std::array<uint8_t, 8> &setup) {
    copy_bytes(&mem_[reg::SETUPDAT], setup.data(), 8);
    mem_[reg::EP0CS] = EP0CS_HSNAK;
    sud_active_ = false;
    toggle_in_[0] = toggle_out_[0] = true; // the data stage starts with DATA1
    request(reg::USBIRQ, USBIRQ_SUTOK);
    request(reg::USBIRQ, USBIRQ_SUDAV);
}

int An2131::ep0_in(uint8_t *buf) {
    if (sud_active_) return sudptr_packet(buf);
    if (!(mem_[reg::EP0CS] & EP0CS_IN0BSY)) return -1;
    int n = mem_[reg::IN0BC];
    copy_bytes(buf, &mem_[reg::inbuf(0)], size_t(n));
    mem_[reg::EP0CS] &= uint8_t(~EP0CS_IN0BSY);
    request(reg::IN07IRQ, 0x01);
    return n;
}

bool An2131::ep0_out(const uint8_t *data, int len) {
    if (!(mem_[reg::EP0CS] & EP0CS_OUT0BSY)) return false;
    len = std::min(len, EP_SIZE);
    copy_bytes(&mem_[reg::outbuf(0)], data, size_t(len));
    mem_[reg::OUT0BC] = uint8_t(len);
    mem_[reg::EP0CS] &= uint8_t(~EP0CS_OUT0BSY);
    request(reg::OUT07IRQ, 0x01);
    return true;
}

bool An2131::ep_valid(int ep, bool in) const {
    if (ep < 0 || ep > 7) return false;
    if (ep == 3 && paired(2, in)) return false; // EP3's buffer serves EP2
    return (mem_[in ? reg::IN07VAL : reg::OUT07VAL] >> ep) & 1;
}

void An2131::clear_stall(int ep, bool in) {
    if (ep == 0) {
        mem_[reg::EP0CS] &= uint8_t(~EP0CS_STALL);
        return;
    }
    mem_[in ? reg::incs(ep) : reg::outcs(ep)] &= uint8_t(~EPCS_STALL);
    (in ? toggle_in_ : toggle_out_)[size_t(ep)] = false;
}

int An2131::bulk_out(int ep, const uint8_t *data, int len) {
    if (ep < 1 || !ep_valid(ep, false)) return -3;
    if (mem_[reg::outcs(ep)] & EPCS_STALL) return -2;
    len = std::min(len, EP_SIZE);
    if (paired(ep, false)) {
        int room = pair_out_armed2_ ? 2 : 0;
        if (pair_out_count_ >= room) return -1;
        auto &slot = pair_out_[size_t(pair_out_count_++)];
        copy_bytes(slot.data.data(), data, size_t(len));
        slot.len = len;
        if (pair_out_count_ == 1) {
            copy_bytes(&mem_[reg::outbuf(ep)], data, size_t(len));
            mem_[reg::outbc(ep)] = uint8_t(len);
        }
        if (pair_out_count_ == 2) pair_out_armed2_ = false;
        mem_[reg::outcs(ep)] &= uint8_t(~EPCS_BUSY);
    } else {
        if (!(mem_[reg::outcs(ep)] & EPCS_BUSY)) return -1;
        copy_bytes(&mem_[reg::outbuf(ep)], data, size_t(len));
        mem_[reg::outbc(ep)] = uint8_t(len);
        mem_[reg::outcs(ep)] &= uint8_t(~EPCS_BUSY);
    }
    toggle_out_[size_t(ep)] = !toggle_out_[size_t(ep)];
    request(reg::OUT07IRQ, uint8_t(1 << ep));
    return len;
}

int An2131::bulk_in(int ep, uint8_t *buf) {
    if (ep < 1 || !ep_valid(ep, true)) return -3;
    if (mem_[reg::incs(ep)] & EPCS_STALL) return -2;
    int n;
    if (paired(ep, true)) {
        if (pair_in_count_ == 0) return -1;
        n = pair_in_[0].len;
        copy_bytes(buf, pair_in_[0].data.data(), size_t(n));
        pair_in_[0] = pair_in_[1];
        --pair_in_count_;
        mem_[reg::incs(ep)] &= uint8_t(~EPCS_BUSY);
    } else {
        if (!(mem_[reg::incs(ep)] & EPCS_BUSY)) return -1;
        n = mem_[reg::inbc(ep)];
        copy_bytes(buf, &mem_[reg::inbuf(ep)], size_t(n));
        mem_[reg::incs(ep)] &= uint8_t(~EPCS_BUSY);
    }
    toggle_in_[size_t(ep)] = !toggle_in_[size_t(ep)];
    request(reg::IN07IRQ, uint8_t(1 << ep));
    return n;
}

} // namespace bench::ezusb
