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

#include "bench_socket.h"

namespace bench {
namespace {

constexpr size_t HELLO_MAX = 4096;
constexpr size_t READ_CHUNK = 1 << 18;
// Bus slots run between two looks at the sockets (about 3 ms of simulated time).
constexpr unsigned USB_SLOTS_PER_ROUND = 64;

sockaddr_un unix_address(const std::string &path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) throw std::runtime_error("socket path too long: " + path);
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return addr;
}

bool answers(const std::string &path) {
    int fd = benchwire::connect_bench(path.c_str());
    if (fd >= 0) ::close(fd);
    return fd >= 0;
}

} // namespace

int listen_unix(const std::string &path) {
    sockaddr_un addr = unix_address(path);
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) throw std::runtime_error(path + " exists and is not a socket");
        if (answers(path)) throw std::runtime_error("a bench already serves " + path);
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

Connection::Connection(Bench &bench) : bench_(bench) {}

Connection::~Connection() { end(); }

void Connection::end() {
    bench_.release_all(this);
    has_port_ = false;
    usb_.reset();
    broken_ = true;
}

void Connection::received(const uint8_t *data, size_t size, std::vector<uint8_t> &out) {
    if (broken_ || finished_) return;
    in_.insert(in_.end(), data, data + size);
    if (kind_ == Kind::Hello) hello();
    if (kind_ == Kind::Port) port_records(out);
    if (kind_ == Kind::Ctl) ctl_line(out);
    if (kind_ == Kind::Usb) {
        if (!usb_->received(in_.data(), in_.size(), out)) broken_ = true;
        in_.clear();
    }
}

void Connection::take_output(std::vector<uint8_t> &out) {
    if (usb_) usb_->take_output(out);
}

void Connection::port_records(std::vector<uint8_t> &out) {
    size_t n = in_.size() / benchwire::RECORD_SIZE * benchwire::RECORD_SIZE;
    Port *p = has_port_ ? bench_.port(base_) : nullptr;
    for (size_t i = 0; i < n; i += benchwire::RECORD_SIZE) {
        auto [op, addr, value] = benchwire::decode_record(&in_[i]);
        switch (op) {
        case benchwire::OP_WRITE:
            if (p) p->write(addr, value);
            break;
        case benchwire::OP_READ:
            out.push_back(p ? p->read(addr) : 0xFF);
            break;
        case benchwire::OP_OPEN:
            if (has_port_) bench_.release(base_, this);
            has_port_ = bench_.claim(addr, this);
            base_ = addr;
            p = has_port_ ? bench_.port(addr) : nullptr;
            out.push_back(has_port_ ? 1 : 0);
            break;
        case benchwire::OP_RELEASE:
            if (has_port_) bench_.release(base_, this);
            has_port_ = false;
            p = nullptr;
            out.push_back(1);
            break;
        default: // not a record of this protocol: drop the client
            broken_ = true;
            return;
        }
    }
    in_.erase(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(n));
}

void Connection::ctl_line(std::vector<uint8_t> &out) {
    auto nl = std::find(in_.begin(), in_.end(), '\n');
    if (nl == in_.end()) return;
    std::string req(in_.begin(), nl);
    bool ok = true;
    std::string answer = bench_.request(req, ok);
    out.insert(out.end(), answer.begin(), answer.end());
    in_.clear();
    finished_ = true;
}

void Connection::hello() {
    auto nl = std::find(in_.begin(), in_.end(), '\n');
    if (nl == in_.end()) {
        if (in_.size() > HELLO_MAX) broken_ = true;
        return;
    }
    std::string line(in_.begin(), nl);
    size_t plen = std::strlen(benchwire::CTL_PREFIX);
    if (line + "\n" == benchwire::PORT_HELLO) {
        kind_ = Kind::Port;
        in_.erase(in_.begin(), nl + 1);
    } else if (line + "\n" == benchwire::USB_HELLO) {
        kind_ = Kind::Usb;
        usb_ = std::make_unique<UsbLink>(bench_);
        in_.erase(in_.begin(), nl + 1);
    } else if (line.compare(0, plen, benchwire::CTL_PREFIX) == 0) {
        kind_ = Kind::Ctl;
        in_.erase(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(plen));
    } else {
        broken_ = true;
    }
}

struct Server::Impl {
    struct Client {
        Client(Bench &bench, int f) : fd(f), conn(bench) {}
        int fd;
        Connection conn;
        std::vector<uint8_t> out;
        size_t out_pos = 0;
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
            clients.push_back(std::make_unique<Client>(bench, fd));
        }
    }

    // A client that has gone frees what it held before anyone else is served, so
    // that the next client's claim, even in this same round, finds it free.
    void gone(Client &c) {
        c.dead = true;
        c.conn.end();
    }

    // Reads until the socket is empty, so that a close after the last bytes is
    // seen now and not in a later round.
    void readable(Client &c) {
        bench.catch_up_wall_clock();
        for (;;) {
            ssize_t n = ::recv(c.fd, chunk.data(), chunk.size(), 0);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                if (errno != EAGAIN && errno != EWOULDBLOCK) gone(c);
                break;
            }
            if (n == 0) {
                gone(c); // the client closed, or its process ended
                return;
            }
            c.conn.received(chunk.data(), static_cast<size_t>(n), c.out);
            if (c.conn.broken()) {
                gone(c);
                break;
            }
        }
        flush(c);
    }

    void flush(Client &c) {
        while (c.out_pos < c.out.size()) {
            ssize_t n = ::send(c.fd, c.out.data() + c.out_pos, c.out.size() - c.out_pos, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                if (errno != EAGAIN && errno != EWOULDBLOCK) gone(c);
                return;
            }
            c.out_pos += static_cast<size_t>(n);
        }
        c.out.clear();
        c.out_pos = 0;
        if (c.conn.finished()) c.dead = true;
    }

    // Runs the USB bus for a while and sends the answers it completed; true while
    // transfers still drive its clock.
    bool run_usb() {
        bool busy = bench.run_usb(USB_SLOTS_PER_ROUND);
        for (auto &c : clients) {
            c->conn.take_output(c->out);
            if (!c->out.empty()) flush(*c);
        }
        return busy;
    }

    void reap() {
        for (auto it = clients.begin(); it != clients.end();) {
            Client &c = **it;
            if (c.dead) {
                ::close(c.fd); // the connection releases its port as it goes
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
    bool busy = false;
    while (!stop()) {
        busy = busy || impl_->bench.usb().busy(); // stop() may have queued transfers
        impl_->once(busy ? 0 : 50, wake_fd, true);
        busy = impl_->run_usb();
    }
}

void Server::drain(int timeout_ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    bool busy = false;
    while (!impl_->clients.empty() && std::chrono::steady_clock::now() < end) {
        impl_->once(busy ? 0 : 20, -1, true);
        busy = impl_->run_usb();
    }
}

size_t Server::clients() const { return impl_->clients.size(); }

} // namespace bench
