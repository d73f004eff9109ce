#include "port_bench.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace vokhw {

namespace {

bool send_all(int fd, const uint8_t *data, size_t size) {
    while (size > 0) {
        // MSG_NOSIGNAL: a bench that went away must not kill the process with SIGPIPE.
        ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace

int bench_connect(const char *path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path == nullptr || std::strlen(path) >= sizeof addr.sun_path)
        return -1;
    std::strcpy(addr.sun_path, path);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int rc;
    do {
        rc = ::connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

BenchPort::BenchPort(int fd) : fd_(fd) {}

BenchPort::~BenchPort() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool BenchPort::open(uint16_t base) {
    if (fd_ < 0)
        return false;
    const auto *hello = reinterpret_cast<const uint8_t *>(benchwire::PORT_HELLO);
    if (!send_all(fd_, hello, std::strlen(benchwire::PORT_HELLO))) {
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    base_ = base;
    put(benchwire::OP_OPEN, base, 0);
    uint8_t there = 0;
    if (!flush() || !answer(&there) || there != 1) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        return false;
    }
    return true;
}

void BenchPort::put(uint8_t op, uint16_t addr, uint8_t value) {
    if (used_ == batch_.size() && !flush())
        return;
    uint8_t *r = batch_.data() + used_;
    r[0] = op;
    r[1] = static_cast<uint8_t>(addr & 0xFF);
    r[2] = static_cast<uint8_t>(addr >> 8);
    r[3] = value;
    used_ += benchwire::RECORD_SIZE;
}

bool BenchPort::flush() {
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

bool BenchPort::answer(uint8_t *byte) {
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

void BenchPort::lost(const char *why) {
    if (fd_ < 0)
        return;
    ::close(fd_);
    fd_ = -1;
    // From here on the port reads as 0 and writes go nowhere: the driver sees a
    // cable without a target, and the run fails instead of waiting.
    std::fprintf(stderr, "Lost the connection to the bench (VOKBENCH): %s; the simulated port is gone\n", why);
    std::fflush(stderr);
}

void BenchPort::write(uint16_t addr, uint8_t value) {
    if (fd_ >= 0)
        put(benchwire::OP_WRITE, addr, value);
}

uint8_t BenchPort::read(uint16_t addr) {
    if (fd_ < 0)
        return 0;
    put(benchwire::OP_READ, addr, 0);
    uint8_t value = 0;
    if (!flush() || !answer(&value))
        return 0;
    return value;
}

bool BenchPort::release() {
    if (fd_ < 0)
        return true;
    put(benchwire::OP_RELEASE, base_, 0);
    uint8_t ack = 0;
    if (flush())
        answer(&ack);
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    return true;
}

} // namespace vokhw
