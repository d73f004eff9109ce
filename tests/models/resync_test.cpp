#include "bitgen.h"
#include "jtag_driver.h"
#include "spartan2.h"
#include "target.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

using namespace bench;
using testjtag::Driver;

namespace {

// A loader that sends each CFG_IN sequence as its own scan behind a device in
// BYPASS: the first scan synchronises and resets the CRC, the second carries two
// zero words and the bitstream from its sync word on, after `lead` extra bits (the
// bypass bit captures 0). One bit late, the word that ends inside the sync word
// reads as a type-2 write header.
bool configure_in_two_scans(const char *chain_word, int lead, const Bitstream &b) {
    Target t(parse_chain(chain_word));
    t.elapse_ns(1000000);
    Driver d(t);
    d.reset();
    d.instruction(0, Spartan2::CFG_IN);
    d.shift_words(0, {0xFFFFFFFF, Spartan2::SYNC_WORD, 0x30008001, 7});
    std::vector<bool> bits(size_t(lead) + 64, false);
    auto sync = std::find(b.words.begin(), b.words.end(), Spartan2::SYNC_WORD);
    for (auto w = sync; w != b.words.end(); ++w)
        for (int i = 31; i >= 0; i--)
            bits.push_back((*w >> i) & 1);
    d.instruction(0, Spartan2::CFG_IN);
    d.scan(false, bits);
    d.instruction(0, Spartan2::JSTART);
    d.idle(16);
    const Spartan2 *f = t.spartan(0);
    return f->configured() && f->digest() == b.digest && f->crc_errors() == 0;
}

} // namespace

TEST(Resync, SyncWordRealignsALaterScanAtAnyOffsetUnlessStrict) {
    BitgenOptions o;
    o.part = "2s15";
    const Bitstream b = generate_bitstream(o);
    for (int lead : {1, 2, 7, 16, 31}) {
        SCOPED_TRACE(lead);
        EXPECT_TRUE(configure_in_two_scans("2s15", lead, b));
        EXPECT_TRUE(configure_in_two_scans("2s15+strict_sync=0", lead, b));
        EXPECT_FALSE(configure_in_two_scans("2s15+strict_sync=1", lead, b));
    }
    // Word-aligned scans configure either way.
    EXPECT_TRUE(configure_in_two_scans("2s15+strict_sync=1", 0, b));
}

TEST(Resync, SyncPatternInsideFrameDataIsData) {
    Spartan2Settings s;
    s.clear_ns = 0;
    Spartan2 f(*find_part("2s15"), s);
    const uint32_t fw = uint32_t(f.part().frame_words());
    // The pattern at bit offsets 16, 0 and 8 of the frame.
    std::vector<uint32_t> frame = {0x0000AA99, 0x5566FFFF, Spartan2::SYNC_WORD, 0x12AA9955, 0x66000000};
    frame.resize(fw, 0);
    for (uint32_t w : {0xFFFFFFFFu, Spartan2::SYNC_WORD, 0x30008001u, 7u, 0x30016001u, fw - 1, 0x30002001u,
                       0u, 0x30008001u, 1u, 0x30004000u | (2 * fw)})
        f.feed_word(w);
    for (uint32_t w : frame)
        f.feed_word(w);
    for (uint32_t i = 0; i < fw; i++)
        f.feed_word(0); // a pad frame pushes the first one into the array
    // Still in step: the next header is taken as a header.
    f.feed_word(0x30002001);
    f.feed_word(far_value(0, 1, 0));
    EXPECT_EQ(f.frames().address(), far_value(0, 1, 0));
    EXPECT_EQ(f.frames_written(), 1u);
    const std::vector<uint32_t> &mem = f.frames().words();
    EXPECT_EQ(std::vector<uint32_t>(mem.begin(), mem.begin() + fw), frame);
}

TEST(Resync, PartWordSettings) {
    EXPECT_TRUE(parse_chain("2s100:v1+strict_sync=1")[0].strict_sync);
    EXPECT_FALSE(parse_chain("2s100")[0].strict_sync);
    Target t(parse_chain("18v02,2s100+strict_sync=1"));
    EXPECT_TRUE(t.spartan(1)->settings().strict_sync);
    for (const char *bad : {"2s100+strict_sync=2", "2s100+resync=1", "2s100+", "18v02+strict_sync=1"})
        EXPECT_THROW(parse_chain(bad), std::invalid_argument) << bad;
}
