// Real-hardware backends of the port seam on Linux: ppdev and ioperm.
#include "port.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sys/ioctl.h>
#include <unistd.h>

#include <linux/parport.h>
#include <linux/ppdev.h>

#if defined(__i386__) || defined(__x86_64__)
#include <sys/io.h>
#define VOKHW_HAVE_IOPERM 1
#endif

namespace vokhw {

PortSystem real_port_system() {
    PortSystem sys;
    sys.open = [](const char *path, int flags) { return ::open(path, flags); };
    sys.ioctl = [](int fd, unsigned long request, void *arg) { return ::ioctl(fd, request, arg); };
    sys.close = [](int fd) { return ::close(fd); };
#ifdef VOKHW_HAVE_IOPERM
    sys.ioperm = [](unsigned long from, unsigned long count, int on) { return ::ioperm(from, count, on); };
#else
    sys.ioperm = [](unsigned long, unsigned long, int) {
        errno = ENOSYS;
        return -1;
    };
#endif
    return sys;
}

PortSystem &port_system() {
    static PortSystem sys = real_port_system();
    return sys;
}

std::string find_parport_device(uint16_t base, const std::string &proc_dir) {
    DIR *dir = ::opendir(proc_dir.c_str());
    if (dir == nullptr)
        return {};
    std::string found;
    while (dirent *entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        // Only "parportN"; the "default" folder holds no port.
        if (name.size() <= 7 || name.compare(0, 7, "parport") != 0 ||
            name.find_first_not_of("0123456789", 7) != std::string::npos)
            continue;
        std::ifstream in(proc_dir + "/" + name + "/base-addr");
        // The file lists the base address first (decimal), then the ECP address.
        unsigned long addr = 0;
        if (in >> addr && addr == base) {
            found = "/dev/" + name;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

namespace {

class PpdevPort : public PortBackend {
public:
    PpdevPort(int fd, uint16_t base) : fd_(fd), base_(base) {}
    ~PpdevPort() override {
        if (fd_ >= 0) {
            call(PPRELEASE, nullptr);
            port_system().close(fd_);
        }
    }
    PortKind kind() const override { return PortKind::ppdev; }

    void write(uint16_t addr, uint8_t value) override {
        if (fd_ < 0)
            return;
        unsigned char v = value;
        switch (addr - base_) {
        case PORT_DATA:
            call(PPWDATA, &v);
            break;
        case PORT_CONTROL:
            call(PPWCONTROL, &v);
            break;
        default: // the status register takes no writes
            break;
        }
    }

    uint8_t read(uint16_t addr) override {
        if (fd_ < 0)
            return 0;
        unsigned char v = 0;
        int rc = -1;
        switch (addr - base_) {
        case PORT_DATA:
            rc = call(PPRDATA, &v);
            break;
        case PORT_STATUS:
            rc = call(PPRSTATUS, &v);
            break;
        case PORT_CONTROL:
            rc = call(PPRCONTROL, &v);
            break;
        default:
            break;
        }
        return rc < 0 ? 0 : v;
    }

    bool release() override {
        if (fd_ < 0)
            return true;
        if (call(PPRELEASE, nullptr) < 0)
            return false;
        port_system().close(fd_);
        fd_ = -1;
        return true;
    }

private:
    int call(unsigned long request, void *arg) { return port_system().ioctl(fd_, request, arg); }

    int fd_;
    uint16_t base_;
};

#ifdef VOKHW_HAVE_IOPERM
class IopermPort : public PortBackend {
public:
    explicit IopermPort(uint16_t base) : base_(base) {}
    ~IopermPort() override {
        if (held_)
            port_system().ioperm(base_, PORT_REGISTERS, 0);
    }
    PortKind kind() const override { return PortKind::ioperm; }
    void write(uint16_t addr, uint8_t value) override {
        if (held_)
            ::outb(value, addr);
    }
    uint8_t read(uint16_t addr) override { return held_ ? ::inb(addr) : 0; }
    bool release() override {
        if (held_ && port_system().ioperm(base_, PORT_REGISTERS, 0) < 0)
            return false;
        held_ = false;
        return true;
    }

private:
    uint16_t base_;
    bool held_ = true;
};
#endif

} // namespace

namespace {

// One failed call: the node, the call and the system's reason, then what would fix it.
void tell(const std::string &node, const char *call, int err, const char *fix = nullptr) {
    std::fprintf(stderr, "%s: %s: %s\n", node.c_str(), call, std::strerror(err));
    if (fix != nullptr)
        std::fprintf(stderr, "  %s\n", fix);
}

const char FIX_MODULES[] = "the ppdev driver provides it: sudo modprobe parport_pc ppdev";
const char FIX_GROUP[] = "members of the lp group may use it: sudo usermod -aG lp $USER, then log in again";

// The outcome of opening the node and claiming the port.
struct Claim {
    int fd = -1;
    const char *failed_call = nullptr; // set when fd < 0
    int err = 0;
    bool opened = false; // the node opened; the claim failed afterwards
};

// exclusive asks that no other driver shares the port.
Claim claim(const std::string &node, bool exclusive) {
    PortSystem &sys = port_system();
    Claim c;
    int fd = sys.open(node.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        c.err = errno;
        c.failed_call = "open";
        return c;
    }
    c.opened = true;
    if (exclusive && sys.ioctl(fd, PPEXCL, nullptr) < 0)
        c.failed_call = "ioctl PPEXCL";
    else if (sys.ioctl(fd, PPCLAIM, nullptr) < 0)
        c.failed_call = exclusive ? "ioctl PPCLAIM (exclusive)" : "ioctl PPCLAIM (shared)";
    else {
        c.fd = fd;
        return c;
    }
    c.err = errno;
    sys.close(fd);
    return c;
}

std::string hex4(uint16_t base) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(base));
    return text;
}

} // namespace

std::unique_ptr<PortBackend> open_ppdev_port(uint16_t base, bool *found, std::string *why_not) {
    *found = false;
    std::string unused;
    std::string &why = why_not != nullptr ? *why_not : unused;
    const std::string &proc = port_system().proc_dir;
    std::string node = find_parport_device(base, proc);
    if (node.empty()) {
        DIR *dir = ::opendir(proc.c_str());
        if (dir == nullptr) {
            why = "no " + proc + " (the parport drivers are not loaded: sudo modprobe parport_pc ppdev)";
        } else {
            ::closedir(dir);
            why = "no parallel port in " + proc + " has base address " + hex4(base);
        }
        return nullptr;
    }
    Claim c = claim(node, true);
    if (c.fd < 0 && c.opened && c.err == ENXIO) {
        // ppdev refuses an exclusive claim while another driver (lp) is registered on
        // the port. The exclusive flag stays on a descriptor, so claim on a new one.
        tell(node, c.failed_call, c.err, "another driver (the printer driver lp) shares the port; claiming it shared");
        c = claim(node, false);
    }
    if (c.fd >= 0) {
        *found = true;
        return std::make_unique<PpdevPort>(c.fd, base);
    }
    if (!c.opened) {
        // A missing node (ppdev not loaded) counts as no ppdev port; any other
        // failure (no permission, busy) means the port is there but not ours.
        bool missing = c.err == ENOENT || c.err == ENODEV || c.err == ENXIO;
        bool denied = c.err == EACCES || c.err == EPERM;
        tell(node, c.failed_call, c.err, missing ? FIX_MODULES : denied ? FIX_GROUP : nullptr);
        *found = !missing;
        if (missing)
            why = node + " cannot be opened";
    } else {
        tell(node, c.failed_call, c.err, "another program may hold the port");
        *found = true;
    }
    return nullptr;
}

std::unique_ptr<PortBackend> open_ioperm_port(uint16_t base, const std::string &why_not) {
    std::string port = "parallel port " + hex4(base);
    if (!why_not.empty())
        std::fprintf(stderr, "%s: no ppdev port: %s\n", port.c_str(), why_not.c_str());
    if (port_system().ioperm(base, PORT_REGISTERS, 1) < 0) {
        int err = errno;
        std::fprintf(stderr, "%s: ioperm: %s%s\n", port.c_str(), std::strerror(err),
                     err == EPERM ? " (direct access needs root or CAP_SYS_RAWIO)" : "");
        return nullptr;
    }
    std::fprintf(stderr, "%s: using direct port access (ioperm) instead\n", port.c_str());
#ifdef VOKHW_HAVE_IOPERM
    return std::make_unique<IopermPort>(base);
#else
    return nullptr;
#endif
}

} // namespace vokhw
