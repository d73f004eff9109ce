#include "port_client.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

#include "bench_socket.h"

namespace benchwire {

PortClient::PortClient(int fd) : fd_(fd) {}

PortClient::~PortClient() { close(); }

void PortClient::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool PortClient::open(uint16_t base) {
    if (fd_ < 0)
        return false;
    if (!send_all(fd_, PORT_HELLO, std::strlen(PORT_HELLO))) {
        close();
        return false;
    }
    base_ = base;
    put(OP_OPEN, base, 0);
    uint8_t there = 0;
    if (!flush() || !answer(&there) || there != 1) {
        close();
        return false;
    }
    return true;
}

void PortClient::put(uint8_t op, uint16_t addr, uint8_t value) {
    if (used_ == batch_.size() && !flush())
        return;
    encode(PortRecord{op, addr, value}, batch_.data() + used_);
    used_ += RECORD_SIZE;
}

bool PortClient::flush() {
    if (fd_ < 0) {
        used_ = 0;
        return false;
    }
    bool ok = send_all(fd_, batch_.data(), used_);
    const int error = errno;
    used_ = 0;
    if (!ok)
        lost(std::strerror(error));
    return ok;
}

bool PortClient::answer(uint8_t *byte) {
    if (fd_ < 0)
        return false;
    for (;;) {
        ssize_t n = ::recv(fd_, byte, 1, 0);
        if (n == 1)
            return true;
        if (n < 0 && errno == EINTR)
            continue;
        lost(n == 0 ? "the bench closed it" : std::strerror(errno));
        return false;
    }
}

void PortClient::lost(const char *why) {
    if (fd_ < 0)
        return;
    close();
    // From here on the port reads as 0 and writes go nowhere: the driver sees a
    // cable without a target, and the run fails instead of waiting.
    std::fprintf(stderr, "Lost the connection to the bench (VOKBENCH): %s; the simulated port is gone\n", why);
    std::fflush(stderr);
}

void PortClient::write(uint16_t addr, uint8_t value) {
    if (fd_ >= 0)
        put(OP_WRITE, addr, value);
}

uint8_t PortClient::read(uint16_t addr) {
    if (fd_ < 0)
        return 0;
    put(OP_READ, addr, 0);
    uint8_t value = 0;
    if (!flush() || !answer(&value))
        return 0;
    return value;
}

void PortClient::release() {
    if (fd_ < 0)
        return;
    put(OP_RELEASE, base_, 0);
    uint8_t ack = 0;
    if (flush())
        answer(&ack);
    close();
}

} // namespace benchwire
