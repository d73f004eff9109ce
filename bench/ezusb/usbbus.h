// The bench's USB bus: the EZ-USB boards plugged into it, the host's transfers to
// them, and the one simulated clock that the bus and the boards' 8051s share.
//
// Time. The clock counts ticks of 1/114000 ms, so that both a machine cycle (4
// CLK24 periods at 24 MHz: 19 ticks) and a bus slot (1/19 ms: 6000 ticks) are whole.
// Each bulk packet takes the next free slot, so at most 19 packets of 64 bytes
// (1216 bytes) pass per millisecond; a slot in which every token is NAKed passes
// too, and the tokens are tried again in the next one. A control transfer takes at
// least one millisecond. Wall-clock time never enters this clock.
//
// What moves the clock. Only the host's blocking requests do, and each runs the
// clock (and every board's 8051 with it) until it is over: a control transfer, a
// bulk OUT, a bulk IN that the host waits on, and a wait. A wait lasts a given
// time, or, when it names the session's bulk IN, until that IN ends (or its time
// is up). The host's enumeration of a board just attached runs it too.
//
// A bulk IN posted ahead (by a reader thread, before the OUT that provokes its
// answer) moves no time of its own, at any moment: it takes a packet in any slot
// that something else runs, and the host's wait for it runs the clock until its
// last packet. Its cost is thus the slots of the OUTs it rides along with, plus
// the firmware's time to answer after the last OUT, counted by the wait. The host
// sends the IN before the OUT (the driver waits until the request is out), so
// neither the time between the host's requests nor the order in which requests of
// its threads reach the bench enters the clock. Transfers take their turns in a
// slot in the order of board and endpoint, not of arrival.
//
// bulk_us. Per board, the slots during which a bulk OUT was pending or an IN was
// running the clock (an IN the host waits on): the time the transfers would take
// on the real board, not the host's pauses.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "an2131.h"
#include "target.h"
#include "usb_result.h"
#include "usbcore.h"

namespace bench::ezusb {

constexpr uint64_t TICKS_PER_MS = 114000;
constexpr uint64_t TICKS_PER_CYCLE = 19;
constexpr uint64_t TICKS_PER_SLOT = 6000;
constexpr int PACKET_SIZE = 64;

// Transfers end with the results that the bench socket carries to the host.
using enum benchwire::UsbError;

struct BusSettings {
    // From an attach to the host's bus reset (the hub's debounce).
    uint64_t attach_delay_ms = 100;
    // A control transfer without a timeout gives up after this long.
    uint64_t control_limit_ms = 5000;
};

struct Transfer {
    enum class Kind { control, bulk_out, bulk_in, wait };
    Kind kind = Kind::wait;
    uint64_t session = 0;    // the opener's session (0 for waits)
    uint8_t ep = 0;          // endpoint address; a wait's: the IN it waits for (0: none)
    bool ahead = false;      // a bulk IN posted ahead: it moves no time itself
    SetupPacket setup;       // control
    std::vector<uint8_t> data; // OUT data, or what an IN received
    size_t length = 0;       // bytes to send or wanted
    uint64_t timeout_ms = 0; // 0: none (a wait for nothing but time ends at once)
    // Filled by the bus.
    size_t moved = 0;
    int result = USB_OK;
    bool finished = false;
    void *owner = nullptr; // the server's client that waits for it
    // Bus bookkeeping.
    int board = -1;
    uint64_t start = 0, deadline = 0, end = 0;
    bool started = false;
    bool data_done = false;
};
using TransferPtr = std::shared_ptr<Transfer>;

class Board {
public:
    Board(int number, std::string kind, Target &target, ChipSettings settings = {});
    ~Board();

    int number() const { return number_; }
    const std::string &kind() const { return kind_; }
    An2131 &chip() { return *chip_; }
    const An2131 &chip() const { return *chip_; }

    bool plugged() const { return plugged_; }
    // On the bus: plugged and its USBCS connecting it.
    bool attached() const;
    // Enumerated: the host knows it and can open it.
    bool present() const { return present_; }
    uint16_t vid() const { return vid_; }
    uint16_t pid() const { return pid_; }
    const std::vector<std::string> &strings() const { return strings_; }
    const std::vector<uint8_t> &config_descriptor() const { return config_; }
    // What an outside host learnt of the device, shown in the board's status.
    void note_identity(uint16_t vid, uint16_t pid, std::vector<uint8_t> config);
    void note_strings(std::vector<std::string> strings) { strings_ = std::move(strings); }

    uint64_t cycles() const { return chip_->cycles() - cycles_base_; }
    int loads() const { return chip_->loads() - loads_base_; }
    uint64_t packets_out() const { return packets_out_; }
    uint64_t packets_in() const { return packets_in_; }
    uint64_t naks() const { return naks_; }
    uint64_t bulk_us() const { return bulk_ticks_ * 1000 / TICKS_PER_MS; }
    void reset_counts();

private:
    friend class Bus;
    enum class Enum { idle, waiting, running, failed };

    int number_;
    std::string kind_;
    std::unique_ptr<BoardWiring> wiring_;
    std::unique_ptr<An2131> chip_;
    bool plugged_ = true;
    bool present_ = false;
    uint64_t generation_ = 0;
    uint16_t vid_ = DEFAULT_VID, pid_ = DEFAULT_PID;
    std::vector<std::string> strings_;
    std::vector<uint8_t> config_;
    uint64_t cycles_base_ = 0;
    int loads_base_ = 0;
    uint64_t packets_out_ = 0, packets_in_ = 0, naks_ = 0, bulk_ticks_ = 0;

    // Clock: the tick at which the chip was powered, and the cycles given to it.
    uint64_t power_tick_ = 0, cycles_given_ = 0;
    // Host-side enumeration after an attach.
    Enum enum_ = Enum::idle;
    uint64_t enum_at_ = 0;
    int enum_step_ = 0;
    int enum_string_ = 0;
    uint16_t enum_lang_ = 0x0409;
    TransferPtr enum_xfer_;
    std::vector<std::string> enum_strings_;
    bool was_attached_ = false;
    std::optional<uint64_t> claimed_by_;
};

class Bus {
public:
    explicit Bus(Target &target, BusSettings settings = {});
    ~Bus();

    const BusSettings &settings() const { return settings_; }
    uint64_t now() const { return now_; }

    // Boards by number. A board added again is replaced (unplugged, then the new
    // one plugged in).
    Board &add_board(int number, const std::string &kind, ChipSettings settings = {});
    // A board whose wiring drives a target of its own instead of the bus's; the
    // caller keeps that target alive while the board is on the bus.
    Board &add_board(int number, const std::string &kind, Target &target, ChipSettings settings = {});
    Board *board(int number);
    const std::map<int, std::unique_ptr<Board>> &boards() const { return boards_; }
    void unplug(int number);
    void plug(int number);
    // A board numbered so is enumerated by a host outside the bench (a guest
    // kernel over usbredir): the bus leaves it alone, and it can be opened as soon
    // as it is attached. Set before the board is added.
    void set_outside_host(int number, bool outside);
    bool outside_host(int number) const { return outside_hosted_.count(number) != 0; }

    // Opens a present board and claims its interface: a session number, or 0 with
    // *error set (USB_ERROR_NOT_FOUND when absent, USB_ERROR_BUSY when claimed).
    uint64_t open(int number, int *error);
    void close(uint64_t session);
    // The board a session belongs to while that board is still the same device.
    Board *session_board(uint64_t session);

    // Queues a transfer; it completes during run().
    void submit(const TransferPtr &t);
    // Cancels the session's pending transfers on an endpoint address.
    void cancel(uint64_t session, uint8_t ep);
    // Forgets a transfer whose requester has gone.
    void drop(const TransferPtr &t);
    bool has_session(uint64_t session) const { return sessions_.count(session) != 0; }

    // Advances the clock while transfers that drive it are pending, for at most
    // max_slots slots. True when more remains to run.
    bool run(unsigned max_slots);
    bool busy() const;
    // Transfers finished since the last call.
    std::vector<TransferPtr> take_finished();

private:
    void finish(Transfer &t, int result);
    void collect();
    bool drives_clock(const Transfer &t) const;
    bool in_pending(uint64_t session, uint8_t ep) const;
    bool in_awaited(const Transfer &in) const;
    void start_control(Board &b, Transfer &t);
    void step_control(Board &b, Transfer &t);
    bool bulk_token(Board &b, Transfer &t);
    bool token_refused(Board &b, Transfer &t, int refusal);
    void advance(uint64_t ticks);
    void board_changed(Board &b);
    void detach(Board &b);
    void step_enumeration(Board &b);
    void enumeration_done(Board &b, Transfer &t);
    bool needs_slots() const;

    Target &target_;
    BusSettings settings_;
    uint64_t now_ = 0;
    std::map<int, std::unique_ptr<Board>> boards_;
    std::deque<TransferPtr> pending_;
    std::vector<TransferPtr> finished_;
    std::map<uint64_t, std::pair<int, uint64_t>> sessions_; // session -> board, generation
    uint64_t next_session_ = 1;
    size_t round_robin_ = 0;
    std::set<int> outside_hosted_;
};

} // namespace bench::ezusb
