// Serves one bench over a Unix stream socket to several clients at once: port
// clients speak the binary records of drivers/hw/bench_protocol.h, controllers send
// one "CTL <request>" line and get the answer as text.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "bench.h"

namespace bench {

// A listening socket at path, created mode 0600. Refuses a path where a bench
// already answers; a stale socket file is replaced. Throws std::runtime_error.
int listen_unix(const std::string &path);

// A private folder (mode 0700) under $TMPDIR or /tmp holding "socket".
std::string private_socket_path();

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
