// A small pin-level TAP driver for the model tests: whole-cycle clocks through
// Target::clock_jtag, scans that start and end in Run-Test/Idle.
#pragma once

#include "tap.h"
#include "target.h"

#include <cstdint>
#include <vector>

namespace testjtag {

class Driver {
public:
    explicit Driver(bench::Target &t) : t_(t) {}

    bool clock(bool tms, bool tdi = false) {
        cycles_++;
        return t_.clock_jtag(tms, tdi);
    }
    // Test-Logic-Reset from anywhere, then Run-Test/Idle.
    void reset() {
        for (int i = 0; i < 5; i++)
            clock(true);
        clock(false);
    }
    void idle(int n) {
        for (int i = 0; i < n; i++)
            clock(false);
    }
    // Scans bits through IR or DR (bit 0 first) and returns what TDO gave,
    // bit 0 first. Starts and ends in Run-Test/Idle.
    std::vector<bool> scan(bool ir, const std::vector<bool> &bits) {
        clock(true);
        if (ir)
            clock(true);
        clock(false); // Capture
        clock(false); // Shift
        std::vector<bool> out;
        out.reserve(bits.size());
        for (size_t i = 0; i < bits.size(); i++)
            out.push_back(clock(i + 1 == bits.size(), bits[i]));
        clock(true);  // Update
        clock(false); // Run-Test/Idle
        return out;
    }
    // Loads one instruction per device, index 0 nearest TDO.
    std::vector<bool> load_ir(const std::vector<uint32_t> &ins) {
        std::vector<bool> bits;
        for (size_t d = 0; d < ins.size(); d++)
            for (int b = 0; b < t_.device(d)->ir_len(); b++)
                bits.push_back((ins[d] >> b) & 1);
        return scan(true, bits);
    }
    // Target at index `target` gets `ins`, every other device all ones (BYPASS).
    void instruction(size_t target, uint32_t ins) {
        std::vector<uint32_t> all;
        for (size_t d = 0; d < t_.size(); d++)
            all.push_back(d == target ? ins : 0xFFFFFFFFu);
        load_ir(all);
    }
    // Shifts bytes (each most significant bit first) into the DR of the target
    // at `target`: fill so the target's words start at a 32-bit boundary, the
    // data, then the fill that pushes the tail through the TDI-side devices.
    void shift_bytes(size_t target, const uint8_t *data, size_t n) {
        size_t tdi_side = t_.size() - target - 1;
        clock(true);
        clock(false);
        clock(false);
        size_t fill = (32 - tdi_side % 32) % 32;
        for (size_t i = 0; i < fill; i++)
            clock(false, false);
        size_t total = n * 8 + tdi_side;
        size_t k = 0;
        for (size_t i = 0; i < n; i++)
            for (int b = 7; b >= 0; b--, k++)
                clock(k + 1 == total, (data[i] >> b) & 1);
        for (size_t i = 0; i < tdi_side; i++, k++)
            clock(k + 1 == total, false);
        clock(true);
        clock(false);
    }
    void shift_words(size_t target, const std::vector<uint32_t> &words) {
        std::vector<uint8_t> bytes;
        for (uint32_t w : words)
            for (int s = 24; s >= 0; s -= 8)
                bytes.push_back(uint8_t(w >> s));
        shift_bytes(target, bytes.data(), bytes.size());
    }
    uint64_t cycles() const { return cycles_; }

private:
    bench::Target &t_;
    uint64_t cycles_ = 0;
};

inline std::vector<bool> bits_of(uint64_t v, int n) {
    std::vector<bool> r;
    for (int i = 0; i < n; i++)
        r.push_back((v >> i) & 1);
    return r;
}

inline uint64_t value_of(const std::vector<bool> &bits, size_t from, int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; i++)
        if (bits[from + size_t(i)])
            v |= uint64_t(1) << i;
    return v;
}

} // namespace testjtag
