// One bench board served as the device side of the usbredir protocol, to a USB
// host on the other end of a stream socket (QEMU's usb-redir device, whose guest
// kernel then owns the board).
//
// The host's requests become transfers on the bench's bus, so the emulated chip
// and its firmware answer them as they would over a cable. The board is enumerated
// by the guest alone: the bus is told that its host is outside (set that before
// the board is added), and the device reads only the device and configuration
// descriptors it must announce. QEMU answers SET_ADDRESS itself, so after each
// bus reset the chip is given an address here.
//
// Bulk transfers are passed to the bus one at a time per endpoint, in the order
// the host queued them, so that the data of several outstanding INs stays in
// order. A disconnect of the chip (unplugged, or renumerating) is sent as
// device_disconnect; once the host acknowledges it and the chip is back, its new
// descriptors are announced with device_connect.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <usbredirproto.h>

#include "usbbus.h"

struct usbredirparser;

namespace bench::usbredir {

class RedirDevice {
public:
    // fd: a connected, non-blocking stream socket; the device owns it.
    RedirDevice(ezusb::Bus &bus, int board, int fd);
    ~RedirDevice();
    RedirDevice(const RedirDevice &) = delete;
    RedirDevice &operator=(const RedirDevice &) = delete;

    int fd() const { return fd_; }
    int board() const { return board_; }
    // The peer closed the socket or broke the protocol.
    bool gone() const { return gone_; }
    // Output is waiting for the socket to take it.
    bool wants_write() const;
    // Reads what arrived, then moves the board's state on and writes what is ready.
    void pump();

    // For tests and reports.
    bool connected() const { return state_ == State::connected; }

private:
    enum class State { waiting, reading, connected, disconnecting };
    struct Pending {
        uint64_t id = 0;
        ezusb::TransferPtr transfer;
        bool submitted = false; // handed to the bus
        uint8_t ep = 0;
        enum class Kind { control, bulk, set_config, set_alt } kind = Kind::control;
        uint8_t value = 0; // configuration or alt setting asked for
        uint8_t iface = 0;
        uint16_t ctrl_value = 0, ctrl_index = 0;
        uint8_t ctrl_request = 0, ctrl_type = 0;
    };

    static void log_cb(void *priv, int level, const char *msg);
    static int read_cb(void *priv, uint8_t *data, int count);
    static int write_cb(void *priv, uint8_t *data, int count);
    static void hello_cb(void *priv, struct usb_redir_hello_header *h);
    static void reset_cb(void *priv);
    static void set_configuration_cb(void *priv, uint64_t id, struct usb_redir_set_configuration_header *h);
    static void get_configuration_cb(void *priv, uint64_t id);
    static void set_alt_setting_cb(void *priv, uint64_t id, struct usb_redir_set_alt_setting_header *h);
    static void get_alt_setting_cb(void *priv, uint64_t id, struct usb_redir_get_alt_setting_header *h);
    static void cancel_cb(void *priv, uint64_t id);
    static void control_cb(void *priv, uint64_t id, struct usb_redir_control_packet_header *h, uint8_t *data,
                           int len);
    static void bulk_cb(void *priv, uint64_t id, struct usb_redir_bulk_packet_header *h, uint8_t *data, int len);
    static void disconnect_ack_cb(void *priv);

    void follow_board();
    void start_descriptor_read();
    void descriptor_read_done(const ezusb::Transfer &t);
    void announce();
    void send_interface_and_ep_info();
    void drop_everything(int status);
    void start_queued();
    void finish_done();
    void complete(Pending &p);
    void note_string(const ezusb::Transfer &t);
    ezusb::TransferPtr control_transfer(uint8_t type, uint8_t request, uint16_t value, uint16_t index,
                                        uint16_t length);
    // SET_CONFIGURATION or SET_INTERFACE, queued behind what the host sent before.
    void queue_setting(uint64_t id, Pending::Kind kind, uint8_t iface, uint8_t value);

    ezusb::Bus &bus_;
    int board_;
    int fd_;
    usbredirparser *parser_ = nullptr;
    bool gone_ = false;
    bool hello_ = false;
    State state_ = State::waiting;
    uint64_t session_ = 0;
    uint8_t configuration_ = 0;
    std::map<uint8_t, uint8_t> alt_; // interface -> alt setting
    std::vector<uint8_t> device_desc_, config_desc_;
    std::map<int, std::string> strings_;
    int read_step_ = 0;
    ezusb::TransferPtr reading_;
    std::deque<Pending> pending_; // in the order the host sent them
};

// usbredir's status code for a bus result.
int redir_status(int transfer_result);

} // namespace bench::usbredir
