// vokbench 8051: image formats, the --xram range, and runs of real programs
// through the command (an SDCC-built firmware, and a loop that never ends).
#include "run8051.h"

#include "support/files.h"
#include "support/process.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <stdexcept>
#include <string>

namespace bench::ezusb::test {
namespace {

TEST(Run8051, IntelHexRecords) {
    const std::string eof = ":00000001FF\n";
    struct { const char *name; std::string text; const char *error; size_t size; } cases[] = {
        {"data then end", ":0300000002000CEF\r\n\n" + eof, nullptr, 3},
        {"last ram byte", ":021B3E000102A2\n" + eof, nullptr, 0x1B40},
        {"extended address 0", ":020000040000FA\n:01001000AA45\n" + eof, nullptr, 0x11},
        {"on into the buffers' alias", ":021B3F000102A1\n" + eof, nullptr, 0x1B41},
        {"past the buffers' alias", ":021F3F0001029D\n" + eof, "outside the internal RAM", 0},
        {"past 64 KiB", ":020000040001F9\n:01001000AA45\n" + eof, "outside the internal RAM", 0},
        {"checksum", ":0300000002000CEE\n" + eof, "checksum", 0},
        {"count", ":0400000002000CEF\n" + eof, "byte count", 0},
        {"not hex", ":03000000020G0CEF\n" + eof, "not an Intel HEX record", 0},
        {"no end record", ":0300000002000CEF\n", "no end-of-file", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.error) {
            try {
                parse_intel_hex(c.text);
                ADD_FAILURE() << "accepted";
            } catch (const std::runtime_error &e) {
                EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
            }
        } else {
            std::vector<uint8_t> image = parse_intel_hex(c.text);
            EXPECT_EQ(image.size(), c.size);
        }
    }
    EXPECT_EQ(parse_intel_hex(":0300000002000CEF\n" + eof), (std::vector<uint8_t>{0x02, 0x00, 0x0C}));
}

TEST(Run8051, XramRange) {
    struct { const char *text; bool ok; uint16_t from, to; } cases[] = {
        {"0:1b3f", true, 0, 0x1B3F}, {"0x7F00:0x7f3f", true, 0x7F00, 0x7F3F}, {"ffff:FFFF", true, 0xFFFF, 0xFFFF},
        {"10:5", false, 0, 0}, {"1:", false, 0, 0}, {"10000:0", false, 0, 0}, {"g:1", false, 0, 0},
        {"5", false, 0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        uint16_t from = 1, to = 1;
        ASSERT_EQ(parse_xram_range(c.text, from, to), c.ok);
        if (c.ok) {
            EXPECT_EQ(from, c.from);
            EXPECT_EQ(to, c.to);
        }
    }
}

TEST(Run8051, SdccProgramRunsToItsSelfJump) {
    testsupport::Result r = testsupport::run(
        {VOK_BIN_DIR "/vokbench", "8051", CHECKS_IHX, "--xram", "0x1000:1007"}, "", 30);
    ASSERT_EQ(r.status, 0) << r.out;
    nlohmann::json j = nlohmann::json::parse(r.out);
    // 9! = 0x58980, 200/7, 200%7, -100/3, three timer ticks
    EXPECT_EQ(j["xram"], "808905001c04df03");
    EXPECT_EQ(j["iram"].get<std::string>().size(), 512u);
    EXPECT_EQ(j["sfr"].get<std::string>().size(), 256u);
    EXPECT_EQ(j["sfr"].get<std::string>().substr(2 * (0x81 - 0x80), 2),
              [&] { char b[3]; std::snprintf(b, 3, "%02x", j["sp"].get<int>()); return std::string(b); }());
    EXPECT_GT(j["cycles"].get<uint64_t>(), 3 * 256u * 3);  // three timer-0 periods at CLK/12
    for (const char *key : {"pc", "a", "b", "psw", "dps", "dptr0", "dptr1"}) EXPECT_TRUE(j[key].is_number()) << key;
}

TEST(Run8051, LoopWithoutSelfJumpStopsAtTheCycleLimit) {
    testsupport::TempDir dir;
    testsupport::write_file(dir / "loop.bin", std::string("\x00\x80\xFD", 3));  // NOP; SJMP 0
    testsupport::Result r = testsupport::run(
        {VOK_BIN_DIR "/vokbench", "8051", dir / "loop.bin", "--cycles", "1000", "--xram", "0:3"}, "", 30);
    ASSERT_EQ(r.status, 3) << r.out;
    nlohmann::json j = nlohmann::json::parse(r.out);
    EXPECT_GE(j["cycles"].get<uint64_t>(), 1000u);
    EXPECT_LT(j["cycles"].get<uint64_t>(), 1003u);
    EXPECT_EQ(j["xram"], "0080fd00");
}

// Debian's OpenULINK image places its USB jump table across the end of the
// program RAM: the part past 0x1B3F lands in the endpoint buffers.
TEST(Run8051, OpenUlinkImageLoadsThroughTheBufferAlias) {
    const char *image = "/usr/share/openocd/OpenULINK/ulink_firmware.hex";
    if (!std::ifstream(image)) GTEST_SKIP() << "openocd's OpenULINK firmware is not installed";
    testsupport::Result r = testsupport::run(
        {VOK_BIN_DIR "/vokbench", "8051", image, "--cycles", "100000", "--xram", "7b40:7b47"}, "", 30);
    ASSERT_EQ(r.status, 3) << r.out; // it waits for the host for ever
    nlohmann::json j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["xram"], "0201be000201bf00"); // LJMPs of the table's entries from 0x1B40
}

TEST(Run8051, UnfitImageIsRefused) {
    testsupport::TempDir dir;
    testsupport::write_file(dir / "big.bin", std::string(0x1B41, '\0'));
    testsupport::Result r = testsupport::run({VOK_BIN_DIR "/vokbench", "8051", dir / "big.bin"}, "", 30);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("does not fit"), std::string::npos) << r.out;
}

} // namespace
} // namespace bench::ezusb::test
