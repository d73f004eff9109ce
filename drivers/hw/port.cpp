// The port held by one library, and the choice of its backend.
#include "port.h"

#include <cstdlib>

#include "bench_socket.h"
#include "port_client.h"

namespace vokhw {

namespace {

// The bench's port records, over the bench socket.
class BenchPort : public PortBackend {
public:
    explicit BenchPort(int fd) : client_(fd) {}
    bool open(uint16_t base) { return client_.open(base); }
    PortKind kind() const override { return PortKind::bench; }
    void write(uint16_t addr, uint8_t value) override { client_.write(addr, value); }
    uint8_t read(uint16_t addr) override { return client_.read(addr); }
    bool release() override {
        client_.release();
        return true;
    }

private:
    benchwire::PortClient client_;
};

struct HeldPort {
    std::unique_ptr<PortBackend> backend;
    int32_t base = -1;

    // A library unloaded with its port still held gives it back, so that batched
    // bench writes are not lost.
    ~HeldPort() {
        if (backend)
            backend->release();
    }
};

HeldPort held;

bool in_range(uint16_t addr) {
    return held.backend && addr >= held.base && addr < held.base + PORT_REGISTERS;
}

} // namespace

std::unique_ptr<PortBackend> open_bench_port(const char *socket_path, uint16_t base) {
    int fd = benchwire::connect_bench(socket_path);
    if (fd < 0)
        return nullptr;
    auto port = std::make_unique<BenchPort>(fd);
    if (!port->open(base))
        return nullptr;
    return port;
}

PortKind port_acquire(int32_t base) {
    if (held.backend && held.base == base)
        return held.backend->kind();
    if (!port_release())
        return PortKind::none;
    // The three registers must lie inside the 16-bit I/O space.
    if (base < 0 || base > 0xFFFF - (PORT_REGISTERS - 1))
        return PortKind::none;
    auto addr = static_cast<uint16_t>(base);

    std::unique_ptr<PortBackend> backend;
    const char *bench = std::getenv(benchwire::ENV_SOCKET);
    if (bench != nullptr && *bench != '\0') {
        backend = open_bench_port(bench, addr);
    } else {
        bool found = false;
        std::string why_not;
        backend = open_ppdev_port(addr, &found, &why_not);
        if (!backend && !found)
            backend = open_ioperm_port(addr, why_not);
    }
    if (!backend)
        return PortKind::none;
    held.backend = std::move(backend);
    held.base = base;
    return held.backend->kind();
}

PortKind port_kind() { return held.backend ? held.backend->kind() : PortKind::none; }

int32_t port_held_base() { return held.backend ? held.base : -1; }

bool port_release() {
    if (!held.backend)
        return true;
    if (!held.backend->release())
        return false;
    held.backend.reset();
    held.base = -1;
    return true;
}

void port_write(uint16_t addr, uint8_t value) {
    if (in_range(addr))
        held.backend->write(addr, value);
}

uint8_t port_read(uint16_t addr) { return in_range(addr) ? held.backend->read(addr) : 0; }

} // namespace vokhw
