// One bench: the target (supply and JTAG chain), the parallel ports with their
// cables and the EZ-USB boards on the USB bus, set up from bench options and
// changed by control requests.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "bench_config.h"
#include "lines.h"
#include "port.h"
#include "target.h"
#include "usbbus.h"

namespace bench {

class UsbLink;

// "0x378", "378", "0378" -> 0x378. Throws std::invalid_argument.
uint16_t parse_port_base(std::string_view text);

class Bench {
public:
    Bench();
    ~Bench();

    // Sets the bench up as the options say; returns notes for the user about
    // options that were accepted but have no effect here.
    std::vector<std::string> configure(const BenchConfig &config);

    // A control request ("power off", "status --json", ...): the answer text, and
    // ok = false when the request was refused.
    std::string request(std::string_view text, bool &ok);

    std::string status_text() const;
    std::string status_json() const;

    // Wall-clock time since the last call passes as simulated time.
    void catch_up_wall_clock();

    Target &target() { return *target_; }
    Port *port(uint16_t base);
    // A port client claims the port at base; false when there is none or another
    // client holds it.
    bool claim(uint16_t base, const void *client);
    void release(uint16_t base, const void *client);
    void release_all(const void *client);

    // The USB bus and the clients' links to it.
    ezusb::Bus &usb() { return *usb_; }
    void add_link(UsbLink *link) { links_.insert(link); }
    void remove_link(UsbLink *link) { links_.erase(link); }
    // A session of the bus ends when its last link leaves (or at once, close_now).
    void join_session(uint64_t session) { ++session_links_[session]; }
    void leave_session(uint64_t session, bool close_now = false);
    // Runs the bus for at most max_slots slots and hands finished transfers to
    // their links; true while transfers still drive the clock.
    bool run_usb(unsigned max_slots);

private:
    std::string usb_request(std::string_view value);
    void add_usb_board(const BenchConfig::Usb &u);
    // The target a board drives: its own chain, else the bench's.
    const Target &board_target(int number) const;
    void dispatch_usb();

    std::string set_port(uint16_t base, const std::string &cable);
    std::string set_port(std::string_view base_cable); // "0x378:xilinx"

    std::unique_ptr<Target> target_;
    LinesOf<Target> lines_;
    std::map<uint16_t, std::unique_ptr<Port>> ports_;
    std::map<uint16_t, const void *> holders_;
    std::chrono::steady_clock::time_point last_wall_;
    std::unique_ptr<ezusb::Bus> usb_;
    std::set<UsbLink *> links_;
    std::map<uint64_t, int> session_links_;
    // Targets of boards with a chain of their own, by board number.
    std::map<int, std::unique_ptr<Target>> board_targets_;
};

} // namespace bench
