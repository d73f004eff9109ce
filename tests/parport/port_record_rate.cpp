// Port records per second through the bench backend of the port seam, against the
// test bench in the same process (its server thread answers on a Unix socket).
// Then the same through the vok_xpar driver: slave-serial bytes (sixteen writes each)
// and JTAG shifts with and without TDO.
//   port_record_rate [records]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dlfcn.h>
#include <string>
#include <vector>

#include "port.h"
#include "test_bench.h"

namespace {

struct Timer {
    std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
    std::clock_t cpu = std::clock();
    void report(const char *what, double records) const {
        double w = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
        double c = double(std::clock() - cpu) / CLOCKS_PER_SEC;
        std::printf("%-34s %10.0f records  %7.3f s wall  %7.3f s cpu  %12.0f records/s\n", what,
                    records, w, c, records / w);
    }
};

} // namespace

int main(int argc, char **argv) {
    long n = argc > 1 ? std::atol(argv[1]) : 4000000;
    TestBench bench;
    bench.add_port(0x378);
    bench.set_logging(false);
    bench.set_responder([](uint16_t, uint8_t, uint8_t) -> uint8_t { return 0x10; });
    ::setenv("VOKBENCH", bench.socket_path().c_str(), 1);
    if (vokhw::port_acquire(0x378) != vokhw::PortKind::bench) {
        std::fprintf(stderr, "no bench port\n");
        return 1;
    }

    {
        Timer t;
        for (long i = 0; i < n; ++i)
            vokhw::port_write(0x378, static_cast<uint8_t>(i));
        vokhw::port_read(0x379);
        t.report("writes only (one read at the end)", double(n + 1));
    }
    {
        long bits = n / 20;
        Timer t;
        for (long i = 0; i < bits; ++i) {
            vokhw::port_write(0x378, 0x10);
            vokhw::port_write(0x378, 0x12);
            vokhw::port_read(0x379);
        }
        t.report("write, write, read per bit", double(bits * 3));
    }
    {
        long reads = n / 20;
        Timer t;
        for (long i = 0; i < reads; ++i)
            vokhw::port_read(0x379);
        t.report("reads only", double(reads));
    }
    vokhw::port_release();

    // The Xilinx cable's detect loop, so that the driver finds a cable.
    bench.set_responder([](uint16_t, uint8_t data, uint8_t) -> uint8_t {
        return (data & 0x40) ? 0x3F : 0x9F;
    });
    std::string lib = std::string(VOK_BIN_DIR) + "/vok_xpar.so";
    void *h = ::dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (h == nullptr) {
        std::fprintf(stderr, "%s\n", ::dlerror());
        return 1;
    }
    auto init = reinterpret_cast<int32_t (*)(int32_t, int32_t, char *)>(::dlsym(h, "ss_init"));
    auto tx = reinterpret_cast<int32_t (*)(const uint8_t *, int32_t)>(::dlsym(h, "ss_tx"));
    auto done = reinterpret_cast<int32_t (*)()>(::dlsym(h, "ss_done"));
    auto txrx = reinterpret_cast<int32_t (*)(const uint8_t *, uint8_t *, int32_t, int32_t, int32_t)>(
        ::dlsym(h, "jtag_txrx"));
    auto end = reinterpret_cast<int32_t (*)()>(::dlsym(h, "ss_end"));
    if (init(0, 0, nullptr) != 0) {
        std::fprintf(stderr, "no cable\n");
        return 1;
    }
    std::vector<uint8_t> block(8192, 0x5A), tdo(8192);
    {
        long blocks = n / (16 * 8192) + 1;
        Timer t;
        for (long b = 0; b < blocks; ++b)
            tx(block.data(), static_cast<int32_t>(block.size()));
        done();
        t.report("vok_xpar ss_tx, 8192-byte blocks", double(blocks * 8192 * 16 + 1));
    }
    {
        long blocks = n / (2 * 65536) + 1;
        Timer t;
        for (long b = 0; b < blocks; ++b)
            txrx(block.data(), nullptr, 65536, 0, 0);
        done();
        t.report("vok_xpar jtag_txrx, no TDO", double(blocks * 65536 * 2 + 1));
    }
    {
        Timer t;
        txrx(block.data(), tdo.data(), 65536, 0, 0);
        t.report("vok_xpar jtag_txrx, with TDO", double(65536 * 3));
    }
    end();
    ::dlclose(h);
    std::printf("records seen by the bench: %llu\n",
                static_cast<unsigned long long>(bench.record_count()));
    return 0;
}
