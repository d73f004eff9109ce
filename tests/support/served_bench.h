// The end-to-end tests' bench: the built programs, bitstreams from `vokbench
// mkbit`, the bench state as `vokbench` reports it, and a bench served by
// `vokbench serve` on a socket in a private folder for the length of a test.
#pragma once

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/process.h"

namespace testsupport {

std::string bin(const std::string &name); // a file of the build's bin folder

bool has(const std::string &text, const std::string &part);

struct Bitstream {
    std::string path;
    std::string digest; // the frame-memory digest mkbit announces, upper case hex
};

// vokbench mkbit --part PART -o DIR/NAME [extra...]; fails the test on error.
Bitstream mkbit(const TempDir &dir, const std::string &part, const std::string &name,
                const std::vector<std::string> &extra = {});

struct DeviceState {
    std::string part;
    bool configured = false;
    bool done = false;
    bool init = false;
    int crc_errors = -1;
    long frames_written = -1;
    int configurations = -1;
    std::string digest; // upper case hex
};

struct PortState {
    std::string cable;
    long reads = -1, writes = -1;
};

struct BenchState {
    std::optional<bool> powered; // empty when no supply line was read
    std::map<int, DeviceState> devices;
    std::map<std::string, PortState> ports; // by "0378"
};

// Reads the state block that `vokbench run` prints and `ctl status` answers.
BenchState parse_state(const std::string &text);

// The number after "key " on the state block's line for USB board 0; -1 when absent.
long usb_field(const std::string &state, const std::string &key);

// vokbench ctl --socket SOCKET words... (the request split at spaces).
Result ctl(const std::string &socket, const std::string &request);

// A bench served in the background from a private folder for the length of a
// test; VOKBENCH names it in the test's own process too while the test runs.
class ServedBench : public ::testing::Test {
protected:
    TempDir dir{"vokbench"};
    std::string socket = dir / "bench.sock";
    std::unique_ptr<Background> bench;

    void TearDown() override;

    // vokbench serve with these bench options; returns once the bench answers
    // and, with usb_board, once the host has enumerated a USB board.
    void serve(const std::vector<std::string> &options, bool usb_board = false);
    // True once the host sees a USB board: the bench enumerates a board plugged
    // in only while the host lets simulated time pass. False after 10 s.
    static bool usb_board_enumerated();

    Result ctl(const std::string &request) { return testsupport::ctl(socket, request); }
    BenchState state() { return parse_state(ctl("status").out); }
    nlohmann::json status_json();

    // vokusb with these arguments, in the folder, against this bench.
    Result vokusb(const std::vector<std::string> &args, double timeout_s = 120);
    std::unique_ptr<Background> start_vokusb(const std::vector<std::string> &args,
                                             const std::string &log = "vokusb.log");
    // Runs vokusb with args once (the board's firmware is loaded then), starts it
    // again and unplugs USB board 0 once the data flow. The unplug comes from
    // another process and may land after the run has ended: then the board goes
    // back in and all is tried again, five times at most. The run the unplug
    // cut, with the seconds it took to end after the unplug; no run when none was.
    struct Unplugged {
        std::unique_ptr<Background> run;
        double seconds = 0;
    };
    Unplugged unplug_mid_run(const std::vector<std::string> &args);
    // Freezes a run (SIGSTOP) once its progress line has passed half of an
    // XC2S200's data, before its last block: the next step lands in the data
    // phase on any machine. The run goes on after SIGCONT.
    static void freeze_half_way(Background &run);
};

} // namespace testsupport
