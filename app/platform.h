// Small platform services of vokusb: loading a driver library, sleeping,
// the folder of the running program and the exit status.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Opens the library at this exact file name (a path when it holds a '/',
// otherwise by the platform's standard search). Null on failure, with the
// loader's reason in *error when error is given.
void *platform_library_open(const char *file, std::string *error = nullptr);
void *platform_library_symbol(void *library, const char *name);
void platform_library_close(void *library);

// Library file name for a driver name: the name plus the platform suffix,
// unless it already ends in the suffix.
std::string platform_library_file(const char *name);

// The driver libraries (vok_*.so) in a folder, by driver name, sorted.
std::vector<std::string> platform_driver_files(const std::string &folder);
bool platform_file_exists(const std::string &path);
// The path with "." and ".." resolved lexically.
std::string platform_normal_path(const std::string &path);

// Folder of the running executable, with no trailing '/'; empty when unknown.
std::string platform_exe_dir();

void platform_sleep_ms(uint32_t ms);

// The 8 bits of process status that carry an error-flag word: the named bits
// (0x0800 and above) keep their place shifted down by 8, and any bit below
// 0x0800 shows as bit 0, so only a clean word gives 0.
int platform_exit_status(uint32_t word);
