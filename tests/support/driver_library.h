// A cable driver library loaded by path as the program loads it, each entry point
// bound by its exported name (null where the library has none). The library stays
// loaded until close(): a test that ends its process with the library open need not
// unload drivers that still run threads.
#pragma once

#include <dlfcn.h>
#include <string>

#include "vokcable.h"

namespace testsupport {

struct DriverLibrary {
    void *handle = nullptr;
    vok_init_fn jtag_init = nullptr, ss_init = nullptr;
    vok_power_fn jtag_power = nullptr, ss_power = nullptr;
    vok_shift_fn jtag_txrx = nullptr;
    vok_end_fn jtag_end = nullptr, ss_end = nullptr;
    vok_version_fn jtag_version = nullptr, ss_version = nullptr;
    vok_tx_fn ss_tx = nullptr;
    vok_program_fn ss_program = nullptr;
    vok_done_fn ss_done = nullptr;

    explicit DriverLibrary(const std::string &path)
        : handle(::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
        if (handle == nullptr)
            return;
        bind(jtag_init, "jtag_init");
        bind(jtag_power, "jtag_power");
        bind(jtag_txrx, "jtag_txrx");
        bind(jtag_end, "jtag_end");
        bind(jtag_version, "jtag_version");
        bind(ss_init, "ss_init");
        bind(ss_power, "ss_power");
        bind(ss_tx, "ss_tx");
        bind(ss_program, "ss_program");
        bind(ss_done, "ss_done");
        bind(ss_end, "ss_end");
        bind(ss_version, "ss_version");
    }
    DriverLibrary(const DriverLibrary &) = delete;
    DriverLibrary &operator=(const DriverLibrary &) = delete;

    // The first entry point that the library lacks, or null when it has all twelve.
    const char *missing() const { return missing_; }
    bool complete() const { return handle != nullptr && missing_ == nullptr; }

    // dlclose's result; 0 when nothing was loaded.
    int close() {
        int result = handle != nullptr ? ::dlclose(handle) : 0;
        handle = nullptr;
        return result;
    }

private:
    template <class F> void bind(F &f, const char *name) {
        f = reinterpret_cast<F>(::dlsym(handle, name));
        if (f == nullptr && missing_ == nullptr)
            missing_ = name;
    }

    const char *missing_ = nullptr;
};

} // namespace testsupport
