// A client of the bench's port records: one port of the bench, held over a
// connected socket, its registers written and read one byte at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "bench_wire.h"

namespace benchwire {

class PortClient {
public:
    // Records held back before they are sent: writes need no answer, so they go out
    // in batches, at the latest before the next read, at release or when this is full.
    static constexpr size_t BATCH_RECORDS = 1024;

    // Takes over a connected socket on which the hello line has not been sent yet.
    explicit PortClient(int fd);
    ~PortClient();
    PortClient(const PortClient &) = delete;
    PortClient &operator=(const PortClient &) = delete;

    // Sends the hello line and opens the port at base: true when the bench has a
    // port there.
    bool open(uint16_t base);

    // Once the connection is lost, reads give 0 and writes go nowhere.
    void write(uint16_t addr, uint8_t value);
    uint8_t read(uint16_t addr);
    // Sends what is held back, gives the port back and closes the connection.
    void release();

    bool broken() const { return fd_ < 0; }

private:
    void put(uint8_t op, uint16_t addr, uint8_t value);
    bool flush();
    bool answer(uint8_t *byte);
    void lost(const char *why);
    void close();

    int fd_;
    uint16_t base_ = 0;
    std::array<uint8_t, BATCH_RECORDS * RECORD_SIZE> batch_{};
    size_t used_ = 0;
};

} // namespace benchwire
