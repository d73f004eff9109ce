// The USB seam against a served vokbench: a firmware image built by SDCC is
// downloaded to a bare board with 0xA0 requests, the board renumerates, answers
// its string descriptors through its own code and echoes bulk data; the bench's
// status shows the new identity.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "fw_image.h"
#include "support/served_bench.h"
#include "usb.h"

namespace {

class SeamTest : public testsupport::ServedBench {
protected:
    // The bare board enumerates once the hub has seen it.
    void SetUp() override { serve({"--usb", "0:qrt"}, true); }

    static std::string string_descriptor(vokhw::UsbHandle &h, uint8_t index) {
        uint8_t buf[130] = {};
        int n = h.control(0x80, 6, uint16_t(0x0300 | index), 0x0409, buf, sizeof buf, 1000);
        if (n < 2) return "(" + std::string(vokhw::usb_error_text(n)) + ")";
        std::string s;
        for (int i = 2; i + 1 < std::min<int>(n, buf[0]); i += 2) s += char(buf[i]);
        return s;
    }

    // Holds the 8051, writes the image, lets it run; waits until the board is back.
    std::unique_ptr<vokhw::UsbHandle> download(const std::vector<uint8_t> &image) {
        std::string reason;
        auto h = vokhw::usb_open(0, &reason);
        if (!h) ADD_FAILURE() << reason;
        if (!h) return nullptr;
        uint8_t hold = 1, run = 0;
        EXPECT_EQ(h->control(0x40, 0xA0, 0x7F92, 0, &hold, 1, 1000), 1);
        for (size_t at = 0; at < image.size(); at += 1023) {
            uint16_t n = uint16_t(std::min<size_t>(1023, image.size() - at));
            EXPECT_EQ(h->control(0x40, 0xA0, uint16_t(at), 0, const_cast<uint8_t *>(&image[at]), n, 1000), n);
        }
        EXPECT_EQ(h->control(0x40, 0xA0, 0x7F92, 0, &run, 1, 1000), 1);
        const std::string place = h->place();
        EXPECT_EQ(place, "bench:0");
        h.reset();
        for (int i = 0; i < 100; ++i) {
            vokhw::usb_wait_ms(50);
            h = vokhw::usb_open_place(place, &reason);
            if (h && string_descriptor(*h, 1) == "VOKTEST") return h;
            h.reset();
        }
        ADD_FAILURE() << "the board did not come back";
        return nullptr;
    }
};

TEST_F(SeamTest, DownloadedFirmwareRenumeratesAnswersStringsAndEchoes) {
    auto boards = vokhw::usb_list_boards();
    ASSERT_EQ(boards.size(), 1u);
    EXPECT_EQ(boards[0].vid, 0x0547);
    EXPECT_EQ(boards[0].pid, 0x2131);

    auto h = download(fw_image("echo"));
    ASSERT_TRUE(h);
    EXPECT_EQ(string_descriptor(*h, 2), "ECHO");
    std::vector<uint8_t> config;
    ASSERT_EQ(h->config_descriptor(config), vokhw::USB_OK);
    EXPECT_EQ(config.size(), 39u);
    std::string reason;
    EXPECT_FALSE(vokhw::usb_open(0, &reason)) << "the interface is claimed once";
    EXPECT_NE(reason.find("in use"), std::string::npos) << reason;

    // The read is posted first, in its own thread, as the drivers' read thread does.
    std::vector<uint8_t> sent(200), got(200);
    for (size_t i = 0; i < sent.size(); ++i) sent[i] = uint8_t(i * 7 + 1);
    int got_n = 0, in_rc = 1;
    std::thread reader([&] { in_rc = h->bulk(0x82, got.data(), int(got.size()), &got_n, 5000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    int sent_n = 0;
    EXPECT_EQ(h->bulk(0x02, sent.data(), int(sent.size()), &sent_n, 1000), vokhw::USB_OK);
    reader.join();
    EXPECT_EQ(sent_n, 200);
    EXPECT_EQ(in_rc, vokhw::USB_OK);
    EXPECT_EQ(got_n, 200);
    EXPECT_EQ(got, sent);

    // A read with nothing to come ends when another thread cancels it.
    int cancelled_rc = 1;
    std::thread waiter([&] { cancelled_rc = h->bulk(0x82, got.data(), 64, &got_n, 0); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    h->cancel(0x82);
    waiter.join();
    EXPECT_EQ(cancelled_rc, vokhw::USB_ERROR_CANCELLED);

    auto usb = status_json().at("usb");
    ASSERT_EQ(usb.size(), 1u);
    auto &b = usb[0];
    std::vector<std::string> keys;
    for (auto &[k, v] : b.items()) keys.push_back(k);
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keys, (std::vector<std::string>{"attached", "board", "bulk_us", "chain", "cycles", "loads", "naks",
                                              "number", "packets_in", "packets_out", "pid", "strings", "vid"}));
    EXPECT_EQ(b["chain"]["own"], false); // the bench's chain
    EXPECT_EQ(b["board"], "qrt");
    EXPECT_EQ(b["attached"], true);
    EXPECT_EQ(b["vid"], "0547");
    EXPECT_EQ(b["pid"], "2131");
    EXPECT_EQ(b["strings"], nlohmann::json({"VOKTEST", "ECHO"}));
    EXPECT_EQ(b["loads"], 1);
    EXPECT_EQ(b["packets_out"], 4);
    EXPECT_GT(b["cycles"].get<uint64_t>(), 0u);

    EXPECT_EQ(ctl("usb 0 unplug").status, 0);
    uint8_t byte = 0;
    EXPECT_EQ(h->control(0x80, 0, 0, 0, &byte, 1, 100), vokhw::USB_ERROR_NO_DEVICE);
    EXPECT_NE(ctl("status").out.find("usb 0: qrt, detached"), std::string::npos);
}

// Without a bench the libusb backend answers; on a machine without a board its
// reason names what it saw.
TEST(SeamReason, NoBoardOnAnyBusSaysWhy) {
    ::unsetenv("VOKBENCH");
    std::string reason;
    if (vokhw::usb_open(0, &reason)) GTEST_SKIP() << "an EZ-USB board is plugged in";
    bool known = reason.rfind("no device with an EZ-USB ID on any bus (", 0) == 0 ||
                 reason.rfind("libusb could not start: ", 0) == 0 || reason.rfind("no permission to open ", 0) == 0;
    EXPECT_TRUE(known) << reason;
    EXPECT_FALSE(vokhw::usb_open_place("9-9", &reason));
}

} // namespace
