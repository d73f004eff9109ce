// A small bench server for the port tests: speaks the port records of
// bench_wire.h on a Unix socket in a private temporary folder, records every
// record it receives and answers reads from a queue of scripted values or, when the
// queue is empty, from a responder that sees the last data and control values.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

struct PortRecord {
    char op;
    uint16_t addr;
    uint8_t value; // the value written, or the value answered to a read
    bool operator==(const PortRecord &) const = default;
};

std::string to_string(const PortRecord &r);

class TestBench {
public:
    using Responder = std::function<uint8_t(uint16_t addr, uint8_t data, uint8_t control)>;

    TestBench();
    ~TestBench();
    TestBench(const TestBench &) = delete;
    TestBench &operator=(const TestBench &) = delete;

    const std::string &socket_path() const { return socket_path_; }

    void add_port(uint16_t base);
    void set_responder(Responder responder);
    void script_reads(const std::vector<uint8_t> &values);
    // Off: records are only counted (for throughput runs).
    void set_logging(bool on);

    std::vector<PortRecord> records();
    uint64_t record_count();
    int connections();
    void clear();
    // Waits until the current connection has been closed by the client.
    bool wait_disconnected(int timeout_ms = 2000);
    // Closes the current connection from the server's side.
    void drop_connection();

private:
    void serve();
    void serve_connection(int fd);
    uint8_t answer_read(uint16_t addr);

    std::string dir_;
    std::string socket_path_;
    int listen_fd_ = -1;
    int conn_fd_ = -1;
    bool stopping_ = false;
    bool connected_ = false;
    std::thread thread_;

    std::mutex mutex_;
    std::set<uint16_t> ports_;
    Responder responder_;
    std::deque<uint8_t> scripted_;
    bool logging_ = true;
    std::vector<PortRecord> log_;
    uint64_t count_ = 0;
    int connections_ = 0;
    uint8_t data_ = 0;
    uint8_t control_ = 0x0C;
};

// The values written to addr, in order.
std::vector<uint8_t> writes_to(const std::vector<PortRecord> &log, uint16_t addr);
