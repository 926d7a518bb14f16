#!/usr/bin/env python3
"""Floods the line of a running torvix-tp and measures what that costs it.

Runs the real program (unchanged, on Xvfb) on a pseudo-terminal whose other end this script
holds. For --seconds it writes random bytes into the line as fast as the pty takes them,
while it samples the program's RSS and notes when each request arrives: the program sends one
request per poll tick, so their spacing is the spacing of the ticks. Then it stops the flood,
plays a well-behaved controller and counts the ticks until the program takes a reply (the
request after it is a different one). Prints the figures; exits 1 when a goal is missed:
RSS growth under 16 MB, no gap between ticks above 500 ms, a reply taken within two ticks.

Usage: bench/flood.py --program build/torvix-tp [--seconds 12]
"""

import argparse
import os
import pty
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import tty


def crc16(data):
    # Modbus CRC-16, bitwise, kept apart from the program's table-driven one.
    crc = 0xFFFF
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return bytes([crc & 0xFF, crc >> 8])


def reply_to(request):
    if request[1] == 4:
        body = bytes([request[0], 4, 128]) + bytes(range(128))
        return body + crc16(body)
    return request  # a write is answered by its echo


def rss_kb(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def find_program(path, timeout=15.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        for entry in os.listdir("/proc"):
            if entry.isdigit():
                try:
                    if os.readlink(f"/proc/{entry}/exe") == path:
                        return int(entry)
                except OSError:
                    pass
        time.sleep(0.05)
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--seconds", type=float, default=12.0)
    parser.add_argument("--rss-cap-mb", type=int, default=1024,
                        help="end the flood early when the program's RSS grew this much")
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="torvix-flood-")
    program = os.path.join(work, "torvix-tp")
    shutil.copy(args.program, program)
    master, slave = pty.openpty()
    tty.setraw(master)
    tty.setraw(slave)
    os.set_blocking(master, False)
    with open(os.path.join(work, "тп.ini"), "w") as ini:
        ini.write("[PC config]\nCOM=1\nCOMSettings=115200,e,8,1\n[QDL config]\nMBSLAD=7\n"
                  f"[Ports]\nCOM1={os.ttyname(slave)}\n")

    session = subprocess.Popen(
        ["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24", program],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    failed = []
    try:
        pid = find_program(program)
        if pid is None:
            sys.exit("flood.py: the program did not start")

        pending = b""

        def take_requests(now, answer):
            nonlocal pending
            arrived = []
            try:
                while True:
                    chunk = os.read(master, 4096)
                    if not chunk:
                        break
                    pending += chunk
            except BlockingIOError:
                pass
            while len(pending) >= 8:  # every request the program sends unprompted is 8 bytes
                request, pending = pending[:8], pending[8:]
                arrived.append((now, request))
                if answer:
                    os.write(master, reply_to(request))
            return arrived

        # Polling first, so the baseline is the program at work.
        start = time.monotonic()
        while time.monotonic() - start < 2.0:
            select.select([master], [], [], 0.02)
            take_requests(time.monotonic(), answer=True)
        rss_before = rss_kb(pid)

        noise = os.urandom(1 << 20)
        flooded = 0
        offset = 0
        ticks = []
        rss_peak = rss_before
        next_sample = 0.0
        start = time.monotonic()
        while (now := time.monotonic()) - start < args.seconds:
            readable, writable, _ = select.select([master], [master], [], 0.01)
            if readable:
                ticks += take_requests(now, answer=False)
            if writable:
                try:
                    written = os.write(master, noise[offset:offset + 65536])
                    flooded += written
                    offset = (offset + written) % (len(noise) - 65536)
                except BlockingIOError:
                    pass
            if now >= next_sample:
                rss_peak = max(rss_peak, rss_kb(pid))
                next_sample = now + 0.1
                if rss_peak - rss_before > args.rss_cap_mb * 1024:
                    failed.append(f"RSS cap of {args.rss_cap_mb} MB reached")
                    break
        flood_end = time.monotonic()
        flood_seconds = flood_end - start

        # A well-behaved controller from here on; a request that left before the flood ended
        # answers nothing.
        after = []
        while time.monotonic() - flood_end < 3.0 and len(after) < 10:
            select.select([master], [], [], 0.02)
            now = time.monotonic()
            for arrived, request in take_requests(now, answer=False):
                if arrived - flood_end > 0.005:
                    after.append(request)
                    os.write(master, reply_to(request))
        rss_peak = max(rss_peak, rss_kb(pid))
        rss_after = rss_kb(pid)

        gaps = sorted(b[0] - a[0] for a, b in zip(ticks, ticks[1:]))
        recovery = next((i + 2 for i in range(len(after) - 1) if after[i + 1] != after[i]), None)
        growth_mb = (rss_peak - rss_before) / 1024
        print(f"flood: {flood_seconds:.1f} s, {flooded / 1e6:.1f} MB written into the line "
              f"({flooded / 1e6 / flood_seconds:.2f} MB/s, as fast as the program let the pty take it)")
        print(f"RSS: {rss_before / 1024:.1f} MB before, {rss_peak / 1024:.1f} MB peak, "
              f"{rss_after / 1024:.1f} MB after; growth {growth_mb:.1f} MB")
        if gaps:
            p99 = gaps[min(len(gaps) - 1, int(0.99 * len(gaps)))]
            print(f"ticks during the flood: {len(ticks)} ({len(ticks) / flood_seconds:.1f}/s); "
                  f"interval median {gaps[len(gaps) // 2] * 1000:.0f} ms, "
                  f"p99 {p99 * 1000:.0f} ms, max {gaps[-1] * 1000:.0f} ms")
        print(f"after the flood: first reply taken at tick {recovery} "
              f"(requests: {' '.join(r[:2].hex() for r in after[:6])})")

        if growth_mb >= 16:
            failed.append(f"RSS grew {growth_mb:.1f} MB")
        if not gaps or gaps[-1] > 0.5:
            failed.append("ticks stalled during the flood")
        if recovery is None or recovery > 2:
            failed.append(f"reply taken at tick {recovery}")
    finally:
        os.killpg(session.pid, signal.SIGTERM)
        session.wait(timeout=10)
        os.close(master)
        os.close(slave)
        shutil.rmtree(work, ignore_errors=True)
    if failed:
        print("FAILED: " + "; ".join(failed))
        return 1
    print("OK")
    return 0


if __name__ == "__main__":
    sys.exit(main())
