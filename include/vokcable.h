/* Cable driver interface shared by vokusb and every cable driver library.
 *
 * A driver library exports plain C functions under the names below; vokusb
 * looks them up by name at run time and links against no driver. Integers are
 * 32 bits, a flag is zero or non-zero. The program is single-threaded and makes
 * one call at a time; every call has finished its transfer when it returns (the
 * program reads DONE straight after the last data and times the PROGRAM pulse
 * with pauses between calls). Buffers belong to the caller and are valid only
 * during the call.
 *
 * Order of the calls in one run: the open entry point once; the version entry
 * point once when the open returned VOK_INIT_READY; the power entry point
 * before each configuration and on every poll of continuous mode; the shift, or
 * the serial data, PROGRAM and DONE entry points for each configuration; the
 * close entry point once at the end. The library stays loaded throughout.
 *
 * Boundary scan binds "jtag_init", "jtag_power", "jtag_end", then "jtag_xfer"
 * if the library has it, else "jtag_txrx", and "jtag_version" when present.
 * Slave serial binds "ss_init", "ss_power", "ss_tx", "ss_program", "ss_done",
 * "ss_end", and "jtag_version" when present (under that name in both modes).
 * A missing required name fails the load; the other mode is never tried.
 *
 * jtag_init(port, baud, name), ss_init: open the cable.
 *   port  a cable selector whose meaning is the driver's: the USB drivers take
 *         the board number, the parallel-port drivers the I/O base (0: 0x378).
 *   baud  passed through from -baud; no driver uses it.
 *   name  null, or 128 bytes into which the driver writes a description of the
 *         cable, NUL-terminated, at most 127 characters. The program always
 *         passes a buffer; a driver's own slave-serial open may reuse its JTAG
 *         open with a null one.
 *   Result: VOK_INIT_READY, VOK_INIT_NO_PROBE (cable not found) or
 *   VOK_INIT_NO_TARGET; the program gives any other value no meaning.
 *
 * jtag_power(), ss_power(): non-zero when the target has power, 0 when not,
 *   and 0 once the cable has failed, which stops the run.
 *
 * jtag_txrx(tdi, tdo, nbits, tms, tms_last): clocks TCK nbits times.
 *   tdi   cycle i sends bit (7 - i % 8) of tdi[i / 8]: most significant bit
 *         first, a final partial byte uses its high bits. Null sends zeros.
 *   tdo   cycle i captures into bit (i % 8) of tdo[i / 8]: least significant
 *         bit first, the reverse of the TDI order. The driver clears
 *         (nbits + 7) / 8 bytes first, so the spare high bits of a final partial
 *         byte read 0. Null captures nothing (a driver may then send faster).
 *   nbits the program passes 1 to 65536 (one 8192-byte block of configuration
 *         data); a driver splits longer work as its transport needs.
 *   tms   TMS on every cycle but the last; tms_last TMS on the last cycle.
 *         (0, 1) leaves a shift state on the last bit, (0, 0) stays in it,
 *         (1, 1) walks the TAP state machine with TMS high throughout.
 *   Result: not used by the program. The drivers return their own values,
 *   which stay as they are: 1 from vok_usb and vok_usb2, 0 from vok_qrt,
 *   vok_xpar and vok_apar.
 * jtag_xfer: optional, preferred over jtag_txrx when a library has it. The same
 *   as jtag_txrx except that TDO is stored in the TDI order, the first bit
 *   captured in the most significant bit of tdo[0]; the program uses the bytes
 *   as delivered. Result not used.
 *
 * jtag_end(), ss_end(): close the cable. Called once at the end of every run
 *   whose library loaded, also after an open that failed; no call follows it.
 *   Result not used.
 *
 * jtag_version(), ss_version(): the version word, major number in the high 16
 *   bits and minor in the low 16, printed "Version %2X.%04X" (0x11300 reads
 *   " 1.1300"). The program asks only for "jtag_version", in both modes; a
 *   library without it is shown as " Version : Unknown".
 *
 * ss_tx(data, count): sends count bytes in order, each byte most significant
 *   bit first, one CCLK cycle per bit on DIN. The program passes at most 8192
 *   bytes per call. Result not used.
 * ss_program(level): 0 drives PROGRAM low (clears the FPGA), non-zero releases
 *   it. A cable that can only pulse PROGRAM gives one whole pulse on every call;
 *   the program calls 0 then 1, 50 ms apart, so the pin ends released either
 *   way. Result not used.
 * ss_done(): non-zero when DONE is high. */
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
