// Brings an EZ-USB board to run a given 8051 firmware image: open the board by
// number, compare string descriptors 1 and 2 with the firmware's, and when they
// differ hold the 8051, write the image into internal RAM, let it run and wait
// for the board to come back with the firmware's descriptors. The board is
// followed by its place on the bus (bus and port path) while it is away, so a
// neighbour that takes its number meanwhile is never touched.
//
// What the access layers do differently (piece size, waits, number of opens,
// whether the strings are checked again, progress marks) is in UsbLoadSettings.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "usb.h"

namespace vokhw {

struct UsbLoadSettings {
    int download_piece;        // bytes per RAM write request
    unsigned control_timeout_ms;
    unsigned first_wait_ms;    // after the run request, before the first reopen
    unsigned poll_ms;          // between reopens that found no board
    unsigned settle_ms;        // after the board is back, before it is checked again
    int max_opens;             // opens in all, the first one included
    // When board N is missing but fewer boards are present than N + 1, a board
    // ahead of it may be renumerating for another program (the numbers behind it
    // shift down meanwhile): it is waited for this long, in polls of 100 ms.
    unsigned shifted_wait_ms;
    bool read_both_strings;    // read string 2 also when string 1 differs
    bool check_again;          // check the strings of the returned board (else trust it)
    bool progress_marks;       // "-Boot", "-Wait", ".", "-Reconnect" on stdout
};

// Opens board `number` (the seam's usb_open by default; tests put their own).
using UsbNumberOpener = std::unique_ptr<UsbHandle> (*)(int number, std::string *reason);

// The text of a string descriptor: one character per UTF-16 code unit (its low
// byte), as many as bLength announces but never more than `received` bytes hold;
// a zero character ends it. text_size includes the terminating zero.
void usb_decode_string(const uint8_t *answer, int received, char *text, int text_size);

// The endpoint addresses of the first interface descriptor (interface 0,
// alternate setting 0), in descriptor order: a pipe index is a position here.
std::vector<uint8_t> usb_endpoint_map(const uint8_t *config, size_t length);

// Reads and drops what an IN endpoint still holds from an earlier run (answers
// that a killed or unplugged run never took), until a read pending for
// timeout_ms while the board runs as long brings nothing; never more than
// max_bytes. The read runs on a thread of its own meanwhile. The bytes dropped, or a UsbError
// when the board has gone.
int usb_drain_in(UsbHandle &h, uint8_t endpoint, unsigned timeout_ms, int max_bytes);

class UsbBoardLoader {
public:
    explicit UsbBoardLoader(const UsbLoadSettings &settings, UsbNumberOpener opener = nullptr);

    // The board running the firmware named by string1 and string2 (downloaded
    // when it does not), or null with reason() saying why. Messages of a refused
    // halt, download or run go to stdout as the access layers print them.
    std::unique_ptr<UsbHandle> load(int number, const uint8_t *image, int image_size,
                                    const char *string1, const char *string2);

    // Steps of load(), for the access layers' own entry points.
    // String descriptor `index` (language 0x001B) decoded into text; false when refused.
    bool read_string(UsbHandle &h, uint8_t index, char *text, int text_size);
    bool halt(UsbHandle &h);
    bool download(UsbHandle &h, const uint8_t *image, int length);
    // The firmware may leave the bus before the request's status stage ends, so a
    // lost device, an I/O error or a stall count as "ran"; the wait for the board
    // decides.
    bool run(UsbHandle &h);

    const std::string &reason() const { return reason_; }

private:
    bool matches(UsbHandle &h, const char *string1, const char *string2);
    int write_ram(UsbHandle &h, uint16_t address, const uint8_t *data, uint16_t length);
    std::unique_ptr<UsbHandle> reopen(int number, const std::string &place, std::string *why);
    std::unique_ptr<UsbHandle> first_open(int number, std::string *why);
    void mark(const char *text) const;

    UsbLoadSettings settings_;
    UsbNumberOpener opener_;
    std::string reason_;
};

} // namespace vokhw
