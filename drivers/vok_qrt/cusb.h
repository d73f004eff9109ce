/* Stateless EZ-USB access layer of vok_qrt: open a board by number, make sure it
 * runs the expected firmware (by its string descriptors 1 and 2), synchronous bulk
 * transfers by pipe index, pipe reset, string reads.
 *
 * Every operation works on a handle slot that the caller owns; the layer keeps no
 * state of its own and starts no thread. A pipe index is the position of an
 * endpoint in the running firmware's interface descriptor, counted from 0. */
#ifndef VOK_CUSB_H
#define VOK_CUSB_H

#include <stdint.h>

#include "vokcable.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The caller's device-handle variable; null (or left over from a failed open) when
 * no board is open. */
typedef void *cusb_handle;

/* Bulk requests carry at most this many bytes; longer transfers are split. */
#define CUSB_MAX_REQUEST 32768
/* A decoded string descriptor text, with its terminating zero. */
#define CUSB_STRING_SIZE 127
/* Bytes of a firmware image, downloaded from internal address 0. */
#define CUSB_IMAGE_SIZE 4096

/* 0: board N open in the slot and running the firmware named by the two strings
 * (downloaded when it was not); -1: failure, the slot then holds no open board. */
VOK_EXPORT int32_t VOK_CALL cusb_init(int32_t number, cusb_handle *slot, const uint8_t *image,
                                      const char *string1, const char *string2);
VOK_EXPORT int32_t VOK_CALL usb_open(int32_t number, cusb_handle *slot);
/* Closes the board and clears the slot, so that a second close does nothing. */
VOK_EXPORT int32_t VOK_CALL usb_close(cusb_handle *slot);
VOK_EXPORT int32_t VOK_CALL usb_halt(cusb_handle *slot);
VOK_EXPORT int32_t VOK_CALL usb_run(cusb_handle *slot);
VOK_EXPORT int32_t VOK_CALL usb_dwnload(cusb_handle *slot, const uint8_t *image, int32_t length);
VOK_EXPORT int32_t VOK_CALL usb_resetpipe(cusb_handle *slot, uint32_t pipe);
VOK_EXPORT int32_t VOK_CALL usb_bulk_write(cusb_handle *slot, uint32_t pipe, const uint8_t *data,
                                           int32_t length);
/* Total bytes received, or -1. */
VOK_EXPORT int32_t VOK_CALL usb_bulk_read(cusb_handle *slot, uint32_t pipe, uint8_t *buffer,
                                          int32_t length);
/* text receives at most CUSB_STRING_SIZE bytes. */
VOK_EXPORT int32_t VOK_CALL usb_get_string(cusb_handle *slot, int32_t index, char *text);

#ifdef __cplusplus
}

#include <cstddef>
#include <memory>

namespace vokhw {
class UsbHandle;
}

namespace cusb {

/* Turns a USB string descriptor of `received` bytes into 8-bit text: bLength / 2 - 1
 * characters, each the low byte of its code unit, never past the bytes received; a
 * zero byte ends the text. */
void decode_string(const uint8_t *descriptor, size_t received, char text[CUSB_STRING_SIZE]);

/* The board opener (the USB seam by default); tests put a board of their own here.
 * Returns the previous opener; null restores the default. */
using Opener = std::unique_ptr<vokhw::UsbHandle> (*)(int number);
Opener set_opener(Opener opener);

/* Why the last cusb_init failed, one line without its line end ("" after success). */
const char *failure_reason();
/* Drops what an IN pipe still holds from an earlier run that was killed or
 * unplugged mid-transfer (bounded). The bytes dropped, or -1. */
int32_t drain(cusb_handle *slot, uint32_t pipe);
/* Why the last bulk request that failed did so ("timeout", "no device ..."). */
const char *last_transfer_error();

/* How many polls of POLL_MS wait for the board after a download before giving up. */
constexpr int RETURN_POLLS = 15;
constexpr unsigned POLL_MS = 2000;

} // namespace cusb
#endif

#endif
