// The boundary-scan strategy and the Spartan-II sequences over a fake chain:
// status lines, the start, the last block and its check, and the user channel.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "bscan.h"
#include "devlist.h"
#include "fake_chain.h"
#include "sp2jtag.h"
#include "vokisp_jtag.h"

namespace {

using fake::Chain;

constexpr uint32_t XC2S100 = 0x00614093;
constexpr uint32_t XC18V02 = 0x05025093;
const std::string status_header =
    "FPGA Status :DONE:INIT:    MODE   ( I/O ):GWE:GSR:GHIGH:GTS:IER:LOCK:CRC:\n";

class Strategy : public ::testing::Test {
protected:
    void SetUp() override { fake::reset_engine_state(); }
};

std::string status_lines(uint32_t status)
{
    Chain cable({fake::spartan2(XC2S100)});
    cable.devices[0].status = status;
    chain.bscan_num_chain = 1;
    chain.dev_chain[0] = chain_entry{"v100", XC2S100, 5};
    bscan_select(0);
    testing::internal::CaptureStdout();
    const uint32_t s = jtag_status();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(s, status);
    return out;
}

TEST_F(Strategy, StatusLineOfAConfiguredDevice)
{
    EXPECT_EQ(status_lines(0x00004C00),
              status_header + "  00004C00  :YES :YES :SlaveSerial( Hi-z ): H : H :  H  : H : H :LLLL:OK :\n");
}

TEST_F(Strategy, StatusLineWithOnlyGweDisabled)
{
    EXPECT_EQ(status_lines(0x00000080),
              status_header + "  00000080  :NO  :YES :MasterSerial( Hi-z ): L : H :  H  : H : H :LLLL:OK :\n");
}

TEST_F(Strategy, StatusLineColumnsFollowTheirBits)
{
    EXPECT_EQ(status_lines(0x0000337F),
              status_header + "  0000337F  :NO  :NO  :MasterSerial(Pullup): H : L :  L  : L : L :UUUU:ERR:\n");
    EXPECT_EQ(status_lines(0x00000412),
              status_header + "  00000412  :NO  :YES :BoundaryScan( Hi-z ): H : H :  H  : H : H :ULLU:OK :\n");
}

TEST_F(Strategy, StartIdentifiesShutsDownAndEntersCfgIn)
{
    Chain cable({fake::prom(XC18V02), fake::spartan2(0x10614093)});
    cable.devices[1].status = 0x00007F40;
    testing::internal::CaptureStdout();
    EXPECT_EQ(jtag_start(XC2S100), 0u);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "JTAG Chain : TDO -<- 18v02[05025093H]-<-*v100[10614093H]-<-TDI\n"
                   "Device ID code 10614093H : XC2S100 Rev.1\n"
                   "FPGA shutdown\n" +
                       status_header + "  00007F40  :YES :NO  :SlaveSerial(Pullup): H : L :  L  : L : H :LLLL:OK :\n");
    EXPECT_EQ(settings.bscan_tdo_chips, 1) << "the automatic choice is kept";
    EXPECT_EQ(cable.state, fake::Tap::ShiftDr);
    EXPECT_EQ(cable.devices[1].ir, 0x05u) << "CFG_IN";
    EXPECT_EQ(cable.devices[0].ir, 0xFFu) << "BYPASS";
    EXPECT_EQ(chain.bscan_before_dr, 1) << "the normal fill is back after the alignment";
}

TEST_F(Strategy, DeviceAnsweringZerosIsAJtagDeviceError)
{
    // Test-Logic-Reset gives the IDCODE to the discovery, but the IDCODE instruction
    // selects a register that reads as zeros.
    Chain cable({fake::spartan2(XC2S100)});
    cable.devices[0].idcode_inst = 0x1E;
    testing::internal::CaptureStdout();
    EXPECT_EQ(jtag_start(XC2S100), ERR_TARGET);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "JTAG Chain : TDO -<-*v100[00614093H]-<-TDI\n"
              "Device ID code 00000000H : unknown Rev.0\n"
              "JTAG DEVICE error\n");
}

// Bytes of a bitstream prefix with a COR write carrying `cor`.
std::vector<uint8_t> prefix_with_cor(uint32_t cor)
{
    std::vector<uint8_t> data = {0xFF, 0xFF, 0xFF, 0xFF, 0xAA, 0x99, 0x55, 0x66, 0x30, 0x01, 0x20, 0x01};
    for (int i = 3; i >= 0; --i)
        data.push_back(static_cast<uint8_t>(cor >> (8 * i)));
    data.resize(100, 0);
    return data;
}

struct LastBlockResult {
    uint32_t result;
    std::string out;
    std::vector<fake::Call> calls;
};

LastBlockResult run_last_block(uint32_t status_after, uint32_t cor, size_t split = 100)
{
    Chain cable({fake::spartan2(XC2S100)});
    cable.devices[0].status = 0x00004C00;
    testing::internal::CaptureStdout();
    EXPECT_EQ(jtag_start(XC2S100), 0u);
    testing::internal::GetCapturedStdout();
    cable.devices[0].status = status_after;
    const std::vector<uint8_t> data = prefix_with_cor(cor);
    const size_t from = cable.calls.size();
    testing::internal::CaptureStdout();
    uint32_t r = 0;
    if (split < data.size())
        r |= jtag_write(data.data(), static_cast<uint32_t>(split), 0);
    r |= jtag_write(data.data() + (split < data.size() ? split : 0),
                    static_cast<uint32_t>(split < data.size() ? data.size() - split : data.size()), 1);
    LastBlockResult res{r, testing::internal::GetCapturedStdout(), {}};
    res.calls.assign(cable.calls.begin() + static_cast<long>(from), cable.calls.end());
    return res;
}

TEST_F(Strategy, LastBlockShiftsDataExitsAndRunsJstart)
{
    const LastBlockResult r = run_last_block(0x00007F40, 0x00A03F2D);
    EXPECT_EQ(r.result, 0u);
    EXPECT_EQ(r.out, status_header + "  00007F40  :YES :NO  :SlaveSerial(Pullup): H : L :  L  : L : H :LLLL:OK :\n");
    // 800 data bits leaving Shift-DR, Update-DR, Run-Test/Idle, then JSTART with 14 bits.
    std::vector<int> counts;
    for (size_t i = 0; i < 10 && i < r.calls.size(); ++i)
        counts.push_back(r.calls[i].nbits);
    EXPECT_EQ(counts, (std::vector<int>{800, 1, 2, 2, 2, 5, 2, 2, 14, 1}));
    EXPECT_EQ(r.calls[0].tms_last, 1);
    EXPECT_EQ(r.calls[5].tdi, (std::vector<int>{0, 0, 1, 1, 0})) << "JSTART 0x0C, bit 0 first";
    EXPECT_EQ(r.calls[8].tms_last, 1);
}

TEST_F(Strategy, DoneLowAfterStartUpFailsTheWrite)
{
    const LastBlockResult r = run_last_block(0x00001C00, 0x00A03F2D);
    EXPECT_EQ(r.result, ERR_TARGET);
    EXPECT_NE(r.out.find("Configuration failed: DONE is low\n"), std::string::npos) << r.out;
}

TEST_F(Strategy, DoneLowWithACclkStartUpClockSaysSo)
{
    // The COR write is split across two blocks.
    const LastBlockResult r = run_last_block(0x00001C00, 0x00803F2D, 13);
    EXPECT_EQ(r.result, ERR_TARGET);
    EXPECT_NE(r.out.find("starts up on CCLK"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("JTAG clock as start-up clock"), std::string::npos) << r.out;
}

TEST_F(Strategy, CrcErrorFailsTheWriteEvenWithDoneHigh)
{
    const LastBlockResult r = run_last_block(0x00004C01, 0x00A03F2D);
    EXPECT_EQ(r.result, ERR_TARGET);
    EXPECT_NE(r.out.find("Configuration failed: CRC error"), std::string::npos) << r.out;
}

TEST_F(Strategy, NonLastBlocksStayInShiftDrAndReturnZero)
{
    Chain cable({fake::spartan2(XC2S100)});
    cable.devices[0].status = 0x00004C00;
    testing::internal::CaptureStdout();
    ASSERT_EQ(jtag_start(XC2S100), 0u);
    testing::internal::GetCapturedStdout();
    std::vector<uint8_t> block(8192, 0x5A);
    const size_t from = cable.calls.size();
    EXPECT_EQ(jtag_write(block.data(), 8192, 0), 0u);
    ASSERT_EQ(cable.calls.size(), from + 1) << "one shift call per block, no copy";
    EXPECT_EQ(cable.calls[from].nbits, 65536);
    EXPECT_EQ(cable.state, fake::Tap::ShiftDr);
}

class UserChannel : public ::testing::TestWithParam<fake::Order> {
protected:
    void SetUp() override { fake::reset_engine_state(); }
};

TEST_P(UserChannel, SelectExchangeSwitchAndBack)
{
    // A PROM between the FPGA and TDO, so the fills take part.
    Chain cable({fake::prom(XC18V02), fake::spartan2(XC2S100)}, GetParam());
    fake::Device &fpga = cable.devices[1];
    fpga.user[0] = 0xCAFEF00D;
    fpga.user[1] = 0x12345678;
    ASSERT_EQ(bscan_scan_chain(), 1);
    testing::internal::CaptureStdout();
    bscan_select(1);
    testing::internal::GetCapturedStdout();
    bscan_reset(6); // the discovery leaves the TAP in Exit1-DR

    EXPECT_EQ(spa2_select_user(1), 0);
    EXPECT_EQ(cable.state, fake::Tap::ShiftDr);
    EXPECT_EQ(fpga.ir, 0x02u);
    EXPECT_EQ(cable.devices[0].ir, 0xFFu);

    const std::array<uint8_t, 4> sent = {0xA5, 0x5A, 0xC3, 0x3C};
    std::array<uint8_t, 4> got{};
    EXPECT_EQ(spa2_xfer_user(sent.data(), got.data(), 32, 0), 1);
    // Each complete byte holds its first received bit in bit 0: the register, low byte first.
    EXPECT_EQ(got, (std::array<uint8_t, 4>{0x0D, 0xF0, 0xFE, 0xCA}));

    // Switching closes USER1: six more zero bits, Update-DR, then USER2 from Run-Test/Idle.
    EXPECT_EQ(spa2_select_user(2), 0);
    // The register took the 32 bits first bit lowest (0x3CC35AA5), then six more zeros.
    EXPECT_EQ(fpga.user[0], 0x00F30D6Au);
    EXPECT_EQ(fpga.ir, 0x03u);
    EXPECT_EQ(cable.state, fake::Tap::ShiftDr);

    EXPECT_EQ(spa2_xfer_user(sent.data(), got.data(), 32, 1), 1);
    EXPECT_EQ(got, (std::array<uint8_t, 4>{0x78, 0x56, 0x34, 0x12}));
    EXPECT_EQ(fpga.user[1], 0x3CC35AA5u) << "the last exchange updates the register";
    EXPECT_EQ(cable.state, fake::Tap::Idle);

    // Back to USER1 (already closed by the last exchange), then close it.
    EXPECT_EQ(spa2_select_user(1), 0);
    EXPECT_EQ(fpga.ir, 0x02u);
    EXPECT_EQ(spa2_xfer_user(nullptr, nullptr, 8, 0), 0);
    EXPECT_EQ(spa2_select_user(0), 0);
    EXPECT_EQ(cable.state, fake::Tap::Idle) << "closing leaves Run-Test/Idle";

    // The next instruction scan starts from there without a reset.
    std::array<uint8_t, 4> id{};
    bscan_inst(0x09, nullptr, id.data(), 32, 1);
    EXPECT_EQ(get_bit(id.data(), 0, 32), XC2S100);
}

TEST_P(UserChannel, PartialByteStaysInStreamOrder)
{
    Chain cable({fake::spartan2(XC2S100)}, GetParam());
    cable.devices[0].user[0] = 0x00000F81;
    ASSERT_EQ(bscan_scan_chain(), 1);
    testing::internal::CaptureStdout();
    bscan_select(0);
    testing::internal::GetCapturedStdout();
    bscan_reset(6);
    spa2_select_user(1);
    std::array<uint8_t, 2> got{};
    EXPECT_EQ(spa2_xfer_user(nullptr, got.data(), 12, 1), 1);
    EXPECT_EQ(got[0], 0x81);
    EXPECT_EQ(got[1], 0xF0) << "bits 8..11 in stream order";
}

INSTANTIATE_TEST_SUITE_P(BothEntryPoints, UserChannel,
                         ::testing::Values(fake::Order::LsbFirst, fake::Order::MsbFirst),
                         [](const auto &info) {
                             return std::string(info.param == fake::Order::LsbFirst ? "Txrx" : "Xfer");
                         });

} // namespace
