#include "run8051.h"

#include "an2131.h"
#include "../command_line.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace bench::ezusb {

namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ends_with(const std::string &s, const char *suffix) {
    const std::string x(suffix);
    if (s.size() < x.size()) return false;
    for (size_t i = 0; i < x.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - x.size() + i])) != x[i]) return false;
    return true;
}

std::string hex_string(const uint8_t *p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    s.reserve(2 * n);
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

[[noreturn]] void fail_line(size_t line, const std::string &what) {
    throw std::runtime_error("line " + std::to_string(line) + ": " + what);
}

} // namespace

std::vector<uint8_t> parse_intel_hex(const std::string &text) {
    std::vector<uint8_t> image;
    std::istringstream in(text);
    std::string raw;
    size_t line = 0;
    uint32_t base = 0;  // from extended address records
    bool end = false;
    while (std::getline(in, raw)) {
        ++line;
        while (!raw.empty() && (raw.back() == '\r' || raw.back() == ' ' || raw.back() == '\t')) raw.pop_back();
        if (raw.empty()) continue;
        if (end) fail_line(line, "data after the end-of-file record");
        if (raw[0] != ':' || raw.size() < 11 || raw.size() % 2 == 0) fail_line(line, "not an Intel HEX record");
        std::vector<uint8_t> rec;
        for (size_t i = 1; i < raw.size(); i += 2) {
            int hi = hex_digit(raw[i]), lo = hex_digit(raw[i + 1]);
            if (hi < 0 || lo < 0) fail_line(line, "not an Intel HEX record");
            rec.push_back(static_cast<uint8_t>(hi << 4 | lo));
        }
        const size_t count = rec[0];
        if (rec.size() != count + 5) fail_line(line, "byte count does not match the record");
        uint8_t sum = 0;
        for (uint8_t b : rec) sum = static_cast<uint8_t>(sum + b);
        if (sum != 0) fail_line(line, "checksum error");
        const uint32_t addr = base + (rec[1] << 8 | rec[2]);
        switch (rec[3]) {
        case 0x00:
            for (uint32_t a = addr; a < addr + count; ++a)
                if (An2131::download_address(a) < 0)
                    fail_line(line, "data outside the internal RAM (0000-1b3f, endpoint buffers 1b40-1f3f)");
            if (image.size() < addr + count) image.resize(addr + count, 0);
            std::copy(rec.begin() + 4, rec.begin() + 4 + count, image.begin() + addr);
            break;
        case 0x01: end = true; break;
        case 0x02: base = (rec[4] << 8 | rec[5]) << 4; break;
        case 0x04: base = static_cast<uint32_t>(rec[4] << 8 | rec[5]) << 16; break;
        case 0x03: case 0x05: break;  // start address: the 8051 starts at 0 anyway
        default: fail_line(line, "unknown record type");
        }
        if ((rec[3] == 0x02 || rec[3] == 0x04) && count != 2) fail_line(line, "bad address record");
    }
    if (!end) throw std::runtime_error("no end-of-file record");
    return image;
}

std::vector<uint8_t> read_firmware_image(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) throw std::runtime_error("cannot open");
    std::string data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (f.bad()) throw std::runtime_error("cannot read");
    if (ends_with(path, ".ihx") || ends_with(path, ".hex")) return parse_intel_hex(data);
    if (data.size() > An2131::RAM_END)
        throw std::runtime_error("image of " + std::to_string(data.size()) +
                                 " bytes does not fit the internal RAM (0000-1b3f)");
    return std::vector<uint8_t>(data.begin(), data.end());
}

bool parse_xram_range(const std::string &text, uint16_t &from, uint16_t &to) {
    auto number = [](std::string s, uint16_t &out) {
        if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s = s.substr(2);
        if (s.empty() || s.size() > 4) return false;
        unsigned v = 0;
        for (char c : s) {
            int d = hex_digit(c);
            if (d < 0) return false;
            v = v << 4 | static_cast<unsigned>(d);
        }
        out = static_cast<uint16_t>(v);
        return true;
    };
    const size_t colon = text.find(':');
    if (colon == std::string::npos) return false;
    return number(text.substr(0, colon), from) && number(text.substr(colon + 1), to) && from <= to;
}

Run8051Result run_8051(std::span<const uint8_t> image, uint64_t max_cycles, uint16_t xram_from,
                       uint16_t xram_to) {
    auto chip = std::make_unique<An2131>();
    chip->load(0, image);
    chip->set_reset(false);
    Cpu8051 &cpu = chip->cpu();
    Run8051Result r;
    while (cpu.cycles() < max_cycles) {
        cpu.step();
        if (cpu.at_self_jump()) {
            r.self_jump = true;
            break;
        }
    }
    std::array<uint8_t, 128> sfr{};
    for (unsigned i = 0; i < sfr.size(); ++i) sfr[i] = cpu.sfr(static_cast<uint8_t>(0x80 + i));
    std::vector<uint8_t> xram;
    for (uint32_t a = xram_from; a <= xram_to; ++a) xram.push_back(chip->peek(static_cast<uint16_t>(a)));
    nlohmann::ordered_json j;
    j["pc"] = cpu.pc();
    j["a"] = cpu.sfr(0xE0);
    j["b"] = cpu.sfr(0xF0);
    j["psw"] = cpu.sfr(0xD0);
    j["sp"] = cpu.sfr(0x81);
    j["dps"] = cpu.sfr(0x86);
    j["dptr0"] = cpu.dptr(0);
    j["dptr1"] = cpu.dptr(1);
    j["iram"] = hex_string(cpu.iram().data(), cpu.iram().size());
    j["sfr"] = hex_string(sfr.data(), sfr.size());
    j["xram"] = hex_string(xram.data(), xram.size());
    j["cycles"] = cpu.cycles();
    r.json = j.dump();
    return r;
}

} // namespace bench::ezusb

namespace bench {

namespace {

struct Run8051Args {
    std::string image;
    uint64_t cycles = 10'000'000;
    std::string xram = "0:1b3f";
};

int run_8051_command(const Run8051Args &a) {
    uint16_t from = 0, to = 0;
    if (!ezusb::parse_xram_range(a.xram, from, to)) {
        std::fprintf(stderr, "vokbench 8051: --xram takes FROM:TO in hexadecimal (FROM <= TO <= FFFF), not '%s'\n",
                     a.xram.c_str());
        return 2;
    }
    std::vector<uint8_t> image;
    try {
        image = ezusb::read_firmware_image(a.image);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "vokbench 8051: %s: %s\n", a.image.c_str(), e.what());
        return 1;
    }
    ezusb::Run8051Result r = ezusb::run_8051(image, a.cycles, from, to);
    std::printf("%s\n", r.json.c_str());
    std::fflush(stdout);
    return r.self_jump ? 0 : 3;
}

} // namespace

CLI::App *add_8051_command(CLI::App &app) {
    auto *cmd = app.add_subcommand(
        "8051", "run a firmware image on a bare EZ-USB chip from reset until an instruction that jumps to "
                "itself has run once (status 0) or the cycle limit (status 3); print the state as JSON");
    auto args = std::make_shared<Run8051Args>();
    cmd->add_option("IMAGE", args->image, "raw binary, or Intel HEX when the name ends in .ihx or .hex")
        ->required();
    cmd->add_option("--cycles", args->cycles, "machine cycles to run at most")->capture_default_str()->type_name("N");
    cmd->add_option("--xram", args->xram, "xdata range to print, hexadecimal, TO included")
        ->capture_default_str()
        ->type_name("FROM:TO");
    cmd->callback([args] { throw CLI::RuntimeError(run_8051_command(*args)); });
    return cmd;
}

} // namespace bench
