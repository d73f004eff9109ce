// USB half of the hardware seam: the EZ-USB boards, reached the way libusb reaches
// a device (control transfers, bulk transfers on endpoint addresses, the active
// configuration descriptor), through the backend that the machine offers:
//   bench    when VOKBENCH names a bench socket (then nothing else is tried);
//   libusb   libusb-1.0 otherwise.
//
// Board numbers. Board N names a board at the moment of the open:
//   libusb   the N-th board present in the order of (bus number, port path);
//   bench    the board that the bench attached as number N.
// While a board renumerates (it leaves the bus and comes back with other IDs) the
// libusb numbers of the boards behind it shift, so a caller that waits for a board
// to come back follows it by its place instead (usb_open_place).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "usb_result.h"

namespace vokhw {

// Results of the USB operations: 0 or a count on success, one of these (negative)
// on failure.
using benchwire::UsbError;
using enum benchwire::UsbError;

// A short English text for a result ("timeout", "stall", ...).
const char *usb_error_text(int code);

struct UsbId {
    uint16_t vid;
    uint16_t pid;
};

// The IDs that mark a device as an EZ-USB board: the default IDs of the AN21xx
// family (a bare chip, 0547:2131 and its kin), which our firmware images keep too.
std::span<const UsbId> usb_board_ids();
bool usb_is_board_id(uint16_t vid, uint16_t pid);

struct UsbBoardInfo {
    int number;
    uint16_t vid;
    uint16_t pid;
    std::string where; // "/dev/bus/usb/001/004", or "bench board 0"
    std::string place; // where it plugs in: "1-2.3" (bus, ports), or "bench:0"
};

// The boards present now, in board-number order.
std::vector<UsbBoardInfo> usb_list_boards();

// Bit 7 of an endpoint address: IN (device to host).
constexpr uint8_t USB_ENDPOINT_IN = 0x80;
// bmRequestType bit 7: device to host.
constexpr uint8_t USB_REQUEST_IN = 0x80;

// An open board with its interface 0 claimed. Closing (destruction) releases the
// interface and the device. One handle may be used from two threads at once: a bulk
// IN pending in one thread while another does control transfers and bulk OUT. Each
// transfer blocks its own thread only.
class UsbHandle {
public:
    virtual ~UsbHandle() = default;
    UsbHandle() = default;
    UsbHandle(const UsbHandle &) = delete;
    UsbHandle &operator=(const UsbHandle &) = delete;

    virtual int number() const = 0;
    // The IDs the board had when it was opened.
    virtual UsbId id() const = 0;
    // Where the board plugs in (UsbBoardInfo::place); stays the same while the
    // board renumerates. Empty when the backend cannot tell.
    virtual std::string place() const { return {}; }

    // A control transfer on endpoint 0. The direction is bit 7 of request_type;
    // data holds length bytes (sent, or room for the answer). Returns the count of
    // bytes transferred or a UsbError. timeout_ms 0 waits without limit.
    virtual int control(uint8_t request_type, uint8_t request, uint16_t value,
                        uint16_t index, uint8_t *data, uint16_t length,
                        unsigned timeout_ms) = 0;

    // A bulk transfer on an endpoint address (IN when bit 7 is set), split into
    // packets by the backend. *transferred gets the count moved, also when the
    // result is an error (a timeout after some packets). Returns USB_OK or a
    // UsbError. An IN ends early on a short packet. timeout_ms 0 waits without limit.
    virtual int bulk(uint8_t endpoint, uint8_t *data, int length, int *transferred,
                     unsigned timeout_ms) = 0;

    // A bulk IN without timeout posted ahead of the OUT transfers that provoke its
    // answer, by a thread that reads while another writes. posted() is called once
    // the request is on its way, so that the writer may send knowing that its data
    // follows the IN. The writer announces with await_in() that it blocks until the
    // IN ends. On hardware a plain bulk().
    virtual int bulk_in_ahead(uint8_t endpoint, uint8_t *data, int length, int *transferred,
                              const std::function<void()> &posted) {
        posted();
        return bulk(endpoint, data, length, transferred, 0);
    }

    // The caller is about to block until the IN posted ahead on the endpoint ends.
    // On hardware the time passes by itself: nothing to do, true. On the bench the
    // simulated clock runs until the IN ends (true) or timeout_ms of it has passed
    // (false).
    virtual bool await_in(uint8_t /*endpoint*/, unsigned /*timeout_ms*/) { return true; }

    // Cancels the bulk transfers in flight on the endpoint, from any thread: they
    // return USB_ERROR_CANCELLED (with the count moved so far). Transfers started
    // afterwards are not affected.
    virtual void cancel(uint8_t endpoint) = 0;

    // The whole active configuration descriptor (all wTotalLength bytes), read from
    // the device. USB_OK or a UsbError.
    virtual int config_descriptor(std::vector<uint8_t> &out) = 0;

    // Clears a halt (stall) of the endpoint and resets its data toggle.
    virtual int clear_halt(uint8_t endpoint) = 0;
};

// Opens board N and claims its interface 0. Null when the board is absent or
// refused; then *reason (when not null) says why, naming the device node when the
// system refused access.
std::unique_ptr<UsbHandle> usb_open(int number, std::string *reason = nullptr);
// Opens the board at a place (UsbHandle::place), whatever its IDs are now. Null
// while no board is there (it may be renumerating), with *reason as for usb_open.
std::unique_ptr<UsbHandle> usb_open_place(const std::string &place, std::string *reason = nullptr);

// A wait on the board, in milliseconds. On hardware a sleep; on the bench the
// simulated clock advances by that much and the boards' 8051s run meanwhile.
void usb_wait_ms(unsigned ms);
// Tests replace the wait (null restores the default); returns the previous hook.
using UsbWaitHook = void (*)(unsigned ms);
UsbWaitHook usb_set_wait_hook(UsbWaitHook hook);

} // namespace vokhw
