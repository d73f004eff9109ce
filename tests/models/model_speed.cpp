// TCK cycles per second through the target models: an XC2S200 bitstream
// shifted through CFG_IN, with set_jtag edge pairs and with clock_jtag.
#include "bitgen.h"
#include "spartan2.h"
#include "target.h"

#include <benchmark/benchmark.h>

using namespace bench;

namespace {

// Test-Logic-Reset, Run-Test/Idle, IR <- CFG_IN for the device nearest TDO
// (others BYPASS), to Shift-DR.
template <class Clock> void enter_cfg_in(Target &t, Clock clock) {
    for (int i = 0; i < 5; i++)
        clock(true, false);
    clock(false, false);
    clock(true, false);
    clock(true, false);
    clock(false, false);
    clock(false, false);
    for (size_t d = 0; d < t.size(); d++) {
        int len = d == 0 ? 5 : 8;
        for (int b = 0; b < len; b++) {
            bool last = d + 1 == t.size() && b + 1 == len;
            clock(last, d == 0 ? ((Spartan2::CFG_IN >> b) & 1) : true);
        }
    }
    clock(true, false);
    clock(true, false);
    clock(false, false);
    clock(false, false);
}

template <class Clock> void shift_and_start(Target &t, const Bitstream &b, Clock clock) {
    for (size_t i = 0; i < b.data.size(); i++) {
        uint8_t byte = b.data[i];
        for (int k = 7; k >= 0; k--)
            clock(false, (byte >> k) & 1);
    }
    for (size_t i = 1; i < t.size(); i++)
        clock(false, false);
    clock(true, false);
    clock(true, false);
    clock(false, false);
}

void run(benchmark::State &state, const char *chain, bool pairs) {
    BitgenOptions o;
    o.part = "2s200";
    Bitstream b = generate_bitstream(o);
    uint64_t cycles = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Target t(parse_chain(chain));
        t.elapse_ns(1000000);
        state.ResumeTiming();
        auto clock = [&](bool tms, bool tdi) {
            cycles++;
            if (pairs) {
                t.set_jtag(false, tms, tdi);
                t.set_jtag(true, tms, tdi);
                benchmark::DoNotOptimize(t.tdo());
            } else {
                benchmark::DoNotOptimize(t.clock_jtag(tms, tdi));
            }
        };
        enter_cfg_in(t, clock);
        shift_and_start(t, b, clock);
        if (!t.spartan(0)->packets().synced() || t.spartan(0)->digest() != b.digest) {
            state.SkipWithError("configuration failed");
            break;
        }
    }
    state.counters["TCK/s"] = benchmark::Counter(double(cycles), benchmark::Counter::kIsRate);
}

void ConfigureXc2s200ClockJtag(benchmark::State &s) { run(s, "2s200", false); }
void ConfigureXc2s200SetJtagPairs(benchmark::State &s) { run(s, "2s200", true); }
void ConfigureXc2s200BehindTwoProms(benchmark::State &s) { run(s, "2s200,18v04,18v04", false); }

} // namespace

BENCHMARK(ConfigureXc2s200ClockJtag)->Unit(benchmark::kMillisecond);
BENCHMARK(ConfigureXc2s200SetJtagPairs)->Unit(benchmark::kMillisecond);
BENCHMARK(ConfigureXc2s200BehindTwoProms)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
