#!/usr/bin/python3
"""Status records per second on a paced line: torvix-cli monitor --fast beside the limit the
wire times allow, beside mbpoll at its fastest (-l 100) and beside the 100 ms tick.

Each master polls its own torvix-sim --pace (115200,e,8,1, turnaround 2 ms), all at the same
time; every figure comes from the simulators' request and reply logs (CLOCK_MONOTONIC, µs),
so the masters are measured alike. Standard library only.

Usage: bench/fast_cadence.py [--seconds N] [--build DIR]
"""

import argparse
import bisect
import os
import platform
import signal
import subprocess
import sys
import tempfile
import time

BAUD = 115200
BITS = 11  # start, 8 data, even parity, stop
TURNAROUND_MS = 2.0
SILENCE_MS = 1.75  # between a reply and the next request, above 19200 baud
COUNTER_EVERY_MS = 200.0
STATUS_REQUEST, STATUS_REPLY = 8, 133
COUNTER_REQUEST, COUNTER_REPLY = 8, 8
WARMUP_S = 1.0


def wire_ms(characters):
    return characters * BITS * 1000.0 / BAUD


def limit_per_second():
    """Status replies a second if every exchange took only its wire time, the turnaround and
    the silence, with one counter write every 200 ms."""
    status = wire_ms(STATUS_REQUEST + STATUS_REPLY) + TURNAROUND_MS + SILENCE_MS
    counter = wire_ms(COUNTER_REQUEST + COUNTER_REPLY) + TURNAROUND_MS + SILENCE_MS
    counters = 1000.0 / COUNTER_EVERY_MS
    return (1000.0 - counters * counter) / status, status, counter


def read_log(path):
    entries = []
    with open(path, encoding="ascii") as f:
        for line in f:
            parts = line.split()
            if len(parts) > 2:
                entries.append((int(parts[0]), parts[1:]))
    return entries


def start_sim(sim, link, requests, replies):
    proc = subprocess.Popen(
        [sim, "--pace", "--running", "--quiet", "--link", link, "--log-requests", requests,
         "--log-replies", replies],
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    if not proc.stdout.readline():
        raise RuntimeError("torvix-sim did not start")
    while not os.path.exists(link):
        time.sleep(0.01)
    return proc


def figures(work, name, start_us, end_us):
    requests = read_log(os.path.join(work, name + "-requests.log"))
    replies = read_log(os.path.join(work, name + "-replies.log"))
    status = [t for t, b in replies if b[1] == "04" and start_us <= t < end_us]
    counters = [t for t, b in requests if b[1] == "06" and b[3] == "90"]
    intervals = [(b - a) / 1000 for a, b in zip(counters, counters[1:])
                 if start_us <= a and b < end_us]
    reply_times = [t for t, _ in replies]
    gaps = []
    for t, _ in requests:
        i = bisect.bisect_left(reply_times, t) - 1
        if i >= 0 and start_us <= t < end_us:
            gaps.append((t - reply_times[i]) / 1000)
    seconds = (end_us - start_us) / 1e6
    return {
        "rate": len(status) / seconds,
        "records": len(status),
        "min_gap": min(gaps) if gaps else float("nan"),
        "median_gap": sorted(gaps)[len(gaps) // 2] if gaps else float("nan"),
        "max_counter": max(intervals) if intervals else float("nan"),
        "requests": len(requests),
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=20)
    parser.add_argument("--build", default=os.path.join(os.path.dirname(__file__), "..", "build"))
    opts = parser.parse_args()
    build = os.path.abspath(opts.build)
    sim, cli = os.path.join(build, "torvix-sim"), os.path.join(build, "torvix-cli")

    work = tempfile.mkdtemp(prefix="torvix-fast-")
    masters = {
        "torvix-cli --fast": ["monitor", "--fast"],
        "torvix-cli (100 ms tick)": ["monitor"],
        "mbpoll -l 100": None,
    }
    procs, names = [], {}
    try:
        for i, (label, args) in enumerate(masters.items()):
            name = f"m{i}"
            names[label] = name
            link = os.path.join(work, name + "-line")
            procs.append(start_sim(sim, link, os.path.join(work, name + "-requests.log"),
                                   os.path.join(work, name + "-replies.log")))
            if args is None:
                command = ["mbpoll", "-m", "rtu", "-a", "7", "-b", str(BAUD), "-P", "none",
                           "-t", "3", "-r", "301", "-c", "64", "-l", "100", link]
            else:
                command = [cli] + args + ["--port", link, "--settings", "115200,e,8,1",
                                          "--output", os.path.join(work, name + ".csv")]
            procs.append(subprocess.Popen(command, stdout=subprocess.DEVNULL,
                                          stderr=subprocess.DEVNULL))
        time.sleep(WARMUP_S)
        start_us = time.clock_gettime_ns(time.CLOCK_MONOTONIC) // 1000
        load_before = os.getloadavg()[0]
        time.sleep(opts.seconds)
        end_us = time.clock_gettime_ns(time.CLOCK_MONOTONIC) // 1000
        load_after = os.getloadavg()[0]
    finally:
        for proc in reversed(procs):
            proc.send_signal(signal.SIGINT)
        for proc in procs:
            try:
                proc.wait(5)
            except subprocess.TimeoutExpired:
                proc.kill()

    limit, status_ms, counter_ms = limit_per_second()
    cpu = next((l.split(":", 1)[1].strip() for l in open("/proc/cpuinfo")
                if l.startswith("model name")), platform.processor())
    print(f"Machine: {cpu}, {os.cpu_count()} cores, {platform.system()} {platform.release()}; "
          f"load average {load_before:.2f} before, {load_after:.2f} after")
    print(f"Line: {BAUD},e,8,1 paced by torvix-sim --pace, turnaround {TURNAROUND_MS} ms; "
          f"{opts.seconds:g} s measured after {WARMUP_S:g} s, all masters at once")
    print(f"Limit from the wire times: status exchange {status_ms:.2f} ms, counter write "
          f"{counter_ms:.2f} ms every {COUNTER_EVERY_MS:g} ms -> {limit:.1f} status records/s")
    print()
    print("| Master | status records/s | of the limit | min gap after a reply, ms "
          "| median gap, ms | longest counter interval, ms |")
    print("|---|---|---|---|---|---|")
    results = {}
    for label, name in names.items():
        f = figures(work, name, start_us, end_us)
        results[label] = f
        print(f"| {label} | {f['rate']:.1f} | {100 * f['rate'] / limit:.0f} % | "
              f"{f['min_gap']:.2f} | {f['median_gap']:.2f} | {f['max_counter']:.0f} |")
    fast = results["torvix-cli --fast"]
    print()
    ok_rate = fast["rate"] >= 0.9 * limit
    ok_gap = fast["min_gap"] >= SILENCE_MS
    print(f"Goal: --fast >= 90 % of the limit ({0.9 * limit:.1f}/s): "
          f"{'met' if ok_rate else 'NOT met'} ({fast['rate']:.1f}/s)")
    print(f"Goal: no request sooner than {SILENCE_MS} ms after a reply: "
          f"{'met' if ok_gap else 'NOT met'} (shortest {fast['min_gap']:.2f} ms)")
    print(f"Logs: {work}")
    return 0 if ok_rate and ok_gap else 1


if __name__ == "__main__":
    sys.exit(main())
