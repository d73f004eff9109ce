// The bench's simulated time for the USB boards: the same run gives the same bus
// figures whatever else the machine is doing.
#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "support/served_bench.h"

namespace {

using namespace testsupport;

// "cycles N, packets out N in N, naks N, bulk_us N" of board 0.
std::string bus_figures(const std::string &out) {
    std::smatch m;
    if (!std::regex_search(out, m, std::regex(R"(usb 0: .*(cycles \d+, packets out \d+ in \d+, naks \d+, bulk_us \d+))")))
        return "";
    return m[1];
}

TEST(UsbBoardTime, TheSameRunTwiceUnderLoadGivesTheSameBusFigures) {
    struct Case {
        const char *board, *driver;
    } cases[] = {{"an2135sc-jtag", "vok_usb"}, {"spi", "vok_usb2"}, {"qrt", "vok_qrt"}};
    TempDir dir;
    Bitstream bit = mkbit(dir, "2s15", "d15.bit");
    // Two busy loops take the processor from the bench and the program at odd moments.
    std::vector<std::unique_ptr<Background>> load;
    for (int i = 0; i < 2; ++i)
        load.push_back(std::make_unique<Background>(std::vector<std::string>{"sh", "-c", "while :; do :; done"},
                                                    dir.path(), dir / ("load" + std::to_string(i))));
    for (const Case &c : cases) {
        std::string first;
        for (int run_no = 0; run_no < 2; ++run_no) {
            Result r = run({bin("vokbench"), "run", "--chain", "2s15", "--usb", std::string("0:") + c.board, "--",
                            bin("vokusb"), bit.path, "-driver", c.driver},
                           dir.path(), 60);
            ASSERT_EQ(r.status, 0) << c.driver << "\n" << r.out;
            std::string figures = bus_figures(r.out);
            ASSERT_FALSE(figures.empty()) << c.driver << "\n" << r.out;
            if (run_no == 0) first = figures;
            else EXPECT_EQ(figures, first) << c.driver;
        }
    }
}

} // namespace
