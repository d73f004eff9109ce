// The slave-serial strategy over stand-in entry points.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "driver_binding.h"
#include "xcclk.h"

namespace {

using clock_type = std::chrono::steady_clock;

std::vector<std::string> calls;
std::vector<clock_type::time_point> program_times;
int32_t done_level = 1;

int32_t VOK_CALL fake_program(int32_t level)
{
    calls.push_back("program " + std::to_string(level));
    program_times.push_back(clock_type::now());
    return 0;
}

int32_t VOK_CALL fake_tx(const uint8_t *data, int32_t count)
{
    calls.push_back("tx " + std::to_string(count) + " " + std::to_string(data[0]));
    return 0;
}

int32_t fake_done()
{
    calls.push_back("done");
    return done_level;
}

class SlaveSerial : public ::testing::Test {
protected:
    void SetUp() override
    {
        calls.clear();
        program_times.clear();
        done_level = 1;
        driver.xcclk_program = fake_program;
        driver.xcclk_tx = fake_tx;
        driver.xcclk_done = fake_done;
    }
    void TearDown() override
    {
        driver.xcclk_program = nullptr;
        driver.xcclk_tx = nullptr;
        driver.xcclk_done = nullptr;
    }
};

TEST_F(SlaveSerial, StartPulsesProgramLowThenReleasesIt50msApartAndChecksTheClear)
{
    done_level = 0; // a cleared FPGA
    const auto begin = clock_type::now();
    EXPECT_EQ(xcclk_start(0x00614093), 0u);
    const auto end = clock_type::now();
    EXPECT_EQ(calls, (std::vector<std::string>{"program 0", "program 1", "done"}));
    ASSERT_EQ(program_times.size(), 2u);
    EXPECT_GE(program_times[1] - program_times[0], std::chrono::milliseconds(50));
    EXPECT_GE(end - program_times[1], std::chrono::milliseconds(50));
    EXPECT_LT(end - begin, std::chrono::milliseconds(1000));

    done_level = 1; // PROGRAM did not reach the FPGA
    testing::internal::CaptureStdout();
    EXPECT_EQ(xcclk_start(0x00614093), ERR_TARGET);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("the FPGA was not cleared"), std::string::npos);
}

TEST_F(SlaveSerial, DoneIsReadOnceAfterTheLastBlockOnly)
{
    const uint8_t block[3] = {7, 8, 9};
    EXPECT_EQ(xcclk_write(block, 3, 0), 0u);
    EXPECT_EQ(calls, (std::vector<std::string>{"tx 3 7"}));
    EXPECT_EQ(xcclk_write(block, 2, 1), 0u);
    EXPECT_EQ(calls, (std::vector<std::string>{"tx 3 7", "tx 2 7", "done"}));
    done_level = 0;
    EXPECT_EQ(xcclk_write(block, 1, 1), 1u);
    EXPECT_EQ(calls.back(), "done");
    EXPECT_EQ(calls.size(), 5u);
}

} // namespace
