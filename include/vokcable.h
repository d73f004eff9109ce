/* Cable driver interface shared by vokusb and every cable driver library.
 * Plain C linkage; the entry points are looked up by these exact names. */
#ifndef VOKCABLE_H
#define VOKCABLE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Entry points that take arguments are callee-cleans on 32-bit Windows. */
#if defined(_WIN32) && !defined(_WIN64)
#define VOK_CALL __stdcall
#else
#define VOK_CALL
#endif

#if defined(_WIN32)
#define VOK_EXPORT __declspec(dllexport)
#else
#define VOK_EXPORT __attribute__((visibility("default")))
#endif

/* Results of the open entry points ("jtag_init", "ss_init"). */
#define VOK_INIT_READY 0
#define VOK_INIT_NO_PROBE 2
#define VOK_INIT_NO_TARGET 4

typedef int32_t(VOK_CALL *vok_init_fn)(int32_t port, int32_t baud, char *name);
typedef int32_t (*vok_power_fn)(void);
typedef int32_t(VOK_CALL *vok_shift_fn)(const uint8_t *tdi, uint8_t *tdo, int32_t nbits,
                                        int32_t tms, int32_t tms_last);
typedef int32_t (*vok_end_fn)(void);
typedef uint32_t (*vok_version_fn)(void);
typedef int32_t(VOK_CALL *vok_tx_fn)(const uint8_t *data, int32_t count);
typedef int32_t(VOK_CALL *vok_program_fn)(int32_t level);
typedef int32_t (*vok_done_fn)(void);

/* Version word: major number in the high 16 bits, minor in the low 16 bits. */
#define VOK_VERSION(major, minor) ((((uint32_t)(major)) << 16) | (((uint32_t)(minor)) & 0xFFFFu))
#define VOK_VERSION_MAJOR(word) (((uint32_t)(word)) >> 16)
#define VOK_VERSION_MINOR(word) (((uint32_t)(word)) & 0xFFFFu)

/* Prototypes for the libraries that implement the interface; vokusb itself never
 * links them and binds them by name at run time. */
#ifdef VOK_DRIVER_BUILD
VOK_EXPORT int32_t VOK_CALL jtag_init(int32_t port, int32_t baud, char *name);
VOK_EXPORT int32_t jtag_power(void);
VOK_EXPORT int32_t VOK_CALL jtag_txrx(const uint8_t *tdi, uint8_t *tdo, int32_t nbits, int32_t tms,
                                     int32_t tms_last);
VOK_EXPORT int32_t jtag_end(void);
VOK_EXPORT uint32_t jtag_version(void);
VOK_EXPORT int32_t VOK_CALL ss_init(int32_t port, int32_t baud, char *name);
VOK_EXPORT int32_t ss_power(void);
VOK_EXPORT int32_t VOK_CALL ss_tx(const uint8_t *data, int32_t count);
VOK_EXPORT int32_t VOK_CALL ss_program(int32_t level);
VOK_EXPORT int32_t ss_done(void);
VOK_EXPORT int32_t ss_end(void);
VOK_EXPORT uint32_t ss_version(void);
#endif

#ifdef __cplusplus
}
#endif

#endif
