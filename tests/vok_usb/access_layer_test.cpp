// The EZ-USB access layer against a scripted board behind the USB seam.
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ezusb.h"
#include "support/fake_usb.h"
#include "usb.h"

namespace {

using fakeusb::Bytes;
using fakeusb::Transfer;

Bytes test_image() {
    Bytes image(ezusb::IMAGE_SIZE);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 7 + 3);
    return image;
}

// A board that runs our firmware, which echoes on EP2 IN what EP4 OUT takes; a
// bare board renumerates with the firmware's strings after two failed opens.
fakeusb::Board &fresh_board() {
    fakeusb::Board &b = fakeusb::reset();
    b.strings = b.firmware_strings = {"JTAG", "V009"};
    b.away_after_run = 2;
    b.responder = [](uint8_t endpoint, const Bytes &written) { return endpoint == 0x04 ? written : Bytes{}; };
    return b;
}

class AccessLayer : public ::testing::Test {
protected:
    void SetUp() override { fresh_board(); }
    void TearDown() override { ezusb_close(); }

    int init(std::string *out = nullptr) {
        testing::internal::CaptureStdout();
        int rc = ezusb_init(0, image.data(), "JTAG", "V009");
        std::string text = testing::internal::GetCapturedStdout();
        if (out)
            *out = text;
        return rc;
    }
    static int count_controls(uint8_t request) {
        int n = 0;
        for (const auto &c : fakeusb::board().of_kind(Transfer::CONTROL))
            n += c.request == request;
        return n;
    }
    Bytes image = test_image();
};

TEST_F(AccessLayer, BoardRunningTheFirmwareIsNotDownloaded) {
    std::string out;
    EXPECT_EQ(init(&out), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(count_controls(6), 2);
    EXPECT_EQ(count_controls(0xA0), 0);
    EXPECT_TRUE(fakeusb::board().waits.empty());
    for (const auto &c : fakeusb::board().of_kind(Transfer::CONTROL))
        EXPECT_EQ(c.index, 0x001B) << "language ID of the string requests";
}

TEST_F(AccessLayer, BareBoardIsLoadedAndComesBack) {
    fakeusb::Board &b = fresh_board();
    b.strings.clear();
    b.away_after_run = 3;
    std::string out;
    EXPECT_EQ(init(&out), 0);
    EXPECT_EQ(out, "-Boot-Wait....-Reconnect");
    EXPECT_EQ(b.waits, (std::vector<unsigned>{1500, 50, 50, 50, 500}));

    // Halt, the image in pieces from address 0, run.
    Bytes ram(ezusb::IMAGE_SIZE, 0);
    std::vector<int> cpucs;
    for (const auto &c : b.of_kind(Transfer::CONTROL)) {
        if (c.request != 0xA0)
            continue;
        EXPECT_EQ(c.request_type, 0x40);
        if (c.value == 0x7F92) {
            cpucs.push_back(c.data.at(0));
            continue;
        }
        EXPECT_EQ(cpucs, std::vector<int>{1}) << "RAM written while the 8051 does not halt";
        ASSERT_LE(c.value + c.data.size(), ram.size());
        std::copy(c.data.begin(), c.data.end(), ram.begin() + c.value);
    }
    EXPECT_EQ(cpucs, (std::vector<int>{1, 0}));
    EXPECT_EQ(ram, image);
}

TEST_F(AccessLayer, FirmwareLeavingTheBusAtOnceCountsAsRunning) {
    for (int error : {vokhw::USB_ERROR_NO_DEVICE, vokhw::USB_ERROR_IO, vokhw::USB_ERROR_PIPE}) {
        SCOPED_TRACE(error);
        fakeusb::Board &b = fresh_board();
        b.strings.clear();
        b.run_leaves_bus = true;
        b.cpucs_error = error;
        std::string out;
        EXPECT_EQ(init(&out), 0);
        EXPECT_EQ(out, "-Boot-Wait...-Reconnect");
        ezusb_close();
    }
}

TEST_F(AccessLayer, BoardIsFollowedByItsPlaceWhileItIsAway) {
    fakeusb::Board &b = fresh_board();
    b.strings.clear();
    b.neighbour = true; // while ours is away, board 0 is the one behind it
    std::string out;
    EXPECT_EQ(init(&out), 0);
    EXPECT_EQ(out, "-Boot-Wait...-Reconnect");
    EXPECT_EQ(b.neighbour_requests, 0) << "the neighbour was taken for our board";
    EXPECT_EQ(b.strings, (std::vector<std::string>{"JTAG", "V009"}));
}

TEST_F(AccessLayer, BoardBehindARenumeratingOneIsWaitedFor) {
    fakeusb::Board &b = fresh_board();
    b.strings.clear();
    b.neighbour = true; // board 1, behind ours, which is away for three looks
    b.present = false;
    b.away_opens = 3;
    testing::internal::CaptureStdout();
    ezusb_init(1, image.data(), "JTAG", "V009");
    testing::internal::GetCapturedStdout();
    EXPECT_GT(b.neighbour_requests, 0) << "board 1 was given up while board 0 was away";
    ASSERT_GE(b.waits.size(), 3u);
    EXPECT_EQ(std::vector<unsigned>(b.waits.begin(), b.waits.begin() + 3), (std::vector<unsigned>{100, 100, 100}));
}

TEST_F(AccessLayer, InitFailures) {
    struct Case {
        const char *what;
        void (*arrange)(fakeusb::Board &);
        const char *out;
        size_t waits;
        const char *reason;
    } cases[] = {
        {"no board", [](fakeusb::Board &b) { b.present = false, b.away_opens = 1000; }, "", 0,
         "no board 0 in this test"},
        {"halt refused", [](fakeusb::Board &b) { b.strings[1] = "V008", b.refuse_cpucs = 1; },
         "-Booti8051 halt err.\n", 0, "the 8051 of EZ-USB board 0 cannot be halted: stall"},
        {"download refused", [](fakeusb::Board &b) { b.strings.clear(), b.refuse_download = true; },
         "-Bootusb dwnload err.\n", 0, "the firmware cannot be written into EZ-USB board 0: stall"},
        {"run refused",
         [](fakeusb::Board &b) {
             b.strings.clear(), b.refuse_cpucs = 0, b.cpucs_error = vokhw::USB_ERROR_TIMEOUT;
         },
         "-Booti8051 run err.\n", 0, "the 8051 of EZ-USB board 0 cannot be started: error"},
        {"never comes back",
         [](fakeusb::Board &b) { b.strings.clear(), b.away_after_run = 1000; },
         nullptr, 200,
         "EZ-USB board 0 did not come back after the firmware download (no board at 1-1)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        fakeusb::Board &b = fresh_board();
        c.arrange(b);
        std::string out;
        EXPECT_EQ(init(&out), -1);
        if (c.out) {
            EXPECT_EQ(out, c.out);
        }
        EXPECT_EQ(b.waits.size(), c.waits);
        EXPECT_EQ(b.opens - b.closes, 0) << "a handle stays open";
        EXPECT_STREQ(ezusb::failure_reason(), c.reason);
    }
}

TEST_F(AccessLayer, SecondStringDifferingLoadsTheFirmware) {
    fakeusb::board().strings[1] = "V008";
    std::string out;
    EXPECT_EQ(init(&out), 0);
    EXPECT_EQ(out.substr(0, 5), "-Boot");
}

TEST_F(AccessLayer, WritesAreSplitAt32768Bytes) {
    ASSERT_EQ(init(), 0);
    Bytes data(2 * 32768 + 14464, 0x55);
    EXPECT_EQ(ezusb_bulk_write(1, data.data(), static_cast<int32_t>(data.size())), 0);
    EXPECT_EQ(ezusb_bulk_write(1, data.data(), 0), 0);
    std::vector<size_t> sizes;
    for (const Bytes &b : fakeusb::board().sent(0x02))
        sizes.push_back(b.size());
    EXPECT_EQ(sizes, (std::vector<size_t>{32768, 32768, 14464}));
}

TEST_F(AccessLayer, WriteThatMovesNothingFails) {
    ASSERT_EQ(init(), 0);
    fakeusb::board().zero_count_writes = true;
    uint8_t byte = 1;
    EXPECT_EQ(ezusb_bulk_write(0, &byte, 1), -1);
}

TEST_F(AccessLayer, ReadPendingWhileTheWriteGoes) {
    ASSERT_EQ(init(), 0);
    Bytes sent(70000), got(70000, 0);
    for (size_t i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<uint8_t>(i);
    EXPECT_NE(ezusb_bulk_read(8, got.data(), static_cast<int32_t>(got.size())), 0);
    EXPECT_EQ(ezusb_bulk_write(3, sent.data(), static_cast<int32_t>(sent.size())), 0);
    EXPECT_EQ(ezusb_bulk_read_left(1), 0);
    EXPECT_EQ(got, sent);
}

TEST_F(AccessLayer, ReadFailureStaysLatched) {
    ASSERT_EQ(init(), 0);
    fakeusb::board().fail_reads = true;
    uint8_t byte;
    ezusb_bulk_read(8, &byte, 1);
    EXPECT_EQ(ezusb_bulk_read_left(1), -1);
    size_t requests = fakeusb::board().of_kind(Transfer::BULK).size();
    fakeusb::board().fail_reads = false;
    EXPECT_EQ(ezusb_bulk_read(8, &byte, 1), -1);
    EXPECT_EQ(ezusb_bulk_read_left(1), -1);
    EXPECT_EQ(fakeusb::board().of_kind(Transfer::BULK).size(), requests) << "a read was started";
}

TEST_F(AccessLayer, ReadNotAnsweredInTimeIsCancelledAndFails) {
    ASSERT_EQ(init(), 0);
    uint8_t buffer[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    ezusb_bulk_read(8, buffer, 4);
    EXPECT_EQ(ezusb_bulk_read_left(0), 4);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ezusb_bulk_read_left(1), -1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4900));
    EXPECT_GE(fakeusb::board().cancels, 1);
    // Bytes arriving now must not reach the caller's buffer.
    fakeusb::board().answer({1, 2, 3, 4});
    EXPECT_EQ(ezusb_bulk_read_left(1), -1);
    EXPECT_EQ(buffer[0], 0xEE);
}

TEST_F(AccessLayer, DrainDropsStaleAnswersBeforeTheFirstRead) {
    ASSERT_EQ(init(), 0);
    fakeusb::board().answer(Bytes(100, 0x77)); // left by a run that was killed
    EXPECT_EQ(ezusb::drain(8), 100);
    EXPECT_EQ(ezusb::drain(3), -1) << "an OUT pipe has nothing to drain";
    Bytes sent{1, 2, 3}, got(3, 0);
    ezusb_bulk_read(8, got.data(), 3);
    EXPECT_EQ(ezusb_bulk_write(3, sent.data(), 3), 0);
    EXPECT_EQ(ezusb_bulk_read_left(1), 0);
    EXPECT_EQ(got, sent);
}

TEST_F(AccessLayer, CloseEndsTheThreadAndTheHandle) {
    struct Case {
        const char *what;
        bool read_pending;
    } cases[] = {{"right after init", false}, {"with a read pending", true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        ASSERT_EQ(init(), 0);
        uint8_t byte;
        if (c.read_pending)
            ezusb_bulk_read(8, &byte, 1);
        EXPECT_EQ(ezusb_close(), 1);
        EXPECT_EQ(fakeusb::board().opens, fakeusb::board().closes);
        EXPECT_EQ(ezusb_close(), 0);
        EXPECT_EQ(ezusb_bulk_write(0, &byte, 1), -1);
        EXPECT_EQ(ezusb_bulk_read_left(1), -1);
    }
}

TEST_F(AccessLayer, ExitWithoutCloseEndsTheThreadCleanly) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            testing::internal::CaptureStdout();
            if (ezusb_init(0, image.data(), "JTAG", "V009") == 0)
                std::exit(0);
            std::exit(3);
        },
        testing::ExitedWithCode(0), "");
}

TEST(AccessLayerParts, StringDecoding) {
    struct Case {
        const char *what;
        Bytes answer;
        int received;
        const char *text;
    } cases[] = {
        {"empty", {2, 3}, 2, ""},
        {"four characters", {10, 3, 'J', 0, 'T', 0, 'A', 0, 'G', 0}, 10, "JTAG"},
        {"only the low byte", {6, 3, 'A', 1, 'B', 0}, 6, "AB"},
        {"fewer bytes received than announced", {10, 3, 'J', 0, 'T', 0}, 6, "JT"},
        {"odd count received", {10, 3, 'J', 0, 'T'}, 5, "J"},
        {"length below 2", {1, 3}, 2, ""},
        {"nothing received", {}, 0, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes answer = c.answer;
        answer.resize(ezusb::STRING_ANSWER, 'X');
        char text[ezusb::STRING_ANSWER];
        ezusb::decode_string(answer.data(), c.received, text, sizeof text);
        EXPECT_STREQ(text, c.text);
    }
}

TEST(AccessLayerParts, EndpointsOfInterfaceZeroInOrder) {
    const Bytes config = {9, 2, 46, 0, 2, 1, 0, 0x80, 50,
                          9, 4, 0, 0, 2, 0xFF, 0, 0, 0,
                          7, 5, 0x02, 2, 64, 0, 0,
                          7, 5, 0x86, 2, 64, 0, 0,
                          9, 4, 1, 0, 1, 0xFF, 0, 0, 0,
                          7, 5, 0x03, 2, 64, 0, 0};
    uint8_t endpoints[8];
    ASSERT_EQ(ezusb::endpoint_list(config.data(), static_cast<int>(config.size()), endpoints, 8), 2);
    EXPECT_EQ(endpoints[0], 0x02);
    EXPECT_EQ(endpoints[1], 0x86);
    // A descriptor cut short ends the list.
    EXPECT_EQ(ezusb::endpoint_list(config.data(), 28, endpoints, 8), 1);
}

} // namespace
