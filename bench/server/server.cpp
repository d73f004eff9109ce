#include "server.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

#include "hw/bench_protocol.h"

namespace bench {
namespace {

constexpr size_t HELLO_MAX = 4096;
constexpr size_t READ_CHUNK = 1 << 18;

sockaddr_un unix_address(const std::string &path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) throw std::runtime_error("socket path too long: " + path);
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return addr;
}

bool answers(const sockaddr_un &addr) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    bool ok = ::connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

} // namespace

int listen_unix(const std::string &path) {
    sockaddr_un addr = unix_address(path);
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) throw std::runtime_error(path + " exists and is not a socket");
        if (answers(addr)) throw std::runtime_error("a bench already serves " + path);
        ::unlink(path.c_str());
    }
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    mode_t old = ::umask(0177); // the socket file is born mode 0600
    int rc = ::bind(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr);
    int err = errno;
    ::umask(old);
    if (rc < 0 || ::listen(fd, 16) < 0) {
        if (rc == 0) err = errno;
        ::close(fd);
        throw std::runtime_error("cannot listen on " + path + ": " + std::strerror(err));
    }
    ::chmod(path.c_str(), 0600);
    return fd;
}

std::string private_socket_path() {
    const char *tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/vokbench.XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data())) throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
    return std::string(buf.data()) + "/socket";
}

struct Server::Impl {
    enum class Kind { Hello, Port, Ctl };
    struct Client {
        int fd;
        Kind kind = Kind::Hello;
        std::vector<uint8_t> in;
        std::vector<uint8_t> out;
        size_t out_pos = 0;
        bool has_port = false;
        uint16_t base = 0;
        bool close_after_write = false;
        bool dead = false;
    };

    Bench &bench;
    int listen_fd;
    std::vector<std::unique_ptr<Client>> clients;
    std::vector<uint8_t> chunk = std::vector<uint8_t>(READ_CHUNK);

    Impl(Bench &b, int fd) : bench(b), listen_fd(fd) {}

    void accept_all() {
        for (;;) {
            int fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd < 0) return;
            auto c = std::make_unique<Client>();
            c->fd = fd;
            clients.push_back(std::move(c));
        }
    }

    void port_records(Client &c) {
        size_t n = c.in.size() / benchwire::RECORD_SIZE * benchwire::RECORD_SIZE;
        const uint8_t *r = c.in.data();
        Port *p = c.has_port ? bench.port(c.base) : nullptr;
        for (size_t i = 0; i < n; i += benchwire::RECORD_SIZE) {
            uint8_t op = r[i];
            uint16_t addr = static_cast<uint16_t>(r[i + 1] | (r[i + 2] << 8));
            uint8_t value = r[i + 3];
            switch (op) {
            case benchwire::OP_WRITE:
                if (p) p->write(addr, value);
                break;
            case benchwire::OP_READ:
                c.out.push_back(p ? p->read(addr) : 0xFF);
                break;
            case benchwire::OP_OPEN:
                if (c.has_port) bench.release(c.base, &c);
                c.has_port = bench.claim(addr, &c);
                c.base = addr;
                p = c.has_port ? bench.port(addr) : nullptr;
                c.out.push_back(c.has_port ? 1 : 0);
                break;
            case benchwire::OP_RELEASE:
                if (c.has_port) bench.release(c.base, &c);
                c.has_port = false;
                p = nullptr;
                c.out.push_back(1);
                break;
            default: // not a record of this protocol: drop the client
                c.dead = true;
                return;
            }
        }
        c.in.erase(c.in.begin(), c.in.begin() + static_cast<std::ptrdiff_t>(n));
    }

    void ctl_line(Client &c) {
        auto nl = std::find(c.in.begin(), c.in.end(), '\n');
        if (nl == c.in.end()) return;
        std::string req(c.in.begin(), nl);
        bool ok = true;
        std::string answer = bench.request(req, ok);
        c.out.insert(c.out.end(), answer.begin(), answer.end());
        c.in.clear();
        c.close_after_write = true;
    }

    void hello(Client &c) {
        auto nl = std::find(c.in.begin(), c.in.end(), '\n');
        if (nl == c.in.end()) {
            if (c.in.size() > HELLO_MAX) c.dead = true;
            return;
        }
        std::string line(c.in.begin(), nl);
        size_t plen = std::strlen(benchwire::CTL_PREFIX);
        if (line + "\n" == benchwire::PORT_HELLO) {
            c.kind = Kind::Port;
            c.in.erase(c.in.begin(), nl + 1);
        } else if (line.compare(0, plen, benchwire::CTL_PREFIX) == 0) {
            c.kind = Kind::Ctl;
            c.in.erase(c.in.begin(), c.in.begin() + static_cast<std::ptrdiff_t>(plen));
        } else {
            c.dead = true;
        }
    }

    void readable(Client &c) {
        bench.catch_up_wall_clock();
        for (;;) {
            ssize_t n = ::recv(c.fd, chunk.data(), chunk.size(), 0);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                if (errno != EAGAIN && errno != EWOULDBLOCK) c.dead = true;
                break;
            }
            if (n == 0) {
                c.dead = true; // the client closed; what it sent is handled below
                break;
            }
            c.in.insert(c.in.end(), chunk.begin(), chunk.begin() + n);
            process(c);
            if (static_cast<size_t>(n) < chunk.size()) break;
        }
        process(c);
        flush(c);
    }

    void process(Client &c) {
        if (c.kind == Kind::Hello) hello(c);
        if (c.kind == Kind::Port) port_records(c);
        if (c.kind == Kind::Ctl) ctl_line(c);
    }

    void flush(Client &c) {
        while (c.out_pos < c.out.size()) {
            ssize_t n = ::send(c.fd, c.out.data() + c.out_pos, c.out.size() - c.out_pos, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                if (errno != EAGAIN && errno != EWOULDBLOCK) c.dead = true;
                return;
            }
            c.out_pos += static_cast<size_t>(n);
        }
        c.out.clear();
        c.out_pos = 0;
        if (c.close_after_write) c.dead = true;
    }

    void reap() {
        for (auto it = clients.begin(); it != clients.end();) {
            Client &c = **it;
            if (c.dead) {
                bench.release_all(&c);
                ::close(c.fd);
                it = clients.erase(it);
            } else {
                ++it;
            }
        }
    }

    // One round of poll; true when wake_fd became readable.
    bool once(int timeout_ms, int wake_fd, bool accept_new) {
        std::vector<pollfd> fds;
        if (accept_new) fds.push_back({listen_fd, POLLIN, 0});
        if (wake_fd >= 0) fds.push_back({wake_fd, POLLIN, 0});
        size_t first = fds.size();
        for (auto &c : clients)
            fds.push_back({c->fd, static_cast<short>(POLLIN | (c->out.empty() ? 0 : POLLOUT)), 0});
        int rc = ::poll(fds.data(), fds.size(), timeout_ms);
        if (rc <= 0) return false;
        bool woke = false;
        size_t k = 0;
        if (accept_new && (fds[k++].revents & POLLIN)) accept_all();
        if (wake_fd >= 0 && (fds[k++].revents & POLLIN)) woke = true;
        for (size_t i = first; i < fds.size(); ++i) {
            Client &c = *clients[i - first];
            if (fds[i].revents & POLLOUT) flush(c);
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) readable(c);
        }
        reap();
        return woke;
    }
};

Server::Server(Bench &bench, int listen_fd) : impl_(std::make_unique<Impl>(bench, listen_fd)) {}

Server::~Server() {
    for (auto &c : impl_->clients) ::close(c->fd);
}

void Server::run(const std::function<bool()> &stop, int wake_fd) {
    while (!stop()) impl_->once(50, wake_fd, true);
}

void Server::drain(int timeout_ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!impl_->clients.empty() && std::chrono::steady_clock::now() < end) impl_->once(20, -1, true);
}

size_t Server::clients() const { return impl_->clients.size(); }

} // namespace bench
