// One USB client connection of the bench server: takes the USB requests of
// bench_wire.h, hands transfers to the bench's bus and encodes the
// answers. A transfer's answer may come later, when the bus completes it while
// serving someone else; the server collects it with take_output().
#pragma once

#include <cstdint>
#include <vector>

#include "usbbus.h"

namespace bench {

class Bench;

class UsbLink {
public:
    explicit UsbLink(Bench &bench);
    ~UsbLink(); // cancels what is pending; a session ends with its last link
    UsbLink(const UsbLink &) = delete;
    UsbLink &operator=(const UsbLink &) = delete;

    // Bytes from the client; immediate answers go to out. False when the client
    // broke the protocol.
    bool received(const uint8_t *data, size_t size, std::vector<uint8_t> &out);
    // A transfer of this link completed.
    void completed(const ezusb::Transfer &t);
    // Answers that completed since the last call.
    void take_output(std::vector<uint8_t> &out);

private:
    void handle(const uint8_t *header, const uint8_t *payload, std::vector<uint8_t> &out);
    void answer(std::vector<uint8_t> &out, uint8_t op, int32_t result, uint32_t count,
                const uint8_t *payload = nullptr, size_t size = 0);
    void submit(const ezusb::TransferPtr &t);

    Bench &bench_;
    std::vector<uint8_t> in_;
    std::vector<uint8_t> later_;
    uint64_t session_ = 0;
    ezusb::TransferPtr waiting_; // at most one request per connection is open
    uint8_t waiting_op_ = 0;
    bool bad_ = false;
};

} // namespace bench
