// The .bit reader.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "devlist.h"
#include "helpers.h"
#include "xilinxbit.h"

namespace {

using vt::length_field;
using vt::preamble;
using vt::text_field;

class BitFile : public ::testing::Test {
protected:
    bitfile *open(const std::string &bytes)
    {
        vt::write_file("t.bit", bytes);
        return bitfile_open("t.bit");
    }
    vt::InTempDir cwd;
};

TEST_F(BitFile, FieldsInAnyOrderThenDataAsStored)
{
    const std::string data = vt::data_bytes(300);
    bitfile *bf = open(preamble() + text_field('d', "10:11:12") + text_field('c', "2001/02/03") +
                       text_field('b', "2s200pq208") + text_field('a', "top.ncd") + length_field(300) +
                       data);
    ASSERT_NE(bf, nullptr);
    EXPECT_STREQ(bf->net_name, "top.ncd");
    EXPECT_STREQ(bf->part_name, "2s200pq208");
    EXPECT_STREQ(bf->date, "2001/02/03");
    EXPECT_STREQ(bf->time, "10:11:12");
    EXPECT_EQ(bf->length, 300u);
    EXPECT_EQ(bf->idcode, 0x0061C093u);
    EXPECT_EQ(std::memcmp(bf->header, preamble().data(), 13), 0);
    uint8_t buf[400];
    EXPECT_EQ(bitfile_read(bf, buf, 200), 200u);
    EXPECT_EQ(bitfile_read(bf, buf + 200, 200), 100u); // end of file: fewer bytes
    EXPECT_EQ(std::memcmp(buf, data.data(), 300), 0);
    EXPECT_EQ(bitfile_read(bf, buf, 10), 0u);
    bitfile_close(bf);
}

TEST_F(BitFile, LengthFirstLeavesTextsEmptyAndAnyPreambleIsAccepted)
{
    std::string pre(13, '\x5A');
    bitfile *bf = open(pre + length_field(0x00000103) + vt::data_bytes(0x100) + "xyz");
    ASSERT_NE(bf, nullptr);
    EXPECT_STREQ(bf->net_name, "");
    EXPECT_STREQ(bf->part_name, "");
    EXPECT_STREQ(bf->date, "");
    EXPECT_STREQ(bf->time, "");
    EXPECT_EQ(bf->idcode, 0u);
    EXPECT_EQ(bf->length, 0x103u); // big-endian
    EXPECT_EQ(bf->header[0], 0x5A);
    uint8_t buf[0x103];
    EXPECT_EQ(bitfile_read(bf, buf, 0x103), 0x103u);
    EXPECT_EQ(std::memcmp(buf + 0x100, "xyz", 3), 0);
    bitfile_close(bf);
}

TEST_F(BitFile, RepeatedKeyOverwritesAndUnknownKeyIsReportedAndSkipped)
{
    testing::internal::CaptureStdout();
    bitfile *bf = open(preamble() + text_field('a', "a-much-longer-first-name") + text_field('b', "2s15tq144") +
                       text_field('f', "skip me") + text_field('\xC3', "") + text_field('c', "d1") +
                       text_field('a', "short") + length_field(4) + "DATA");
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_NE(bf, nullptr);
    EXPECT_EQ(out, "Unknown header ID 66 found\nUnknown header ID c3 found\n");
    EXPECT_STREQ(bf->net_name, "short");
    EXPECT_EQ(bf->net_name[7], '\0'); // nothing left of the longer first value
    EXPECT_STREQ(bf->part_name, "2s15tq144");
    EXPECT_STREQ(bf->date, "d1");
    EXPECT_EQ(bf->idcode, 0x00608093u);
    uint8_t buf[4];
    EXPECT_EQ(bitfile_read(bf, buf, 4), 4u);
    EXPECT_EQ(std::memcmp(buf, "DATA", 4), 0);
    bitfile_close(bf);
}

TEST_F(BitFile, FileCutShortAnywhereInTheHeaderOrDataIsRejected)
{
    const std::string full = preamble() + text_field('a', "n.ncd") + text_field('b', "2s50tq144") +
                             text_field('x', "unknown") + text_field('c', "2001/01/01") +
                             text_field('d', "00:00:00") + length_field(2) + "ab";
    testing::internal::CaptureStdout();
    for (size_t cut = 0; cut < full.size(); ++cut) {
        bitfile *bf = open(full.substr(0, cut));
        EXPECT_EQ(bf, nullptr) << "cut at " << cut;
        bitfile_close(bf);
    }
    bitfile *bf = open(full);
    testing::internal::GetCapturedStdout();
    ASSERT_NE(bf, nullptr);
    EXPECT_EQ(bf->length, 2u);
    bitfile_close(bf);
    EXPECT_EQ(bitfile_open("missing.bit"), nullptr);
}

TEST_F(BitFile, LongTextsAreCutTo63CharactersAndAlwaysEndInNul)
{
    const std::string long_name(100, 'n');
    bitfile *bf = open(preamble() + text_field('a', long_name) + text_field('b', std::string(64, 'p'), false) +
                       text_field('c', "nonul", false) + text_field('d', std::string(63, 't')) +
                       length_field(1) + "Z");
    ASSERT_NE(bf, nullptr);
    EXPECT_EQ(std::string(bf->net_name), std::string(63, 'n'));
    EXPECT_EQ(std::string(bf->part_name), std::string(63, 'p'));
    EXPECT_STREQ(bf->date, "nonul");
    EXPECT_EQ(std::string(bf->time), std::string(63, 't')); // 63 characters and NUL fit exactly
    uint8_t z = 0;
    EXPECT_EQ(bitfile_read(bf, &z, 1), 1u); // the rest of the long field was skipped
    EXPECT_EQ(z, 'Z');
    bitfile_close(bf);
}

TEST_F(BitFile, PartNameLookupIgnoresCaseAndXcAndWantsNoDigitAfterTheName)
{
    const struct {
        const char *part;
        uint32_t idcode;
    } cases[] = {
        {"2s15tq144", 0x00608093},  {"2s150pq208", 0x00618093}, {"2s100fg456", 0x00614093},
        {"v1000bg560", 0x00A40093}, {"v100pq240", 0x00A14093},  {"2s", 0},
        {"xc2s100", 0x00614093},    {"", 0},                    {"XC2S30VQ100", 0x0060C093},
        {"2S200pq208", 0x0061C093}, {"2s300epq208", 0},         {"3s100evq100", 0},
        {"xcv300ebg432", 0x00A20093}, {"xc", 0},
    };
    for (const auto &c : cases) {
        bitfile *bf = open(preamble() + text_field('b', c.part) + length_field(0));
        ASSERT_NE(bf, nullptr);
        EXPECT_EQ(bf->idcode, c.idcode) << c.part;
        EXPECT_EQ(bf->idcode, devlist_idcode_for_part(c.part));
        bitfile_close(bf);
    }
}

// The length field must be backed by data: nothing else is read or sent.
TEST_F(BitFile, DataShorterThanTheLengthFieldIsRefusedWithBothNumbers)
{
    const struct {
        uint32_t length;
        size_t present;
        bool opens;
    } cases[] = {{100, 50, false}, {0xFFFFFFFF, 10, false}, {100, 0, false}, {100, 100, true}, {100, 150, true}};
    for (const auto &c : cases) {
        vt::write_file("t.bit", preamble() + length_field(c.length) + vt::data_bytes(c.present));
        bitfile_shortfall why;
        bitfile *bf = bitfile_open_checked("t.bit", &why);
        EXPECT_EQ(bf != nullptr, c.opens) << c.length << " " << c.present;
        EXPECT_EQ(why.incomplete, !c.opens);
        if (!c.opens) {
            EXPECT_EQ(why.announced, c.length);
            EXPECT_EQ(why.present, c.present);
        }
        bitfile_close(bf);
    }
}

// The data are taken whole at open: a file rewritten in place while it is
// being sent still delivers the bitstream that was opened.
TEST_F(BitFile, DataRewrittenAfterOpenIsNotMixedIn)
{
    const std::string old_data = vt::data_bytes(20000, 1);
    vt::write_file("t.bit", preamble() + length_field(20000) + old_data);
    bitfile *bf = bitfile_open("t.bit");
    ASSERT_NE(bf, nullptr);
    std::FILE *f = std::fopen("t.bit", "r+b"); // in place, as a tool that rewrites it
    ASSERT_NE(f, nullptr);
    std::fseek(f, 1000, SEEK_SET);
    std::fwrite(vt::data_bytes(5000, 2).data(), 1, 5000, f);
    std::fclose(f);
    std::string got(20000, '\0');
    EXPECT_EQ(bitfile_read(bf, reinterpret_cast<uint8_t *>(got.data()), 20000), 20000u);
    EXPECT_EQ(got, old_data);
    bitfile_close(bf);
}

TEST(DeviceTable, DevicesOfThePartCountWhateverTheirVersionOrFamilyRow)
{
    const struct {
        const char *part;
        uint32_t device;
        bool same;
    } cases[] = {
        {"2s200pq208", 0x1061C093, true},  {"2s15tq144", 0x0061C093, false},
        {"v200bg352", 0x00A1C093, true},   {"v200bg352", 0x0061C093, true}, // Virtex-E and Virtex rows
        {"2s100tq144", 0x05025093, false}, {"", 0x00608093, false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(devlist_same_part(devlist_idcode_for_part(c.part), c.device), c.same) << c.part;
}

} // namespace
