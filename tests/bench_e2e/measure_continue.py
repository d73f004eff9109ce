#!/usr/bin/env python3
"""Figures for `vokusb -continue` on the bench, through vok_xpar and vok_usb:
the port accesses or USB packets that five seconds of waiting cost, and the time
from a lost design (a PROGRAM pulse, the supply off 0.3 s right after "Complete!",
a 50 ms supply glitch during the wait) to the FPGA configured again.
Usage: measure_continue.py BIN_DIR [PART] [--serial]; VOKUSB=PATH runs another
vokusb (kept in BIN_DIR, where it finds the drivers)."""
import os, re, subprocess, sys, tempfile, time

bin_dir = os.path.abspath(sys.argv[1])
args = sys.argv[2:]
serial = "--serial" in args
part = next((a for a in args if not a.startswith("-")), "2s100")
vokusb = os.environ.get("VOKUSB", f"{bin_dir}/vokusb")


def ctl(sock, *words):
    return subprocess.run([f"{bin_dir}/vokbench", "ctl", "--socket", sock, *words],
                          capture_output=True, text=True).stdout


def device(sock):
    m = re.search(r"configured (yes|no), DONE \d.*configurations (\d+)", ctl(sock, "status"))
    return m.group(1) == "yes", int(m.group(2))


def wait_for(pred, timeout_s):
    end = time.monotonic() + timeout_s
    while time.monotonic() < end:
        if pred():
            return True
        time.sleep(0.005)
    return False


cables = [("vok_xpar", ["--port", "0x378:" + ("xilinx-ss" if serial else "xilinx")]),
          ("vok_usb", ["--usb", "0:" + ("an2135sc-ss" if serial else "an2135sc-jtag")])]
for driver, bench_options in cables:
    with tempfile.TemporaryDirectory() as work:
        sock = os.path.join(work, "bench.sock")
        bench = subprocess.Popen([f"{bin_dir}/vokbench", "serve", "--socket", sock, "--chain", part, *bench_options],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(lambda: os.path.exists(sock), 5)
        time.sleep(0.2)
        subprocess.run([f"{bin_dir}/vokbench", "mkbit", "--part", part, "-o", f"{work}/d.bit",
                        "--startup", "cclk" if serial else "jtag"], check=True, capture_output=True)
        log = f"{work}/vokusb.log"
        run = subprocess.Popen([vokusb, "d.bit", "-driver", driver, "-continue", "-mode", "sserial" if serial else "bscan"],
                               cwd=work, stdout=open(log, "wb"), stderr=subprocess.STDOUT,
                               env={**os.environ, "VOKBENCH": sock})
        out = lambda: open(log, "rb").read().decode(errors="replace")
        wait_for(lambda: out().count("Complete!") == 1, 30)
        wait_for(lambda: out().count("Waiting for update") == 2, 5)
        time.sleep(0.3)

        ctl(sock, *(["counts", "reset"] if driver == "vok_xpar" else ["usb", "0", "reset-counts"]))
        before = device(sock)[1]
        time.sleep(5)
        state = ctl(sock, "status")
        if driver == "vok_xpar":
            m = re.search(r"reads (\d+), writes (\d+)", state)
            cost = f"port reads {int(m.group(1)) / 5:.0f}/s, writes {int(m.group(2)) / 5:.0f}/s"
        else:
            m = re.search(r"packets out (\d+) in (\d+)", state)
            cost = f"USB packets out {int(m.group(1)) / 5:.0f}/s, in {int(m.group(2)) / 5:.0f}/s"
        print(f"{driver}: 5 s of waiting: configurations {before} -> {device(sock)[1]}; {cost}")

        # Each case starts where the one before ended, on its "Complete!".
        for what, loss in [("PROGRAM pulse during the wait", "program"),
                           ("supply off 0.3 s right after Complete!", "off"),
                           ("50 ms supply glitch during the wait", "glitch")]:
            completes = out().count("Complete!")
            before = device(sock)[1]
            if loss != "off":
                wait_for(lambda: out().count("Waiting for update") > completes, 5)
                time.sleep(0.25)
            if loss == "program":
                ctl(sock, "program", "0")
            else:
                ctl(sock, "power", "off")
                time.sleep(0.3 if loss == "off" else 0.05)
                ctl(sock, "power", "on")
            back = time.monotonic()
            ok = wait_for(lambda: device(sock) == (True, before + 1), 10)
            print(f"{driver}: {what}: configured again {'yes' if ok else 'no'}, configurations {before} -> "
                  f"{device(sock)[1]}, {time.monotonic() - back:.2f} s after the supply or PROGRAM returned")
            wait_for(lambda: out().count("Complete!") > completes, 5)
        run.terminate()
        run.wait()
        bench.terminate()
        bench.wait()
