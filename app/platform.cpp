// Platform services over the POSIX dynamic loader and clock.
#include "platform.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <vector>

void *platform_library_open(const char *file)
{
    return dlopen(file, RTLD_NOW | RTLD_LOCAL);
}

void *platform_library_symbol(void *library, const char *name)
{
    return dlsym(library, name);
}

void platform_library_close(void *library)
{
    if (library != nullptr)
        dlclose(library);
}

std::string platform_library_file(const char *name)
{
    return std::string(name) + ".so";
}

std::string platform_exe_dir()
{
    std::vector<char> buf(4096);
    const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0)
        return {};
    std::string path(buf.data(), static_cast<size_t>(n));
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

void platform_sleep_ms(uint32_t ms)
{
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

int platform_exit_status(uint32_t word)
{
    return static_cast<int>(((word >> 8) & 0xF8u) | ((word & 0x7FFu) != 0 ? 1u : 0u));
}
