// Platform services over the POSIX dynamic loader and clock.
#include "platform.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <filesystem>
#include <string_view>
#include <vector>

void *platform_library_open(const char *file, std::string *error)
{
    void *library = dlopen(file, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr && error != nullptr) {
        const char *why = dlerror();
        *error = why != nullptr ? why : "unknown reason";
    }
    return library;
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

namespace {

constexpr std::string_view LIBRARY_SUFFIX = ".so";

bool ends_with(std::string_view s, std::string_view end)
{
    return s.size() >= end.size() && s.substr(s.size() - end.size()) == end;
}

} // namespace

std::string platform_library_file(const char *name)
{
    if (ends_with(name, LIBRARY_SUFFIX))
        return name;
    return std::string(name) + std::string(LIBRARY_SUFFIX);
}

std::vector<std::string> platform_driver_files(const std::string &folder)
{
    std::vector<std::string> drivers;
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string file = entry.path().filename().string();
        if (file.rfind("vok_", 0) == 0 && ends_with(file, LIBRARY_SUFFIX))
            drivers.push_back(file.substr(0, file.size() - LIBRARY_SUFFIX.size()));
    }
    std::sort(drivers.begin(), drivers.end());
    return drivers;
}

bool platform_file_exists(const std::string &path)
{
    return ::access(path.c_str(), F_OK) == 0;
}

std::string platform_normal_path(const std::string &path)
{
    return std::filesystem::path(path).lexically_normal().string();
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
