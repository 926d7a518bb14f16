#!/usr/bin/python3
"""Poll period, start to first request, and recovery after an outage, on a pty and over TCP.

Runs torvix-cli monitor and torvix-tp (offscreen, from a folder of its own with its own тп.ini)
against torvix-sim, once on a pseudo-terminal and once with the simulator as a device server
on 127.0.0.1, and reads the figures from the simulator's --log-requests file (CLOCK_MONOTONIC
of each request's first byte). Standard library only.

  bench/line_figures.py --build build [--seconds 10]
"""

import argparse
import os
import shutil
import statistics
import subprocess
import tempfile
import time


def monotonic_us():
    return time.clock_gettime_ns(time.CLOCK_MONOTONIC) // 1000


def request_times(log):
    with open(log, encoding="ascii") as f:
        return [int(line.split()[0]) for line in f if line.strip()]


def run(build, program, line, seconds, sim_faults, tmp):
    log = os.path.join(tmp, f"{program}-{line}.log")
    sim = [os.path.join(build, "torvix-sim"), "--running", "--quiet", "--log-requests", log]
    sim += ["--link", os.path.join(tmp, "line")] if line == "pty" else ["--tcp-listen", "127.0.0.1:0"]
    peer = subprocess.Popen(sim + sim_faults, stdout=subprocess.PIPE, text=True)
    first = peer.stdout.readline().strip()
    port = os.path.join(tmp, "line") if line == "pty" else first

    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    if program == "cli":
        argv = [os.path.join(build, "torvix-cli"), "monitor", "--port", port,
                "--settings", "115200,e,8,1", "--output", os.devnull]
    else:
        folder = os.path.join(tmp, f"tp-{line}")
        os.makedirs(folder, exist_ok=True)
        shutil.copy(os.path.join(build, "torvix-tp"), folder)
        with open(os.path.join(folder, "тп.ini"), "w", encoding="utf-8") as ini:
            ini.write(f"[PC config]\r\nCOM=1\r\nCOMSettings=115200,e,8,1\r\n[Ports]\r\nCOM1={port}\r\n")
        argv = [os.path.join(folder, "torvix-tp")]
    started = monotonic_us()
    master = subprocess.Popen(argv, env=env, stderr=subprocess.DEVNULL)
    time.sleep(seconds)
    master.terminate()
    master.wait()
    peer.terminate()
    peer.wait()

    times = request_times(log)
    # The window's first second (first paint, fonts) stays out of the period and the outages.
    settled = [t for t in times if times and t - times[0] >= 1_000_000]
    gaps = [(b - a) / 1000 for a, b in zip(settled, settled[1:])]
    # Longer than any tick a loaded machine delays, shorter than any outage or reconnection.
    steady = sorted(g for g in gaps if g < 450)
    return {
        "first_ms": (times[0] - started) / 1000 if times else float("nan"),
        "median_ms": statistics.median(steady) if steady else float("nan"),
        "p99_ms": steady[int(0.99 * (len(steady) - 1))] if steady else float("nan"),
        "outages_ms": [g for g in gaps if g >= 450],
        "requests": len(times),
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", default="build")
    parser.add_argument("--seconds", type=float, default=10)
    args = parser.parse_args()
    outage_s = 0.5
    with tempfile.TemporaryDirectory() as tmp:
        for program in ("cli", "tp"):
            for line in ("pty", "tcp"):
                steady = run(args.build, program, line, args.seconds, [], tmp)
                hangup = run(args.build, program, line, args.seconds,
                             ["--hangup-after", "2", "--hangup-for", str(outage_s)], tmp)
                recovery = [g - outage_s * 1000 for g in hangup["outages_ms"]]
                print(f"{program:3} {line}: first request {steady['first_ms']:.0f} ms, period median "
                      f"{steady['median_ms']:.2f} ms, p99 {steady['p99_ms']:.2f} ms "
                      f"({steady['requests']} requests); after a {outage_s} s outage the next "
                      f"request came {', '.join(f'{r:.0f}' for r in recovery)} ms after the line "
                      f"was back")
                if line == "tcp":
                    dropped = run(args.build, program, line, args.seconds,
                                  ["--tcp-close-every", "20"], tmp)
                    print(f"{program:3} tcp: connection closed by the server every 20 requests; "
                          f"next request after "
                          f"{', '.join(f'{g:.0f}' for g in dropped['outages_ms'])} ms")


if __name__ == "__main__":
    main()
