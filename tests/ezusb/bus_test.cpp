// Boards on the bench's bus, driven as a host drives them: enumeration of a bare
// chip, a firmware download that renumerates, bulk transfers and their timing.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "fw_image.h"
#include "run8051.h"
#include "usbbus.h"

using namespace bench;
using namespace bench::ezusb;

namespace {

class BusTest : public ::testing::Test {
protected:
    Target target;
    Bus bus{target};
    Board *board = nullptr;

    void SetUp() override {
        board = &bus.add_board(0, "an2135sc-jtag");
        wait_ms(200);
    }

    TransferPtr run(TransferPtr t) {
        bus.submit(t);
        while (!t->finished && bus.run(1000)) {
        }
        bus.take_finished();
        return t;
    }
    void wait_ms(uint64_t ms) {
        auto t = std::make_shared<Transfer>();
        t->timeout_ms = ms;
        t->owner = this;
        run(t);
    }
    static TransferPtr control(uint64_t session, uint8_t type, uint8_t request, uint16_t value, uint16_t length,
                               std::vector<uint8_t> out = {}) {
        auto t = std::make_shared<Transfer>();
        t->kind = Transfer::Kind::control;
        t->session = session;
        t->setup = SetupPacket::make(type, request, value, 0, length);
        t->data = std::move(out);
        t->timeout_ms = 1000;
        t->owner = reinterpret_cast<void *>(1); // a host's transfer, not the bus's own
        return t;
    }
    static TransferPtr bulk(uint64_t session, uint8_t ep, std::vector<uint8_t> out, size_t in_length = 0) {
        auto t = std::make_shared<Transfer>();
        t->kind = ep & 0x80 ? Transfer::Kind::bulk_in : Transfer::Kind::bulk_out;
        t->session = session;
        t->ep = ep;
        t->length = ep & 0x80 ? in_length : out.size();
        t->data = std::move(out);
        t->owner = reinterpret_cast<void *>(1);
        return t;
    }
    uint64_t open(int number = 0) {
        int error = 0;
        uint64_t s = bus.open(number, &error);
        EXPECT_NE(s, 0u) << error;
        return s;
    }
    // Holds the 8051, writes the image in pieces, releases it, and lets the board
    // come back as the host would, with waits.
    void download(const std::string &name) {
        std::vector<uint8_t> image = fw_image(name);
        ASSERT_EQ(image.size(), 4096u);
        uint64_t s = open();
        ASSERT_EQ(run(control(s, 0x40, 0xA0, 0x7F92, 1, {1}))->result, USB_OK);
        for (size_t at = 0; at < image.size(); at += 1023) {
            size_t n = std::min<size_t>(1023, image.size() - at);
            std::vector<uint8_t> piece(image.begin() + long(at), image.begin() + long(at + n));
            ASSERT_EQ(run(control(s, 0x40, 0xA0, uint16_t(at), uint16_t(n), piece))->result, USB_OK);
        }
        ASSERT_EQ(run(control(s, 0x40, 0xA0, 0x7F92, 1, {0}))->result, USB_OK);
        bus.close(s);
        for (int i = 0; i < 100 && !board->present(); ++i) wait_ms(50);
        ASSERT_TRUE(board->present());
    }
};

TEST_F(BusTest, BareBoardIsTheDefaultDevice) {
    ASSERT_TRUE(board->present());
    EXPECT_EQ(board->vid(), 0x0547);
    EXPECT_EQ(board->pid(), 0x2131);
    EXPECT_TRUE(board->strings().empty());
    EXPECT_EQ(board->config_descriptor().size(), 18u); // configuration and interface, no endpoints
    uint64_t s = open();
    struct Case {
        const char *what;
        uint8_t type, request;
        uint16_t value, length;
        std::vector<uint8_t> out;
        int result;
    } cases[] = {
        {"string descriptor", 0x80, 6, 0x0300, 255, {}, USB_ERROR_PIPE},
        {"device descriptor", 0x80, 6, 0x0100, 18, {}, USB_OK},
        {"0xA0 read of the last RAM byte", 0xC0, 0xA0, 0x1B3F, 1, {}, USB_OK},
        {"0xA0 write on into the buffers' alias", 0x40, 0xA0, 0x1B3F, 2, {1, 2}, USB_OK},
        {"0xA0 write past the buffers' alias", 0x40, 0xA0, 0x1F3F, 2, {1, 2}, USB_ERROR_PIPE},
        {"0xA0 write of a register other than CPUCS", 0x40, 0xA0, 0x7FD6, 1, {0}, USB_ERROR_PIPE},
        {"0xA0 write of CPUCS", 0x40, 0xA0, 0x7F92, 1, {1}, USB_OK},
        {"vendor request the core does not know", 0x40, 0xA3, 0, 0, {}, USB_ERROR_TIMEOUT},
    };
    for (auto &c : cases) {
        auto t = run(control(s, c.type, c.request, c.value, c.length, c.out));
        EXPECT_EQ(t->result, c.result) << c.what;
    }
}

TEST_F(BusTest, DownloadedFirmwareRenumeratesAndAnswersWithItsOwnDescriptors) {
    uint64_t bare = open();
    bus.close(bare);
    download("echo");
    EXPECT_EQ(board->strings(), (std::vector<std::string>{"VOKTEST", "ECHO"}));
    EXPECT_EQ(board->config_descriptor().size(), 39u);
    EXPECT_EQ(board->loads(), 1);
    EXPECT_EQ(bus.session_board(bare), nullptr); // the old device is gone
    uint64_t s = open();
    int error = 0;
    EXPECT_EQ(bus.open(0, &error), 0u);
    EXPECT_EQ(error, USB_ERROR_BUSY); // the interface is claimed once
    auto t = run(control(s, 0x80, 6, 0x0302, 255));
    ASSERT_EQ(t->result, USB_OK);
    EXPECT_EQ(t->data.size(), 10u);
    EXPECT_EQ(run(control(s, 0x80, 6, 0x0305, 255))->result, USB_ERROR_PIPE); // the firmware stalls it
}

TEST_F(BusTest, InPostedAheadMovesNoTimeUntilTheHostWaitsForItWhileAPlainInRunsTheClock) {
    download("echo");
    uint64_t s = open();
    board->reset_counts();
    auto in = bulk(s, 0x82, {}, 64);
    in->ahead = true;
    bus.submit(in);
    std::vector<uint8_t> data{1, 2, 3, 4, 5, 6, 7};
    run(bulk(s, 0x02, data));
    // The OUT is in; the host has not yet said that it waits for the answer.
    uint64_t before = bus.now();
    EXPECT_FALSE(bus.run(1000));
    EXPECT_EQ(bus.now(), before);
    ASSERT_FALSE(in->finished);
    auto wait = std::make_shared<Transfer>();
    wait->session = s;
    wait->ep = 0x82;
    wait->owner = this;
    EXPECT_EQ(run(wait)->result, USB_OK);
    ASSERT_TRUE(in->finished);
    EXPECT_EQ(in->result, USB_OK);
    EXPECT_EQ(in->data, data);
    EXPECT_LT(board->bulk_us(), 1000u); // the answer's time, not the pause before the wait

    // The wait and its IN reach the bus together, the wait first: it still lasts
    // until the IN ends.
    run(bulk(s, 0x02, data));
    auto wait2 = std::make_shared<Transfer>(*wait);
    auto in2 = bulk(s, 0x82, {}, 64);
    in2->ahead = true;
    bus.submit(wait2);
    bus.submit(in2);
    while (!wait2->finished && bus.run(1000)) {
    }
    EXPECT_EQ(wait2->result, USB_OK);
    EXPECT_TRUE(in2->finished);
    EXPECT_EQ(in2->data, data);

    // An IN the host blocks on, posted after its OUT, needs no wait.
    run(bulk(s, 0x02, data));
    auto plain = run(bulk(s, 0x82, {}, 64));
    EXPECT_EQ(plain->result, USB_OK);
    EXPECT_EQ(plain->data, data);
}

TEST_F(BusTest, BulkOutCeilingIs1216BytesPerMillisecond) {
    download("echo");
    uint64_t s = open();
    board->reset_counts();
    const size_t bytes = 1216 * 20;
    auto t = run(bulk(s, 0x04, std::vector<uint8_t>(bytes, 0x5A)));
    ASSERT_EQ(t->result, USB_OK);
    EXPECT_EQ(board->packets_out(), bytes / 64);
    EXPECT_EQ(board->naks(), 0u);
    EXPECT_EQ(board->bulk_us(), 20000u) << "naks " << board->naks();
}

// A ULINK with a chain of its own runs Debian's OpenULINK firmware: the host
// downloads it as OpenOCD does, and its EP2 command protocol scans the chain.
TEST_F(BusTest, UlinkRunsOpenUlinkAndScansTheIdcodesOfItsOwnChain) {
    std::ifstream hex("/usr/share/openocd/OpenULINK/ulink_firmware.hex");
    if (!hex) GTEST_SKIP() << "openocd's OpenULINK firmware is not installed";
    std::stringstream text;
    text << hex.rdbuf();
    std::vector<uint8_t> image = parse_intel_hex(text.str());
    ASSERT_GT(image.size(), size_t(An2131::RAM_END)) << "the image no longer reaches the buffers' alias";

    Target chain(parse_chain("18v02,2s100"));
    Board &ulink = bus.add_board(1, "ulink", chain);
    wait_ms(200);
    ASSERT_TRUE(ulink.present());
    EXPECT_EQ(ulink.vid(), 0xC251); // the EEPROM's IDs, on the bare chip
    EXPECT_EQ(ulink.pid(), 0x2710);
    uint64_t s = open(1);
    ASSERT_EQ(run(control(s, 0x40, 0xA0, 0x7F92, 1, {1}))->result, USB_OK);
    for (size_t at = 0; at < image.size(); at += 64) {
        std::vector<uint8_t> piece(image.begin() + long(at), image.begin() + long(std::min(at + 64, image.size())));
        ASSERT_EQ(run(control(s, 0x40, 0xA0, uint16_t(at), uint16_t(piece.size()), piece))->result, USB_OK) << at;
    }
    ASSERT_EQ(run(control(s, 0x40, 0xA0, 0x7F92, 1, {0}))->result, USB_OK);
    bus.close(s);
    for (int i = 0; i < 100 && !(ulink.present() && ulink.chip().usbcs() & USBCS_RENUM); ++i) wait_ms(50);
    ASSERT_TRUE(ulink.present());
    EXPECT_EQ(ulink.vid(), 0xC251);
    EXPECT_EQ(ulink.loads(), 1);

    s = open(1);
    // The firmware arms EP2 OUT when the host selects the interface's setting.
    ASSERT_EQ(run(control(s, 0x01, 0x0B, 0, 0))->result, USB_OK);
    // Five TMS highs to Test-Logic-Reset (IDCODE in every DR), then a scan of 64
    // bits that enters Shift-DR with TMS 0,1,0,0.
    auto out = bulk(s, 0x02, {0x20, 5, 0x1F, 0x00, 8, 8, 0x40, 0x02, 0x00});
    out->timeout_ms = 1000;
    ASSERT_EQ(run(out)->result, USB_OK);
    auto in = bulk(s, 0x82, {}, 64);
    in->timeout_ms = 1000;
    run(in);
    ASSERT_EQ(in->result, USB_OK);
    ASSERT_EQ(in->data.size(), 8u);
    auto word = [&](size_t at) {
        return uint32_t(in->data[at] | in->data[at + 1] << 8 | in->data[at + 2] << 16 | in->data[at + 3] << 24);
    };
    EXPECT_EQ(word(0), chain.chain()[0].idcode); // the device nearest TDO comes first
    EXPECT_EQ(word(4), chain.chain()[1].idcode);
}

TEST_F(BusTest, UnplugEndsPendingTransfersAndPlugBringsBackABareChip) {
    download("echo");
    uint64_t s = open();
    auto in = bulk(s, 0x82, {}, 64);
    bus.submit(in);
    bus.unplug(0);
    EXPECT_TRUE(in->finished);
    EXPECT_EQ(in->result, USB_ERROR_NO_DEVICE);
    EXPECT_FALSE(board->attached());
    bus.plug(0);
    wait_ms(200);
    EXPECT_TRUE(board->present());
    EXPECT_TRUE(board->strings().empty());
    EXPECT_TRUE(board->chip().in_reset());
}

} // namespace
