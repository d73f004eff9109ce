// libusb-1.0 backend of the USB seam.
#include <algorithm>
#include <array>
#include <cstdio>
#include <libusb.h>
#include <mutex>
#include <set>

#include "usb_backends.h"

namespace vokhw {

namespace {

int from_libusb(int rc) {
    switch (rc) {
    case LIBUSB_ERROR_IO: return USB_ERROR_IO;
    case LIBUSB_ERROR_INVALID_PARAM: return USB_ERROR_INVALID;
    case LIBUSB_ERROR_ACCESS: return USB_ERROR_ACCESS;
    case LIBUSB_ERROR_NO_DEVICE: return USB_ERROR_NO_DEVICE;
    case LIBUSB_ERROR_NOT_FOUND: return USB_ERROR_NOT_FOUND;
    case LIBUSB_ERROR_BUSY: return USB_ERROR_BUSY;
    case LIBUSB_ERROR_TIMEOUT: return USB_ERROR_TIMEOUT;
    case LIBUSB_ERROR_OVERFLOW: return USB_ERROR_OVERFLOW;
    case LIBUSB_ERROR_PIPE: return USB_ERROR_PIPE;
    default: return rc < 0 ? USB_ERROR_IO : rc;
    }
}

int from_status(libusb_transfer_status s) {
    switch (s) {
    case LIBUSB_TRANSFER_COMPLETED: return USB_OK;
    case LIBUSB_TRANSFER_TIMED_OUT: return USB_ERROR_TIMEOUT;
    case LIBUSB_TRANSFER_CANCELLED: return USB_ERROR_CANCELLED;
    case LIBUSB_TRANSFER_STALL: return USB_ERROR_PIPE;
    case LIBUSB_TRANSFER_NO_DEVICE: return USB_ERROR_NO_DEVICE;
    case LIBUSB_TRANSFER_OVERFLOW: return USB_ERROR_OVERFLOW;
    default: return USB_ERROR_IO;
    }
}

int init_result = 0;

// One context for the process, made on first use; init_result keeps why it failed.
libusb_context *context() {
    static libusb_context *ctx = [] {
        libusb_context *c = nullptr;
        init_result = libusb_init(&c);
        return init_result == 0 ? c : nullptr;
    }();
    return ctx;
}

struct Found {
    libusb_device *dev;
    uint16_t vid, pid;
    std::array<uint8_t, 8> path; // bus number, then the port numbers
    int depth;
};

// The boards in board-number order: by bus, then by the ports leading to them, which
// stay the same when a board renumerates.
std::vector<Found> find_boards(libusb_device **list, ssize_t count) {
    std::vector<Found> boards;
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor d;
        if (libusb_get_device_descriptor(list[i], &d) != 0 || !usb_is_board_id(d.idVendor, d.idProduct)) continue;
        Found f{list[i], d.idVendor, d.idProduct, {}, 0};
        f.path[0] = libusb_get_bus_number(list[i]);
        int n = libusb_get_port_numbers(list[i], f.path.data() + 1, int(f.path.size() - 1));
        f.depth = n < 0 ? 0 : n;
        boards.push_back(f);
    }
    std::sort(boards.begin(), boards.end(), [](const Found &a, const Found &b) {
        return std::lexicographical_compare(a.path.begin(), a.path.begin() + 1 + a.depth, b.path.begin(),
                                            b.path.begin() + 1 + b.depth);
    });
    return boards;
}

// "1-2.3": the bus number, then the ports from the root hub, as sysfs names them.
std::string place_of(const Found &f) {
    std::string p = std::to_string(f.path[0]);
    for (int i = 0; i < f.depth; ++i) p += (i == 0 ? "-" : ".") + std::to_string(f.path[size_t(i) + 1]);
    return p;
}

// The IDs of every device on the buses, for a message that no board was found.
std::string ids_seen(libusb_device **list, ssize_t count) {
    std::string ids;
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor d;
        if (libusb_get_device_descriptor(list[i], &d) != 0) continue;
        char id[16];
        std::snprintf(id, sizeof id, "%s%04x:%04x", ids.empty() ? "" : " ", d.idVendor, d.idProduct);
        ids += id;
    }
    return ids.empty() ? "no USB device seen" : "IDs seen: " + ids;
}

std::string node(libusb_device *dev) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "/dev/bus/usb/%03u/%03u", libusb_get_bus_number(dev), libusb_get_device_address(dev));
    return buf;
}

class LibusbHandle final : public UsbHandle {
public:
    LibusbHandle(libusb_device_handle *h, int number, UsbId id, std::string place)
        : h_(h), number_(number), id_(id), place_(std::move(place)) {}
    ~LibusbHandle() override {
        libusb_release_interface(h_, 0);
        libusb_close(h_);
    }

    int number() const override { return number_; }
    UsbId id() const override { return id_; }
    std::string place() const override { return place_; }

    int control(uint8_t request_type, uint8_t request, uint16_t value, uint16_t index, uint8_t *data,
                uint16_t length, unsigned timeout_ms) override {
        return from_libusb(libusb_control_transfer(h_, request_type, request, value, index, data, length, timeout_ms));
    }

    int bulk(uint8_t endpoint, uint8_t *data, int length, int *transferred, unsigned timeout_ms) override {
        int dummy;
        if (!transferred) transferred = &dummy;
        *transferred = 0;
        libusb_transfer *t = libusb_alloc_transfer(0);
        if (!t) return USB_ERROR_IO;
        int completed = 0;
        libusb_fill_bulk_transfer(
            t, h_, endpoint, data, length, [](libusb_transfer *x) { *static_cast<int *>(x->user_data) = 1; },
            &completed, timeout_ms);
        int rc = libusb_submit_transfer(t);
        if (rc != 0) {
            libusb_free_transfer(t);
            return from_libusb(rc);
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            in_flight_.insert(t);
        }
        while (!completed) {
            int r = libusb_handle_events_completed(context(), &completed);
            if (r < 0 && r != LIBUSB_ERROR_INTERRUPTED && !completed) libusb_cancel_transfer(t);
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            in_flight_.erase(t);
        }
        *transferred = t->actual_length;
        int result = from_status(t->status);
        libusb_free_transfer(t);
        return result;
    }

    void cancel(uint8_t endpoint) override {
        std::lock_guard<std::mutex> lock(mutex_);
        for (libusb_transfer *t : in_flight_)
            if (t->endpoint == endpoint) libusb_cancel_transfer(t);
    }

    int config_descriptor(std::vector<uint8_t> &out) override {
        uint8_t head[9];
        int rc = libusb_get_descriptor(h_, LIBUSB_DT_CONFIG, 0, head, sizeof head);
        if (rc < 4) return rc < 0 ? from_libusb(rc) : USB_ERROR_IO;
        out.resize(size_t(head[2] | head[3] << 8));
        rc = libusb_get_descriptor(h_, LIBUSB_DT_CONFIG, 0, out.data(), int(out.size()));
        if (rc < 0) return from_libusb(rc);
        out.resize(size_t(rc));
        return USB_OK;
    }

    int clear_halt(uint8_t endpoint) override { return from_libusb(libusb_clear_halt(h_, endpoint)); }

private:
    libusb_device_handle *h_;
    int number_;
    UsbId id_;
    std::string place_;
    std::mutex mutex_;
    std::set<libusb_transfer *> in_flight_;
};

} // namespace

std::vector<UsbBoardInfo> libusb_list_boards() {
    std::vector<UsbBoardInfo> out;
    if (!context()) return out;
    libusb_device **list = nullptr;
    ssize_t n = libusb_get_device_list(context(), &list);
    if (n < 0) return out;
    auto boards = find_boards(list, n);
    for (size_t i = 0; i < boards.size(); ++i)
        out.push_back({int(i), boards[i].vid, boards[i].pid, node(boards[i].dev), place_of(boards[i])});
    libusb_free_device_list(list, 1);
    return out;
}

namespace {

// Opens a found board and claims its interface 0; null with *reason on failure.
std::unique_ptr<UsbHandle> open_found(const Found &f, int number, std::string *reason) {
    libusb_device_handle *h = nullptr;
    int rc = libusb_open(f.dev, &h);
    if (rc == LIBUSB_ERROR_ACCESS) {
        *reason = "no permission to open " + node(f.dev) +
                  ": install the udev rule 60-vokusb-ezusb.rules and join the group plugdev";
        return nullptr;
    }
    if (rc != 0) {
        *reason = "cannot open " + node(f.dev) + ": " + libusb_strerror(libusb_error(rc));
        return nullptr;
    }
    // A kernel driver bound to the interface is detached while we hold it.
    libusb_set_auto_detach_kernel_driver(h, 1);
    rc = libusb_claim_interface(h, 0);
    if (rc != 0) {
        *reason = rc == LIBUSB_ERROR_BUSY
                      ? node(f.dev) + " is in use by another program"
                      : "cannot claim " + node(f.dev) + ": " + libusb_strerror(libusb_error(rc));
        libusb_close(h);
        return nullptr;
    }
    return std::make_unique<LibusbHandle>(h, number, UsbId{f.vid, f.pid}, place_of(f));
}

// Runs pick over the boards present now; the device list lives for the call.
template <class Pick>
std::unique_ptr<UsbHandle> with_boards(std::string *reason, Pick pick) {
    if (!context()) {
        *reason = std::string("libusb could not start: ") + libusb_strerror(libusb_error(init_result));
        return nullptr;
    }
    libusb_device **list = nullptr;
    ssize_t n = libusb_get_device_list(context(), &list);
    if (n < 0) {
        *reason = std::string("libusb cannot list the USB devices: ") + libusb_strerror(libusb_error(int(n)));
        return nullptr;
    }
    std::unique_ptr<UsbHandle> result = pick(find_boards(list, n), list, n);
    libusb_free_device_list(list, 1);
    return result;
}

} // namespace

std::unique_ptr<UsbHandle> libusb_open_board(int number, std::string *reason) {
    return with_boards(reason, [&](const std::vector<Found> &boards, libusb_device **list, ssize_t n) {
        if (size_t(number) >= boards.size()) {
            *reason = boards.empty() ? "no device with an EZ-USB ID on any bus (" + ids_seen(list, n) + ")"
                                     : "no EZ-USB board " + std::to_string(number) + ": " +
                                           std::to_string(boards.size()) + " present (" + ids_seen(list, n) + ")";
            return std::unique_ptr<UsbHandle>();
        }
        return open_found(boards[size_t(number)], number, reason);
    });
}

std::unique_ptr<UsbHandle> libusb_open_place(const std::string &place, std::string *reason) {
    return with_boards(reason, [&](const std::vector<Found> &boards, libusb_device **, ssize_t) {
        for (size_t i = 0; i < boards.size(); ++i)
            if (place_of(boards[i]) == place) return open_found(boards[i], int(i), reason);
        *reason = "no EZ-USB board at USB port " + place;
        return std::unique_ptr<UsbHandle>();
    });
}

} // namespace vokhw
