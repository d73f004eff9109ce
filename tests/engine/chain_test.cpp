// Chain discovery, target choice and the chain line, over a fake chain.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "bscan.h"
#include "devlist.h"
#include "fake_chain.h"
#include "vokisp_jtag.h"

namespace {

using fake::Chain;

constexpr uint32_t XC2S15 = 0x00608093;
constexpr uint32_t XC2S30 = 0x0060C093;
constexpr uint32_t XC2S50 = 0x00610093;
constexpr uint32_t XC2S100 = 0x00614093;
constexpr uint32_t XC2S200 = 0x0061C093;
constexpr uint32_t XC18V02 = 0x05025093;

class ChainDiscovery : public ::testing::TestWithParam<fake::Order> {
protected:
    void SetUp() override { fake::reset_engine_state(); }
    fake::Order order() const { return GetParam(); }
};

std::string name_at(int i) { return chain.dev_chain[i].name != nullptr ? chain.dev_chain[i].name : "(none)"; }

TEST_P(ChainDiscovery, SingleSpartanPartsAreListedByTheFirstMatchingRow)
{
    struct Case {
        uint32_t idcode;
        const char *name;
    };
    const Case cases[] = {
        {XC2S200, "v200"}, {XC2S100, "v100"}, {XC2S50, "2s50"}, {XC2S15, "2s15"}, {0x1061C093, "v200"},
    };
    for (const Case &c : cases) {
        fake::reset_engine_state();
        Chain cable({fake::spartan2(c.idcode)}, order());
        ASSERT_EQ(bscan_scan_chain(), 1) << c.name;
        EXPECT_EQ(chain.bscan_num_chain, 1);
        EXPECT_EQ(name_at(0), c.name);
        EXPECT_EQ(chain.dev_chain[0].idcode, c.idcode) << "the full IDCODE, version field included";
        EXPECT_EQ(chain.dev_chain[0].ir_len, 5);
    }
}

TEST_P(ChainDiscovery, PromNearestTdoWithSpartanBehind)
{
    Chain cable({fake::prom(XC18V02), fake::spartan2(XC2S100)}, order());
    ASSERT_EQ(bscan_scan_chain(), 1);
    ASSERT_EQ(chain.bscan_num_chain, 2);
    EXPECT_EQ(name_at(0), "18v02");
    EXPECT_EQ(name_at(1), "v100");
    EXPECT_EQ(chain.dev_chain[0].ir_len + chain.dev_chain[1].ir_len, 13);

    testing::internal::CaptureStdout();
    bscan_select(1);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "JTAG Chain : TDO -<- 18v02[05025093H]-<-*v100[00614093H]-<-TDI\n");
    EXPECT_EQ(chain.bscan_tdo_ir, 8);
    EXPECT_EQ(chain.bscan_tdi_ir, 0);
    EXPECT_EQ(chain.bscan_before_dr, 1);
    EXPECT_EQ(chain.bscan_after_dr, 0);

    // The instruction scan begins with 8 one bits for the PROM, and the PROM ends in BYPASS.
    bscan_reset(6); // the discovery leaves the TAP in Exit1-DR
    const size_t from = cable.calls.size();
    bscan_inst(0x09, nullptr, nullptr, 0, 0);
    EXPECT_EQ(cable.calls[from + 2].nbits, 8);
    EXPECT_EQ(cable.calls[from + 2].tdi, std::vector<int>(8, 1));
    EXPECT_EQ(cable.devices[0].ir, 0xFFu);
    EXPECT_EQ(cable.devices[1].ir, 0x09u);
}

TEST_P(ChainDiscovery, SpartanNearestTdoWithPromBehind)
{
    Chain cable({fake::spartan2(XC2S50), fake::prom(XC18V02)}, order());
    ASSERT_EQ(bscan_scan_chain(), 1);
    EXPECT_EQ(bscan_device_autoditect(XC2S50), 0);
    bscan_select(0);
    EXPECT_EQ(chain.bscan_tdo_ir, 0);
    EXPECT_EQ(chain.bscan_tdi_ir, 8);
    EXPECT_EQ(chain.bscan_before_dr, 0);
    EXPECT_EQ(chain.bscan_after_dr, 1);
}

TEST_P(ChainDiscovery, TwoIdenticalPartsAreAmbiguous)
{
    Chain cable({fake::spartan2(XC2S100), fake::prom(XC18V02), fake::spartan2(0x10614093)}, order());
    ASSERT_EQ(bscan_scan_chain(), 1);
    EXPECT_EQ(bscan_device_autoditect(XC2S100), -1);
    std::strcpy(bitstream_part, "2s100tq144");
    testing::internal::CaptureStdout();
    EXPECT_EQ(jtag_start(XC2S100), ERR_TARGET);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Devices 0, 2 of the chain all are the bitstream's part '2s100tq144': choose one with -target\n");
}

TEST_P(ChainDiscovery, UnmatchedPartNameTakesTheDeviceNearestTdo)
{
    Chain cable({fake::spartan2(XC2S15), fake::spartan2(XC2S200)}, order());
    ASSERT_EQ(bscan_scan_chain(), 1);
    EXPECT_EQ(bscan_device_autoditect(0), 0);
    EXPECT_EQ(bscan_device_autoditect(XC2S200), 1);
}

TEST_P(ChainDiscovery, UnknownDeviceFailsTheDiscovery)
{
    Chain cable({fake::spartan2(XC2S100), fake::generic(0x0ABCD093, 6)}, order());
    EXPECT_EQ(bscan_scan_chain(), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(jtag_start(XC2S100), ERR_TARGET);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Can't scan JTAG chain\n");
}

TEST_P(ChainDiscovery, BadCapturePatternFailsTheDiscovery)
{
    fake::Device d = fake::spartan2(XC2S100);
    d.ir_capture = 0x1E; // does not end in 01
    Chain cable({d}, order());
    EXPECT_EQ(bscan_scan_chain(), 0);
}

TEST_P(ChainDiscovery, IrLengthsThatDoNotAddUpFailTheDiscovery)
{
    // A device answering with a Spartan-II IDCODE but a 6-bit instruction register.
    fake::Device d = fake::generic(XC2S100, 6);
    Chain cable({d}, order());
    EXPECT_EQ(bscan_scan_chain(), 0);
}

TEST_P(ChainDiscovery, TdoStuckHighGivesAnEmptyChainAndNoTarget)
{
    Chain cable({fake::spartan2(XC2S100)}, order());
    cable.stuck = fake::Stuck::High;
    EXPECT_EQ(bscan_scan_chain(), 1);
    EXPECT_EQ(chain.bscan_num_chain, 0);
    for (const fake::Call &c : cable.calls)
        EXPECT_GT(c.nbits, 0) << "no empty shift is handed to the cable";
    EXPECT_EQ(jtag_start(XC2S100), ERR_TARGET);
}

TEST_P(ChainDiscovery, TdoStuckLowStopsTheCountBeforeAnyIdcodeRead)
{
    Chain cable({fake::spartan2(XC2S100)}, order());
    cable.stuck = fake::Stuck::Low;
    EXPECT_EQ(bscan_scan_chain(), 0);
    // 64 IR bits counted, then at most 9 device bits: no 32-bit IDCODE read after the capture.
    EXPECT_EQ(cable.count_calls(0, 32), 1u) << "only the 64-bit IR capture";
    size_t single_reads = 0;
    for (const fake::Call &c : cable.calls)
        single_reads += (c.nbits == 1 && c.has_tdo) ? 1 : 0;
    EXPECT_EQ(single_reads, 64u + 9u);
    testing::internal::CaptureStdout();
    EXPECT_EQ(jtag_start(XC2S100), ERR_TARGET);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Can't scan JTAG chain\n");
}

TEST_P(ChainDiscovery, EightDevicesFitNineFail)
{
    std::vector<fake::Device> eight(8, fake::spartan2(XC2S15));
    {
        Chain cable(eight, order());
        ASSERT_EQ(bscan_scan_chain(), 1);
        EXPECT_EQ(chain.bscan_num_chain, 8);
        EXPECT_EQ(name_at(7), "2s15");
    }
    fake::reset_engine_state();
    std::vector<fake::Device> nine(9, fake::spartan2(XC2S15));
    Chain cable(nine, order());
    EXPECT_EQ(bscan_scan_chain(), 0);
    EXPECT_EQ(cable.count_calls(0, 32), 1u) << "no IDCODE read";
}

TEST_P(ChainDiscovery, PromChosenAsTargetFailsTheStart)
{
    Chain cable({fake::prom(XC18V02), fake::spartan2(XC2S100)}, order());
    settings.bscan_tdo_chips = 0; // a bitstream without a part name may go anywhere -target says
    testing::internal::CaptureStdout();
    EXPECT_EQ(jtag_start(0), ERR_TARGET);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.find("JTAG Chain : TDO -<-*18v02[05025093H]-<- v100[00614093H]-<-TDI\n"), 0u) << out;
    EXPECT_NE(out.find("18v02 has an IR of 8 bits"), std::string::npos) << out;
    EXPECT_EQ(out.find("Device ID code"), std::string::npos) << "nothing scanned with the wrong IR length";
    EXPECT_EQ(cable.devices[0].instructions_loaded, 1u) << "only the BYPASS load of the discovery";
}

// The target must be the bitstream's part; nothing is shut down otherwise.
TEST_P(ChainDiscovery, TargetIsTheBitstreamsPartOrNothingIsTouched)
{
    struct Case {
        std::vector<uint32_t> chain;
        const char *part;
        int32_t target; // -target, or -1
        int32_t chosen; // target index after a good start, -1 when refused
        const char *says;
    };
    const Case cases[] = {
        {{XC2S200}, "2s15tq144", -1, -1,
         "No device in the chain is the bitstream's part '2s15tq144' (chain from TDO: 0 XC2S200): nothing "
         "configured\n"},
        {{XC2S30}, "2s300epq208", -1, -1,
         "The bitstream's part '2s300epq208' is not a device this program knows (chain from TDO: 0 XC2S30): "
         "choose the device with -target\n"},
        {{XC2S30}, "2s300epq208", 0, 0, ""},
        {{XC2S15, XC2S200}, "2s15tq144", 1, -1,
         "Device 1 of the chain is the XC2S200, not the bitstream's part '2s15tq144': nothing configured\n"},
        {{XC2S15, XC2S200}, "", -1, 0, "The bitstream names no part: configuring device 0, the XC2S15 nearest TDO\n"},
        {{XC18V02, 0x1061C093}, "XC2S200PQ208", -1, 1, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.part) + " to " + std::to_string(c.target));
        fake::reset_engine_state();
        std::vector<fake::Device> devices;
        for (uint32_t id : c.chain)
            devices.push_back(id == XC18V02 ? fake::prom(id) : fake::spartan2(id));
        Chain cable(devices, order());
        std::strcpy(bitstream_part, c.part);
        settings.bscan_tdo_chips = c.target;
        testing::internal::CaptureStdout();
        const uint32_t result = jtag_start(devlist_idcode_for_part(c.part));
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(result, c.chosen >= 0 ? 0u : ERR_TARGET) << out;
        EXPECT_EQ(out.find(c.says), 0u) << out;
        EXPECT_EQ(out.find("FPGA shutdown") != std::string::npos, c.chosen >= 0) << out;
        if (c.chosen >= 0) {
            EXPECT_EQ(settings.bscan_tdo_chips, c.chosen);
        }
    }
}

// An index chosen on an earlier pass stays, and each new bitstream is checked against it.
TEST_P(ChainDiscovery, IndexChosenAutomaticallyIsCheckedOnLaterPasses)
{
    Chain cable({fake::spartan2(XC2S15), fake::spartan2(XC2S200)}, order());
    const struct {
        const char *part;
        uint32_t result;
        const char *says;
    } passes[] = {
        {"2s200pq208", 0, "JTAG Chain"},
        {"2s15tq144", ERR_TARGET, "Device 1 of the chain is the XC2S200, not the bitstream's part '2s15tq144'"},
        {"2s300epq208", ERR_TARGET, "The bitstream's part '2s300epq208' is not a device this program knows"},
    };
    for (const auto &p : passes) {
        std::strcpy(bitstream_part, p.part);
        testing::internal::CaptureStdout();
        EXPECT_EQ(jtag_start(devlist_idcode_for_part(p.part)), p.result) << p.part;
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(out.find(p.says), 0u) << out;
        EXPECT_EQ(settings.bscan_tdo_chips, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(BothEntryPoints, ChainDiscovery,
                         ::testing::Values(fake::Order::LsbFirst, fake::Order::MsbFirst),
                         [](const auto &info) {
                             return std::string(info.param == fake::Order::LsbFirst ? "Txrx" : "Xfer");
                         });

TEST(DeviceChainBuilder, ReadsNoCaptureBitsPastTheMeasuredLength)
{
    // IDCODE of a PROM (8 IR bits) but only 5 IR bits measured: no row fits.
    uint8_t ir[8] = {0x80, 0, 0, 0, 0, 0, 0, 0};
    uint8_t id[4];
    const uint32_t prom = XC18V02;
    for (int i = 0; i < 4; ++i) {
        uint8_t b = 0;
        for (int k = 0; k < 8; ++k)
            b = static_cast<uint8_t>(b | (((prom >> (8 * i + k)) & 1u) << (7 - k)));
        id[i] = b;
    }
    chain_entry table[CHAIN_CAPACITY] = {};
    EXPECT_EQ(build_device_chain(table, CHAIN_CAPACITY, ir, 5, id, 32), -1);
    EXPECT_EQ(build_device_chain(table, CHAIN_CAPACITY, ir, 8, id, 32), 1);
    EXPECT_STREQ(table[0].name, "18v02");
}

} // namespace
