#include "bench_util.h"

#include <algorithm>
#include <cctype>
#include <gtest/gtest.h>
#include <regex>
#include <sstream>
#include <thread>

namespace e2e {
namespace {

std::string upper_hex(std::string s) {
    if (s.rfind("0x", 0) == 0 || s.rfind("0X", 0) == 0) s = s.substr(2);
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return s;
}

} // namespace

std::string bin(const std::string &name) { return std::string(VOK_BIN_DIR) + "/" + name; }

Bitstream mkbit(const testsupport::TempDir &dir, const std::string &part, const std::string &name,
                const std::vector<std::string> &extra) {
    Bitstream b{dir / name, ""};
    std::vector<std::string> argv = {bin("vokbench"), "mkbit", "--part", part, "-o", b.path};
    argv.insert(argv.end(), extra.begin(), extra.end());
    testsupport::Result r = testsupport::run(argv, dir.path(), 30);
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

testsupport::Result ctl(const std::string &socket, const std::string &request) {
    std::vector<std::string> argv = {bin("vokbench"), "ctl", "--socket", socket};
    std::istringstream words(request);
    for (std::string w; words >> w;) argv.push_back(w);
    return testsupport::run(argv, "", 10);
}

void BenchServedInBackground::serve(const std::vector<std::string> &options) {
    std::vector<std::string> argv = {bin("vokbench"), "serve", "--socket", socket};
    argv.insert(argv.end(), options.begin(), options.end());
    bench = std::make_unique<testsupport::Background>(argv, dir.path(), dir / "bench.log");
    for (int i = 0; i < 500; ++i) {
        if (ctl(socket, "status").status == 0) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    FAIL() << "the bench did not come up: " << bench->output();
}

} // namespace e2e
