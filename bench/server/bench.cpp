#include "bench.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include "spartan2.h"
#include "usb_link.h"

namespace bench {
namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

// Splits "key rest of line" at the first blank.
struct Words {
    std::string key;
    std::string value;
};

Words split_option(std::string_view line) {
    line = trim(line);
    size_t sp = line.find_first_of(" \t");
    if (sp == std::string_view::npos) return {std::string(line), ""};
    return {std::string(line.substr(0, sp)), std::string(trim(line.substr(sp)))};
}

std::string hex4(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04X", v & 0xFFFFu);
    return buf;
}

std::string hex4_lower(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04x", v & 0xFFFFu);
    return buf;
}

nlohmann::ordered_json usb_board_json(const ezusb::Board &b, const Target &chain, bool own_chain) {
    nlohmann::ordered_json c = nlohmann::ordered_json::parse(chain.status_json());
    c["own"] = own_chain;
    return {{"number", b.number()},
            {"board", b.kind()},
            {"attached", b.attached()},
            {"vid", hex4_lower(b.vid())},
            {"pid", hex4_lower(b.pid())},
            {"strings", b.strings()},
            {"loads", b.loads()},
            {"cycles", b.cycles()},
            {"packets_out", b.packets_out()},
            {"packets_in", b.packets_in()},
            {"naks", b.naks()},
            {"bulk_us", b.bulk_us()},
            {"chain", c}};
}

} // namespace

uint16_t parse_port_base(std::string_view text) {
    std::string_view t = text;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) t.remove_prefix(2);
    if (t.empty() || t.size() > 4) throw std::invalid_argument("bad port base \"" + std::string(text) + "\"");
    unsigned v = 0;
    for (char c : t) {
        int d;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else throw std::invalid_argument("bad port base \"" + std::string(text) + "\"");
        v = v * 16 + static_cast<unsigned>(d);
    }
    if (v == 0) throw std::invalid_argument("port base 0 is not a port");
    return static_cast<uint16_t>(v);
}

Bench::Bench()
    : target_(std::make_unique<Target>()), lines_(*target_), last_wall_(std::chrono::steady_clock::now()),
      usb_(std::make_unique<ezusb::Bus>(*target_)) {}

Bench::~Bench() = default;

std::string Bench::set_port(uint16_t base, const std::string &cable) {
    auto c = make_cable(cable, lines_);
    auto it = ports_.find(base);
    if (it == ports_.end())
        ports_[base] = std::make_unique<Port>(base, lines_, std::move(c));
    else
        it->second->set_cable(std::move(c));
    return "port " + hex4(base) + ": " + cable;
}

std::string Bench::set_port(std::string_view base_cable) {
    BenchConfig parsed;
    apply_bench_option(parsed, "port", base_cable);
    return set_port(parsed.ports.at(0).base, parsed.ports.at(0).cable);
}

std::vector<std::string> Bench::configure(const BenchConfig &config) {
    target_->set_chain(config.chain);
    target_->set_power(config.power);
    for (auto &[n, t] : board_targets_) t->set_power(config.power);
    for (auto &p : config.ports) set_port(p.base, p.cable);
    for (auto &u : config.usb) add_usb_board(u);
    // Boards named at start-up were plugged in before any program runs: the host
    // has enumerated them by the time a command starts.
    for (int round = 0; round < 100 && run_usb(1000); ++round) {
    }
    return {};
}

Port *Bench::port(uint16_t base) {
    auto it = ports_.find(base);
    return it == ports_.end() ? nullptr : it->second.get();
}

bool Bench::claim(uint16_t base, const void *client) {
    Port *p = port(base);
    if (!p) return false;
    auto it = holders_.find(base);
    if (it != holders_.end() && it->second != client) return false;
    holders_[base] = client;
    p->claim();
    return true;
}

void Bench::release(uint16_t base, const void *client) {
    auto it = holders_.find(base);
    if (it != holders_.end() && it->second == client) holders_.erase(it);
}

void Bench::release_all(const void *client) {
    for (auto it = holders_.begin(); it != holders_.end();)
        it = it->second == client ? holders_.erase(it) : std::next(it);
}

void Bench::leave_session(uint64_t session, bool close_now) {
    auto it = session_links_.find(session);
    if (it != session_links_.end() && !close_now && --it->second > 0) return;
    if (it != session_links_.end()) session_links_.erase(it);
    usb_->close(session);
}

void Bench::dispatch_usb() {
    for (auto &t : usb_->take_finished()) {
        auto *link = static_cast<UsbLink *>(t->owner);
        if (links_.count(link)) link->completed(*t);
    }
}

bool Bench::run_usb(unsigned max_slots) {
    dispatch_usb();
    const uint64_t before = usb_->now();
    bool busy = usb_->run(max_slots);
    // The bus lets its time pass on the bench's target; the boards' own targets
    // follow the same clock.
    const uint64_t ns = (usb_->now() - before) * 1000000 / ezusb::TICKS_PER_MS;
    if (ns)
        for (auto &[n, t] : board_targets_) t->elapse_ns(ns);
    dispatch_usb();
    return busy;
}

void Bench::add_usb_board(const BenchConfig::Usb &u) {
    ezusb::ChipSettings chip;
    for (auto &[name, on] : u.chip_settings) {
        if (name == "out_armed_at_reset") chip.out_armed_at_reset = on;
        else if (name == "alias_1b40") chip.alias_1b40 = on;
        else if (name == "int2_repulse") chip.int2_repulse = on;
        else if (name == "a0_cpucs_only_reset_bit") chip.a0_cpucs_only_reset_bit = on;
        else throw std::invalid_argument("no chip setting \"" + name + "\"");
    }
    std::unique_ptr<Target> own;
    if (u.own_chain) own = std::make_unique<Target>(u.chain, target_->powered());
    if (own) usb_->add_board(u.number, u.board, *own, chip);
    else usb_->add_board(u.number, u.board, chip);
    // The board that was replaced is gone: its target may go too.
    if (own) board_targets_[u.number] = std::move(own);
    else board_targets_.erase(u.number);
}

const Target &Bench::board_target(int number) const {
    auto it = board_targets_.find(number);
    return it == board_targets_.end() ? *target_ : *it->second;
}

std::string Bench::usb_request(std::string_view value) {
    Words w = split_option(value);
    if (w.value.empty()) { // "N:BOARD" or "N:BOARD:DEVICES"
        BenchConfig parsed;
        apply_bench_option(parsed, "usb", value);
        auto &u = parsed.usb.at(0);
        catch_up_wall_clock();
        add_usb_board(u);
        std::string chain;
        if (u.own_chain)
            chain = ", chain of " + std::to_string(u.chain.size()) + (u.chain.size() == 1 ? " device" : " devices");
        return "usb " + std::to_string(u.number) + ": " + u.board + chain + "\n";
    }
    int n = -1;
    try {
        size_t used = 0;
        n = std::stoi(w.key, &used);
        if (used != w.key.size()) n = -1;
    } catch (const std::exception &) {
    }
    ezusb::Board *b = n >= 0 ? usb_->board(n) : nullptr;
    if (!b) throw std::invalid_argument("no usb board " + w.key);
    if (w.value == "unplug") usb_->unplug(n);
    else if (w.value == "plug") usb_->plug(n);
    else if (w.value == "reset-counts") b->reset_counts();
    else throw std::invalid_argument("usb N unplug|plug|reset-counts");
    return "usb " + std::to_string(n) + " " + w.value + "\n";
}

void Bench::catch_up_wall_clock() {
    auto now = std::chrono::steady_clock::now();
    auto gap = std::chrono::duration_cast<std::chrono::nanoseconds>(now - last_wall_).count();
    last_wall_ = now;
    if (gap <= 0) return;
    target_->elapse_ns(static_cast<uint64_t>(gap));
    for (auto &[n, t] : board_targets_) t->elapse_ns(static_cast<uint64_t>(gap));
}

std::string Bench::status_text() const {
    std::string s = target_->status_text();
    if (!s.empty() && s.back() != '\n') s += '\n';
    if (ports_.empty()) s += "ports: none\n";
    for (auto &[base, p] : ports_)
        s += "port " + hex4(base) + ": cable " + p->cable_name() + ", reads " + std::to_string(p->reads()) +
             ", writes " + std::to_string(p->writes()) + "\n";
    for (auto &[n, b] : usb_->boards()) {
        s += "usb " + std::to_string(n) + ": " + b->kind() + ", " + (b->attached() ? "attached" : "detached") + ", " +
             hex4_lower(b->vid()) + ":" + hex4_lower(b->pid()) + ", strings";
        if (b->strings().empty()) s += " none";
        for (auto &str : b->strings()) s += " " + nlohmann::json(str).dump();
        s += ", loads " + std::to_string(b->loads()) + ", cycles " + std::to_string(b->cycles()) + ", packets out " +
             std::to_string(b->packets_out()) + " in " + std::to_string(b->packets_in()) + ", naks " +
             std::to_string(b->naks()) + ", bulk_us " + std::to_string(b->bulk_us()) + "\n";
        // A chain of the board's own follows its line, indented.
        if (board_targets_.count(n)) {
            std::istringstream chain(board_targets_.at(n)->status_text());
            for (std::string line; std::getline(chain, line);) s += "    " + line + "\n";
        }
    }
    return s;
}

std::string Bench::status_json() const {
    nlohmann::ordered_json j;
    j["target"] = nlohmann::ordered_json::parse(target_->status_json());
    j["ports"] = nlohmann::ordered_json::array();
    for (auto &[base, p] : ports_)
        j["ports"].push_back(
            {{"base", "0x" + hex4(base)}, {"cable", p->cable_name()}, {"reads", p->reads()}, {"writes", p->writes()}});
    j["usb"] = nlohmann::ordered_json::array();
    for (auto &[n, b] : usb_->boards()) j["usb"].push_back(usb_board_json(*b, board_target(n), board_targets_.count(n) != 0));
    return j.dump() + "\n";
}

std::string Bench::request(std::string_view text, bool &ok) {
    ok = true;
    Words o = split_option(text);
    try {
        if (o.key == "status") {
            if (o.value.empty()) return status_text();
            if (o.value == "--json") return status_json();
            throw std::invalid_argument("status takes only --json");
        }
        if (o.key == "power") {
            if (o.value != "on" && o.value != "off") throw std::invalid_argument("power wants on or off");
            catch_up_wall_clock();
            // One supply feeds every target, the boards' own chains included.
            target_->set_power(o.value == "on");
            for (auto &[n, t] : board_targets_) t->set_power(o.value == "on");
            return std::string("power ") + (target_->powered() ? "on" : "off") + "\n";
        }
        if (o.key == "chain") {
            catch_up_wall_clock();
            target_->set_chain(parse_chain(o.value));
            const size_t n = target_->size();
            return "chain of " + std::to_string(n) + (n == 1 ? " device\n" : " devices\n");
        }
        if (o.key == "program") {
            // A PROGRAM pulse on one FPGA, as from a button on the board: it
            // clears its configuration with the supply on.
            const bool digits = !o.value.empty() && o.value.size() < 3 &&
                                o.value.find_first_not_of("0123456789") == std::string_view::npos;
            const size_t n = digits ? std::stoul(std::string(o.value)) : target_->size();
            Spartan2 *f = n < target_->size() ? target_->spartan(n) : nullptr;
            if (!f) throw std::invalid_argument("program N: N is the index of a Spartan-II in the chain");
            if (!target_->powered()) throw std::invalid_argument("program N: the supply is off");
            catch_up_wall_clock();
            const bool level = f->program_pin();
            f->set_program(false);
            f->set_program(level);
            return "program " + std::to_string(n) + "\n";
        }
        if (o.key == "port") return set_port(o.value) + "\n";
        if (o.key == "usb") return usb_request(o.value);
        if (o.key == "trace") {
            // "trace BASE on|off" records accesses; "trace BASE" lists them.
            Words t = split_option(o.value);
            Port *p = port(parse_port_base(t.key));
            if (!p) throw std::invalid_argument("no port at " + t.key);
            if (t.value == "on" || t.value == "off") {
                p->trace(t.value == "on");
                return "trace " + hex4(p->base()) + " " + t.value + "\n";
            }
            if (!t.value.empty()) throw std::invalid_argument("trace BASE [on|off]");
            std::string s;
            for (auto &a : p->accesses()) {
                char line[32];
                std::snprintf(line, sizeof line, "%c %04X %02X\n", a.op, a.addr, a.value);
                s += line;
            }
            return s;
        }
        if (o.key == "counts" && o.value == "reset") {
            for (auto &[b, p] : ports_) p->reset_counts();
            return "counts reset\n";
        }
        throw std::invalid_argument("unknown request \"" + std::string(trim(text)) + "\"");
    } catch (const std::exception &e) {
        ok = false;
        return std::string("error: ") + e.what() + "\n";
    }
}

} // namespace bench
