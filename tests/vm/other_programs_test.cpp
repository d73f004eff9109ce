// Other programs against the emulated chip through the guest's kernel: Debian's
// fxload loads one of our firmware images into a bare board, and OpenOCD's ulink
// adapter downloads its OpenULINK firmware into a ULINK board, reads the IDCODEs
// of that board's own chain and configures its Spartan-II with its virtex2
// driver. One guest boot runs them all.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "support/served_bench.h"

namespace {

using namespace testsupport;

// The bench's status line for USB board n.
std::string usb_line(const std::string &state, int n) {
    size_t at = state.find("usb " + std::to_string(n) + ": ");
    return at == std::string::npos ? "" : state.substr(at, state.find('\n', at) - at);
}

// Finds a board's node by its IDs, loads a firmware image with fxload, waits for
// the board to come back with strings, then starts OpenOCD's ulink adapter. The
// bench's control transfer lasts a millisecond and OpenULINK leaves the bus a
// fifth of one after it starts, so the first OpenOCD may lose the board while
// it lets go of the bare chip; a second start finds OpenULINK running.
const char SCRIPT[] = R"sh(
node() {
    for d in /sys/bus/usb/devices/[0-9]*; do
        [ "$(cat "$d/idVendor" 2>/dev/null):$(cat "$d/idProduct" 2>/dev/null)" = "$1" ] || continue
        printf '/dev/bus/usb/%03d/%03d\n' "$(cat "$d/busnum")" "$(cat "$d/devnum")"
        return
    done
}
fxload -t an21 -D "$(node 0547:2131)" -I "$1"
echo "fxload status $?"
i=0
while [ $i -lt 100 ]; do
    for d in /sys/bus/usb/devices/[0-9]*; do
        [ -f "$d/product" ] && echo "guest strings: $(cat "$d/manufacturer") $(cat "$d/product")" && break 2
    done
    sleep 0.1
    i=$((i + 1))
done
ocd() { openocd -f interface/ulink.cfg -c "init; scan_chain; shutdown" 2>&1; }
# Its first start downloads OpenULINK, which leaves the bus before OpenOCD lets go
# of the interface; a later start finds the firmware running.
tries=1
status=1
while :; do
    ocd && { status=0; break; }
    [ $tries -lt 3 ] || break
    tries=$((tries + 1))
    echo "openocd started again"
    sleep 1
done
echo "openocd status $status"
taps="jtag newtap prom tap -irlen 8 -expected-id 0x05025093; jtag newtap fpga tap -irlen 5 -expected-id 0x00614093"
openocd -f interface/ulink.cfg -c "adapter speed 3000; $taps; pld device virtex2 fpga.tap; init; pld load 0 $2; shutdown"
echo "pld load status $?"
)sh";

TEST(GuestPrograms, FxloadAndOpenOcdDriveTheEmulatedChip) {
    for (const char *tool : {"qemu-system-x86_64", "fxload", "openocd"})
        if (run({"sh", "-c", std::string("command -v ") + tool}, "").status != 0)
            GTEST_SKIP() << tool << " is not installed";
    if (!std::ifstream("/usr/share/openocd/OpenULINK/ulink_firmware.hex"))
        GTEST_SKIP() << "openocd's OpenULINK firmware is not installed";
    TempDir dir{"vokvm"};
    ::chmod(dir.path().c_str(), 0755);
    write_file(dir / "check.sh", SCRIPT);
    const std::string bit = mkbit(dir, "2s100", "d100.bit").path;
    ::chmod(bit.c_str(), 0644);
    ::chmod((dir / "check.sh").c_str(), 0644);
    // The ULINK's chip takes the host's first bulk OUT packet unarmed: OpenULINK
    // arms EP2 OUT only when the host selects the interface, which OpenOCD never does.
    Result r = run({bin("vokbench"), "run", "--chain", "2s200", "--usb", "0:an2135sc-jtag",
                    "--usb", "1:ulink+out_armed_at_reset=1:18v02,2s100", "--vm", "--vm-root", "--", "sh",
                    dir / "check.sh", VOK_USB_FIRMWARE_IHX, bit},
                   dir.path(), 240);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(has(r.out, "fxload status 0")) << r.out;
    EXPECT_TRUE(has(r.out, "guest strings: JTAG V009")) << r.out;
    std::string board0 = usb_line(r.out, 0), board1 = usb_line(r.out, 1);
    EXPECT_TRUE(has(board0, "strings \"JTAG\" \"V009\", loads 1,")) << r.out;
    EXPECT_TRUE(has(r.out, "tap/device found: 0x05025093")) << r.out; // the 18v02, nearest TDO
    EXPECT_TRUE(has(r.out, "tap/device found: 0x00614093")) << r.out; // the 2s100
    EXPECT_TRUE(has(board1, "c251:2710, strings \"OpenULINK\"")) << r.out;
    EXPECT_TRUE(has(board1, "loads 1,")) << r.out;
    EXPECT_TRUE(has(r.out, "pld load status 0")) << r.out;
    std::string chain1 = r.out.substr(std::min(r.out.size(), r.out.find(board1)));
    EXPECT_TRUE(has(chain1, "configured yes, DONE 1, INIT 1, status 00007740, CRC errors 0")) << r.out;
}

} // namespace
