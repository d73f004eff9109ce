#include "target.h"

#include <nlohmann/json.hpp>

#include "spartan2.h"
#include "tap.h"
#include "words.h"

#include <cctype>
#include <cstdio>
#include <stdexcept>

namespace bench {

namespace {

struct PromPart {
    const char *name;
    uint32_t idcode;
};
constexpr PromPart prom_parts[] = {
    {"18v256", 0x05022093}, {"18v512", 0x05023093}, {"18v01", 0x05024093},
    {"18v02", 0x05025093},  {"18v04", 0x05026093},
};

DeviceSpec parse_device(const std::string &word) {
    std::string w = lower(word);
    if (w.rfind("dev:", 0) == 0) {
        size_t colon = w.find(':', 4);
        if (colon == std::string::npos)
            throw std::invalid_argument("device '" + word + "': expected dev:IDCODE:IRLEN");
        uint64_t id = 0, ir = 0;
        if (!parse_uint(w.substr(4, colon - 4), true, 0xFFFFFFFFu, id))
            throw std::invalid_argument("device '" + word + "': IDCODE must be a 32-bit hex number");
        if (!parse_uint(w.substr(colon + 1), false, 32, ir) || ir < 2)
            throw std::invalid_argument("device '" + word + "': IR length must be 2 to 32");
        DeviceSpec d;
        d.kind = DeviceSpec::Kind::Generic;
        d.part = "dev";
        d.idcode = uint32_t(id);
        d.ir_len = int(ir);
        return d;
    }
    for (const auto &p : prom_parts) {
        if (w == p.name) {
            DeviceSpec d;
            d.kind = DeviceSpec::Kind::Prom;
            d.part = p.name;
            d.idcode = p.idcode;
            d.ir_len = 8;
            return d;
        }
    }
    const size_t plus = w.find('+');
    const std::string base = w.substr(0, plus);
    bool strict_sync = false;
    for (size_t at = plus; at != std::string::npos;) {
        const size_t next = w.find('+', at + 1);
        const std::string item = w.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1);
        if (item == "strict_sync=0" || item == "strict_sync=1")
            strict_sync = item.back() == '1';
        else
            throw std::invalid_argument("bad Spartan-II setting \"" + item + "\" in \"" + word +
                                        "\" (SETTING=0|1 with SETTING one of strict_sync)");
        at = next;
    }
    std::string name = base;
    uint64_t version = 0;
    size_t colon = base.find(':');
    if (colon != std::string::npos) {
        name = base.substr(0, colon);
        std::string v = base.substr(colon + 1);
        if (v.size() < 2 || v[0] != 'v' || !parse_uint(v.substr(1), false, 15, version))
            throw std::invalid_argument("device '" + word + "': version must be :v0 to :v15");
    }
    const PartInfo *part = find_part(name);
    if (!part)
        throw std::invalid_argument("unknown device '" + word +
                                    "' (2s15 2s30 2s50 2s100 2s150 2s200[:vN], 18v256 18v512 18v01 "
                                    "18v02 18v04, dev:IDCODE:IRLEN)");
    DeviceSpec d;
    d.kind = DeviceSpec::Kind::Spartan2;
    d.part = part->name;
    d.idcode = part->idcode | (uint32_t(version) << 28);
    d.ir_len = 5;
    d.strict_sync = strict_sync;
    return d;
}

std::string hex32(uint32_t v) {
    char b[16];
    std::snprintf(b, sizeof b, "%08X", v);
    return b;
}

std::string hex64(uint64_t v) {
    char b[24];
    std::snprintf(b, sizeof b, "%016llx", static_cast<unsigned long long>(v));
    return b;
}

const char *kind_name(DeviceSpec::Kind k) {
    switch (k) {
    case DeviceSpec::Kind::Spartan2: return "spartan2";
    case DeviceSpec::Kind::Prom: return "prom";
    default: return "generic";
    }
}

} // namespace

std::vector<DeviceSpec> parse_chain(std::string_view words) {
    std::vector<DeviceSpec> chain;
    std::string all(words);
    size_t pos = 0;
    if (trim(all).empty())
        return chain;
    while (pos <= all.size()) {
        size_t comma = all.find(',', pos);
        if (comma == std::string::npos)
            comma = all.size();
        std::string w = trim(std::string_view(all).substr(pos, comma - pos));
        if (w.empty())
            throw std::invalid_argument("empty device name in chain '" + all + "'");
        chain.push_back(parse_device(w));
        if (chain.size() > max_chain_devices)
            throw std::invalid_argument("chain '" + all + "' has more than " +
                                        std::to_string(max_chain_devices) + " devices");
        pos = comma + 1;
    }
    return chain;
}

struct Target::Impl {
    std::vector<DeviceSpec> layout;
    std::vector<std::unique_ptr<JtagDevice>> owned;
    std::vector<JtagDevice *> devs;  // index 0 nearest TDO
    std::vector<Spartan2 *> fpgas;   // per index, null for other devices
    std::vector<Spartan2 *> all_fpgas;
    Spartan2 *serial = nullptr;
    int serial_index = -1;
    bool powered = true;
    bool tck = false, tms = false, tdi = false;
    bool prog_b = true, cclk = false, din = false;
    uint64_t now = 0;

    void build() {
        owned.clear();
        devs.clear();
        fpgas.clear();
        all_fpgas.clear();
        serial = nullptr;
        serial_index = -1;
        for (const auto &s : layout) {
            std::unique_ptr<JtagDevice> d;
            Spartan2 *fp = nullptr;
            if (s.kind == DeviceSpec::Kind::Spartan2) {
                const PartInfo *part = find_part(s.part);
                if (!part)
                    part = find_part_by_idcode(s.idcode);
                if (!part)
                    throw std::invalid_argument("unknown Spartan-II part '" + s.part + "'");
                Spartan2Settings st;
                st.version = int(s.idcode >> 28);
                st.strict_sync = s.strict_sync;
                auto f = std::make_unique<Spartan2>(*part, st);
                fp = f.get();
                d = std::move(f);
            } else if (s.kind == DeviceSpec::Kind::Prom) {
                d = std::make_unique<Prom>(s.idcode);
            } else {
                if (s.ir_len < 2 || s.ir_len > 32)
                    throw std::invalid_argument("IR length must be 2 to 32");
                d = std::make_unique<GenericDevice>(s.idcode, s.ir_len);
            }
            devs.push_back(d.get());
            fpgas.push_back(fp);
            if (fp) {
                all_fpgas.push_back(fp);
                if (!serial) {
                    serial = fp;
                    serial_index = int(devs.size()) - 1;
                }
            }
            owned.push_back(std::move(d));
        }
        apply_power();
    }

    void apply_power() {
        tck = false;
        for (auto *d : devs)
            d->power_on();
        if (!powered) {
            for (auto *f : all_fpgas)
                f->power_off();
        } else if (serial) {
            serial->set_program(prog_b);
        }
    }
};

Target::Target(std::vector<DeviceSpec> chain, bool powered) : impl_(std::make_unique<Impl>()) {
    if (chain.size() > max_chain_devices)
        throw std::invalid_argument("too many devices in the chain");
    impl_->layout = std::move(chain);
    impl_->powered = powered;
    impl_->build();
}

Target::~Target() = default;

void Target::set_power(bool on) {
    if (on == impl_->powered)
        return;
    impl_->powered = on;
    impl_->apply_power();
}

bool Target::powered() const { return impl_->powered; }

void Target::set_chain(std::vector<DeviceSpec> chain) {
    if (chain.size() > max_chain_devices)
        throw std::invalid_argument("too many devices in the chain");
    auto old = std::move(impl_->layout);
    impl_->layout = std::move(chain);
    try {
        impl_->build();
    } catch (...) {
        impl_->layout = std::move(old);
        impl_->build();
        throw;
    }
}

const std::vector<DeviceSpec> &Target::chain() const { return impl_->layout; }

void Target::set_jtag(bool tck, bool tms, bool tdi) {
    Impl &m = *impl_;
    bool prev = m.tck;
    m.tck = tck;
    m.tms = tms;
    m.tdi = tdi;
    if (tck == prev || !m.powered)
        return;
    JtagDevice *const *d = m.devs.data();
    size_t n = m.devs.size();
    if (tck) {
        // Every TAP samples at once: each device's TDI is its neighbour's TDO
        // as driven since the last falling edge.
        for (size_t i = 0; i + 1 < n; i++)
            d[i]->rise(tms, d[i + 1]->tdo());
        if (n)
            d[n - 1]->rise(tms, tdi);
        for (auto *f : m.all_fpgas)
            if (f->clearing())
                f->elapse_ns(f->settings().clock_ns);
    } else {
        for (size_t i = 0; i < n; i++)
            d[i]->fall();
    }
}

bool Target::tdo() const {
    const Impl &m = *impl_;
    if (!m.powered || m.devs.empty())
        return true;
    return m.devs[0]->tdo();
}

bool Target::clock_jtag(bool tms, bool tdi) {
    set_jtag(false, tms, tdi);
    set_jtag(true, tms, tdi);
    return tdo();
}

void Target::set_serial(bool prog_b, bool cclk, bool din) {
    Impl &m = *impl_;
    m.prog_b = prog_b;
    m.cclk = cclk;
    m.din = din;
    if (!m.powered || !m.serial)
        return;
    m.serial->set_program(prog_b);
    m.serial->set_cclk(cclk, din);
}

bool Target::done_pin() const {
    const Impl &m = *impl_;
    if (!m.powered || !m.serial)
        return true;
    return m.serial->done_pin();
}

bool Target::init_pin() const {
    const Impl &m = *impl_;
    if (!m.powered || !m.serial)
        return true;
    return m.serial->init_pin();
}

void Target::elapse_ns(uint64_t ns) {
    impl_->now += ns;
    if (!impl_->powered)
        return;
    for (auto *f : impl_->all_fpgas)
        f->elapse_ns(ns);
}

uint64_t Target::now_ns() const { return impl_->now; }

size_t Target::size() const { return impl_->devs.size(); }

Spartan2 *Target::spartan(size_t index) {
    return index < impl_->fpgas.size() ? impl_->fpgas[index] : nullptr;
}

const Spartan2 *Target::spartan(size_t index) const {
    return index < impl_->fpgas.size() ? impl_->fpgas[index] : nullptr;
}

JtagDevice *Target::device(size_t index) {
    return index < impl_->devs.size() ? impl_->devs[index] : nullptr;
}

int Target::serial_index() const { return impl_->serial_index; }

std::string Target::status_text() const {
    const Impl &m = *impl_;
    std::string out = std::string("supply: ") + (m.powered ? "on" : "off") + "\n";
    out += "chain: " + std::to_string(m.devs.size()) + " device" + (m.devs.size() == 1 ? "" : "s") +
           " (TDO first)\n";
    for (size_t i = 0; i < m.devs.size(); i++) {
        const DeviceSpec &s = m.layout[i];
        out += "  " + std::to_string(i) + ": " + s.part + " IDCODE " + hex32(m.devs[i]->idcode()) +
               " IR " + std::to_string(m.devs[i]->ir_len()) + " TAP " + tap_state_name(m.devs[i]->state());
        if (const Spartan2 *f = m.fpgas[i]) {
            out += std::string(int(i) == m.serial_index ? " serial" : "") +
                   "\n     configured " + (f->configured() ? "yes" : "no") +
                   ", DONE " + (m.powered && f->done_pin() ? "1" : "0") +
                   ", INIT " + (m.powered && f->init_pin() ? "1" : "0") +
                   ", status " + hex32(m.powered ? f->status_word() : 0) +
                   ", CRC errors " + std::to_string(f->crc_errors()) +
                   ", frames written " + std::to_string(f->frames_written()) +
                   ", configurations " + std::to_string(f->configurations()) +
                   "\n     memory digest " + hex64(f->digest());
        }
        out += "\n";
    }
    return out;
}

std::string Target::status_json() const {
    const Impl &m = *impl_;
    nlohmann::ordered_json j;
    j["power"] = m.powered;
    j["devices"] = nlohmann::ordered_json::array();
    for (size_t i = 0; i < m.devs.size(); i++) {
        const DeviceSpec &s = m.layout[i];
        nlohmann::ordered_json d = {{"index", i},
                                    {"kind", kind_name(s.kind)},
                                    {"part", s.part},
                                    {"idcode", hex32(m.devs[i]->idcode())},
                                    {"ir_len", m.devs[i]->ir_len()},
                                    {"tap", tap_state_name(m.devs[i]->state())}};
        if (const Spartan2 *f = m.fpgas[i]) {
            d["serial"] = int(i) == m.serial_index;
            d["configured"] = f->configured();
            d["done"] = m.powered && f->done_pin();
            d["init"] = m.powered && f->init_pin();
            d["status"] = hex32(m.powered ? f->status_word() : 0);
            d["crc_errors"] = f->crc_errors();
            d["frames_written"] = f->frames_written();
            d["configurations"] = f->configurations();
            d["digest"] = hex64(f->digest());
        }
        j["devices"].push_back(std::move(d));
    }
    return j.dump();
}

} // namespace bench
