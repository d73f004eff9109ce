#include "bitgen.h"
#include "jtag_driver.h"
#include "spartan2.h"
#include "target.h"

#include <gtest/gtest.h>

using namespace bench;
using testjtag::Driver;
using testjtag::value_of;

namespace {

// Loads a bitstream into the device at `index` through CFG_IN and runs JSTART
// with `jstart_clocks` TCKs in Run-Test/Idle.
void configure_jtag(Target &t, size_t index, const Bitstream &b, int jstart_clocks = 16) {
    t.elapse_ns(1000000); // a loader starts well after power-on
    Driver d(t);
    d.reset();
    d.instruction(index, Spartan2::CFG_IN);
    d.shift_bytes(index, b.data.data(), b.data.size());
    d.instruction(index, Spartan2::JSTART);
    d.idle(jstart_clocks);
}

// Shifts `packets` through CFG_IN, then reads `count` words through CFG_OUT.
std::vector<uint32_t> read_back(Target &t, size_t index, const std::vector<uint32_t> &packets, size_t count) {
    Driver d(t);
    d.reset();
    d.instruction(index, Spartan2::CFG_IN);
    d.shift_words(index, packets);
    d.instruction(index, Spartan2::CFG_OUT);
    // TDO-side devices in BYPASS add one bit each, then one leading bit.
    auto out = d.scan(false, std::vector<bool>(index + 1 + 32 * count, false));
    std::vector<uint32_t> words(count, 0);
    for (size_t i = 0; i < 32 * count; i++)
        words[i / 32] = (words[i / 32] << 1) | uint32_t(out[index + 1 + i]);
    return words;
}

// Reads the status word: a STAT read packet through CFG_IN, then CFG_OUT.
uint32_t read_status(Target &t, size_t index) { return read_back(t, index, {0x2800E001, 0x00000000}, 1)[0]; }

uint32_t ir_capture(Target &t, size_t index) {
    Driver d(t);
    d.reset();
    std::vector<uint32_t> all(t.size(), 0xFFFFFFFF);
    auto cap = d.load_ir(all);
    size_t pos = 0;
    for (size_t i = 0; i < index; i++)
        pos += size_t(t.device(i)->ir_len());
    return uint32_t(value_of(cap, pos, 5));
}

Bitstream make(const char *part, bool jtag = true, uint64_t seed = 1, long long corrupt = -1) {
    BitgenOptions o;
    o.part = part;
    o.startup_jtag = jtag;
    o.seed = seed;
    o.corrupt_word = corrupt;
    return generate_bitstream(o);
}

// The engine's shut-down: COR with SHUTDOWN and the JTAG clock, START, RCRC;
// JSTART with 16 bits in Shift-DR; then AGHIGH and the default COR.
void shutdown_jtag(Target &t, size_t index) {
    Driver d(t);
    d.reset();
    d.instruction(index, Spartan2::CFG_IN);
    d.shift_words(index, {0x30008001, 9, 0x30012001, 0x00A0BF2D, 0x30008001, 5, 0x30008001, 7, 0});
    d.instruction(index, Spartan2::JSTART);
    d.scan(false, std::vector<bool>(16, false));
    d.instruction(index, Spartan2::CFG_IN);
    d.shift_words(index, {0x30008001, 8, 0x30012001, 0x00803F2D, 0});
}

} // namespace

TEST(JtagConfiguration, EveryPartConfiguresWithTheBitstreamDigest) {
    for (const auto &p : spartan2_parts()) {
        SCOPED_TRACE(p.name);
        Target t(parse_chain(p.name));
        Spartan2 *f = t.spartan(0);
        ASSERT_NE(f, nullptr);
        Bitstream b = make(p.name, true, 11);
        EXPECT_EQ(ir_capture(t, 0), 0x11u); // INIT low: the memory still clears
        t.elapse_ns(f->settings().clear_ns);
        EXPECT_EQ(ir_capture(t, 0), 0x19u); // PROGRAM, INIT high; DONE low
        configure_jtag(t, 0, b);
        EXPECT_TRUE(f->configured());
        EXPECT_TRUE(f->done_pin());
        EXPECT_TRUE(f->init_pin());
        EXPECT_FALSE(f->packets().crc_error());
        EXPECT_EQ(f->crc_errors(), 0u);
        EXPECT_EQ(f->configurations(), 1u);
        EXPECT_EQ(f->frames_written(), uint64_t(p.total_frames()));
        EXPECT_EQ(f->digest(), b.digest);
        EXPECT_EQ(f->frames().words(), frame_image(p, 11));
        EXPECT_EQ(f->status_word(), 0x7740u); // DONE, INIT, mode 101, GHIGH_B, GSR_B, GTS_CFG
        EXPECT_EQ(read_status(t, 0), 0x7740u);
        EXPECT_EQ(ir_capture(t, 0), 0x1Du);
    }
}

TEST(JtagConfiguration, ThroughPromsOnBothSidesWithVersionField) {
    Target t(parse_chain("18v02,2s200:v1,18v04"));
    Bitstream b = make("2s200", true, 3);
    configure_jtag(t, 1, b);
    Spartan2 *f = t.spartan(1);
    EXPECT_EQ(f->idcode(), 0x1061C093u);
    EXPECT_TRUE(f->configured());
    EXPECT_EQ(f->digest(), b.digest);
    EXPECT_EQ(read_status(t, 1), f->status_word());
    EXPECT_EQ(read_status(t, 1) & 0x4000u, 0x4000u);
}

TEST(JtagConfiguration, StartupEventsAtTheirCorCycles) {
    Target t(parse_chain("2s15"));
    Spartan2 *f = t.spartan(0);
    Bitstream b = make("2s15");
    t.elapse_ns(1000000);
    Driver d(t);
    d.reset();
    d.instruction(0, Spartan2::CFG_IN);
    d.shift_bytes(0, b.data.data(), b.data.size());
    EXPECT_TRUE(f->sequencer().running());
    EXPECT_FALSE(f->done_pin());
    // Loading JSTART ends with one TCK (Update-IR to Run-Test/Idle) already counted.
    d.instruction(0, Spartan2::JSTART);
    EXPECT_EQ(f->jstart_clocks(), 1u);
    d.idle(2); // cycle 3
    EXPECT_FALSE(f->done_pin());
    d.idle(1); // cycle 4: DONE
    EXPECT_TRUE(f->done_pin());
    EXPECT_FALSE(f->sequencer().gts_released());
    d.idle(1); // cycle 5: GTS
    EXPECT_TRUE(f->sequencer().gts_released());
    EXPECT_FALSE(f->sequencer().gwe_enabled());
    EXPECT_FALSE(f->sequencer().gsr_released());
    d.idle(1); // cycle 6: GWE, GSR
    EXPECT_TRUE(f->sequencer().gwe_enabled());
    EXPECT_TRUE(f->sequencer().gsr_released());
    d.idle(2);
    EXPECT_FALSE(f->sequencer().running());
    EXPECT_EQ(f->configurations(), 1u);
}

TEST(JtagConfiguration, CorruptedWordGivesCrcErrorAndInitLow) {
    for (long long word : {100LL, 5LL /* the FLR value */}) {
        SCOPED_TRACE(word);
        Target t(parse_chain("2s50"));
        Spartan2 *f = t.spartan(0);
        Bitstream b = make("2s50", true, 1, word);
        configure_jtag(t, 0, b);
        EXPECT_TRUE(f->packets().crc_error());
        EXPECT_GE(f->crc_errors(), 1u);
        EXPECT_FALSE(f->configured());
        EXPECT_FALSE(f->done_pin());
        EXPECT_FALSE(f->init_pin());
        EXPECT_EQ(f->configurations(), 0u);
        uint32_t s = read_status(t, 0);
        EXPECT_EQ(s & 1u, 1u);
        EXPECT_EQ(s & 0x6000u, 0u); // DONE and INIT low
        EXPECT_EQ(ir_capture(t, 0), 0x11u);
        // Only PROGRAM recovers.
        t.set_serial(false, false, false);
        t.set_serial(true, false, false);
        t.elapse_ns(f->settings().clear_ns);
        EXPECT_FALSE(f->packets().crc_error());
        EXPECT_TRUE(f->init_pin());
    }
}

TEST(JtagConfiguration, CclkStartupDoesNotStartOverJtag) {
    Target t(parse_chain("2s100"));
    Spartan2 *f = t.spartan(0);
    Bitstream b = make("2s100", false);
    configure_jtag(t, 0, b, 100);
    EXPECT_FALSE(f->packets().crc_error());
    EXPECT_EQ(f->digest(), b.digest); // the frames arrived
    EXPECT_FALSE(f->done_pin());
    EXPECT_FALSE(f->configured());
    EXPECT_EQ(read_status(t, 0) & 0x4000u, 0u);
    // CCLK is the start-up clock this bitstream asks for.
    for (int i = 0; i < 8; i++) {
        t.set_serial(true, false, true);
        t.set_serial(true, true, true);
    }
    EXPECT_TRUE(f->configured());
}

TEST(JtagConfiguration, ShutdownThenReconfigure) {
    Target t(parse_chain("2s100,18v02"));
    Spartan2 *f = t.spartan(0);
    Bitstream first = make("2s100", true, 1), second = make("2s100", true, 2);
    configure_jtag(t, 0, first);
    ASSERT_TRUE(f->configured());
    shutdown_jtag(t, 0);
    EXPECT_FALSE(f->configured());
    EXPECT_FALSE(f->done_pin());
    EXPECT_FALSE(f->sequencer().gts_released());
    EXPECT_FALSE(f->sequencer().gwe_enabled());
    EXPECT_FALSE(f->sequencer().gsr_released());
    uint32_t s = read_status(t, 0);
    EXPECT_EQ(s & 0x43C0u, 0x0080u); // DONE low, GHIGH asserted, GSR held, GWE disabled, I/Os 3-stated
    EXPECT_EQ(s & 0x2000u, 0x2000u); // INIT stays high
    configure_jtag(t, 0, second);
    EXPECT_TRUE(f->configured());
    EXPECT_EQ(f->digest(), second.digest);
    EXPECT_EQ(f->configurations(), 2u);
    EXPECT_EQ(f->crc_errors(), 0u);
}

TEST(JtagConfiguration, UnsyncedDeviceIgnoresPacketsAndReadsZero) {
    Target t(parse_chain("2s30"));
    t.elapse_ns(1000000);
    shutdown_jtag(t, 0);
    EXPECT_FALSE(t.spartan(0)->packets().synced());
    EXPECT_EQ(read_status(t, 0), 0u);
}

TEST(JtagConfiguration, InputIgnoredWhileTheMemoryClears) {
    Target t(parse_chain("2s15"));
    Spartan2 *f = t.spartan(0);
    f->set_clear_ns(1000000000); // longer than the load
    t.set_serial(false, false, false);
    t.set_serial(true, false, false);
    Bitstream b = make("2s15");
    configure_jtag(t, 0, b);
    EXPECT_FALSE(f->packets().synced());
    EXPECT_FALSE(f->configured());
    EXPECT_FALSE(f->init_pin());
}

namespace {
void clock_serial(Target &t, const std::vector<uint8_t> &data) {
    for (uint8_t byte : data)
        for (int b = 7; b >= 0; b--) {
            bool din = (byte >> b) & 1;
            t.set_serial(true, false, din);
            t.set_serial(true, true, din);
        }
}
} // namespace

TEST(SlaveSerial, ProgramClearThenLoad) {
    Target t(parse_chain("18v02,2s150,2s15"));
    EXPECT_EQ(t.serial_index(), 1);
    Spartan2 *f = t.spartan(1);
    f->set_clear_ns(5000);
    Bitstream b = make("2s150", false, 9);
    t.set_serial(false, false, false);
    EXPECT_FALSE(t.init_pin());
    t.elapse_ns(1000000);
    EXPECT_FALSE(t.init_pin()); // held while PROGRAM is low
    t.set_serial(true, false, false);
    EXPECT_FALSE(t.init_pin());
    t.elapse_ns(4999);
    EXPECT_FALSE(t.init_pin());
    t.elapse_ns(1);
    EXPECT_TRUE(t.init_pin());
    EXPECT_FALSE(t.done_pin());
    clock_serial(t, b.data);
    EXPECT_TRUE(t.done_pin());
    EXPECT_TRUE(f->configured());
    EXPECT_EQ(f->digest(), b.digest);
    EXPECT_EQ(f->status_word() & 0x7FC1u, 0x6340u | (5u << 10));
    EXPECT_FALSE(t.spartan(2)->configured()); // the other FPGA saw nothing
    // PROGRAM clears a configured device.
    t.set_serial(false, false, false);
    EXPECT_FALSE(t.done_pin());
    EXPECT_FALSE(f->configured());
    EXPECT_EQ(f->digest(), memory_digest(std::vector<uint32_t>(f->frames().words().size(), 0)));
}

TEST(SlaveSerial, DataDuringClearAndJtagStartupFail) {
    Target t(parse_chain("2s30"));
    Spartan2 *f = t.spartan(0);
    f->set_clear_ns(1000000); // longer than the clock edges of the dummy and sync words
    t.set_serial(false, false, false);
    t.set_serial(true, false, false);
    clock_serial(t, make("2s30", false).data);
    EXPECT_FALSE(f->packets().synced());
    EXPECT_FALSE(t.done_pin());

    f->set_clear_ns(0);
    t.set_serial(false, false, false);
    t.set_serial(true, false, false);
    EXPECT_TRUE(t.init_pin());
    Bitstream jt = make("2s30", true);
    clock_serial(t, jt.data);
    EXPECT_EQ(f->digest(), jt.digest);
    EXPECT_FALSE(t.done_pin()); // start-up waits for TCK under JSTART
}

TEST(PowerSupply, PowerLossClearsAndPowerOnClearsMemory) {
    Target t(parse_chain("2s50"));
    Spartan2 *f = t.spartan(0);
    Bitstream b = make("2s50");
    configure_jtag(t, 0, b);
    ASSERT_TRUE(f->configured());
    t.set_power(false);
    EXPECT_FALSE(f->configured());
    EXPECT_TRUE(t.done_pin()); // floats
    EXPECT_TRUE(t.tdo());
    std::string js = t.status_json();
    EXPECT_NE(js.find("\"power\":false"), std::string::npos);
    EXPECT_NE(js.find("\"configured\":false"), std::string::npos);
    t.set_power(true);
    EXPECT_FALSE(t.init_pin()); // clearing after power-on
    EXPECT_FALSE(t.done_pin());
    t.elapse_ns(f->settings().clear_ns);
    EXPECT_TRUE(t.init_pin());
    EXPECT_EQ(f->digest(), memory_digest(std::vector<uint32_t>(f->frames().words().size(), 0)));
    EXPECT_EQ(f->frames_written(), 0u);
    EXPECT_EQ(f->configurations(), 1u); // counts over the device's life
    configure_jtag(t, 0, b);
    EXPECT_TRUE(f->configured());
    EXPECT_EQ(f->configurations(), 2u);
}

TEST(StatusReport, TextAndJsonNameEveryDevice) {
    Target t(parse_chain("2s100:v2,18v01,dev:0x0ABCD093:6"));
    Bitstream b = make("2s100");
    configure_jtag(t, 0, b);
    std::string txt = t.status_text();
    EXPECT_NE(txt.find("supply: on"), std::string::npos);
    EXPECT_NE(txt.find("2s100 IDCODE 20614093"), std::string::npos);
    EXPECT_NE(txt.find("configured yes"), std::string::npos);
    EXPECT_NE(txt.find("18v01 IDCODE 05024093 IR 8"), std::string::npos);
    EXPECT_NE(txt.find("dev IDCODE 0ABCD093 IR 6"), std::string::npos);
    char digest[32];
    std::snprintf(digest, sizeof digest, "%016llx", static_cast<unsigned long long>(b.digest));
    EXPECT_NE(txt.find(digest), std::string::npos);
    std::string js = t.status_json();
    EXPECT_NE(js.find("\"configured\":true"), std::string::npos);
    EXPECT_NE(js.find("\"status\":\"00007740\""), std::string::npos);
    EXPECT_NE(js.find(std::string("\"digest\":\"") + digest + "\""), std::string::npos);
    EXPECT_NE(js.find("\"kind\":\"prom\""), std::string::npos);
    EXPECT_NE(js.find("\"kind\":\"generic\""), std::string::npos);
}

TEST(JtagConfiguration, FrameReadbackThroughCfgOut) {
    Target t(parse_chain("2s15"));
    Spartan2 *f = t.spartan(0);
    Bitstream b = make("2s15", true, 4);
    configure_jtag(t, 0, b);
    ASSERT_TRUE(f->configured());
    const PartInfo &p = f->part();
    const uint32_t fw = uint32_t(p.frame_words());
    // FAR <- CLB column 1, minor 2; RCFG; read a pad frame and two frames.
    auto words = read_back(t, 0, {0x30002001, far_value(0, 1, 2), 0x30008001, 4, 0x28006000 | (3 * fw), 0}, 3 * fw);
    const std::vector<uint32_t> &mem = f->frames().words();
    size_t first = size_t(8 + 2) * fw; // after the clock column, minor 2 of column 1
    for (uint32_t i = 0; i < fw; i++)
        EXPECT_EQ(words[i], 0u) << "pad word " << i;
    for (uint32_t i = 0; i < 2 * fw; i++)
        EXPECT_EQ(words[fw + i], mem[first + i]) << i;
    EXPECT_NE(mem[first], 0u);
}

TEST(ModelSettings, StartWaitingForTheCrcCheckStopsABadTail) {
    // The final CRC word is wrong: with START acting at once the device has
    // already started when the check fails; waiting for the check keeps it down.
    Bitstream b = make("2s15", false);
    size_t n = b.words.size();
    BitgenOptions o;
    o.part = "2s15";
    o.startup_jtag = false;
    o.corrupt_word = (long long)(n - 5);
    Bitstream bad = generate_bitstream(o);
    for (bool at_once : {true, false}) {
        SCOPED_TRACE(at_once);
        Spartan2Settings s;
        s.start_at_once = at_once;
        s.clear_ns = 0;
        Spartan2 f(*find_part("2s15"), s);
        for (uint8_t byte : bad.data)
            for (int k = 7; k >= 0; k--) {
                f.set_cclk(false, (byte >> k) & 1);
                f.set_cclk(true, (byte >> k) & 1);
            }
        EXPECT_TRUE(f.packets().crc_error());
        EXPECT_FALSE(f.init_pin());
        EXPECT_EQ(f.done_pin(), at_once);
        EXPECT_EQ(f.digest(), b.digest);
    }
}

TEST(ModelSettings, JstartInRunTestIdleOnly) {
    Spartan2Settings s;
    s.jstart_any_state = false;
    s.clear_ns = 0;
    Spartan2 f(*find_part("2s15"), s);
    Bitstream b = make("2s15");
    for (uint32_t w : b.words)
        f.feed_word(w);
    ASSERT_TRUE(f.sequencer().running());
    // Drive the TAP by hand: JSTART into the IR, then 16 TCKs in Shift-DR.
    auto clock = [&f](bool tms, bool tdi) {
        f.fall();
        f.rise(tms, tdi);
    };
    for (int i = 0; i < 5; i++)
        clock(true, false);
    for (bool tms : {false, true, true, false, false})
        clock(tms, false);
    for (int i = 0; i < 5; i++)
        clock(i == 4, (Spartan2::JSTART >> i) & 1);
    for (bool tms : {true, true, false, false}) // Update-IR, Select-DR, Capture-DR, Shift-DR
        clock(tms, false);
    for (int i = 0; i < 16; i++)
        clock(false, false);
    EXPECT_FALSE(f.done_pin());
    EXPECT_EQ(f.jstart_clocks(), 0u);
    for (bool tms : {true, true, false}) // Exit1-DR, Update-DR, Run-Test/Idle
        clock(tms, false);
    for (int i = 0; i < 8; i++)
        clock(false, false);
    EXPECT_TRUE(f.done_pin());
    EXPECT_EQ(f.jstart_clocks(), 8u);
}

// Packets that no bitstream writer produces must still leave the model sound:
// an FLR of all ones and a read of the largest type-2 count.
TEST(PacketProcessor, ExtremeFrameLengthAndReadCountStayBounded) {
    Spartan2Settings s;
    s.clear_ns = 0;
    Spartan2 f(*find_part("2s15"), s);
    for (uint32_t w : {0xFFFFFFFFu, Spartan2::SYNC_WORD, 0x30008001u, 7u, 0x30016001u, 0xFFFFFFFFu,
                       0x30008001u, 1u, 0x30004000u, 0x50000010u})
        f.feed_word(w);
    for (int i = 0; i < 16; i++)
        f.feed_word(0x12345678);
    EXPECT_EQ(f.frames().frame_length(), 0xFFFFFFFFu);
    EXPECT_EQ(f.frames_written(), 0u); // 16 words are far from one frame of that length

    f.feed_word(0x2800E000); // read STAT, count in the type-2 header that follows
    f.feed_word(0x48000000 | 0x07FFFFFF);
    EXPECT_GT(f.packets().queued_read_words(), 0u);
    EXPECT_LE(f.packets().queued_read_words(), 4096u);
}

// Each register reads back from the part of the configuration logic that holds
// it; CTL's security level blanks FDRO or drops frame writes.
TEST(PacketProcessor, RegisterReadsAndSecurityLevels) {
    const uint32_t fw = uint32_t(find_part("2s15")->frame_words());
    // Two frames of ones at FAR 0 under the given CTL, then FDRO from FAR 0.
    auto frames_under_ctl = [fw](uint32_t ctl) {
        std::vector<uint32_t> w = {0x3000C001, 0x180, 0x3000A001, ctl, 0x30016001, fw - 1, 0x30002001, 0,
                                   0x30008001, 1, 0x30004000 | (2 * fw)};
        w.insert(w.end(), 2 * fw, 0xFFFFFFFF);
        w.insert(w.end(), {0x30008001, 4, 0x30002001, 0, 0x28006000 | (2 * fw)});
        return w;
    };
    struct Case {
        const char *what;
        std::vector<uint32_t> packets; // after the sync word and RCRC
        size_t count, index;           // words read, the one checked
        uint32_t expected;
    } cases[] = {
        {"FAR", {0x30002001, far_value(0, 3, 5), 0x28002001}, 1, 0, far_value(0, 3, 5)},
        {"FLR", {0x30016001, 6, 0x28016001}, 1, 0, 6},
        {"COR", {0x30012001, 0x00A0BF2D, 0x28012001}, 1, 0, 0x00A0BF2D},
        {"CMD", {0x30008001, 4, 0x28008001}, 1, 0, 4},
        {"CTL through MASK", {0x3000C001, 0x1C1, 0x3000A001, 0xFFFFFFFF, 0x2800A001}, 1, 0, 0x1C1},
        {"LOUT outside the CRC", {0x30010001, 0x12345678, 0x28000001}, 1, 0, 0},
        {"frames readable", frames_under_ctl(0), 2 * fw, fw, 0xFFFFFFFF},
        {"read-back forbidden", frames_under_ctl(0x80), 2 * fw, fw, 0},
        {"frame writes forbidden", frames_under_ctl(0x100), 2 * fw, fw, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Target t(parse_chain("2s15"));
        t.elapse_ns(1000000);
        std::vector<uint32_t> packets = {0xFFFFFFFF, Spartan2::SYNC_WORD, 0x30008001, 7};
        packets.insert(packets.end(), c.packets.begin(), c.packets.end());
        packets.push_back(0);
        EXPECT_EQ(read_back(t, 0, packets, c.count)[c.index], c.expected);
    }
}
