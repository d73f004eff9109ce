/* Port-access service of vok_xpar: obtains access to the parallel port at the base
 * that the cable's open has just chosen, and gives back what it obtained.
 *
 * The access level that giveio_start returns says what it obtained; giveio_stop
 * undoes that and nothing else. 0 means no access; any other level means that the
 * port's registers may be used. The higher the level, the more the process set up:
 *   GIVEIO_NONE     0  no access to the port could be obtained
 *   (1, no grant needed, does not occur on Linux)
 *   GIVEIO_OPENED   2  a port service that was already running was connected to;
 *                      giveio_stop closes the connection
 *   GIVEIO_CLAIMED  3  a port device was opened and claimed exclusively;
 *                      giveio_stop releases it
 *   GIVEIO_GRANTED  4  the process was granted the I/O ports; giveio_stop drops it */
#ifndef VOK_GIVEIO_H
#define VOK_GIVEIO_H

#include <stdint.h>

#include "vokcable.h"

#ifdef __cplusplus
extern "C" {
#endif

#define GIVEIO_NONE 0
#define GIVEIO_OPENED 2
#define GIVEIO_CLAIMED 3
#define GIVEIO_GRANTED 4

VOK_EXPORT extern const char giveio_dname[];
VOK_EXPORT extern const char giveio_fname[];
VOK_EXPORT extern const char giveio_sname[];

VOK_EXPORT int32_t giveio_start(void);
VOK_EXPORT int32_t VOK_CALL giveio_stop(int32_t level);

#ifdef __cplusplus
}
#endif

#endif
