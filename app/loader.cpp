// The driver loader: where a driver name is looked for, and the binding of the
// mode's entry points by name.
#include "loader.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "console.h"
#include "driver_binding.h"
#include "modes.h"
#include "names.h"
#include "platform.h"
#include "vokisp_jtag.h"
#include "xcclk.h"

driver_binding driver;

namespace {

int32_t serial_done_level() { return driver.xcclk_done() != 0 ? 1 : 0; }

// Where a driver was looked for, for the message when it does not load.
struct driver_search {
    std::vector<std::string> folders;
    std::string file;   // the library file name looked for
    std::string reason; // what the loader said about the most telling attempt
    bool reason_from_a_file_found = false;
};

void *load_driver_library(const char *name, driver_search &search)
{
    std::vector<std::string> candidates;
    search.file = platform_library_file(name);
    search.folders.clear();
    if (std::strchr(name, '/') != nullptr) {
        candidates.push_back(search.file);
    } else {
        const std::string dir = platform_exe_dir();
        if (!dir.empty()) {
            search.folders = {dir, platform_normal_path(dir + "/../lib/vokusb")};
            for (const std::string &folder : search.folders)
                candidates.push_back(folder + "/" + search.file);
        }
        candidates.push_back(search.file); // the system's library search
    }
    for (const std::string &c : candidates) {
        std::string error;
        if (void *h = platform_library_open(c.c_str(), &error))
            return h;
        // A file that exists but does not load says more than one that is missing.
        if (!search.reason_from_a_file_found) {
            search.reason = error;
            search.reason_from_a_file_found = c.find('/') != std::string::npos && platform_file_exists(c);
        }
    }
    return nullptr;
}

void report_driver_search(const driver_search &search)
{
    if (search.folders.empty()) {
        warn("Driver file '%s' was not loaded: %s\n", printable(search.file.c_str()).c_str(),
             printable(search.reason.c_str()).c_str());
        return;
    }
    std::string folders;
    std::string found;
    for (const std::string &folder : search.folders) {
        folders += printable(folder.c_str()) + ", ";
        for (const std::string &file : platform_driver_files(folder))
            found += (found.empty() ? "" : ", ") + printable(file.c_str());
    }
    warn("Looked for '%s' in %sthen in the system's library search path\n",
         printable(search.file.c_str()).c_str(), folders.c_str());
    warn("Drivers found there: %s\n", found.empty() ? "none" : found.c_str());
    warn("The loader said: %s\n", printable(search.reason.c_str()).c_str());
}

template <typename Fn> int32_t bind(Fn &slot, const char *name)
{
    void *addr = nullptr;
    const int32_t found = get_dll_func(&addr, name);
    slot = reinterpret_cast<Fn>(addr);
    return found;
}

bool bind_each() { return true; }

// Binds each slot to the name after it, in order; every name is looked up, so
// that each missing one is reported. True when all were found.
template <typename Fn, typename... More> bool bind_each(Fn &slot, const char *name, More &&...more)
{
    const bool found = bind(slot, name) != 0;
    return bind_each(std::forward<More>(more)...) && found;
}

} // namespace

int32_t get_dll_func(void **slot, const char *name)
{
    *slot = driver.dllHandle != nullptr ? platform_library_symbol(driver.dllHandle, name) : nullptr;
    if (*slot == nullptr) {
        say("DLL function '%s' is not found\n", name);
        return 0;
    }
    return 1;
}

int32_t dll_setup(const char *name, int32_t mode)
{
    driver = driver_binding{};
    const std::string lower = lowered(name);
    driver_search search;
    driver.dllHandle = open_typed_then_lower(name, lower.c_str(),
                                             [&search](const char *n) { return load_driver_library(n, search); });
    if (driver.dllHandle == nullptr) {
        say("Can't open '%s.DLL'\n", printable(lower.c_str()).c_str());
        report_driver_search(search);
        return 0;
    }

    bool ok = false;
    if (mode == MODE_BSCAN) {
        driver.sh_start = jtag_start;
        driver.sh_write = jtag_write;
        driver.sh_done_level = jtag_done;
        ok = bind_each(driver.sh_init, "jtag_init", driver.sh_power, "jtag_power", driver.sh_end, "jtag_end");
        if (ok) {
            if (bind(driver.jtag_txrx, "jtag_xfer")) {
                driver.bscan_convert_bit_order_in = 0;
            } else if (bind(driver.jtag_txrx, "jtag_txrx")) {
                driver.bscan_convert_bit_order_in = 1;
            } else {
                ok = false;
            }
        }
    } else if (mode == MODE_SSERIAL) {
        driver.sh_start = xcclk_start;
        driver.sh_write = xcclk_write;
        driver.sh_done_level = serial_done_level;
        ok = bind_each(driver.sh_init, "ss_init", driver.sh_power, "ss_power", driver.xcclk_tx, "ss_tx",
                       driver.xcclk_program, "ss_program", driver.xcclk_done, "ss_done", driver.sh_end, "ss_end");
    } else {
        warn("Mode %s is not supported by this program: use -mode bscan or -mode sserial\n",
             mode >= 0 && mode <= MODE_SSERIAL ? md_str[mode] : "?");
    }
    if (!ok) {
        platform_library_close(driver.dllHandle);
        driver = driver_binding{};
        return 0;
    }
    bind(driver.jtag_version, "jtag_version"); // optional, under this name in both modes
    return 1;
}

void dll_end()
{
    if (driver.dllHandle != nullptr)
        platform_library_close(driver.dllHandle);
    driver = driver_binding{};
}
