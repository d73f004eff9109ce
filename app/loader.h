// The driver loader: finds the library of a driver name and binds the entry
// points of the mode, with the mode's strategies, into `driver`.
#pragma once

#include <cstdint>

// 1 when the library loaded and every entry point the mode needs was found.
int32_t dll_setup(const char *name, int32_t mode);
int32_t get_dll_func(void **slot, const char *name);
void dll_end();
