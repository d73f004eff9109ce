#include "bench_config.h"
#include "words.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace bench {

namespace {

bool is_bench_option(std::string_view n) {
    return n == "chain" || n == "power" || n == "port" || n == "usb" || n == "config";
}

} // namespace

const std::vector<std::string> &chip_setting_names() {
    static const std::vector<std::string> names{"out_armed_at_reset", "alias_1b40", "int2_repulse",
                                                "a0_cpucs_only_reset_bit"};
    return names;
}

void apply_bench_option(BenchConfig &cfg, std::string_view name_in, std::string_view value_in) {
    std::string name = trim(name_in), value = trim(value_in);
    if (name == "chain") {
        cfg.chain = parse_chain(value);
    } else if (name == "power") {
        if (value == "on")
            cfg.power = true;
        else if (value == "off")
            cfg.power = false;
        else
            throw std::invalid_argument("power must be on or off, not '" + value + "'");
    } else if (name == "port") {
        size_t colon = value.find(':');
        uint64_t base = 0;
        if (colon == std::string::npos || !parse_uint(value.substr(0, colon), true, 0xFFFD, base))
            throw std::invalid_argument("port must be BASE:CABLE with a hex base address, not '" + value + "'");
        std::string cable = value.substr(colon + 1);
        // xilinx-ss and altera-ss: the cable's leads on the slave-serial pins. Settings of
        // the cable model may follow as +SETTING=0|1; the cable model checks them.
        const std::string kind = cable.substr(0, cable.find('+'));
        if (kind != "xilinx" && kind != "altera" && kind != "none" && kind != "xilinx-ss" && kind != "altera-ss")
            throw std::invalid_argument("port cable must be xilinx, altera, xilinx-ss, altera-ss or none, not '" +
                                        cable + "'");
        for (auto &p : cfg.ports) {
            if (p.base == base) {
                p.cable = cable;
                return;
            }
        }
        cfg.ports.push_back({uint16_t(base), cable});
    } else if (name == "usb") {
        size_t colon = value.find(':');
        uint64_t n = 0;
        if (colon == std::string::npos || !parse_uint(value.substr(0, colon), false, 255, n))
            throw std::invalid_argument("usb must be N:BOARD or N:BOARD:DEVICES with a board number, not '" +
                                        value + "'");
        // Board words hold no colon; the chain after the second one may (2s15:v1).
        size_t chain_colon = value.find(':', colon + 1);
        BenchConfig::Usb u;
        u.number = int(n);
        u.board = value.substr(colon + 1, chain_colon - colon - 1);
        // "+SETTING=0|1" items after the board word.
        for (size_t plus = u.board.rfind('+'); plus != std::string::npos; plus = u.board.rfind('+')) {
            std::string item = u.board.substr(plus + 1);
            u.board.erase(plus);
            size_t eq = item.find('=');
            std::string setting = item.substr(0, eq);
            const auto &names = chip_setting_names();
            if (eq == std::string::npos || (item.substr(eq + 1) != "0" && item.substr(eq + 1) != "1") ||
                std::find(names.begin(), names.end(), setting) == names.end())
                throw std::invalid_argument("usb board setting must be SETTING=0|1 with SETTING one of "
                                            "out_armed_at_reset, alias_1b40, int2_repulse, "
                                            "a0_cpucs_only_reset_bit, not '" + item + "'");
            u.chip_settings.insert(u.chip_settings.begin(), {setting, item.back() == '1'});
        }
        if (u.board != "an2135sc-jtag" && u.board != "an2135sc-ss" && u.board != "spi" && u.board != "qrt" &&
            u.board != "ulink")
            throw std::invalid_argument("usb board must be an2135sc-jtag, an2135sc-ss, spi, qrt or ulink, not '" +
                                        u.board + "'");
        if (chain_colon != std::string::npos) {
            u.chain = parse_chain(value.substr(chain_colon + 1));
            u.own_chain = true;
        }
        for (auto &old : cfg.usb) {
            if (old.number == u.number) {
                old = u;
                return;
            }
        }
        cfg.usb.push_back(u);
    } else {
        throw std::invalid_argument("unknown bench option '" + name + "' (chain, power, port, usb)");
    }
}

void read_bench_text(BenchConfig &cfg, std::string_view text, std::string_view origin) {
    std::istringstream in{std::string(text)};
    std::string line;
    int lineno = 0;
    while (std::getline(in, line)) {
        lineno++;
        size_t hash = line.find('#');
        if (hash != std::string::npos)
            line.erase(hash);
        std::string t = trim(line);
        if (t.empty())
            continue;
        size_t sp = 0;
        while (sp < t.size() && !std::isspace(static_cast<unsigned char>(t[sp])) && t[sp] != '=')
            sp++;
        std::string name = t.substr(0, sp);
        std::string value = sp < t.size() ? trim(std::string_view(t).substr(sp + 1)) : std::string();
        if (name.rfind("--", 0) == 0)
            name = name.substr(2);
        try {
            apply_bench_option(cfg, name, value);
        } catch (const std::invalid_argument &e) {
            throw std::invalid_argument(std::string(origin) + ":" + std::to_string(lineno) + ": " + e.what());
        }
    }
}

void read_bench_file(BenchConfig &cfg, const std::string &path) {
    // Bench files are a few lines; a bound keeps a link to /dev/zero from filling memory.
    constexpr size_t LIMIT = 1 << 20;
    std::ifstream f(path, std::ios::binary);
    if (!f)
        throw std::runtime_error("cannot read bench file '" + path + "'");
    std::string text(LIMIT + 1, '\0');
    f.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(f.gcount()));
    if (text.size() > LIMIT)
        throw std::runtime_error("bench file '" + path + "' is longer than 1 MiB; a bench file holds a few lines");
    read_bench_text(cfg, text, path);
}

std::vector<std::string> parse_bench_args(BenchConfig &cfg, const std::vector<std::string> &args) {
    std::vector<std::string> rest;
    for (size_t i = 0; i < args.size(); i++) {
        const std::string &a = args[i];
        if (a == "--") {
            rest.insert(rest.end(), args.begin() + long(i), args.end());
            break;
        }
        if (a.rfind("--", 0) != 0) {
            rest.push_back(a);
            continue;
        }
        std::string name = a.substr(2), value;
        size_t eq = name.find('=');
        bool have_value = eq != std::string::npos;
        if (have_value) {
            value = name.substr(eq + 1);
            name.erase(eq);
        }
        if (!is_bench_option(name)) {
            rest.push_back(a);
            continue;
        }
        if (!have_value) {
            if (i + 1 >= args.size())
                throw std::invalid_argument("--" + name + " needs a value");
            value = args[++i];
        }
        if (name == "config")
            read_bench_file(cfg, value);
        else
            apply_bench_option(cfg, name, value);
    }
    return rest;
}

} // namespace bench
