// TAP primitives against exact call and TMS traces, and the bit-order helpers.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "bscan.h"
#include "devlist.h"
#include "fake_chain.h"
#include "sp2jtag.h"

namespace {

using fake::Chain;

class Primitives : public ::testing::Test {
protected:
    void SetUp() override { fake::reset_engine_state(); }
};

TEST_F(Primitives, InstructionScanWith32DataBitsOnOneDevice)
{
    Chain cable({fake::spartan2(0x00608093)});
    const std::array<uint8_t, 4> data = {0x12, 0x34, 0x56, 0x78};
    bscan_reset(6);
    const size_t start = cable.tms_trace.size();
    const size_t first_call = cable.calls.size();
    bscan_inst(0x09, data.data(), nullptr, 32, 1);

    const std::string expected = std::string("1100") + "00001" + "1100" + std::string(31, '0') + "1" + "1" + "00";
    EXPECT_EQ(cable.tms_string(start), expected);

    // Five calls of 2, 2, 5, 2 and 2 cycles before the data part.
    ASSERT_GE(cable.calls.size(), first_call + 5);
    const int sizes[] = {2, 2, 5, 2, 2};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(cable.calls[first_call + i].nbits, sizes[i]) << "call " << i;
    // The opcode goes in bit 0 first: 0x09 is 1, 0, 0, 1, 0.
    EXPECT_EQ(cable.calls[first_call + 2].tdi, (std::vector<int>{1, 0, 0, 1, 0}));
    // The data call carries the buffer most significant bit first.
    const fake::Call &dcall = cable.calls[first_call + 5];
    ASSERT_EQ(dcall.nbits, 32);
    EXPECT_EQ((std::vector<int>(dcall.tdi.begin(), dcall.tdi.begin() + 8)), (std::vector<int>{0, 0, 0, 1, 0, 0, 1, 0}));
    EXPECT_EQ(cable.state, fake::Tap::Idle);
    EXPECT_EQ(cable.devices[0].ir, 0x09u);
}

TEST_F(Primitives, TdoSideIrFillOf13BitsComesFirstInShiftIr)
{
    Chain cable({});
    chain.bscan_tdo_ir = 13;
    bscan_inst(0x05, nullptr, nullptr, 0, 0);
    ASSERT_GE(cable.calls.size(), 4u);
    const fake::Call &fill = cable.calls[2];
    EXPECT_EQ(fill.nbits, 13);
    EXPECT_EQ(fill.tdi, std::vector<int>(13, 1));
    EXPECT_EQ(fill.tms_last, 0);
    // The instruction follows and ends the IR scan when nothing lies on the TDI side.
    EXPECT_EQ(cable.calls[3].nbits, 5);
    EXPECT_EQ(cable.calls[3].tms_last, 1);
}

TEST_F(Primitives, TdiSideIrFillEndsTheInstructionScan)
{
    Chain cable({});
    chain.bscan_tdi_ir = 8;
    bscan_inst(0x05, nullptr, nullptr, 0, 0);
    ASSERT_GE(cable.calls.size(), 4u);
    EXPECT_EQ(cable.calls[2].nbits, 5);
    EXPECT_EQ(cable.calls[2].tms_last, 0);
    EXPECT_EQ(cable.calls[3].nbits, 8);
    EXPECT_EQ(cable.calls[3].tdi, std::vector<int>(8, 1));
    EXPECT_EQ(cable.calls[3].tms_last, 1);
}

TEST_F(Primitives, IrFillLongerThanTheOnesBufferIsSplit)
{
    Chain cable({});
    chain.bscan_tdo_ir = 70;
    bscan_inst(0x05, nullptr, nullptr, 0, 0);
    int ones = 0;
    for (size_t i = 2; i < cable.calls.size() && cable.calls[i].nbits != 5; ++i) {
        EXPECT_LE(cable.calls[i].nbits, 64);
        for (int b : cable.calls[i].tdi)
            ones += b;
    }
    EXPECT_EQ(ones, 70);
}

TEST_F(Primitives, SplitDataScanShiftsTheAfterFillOnce)
{
    Chain cable({});
    chain.bscan_before_dr = 1;
    chain.bscan_after_dr = 2;
    std::vector<uint8_t> block(8192, 0xA5);
    bscan_reset(6);
    bscan_inst(0x05, nullptr, nullptr, 0, 0);
    const size_t after_inst = cable.calls.size();
    bscan_dr(block.data(), nullptr, 8192 * 8, 0);
    bscan_dr(block.data(), nullptr, 8192 * 8, 0);
    bscan_dr(block.data(), nullptr, 100 * 8, 1);

    // The before fill belongs to the instruction scan alone.
    EXPECT_EQ(cable.calls[after_inst - 1].nbits, 1);
    EXPECT_FALSE(cable.calls[after_inst - 1].has_tdi);

    std::vector<int> counts;
    for (size_t i = after_inst; i < cable.calls.size(); ++i)
        counts.push_back(cable.calls[i].nbits);
    EXPECT_EQ(counts, (std::vector<int>{65536, 65536, 800, 2, 1, 2}));
    const auto &c = cable.calls;
    const size_t n = c.size();
    EXPECT_EQ(c[n - 6].tms_last, 0);
    EXPECT_EQ(c[n - 4].tms_last, 0);
    EXPECT_EQ(c[n - 3].tms_last, 1); // the after fill leaves Shift-DR
    EXPECT_FALSE(c[n - 3].has_tdi);
    EXPECT_EQ(cable.state, fake::Tap::Idle);
}

TEST_F(Primitives, AlignmentFillForZeroToThreeTdiSideDevices)
{
    const int expected_fill[] = {0, 31, 30, 29};
    for (int tdi_side = 0; tdi_side <= 3; ++tdi_side) {
        fake::reset_engine_state();
        std::vector<fake::Device> devs;
        devs.push_back(fake::prom(0x05025093)); // one device on the TDO side
        for (int i = 0; i <= tdi_side; ++i)
            devs.push_back(fake::spartan2(0x00614093));
        Chain cable(devs);
        chain.bscan_num_chain = static_cast<int32_t>(devs.size());
        chain.dev_chain[0] = chain_entry{"18v02", 0x05025093, 8};
        for (int i = 1; i < chain.bscan_num_chain; ++i)
            chain.dev_chain[i] = chain_entry{"v100", 0x00614093, 5};
        bscan_select(1);
        EXPECT_EQ(chain.bscan_tdi_bypass, tdi_side);

        spa2_enter_config();
        // Shift-DR is reached by the last (2, 0, 0) call; the fill follows it.
        const fake::Call &last = cable.calls.back();
        if (expected_fill[tdi_side] == 0) {
            EXPECT_EQ(last.nbits, 2) << tdi_side;
        } else {
            EXPECT_EQ(last.nbits, expected_fill[tdi_side]) << tdi_side;
            EXPECT_FALSE(last.has_tdi);
        }
        EXPECT_EQ(cable.state, fake::Tap::ShiftDr);
        EXPECT_EQ(chain.bscan_before_dr, 1) << "the normal fill comes back";
    }
}

// A cable that delivers nothing must not leave old bytes that look like data.
TEST_F(Primitives, ReceiveBufferIsClearedBeforeTheShift)
{
    Chain cable({fake::spartan2(0x00608093)});
    cable.deliver_tdo = false;
    std::array<uint8_t, 5> buffer;
    buffer.fill(0xFF);
    bscan_inst(0x09, nullptr, buffer.data(), 33, 1);
    for (uint8_t b : buffer)
        EXPECT_EQ(b, 0);
}

TEST_F(Primitives, ReceivedBitsComeBackInStreamOrderFromEitherEntryPoint)
{
    for (auto order : {fake::Order::LsbFirst, fake::Order::MsbFirst}) {
        fake::reset_engine_state();
        Chain cable({fake::spartan2(0x1061C093)}, order);
        std::array<uint8_t, 4> id{};
        bscan_reset(6);
        bscan_inst(0x09, nullptr, id.data(), 32, 1);
        EXPECT_EQ(get_bit(id.data(), 0, 32), 0x1061C093u);
        EXPECT_EQ(spa2_read_deviceid(), 0x1061C093u);
    }
}

TEST(BitOrder, SwapByteSwapDwordGetDwordGetBit)
{
    EXPECT_EQ(swap_byte(0x01), 0x80);
    EXPECT_EQ(swap_byte(0xA0), 0x05);
    EXPECT_EQ(swap_byte(0x09), 0x90);
    for (int b = 0; b < 256; ++b)
        EXPECT_EQ(swap_byte(swap_byte(static_cast<uint8_t>(b))), b);

    EXPECT_EQ(swap_dword(1), 0x80000000u);
    EXPECT_EQ(swap_dword(0x0061C093), 0xC9038600u);
    EXPECT_EQ(swap_dword(swap_dword(0x12345678)), 0x12345678u);

    const uint8_t word[4] = {0x28, 0x00, 0xE0, 0x01};
    EXPECT_EQ(get_dword(word), 0x2800E001u);

    const uint8_t first80[1] = {0x80};
    EXPECT_EQ(get_bit(first80, 0, 1), 1u);
    const uint8_t one01[1] = {0x01};
    EXPECT_EQ(get_bit(one01, 0, 8), 0x80u);
    const uint8_t mixed[3] = {0x0F, 0xF0, 0x81};
    EXPECT_EQ(get_bit(mixed, 4, 8), 0xFFu);
    EXPECT_EQ(get_bit(mixed, 16, 8), 0x81u);
    EXPECT_EQ(get_bit(mixed, 23, 1), 1u);
}

} // namespace
