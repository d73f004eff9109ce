/* Port-access service of vok_xpar: obtains access to the parallel port at the base
 * that jtag_init has just set, and gives back what it obtained.
 *
 * Access levels on Linux (0 = no access, any other value = the ports may be used):
 *   0  no access to the port could be obtained
 *   2  a bench connection was opened (VOKBENCH); giveio_stop closes it
 *   3  a ppdev port was opened and claimed exclusively; giveio_stop releases it
 *   4  an ioperm grant was obtained; giveio_stop drops it
 * Level 1 (no grant needed) does not occur on Linux. */
#ifndef VOK_GIVEIO_H
#define VOK_GIVEIO_H

#include <stdint.h>

#include "vokcable.h"

#ifdef __cplusplus
extern "C" {
#endif

#define GIVEIO_NONE 0
#define GIVEIO_BENCH 2
#define GIVEIO_PPDEV 3
#define GIVEIO_IOPERM 4

VOK_EXPORT extern const char giveio_dname[];
VOK_EXPORT extern const char giveio_fname[];
VOK_EXPORT extern const char giveio_sname[];

VOK_EXPORT int32_t giveio_start(void);
VOK_EXPORT int32_t VOK_CALL giveio_stop(int32_t level);

#ifdef __cplusplus
}
#endif

#endif
