// EZ-USB access layer: opens a board by number, makes sure that it runs the
// caller's firmware (downloading it when the board's strings differ), and moves
// bulk data by pipe index. Reads run on a background thread so that a read can
// be pending while the caller writes the data that the board answers.
//
// Each driver library that links this layer gets its own state and exports
// these operations under their plain names.
#pragma once

#include <cstdint>

#include "vokcable.h"

extern "C" {

// Opens board `index`, checks string descriptors 1 and 2 against string1 and
// string2, downloads the 4096-byte image when they differ and waits for the
// board to come back. 0 when the firmware runs and the read thread has started,
// -1 otherwise.
VOK_EXPORT int32_t ezusb_init(int32_t index, const uint8_t *image, const char *string1,
                              const char *string2);
// Stops the read thread and closes the board; non-zero when there was an open
// board to close.
VOK_EXPORT int32_t ezusb_close(void);
// Sends length bytes to the pipe; 0 when all went out, -1 on the first failure.
VOK_EXPORT int32_t ezusb_bulk_write(uint32_t pipe, const uint8_t *data, int32_t length);
// Hands a read of length bytes from the pipe into buffer to the read thread and
// returns. Non-zero in both cases; when the previous read has not finished or
// has failed, nothing starts and that read's remaining count is returned.
VOK_EXPORT int32_t ezusb_bulk_read(uint32_t pipe, uint8_t *buffer, int32_t length);
// With wait non-zero, first waits up to 5000 ms for the read to end; a read
// still pending then is cancelled and counts as failed. Returns the bytes still
// to be read: 0 complete, -1 failed (latched until the next ezusb_init), or a
// positive count while a read is pending (only without wait).
VOK_EXPORT int32_t ezusb_bulk_read_left(int32_t wait);
// The read thread's routine (started by ezusb_init; the parameter is unused).
VOK_EXPORT uint32_t ezusb_read_thread(void *parameter);

} // extern "C"

namespace ezusb {

// Limits of one bulk request and of the string descriptor answer.
constexpr int32_t MAX_REQUEST = 32768;
constexpr int STRING_ANSWER = 130;
constexpr int IMAGE_SIZE = 4096;
constexpr unsigned READ_WAIT_MS = 5000;

// The text of a string descriptor: one character per UTF-16 code unit (its low
// byte), as many as bLength announces but never more than `received` bytes hold.
void decode_string(const uint8_t *answer, int received, char *text, int text_size);

// The endpoint addresses of interface 0, alternate setting 0, in the order of the
// configuration descriptor: the pipe index is the position in this list.
int endpoint_list(const uint8_t *config, int length, uint8_t *endpoints, int max);

// Why the last ezusb_init failed, one line without its line end ("" after success):
// no board, no permission for its node, in use by another program, and so on.
const char *failure_reason();

// Drops what the pipe (an IN pipe) still holds from an earlier run that was
// killed or unplugged mid-transfer; call it after ezusb_init, before the first
// command. The bytes dropped (bounded), or -1 when no board is open or it left.
int32_t drain(uint32_t pipe);

} // namespace ezusb
