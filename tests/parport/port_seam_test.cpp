// The port seam itself: batching of the bench's port client, the held port, and
// the search for the ppdev device.
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "bench_socket.h"
#include "port.h"
#include "port_client.h"
#include "support/files.h"
#include "test_bench.h"

namespace {

using vokhw::PortKind;

std::unique_ptr<benchwire::PortClient> connect(TestBench &bench, uint16_t base) {
    auto port = std::make_unique<benchwire::PortClient>(benchwire::connect_bench(bench.socket_path().c_str()));
    if (!port->open(base))
        return nullptr;
    return port;
}

// Waits a little so that anything sent has surely reached the server.
void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(30)); }

TEST(PortClient, WritesWaitForTheNextRead) {
    TestBench bench;
    bench.add_port(0x378);
    auto port = connect(bench, 0x378);
    ASSERT_NE(port, nullptr);
    port->write(0x378, 1);
    port->write(0x37A, 2);
    port->write(0x378, 3);
    settle();
    EXPECT_EQ(bench.record_count(), 1u); // only the open
    bench.script_reads({0x5C});
    EXPECT_EQ(port->read(0x379), 0x5C);
    std::vector<PortRecord> want = {{'O', 0x378, 0},
                                    {'W', 0x378, 1},
                                    {'W', 0x37A, 2},
                                    {'W', 0x378, 3},
                                    {'R', 0x379, 0x5C}};
    EXPECT_EQ(bench.records(), want);
}

TEST(PortClient, AFullBatchIsSentAndOrderIsKept) {
    TestBench bench;
    bench.add_port(0x278);
    auto port = connect(bench, 0x278);
    ASSERT_NE(port, nullptr);
    const int n = 3 * benchwire::PortClient::BATCH_RECORDS + 17;
    for (int i = 0; i < n; ++i)
        port->write(0x278, static_cast<uint8_t>(i * 7));
    settle();
    // Three full batches have gone out without waiting for a read.
    EXPECT_EQ(bench.record_count(), 1u + 3 * benchwire::PortClient::BATCH_RECORDS);
    port->read(0x279);
    auto log = bench.records();
    ASSERT_EQ(log.size(), static_cast<size_t>(n + 2));
    for (int i = 0; i < n; ++i)
        ASSERT_EQ(log[i + 1], (PortRecord{'W', 0x278, static_cast<uint8_t>(i * 7)})) << i;
    EXPECT_EQ(log.back().op, 'R');
}

TEST(PortClient, ReleaseSendsPendingWritesFirst) {
    TestBench bench;
    bench.add_port(0x378);
    auto port = connect(bench, 0x378);
    ASSERT_NE(port, nullptr);
    port->write(0x378, 0xAA);
    port->write(0x378, 0x55);
    port->release();
    EXPECT_TRUE(bench.wait_disconnected());
    std::vector<PortRecord> want = {
        {'O', 0x378, 0}, {'W', 0x378, 0xAA}, {'W', 0x378, 0x55}, {'X', 0x378, 0}};
    EXPECT_EQ(bench.records(), want);
}

TEST(PortClient, NoPortAtTheBaseRefusesTheOpen) {
    TestBench bench;
    EXPECT_EQ(connect(bench, 0x378), nullptr);
    EXPECT_EQ(benchwire::connect_bench("/nonexistent/folder/bench.sock"), -1);
    std::string too_long(200, 'x');
    EXPECT_EQ(benchwire::connect_bench(too_long.c_str()), -1);
}

TEST(PortClient, LostBenchReadsZeroAndDoesNotKillTheProcess) {
    TestBench bench;
    bench.add_port(0x378);
    bench.set_responder([](uint16_t, uint8_t, uint8_t) -> uint8_t { return 0xFF; });
    auto port = connect(bench, 0x378);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->read(0x379), 0xFF);
    bench.drop_connection();
    ASSERT_TRUE(bench.wait_disconnected());
    testing::internal::CaptureStderr();
    for (int i = 0; i < 5000; ++i) // enough to fill the batch and hit the closed socket
        port->write(0x378, 1);
    EXPECT_EQ(port->read(0x379), 0);
    EXPECT_EQ(port->read(0x379), 0);
    EXPECT_TRUE(port->broken());
    EXPECT_EQ(testing::internal::GetCapturedStderr().rfind("Lost the connection to the bench (VOKBENCH): ", 0), 0u);
    port->release();
}

class HeldPort : public ::testing::Test {
protected:
    void SetUp() override {
        bench_.add_port(0x378);
        bench_.add_port(0x278);
        ::setenv("VOKBENCH", bench_.socket_path().c_str(), 1);
    }
    void TearDown() override {
        vokhw::port_release();
        ::unsetenv("VOKBENCH");
    }
    TestBench bench_;
};

TEST_F(HeldPort, BenchIsChosenWhenVokbenchIsSet) {
    EXPECT_EQ(vokhw::port_acquire(0x378), PortKind::bench);
    EXPECT_EQ(vokhw::port_kind(), PortKind::bench);
    EXPECT_EQ(vokhw::port_held_base(), 0x378);
    // The same base again keeps the connection.
    EXPECT_EQ(vokhw::port_acquire(0x378), PortKind::bench);
    EXPECT_EQ(bench_.connections(), 1);
    EXPECT_TRUE(vokhw::port_release());
    EXPECT_EQ(vokhw::port_kind(), PortKind::none);
    EXPECT_EQ(vokhw::port_held_base(), -1);
    EXPECT_TRUE(bench_.wait_disconnected());
}

TEST_F(HeldPort, AnotherBaseReleasesTheFirst) {
    ASSERT_EQ(vokhw::port_acquire(0x378), PortKind::bench);
    vokhw::port_write(0x378, 0x11);
    ASSERT_EQ(vokhw::port_acquire(0x278), PortKind::bench);
    vokhw::port_write(0x278, 0x22);
    EXPECT_TRUE(vokhw::port_release());
    EXPECT_TRUE(bench_.wait_disconnected());
    std::vector<PortRecord> want = {{'O', 0x378, 0}, {'W', 0x378, 0x11}, {'X', 0x378, 0},
                                    {'O', 0x278, 0}, {'W', 0x278, 0x22}, {'X', 0x278, 0}};
    EXPECT_EQ(bench_.records(), want);
    EXPECT_EQ(bench_.connections(), 2);
}

TEST_F(HeldPort, OnlyTheThreeRegistersOfTheHeldPortAreReached) {
    // Nothing held: reads give 0, writes go nowhere.
    EXPECT_EQ(vokhw::port_read(0x379), 0);
    vokhw::port_write(0x378, 1);
    EXPECT_EQ(bench_.connections(), 0);

    ASSERT_EQ(vokhw::port_acquire(0x378), PortKind::bench);
    bench_.script_reads({0x33});
    vokhw::port_write(0x377, 1);
    vokhw::port_write(0x37B, 1);
    EXPECT_EQ(vokhw::port_read(0x380), 0);
    vokhw::port_write(0x37A, 0x0C);
    EXPECT_EQ(vokhw::port_read(0x378), 0x33);
    std::vector<PortRecord> want = {{'O', 0x378, 0}, {'W', 0x37A, 0x0C}, {'R', 0x378, 0x33}};
    EXPECT_EQ(bench_.records(), want);
}

TEST_F(HeldPort, BasesOutsideTheIoSpaceOrWithoutAPortGiveNoAccess) {
    EXPECT_EQ(vokhw::port_acquire(0xFFFE), PortKind::none);
    EXPECT_EQ(vokhw::port_acquire(-1), PortKind::none);
    EXPECT_EQ(vokhw::port_acquire(0x3BC), PortKind::none);
    EXPECT_EQ(vokhw::port_kind(), PortKind::none);
    ::setenv("VOKBENCH", "/nonexistent/bench.sock", 1);
    // A named bench that is not there is no access, never real hardware.
    EXPECT_EQ(vokhw::port_acquire(0x378), PortKind::none);
}

TEST(PpdevSearch, MatchesTheFirstNumberOfBaseAddr) {
    testsupport::TempDir dir("vokproc");
    const std::string &root = dir.path();
    auto add = [&](const std::string &name, const char *text) {
        ::mkdir((root + "/" + name).c_str(), 0700);
        if (text != nullptr)
            std::ofstream(root + "/" + name + "/base-addr") << text;
    };
    add("default", nullptr);
    add("parport0", "888\t1912\n");
    add("parport1", "632\t1656\n");
    add("parportx", "956\t1980\n");
    add("parport2", nullptr);

    EXPECT_EQ(vokhw::find_parport_device(0x378, root), "/dev/parport0");
    EXPECT_EQ(vokhw::find_parport_device(0x278, root), "/dev/parport1");
    EXPECT_EQ(vokhw::find_parport_device(0x778, root), ""); // an ECP address is not a base
    EXPECT_EQ(vokhw::find_parport_device(0x3BC, root), "");
    EXPECT_EQ(vokhw::find_parport_device(0x378, root + "/missing"), "");
}

} // namespace
