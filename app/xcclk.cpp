// Slave-serial strategy: pulse PROGRAM, clock the data out on DIN, check DONE.
#include "xcclk.h"

#include "platform.h"
#include "vokusb.h"

uint32_t xcclk_start(uint32_t)
{
    xcclk_program(0);
    platform_sleep_ms(50);
    xcclk_program(1);
    platform_sleep_ms(50);
    return 0;
}

uint32_t xcclk_write(const uint8_t *data, uint32_t count, int32_t last)
{
    xcclk_tx(data, static_cast<int32_t>(count));
    if (!last)
        return 0;
    // DONE is read once, straight after the last data.
    return xcclk_done() != 0 ? 0 : 1;
}
