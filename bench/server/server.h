// Serves one bench over a Unix stream socket to several clients at once: port
// clients speak the binary records of bench_wire.h, USB clients its
// USB requests, controllers send one "CTL <request>" line and get the answer as text.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench.h"
#include "usb_link.h"

namespace bench {

// A listening socket at path, created mode 0600. Refuses a path where a bench
// already answers; a stale socket file is replaced. Throws std::runtime_error.
int listen_unix(const std::string &path);

// A private folder (mode 0700) under $TMPDIR or /tmp holding "socket".
std::string private_socket_path();

// One client's side of the protocol, apart from its socket: the bytes it sends go
// in, the answer comes out. The first line names the kind: "PORT" (binary
// records follow), "USB" (USB requests follow) or "CTL <request>" (one request,
// then the server closes).
class Connection {
public:
    explicit Connection(Bench &bench);
    ~Connection(); // releases the port it holds
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // Handles bytes as they arrive, in pieces of any size; answers are appended to out.
    void received(const uint8_t *data, size_t size, std::vector<uint8_t> &out);
    // Answers that became ready later (USB transfers completed by the bus).
    void take_output(std::vector<uint8_t> &out);
    // The answer is complete: the server closes the connection once it is sent.
    bool finished() const { return finished_; }
    // The client broke the protocol: the server drops it.
    bool broken() const { return broken_; }
    // The client has gone: the port and the USB board it held are free at once,
    // their state as the client left it. Nothing more is handled.
    void end();

private:
    enum class Kind { Hello, Port, Ctl, Usb };
    void hello();
    void port_records(std::vector<uint8_t> &out);
    void ctl_line(std::vector<uint8_t> &out);

    Bench &bench_;
    Kind kind_ = Kind::Hello;
    std::vector<uint8_t> in_;
    bool has_port_ = false;
    uint16_t base_ = 0;
    bool finished_ = false;
    bool broken_ = false;
    std::unique_ptr<UsbLink> usb_;
};

class Server {
public:
    Server(Bench &bench, int listen_fd);
    ~Server();
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    // Serves until stop() returns true; it is asked after every event and at least
    // every 50 ms. Extra fd: when readable, stop() is asked at once (may be -1).
    void run(const std::function<bool()> &stop, int wake_fd = -1);
    // Serves the clients still connected until they close or timeout_ms passes.
    void drain(int timeout_ms);
    size_t clients() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace bench
