// The client's side of the bench socket: connecting, whole sends and receives,
// a controller's request, and one USB request with its answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bench_wire.h"

namespace benchwire {

// Connects to the bench socket at path; -1 on failure, errno telling why.
int connect_bench(const char *path);

// The whole buffer, or false (errno set; a peer that went away raises no SIGPIPE).
bool send_all(int fd, const void *data, size_t size);
// Exactly size bytes, or false when the connection ends or fails first.
bool recv_all(int fd, void *data, size_t size);

// Sends "CTL <request>" on a fresh connection and reads the answer until the
// bench closes it; empty when nothing came back.
std::string ask_ctl(int fd, const std::string &request);

// A USB request with its payload (when the request carries one and payload is
// given), and the next answer with its payload. False when the connection fails or
// an answer announces more than USB_MAX_PAYLOAD.
bool send_request(int fd, const UsbRequest &r, const uint8_t *payload);
bool read_answer(int fd, UsbAnswer &a, std::vector<uint8_t> &payload);

} // namespace benchwire
