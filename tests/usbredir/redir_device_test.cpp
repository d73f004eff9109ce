// A bench board served as a usbredir device, driven by usbredirparser's other side
// (the one QEMU uses) over a socket pair.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <sys/socket.h>
#include <unistd.h>
#include <usbredirparser.h>

#include "fw_image.h"
#include "redir_device.h"
#include "target.h"

namespace {

using bench::usbredir::RedirDevice;
namespace ez = bench::ezusb;

struct Reply {
    int status = -1;
    std::vector<uint8_t> data;
};

// The guest's side: what the device announced and the answers it gave, by id.
struct HostSide {
    usbredirparser *parser = nullptr;
    int fd = -1;
    int connects = 0, disconnects = 0;
    usb_redir_device_connect_header device{};
    usb_redir_ep_info_header eps{};
    std::map<uint64_t, Reply> replies;

    static HostSide &of(void *priv) { return *static_cast<HostSide *>(priv); }

    explicit HostSide(int socket) : fd(socket) {
        parser = usbredirparser_create();
        parser->priv = this;
        parser->log_func = [](void *, int, const char *) {};
        parser->read_func = [](void *priv, uint8_t *d, int n) {
            ssize_t r = ::recv(of(priv).fd, d, size_t(n), MSG_DONTWAIT);
            return r > 0 ? int(r) : 0;
        };
        parser->write_func = [](void *priv, uint8_t *d, int n) {
            ssize_t r = ::send(of(priv).fd, d, size_t(n), MSG_DONTWAIT | MSG_NOSIGNAL);
            return r > 0 ? int(r) : 0;
        };
        parser->device_connect_func = [](void *priv, usb_redir_device_connect_header *h) {
            of(priv).device = *h;
            ++of(priv).connects;
        };
        parser->device_disconnect_func = [](void *priv) { ++of(priv).disconnects; };
        parser->ep_info_func = [](void *priv, usb_redir_ep_info_header *h) { of(priv).eps = *h; };
        parser->interface_info_func = [](void *, usb_redir_interface_info_header *) {};
        parser->configuration_status_func = [](void *priv, uint64_t id, usb_redir_configuration_status_header *h) {
            of(priv).replies[id] = {h->status, {}};
        };
        parser->control_packet_func = [](void *priv, uint64_t id, usb_redir_control_packet_header *h, uint8_t *d,
                                         int n) {
            of(priv).replies[id] = {h->status, std::vector<uint8_t>(d, d + n)};
            usbredirparser_free_packet_data(of(priv).parser, d);
        };
        parser->bulk_packet_func = [](void *priv, uint64_t id, usb_redir_bulk_packet_header *h, uint8_t *d, int n) {
            of(priv).replies[id] = {h->status, std::vector<uint8_t>(d, d + n)};
            usbredirparser_free_packet_data(of(priv).parser, d);
        };
        uint32_t caps[USB_REDIR_CAPS_SIZE] = {};
        for (int cap : {usb_redir_cap_connect_device_version, usb_redir_cap_ep_info_max_packet_size,
                        usb_redir_cap_64bits_ids, usb_redir_cap_32bits_bulk_length})
            usbredirparser_caps_set_cap(caps, cap);
        usbredirparser_init(parser, "test", caps, USB_REDIR_CAPS_SIZE, 0);
    }
    ~HostSide() {
        usbredirparser_destroy(parser);
        ::close(fd);
    }
    void control(uint64_t id, uint8_t type, uint8_t request, uint16_t value, uint16_t index,
                 std::vector<uint8_t> out, uint16_t in_length = 0) {
        usb_redir_control_packet_header h{uint8_t(type & 0x80), request, type, 0, value, index,
                                          uint16_t(type & 0x80 ? in_length : out.size())};
        usbredirparser_send_control_packet(parser, id, &h, out.empty() ? nullptr : out.data(), int(out.size()));
    }
    void bulk(uint64_t id, uint8_t ep, std::vector<uint8_t> out, uint32_t in_length = 0) {
        uint32_t n = ep & 0x80 ? in_length : uint32_t(out.size());
        usb_redir_bulk_packet_header h{ep, 0, uint16_t(n), 0, uint16_t(n >> 16)};
        usbredirparser_send_bulk_packet(parser, id, &h, out.empty() ? nullptr : out.data(), int(out.size()));
    }
};

class RedirBoard : public ::testing::Test {
protected:
    bench::Target target;
    ez::Bus bus{target};
    std::unique_ptr<RedirDevice> device;
    std::unique_ptr<HostSide> host;

    void SetUp() override {
        bus.set_outside_host(0, true);
        bus.add_board(0, "an2135sc-jtag");
        int sv[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, sv), 0);
        device = std::make_unique<RedirDevice>(bus, 0, sv[0]);
        host = std::make_unique<HostSide>(sv[1]);
    }
    // Runs both sides and the bus until pred holds, time passing as a guest's
    // waits let it pass; false after a bounded number of rounds.
    bool until(const std::function<bool()> &pred, int rounds = 20000) {
        auto wait = std::make_shared<ez::Transfer>();
        wait->finished = true;
        for (int i = 0; i < rounds; ++i) {
            if (pred()) return true;
            if (wait->finished && !bus.busy()) {
                wait->kind = ez::Transfer::Kind::wait;
                wait->timeout_ms = 1;
                wait->owner = this;
                bus.submit(wait);
            }
            usbredirparser_do_write(host->parser);
            device->pump();
            bus.run(16);
            device->pump();
            usbredirparser_do_read(host->parser);
        }
        return pred();
    }
    Reply wait_reply(uint64_t id) {
        EXPECT_TRUE(until([&] { return host->replies.count(id) != 0; })) << "no answer to " << id;
        return host->replies[id];
    }
};

TEST_F(RedirBoard, ABareChipIsAnnouncedAddressedAndAnswersVendorRequests) {
    ASSERT_TRUE(until([&] { return host->connects == 1; }));
    EXPECT_EQ(host->device.vendor_id, 0x0547);
    EXPECT_EQ(host->device.product_id, 0x2131);
    EXPECT_EQ(host->eps.type[0], usb_redir_type_control);
    EXPECT_EQ(host->eps.type[0x12], usb_redir_type_invalid);
    EXPECT_NE(bus.board(0)->chip().peek(ez::reg::FNADDR), 0) << "the chip never got an address";
    // The host's reset takes the address away; the device gives it back.
    usbredirparser_send_reset(host->parser);
    host->control(1, 0x40, 0xA0, 0x1000, 0, {1, 2, 3, 4});
    EXPECT_EQ(wait_reply(1).status, usb_redir_success);
    EXPECT_NE(bus.board(0)->chip().peek(ez::reg::FNADDR), 0);
    host->control(2, 0xC0, 0xA0, 0x1000, 0, {}, 4);
    Reply r = wait_reply(2);
    EXPECT_EQ(r.status, usb_redir_success);
    EXPECT_EQ(r.data, (std::vector<uint8_t>{1, 2, 3, 4}));
    host->control(3, 0xC0, 0xA0, 0x7F00, 0, {}, 1); // outside RAM: the core stalls
    EXPECT_EQ(wait_reply(3).status, usb_redir_stall);
    EXPECT_EQ(bus.board(0)->loads(), 0);
}

TEST_F(RedirBoard, FirmwareRenumeratesThenQueuedInsTakeTheDataInOrderAndCancelWorks) {
    std::vector<uint8_t> image = fw_image("echo");
    ASSERT_EQ(image.size(), 4096u);
    ASSERT_TRUE(until([&] { return host->connects == 1; }));
    uint64_t id = 10;
    host->control(id++, 0x40, 0xA0, 0x7F92, 0, {1});
    for (size_t at = 0; at < image.size(); at += 64)
        host->control(id++, 0x40, 0xA0, uint16_t(at), 0, std::vector<uint8_t>(image.begin() + at, image.begin() + at + 64));
    host->control(id, 0x40, 0xA0, 0x7F92, 0, {0});
    EXPECT_EQ(wait_reply(id).status, usb_redir_success) << "the run request ends as it ended on the chip";
    ASSERT_TRUE(until([&] { return host->disconnects == 1 && host->connects == 2; }));
    EXPECT_EQ(host->device.device_version_bcd, 0x0009) << "the firmware's own descriptors";
    EXPECT_EQ(host->eps.type[0x02], usb_redir_type_bulk);
    EXPECT_EQ(host->eps.type[0x12], usb_redir_type_bulk);
    EXPECT_EQ(host->eps.max_packet_size[0x12], 64);
    EXPECT_EQ(bus.board(0)->loads(), 1);

    usb_redir_set_configuration_header config{1};
    usbredirparser_send_set_configuration(host->parser, 100, &config);
    EXPECT_EQ(wait_reply(100).status, usb_redir_success);
    // Two INs of two packets each wait before the data exists; the echo of four
    // packets fills the first, then the second.
    host->bulk(101, 0x82, {}, 128);
    host->bulk(102, 0x82, {}, 128);
    std::vector<uint8_t> out(256);
    for (size_t i = 0; i < out.size(); ++i) out[i] = uint8_t(i);
    host->bulk(103, 0x02, out);
    EXPECT_EQ(wait_reply(103).status, usb_redir_success);
    Reply first = wait_reply(101), second = wait_reply(102);
    EXPECT_EQ(first.data, std::vector<uint8_t>(out.begin(), out.begin() + 128));
    EXPECT_EQ(second.data, std::vector<uint8_t>(out.begin() + 128, out.end()));
    EXPECT_EQ(bus.board(0)->packets_in(), 4u);

    host->bulk(104, 0x82, {}, 64); // nothing will come
    host->bulk(105, 0x82, {}, 64); // queued behind it
    until([] { return false; }, 50);
    usbredirparser_send_cancel_data_packet(host->parser, 105);
    usbredirparser_send_cancel_data_packet(host->parser, 104);
    EXPECT_EQ(wait_reply(104).status, usb_redir_cancelled);
    EXPECT_EQ(wait_reply(105).status, usb_redir_cancelled);

    bus.unplug(0);
    EXPECT_TRUE(until([&] { return host->disconnects == 2; }));
    bus.plug(0);
    EXPECT_TRUE(until([&] { return host->connects == 3; }));
    EXPECT_EQ(host->device.device_version_bcd, 0x0001) << "plugged in again it is a bare chip";
}

} // namespace
