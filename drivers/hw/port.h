// Port half of the hardware seam: access to the three registers of a PC parallel
// port (data at the base, status at base + 1, control at base + 2), one byte read or
// written at a time, through the backend that the machine offers.
//
// Backends, in the order they are tried:
//   bench   when VOKBENCH names a bench socket (then nothing else is tried);
//   ppdev   the /dev/parportN whose base address matches, claimed exclusively, or
//           shared when the printer driver also holds the port;
//   ioperm  x86 only, when no ppdev port matches and the process may use the ports.
//
// Each library that links this seam holds at most one port at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vokhw {

constexpr uint16_t PORT_DATA = 0;
constexpr uint16_t PORT_STATUS = 1;
constexpr uint16_t PORT_CONTROL = 2;
constexpr int PORT_REGISTERS = 3;

enum class PortKind { none = 0, bench, ppdev, ioperm };

class PortBackend {
public:
    virtual ~PortBackend() = default;
    virtual PortKind kind() const = 0;
    // Addresses are absolute (base, base + 1, base + 2).
    virtual void write(uint16_t addr, uint8_t value) = 0;
    virtual uint8_t read(uint16_t addr) = 0;
    // Gives the registers back. False when the platform refused; the access is then
    // still held and release may be tried again.
    virtual bool release() = 0;
};

// The system calls of the ppdev and ioperm backends. Tests replace them to make
// them fail; each returns -1 and sets errno on failure, as the real ones do.
struct PortSystem {
    std::function<int(const char *path, int flags)> open;
    std::function<int(int fd, unsigned long request, void *arg)> ioctl;
    std::function<int(int fd)> close;
    std::function<int(unsigned long from, unsigned long count, int on)> ioperm; // ENOSYS where there is none
    std::string proc_dir = "/proc/sys/dev/parport";
};
PortSystem &port_system(); // the calls in use
PortSystem real_port_system();

// Opens the backends one by one; null when the backend gives no access to base.
std::unique_ptr<PortBackend> open_bench_port(const char *socket_path, uint16_t base);
// Claims the ppdev port at base, exclusively, or shared when another driver (the
// printer driver) also holds it. Failures are told on stderr with the step that
// fixes them. found is set to false when there is no usable ppdev port at base at
// all, with the reason in why_not, so that the caller may fall back to ioperm; a
// port that exists but cannot be claimed is found.
std::unique_ptr<PortBackend> open_ppdev_port(uint16_t base, bool *found, std::string *why_not = nullptr);
// Direct access; says on stderr that it is used and why_not ppdev, or why it failed.
std::unique_ptr<PortBackend> open_ioperm_port(uint16_t base, const std::string &why_not = "");

// The device node ("/dev/parportN") of the port whose base-addr file, under
// proc_dir, starts with base; empty when there is none.
std::string find_parport_device(uint16_t base,
                                const std::string &proc_dir = "/proc/sys/dev/parport");

// The port held by this library.
// Obtains access to the registers at base. When base is already held its backend is
// returned again; a different base held before is released first.
PortKind port_acquire(int32_t base);
PortKind port_kind();
int32_t port_held_base(); // -1 when nothing is held
// Releases the held port (pending bench writes are sent first). True when nothing
// is held any more.
bool port_release();
// Reads and writes outside the held registers, or with nothing held, do nothing;
// such a read, and a read that fails, gives 0.
void port_write(uint16_t addr, uint8_t value);
uint8_t port_read(uint16_t addr);

} // namespace vokhw
