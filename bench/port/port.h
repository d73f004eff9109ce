// A PC parallel port at a base address with a download cable attached (or none).
//
// The port holds the data and control registers and turns the cable's pin levels
// into the status register: bits 3 to 6 are the levels of pins 15, 13, 12 and 10,
// bit 7 is the inverse of the BUSY pin 11, bits 0 to 2 read as the idle value says.
// A pin that nothing drives reads as it does on an idle port.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lines.h"

namespace bench {

// Status pins in register positions, as pin levels (bit 7 = the BUSY pin itself).
constexpr uint8_t PIN_ERROR = 0x08;  // pin 15
constexpr uint8_t PIN_SELECT = 0x10; // pin 13
constexpr uint8_t PIN_PE = 0x20;     // pin 12
constexpr uint8_t PIN_ACK = 0x40;    // pin 10
constexpr uint8_t PIN_BUSY = 0x80;   // pin 11
constexpr uint8_t STATUS_PINS = 0xF8;

// Levels a cable puts on the status pins; pins outside `driven` float.
struct StatusDrive {
    uint8_t level = 0;
    uint8_t driven = 0;
    void set(uint8_t pin, bool high) {
        driven |= pin;
        level = high ? (level | pin) : (level & ~pin);
    }
};

// Which target pins the cable's signal lines are wired to.
enum class Leads {
    Jtag,   // TCK, TMS, TDI, TDO
    Serial, // slave serial: PROGRAM, CCLK, DIN, DONE
};

class Cable {
public:
    virtual ~Cable() = default;
    virtual std::string name() const = 0;
    // The port's output registers changed (or the cable was just attached).
    virtual void outputs(uint8_t data, uint8_t control) = 0;
    // The status pins as the cable drives them now.
    virtual StatusDrive inputs(uint8_t data, uint8_t control) const = 0;
};

struct XilinxSettings {
    Leads leads = Leads::Jtag;
    // The detect path from data bit 6 to the BUSY pin is passive and answers without
    // target power; the path to PE goes through the target-powered buffer.
    bool passive_busy_loop = true;
    // With data bit 4 low a powered cable pulls the TDO/DONE line low, so pin 13 reads 0.
    bool d4_low_pulls_tdo_line = true;
    // Data bit 3 (CTRL) high turns the TDI/TCK/TMS outputs off. Only weakly known,
    // so off by default; the driver always writes it low.
    bool d3_disables_outputs = false;
    // The power sense on pin 15 reads high only while data bit 4 is low, as one
    // cable emulator reports it. Off: pin 15 is high whenever the target is powered.
    bool power_sense_needs_d4_low = false;
};

struct AlteraSettings {
    // Jtag: the 10-pin JTAG header. Serial: the slave-serial adapter, which takes the
    // TCK line to DIN and the TMS line to CCLK, returns DONE on the pin-13 line and
    // leaves PROGRAM unconnected (pulled high at the FPGA).
    Leads leads = Leads::Jtag;
    // Pin 15 tied to ground, as on a ByteBlasterMV. Off: a cable that senses target
    // power there (high = powered).
    bool error_line_grounded = true;
    // The detect loop from data bit 5 to ACK is passive and answers unpowered.
    bool detect_loop_unpowered = true;
    // The target lines are driven only while control bit 1 (pin 14 low) enables
    // the buffer; the buffer itself is powered from the target.
    bool enable_by_control_bit1 = true;
};

std::unique_ptr<Cable> make_xilinx_cable(TargetLines &lines, XilinxSettings settings = {});
std::unique_ptr<Cable> make_altera_cable(TargetLines &lines, AlteraSettings settings = {});

// "xilinx", "xilinx-ss", "altera", "altera-ss", "none" -> a cable (null for "none").
// The name may carry settings of the model: "altera+detect_loop_unpowered=0".
// Throws std::invalid_argument for anything else.
std::unique_ptr<Cable> make_cable(std::string_view name, TargetLines &lines);

struct PortAccess {
    char op; // 'R' or 'W'
    uint16_t addr;
    uint8_t value;
    bool operator==(const PortAccess &) const = default;
};

class Port {
public:
    static constexpr uint8_t DEFAULT_IDLE_STATUS = 0x7F;
    static constexpr uint8_t CONTROL_AFTER_CLAIM = 0x0C;
    static constexpr uint64_t DEFAULT_NS_PER_ACCESS = 1000;

    Port(uint16_t base, TargetLines &lines, std::unique_ptr<Cable> cable,
         uint8_t idle_status = DEFAULT_IDLE_STATUS);

    uint16_t base() const { return base_; }
    std::string cable_name() const; // "none" without a cable
    void set_cable(std::unique_ptr<Cable> cable);

    // A client claims the port: the control register starts at 0x0C.
    void claim();

    void write(uint16_t addr, uint8_t value);
    uint8_t read(uint16_t addr);

    uint64_t reads() const { return reads_; }
    uint64_t writes() const { return writes_; }
    void reset_counts() { reads_ = writes_ = 0; }

    // Simulated time charged for every register access.
    void set_ns_per_access(uint64_t ns) { ns_per_access_ = ns; }

    // Optional record of every access, for tests.
    void trace(bool on);
    const std::vector<PortAccess> &accesses() const { return trace_; }

    uint8_t data() const { return data_; }
    uint8_t control() const { return control_; }
    uint8_t status();

private:
    uint16_t base_;
    TargetLines &lines_;
    std::unique_ptr<Cable> cable_;
    uint8_t idle_;
    uint8_t data_ = 0;
    uint8_t control_ = CONTROL_AFTER_CLAIM;
    uint64_t reads_ = 0, writes_ = 0;
    uint64_t ns_per_access_ = DEFAULT_NS_PER_ACCESS;
    bool tracing_ = false;
    std::vector<PortAccess> trace_;
};

} // namespace bench
