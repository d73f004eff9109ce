// Real-hardware backends of the port seam on Linux: ppdev and ioperm.
#include "port.h"

#include <cerrno>
#include <cstdlib>
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
            ::ioctl(fd_, PPRELEASE);
            ::close(fd_);
        }
    }
    PortKind kind() const override { return PortKind::ppdev; }

    void write(uint16_t addr, uint8_t value) override {
        if (fd_ < 0)
            return;
        unsigned char v = value;
        switch (addr - base_) {
        case PORT_DATA:
            ::ioctl(fd_, PPWDATA, &v);
            break;
        case PORT_CONTROL:
            ::ioctl(fd_, PPWCONTROL, &v);
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
            rc = ::ioctl(fd_, PPRDATA, &v);
            break;
        case PORT_STATUS:
            rc = ::ioctl(fd_, PPRSTATUS, &v);
            break;
        case PORT_CONTROL:
            rc = ::ioctl(fd_, PPRCONTROL, &v);
            break;
        default:
            break;
        }
        return rc < 0 ? 0 : v;
    }

    bool release() override {
        if (fd_ < 0)
            return true;
        if (::ioctl(fd_, PPRELEASE) < 0)
            return false;
        ::close(fd_);
        fd_ = -1;
        return true;
    }

private:
    int fd_;
    uint16_t base_;
};

#ifdef VOKHW_HAVE_IOPERM
class IopermPort : public PortBackend {
public:
    explicit IopermPort(uint16_t base) : base_(base) {}
    ~IopermPort() override {
        if (held_)
            ::ioperm(base_, PORT_REGISTERS, 0);
    }
    PortKind kind() const override { return PortKind::ioperm; }
    void write(uint16_t addr, uint8_t value) override {
        if (held_)
            ::outb(value, addr);
    }
    uint8_t read(uint16_t addr) override { return held_ ? ::inb(addr) : 0; }
    bool release() override {
        if (held_ && ::ioperm(base_, PORT_REGISTERS, 0) < 0)
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

std::unique_ptr<PortBackend> open_ppdev_port(uint16_t base, bool *found) {
    *found = false;
    std::string dev = find_parport_device(base);
    if (dev.empty())
        return nullptr;
    int fd = ::open(dev.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        // A missing node (ppdev not loaded) counts as no ppdev port; any other
        // failure (no permission, busy) means the port is there but not ours.
        *found = !(errno == ENOENT || errno == ENODEV || errno == ENXIO);
        return nullptr;
    }
    *found = true;
    if (::ioctl(fd, PPEXCL) < 0 || ::ioctl(fd, PPCLAIM) < 0) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<PpdevPort>(fd, base);
}

std::unique_ptr<PortBackend> open_ioperm_port(uint16_t base) {
#ifdef VOKHW_HAVE_IOPERM
    if (::ioperm(base, PORT_REGISTERS, 1) < 0)
        return nullptr;
    return std::make_unique<IopermPort>(base);
#else
    (void)base;
    return nullptr;
#endif
}

} // namespace vokhw
