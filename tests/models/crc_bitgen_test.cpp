#include "bitgen.h"
#include "parts.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>

using namespace bench;

namespace {
constexpr uint32_t FLR = 11, COR = 9, MASK = 6, CMD = 4, FAR = 1, FDRI = 2;

struct TableRow {
    const char *part;
    int frame_words, type0, total_frames;
    uint32_t type2_count, bram0_hdr, bram1_hdr;
    size_t words, bytes;
    uint16_t tail_crc;
};
const TableRow table[] = {
    {"2s15", 7, 746, 874, 5229, 0x300041C7, 0x300041C0, 6178, 24712, 0xA490},
    {"2s30", 9, 1034, 1162, 9315, 0x30004249, 0x30004240, 10524, 42096, 0xC17D},
    {"2s50", 12, 1322, 1450, 15876, 0x3000430C, 0x30004300, 17475, 69900, 0xE15A},
    {"2s100", 14, 1610, 1738, 22554, 0x3000438E, 0x30004380, 24413, 97652, 0x6B97},
    {"2s150", 16, 1898, 2026, 30384, 0x30004410, 0x30004400, 32503, 130012, 0xE117},
    {"2s200", 18, 2186, 2314, 39366, 0x30004492, 0x30004480, 41745, 166980, 0x38FE},
};
} // namespace

TEST(ConfigCrc, WorkedExamples) {
    uint16_t c = 0;
    c = crc_update(c, FLR, 0x0000000B);
    EXPECT_EQ(c, 0x6E40);
    c = crc_update(c, COR, 0x00803F2D);
    EXPECT_EQ(c, 0x37D2);
    c = crc_update(c, MASK, 0);
    EXPECT_EQ(c, 0x8369);
    c = crc_update(c, CMD, 9);
    EXPECT_EQ(c, 0xBA8F);
    c = crc_update(c, FAR, 0);
    EXPECT_EQ(c, 0x7B10);
    c = crc_update(c, CMD, 1);
    EXPECT_EQ(c, 0xCE56);
    EXPECT_EQ(crc_update(0, CMD, 7), 0x3B40);
    EXPECT_EQ(crc_update(0, FDRI, 0), 0xD801);
    EXPECT_EQ(crc_update(0, CMD, 5), 0xFCC1);
}

TEST(ConfigCrc, TableMatchesBitSerialAndChecksToZero) {
    std::mt19937 rng(7);
    uint16_t a = 0, b = 0;
    for (int i = 0; i < 5000; i++) {
        uint32_t addr = rng() % 12, v = rng();
        a = crc_update(a, addr, v);
        b = crc_update_bitwise(b, addr, v);
        ASSERT_EQ(a, b) << i;
    }
    // Writing the running value to the CRC register leaves 0 behind.
    EXPECT_EQ(crc_update(a, 0, a), 0);
}

TEST(Bitgen, CountsAndHeadersMatchThePartTable) {
    for (const auto &row : table) {
        SCOPED_TRACE(row.part);
        const PartInfo *p = find_part(row.part);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->frame_words(), row.frame_words);
        EXPECT_EQ(p->type0_frames(), row.type0);
        EXPECT_EQ(p->total_frames(), row.total_frames);
        BitgenOptions o;
        o.part = row.part;
        Bitstream b = generate_bitstream(o);
        EXPECT_EQ(b.words.size(), row.words);
        EXPECT_EQ(b.data.size(), row.bytes);
        EXPECT_EQ(p->bitstream_words(), row.words);
        EXPECT_EQ(b.words[5], uint32_t(row.frame_words - 1)); // FLR
        EXPECT_EQ(b.words[16], 0x30004000u);
        EXPECT_EQ(b.words[17], 0x50000000u | row.type2_count);
        size_t after = 18 + row.type2_count;
        EXPECT_EQ(b.words[after], 0x30002001u);
        EXPECT_EQ(b.words[after + 1], 0x02000000u);
        EXPECT_EQ(b.words[after + 2], row.bram0_hdr);
        size_t col1 = after + 3 + 65 * size_t(row.frame_words);
        EXPECT_EQ(b.words[col1 + 1], 0x02020000u);
        EXPECT_EQ(b.words[col1 + 2], row.bram1_hdr);
        // Tail: CRC, LFRM, flush frame, START, CTL, CRC, four zero words.
        size_t n = b.words.size();
        EXPECT_EQ(b.words[n - 6], 0x30000001u);
        EXPECT_EQ(b.words[n - 5], uint32_t(row.tail_crc));
        EXPECT_EQ(b.words[n - 9], 5u); // START
        for (size_t i = n - 4; i < n; i++)
            EXPECT_EQ(b.words[i], 0u);
    }
}

TEST(Bitgen, StandardLayoutOfTheXc2s50) {
    Bitstream b = generate_bitstream(BitgenOptions{.part = "2s50", .startup_jtag = false});
    const uint32_t head[] = {0xFFFFFFFF, 0xAA995566, 0x30008001, 7, 0x30016001, 0xB, 0x30012001, 0x00803F2D,
                             0x3000C001, 0,          0x30008001, 9, 0x30002001, 0,   0x30008001, 1,
                             0x30004000, 0x50003E04};
    for (size_t i = 0; i < std::size(head); i++)
        EXPECT_EQ(b.words[i], head[i]) << i;
    EXPECT_EQ(b.words[15894], 0x30002001u);
    EXPECT_EQ(b.words[15896], 0x3000430Cu);
    EXPECT_EQ(b.words[16679], 0x30004300u);
    EXPECT_EQ(b.words[17448], 0x30000001u);
    EXPECT_EQ(b.words[17450], 0x30008001u);
    EXPECT_EQ(b.words[17451], 3u);
    EXPECT_EQ(b.words[17452], 0x3000400Cu);
    EXPECT_EQ(b.words[17465], 0x30008001u);
    EXPECT_EQ(b.words[17467], 0x3000A001u);
    EXPECT_EQ(b.words[17469], 0x30000001u);
    EXPECT_EQ(b.words[17470], 0xE15Au);
    // The pad frame after the last block-0 frame is all zeros.
    for (size_t i = 18 + 1322 * 12; i < 18 + 1323 * 12; i++)
        EXPECT_EQ(b.words[i], 0u);
}

TEST(Bitgen, SeedStartupAndCorruptOptions) {
    BitgenOptions o{.part = "2s15"};
    Bitstream a = generate_bitstream(o);
    EXPECT_EQ(a.words[7], cor_startup_jtag);
    // The frame contents of seed 1, pinned so that a change of the generator shows.
    EXPECT_EQ(a.digest, 0x002A2DA43827C05Full);
    o.seed = 2;
    Bitstream s = generate_bitstream(o);
    EXPECT_NE(s.digest, a.digest);
    EXPECT_NE(s.words[100], a.words[100]);
    o.seed = 1;
    o.corrupt_word = 100;
    Bitstream c = generate_bitstream(o);
    size_t diffs = 0;
    for (size_t i = 0; i < a.words.size(); i++)
        diffs += a.words[i] != c.words[i];
    EXPECT_EQ(diffs, 1u);
    EXPECT_EQ(c.words[100], a.words[100] ^ 1);
    o.corrupt_word = long(a.words.size());
    EXPECT_THROW(generate_bitstream(o), std::invalid_argument);
    EXPECT_THROW(generate_bitstream(BitgenOptions{.part = "2s400"}), std::invalid_argument);
}

TEST(Bitgen, BitFileHeaderFields) {
    BitgenOptions o{.part = "2s200", .design = "top.ncd", .date = "2026/12/08", .time = "01:02:03"};
    Bitstream b = generate_bitstream(o);
    const std::vector<uint8_t> &f = b.file;
    const uint8_t pre[] = {0x00, 0x09, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F, 0xF0, 0x00, 0x00, 0x01};
    ASSERT_GT(f.size(), 13u);
    EXPECT_TRUE(std::equal(std::begin(pre), std::end(pre), f.begin()));
    size_t pos = 13;
    std::string fields[4];
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(f[pos], 'a' + i);
        size_t len = size_t(f[pos + 1]) << 8 | f[pos + 2];
        EXPECT_EQ(f[pos + 3 + len - 1], 0); // the NUL is counted
        fields[i] = std::string(reinterpret_cast<const char *>(&f[pos + 3]), len - 1);
        pos += 3 + len;
    }
    EXPECT_EQ(fields[0], "top.ncd");
    EXPECT_EQ(fields[1], "2s200pq208");
    EXPECT_EQ(fields[2], "2026/12/08");
    EXPECT_EQ(fields[3], "01:02:03");
    EXPECT_EQ(f[pos], 'e');
    uint32_t n = uint32_t(f[pos + 1]) << 24 | uint32_t(f[pos + 2]) << 16 | uint32_t(f[pos + 3]) << 8 | f[pos + 4];
    EXPECT_EQ(n, 166980u);
    EXPECT_EQ(f.size(), pos + 5 + n);
    EXPECT_TRUE(std::equal(b.data.begin(), b.data.end(), f.begin() + long(pos + 5)));
}

TEST(Mkbit, WritesTheFileAndRejectsBadArguments) {
    std::string path = ::testing::TempDir() + "mkbit_test.bit";
    std::string part = "2s30", seed = "5", corrupt = "40";
    std::vector<std::string> args = {"--part", part, "-o", path, "--startup", "cclk", "--seed", seed};
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    ASSERT_EQ(mkbit_command(int(argv.size()), argv.data()), 0);
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    BitgenOptions o{.part = "2s30", .startup_jtag = false, .seed = 5};
    EXPECT_EQ(got, generate_bitstream(o).file);
    std::remove(path.c_str());

    auto run = [](std::vector<std::string> a) {
        std::vector<char *> v;
        for (auto &s : a)
            v.push_back(s.data());
        return mkbit_command(int(v.size()), v.data());
    };
    EXPECT_EQ(run({"--part", "2s30"}), 2);                             // no output
    EXPECT_EQ(run({"--part", "2s99", "-o", path}), 2);                 // unknown part
    EXPECT_EQ(run({"--part", "2s30", "-o", path, "--startup", "x"}), 2);
    EXPECT_EQ(run({"--part", "2s30", "-o", path, "--seed", "abc"}), 2);
    EXPECT_EQ(run({"--part", "2s30", "-o", path, "--corrupt", "-3"}), 2);
    EXPECT_EQ(run({"--part", "2s30", "-o", path, "--corrupt", "99999"}), 2);
    EXPECT_EQ(run({"--part", "2s30", "-o", path, "--bogus"}), 2);
    EXPECT_EQ(run({"--part", "2s30", "-o", "/nonexistent-dir/x.bit"}), 1);
    EXPECT_EQ(run({"--part", "2s30", "-o", path, "--corrupt", corrupt}), 0);
    {
        std::ifstream f(path, std::ios::binary);
        std::vector<uint8_t> corrupted((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        EXPECT_EQ(corrupted, generate_bitstream({.part = "2s30", .corrupt_word = 40}).file);
        EXPECT_NE(corrupted, generate_bitstream({.part = "2s30"}).file);
    }
    std::remove(path.c_str());

    // Numbers are decimal, or hexadecimal with 0x; a leading zero is not octal.
    auto file_for_seed = [&](const std::string &word) {
        EXPECT_EQ(run({"--part", "2s15", "-o", path, "--seed", word}), 0);
        std::ifstream f(path, std::ios::binary);
        return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    };
    EXPECT_EQ(file_for_seed("010"), generate_bitstream({.part = "2s15", .seed = 10}).file);
    EXPECT_EQ(file_for_seed("0x10"), generate_bitstream({.part = "2s15", .seed = 16}).file);
    std::remove(path.c_str());
}
