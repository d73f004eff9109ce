// Small platform services of vokusb: loading a driver library, sleeping,
// the folder of the running program and the exit status.
#pragma once

#include <cstdint>
#include <string>

// Opens the library at this exact file name (a path when it holds a '/',
// otherwise by the platform's standard search). Null on failure.
void *platform_library_open(const char *file);
void *platform_library_symbol(void *library, const char *name);
void platform_library_close(void *library);

// Library file name for a driver name: the name plus the platform suffix.
std::string platform_library_file(const char *name);

// Folder of the running executable, with no trailing '/'; empty when unknown.
std::string platform_exe_dir();

void platform_sleep_ms(uint32_t ms);

// The 8 bits of process status that carry an error-flag word: the named bits
// (0x0800 and above) keep their place shifted down by 8, and any bit below
// 0x0800 shows as bit 0, so only a clean word gives 0.
int platform_exit_status(uint32_t word);
