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
#include <thread>
#include <vector>

#include "usb.h"

namespace {

constexpr int ATTEMPTS = 200;
constexpr unsigned CONTROL_TIMEOUT_MS = 5000;
constexpr unsigned WRITE_TIMEOUT_MS = 5000;
constexpr unsigned DOWNLOAD_WAIT_MS = 1500;
constexpr unsigned ABSENT_POLL_MS = 50;
constexpr unsigned RECONNECT_WAIT_MS = 500;
constexpr unsigned CANCEL_POLL_MS = 50;

constexpr uint8_t GET_DESCRIPTOR = 6;
constexpr uint8_t STRING_DESCRIPTOR = 3;
constexpr uint16_t STRING_LANGUAGE = 0x001B;
constexpr uint8_t FIRMWARE_LOAD = 0xA0;
constexpr uint8_t VENDOR_OUT = 0x40;
constexpr uint16_t CPUCS = 0x7F92;
// Pieces of the download, as the usual loaders send them.
constexpr int DOWNLOAD_PIECE = 1023;

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
std::unique_ptr<Event> read_posted_event; // the read's request is on its way, or over
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

void say(const char *text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

// Endpoint of a pipe index, or 0 when the interface has no such pipe.
uint8_t pipe_endpoint(uint32_t pipe) {
    return pipe < pipe_endpoints.size() ? pipe_endpoints[pipe] : 0;
}

bool read_string(vokhw::UsbHandle &h, uint8_t index, char *text, int text_size) {
    uint8_t answer[ezusb::STRING_ANSWER] = {};
    int got = h.control(vokhw::USB_REQUEST_IN, GET_DESCRIPTOR,
                        static_cast<uint16_t>(STRING_DESCRIPTOR << 8 | index), STRING_LANGUAGE,
                        answer, sizeof answer, CONTROL_TIMEOUT_MS);
    if (got < 0)
        return false;
    ezusb::decode_string(answer, got, text, text_size);
    return true;
}

bool runs_firmware(vokhw::UsbHandle &h, const char *string1, const char *string2) {
    char text[ezusb::STRING_ANSWER];
    if (!read_string(h, 1, text, sizeof text) || std::strcmp(text, string1) != 0)
        return false;
    return read_string(h, 2, text, sizeof text) && std::strcmp(text, string2) == 0;
}

int write_ram(vokhw::UsbHandle &h, uint16_t address, const uint8_t *data, uint16_t length) {
    return h.control(VENDOR_OUT, FIRMWARE_LOAD, address, 0, const_cast<uint8_t *>(data), length,
                     CONTROL_TIMEOUT_MS);
}

bool set_cpucs(vokhw::UsbHandle &h, uint8_t value, bool may_leave) {
    int rc = write_ram(h, CPUCS, &value, 1);
    // A firmware that renumerates at once may leave the bus before the request
    // is acknowledged: it runs, which is what the request was for.
    return rc >= 0 || (may_leave && rc == vokhw::USB_ERROR_NO_DEVICE);
}

bool download(vokhw::UsbHandle &h, const uint8_t *image) {
    for (int at = 0; at < ezusb::IMAGE_SIZE; at += DOWNLOAD_PIECE) {
        int n = std::min(DOWNLOAD_PIECE, ezusb::IMAGE_SIZE - at);
        if (write_ram(h, static_cast<uint16_t>(at), image + at, static_cast<uint16_t>(n)) != n)
            return false;
    }
    return true;
}

bool read_endpoints(vokhw::UsbHandle &h) {
    std::vector<uint8_t> config;
    if (h.config_descriptor(config) != vokhw::USB_OK)
        return false;
    uint8_t list[32];
    int n = ezusb::endpoint_list(config.data(), static_cast<int>(config.size()), list, 32);
    pipe_endpoints.assign(list, list + n);
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
    int count = received >= 2 ? answer[0] / 2 - 1 : 0;
    count = std::min({count, (received - 2) / 2, text_size - 1});
    int i = 0;
    for (; i < count; ++i)
        text[i] = static_cast<char>(answer[2 + 2 * i]);
    text[std::max(i, 0)] = '\0';
}

int endpoint_list(const uint8_t *config, int length, uint8_t *endpoints, int max) {
    constexpr uint8_t INTERFACE = 4, ENDPOINT = 5;
    int count = 0;
    bool in_interface = false;
    for (int at = 0; at + 2 <= length && config[at] >= 2; at += config[at]) {
        uint8_t size = config[at], type = config[at + 1];
        if (at + size > length)
            break;
        if (type == INTERFACE && size >= 4)
            in_interface = config[at + 2] == 0 && config[at + 3] == 0;
        else if (type == ENDPOINT && size >= 3 && in_interface && count < max)
            endpoints[count++] = config[at + 2];
    }
    return count;
}

} // namespace ezusb

extern "C" {

VOK_EXPORT int32_t ezusb_init(int32_t index, const uint8_t *image, const char *string1,
                              const char *string2) {
    ezusb_close();
    bool reconnect_pending = false;
    for (int attempt = 0; attempt < ATTEMPTS; ++attempt) {
        std::unique_ptr<vokhw::UsbHandle> h = vokhw::usb_open(index);
        if (!h) {
            if (attempt == 0)
                return -1;
            vokhw::usb_wait_ms(ABSENT_POLL_MS);
            say(".");
            continue;
        }
        if (reconnect_pending) {
            // Back after the download: open it afresh and check it next time.
            say("-Reconnect");
            reconnect_pending = false;
            h.reset();
            vokhw::usb_wait_ms(RECONNECT_WAIT_MS);
            continue;
        }
        if (runs_firmware(*h, string1, string2)) {
            if (!read_endpoints(*h))
                return -1;
            ctrl_handle = std::move(h);
            read_handle = ctrl_handle.get();
            read_start_event = std::make_unique<Event>();
            read_posted_event = std::make_unique<Event>();
            read_done_event = std::make_unique<Event>();
            read_buffer = nullptr;
            read_endpoint = 0; // no read handed to the thread yet
            read_remaining = 0;
            read_abort = false;
            reader.thread = std::thread(ezusb_read_thread, nullptr);
            return 0;
        }
        say("-Boot");
        if (!set_cpucs(*h, 1, false)) {
            say("i8051 halt err.\n");
            return -1;
        }
        if (!download(*h, image)) {
            say("usb dwnload err.\n");
            return -1;
        }
        if (!set_cpucs(*h, 0, true)) {
            say("i8051 run err.\n");
            return -1;
        }
        h.reset();
        reconnect_pending = true;
        vokhw::usb_wait_ms(DOWNLOAD_WAIT_MS);
        say("-Wait");
        say(".");
    }
    return -1;
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
    read_posted_event.reset();
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
    read_posted_event->reset();
    read_buffer = buffer;
    read_endpoint = endpoint;
    read_remaining = endpoint & vokhw::USB_ENDPOINT_IN ? std::max(length, 0) : -1;
    read_start_event->set();
    // The caller writes next what the board answers: the read goes out first.
    read_posted_event->wait();
    return 1;
}

VOK_EXPORT int32_t ezusb_bulk_read_left(int32_t wait) {
    if (!read_done_event)
        return -1;
    // The board may still be answering: it is given the time (on the bench, the
    // simulated clock runs until the read ends).
    bool ended = !wait || read_endpoint == 0 || read_done_event->wait_for(0) ||
                 read_handle->await_in(read_endpoint, ezusb::READ_WAIT_MS);
    if (wait && !(ended && read_done_event->wait_for(ezusb::READ_WAIT_MS))) {
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
        read_posted_event->set();
        read_done_event->set();
        read_start_event->wait();
        read_start_event->reset();
        if (read_buffer == nullptr)
            return 0;
        // The whole read is one request, posted before the caller writes; what a
        // short packet leaves is asked for again.
        while (read_remaining > 0) {
            int got = 0;
            int rc = read_abort ? vokhw::USB_ERROR_CANCELLED
                                : read_handle->bulk_in_ahead(read_endpoint, read_buffer, read_remaining, &got,
                                                             [] { read_posted_event->set(); });
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
