#include "test_bench.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "bench_wire.h"

std::string to_string(const PortRecord &r) {
    char text[32];
    std::snprintf(text, sizeof text, "%c %04X %02X", r.op, r.addr, r.value);
    return text;
}

std::vector<uint8_t> writes_to(const std::vector<PortRecord> &log, uint16_t addr) {
    std::vector<uint8_t> out;
    for (const auto &r : log)
        if (r.op == 'W' && r.addr == addr)
            out.push_back(r.value);
    return out;
}

TestBench::TestBench() {
    char tmpl[] = "/tmp/vokport-XXXXXX";
    if (::mkdtemp(tmpl) == nullptr)
        throw std::runtime_error("mkdtemp");
    dir_ = tmpl;
    socket_path_ = dir_ + "/bench.sock";
    listen_fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, socket_path_.c_str());
    if (::bind(listen_fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) < 0 ||
        ::listen(listen_fd_, 4) < 0)
        throw std::runtime_error("bind/listen");
    thread_ = std::thread([this] { serve(); });
}

TestBench::~TestBench() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        if (conn_fd_ >= 0)
            ::shutdown(conn_fd_, SHUT_RDWR);
    }
    ::shutdown(listen_fd_, SHUT_RDWR);
    thread_.join();
    ::close(listen_fd_);
    ::unlink(socket_path_.c_str());
    ::rmdir(dir_.c_str());
}

void TestBench::add_port(uint16_t base) {
    std::lock_guard lock(mutex_);
    ports_.insert(base);
}

void TestBench::set_responder(Responder responder) {
    std::lock_guard lock(mutex_);
    responder_ = std::move(responder);
}

void TestBench::script_reads(const std::vector<uint8_t> &values) {
    std::lock_guard lock(mutex_);
    scripted_.insert(scripted_.end(), values.begin(), values.end());
}

void TestBench::set_logging(bool on) {
    std::lock_guard lock(mutex_);
    logging_ = on;
}

std::vector<PortRecord> TestBench::records() {
    std::lock_guard lock(mutex_);
    return log_;
}

uint64_t TestBench::record_count() {
    std::lock_guard lock(mutex_);
    return count_;
}

int TestBench::connections() {
    std::lock_guard lock(mutex_);
    return connections_;
}

void TestBench::clear() {
    std::lock_guard lock(mutex_);
    log_.clear();
    count_ = 0;
}

bool TestBench::wait_disconnected(int timeout_ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < end) {
        {
            std::lock_guard lock(mutex_);
            if (!connected_)
                return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

void TestBench::drop_connection() {
    std::lock_guard lock(mutex_);
    if (conn_fd_ >= 0)
        ::shutdown(conn_fd_, SHUT_RDWR);
}

void TestBench::serve() {
    for (;;) {
        int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        {
            std::lock_guard lock(mutex_);
            if (stopping_) {
                ::close(fd);
                return;
            }
            conn_fd_ = fd;
            connected_ = true;
            ++connections_;
        }
        serve_connection(fd);
        std::lock_guard lock(mutex_);
        ::close(fd);
        conn_fd_ = -1;
        connected_ = false;
    }
}

uint8_t TestBench::answer_read(uint16_t addr) {
    if (!scripted_.empty()) {
        uint8_t v = scripted_.front();
        scripted_.pop_front();
        return v;
    }
    if (responder_)
        return responder_(addr, data_, control_);
    return 0x7F; // an idle port with nothing attached
}

void TestBench::serve_connection(int fd) {
    std::string hello;
    char c;
    while (hello.size() < 64) {
        if (::recv(fd, &c, 1, 0) != 1)
            return;
        hello += c;
        if (c == '\n')
            break;
    }
    if (hello != benchwire::PORT_HELLO)
        return;

    std::vector<uint8_t> in(1 << 16);
    size_t have = 0;
    uint16_t base = 0;
    for (;;) {
        ssize_t n = ::recv(fd, in.data() + have, in.size() - have, 0);
        if (n <= 0)
            return;
        have += static_cast<size_t>(n);
        size_t used = 0;
        std::string out;
        {
            std::lock_guard lock(mutex_);
            for (; used + 4 <= have; used += 4) {
                const uint8_t *r = in.data() + used;
                PortRecord rec{static_cast<char>(r[0]), static_cast<uint16_t>(r[1] | r[2] << 8),
                               r[3]};
                switch (r[0]) {
                case benchwire::OP_OPEN:
                    base = rec.addr;
                    out += static_cast<char>(ports_.count(base) ? 1 : 0);
                    break;
                case benchwire::OP_WRITE:
                    if (rec.addr == base)
                        data_ = rec.value;
                    else if (rec.addr == base + 2)
                        control_ = rec.value;
                    break;
                case benchwire::OP_READ:
                    rec.value = answer_read(rec.addr);
                    out += static_cast<char>(rec.value);
                    break;
                case benchwire::OP_RELEASE:
                    out += '\1';
                    break;
                default:
                    return;
                }
                ++count_;
                if (logging_)
                    log_.push_back(rec);
            }
        }
        std::memmove(in.data(), in.data() + used, have - used);
        have -= used;
        if (!out.empty() && ::send(fd, out.data(), out.size(), MSG_NOSIGNAL) < 0)
            return;
    }
}
