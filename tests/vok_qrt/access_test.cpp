// The stateless access layer against a scripted board: when the firmware is
// loaded, how strings decode, how bulk transfers are cut into requests.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "qrt_board.h"

namespace {

using namespace qrt_test;
using fakeusb::Transfer;

const std::array<uint8_t, CUSB_IMAGE_SIZE> image = [] {
    std::array<uint8_t, CUSB_IMAGE_SIZE> a;
    a.fill(0xAA);
    a[0] = 0x02;
    return a;
}();

struct InitCase {
    const char *label;
    bool present;
    bool strings_refused;
    const char *string1;
    int opens_before_return;
    int32_t result;
    int string_requests;
    bool downloads;
    int waits;
};

TEST(CusbInit, LoadsTheFirmwareOnlyWhenTheStringsDoNotMatch) {
    const InitCase cases[] = {
        {"strings already right", true, false, "GPFW", 0, 0, 2, false, 0},
        {"strings different", true, false, "OTHR", 0, 0, 2, true, 1},
        {"strings refused (bare board)", true, true, "GPFW", 0, 0, 1, true, 1},
        {"back after three polls", true, false, "OTHR", 2, 0, 2, true, 3},
        {"never back", true, false, "OTHR", 1000, -1, 2, true, cusb::RETURN_POLLS},
        {"board absent", false, false, "GPFW", 0, -1, 0, false, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        fakeusb::Board &s = gpfw_board(3);
        s.present = c.present;
        s.away_opens = c.present ? 0 : 1000;
        s.away_after_run = c.opens_before_return;
        s.strings = {c.string1, "V11P"};
        if (c.strings_refused) s.strings.clear();
        OnFakeSeam seam;
        testing::internal::CaptureStdout();
        cusb_handle slot = reinterpret_cast<cusb_handle>(1);
        EXPECT_EQ(cusb_init(3, &slot, image.data(), "GPFW", "V11P"), c.result);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(slot != nullptr, c.result == 0);
        EXPECT_EQ(s.waits.size(), size_t(c.waits));
        EXPECT_EQ(s.waited_ms(), c.waits * cusb::POLL_MS);

        int strings = 0;
        std::vector<uint8_t> cpucs, loaded;
        for (const auto &t : s.of_kind(Transfer::CONTROL)) {
            if (t.request == 6) {
                ++strings;
                EXPECT_EQ(t.request_type, 0x80);
                EXPECT_EQ(t.value >> 8, 3);
                EXPECT_EQ(t.index, 0x001B);
            } else if (t.value == 0x7F92) {
                cpucs.push_back(t.data.at(0));
            } else {
                EXPECT_EQ(t.value, loaded.size()) << "pieces in order from address 0";
                loaded.insert(loaded.end(), t.data.begin(), t.data.end());
            }
        }
        EXPECT_EQ(strings, c.string_requests);
        if (c.downloads) {
            EXPECT_EQ(cpucs, (std::vector<uint8_t>{1, 0})) << "halt, then run";
            EXPECT_EQ(loaded, std::vector<uint8_t>(image.begin(), image.end()));
        } else {
            EXPECT_TRUE(cpucs.empty());
            EXPECT_TRUE(loaded.empty());
        }
        usb_close(&slot);
    }
}

TEST(CusbInit, RefusedHaltPrintsItsMessageAndLeavesNoBoardOpen) {
    fakeusb::Board &s = gpfw_board();
    s.strings.clear(); // a bare chip: the request stalls
    s.refuse_cpucs = 1;
    OnFakeSeam seam;
    testing::internal::CaptureStdout();
    cusb_handle slot = nullptr;
    EXPECT_EQ(cusb_init(0, &slot, image.data(), "GPFW", "V11P"), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "i8051 halt err.\n");
    EXPECT_EQ(slot, nullptr);
}

TEST(StringDescriptor, DecodesLowBytesWithinWhatWasReceived) {
    struct Case {
        std::vector<uint8_t> bytes;
        size_t received;
        std::string text;
    };
    std::vector<uint8_t> long_one{255, 3};
    for (int i = 0; i < 128; ++i) long_one.push_back(i % 2 ? 0x01 : 'x');
    const Case cases[] = {
        {{2, 3}, 2, ""},
        {{10, 3, 'G', 0, 'P', 0, 'F', 0, 'W', 0}, 10, "GPFW"},
        {{10, 3, 'G', 0x30, 'P', 0, 'F', 0, 'W', 0}, 10, "GPFW"}, // high bytes dropped
        {{10, 3, 'G', 0, 0, 0, 'F', 0, 'W', 0}, 10, "G"},         // a zero ends the text
        {{10, 3, 'G', 0, 'P', 0, 'F', 0, 'W', 0}, 6, "GP"},       // fewer bytes than announced
        {{1, 3, 'G', 0}, 4, ""},
        {{0, 3}, 0, ""},
        {long_one, 130, std::string(64, 'x')},
    };
    for (const auto &c : cases) {
        char text[CUSB_STRING_SIZE];
        std::memset(text, '?', sizeof text);
        cusb::decode_string(c.bytes.data(), c.received, text);
        EXPECT_EQ(std::string(text), c.text);
    }
}

class OpenBoard : public ::testing::Test {
protected:
    fakeusb::Board &s = gpfw_board();
    OnFakeSeam seam;
    cusb_handle slot = nullptr;
    void SetUp() override { ASSERT_EQ(usb_open(0, &slot), 0); }
    void TearDown() override { usb_close(&slot); }
};

TEST_F(OpenBoard, BulkWritesAreCutInto32KRequestsOnThePipesEndpoint) {
    std::vector<uint8_t> data(65537);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7);
    EXPECT_EQ(usb_bulk_write(&slot, 1, data.data(), int32_t(data.size())), 0);
    EXPECT_EQ(usb_bulk_write(&slot, 1, data.data(), 0), 0);
    auto sent = s.of_kind(Transfer::BULK);
    ASSERT_EQ(sent.size(), 3u);
    std::vector<uint8_t> joined;
    for (const auto &t : sent) {
        EXPECT_EQ(t.endpoint, 0x02);
        joined.insert(joined.end(), t.data.begin(), t.data.end());
    }
    EXPECT_EQ(sent[0].data.size(), 32768u);
    EXPECT_EQ(sent[1].data.size(), 32768u);
    EXPECT_EQ(sent[2].data.size(), 1u);
    EXPECT_EQ(joined, data);
}

TEST_F(OpenBoard, BulkReadReturnsWhatArrivedAndLeavesTheRestAlone) {
    s.answer(std::vector<uint8_t>(64, 0x5A));
    std::vector<uint8_t> buffer(100, 0xEE);
    EXPECT_EQ(usb_bulk_read(&slot, 8, buffer.data(), 100), 64);
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 64), std::vector<uint8_t>(64, 0x5A));
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin() + 64, buffer.end()), std::vector<uint8_t>(36, 0xEE));
    ASSERT_EQ(s.of_kind(Transfer::BULK).size(), 1u);
    EXPECT_EQ(s.of_kind(Transfer::BULK)[0].endpoint, 0x82);
    // Nothing answers: the read fails.
    EXPECT_EQ(usb_bulk_read(&slot, 8, buffer.data(), 1), -1);
}

TEST_F(OpenBoard, PipesMapToTheInterfacesEndpointsInOrder) {
    const std::pair<uint32_t, uint8_t> pipes[] = {{0, 0x01}, {6, 0x07}, {7, 0x81}, {13, 0x87}};
    for (auto [pipe, endpoint] : pipes) {
        EXPECT_EQ(usb_resetpipe(&slot, pipe), 0);
        EXPECT_EQ(s.log.back().kind, Transfer::CLEAR_HALT);
        EXPECT_EQ(s.log.back().endpoint, endpoint);
    }
    const uint8_t byte = 0;
    EXPECT_EQ(usb_resetpipe(&slot, 14), -1);
    EXPECT_EQ(usb_bulk_write(&slot, 14, &byte, 1), -1);
}

TEST(UsbClose, ClosingTwiceOrWithoutABoardDoesNothing) {
    gpfw_board();
    OnFakeSeam seam;
    cusb_handle slot = nullptr;
    ASSERT_EQ(usb_open(0, &slot), 0);
    EXPECT_EQ(usb_close(&slot), 0);
    EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(usb_close(&slot), 0);
    const uint8_t byte = 0;
    EXPECT_EQ(usb_bulk_write(&slot, 0, &byte, 1), -1);
    char text[CUSB_STRING_SIZE];
    EXPECT_EQ(usb_get_string(&slot, 1, text), -1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(usb_halt(&slot), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "i8051 halt err.\n");
}

} // namespace
