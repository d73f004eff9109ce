#include "ppdev_node.h"

#include "bench_socket.h"
#include "port_client.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <sys/ioctl.h>
#include <unistd.h>

#include <linux/parport.h>
#include <linux/ppdev.h>

namespace ppdevshim {

namespace {

// A claim restores the state a Linux port driver gives every new claimant: the
// control register at 0x0C (INIT high, SELECT_IN asserted), written to the port.
constexpr uint8_t CONTROL_AFTER_CLAIM = 0x0C;
// The control lines of the register; bit 5 is the data direction.
constexpr uint8_t CONTROL_LINES = 0x0F;
constexpr uint8_t CONTROL_REVERSE = 0x20;

const char *request_name(unsigned long request) {
    switch (request) {
    case PPYIELD: return "PPYIELD";
    case PPWCTLONIRQ: return "PPWCTLONIRQ";
    case PPCLRIRQ: return "PPCLRIRQ";
    default: return nullptr;
    }
}

} // namespace

int parport_index(const char *path) {
    static constexpr char prefix[] = "/dev/parport";
    if (path == nullptr || std::strncmp(path, prefix, sizeof prefix - 1) != 0)
        return -1;
    const char *digits = path + sizeof prefix - 1;
    size_t n = std::strlen(digits);
    if (n == 0 || n > 3 || (n > 1 && digits[0] == '0'))
        return -1;
    int v = 0;
    for (size_t i = 0; i < n; i++) {
        if (digits[i] < '0' || digits[i] > '9')
            return -1;
        v = v * 10 + (digits[i] - '0');
    }
    return v < 256 ? v : -1;
}

std::vector<uint16_t> bench_port_bases(const std::string &socket_path) {
    std::vector<uint16_t> bases;
    int fd = benchwire::connect_bench(socket_path.c_str());
    if (fd < 0)
        return bases;
    std::string answer = benchwire::ask_ctl(fd, "status --json");
    ::close(fd);
    // "ports":[{"base":"0x0378",...},...], read with the layout's white space dropped;
    // the entries hold no nested arrays.
    answer.erase(std::remove_if(answer.begin(), answer.end(),
                                [](char c) { return std::isspace(static_cast<unsigned char>(c)); }),
                 answer.end());
    size_t at = answer.find("\"ports\":[");
    if (at == std::string::npos)
        return bases;
    size_t end = answer.find(']', at);
    static constexpr char key[] = "\"base\":\"0x";
    for (at = answer.find(key, at); at < end; at = answer.find(key, at)) {
        at += sizeof key - 1;
        unsigned long v = 0;
        size_t digits = 0;
        for (; at < answer.size() && std::isxdigit(static_cast<unsigned char>(answer[at])); at++, digits++)
            v = v * 16 + unsigned(std::isdigit(static_cast<unsigned char>(answer[at]))
                                      ? answer[at] - '0'
                                      : (answer[at] | 0x20) - 'a' + 10);
        if (digits > 0 && digits <= 4)
            bases.push_back(uint16_t(v));
    }
    return bases;
}

Node::Node(std::string socket_path, int index, uint16_t base)
    : socket_(std::move(socket_path)), index_(index), base_(base), mode_(IEEE1284_MODE_COMPAT) {}

Node::~Node() {
    if (port_)
        port_->release();
}

int Node::claim() {
    if (port_) {
        errno = EINVAL; // already claimed, as the Linux driver answers
        return -1;
    }
    int fd = benchwire::connect_bench(socket_.c_str());
    if (fd < 0) {
        errno = ENXIO;
        return -1;
    }
    auto port = std::make_unique<benchwire::PortClient>(fd);
    if (!port->open(base_)) {
        // Another client holds the port. Linux would wait for it; a tool run
        // against the bench is better told at once.
        errno = EBUSY;
        return -1;
    }
    port_ = std::move(port);
    // The bench's claim puts the control register at the same value.
    control_ = CONTROL_AFTER_CLAIM;
    mode_ = IEEE1284_MODE_COMPAT;
    return 0;
}

void Node::frob_control(uint8_t mask, uint8_t value) {
    control_ = uint8_t((control_ & ~mask) ^ value);
    port_->write(uint16_t(base_ + 2), control_);
}

void Node::data_direction(bool reverse) {
    frob_control(CONTROL_REVERSE, reverse ? CONTROL_REVERSE : 0);
}

int Node::unserved(unsigned long request) {
    static std::mutex lock;
    static std::set<unsigned long> named;
    {
        std::lock_guard<std::mutex> g(lock);
        if (named.insert(request).second) {
            const char *name = request_name(request);
            std::fprintf(stderr, "vokbench ppdev: ioctl 0x%lx%s%s%s on /dev/parport%d is not served (EINVAL)\n",
                         request, name ? " (" : "", name ? name : "", name ? ")" : "", index_);
            std::fflush(stderr);
        }
    }
    errno = EINVAL;
    return -1;
}

int Node::ioctl(unsigned long request, void *arg) {
    auto in_int = [&] { return *static_cast<const int *>(arg); };
    auto out_int = [&](int v) { *static_cast<int *>(arg) = v; };
    auto in_byte = [&] { return *static_cast<const uint8_t *>(arg); };
    auto out_byte = [&](uint8_t v) { *static_cast<uint8_t *>(arg) = v; };

    // Requests that need no claim.
    switch (request) {
    case PPCLAIM:
        return claim();
    case PPEXCL:
        if (port_) {
            errno = EINVAL; // too late once the port is claimed
            return -1;
        }
        return 0; // the bench gives each port to one claimant anyway
    case PPSETMODE:
        mode_ = in_int();
        return 0;
    case PPGETMODE:
        out_int(mode_);
        return 0;
    case PPGETMODES:
        *static_cast<unsigned *>(arg) = PARPORT_MODE_PCSPP;
        return 0;
    case PPSETPHASE:
        phase_ = in_int();
        return 0;
    case PPGETPHASE:
        out_int(phase_);
        return 0;
    case PPSETFLAGS:
        flags_ = in_int() & PP_FLAGMASK;
        return 0;
    case PPGETFLAGS:
        out_int(flags_);
        return 0;
    default:
        break;
    }
    const bool known = request == PPRELEASE || request == PPRSTATUS || request == PPRDATA ||
                       request == PPWDATA || request == PPRCONTROL || request == PPWCONTROL ||
                       request == PPFCONTROL || request == PPDATADIR || request == PPNEGOT ||
                       (_IOC_TYPE(request) == PP_IOCTL && (_IOC_NR(request) == 0x95 || _IOC_NR(request) == 0x96) &&
                        (_IOC_SIZE(request) == 8 || _IOC_SIZE(request) == 16));
    if (!known)
        return unserved(request);
    if (!port_) {
        errno = EINVAL; // the Linux driver wants the port claimed first
        return -1;
    }
    switch (request) {
    case PPRELEASE:
        port_->release();
        port_.reset();
        return 0;
    case PPRSTATUS:
        out_byte(port_->read(uint16_t(base_ + 1)));
        return 0;
    case PPRDATA:
        out_byte(port_->read(base_));
        return 0;
    case PPWDATA:
        port_->write(base_, in_byte());
        return 0;
    case PPRCONTROL:
        // The driver's own copy of the control lines; the port is not read.
        out_byte(control_ & CONTROL_LINES);
        return 0;
    case PPWCONTROL: {
        uint8_t v = in_byte();
        if (v & CONTROL_REVERSE)
            data_direction(true);
        frob_control(CONTROL_LINES, v & CONTROL_LINES);
        return 0;
    }
    case PPFCONTROL: {
        auto f = *static_cast<const ppdev_frob_struct *>(arg);
        if (f.mask & CONTROL_REVERSE)
            data_direction(f.val & CONTROL_REVERSE);
        frob_control(f.mask & CONTROL_LINES, f.val & CONTROL_LINES);
        return 0;
    }
    case PPDATADIR:
        data_direction(in_int() != 0);
        return 0;
    case PPNEGOT:
        // Compatibility mode is the only one here, and it needs no handshake.
        mode_ = in_int();
        return 0;
    default:
        break;
    }
    // Time-out: struct timeval with 32- or 64-bit fields.
    const bool wide = _IOC_SIZE(request) == 16;
    if (_IOC_NR(request) == 0x96) {
        if (wide) {
            std::memcpy(timeout_, arg, 16);
        } else {
            int32_t t[2];
            std::memcpy(t, arg, 8);
            timeout_[0] = t[0];
            timeout_[1] = t[1];
        }
    } else if (wide) {
        std::memcpy(arg, timeout_, 16);
    } else {
        int32_t t[2] = {int32_t(timeout_[0]), int32_t(timeout_[1])};
        std::memcpy(arg, t, 8);
    }
    return 0;
}

} // namespace ppdevshim
