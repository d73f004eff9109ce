// The bench's readers of words and files: the first input byte picks one, the
// rest is its text. Chains parse to something the bench can build and that reads
// back the same; numbers agree with the standard library's reading; bench files
// and bench arguments fail only with readable errors and set up a bench.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "bench.h"
#include "bench_config.h"
#include "fuzz_support.h"
#include "target.h"
#include "words.h"

namespace {

// Digits in the given base with nothing else; false when they do not fit 64 bits.
bool std_number(std::string_view s, int base, uint64_t &out)
{
    if (s.empty())
        return false;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), out, base);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

std::string_view without_0x(std::string_view s)
{
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
        s.remove_prefix(2);
    return s;
}

std::string device_word(const bench::DeviceSpec &d)
{
    char w[48];
    switch (d.kind) {
    case bench::DeviceSpec::Kind::Generic:
        std::snprintf(w, sizeof w, "dev:0x%08X:%d", unsigned(d.idcode), d.ir_len);
        return w;
    case bench::DeviceSpec::Kind::Spartan2:
        return d.part + ":v" + std::to_string(d.idcode >> 28);
    default:
        return d.part;
    }
}

void chain(std::string_view text)
{
    std::vector<bench::DeviceSpec> specs;
    try {
        specs = bench::parse_chain(text);
    } catch (const std::invalid_argument &e) {
        fuzz::require(*e.what() != '\0', "a refused chain says why");
        return;
    }
    fuzz::require(specs.size() <= bench::max_chain_devices, "a chain holds at most the bench's limit");
    try {
        bench::Target target(specs);
        fuzz::require(target.size() == specs.size(), "the bench builds every device of the chain");
    } catch (const std::exception &) {
        fuzz::require(false, "a chain that parses can be built");
    }
    std::string words;
    for (const auto &d : specs)
        words += (words.empty() ? "" : ",") + device_word(d);
    const auto again = bench::parse_chain(words);
    fuzz::require(again.size() == specs.size(), "a chain written back reads the same");
    for (size_t i = 0; i < specs.size(); ++i)
        fuzz::require(again[i].kind == specs[i].kind && again[i].part == specs[i].part &&
                          again[i].idcode == specs[i].idcode && again[i].ir_len == specs[i].ir_len,
                      "a chain written back reads the same");
}

void number(std::string_view text)
{
    if (text.empty())
        return;
    constexpr uint64_t maxima[] = {15, 255, 0xFFFD, 0xFFFFFFFF, UINT64_MAX};
    const bool hex = text[0] & 1;
    const uint64_t max = maxima[uint8_t(text[0]) / 2 % 5];
    text.remove_prefix(1);
    uint64_t got = 0, want = 0;
    const bool ok = bench::parse_uint(text, hex, max, got);
    const std::string_view digits = hex ? without_0x(text) : text;
    const bool std_ok = std_number(digits, hex ? 16 : 10, want);
    if (ok)
        fuzz::require(std_ok && got == want && got <= max, "an accepted number is the number written");
    else
        fuzz::require(!std_ok || want > max || digits.size() > 16, "a number that fits is accepted");
}

void port_base(std::string_view text)
{
    uint16_t base = 0;
    try {
        base = bench::parse_port_base(text);
    } catch (const std::invalid_argument &) {
        return;
    }
    uint64_t want = 0;
    fuzz::require(std_number(without_0x(text), 16, want) && want == base && base != 0,
                  "a port base is the nonzero hexadecimal number written");
}

// A configuration that parsed sets a bench up, or is refused with a readable error.
void set_up(const bench::BenchConfig &cfg)
{
    bench::Bench b;
    try {
        b.configure(cfg);
    } catch (const std::invalid_argument &e) {
        fuzz::require(*e.what() != '\0', "a refused bench says why");
        return;
    }
    fuzz::require(nlohmann::json::accept(b.status_json()), "the bench's status is valid JSON");
}

void bench_text(std::string_view text)
{
    bench::BenchConfig cfg;
    try {
        bench::read_bench_text(cfg, text, "input");
    } catch (const std::invalid_argument &e) {
        fuzz::require(std::string_view(e.what()).rfind("input:", 0) == 0,
                      "an error in a bench file names the file and the line");
        return;
    }
    set_up(cfg);
}

// Arguments separated by NUL bytes, then after a 0xFF byte the file "bench.cfg".
void bench_args(std::string_view text)
{
    const auto pieces = fuzz::split(text, '\xff');
    fuzz::clear_scratch_dir();
    if (pieces.size() > 1)
        fuzz::write_file("bench.cfg", pieces[1]);
    std::vector<std::string> args;
    for (auto a : fuzz::split(pieces[0], '\0'))
        if (a.find('/') == std::string_view::npos) // files stay in the scratch folder
            args.emplace_back(a);
    bench::BenchConfig cfg;
    std::vector<std::string> rest;
    try {
        rest = bench::parse_bench_args(cfg, args);
    } catch (const std::invalid_argument &) {
        return;
    } catch (const std::runtime_error &) {
        return;
    }
    auto at = args.begin();
    for (const auto &r : rest) {
        at = std::find(at, args.end(), r);
        fuzz::require(at != args.end(), "the arguments left over keep their order");
        ++at;
    }
    set_up(cfg);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::enter_scratch_dir(); // --config names files relative to here
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const std::string_view text = fuzz::as_text(data + 1, size - 1);
    switch (data[0] % 5) {
    case 0: chain(text); break;
    case 1: number(text); break;
    case 2: port_base(text); break;
    case 3: bench_text(text); break;
    default: bench_args(text); break;
    }
    return 0;
}
