// Helpers of the end-to-end tests: the built programs, bitstreams from
// `vokbench mkbit`, and the bench state as `vokbench` reports it.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/process.h"

namespace e2e {

std::string bin(const std::string &name); // a file of the build's bin folder

struct Bitstream {
    std::string path;
    std::string digest; // the frame-memory digest mkbit announces, upper case hex
};

// vokbench mkbit --part PART -o DIR/NAME [extra...]; fails the test on error.
Bitstream mkbit(const testsupport::TempDir &dir, const std::string &part, const std::string &name,
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

// vokbench ctl --socket SOCKET words...
testsupport::Result ctl(const std::string &socket, const std::string &request);

// A bench served in the background from a private folder for the length of a test.
class BenchServedInBackground : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    std::string socket = dir / "bench.sock";
    std::unique_ptr<testsupport::Background> bench;

    // vokbench serve with these bench options; returns once the bench answers.
    void serve(const std::vector<std::string> &options);
};

} // namespace e2e
