#include "served_bench.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <regex>
#include <sstream>

#include "usb.h"

namespace testsupport {
namespace {

std::string upper_hex(std::string s) {
    if (s.rfind("0x", 0) == 0 || s.rfind("0X", 0) == 0) s = s.substr(2);
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return s;
}

// An XC2S200 bitstream is 1,335,840 bits in blocks of 65,536: the block that
// begins at the first is the eleventh of 21, at the second the last.
const std::string HALF_WAY = "Configration bit  655360 to -";
const std::string LAST_BLOCK = "Configration bit 1310720 to -";

} // namespace

std::string bin(const std::string &name) { return std::string(VOK_BIN_DIR) + "/" + name; }

bool has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

Bitstream mkbit(const TempDir &dir, const std::string &part, const std::string &name,
                const std::vector<std::string> &extra) {
    Bitstream b{dir / name, ""};
    std::vector<std::string> argv = {bin("vokbench"), "mkbit", "--part", part, "-o", b.path};
    argv.insert(argv.end(), extra.begin(), extra.end());
    Result r = run(argv, dir.path(), 30);
    EXPECT_EQ(r.status, 0) << r.out;
    std::smatch m;
    static const std::regex hex16("(0[xX])?([0-9A-Fa-f]{16})\\b");
    if (std::regex_search(r.out, m, hex16)) b.digest = upper_hex(m[2]);
    EXPECT_FALSE(b.digest.empty()) << "no digest in: " << r.out;
    return b;
}

BenchState parse_state(const std::string &text) {
    BenchState s;
    static const std::regex supply("^supply: (on|off)");
    static const std::regex dev("^  (\\d+): (\\S+) IDCODE");
    static const std::regex cfg("configured (yes|no), DONE (\\d), INIT (\\d), status \\S+, CRC errors (\\d+), "
                                "frames written (\\d+), configurations (\\d+)");
    static const std::regex digest("memory digest (\\S+)");
    static const std::regex port("^port ([0-9A-F]{4}): cable (\\S+), reads (\\d+), writes (\\d+)");
    std::istringstream in(text);
    std::string line;
    int current = -1;
    std::smatch m;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // The last progress line of vokusb may share a line with what follows.
        if (size_t cr = line.rfind('\r'); cr != std::string::npos) line = line.substr(cr + 1);
        if (std::regex_search(line, m, supply)) {
            s.powered = m[1] == "on";
        } else if (std::regex_search(line, m, dev)) {
            current = std::stoi(m[1]);
            s.devices[current].part = m[2];
        } else if (current >= 0 && std::regex_search(line, m, cfg)) {
            DeviceState &d = s.devices[current];
            d.configured = m[1] == "yes";
            d.done = m[2] == "1";
            d.init = m[3] == "1";
            d.crc_errors = std::stoi(m[4]);
            d.frames_written = std::stol(m[5]);
            d.configurations = std::stoi(m[6]);
        } else if (current >= 0 && std::regex_search(line, m, digest)) {
            s.devices[current].digest = upper_hex(m[1]);
        } else if (std::regex_search(line, m, port)) {
            s.ports[m[1]] = {m[2], std::stol(m[3]), std::stol(m[4])};
        }
    }
    return s;
}

long usb_field(const std::string &state, const std::string &key) {
    size_t line = state.find("usb 0:");
    size_t at = line == std::string::npos ? line : state.find(key + " ", line);
    return at == std::string::npos ? -1 : std::stol(state.substr(at + key.size() + 1));
}

Result ctl(const std::string &socket, const std::string &request) {
    std::vector<std::string> argv = {bin("vokbench"), "ctl", "--socket", socket};
    std::istringstream words(request);
    for (std::string w; words >> w;) argv.push_back(w);
    return run(argv, "", 20);
}

void ServedBench::TearDown() { ::unsetenv("VOKBENCH"); }

void ServedBench::serve(const std::vector<std::string> &options, bool usb_board) {
    std::vector<std::string> argv = {bin("vokbench"), "serve", "--socket", socket};
    argv.insert(argv.end(), options.begin(), options.end());
    bench = std::make_unique<Background>(argv, dir.path(), dir / "bench.log");
    ASSERT_TRUE(wait_until([&] { return ctl("status").status == 0; }, 10)) << "the bench did not come up: "
                                                                           << bench->output();
    ::setenv("VOKBENCH", socket.c_str(), 1);
    if (usb_board) {
        ASSERT_TRUE(usb_board_enumerated()) << "the board never enumerated";
    }
}

bool ServedBench::usb_board_enumerated() {
    return wait_until(
        [] {
            vokhw::usb_wait_ms(50);
            return !vokhw::usb_list_boards().empty();
        },
        10);
}

nlohmann::json ServedBench::status_json() {
    Result r = ctl("status --json");
    EXPECT_EQ(r.status, 0) << r.out;
    return nlohmann::json::parse(r.out, nullptr, false);
}

Result ServedBench::vokusb(const std::vector<std::string> &args, double timeout_s) {
    std::vector<std::string> argv{bin("vokusb")};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv, dir.path(), timeout_s, {{"VOKBENCH", socket}});
}

std::unique_ptr<Background> ServedBench::start_vokusb(const std::vector<std::string> &args,
                                                      const std::string &log) {
    std::vector<std::string> argv{bin("vokusb")};
    argv.insert(argv.end(), args.begin(), args.end());
    return std::make_unique<Background>(argv, dir.path(), dir / log, Env{{"VOKBENCH", socket}});
}

ServedBench::Unplugged ServedBench::unplug_mid_run(const std::vector<std::string> &args) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        const Result load = vokusb(args);
        EXPECT_EQ(load.status, 0) << load.out;
        Unplugged cut{start_vokusb(args)};
        Background &run = *cut.run;
        EXPECT_TRUE(wait_until([&] { return has(run.output(), "Configration bit"); }, 60)) << run.output();
        const Result unplug = ctl("usb 0 unplug");
        EXPECT_EQ(unplug.status, 0) << unplug.out;
        const auto unplugged = std::chrono::steady_clock::now();
        if (!run.wait(60)) {
            ADD_FAILURE() << "vokusb hangs: " << run.output();
            return {};
        }
        cut.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - unplugged).count();
        if (run.status() != 0) return cut;
        EXPECT_EQ(ctl("usb 0 plug").status, 0);
        EXPECT_TRUE(usb_board_enumerated());
    }
    ADD_FAILURE() << "the unplug never fell into a configuration";
    return {};
}

void ServedBench::freeze_half_way(Background &run) {
    ASSERT_TRUE(wait_until([&] { return has(run.output(), HALF_WAY); }, 60, 1)) << run.output();
    ASSERT_GT(run.pid(), 0) << "the run ended early: " << run.output();
    ASSERT_EQ(::kill(run.pid(), SIGSTOP), 0);
    ASSERT_FALSE(has(run.output(), LAST_BLOCK)) << "the run passed its last block before it froze";
}

} // namespace testsupport
