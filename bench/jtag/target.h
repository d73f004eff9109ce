// The target side of the bench: a switchable supply, a JTAG chain of up to 8
// devices, and the slave-serial pins of one Spartan-II. Cables drive pins here
// and read pins back; they never see the models behind them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace bench {

// One device of a chain, as named in a bench file.
struct DeviceSpec {
    enum class Kind { Spartan2, Prom, Generic };
    Kind kind = Kind::Generic;
    std::string part;     // "2s100", "18v02", or "dev" for a generic device
    uint32_t idcode = 0;  // with the version field
    int ir_len = 0;
    bool strict_sync = false; // Spartan-II: "+strict_sync=1", see Spartan2Settings
};

// "2s100,18v02,2s15:v1,dev:0x12345093:6" -> specs from the TDO end to the TDI end.
// A Spartan-II word may end in "+SETTING=0|1" items (strict_sync).
// Throws std::invalid_argument with a readable message on a bad word.
std::vector<DeviceSpec> parse_chain(std::string_view words);

class Spartan2;   // the configuration-logic model, bench/jtag/spartan2.h
class JtagDevice; // any chain device, bench/jtag/tap.h

// Longest chain a bench holds: more than the 8 a loader supports, so that a
// loader's limit can be tested.
constexpr size_t max_chain_devices = 16;

class Target {
public:
    explicit Target(std::vector<DeviceSpec> chain = {}, bool powered = true);
    ~Target();
    Target(const Target &) = delete;
    Target &operator=(const Target &) = delete;

    // Supply. Switching it off clears every device; TDO and DONE float.
    void set_power(bool on);
    bool powered() const;

    // Replaces the chain (devices start unconfigured).
    void set_chain(std::vector<DeviceSpec> chain);
    const std::vector<DeviceSpec> &chain() const;

    // JTAG pin levels driven by a cable. A rising TCK samples TMS and TDI in every
    // TAP; a falling TCK updates TDO.
    void set_jtag(bool tck, bool tms, bool tdi);
    bool tdo() const; // floats high without power or without devices

    // One whole TCK cycle (falling, then rising edge) for simulated cables that
    // need no pin detail; returns TDO as seen after the rising edge.
    bool clock_jtag(bool tms, bool tdi);

    // Slave-serial pins of the serial FPGA: the Spartan-II nearest TDO.
    void set_serial(bool prog_b, bool cclk, bool din);
    bool done_pin() const; // floats high without power
    bool init_pin() const;

    // Simulated time passes (INIT stays low for the clear time after PROGRAM).
    // Each rising TCK or CCLK edge also lets a short clock period pass (see
    // Spartan2Settings::clock_ns), so a clear ends even if no one calls this.
    void elapse_ns(uint64_t ns);

    // Device models, index 0 nearest TDO; null where the device is not a Spartan-II.
    size_t size() const;
    Spartan2 *spartan(size_t index);
    const Spartan2 *spartan(size_t index) const;
    JtagDevice *device(size_t index);
    // Index of the Spartan-II that owns the slave-serial pins, or -1.
    int serial_index() const;

    // Simulated time that has passed (elapse_ns and clock edges).
    uint64_t now_ns() const;

    // State of the supply and every device, for people and for scripts.
    std::string status_text() const;
    std::string status_json() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace bench
