#!/usr/bin/env python3
"""Figures for the parallel cables on the bench: port writes per configured bit,
wall and CPU time of a configuration (bench and vokusb together, and vokusb
alone), and the configuration time that ~1 us per port access implies on real
hardware. Usage: measure.py BIN_DIR [PART...]"""
import os, re, resource, subprocess, sys, tempfile, time

bin_dir = os.path.abspath(sys.argv[1])
parts = sys.argv[2:] or ["2s15", "2s30", "2s50", "2s100", "2s150", "2s200"]
cases = [("xilinx", "vok_xpar", "jtag"), ("altera", "vok_apar", "jtag"),
         ("xilinx-ss", "vok_xpar", "sserial"), ("altera-ss", "vok_apar", "sserial")]
NS_PER_ACCESS = 1000

def children_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime

with tempfile.TemporaryDirectory() as work:
    print("part   cable      mode     bits      writes    reads  writes/bit  wall_s  cpu_s  vokusb_cpu_s  at_1us_s")
    for part in parts:
        for cable, driver, mode in cases:
            startup = "jtag" if mode == "jtag" else "cclk"
            bit = os.path.join(work, f"{part}-{startup}.bit")
            if not os.path.exists(bit):
                subprocess.run([f"{bin_dir}/vokbench", "mkbit", "--part", part, "-o", bit, "--startup", startup],
                               check=True, capture_output=True)
            cpu0, t0 = children_cpu(), time.monotonic()
            p = subprocess.run([f"{bin_dir}/vokbench", "run", "--chain", part, "--port", f"0x378:{cable}", "--",
                                "/usr/bin/time", "-f", "VOKUSB_CPU %U %S", f"{bin_dir}/vokusb", bit,
                                "-driver", driver, "-mode", "bscan" if mode == "jtag" else "sserial"],
                               capture_output=True, text=True, timeout=300)
            wall, cpu = time.monotonic() - t0, children_cpu() - cpu0
            out = p.stdout + p.stderr
            bits = int(re.search(r"ConfigSize\s+(\d+)bits", out).group(1))
            m = re.search(r"port 0378: cable \S+, reads (\d+), writes (\d+)", out)
            reads, writes = int(m.group(1)), int(m.group(2))
            u, s = map(float, re.search(r"VOKUSB_CPU (\S+) (\S+)", out).groups())
            ok = "Complete!" in out and p.returncode == 0
            at_1us = (reads + writes) * NS_PER_ACCESS / 1e9
            print(f"{part:6} {cable:10} {mode:8} {bits:8} {writes:10} {reads:6} {writes / bits:10.3f} "
                  f"{wall:7.2f} {cpu:6.2f} {u + s:12.2f} {at_1us:9.2f}{'' if ok else '  FAILED'}")
