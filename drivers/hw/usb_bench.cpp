// Bench backend of the USB seam: the USB requests of bench_wire.h over Unix
// stream sockets to the vokbench server.
#include <algorithm>
#include <cstring>
#include <functional>
#include <mutex>
#include <string_view>
#include <unistd.h>

#include "bench_socket.h"
#include "usb_backends.h"

namespace vokhw {

namespace {

// memcpy, but a count of 0 may come with a null pointer.
void copy_bytes(void *dst, const void *src, size_t n) {
    if (n) std::memcpy(dst, src, n);
}

using benchwire::read_answer;
using benchwire::send_request;
using benchwire::UsbAnswer;
using benchwire::UsbRequest;

// A connection to the bench that has said it carries USB requests; -1 on failure.
int connect_usb(const char *path) {
    int fd = benchwire::connect_bench(path);
    if (fd >= 0 && !benchwire::send_all(fd, benchwire::USB_HELLO, std::strlen(benchwire::USB_HELLO))) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// One request on a fresh connection; false when the bench cannot be reached.
bool one_shot(const char *path, const UsbRequest &r, UsbAnswer &a, std::vector<uint8_t> &payload) {
    int fd = connect_usb(path);
    if (fd < 0) return false;
    bool ok = send_request(fd, r, nullptr) && read_answer(fd, a, payload);
    ::close(fd);
    return ok;
}

class BenchUsbHandle final : public UsbHandle {
public:
    BenchUsbHandle(std::string path, int fd, int number, uint32_t session, UsbId id)
        : path_(std::move(path)), number_(number), session_(session), id_(id) {
        free_.push_back(fd);
        all_.push_back(fd);
    }

    ~BenchUsbHandle() override {
        int fd = acquire();
        if (fd >= 0) {
            UsbAnswer a;
            std::vector<uint8_t> p;
            UsbRequest r;
            r.op = benchwire::USB_CLOSE;
            if (send_request(fd, r, nullptr)) read_answer(fd, a, p);
        }
        for (int f : all_) ::close(f);
    }

    int number() const override { return number_; }
    UsbId id() const override { return id_; }
    std::string place() const override { return bench_place(number_); }

    int control(uint8_t request_type, uint8_t request, uint16_t value, uint16_t index, uint8_t *data,
                uint16_t length, unsigned timeout_ms) override {
        bool in = request_type & USB_REQUEST_IN;
        if (length && !data) return USB_ERROR_INVALID;
        std::vector<uint8_t> payload{request_type, request, uint8_t(value), uint8_t(value >> 8),
                                     uint8_t(index), uint8_t(index >> 8), uint8_t(length), uint8_t(length >> 8)};
        if (!in && length) payload.insert(payload.end(), data, data + length);
        UsbRequest r;
        r.op = benchwire::USB_CONTROL;
        r.timeout_ms = timeout_ms;
        r.length = uint32_t(payload.size());
        UsbAnswer a;
        std::vector<uint8_t> back;
        int rc = exchange(r, payload.data(), a, back);
        if (rc < 0) return rc;
        if (a.result < 0) return a.result;
        if (in) {
            size_t n = std::min<size_t>(back.size(), length);
            copy_bytes(data, back.data(), n);
            return int(n);
        }
        return int(a.count);
    }

    int bulk(uint8_t endpoint, uint8_t *data, int length, int *transferred, unsigned timeout_ms) override {
        int dummy;
        if (!transferred) transferred = &dummy;
        *transferred = 0;
        if (length < 0 || (length && !data)) return USB_ERROR_INVALID;
        bool in = endpoint & USB_ENDPOINT_IN;
        int done = 0;
        do {
            uint32_t chunk = std::min<uint32_t>(uint32_t(length - done), benchwire::USB_MAX_PAYLOAD);
            UsbRequest r;
            r.op = benchwire::USB_BULK;
            r.ep = endpoint;
            r.timeout_ms = timeout_ms;
            r.length = chunk;
            UsbAnswer a;
            std::vector<uint8_t> back;
            int rc = exchange(r, in ? nullptr : data + done, a, back);
            if (rc < 0) return rc;
            uint32_t got = in ? std::min<uint32_t>(uint32_t(back.size()), chunk) : std::min(a.count, chunk);
            if (in) copy_bytes(data + done, back.data(), got);
            done += int(got);
            *transferred = done;
            if (a.result < 0) return a.result;
            if (in && got < chunk) break; // a short packet ends an IN
        } while (done < length);
        return USB_OK;
    }

    // One request for the whole IN, so that all of it is posted before the writer
    // goes on.
    int bulk_in_ahead(uint8_t endpoint, uint8_t *data, int length, int *transferred,
                      const std::function<void()> &posted) override {
        int dummy;
        if (!transferred) transferred = &dummy;
        *transferred = 0;
        if (!(endpoint & USB_ENDPOINT_IN) || length < 0 || uint32_t(length) > benchwire::USB_MAX_PAYLOAD ||
            (length && !data)) {
            posted();
            return USB_ERROR_INVALID;
        }
        UsbRequest r;
        r.op = benchwire::USB_BULK;
        r.ep = endpoint;
        r.arg = benchwire::USB_BULK_AHEAD;
        r.length = uint32_t(length);
        UsbAnswer a;
        std::vector<uint8_t> back;
        int rc = exchange(r, nullptr, a, back, &posted);
        if (rc < 0) return rc;
        uint32_t got = std::min<uint32_t>(uint32_t(back.size()), uint32_t(length));
        copy_bytes(data, back.data(), got);
        *transferred = int(got);
        return a.result < 0 ? a.result : USB_OK;
    }

    bool await_in(uint8_t endpoint, unsigned timeout_ms) override {
        return request(benchwire::USB_WAIT, endpoint, timeout_ms) == USB_OK;
    }

    void cancel(uint8_t endpoint) override {
        request(benchwire::USB_CANCEL, endpoint);
    }

    int config_descriptor(std::vector<uint8_t> &out) override {
        UsbRequest r;
        r.op = benchwire::USB_CONFIG;
        UsbAnswer a;
        int rc = exchange(r, nullptr, a, out);
        return rc < 0 ? rc : a.result;
    }

    int clear_halt(uint8_t endpoint) override {
        return request(benchwire::USB_CLEAR_HALT, endpoint);
    }

private:
    // A connection of this session for one request; each thread gets its own.
    int acquire() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!free_.empty()) {
                int fd = free_.back();
                free_.pop_back();
                return fd;
            }
        }
        int fd = connect_usb(path_.c_str());
        if (fd < 0) return -1;
        UsbRequest r;
        r.op = benchwire::USB_JOIN;
        r.arg = session_;
        UsbAnswer a;
        std::vector<uint8_t> back;
        if (!send_request(fd, r, nullptr) || !read_answer(fd, a, back) || a.result < 0) {
            ::close(fd);
            return -1;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        all_.push_back(fd);
        return fd;
    }

    void give_back(int fd) {
        std::lock_guard<std::mutex> lock(mutex_);
        free_.push_back(fd);
    }

    // A request without payload whose answer is only its result.
    int request(uint8_t op, uint8_t endpoint, uint32_t arg = 0) {
        UsbRequest r;
        r.op = op;
        r.ep = endpoint;
        r.arg = arg;
        UsbAnswer a;
        std::vector<uint8_t> back;
        int rc = exchange(r, nullptr, a, back);
        return rc < 0 ? rc : a.result;
    }

    // Sends a request and waits for its answer; posted (when given) is called once
    // the request is sent or has failed. Timeouts are the bench's: it ends a
    // transfer when its time has passed on the simulated clock, which runs for
    // every request the host blocks on.
    int exchange(const UsbRequest &r, const uint8_t *payload, UsbAnswer &a, std::vector<uint8_t> &back,
                 const std::function<void()> *posted = nullptr) {
        int fd = acquire();
        bool sent = fd >= 0 && send_request(fd, r, payload);
        if (posted) (*posted)();
        if (fd < 0) return USB_ERROR_NO_DEVICE;
        bool answered = sent && read_answer(fd, a, back);
        give_back(fd);
        return answered ? USB_OK : USB_ERROR_IO;
    }

    std::string path_;
    int number_;
    uint32_t session_;
    UsbId id_;
    std::mutex mutex_;
    std::vector<int> free_;
    std::vector<int> all_;
};

std::mutex wait_mutex;
int wait_fd = -1;
std::string wait_path;

} // namespace

std::vector<UsbBoardInfo> bench_list_boards(const char *socket_path) {
    UsbRequest r;
    r.op = benchwire::USB_LIST;
    UsbAnswer a;
    std::vector<uint8_t> p;
    std::vector<UsbBoardInfo> boards;
    if (!one_shot(socket_path, r, a, p)) return boards;
    for (size_t i = 0; i + benchwire::BOARD_ENTRY_SIZE <= p.size(); i += benchwire::BOARD_ENTRY_SIZE) {
        benchwire::BoardEntry b = benchwire::decode_board(&p[i]);
        boards.push_back({b.number, b.vid, b.pid, "bench board " + std::to_string(b.number), bench_place(b.number)});
    }
    return boards;
}

// A bench board keeps its number for as long as it is attached, renumerations
// included, so its number is its place.
std::string bench_place(int number) { return "bench:" + std::to_string(number); }

int bench_place_number(const std::string &place) {
    constexpr std::string_view prefix = "bench:";
    if (place.size() <= prefix.size() || place.size() > prefix.size() + 3 || place.compare(0, prefix.size(), prefix) != 0)
        return -1;
    int n = 0;
    for (size_t i = prefix.size(); i < place.size(); ++i) {
        if (place[i] < '0' || place[i] > '9') return -1;
        n = n * 10 + (place[i] - '0');
    }
    return n;
}

std::unique_ptr<UsbHandle> bench_open(const char *socket_path, int number, std::string *reason) {
    int fd = connect_usb(socket_path);
    if (fd < 0) {
        *reason = std::string("cannot reach the bench at ") + socket_path;
        return nullptr;
    }
    UsbRequest r;
    r.op = benchwire::USB_OPEN;
    r.arg = uint32_t(number);
    UsbAnswer a;
    std::vector<uint8_t> p;
    if (!send_request(fd, r, nullptr) || !read_answer(fd, a, p) || a.result < 0 || p.size() < size_t(benchwire::OPENED_SIZE)) {
        ::close(fd);
        if (a.result == USB_ERROR_BUSY) *reason = "bench board " + std::to_string(number) + " is in use";
        else *reason = "no bench board " + std::to_string(number);
        return nullptr;
    }
    benchwire::OpenedBoard opened = benchwire::decode_opened(p.data());
    return std::make_unique<BenchUsbHandle>(socket_path, fd, number, opened.session, UsbId{opened.vid, opened.pid});
}

bool bench_wait_ms(const char *socket_path, unsigned ms) {
    std::lock_guard<std::mutex> lock(wait_mutex);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (wait_fd < 0 || wait_path != socket_path) {
            if (wait_fd >= 0) ::close(wait_fd);
            wait_fd = connect_usb(socket_path);
            wait_path = socket_path;
            if (wait_fd < 0) return false;
        }
        UsbRequest r;
        r.op = benchwire::USB_WAIT;
        r.arg = ms;
        UsbAnswer a;
        std::vector<uint8_t> p;
        if (send_request(wait_fd, r, nullptr) && read_answer(wait_fd, a, p)) return true;
        ::close(wait_fd);
        wait_fd = -1;
    }
    return false;
}

} // namespace vokhw
