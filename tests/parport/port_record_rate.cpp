// Port records per second through the bench backend of the port seam, against the
// test bench in the same process (its server thread answers on a Unix socket).
//   port_record_rate [records]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

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
    std::printf("records seen by the bench: %llu\n",
                static_cast<unsigned long long>(bench.record_count()));
    return 0;
}
