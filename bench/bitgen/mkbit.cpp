#include "bitgen.h"
#include "../command_line.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

namespace bench {

namespace {

struct MkbitArgs {
    BitgenOptions opt;
    std::string out;
    std::string startup = "jtag";
    std::string seed = "1";
    std::string corrupt;
};

// Decimal, or hexadecimal with 0x; a leading zero does not mean octal.
bool parse_u64(const std::string &text, uint64_t &out) {
    const char *s = text.c_str();
    if (!*s || *s == '-')
        return false;
    const bool hex = s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
    errno = 0;
    char *end = nullptr;
    unsigned long long v = std::strtoull(hex ? s + 2 : s, &end, hex ? 16 : 10);
    if (errno || *end || end == (hex ? s + 2 : s))
        return false;
    out = v;
    return true;
}

CLI::Validator number(const char *what, uint64_t max) {
    return CLI::Validator(
        [what, max](std::string &v) -> std::string {
            uint64_t n = 0;
            if (!parse_u64(v, n) || n > max)
                return std::string("must be ") + what + " (decimal or 0x hexadecimal), not '" + v + "'";
            return {};
        },
        "");
}

void add_mkbit_options(CLI::App &cmd, MkbitArgs &a) {
    cmd.add_option("--part", a.opt.part, "2s15 2s30 2s50 2s100 2s150 2s200")->required()->type_name("PART");
    cmd.add_option("-o", a.out, "the .bit file to write")->required()->type_name("FILE");
    cmd.add_option("--design", a.opt.design, "design name in the header")->capture_default_str()->type_name("NAME");
    cmd.add_option("--date", a.opt.date, "date in the header")->capture_default_str()->type_name("D");
    cmd.add_option("--time", a.opt.time, "time in the header")->capture_default_str()->type_name("T");
    cmd.add_option("--startup", a.startup, "start-up clock: the JTAG clock or CCLK")
        ->check(CLI::IsMember({"jtag", "cclk"}))
        ->capture_default_str();
    cmd.add_option("--seed", a.seed, "seed of the frame contents")
        ->check(number("a number", UINT64_MAX))
        ->capture_default_str()
        ->type_name("S");
    cmd.add_option("--corrupt", a.corrupt, "invert the lowest bit of this configuration word")
        ->check(number("a word index", 1ull << 40))
        ->type_name("WORD");
}

int write_bitstream(MkbitArgs &a) {
    BitgenOptions &opt = a.opt;
    opt.startup_jtag = a.startup == "jtag";
    uint64_t n = 0;
    parse_u64(a.seed, opt.seed);
    opt.corrupt_word = !a.corrupt.empty() && parse_u64(a.corrupt, n) ? (long long)n : -1;
    const std::string &out = a.out;
    Bitstream b;
    try {
        b = generate_bitstream(opt);
    } catch (const std::invalid_argument &e) {
        std::fprintf(stderr, "mkbit: %s\n", e.what());
        return 2;
    }
    FILE *f = std::fopen(out.c_str(), "wb");
    if (!f) {
        std::fprintf(stderr, "mkbit: cannot write '%s': %s\n", out.c_str(), std::strerror(errno));
        return 1;
    }
    bool ok = std::fwrite(b.file.data(), 1, b.file.size(), f) == b.file.size();
    ok = (std::fclose(f) == 0) && ok;
    if (!ok) {
        std::fprintf(stderr, "mkbit: cannot write '%s': %s\n", out.c_str(), std::strerror(errno));
        std::remove(out.c_str());
        return 1;
    }
    std::printf("%s: %s, %zu configuration bytes (%zu words), %zu file bytes, start-up %s, digest %016llx%s\n",
                out.c_str(), b.part->display, b.data.size(), b.words.size(), b.file.size(),
                opt.startup_jtag ? "jtag" : "cclk", static_cast<unsigned long long>(b.digest),
                opt.corrupt_word >= 0 ? " (corrupted)" : "");
    return 0;
}

} // namespace

CLI::App *add_mkbit_command(CLI::App &app) {
    auto *cmd = app.add_subcommand("mkbit", "write a synthetic Spartan-II bitstream (.bit file)");
    auto args = std::make_shared<MkbitArgs>();
    add_mkbit_options(*cmd, *args);
    cmd->callback([args] { throw CLI::RuntimeError(write_bitstream(*args)); });
    return cmd;
}

int mkbit_command(int argc, char **argv) {
    CLI::App app{"", "vokbench"};
    add_mkbit_command(app);
    std::vector<std::string> args{"mkbit"};
    args.insert(args.end(), argv, argv + argc);
    return run_command_line(app, args);
}

} // namespace bench
