// Loads a cable driver library from the build's bin folder with a test bench
// behind VOKBENCH; the library is unloaded again after each test so that its
// module state starts afresh.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <dlfcn.h>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "test_bench.h"
#include "vokcable.h"

class DriverTest : public ::testing::Test {
protected:
    explicit DriverTest(const char *library) : library_(library) {}

    void SetUp() override {
        bench_ = std::make_unique<TestBench>();
        bench_->add_port(0x378);
        bench_->add_port(0x278);
        ::setenv("VOKBENCH", bench_->socket_path().c_str(), 1);
        std::string path = std::string(VOK_BIN_DIR) + "/" + library_ + ".so";
        handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle_, nullptr) << ::dlerror();
        jtag_init = sym<vok_init_fn>("jtag_init");
        jtag_power = sym<vok_power_fn>("jtag_power");
        jtag_txrx = sym<vok_shift_fn>("jtag_txrx");
        jtag_end = sym<vok_end_fn>("jtag_end");
        jtag_version = sym<vok_version_fn>("jtag_version");
        ss_init = sym<vok_init_fn>("ss_init");
        ss_power = sym<vok_power_fn>("ss_power");
        ss_tx = sym<vok_tx_fn>("ss_tx");
        ss_program = sym<vok_program_fn>("ss_program");
        ss_done = sym<vok_done_fn>("ss_done");
        ss_end = sym<vok_end_fn>("ss_end");
        ss_version = sym<vok_version_fn>("ss_version");
    }

    void TearDown() override {
        if (handle_ != nullptr)
            ::dlclose(handle_);
        ::unsetenv("VOKBENCH");
        bench_.reset();
    }

    template <class F> F sym(const char *name) {
        void *p = ::dlsym(handle_, name);
        EXPECT_NE(p, nullptr) << name;
        return reinterpret_cast<F>(p);
    }

    // Opens the cable and forgets the records of the open; the DONE read (a read
    // and nothing else) makes sure that the writes of the open have all arrived.
    void open_cable(int32_t port = 0) {
        char name[128];
        ASSERT_EQ(jtag_init(port, 0, name), 0);
        ss_done();
        bench_->clear();
    }

    std::unique_ptr<TestBench> bench_;
    void *handle_ = nullptr;
    const char *library_;

    vok_init_fn jtag_init = nullptr;
    vok_power_fn jtag_power = nullptr;
    vok_shift_fn jtag_txrx = nullptr;
    vok_end_fn jtag_end = nullptr;
    vok_version_fn jtag_version = nullptr;
    vok_init_fn ss_init = nullptr;
    vok_power_fn ss_power = nullptr;
    vok_tx_fn ss_tx = nullptr;
    vok_program_fn ss_program = nullptr;
    vok_done_fn ss_done = nullptr;
    vok_end_fn ss_end = nullptr;
    vok_version_fn ss_version = nullptr;
};

// "W 0378 11" style lines of a record log, for readable comparisons.
inline std::vector<std::string> lines(const std::vector<PortRecord> &log) {
    std::vector<std::string> out;
    for (const auto &r : log)
        out.push_back(to_string(r));
    return out;
}
