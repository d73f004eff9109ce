#include "bench_socket.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace benchwire {

int connect_bench(const char *path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path == nullptr || std::strlen(path) >= sizeof addr.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::strcpy(addr.sun_path, path);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int rc;
    do
        rc = ::connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr);
    while (rc < 0 && errno == EINTR);
    if (rc < 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

namespace {

// Repeats step (one send or receive) until size bytes have passed; false when the
// connection ends or fails first.
template <class Byte, class Step> bool whole(Byte *p, size_t size, Step step) {
    while (size > 0) {
        ssize_t n = step(p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

} // namespace

bool send_all(int fd, const void *data, size_t size) {
    // MSG_NOSIGNAL: a bench that went away must not kill the process with SIGPIPE.
    return whole(static_cast<const uint8_t *>(data), size,
                 [fd](const uint8_t *p, size_t n) { return ::send(fd, p, n, MSG_NOSIGNAL); });
}

bool recv_all(int fd, void *data, size_t size) {
    return whole(static_cast<uint8_t *>(data), size, [fd](uint8_t *p, size_t n) { return ::recv(fd, p, n, 0); });
}

std::string ask_ctl(int fd, const std::string &request) {
    std::string answer;
    std::string line = CTL_PREFIX + request + "\n";
    if (!send_all(fd, line.data(), line.size()))
        return answer;
    char buf[4096];
    for (;;) {
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        answer.append(buf, size_t(n));
    }
    return answer;
}

bool send_request(int fd, const UsbRequest &r, const uint8_t *payload) {
    uint8_t h[USB_HEADER_SIZE];
    encode(r, h);
    return send_all(fd, h, sizeof h) && (r.length == 0 || !payload || send_all(fd, payload, r.length));
}

bool read_answer(int fd, UsbAnswer &a, std::vector<uint8_t> &payload) {
    uint8_t h[USB_HEADER_SIZE];
    if (!recv_all(fd, h, sizeof h))
        return false;
    a = decode_answer(h);
    if (a.length > USB_MAX_PAYLOAD)
        return false;
    payload.resize(a.length);
    return a.length == 0 || recv_all(fd, payload.data(), a.length);
}

} // namespace benchwire
