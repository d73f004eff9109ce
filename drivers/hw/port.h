// Port half of the hardware seam: access to the three registers of a PC parallel
// port (data at the base, status at base + 1, control at base + 2), one byte read or
// written at a time, through the backend that the machine offers.
//
// Backends, in the order they are tried:
//   bench   when VOKBENCH names a bench socket (then nothing else is tried);
//   ppdev   the /dev/parportN whose base address matches, claimed exclusively;
//   ioperm  x86 only, when no ppdev port matches and the process may use the ports.
//
// Each library that links this seam holds at most one port at a time.
#pragma once

#include <cstdint>
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

// Opens the backends one by one; null when the backend gives no access to base.
std::unique_ptr<PortBackend> open_bench_port(const char *socket_path, uint16_t base);
// found is set to false when no ppdev port at base exists at all, so that the
// caller may fall back to ioperm; a port that exists but cannot be claimed is found.
std::unique_ptr<PortBackend> open_ppdev_port(uint16_t base, bool *found);
std::unique_ptr<PortBackend> open_ioperm_port(uint16_t base);

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
