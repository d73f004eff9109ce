// The driver loader, in process against the test driver libraries.
#include <gtest/gtest.h>

#include "helpers.h"
#include "driver_binding.h"
#include "loader.h"
#include "modes.h"
#include "vokisp_jtag.h"
#include "xcclk.h"

#ifndef VOK_BIN_DIR
#error "VOK_BIN_DIR must name the folder of the built drivers"
#endif

namespace {

std::string driver_path(const char *name) { return std::string(VOK_BIN_DIR) + "/" + name; }

class Loader : public ::testing::Test {
protected:
    // dll_setup with its console output.
    int32_t setup(const std::string &name, int32_t mode)
    {
        testing::internal::CaptureStdout();
        const int32_t r = dll_setup(name.c_str(), mode);
        out = testing::internal::GetCapturedStdout();
        return r;
    }
    void TearDown() override { dll_end(); }

    std::string out;
    vt::InTempDir cwd;
};

TEST_F(Loader, XferIsPreferredAndItsTdoIsTakenAsStreamOrder)
{
    driver.bscan_convert_bit_order_in = 1;
    ASSERT_EQ(setup(driver_path("vok_fake_xfer"), MODE_BSCAN), 1);
    EXPECT_EQ(out, "");
    EXPECT_EQ(driver.bscan_convert_bit_order_in, 0);
    ASSERT_NE(driver.jtag_txrx, nullptr);
    EXPECT_NE(driver.jtag_version, nullptr);
    EXPECT_EQ(driver.sh_start, &jtag_start);
    EXPECT_EQ(driver.sh_write, &jtag_write);

    // Captured bits 1, 1, 0, 0, 0 arrive first bit in the most significant place.
    vt::write_file("fake.cfg", "tdo c0\n");
    uint8_t tdo = 0xFF;
    driver.jtag_txrx(nullptr, &tdo, 5, 0, 0);
    EXPECT_EQ(tdo, 0xC0);
}

TEST_F(Loader, TxrxIsTheFallbackWithItsTdoLeastSignificantBitFirst)
{
    driver.bscan_convert_bit_order_in = 0;
    ASSERT_EQ(setup(driver_path("vok_fake"), MODE_BSCAN), 1);
    EXPECT_EQ(out, "DLL function 'jtag_xfer' is not found\n");
    EXPECT_EQ(driver.bscan_convert_bit_order_in, 1);
    vt::write_file("fake.cfg", "tdo c0\n");
    uint8_t tdo = 0xFF;
    driver.jtag_txrx(nullptr, &tdo, 5, 0, 0);
    EXPECT_EQ(tdo, 0x03);
    EXPECT_NE(driver.sh_init, nullptr);
    EXPECT_NE(driver.sh_power, nullptr);
    EXPECT_NE(driver.sh_end, nullptr);
}

TEST_F(Loader, MissingVersionIsReportedButNotRequired)
{
    ASSERT_EQ(setup(driver_path("vok_fake_nover"), MODE_BSCAN), 1);
    EXPECT_EQ(out, "DLL function 'jtag_xfer' is not found\nDLL function 'jtag_version' is not found\n");
    EXPECT_EQ(driver.jtag_version, nullptr);
    ASSERT_EQ(setup(driver_path("vok_fake_nover"), MODE_SSERIAL), 1);
    EXPECT_EQ(out, "DLL function 'jtag_version' is not found\n");
    EXPECT_EQ(driver.sh_start, &xcclk_start);
}

TEST_F(Loader, BoundaryScanWithoutTheJtagSetFailsAndNeverFallsBackToSlaveSerial)
{
    EXPECT_EQ(setup(driver_path("vok_fake_nojtag"), MODE_BSCAN), 0);
    EXPECT_EQ(out, "DLL function 'jtag_init' is not found\n"
                   "DLL function 'jtag_power' is not found\n"
                   "DLL function 'jtag_end' is not found\n");
    EXPECT_EQ(driver.dllHandle, nullptr);
    EXPECT_EQ(driver.sh_init, nullptr);
}

TEST_F(Loader, SlaveSerialWithoutItsSetReportsAllSix)
{
    EXPECT_EQ(setup(driver_path("vok_fake_noss"), MODE_SSERIAL), 0);
    EXPECT_EQ(out, "DLL function 'ss_init' is not found\n"
                   "DLL function 'ss_power' is not found\n"
                   "DLL function 'ss_tx' is not found\n"
                   "DLL function 'ss_program' is not found\n"
                   "DLL function 'ss_done' is not found\n"
                   "DLL function 'ss_end' is not found\n");
    EXPECT_EQ(driver.dllHandle, nullptr);
}

TEST_F(Loader, ModesWithoutAStrategyLoadAndReleaseSilently)
{
    for (int32_t mode : {MODE_MSERIAL, MODE_SPARALLEL}) {
        EXPECT_EQ(setup(driver_path("vok_fake"), mode), 0);
        EXPECT_EQ(out, "");
        EXPECT_EQ(driver.dllHandle, nullptr);
    }
}

TEST_F(Loader, NamesAreTriedAsTypedThenInLowerCase)
{
    namespace fs = std::filesystem;
    fs::copy_file(driver_path("vok_fake") + ".so", "Vok_Mixed.so");
    fs::copy_file(driver_path("vok_fake") + ".so", "vok_lower.so");
    EXPECT_EQ(setup("./Vok_Mixed", MODE_BSCAN), 1);
    dll_end();
    EXPECT_EQ(setup("./VOK_LOWER", MODE_BSCAN), 1);
    dll_end();
    EXPECT_EQ(setup("./NoSuch_Driver", MODE_BSCAN), 0);
    EXPECT_EQ(out, "Can't open './nosuch_driver.DLL'\n");
    // Without a '/' the working folder is not searched.
    EXPECT_EQ(setup("vok_lower", MODE_BSCAN), 0);
    EXPECT_EQ(out, "Can't open 'vok_lower.DLL'\n");
}

} // namespace
