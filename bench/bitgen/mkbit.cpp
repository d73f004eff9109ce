#include "bitgen.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

namespace bench {

namespace {

const char mkbit_usage[] =
    "usage: vokbench mkbit --part PART -o FILE [--design NAME] [--date D] [--time T]\n"
    "                      [--startup jtag|cclk] [--seed S] [--corrupt WORD]\n"
    "  PART: 2s15 2s30 2s50 2s100 2s150 2s200\n";

// Decimal, or hexadecimal with 0x; a leading zero does not mean octal.
bool parse_u64(const char *s, uint64_t &out) {
    if (!*s || *s == '-')
        return false;
    const bool hex = s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
    errno = 0;
    char *end = nullptr;
    unsigned long long v = std::strtoull(hex ? s + 2 : s, &end, hex ? 16 : 10);
    if (errno || *end)
        return false;
    out = v;
    return true;
}

} // namespace

int mkbit_command(int argc, char **argv) {
    BitgenOptions opt;
    std::string out;
    bool have_part = false;
    for (int i = 0; i < argc; i++) {
        std::string a = argv[i];
        auto value = [&](const char *name) -> const char * {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "mkbit: %s needs a value\n%s", name, mkbit_usage);
                return nullptr;
            }
            return argv[++i];
        };
        const char *v = nullptr;
        if (a == "--part") {
            if (!(v = value("--part")))
                return 2;
            opt.part = v;
            have_part = true;
        } else if (a == "-o") {
            if (!(v = value("-o")))
                return 2;
            out = v;
        } else if (a == "--design") {
            if (!(v = value("--design")))
                return 2;
            opt.design = v;
        } else if (a == "--date") {
            if (!(v = value("--date")))
                return 2;
            opt.date = v;
        } else if (a == "--time") {
            if (!(v = value("--time")))
                return 2;
            opt.time = v;
        } else if (a == "--startup") {
            if (!(v = value("--startup")))
                return 2;
            if (std::strcmp(v, "jtag") == 0)
                opt.startup_jtag = true;
            else if (std::strcmp(v, "cclk") == 0)
                opt.startup_jtag = false;
            else {
                std::fprintf(stderr, "mkbit: --startup must be jtag or cclk, not '%s'\n", v);
                return 2;
            }
        } else if (a == "--seed") {
            if (!(v = value("--seed")))
                return 2;
            if (!parse_u64(v, opt.seed)) {
                std::fprintf(stderr, "mkbit: --seed must be a number, not '%s'\n", v);
                return 2;
            }
        } else if (a == "--corrupt") {
            if (!(v = value("--corrupt")))
                return 2;
            uint64_t w = 0;
            if (!parse_u64(v, w) || w > (1ull << 40)) {
                std::fprintf(stderr, "mkbit: --corrupt must be a word index, not '%s'\n", v);
                return 2;
            }
            opt.corrupt_word = (long long)w;
        } else if (a == "-h" || a == "--help") {
            std::fputs(mkbit_usage, stdout);
            return 0;
        } else {
            std::fprintf(stderr, "mkbit: unknown argument '%s'\n%s", a.c_str(), mkbit_usage);
            return 2;
        }
    }
    if (!have_part || out.empty()) {
        std::fprintf(stderr, "mkbit: --part and -o are required\n%s", mkbit_usage);
        return 2;
    }
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

} // namespace bench
