// One bench: the target (supply and JTAG chain) and the parallel ports with their
// cables, set up from bench options and changed by control requests.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "lines.h"
#include "port.h"
#include "target.h"

namespace bench {

// One bench option ("chain 2s100", "power off", "port 0x378:xilinx", "usb 0:qrt")
// as written in a bench file or after "--" on the command line.
struct BenchOption {
    std::string key;
    std::string value;
};

// Reads the lines of a bench file: one option per line, '#' starts a comment.
// Throws std::runtime_error naming the file and line on a bad line.
std::vector<BenchOption> read_bench_file(const std::string &path);

// "0x378", "378", "0378" -> 0x378. Throws std::invalid_argument.
uint16_t parse_port_base(std::string_view text);

class Bench {
public:
    Bench();
    ~Bench();

    // Applies one option; throws std::invalid_argument with a readable message.
    // Returns a note for the user when the option was accepted but has no effect.
    std::string apply(const BenchOption &option);

    // A control request ("power off", "status --json", ...): the answer text, and
    // ok = false when the request was refused.
    std::string request(std::string_view text, bool &ok);

    std::string status_text() const;
    std::string status_json() const;

    // Wall-clock time since the last call passes as simulated time.
    void catch_up_wall_clock();

    Target &target() { return *target_; }
    Port *port(uint16_t base);
    // A port client claims the port at base; false when there is none or another
    // client holds it.
    bool claim(uint16_t base, const void *client);
    void release(uint16_t base, const void *client);
    void release_all(const void *client);

private:
    std::string set_port(std::string_view spec);

    std::unique_ptr<Target> target_;
    LinesOf<Target> lines_;
    std::map<uint16_t, std::unique_ptr<Port>> ports_;
    std::map<uint16_t, const void *> holders_;
    std::chrono::steady_clock::time_point last_wall_;
};

} // namespace bench
