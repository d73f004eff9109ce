// The bench server in-process: port records split anywhere, answers in order,
// claims, and controllers beside a port client.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bench.h"
#include "bench_wire.h"
#include "server.h"
#include "support/files.h"

namespace {

class ServerThread : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    std::string path = dir / "s";
    bench::Bench bench;
    std::atomic<bool> stop{false};
    std::thread thread;
    int listen_fd = -1;

    void SetUp() override {
        bench::BenchConfig config;
        bench::parse_bench_args(config, {"--chain", "2s15", "--port", "0x378:xilinx", "--port", "0x278:none"});
        bench.configure(config);
        listen_fd = bench::listen_unix(path);
        thread = std::thread([this] {
            bench::Server server(bench, listen_fd);
            server.run([this] { return stop.load(); });
        });
    }
    void TearDown() override {
        stop = true;
        thread.join();
        ::close(listen_fd);
    }

    int connect_client() {
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strcpy(a.sun_path, path.c_str());
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
        timeval tv{5, 0}; // a missing answer fails the test instead of hanging it
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        return fd;
    }
    static void send_bytes(int fd, const std::vector<uint8_t> &b) {
        ASSERT_EQ(::send(fd, b.data(), b.size(), MSG_NOSIGNAL), ssize_t(b.size()));
    }
    static std::vector<uint8_t> recv_bytes(int fd, size_t n) {
        std::vector<uint8_t> out;
        uint8_t buf[256];
        while (out.size() < n) {
            ssize_t k = ::recv(fd, buf, std::min(sizeof buf, n - out.size()), 0);
            if (k <= 0) break;
            out.insert(out.end(), buf, buf + k);
        }
        return out;
    }
    static std::vector<uint8_t> rec(uint8_t op, uint16_t addr, uint8_t v = 0) {
        return {op, uint8_t(addr & 0xFF), uint8_t(addr >> 8), v};
    }
    std::string control(const std::string &req) {
        int fd = connect_client();
        std::string line = std::string(benchwire::CTL_PREFIX) + req + "\n";
        send_bytes(fd, std::vector<uint8_t>(line.begin(), line.end()));
        std::string out;
        char buf[4096];
        ssize_t k;
        while ((k = ::recv(fd, buf, sizeof buf, 0)) > 0) out.append(buf, size_t(k));
        ::close(fd);
        return out;
    }
};

TEST_F(ServerThread, RecordsSplitAnywhereAreAnsweredInOrder) {
    int fd = connect_client();
    std::vector<uint8_t> all = {'P', 'O', 'R', 'T', '\n'};
    for (auto &r : {rec('O', 0x378), rec('W', 0x378, 0x50), rec('R', 0x379), rec('W', 0x378, 0x10),
                    rec('R', 0x379), rec('R', 0x378), rec('R', 0x37A), rec('X', 0x378), rec('R', 0x379)})
        all.insert(all.end(), r.begin(), r.end());
    // One byte at a time: the hello and every record arrive in pieces.
    for (uint8_t b : all) send_bytes(fd, {b});
    std::vector<uint8_t> want = {1, 0x7F, 0xDF, 0x10, 0x0C, 1, 0xFF};
    EXPECT_EQ(recv_bytes(fd, want.size()), want);
    ::close(fd);
    EXPECT_NE(control("status").find("port 0378: cable xilinx, reads 4, writes 2"), std::string::npos);
}

TEST_F(ServerThread, APortHasOneClaimantAndMissingPortsRefuseTheOpen) {
    int a = connect_client(), b = connect_client();
    std::vector<uint8_t> hello = {'P', 'O', 'R', 'T', '\n'};
    send_bytes(a, hello);
    send_bytes(b, hello);
    send_bytes(a, rec('O', 0x378));
    EXPECT_EQ(recv_bytes(a, 1), std::vector<uint8_t>{1});
    send_bytes(b, rec('O', 0x378));
    EXPECT_EQ(recv_bytes(b, 1), std::vector<uint8_t>{0});
    send_bytes(b, rec('O', 0x3BC));
    EXPECT_EQ(recv_bytes(b, 1), std::vector<uint8_t>{0});
    // An empty port can be claimed and reads idle.
    send_bytes(b, rec('O', 0x278));
    send_bytes(b, rec('R', 0x279));
    EXPECT_EQ(recv_bytes(b, 2), (std::vector<uint8_t>{1, 0x7F}));
    // The claim ends with the connection.
    ::close(a);
    int c = connect_client();
    send_bytes(c, hello);
    bool claimed = false;
    for (int i = 0; i < 100 && !claimed; ++i) {
        send_bytes(c, rec('O', 0x378));
        claimed = recv_bytes(c, 1) == std::vector<uint8_t>{1};
        if (!claimed) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(claimed);
    // A controller is served while both port clients stay connected.
    EXPECT_EQ(control("power off"), "power off\n");
    send_bytes(c, rec('W', 0x378, 0x10));
    send_bytes(c, rec('R', 0x379));
    EXPECT_EQ(recv_bytes(c, 1), std::vector<uint8_t>{0xF7}); // unpowered: no sense, BUSY follows D6 = 0
    ::close(b);
    ::close(c);
}

TEST_F(ServerThread, APortLeftByAClientThatWentAwayIsFreeAtOnceAsItLeftIt) {
    std::vector<uint8_t> hello = {'P', 'O', 'R', 'T', '\n'};
    for (int attempt = 0; attempt < 5; ++attempt) {
        int a = connect_client();
        send_bytes(a, hello);
        send_bytes(a, rec('O', 0x378));
        ASSERT_EQ(recv_bytes(a, 1), std::vector<uint8_t>{1});
        // Writes still on their way when the client goes, as from a process killed
        // in its data phase; the last one sets the data pins.
        std::vector<uint8_t> writes;
        for (int i = 0; i < 20000; ++i) {
            auto r = rec('W', 0x378, uint8_t(i & 0x13));
            writes.insert(writes.end(), r.begin(), r.end());
        }
        auto last = rec('W', 0x378, uint8_t(0x40 + attempt));
        writes.insert(writes.end(), last.begin(), last.end());
        send_bytes(a, writes);
        ::close(a);
        int b = connect_client();
        std::vector<uint8_t> claim = hello;
        for (auto &r : {rec('O', 0x378), rec('R', 0x378), rec('X', 0x378)}) claim.insert(claim.end(), r.begin(), r.end());
        send_bytes(b, claim);
        EXPECT_EQ(recv_bytes(b, 3), (std::vector<uint8_t>{1, uint8_t(0x40 + attempt), 1})) << "attempt " << attempt;
        ::close(b);
    }
}

TEST_F(ServerThread, UnknownHelloOrRecordDropsOnlyThatClient) {
    int bad = connect_client();
    send_bytes(bad, {'H', 'I', '\n'});
    uint8_t byte = 0;
    EXPECT_EQ(::recv(bad, &byte, 1, 0), 0) << "the server closes the connection";
    ::close(bad);
    int odd = connect_client();
    std::vector<uint8_t> b = {'P', 'O', 'R', 'T', '\n'};
    auto q = rec('Q', 0x378);
    b.insert(b.end(), q.begin(), q.end());
    send_bytes(odd, b);
    EXPECT_EQ(::recv(odd, &byte, 1, 0), 0) << "the server closes the connection";
    ::close(odd);
    EXPECT_EQ(control("power on"), "power on\n");
    EXPECT_EQ(control("trace 0x999 on").rfind("error: no port", 0), 0u);
}

} // namespace
