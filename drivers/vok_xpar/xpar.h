// State of the vok_xpar library shared by the cable driver and its port-access service.
#pragma once

#include <cstdint>

namespace xpar {

// I/O address of the data register; the status register follows it.
extern int32_t port_base;

} // namespace xpar
