// EZ-USB access layer over the USB seam. The old kernel driver's requests are
// built from the seam's operations: a string descriptor is a GET_DESCRIPTOR,
// the download and the 8051 reset are vendor request 0xA0 writes, and a pipe
// index names the endpoint at that position of the running firmware's
// interface descriptor.
#include "ezusb.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "usb.h"
#include "usb_loader.h"

namespace {

constexpr unsigned WRITE_TIMEOUT_MS = 5000;
constexpr unsigned CANCEL_POLL_MS = 50;
// A stale answer sits in the chip's buffer and comes with the next IN token;
// 20 ms of silence means the pipe is empty. At most two staging buffers' worth.
constexpr unsigned DRAIN_QUIET_MS = 20;
constexpr int DRAIN_MAX_BYTES = 2 * ezusb::MAX_REQUEST;

// The board check and download: pieces as the usual loaders send them, 1500 ms
// for the board to leave, 50 ms polls while it is away, 500 ms to settle, 200
// opens in all; the board is checked again when it is back.
constexpr vokhw::UsbLoadSettings LOAD_SETTINGS = {
    .download_piece = 1023,
    .control_timeout_ms = 5000,
    .first_wait_ms = 1500,
    .poll_ms = 50,
    .settle_ms = 500,
    .max_opens = 200,
    .shifted_wait_ms = 3000,
    .read_both_strings = false,
    .check_again = true,
    .progress_marks = true,
};

// A manual-reset event: stays signalled until reset.
class Event {
public:
    void set() {
        std::lock_guard lock(mutex_);
        signalled_ = true;
        cv_.notify_all();
    }
    void reset() {
        std::lock_guard lock(mutex_);
        signalled_ = false;
    }
    void wait() {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [this] { return signalled_; });
    }
    // True when signalled within ms.
    bool wait_for(unsigned ms) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return signalled_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_ = false;
};

// One device handle serves both threads: the seam allows a bulk IN pending in
// one thread while the other writes, and the interface is claimed only once.
std::unique_ptr<vokhw::UsbHandle> ctrl_handle;
vokhw::UsbHandle *read_handle = nullptr;
std::unique_ptr<Event> read_start_event;
std::unique_ptr<Event> read_done_event;
// A library unloaded without ezusb_close still ends its thread first (a joinable
// std::thread would end the process).
struct ReadThread {
    std::thread thread;
    ~ReadThread() {
        if (thread.joinable())
            ezusb_close();
    }
} reader;
std::vector<uint8_t> pipe_endpoints;

// Owned by the caller while read_done_event is set, by the thread otherwise.
uint8_t *read_buffer = nullptr;
uint8_t read_endpoint = 0;
// Read by the caller at any time, hence atomic.
std::atomic<int32_t> read_remaining{0};
// Set by the caller to end a pending read; the thread checks it between requests.
std::atomic<bool> read_abort{false};

std::string failure;

// Endpoint of a pipe index, or 0 when the interface has no such pipe.
uint8_t pipe_endpoint(uint32_t pipe) {
    return pipe < pipe_endpoints.size() ? pipe_endpoints[pipe] : 0;
}

bool read_endpoints(vokhw::UsbHandle &h) {
    std::vector<uint8_t> config;
    if (h.config_descriptor(config) != vokhw::USB_OK) {
        failure = "the configuration descriptor of EZ-USB board " + std::to_string(h.number()) +
                  " cannot be read";
        return false;
    }
    pipe_endpoints = vokhw::usb_endpoint_map(config.data(), config.size());
    return true;
}

// Ends a pending read: the thread stops before its next request, and the
// request in flight is cancelled (again, until the thread is idle, since a
// request may start just after a cancel).
void abort_read() {
    read_abort = true;
    while (!read_done_event->wait_for(CANCEL_POLL_MS))
        read_handle->cancel(read_endpoint);
    read_abort = false;
}

} // namespace

namespace ezusb {

void decode_string(const uint8_t *answer, int received, char *text, int text_size) {
    vokhw::usb_decode_string(answer, received, text, text_size);
}

int endpoint_list(const uint8_t *config, int length, uint8_t *endpoints, int max) {
    auto list = vokhw::usb_endpoint_map(config, static_cast<size_t>(std::max(length, 0)));
    int n = std::min(static_cast<int>(list.size()), max);
    std::copy_n(list.begin(), n, endpoints);
    return n;
}

const char *failure_reason() { return failure.c_str(); }

int32_t drain(uint32_t pipe) {
    uint8_t endpoint = pipe_endpoint(pipe);
    if (!ctrl_handle || !(endpoint & vokhw::USB_ENDPOINT_IN))
        return -1;
    int dropped = vokhw::usb_drain_in(*ctrl_handle, endpoint, DRAIN_QUIET_MS, DRAIN_MAX_BYTES);
    return dropped < 0 ? -1 : dropped;
}

} // namespace ezusb

extern "C" {

VOK_EXPORT int32_t ezusb_init(int32_t index, const uint8_t *image, const char *string1,
                              const char *string2) {
    ezusb_close();
    failure.clear();
    vokhw::UsbBoardLoader loader(LOAD_SETTINGS);
    std::unique_ptr<vokhw::UsbHandle> h =
        loader.load(index, image, ezusb::IMAGE_SIZE, string1, string2);
    if (!h) {
        failure = loader.reason();
        return -1;
    }
    if (!read_endpoints(*h))
        return -1;
    ctrl_handle = std::move(h);
    read_handle = ctrl_handle.get();
    read_start_event = std::make_unique<Event>();
    read_done_event = std::make_unique<Event>();
    read_buffer = nullptr;
    read_remaining = 0;
    read_abort = false;
    reader.thread = std::thread(ezusb_read_thread, nullptr);
    return 0;
}

VOK_EXPORT int32_t ezusb_close(void) {
    if (!read_start_event)
        return 0;
    if (reader.thread.joinable()) {
        abort_read();
        read_buffer = nullptr;
        read_start_event->set();
        reader.thread.join();
    }
    read_handle = nullptr;
    ctrl_handle.reset();
    read_done_event.reset();
    read_start_event.reset();
    pipe_endpoints.clear();
    return 1;
}

VOK_EXPORT int32_t ezusb_bulk_write(uint32_t pipe, const uint8_t *data, int32_t length) {
    uint8_t endpoint = pipe_endpoint(pipe);
    if (!ctrl_handle || (length > 0 && (endpoint == 0 || (endpoint & vokhw::USB_ENDPOINT_IN))))
        return -1;
    while (length > 0) {
        int n = std::min(length, ezusb::MAX_REQUEST), sent = 0;
        int rc = ctrl_handle->bulk(endpoint, const_cast<uint8_t *>(data), n, &sent,
                                   WRITE_TIMEOUT_MS);
        // A request that moves nothing would never end the loop.
        if (rc != vokhw::USB_OK || sent <= 0)
            return -1;
        data += sent;
        length -= sent;
    }
    return 0;
}

VOK_EXPORT int32_t ezusb_bulk_read(uint32_t pipe, uint8_t *buffer, int32_t length) {
    int32_t left = ezusb_bulk_read_left(1);
    if (left != 0)
        return left;
    uint8_t endpoint = pipe_endpoint(pipe);
    read_done_event->reset();
    read_buffer = buffer;
    read_endpoint = endpoint;
    read_remaining = endpoint & vokhw::USB_ENDPOINT_IN ? std::max(length, 0) : -1;
    read_start_event->set();
    return 1;
}

VOK_EXPORT int32_t ezusb_bulk_read_left(int32_t wait) {
    if (!read_done_event)
        return -1;
    if (wait && !read_done_event->wait_for(ezusb::READ_WAIT_MS)) {
        // Too late: the read must not write into the buffer once the caller
        // goes on, so it is cancelled and counts as failed.
        abort_read();
        if (read_remaining != 0)
            read_remaining = -1;
    }
    return read_remaining;
}

VOK_EXPORT uint32_t ezusb_read_thread(void * /*parameter*/) {
    for (;;) {
        read_buffer = nullptr;
        read_done_event->set();
        read_start_event->wait();
        read_start_event->reset();
        if (read_buffer == nullptr)
            return 0;
        while (read_remaining > 0) {
            int n = std::min(read_remaining.load(), ezusb::MAX_REQUEST), got = 0;
            int rc = read_abort ? vokhw::USB_ERROR_CANCELLED
                                : read_handle->bulk(read_endpoint, read_buffer, n, &got, 0);
            if (rc != vokhw::USB_OK || got <= 0) {
                read_remaining = -1;
                break;
            }
            read_buffer += got;
            read_remaining -= got;
        }
    }
}

} // extern "C"
