// Bench backend of the port seam: port records of bench_protocol.h over a Unix
// stream socket to the vokbench server.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "bench_protocol.h"
#include "port.h"

namespace vokhw {

class BenchPort : public PortBackend {
public:
    // Records held back before they are sent: writes need no answer, so they go out
    // in batches, at the latest before the next read, at release or when this is full.
    static constexpr size_t BATCH_RECORDS = 1024;

    // Takes over a connected socket on which the hello line has not been sent yet.
    explicit BenchPort(int fd);
    ~BenchPort() override;
    BenchPort(const BenchPort &) = delete;
    BenchPort &operator=(const BenchPort &) = delete;

    // Sends the hello line and opens the port at base: true when the bench has a
    // port there.
    bool open(uint16_t base);

    PortKind kind() const override { return PortKind::bench; }
    void write(uint16_t addr, uint8_t value) override;
    uint8_t read(uint16_t addr) override;
    bool release() override;

    bool broken() const { return fd_ < 0; }

private:
    void put(uint8_t op, uint16_t addr, uint8_t value);
    bool flush();
    bool answer(uint8_t *byte);
    void lost(const char *why);

    int fd_;
    uint16_t base_ = 0;
    std::array<uint8_t, BATCH_RECORDS * benchwire::RECORD_SIZE> batch_{};
    size_t used_ = 0;
};

// Connects to the bench socket at path; -1 on failure.
int bench_connect(const char *path);

} // namespace vokhw
