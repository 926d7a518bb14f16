#!/usr/bin/python3
"""Measures one Modbus master polling torvix-sim: CPU, peak RSS, poll period, start-up time.

Runs torvix-tp (in its own folder, with its own тп.ini, on a private Xvfb) and then mbpoll,
each against a fresh torvix-sim, and prints the figures side by side. Standard library only.
Called by bench/measure_polling.sh, which builds the programs and describes the machine.
"""

import argparse
import math
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

CLK_TCK = os.sysconf("SC_CLK_TCK")
WARMUP_S = 2.0  # start-up work (fonts, first paint) stays out of the steady-state figures


def monotonic_us():
    return time.clock_gettime_ns(time.CLOCK_MONOTONIC) // 1000


def cpu_ticks(pid):
    with open(f"/proc/{pid}/stat", encoding="ascii") as f:
        text = f.read()
    fields = text[text.rfind(")") + 2 :].split()
    return int(fields[11]) + int(fields[12])  # utime + stime, all threads


def run_ns(pid):
    """Time on the CPU of all live threads, in ns, from the scheduler's own account."""
    total = 0
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/schedstat", encoding="ascii") as f:
                total += int(f.read().split()[0])
        except (FileNotFoundError, ProcessLookupError):
            pass
    return total


def status_kib(pid, key):
    with open(f"/proc/{pid}/status", encoding="ascii") as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return 0


def percentile(sorted_values, p):
    """Nearest-rank percentile."""
    rank = max(1, math.ceil(p / 100.0 * len(sorted_values)))
    return sorted_values[rank - 1]


class Processes:
    """Everything started here, stopped in reverse order whatever happens."""

    def __init__(self):
        self.started = []

    def start(self, args, stop_signal=signal.SIGTERM, **kwargs):
        proc = subprocess.Popen(args, **kwargs)
        self.started.append((proc, stop_signal))
        return proc

    def stop(self, proc):
        for i, (p, sig) in enumerate(self.started):
            if p is proc:
                del self.started[i]
                if p.poll() is None:
                    p.send_signal(sig)
                    try:
                        p.wait(timeout=5)
                    except subprocess.TimeoutExpired:
                        p.kill()
                        p.wait()
                return

    def stop_all(self):
        while self.started:
            self.stop(self.started[-1][0])


def start_xvfb(procs):
    read_end, write_end = os.pipe()
    xvfb = procs.start(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
        pass_fds=(write_end,),
        stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL,
    )
    os.close(write_end)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(read_end, 16)
        if not chunk:
            raise RuntimeError("Xvfb did not start")
        number += chunk
    os.close(read_end)
    return xvfb, ":" + number.decode().strip()


def start_sim(procs, sim, link, log):
    proc = procs.start(
        [sim, "--link", link, "--log-requests", log, "--quiet", "--running"],
        stdout=subprocess.PIPE,
        stderr=subprocess.DEVNULL,
    )
    if not proc.stdout.readline():
        raise RuntimeError("torvix-sim did not start")
    deadline = time.monotonic() + 5
    while not os.path.exists(link):
        if time.monotonic() > deadline:
            raise RuntimeError("torvix-sim made no link")
        time.sleep(0.01)
    return proc


def read_request_times(log):
    times = []
    try:
        with open(log, encoding="ascii") as f:
            for line in f:
                parts = line.split()
                if len(parts) > 1:
                    times.append(int(parts[0]))
    except FileNotFoundError:
        pass
    return times


def measure(procs, args, env, log, seconds, stop_signal, xvfb=None):
    """Runs args and returns its figures; the CPU of xvfb, when given, is sampled too."""
    errors = log + ".stderr"
    with open(errors, "wb") as err:
        t0 = monotonic_us()
        proc = procs.start(args, stop_signal=stop_signal, env=env,
                           stdout=subprocess.DEVNULL, stderr=err)
    time.sleep(WARMUP_S)
    if proc.poll() is not None:
        with open(errors, encoding="utf-8", errors="replace") as err:
            raise RuntimeError(f"{args[0]} ended early: {err.read()}")
    a_time, a_ticks, a_ns = monotonic_us(), cpu_ticks(proc.pid), run_ns(proc.pid)
    a_xvfb = cpu_ticks(xvfb.pid) if xvfb else 0
    time.sleep(seconds)
    b_time, b_ticks, b_ns = monotonic_us(), cpu_ticks(proc.pid), run_ns(proc.pid)
    b_xvfb = cpu_ticks(xvfb.pid) if xvfb else 0
    hwm = status_kib(proc.pid, "VmHWM")
    procs.stop(proc)

    wall_s = (b_time - a_time) / 1e6
    times = [t for t in read_request_times(log) if t >= t0]
    window = [t for t in times if a_time <= t <= b_time]
    periods = sorted((b - a) / 1000.0 for a, b in zip(window, window[1:]))
    # A timer keeps its schedule: how late each request is behind a 100 ms grid through the
    # earliest one. Meaningless for a master that sleeps 100 ms after each exchange.
    offsets = [(t - window[0]) / 1000.0 - 100.0 * i for i, t in enumerate(window)]
    lateness = sorted(o - min(offsets) for o in offsets) if offsets else []
    return {
        "cpu": 100.0 * (b_ticks - a_ticks) / CLK_TCK / wall_s,
        "cpu_sched": 100.0 * (b_ns - a_ns) / 1e9 / wall_s,
        "cpu_total": 100.0 * b_ticks / CLK_TCK / ((b_time - t0) / 1e6),
        "xvfb_cpu": 100.0 * (b_xvfb - a_xvfb) / CLK_TCK / wall_s if xvfb else None,
        "hwm_mib": hwm / 1024.0,
        "first_ms": (times[0] - t0) / 1000.0 if times else float("nan"),
        "periods": periods,
        "lateness": lateness,
    }


def period_figures(periods):
    if not periods:
        return {"n": 0}
    return {
        "n": len(periods),
        "median": statistics.median(periods),
        "p1": percentile(periods, 1),
        "p99": percentile(periods, 99),
        "min": periods[0],
        "max": periods[-1],
        "outside5": sum(1 for p in periods if abs(p - 100.0) > 5.0),
        "dev99": percentile(sorted(abs(p - 100.0) for p in periods), 99),
    }


def run_program(procs, work, tp, sim, seconds, platform):
    app_dir = os.path.join(work, "app")
    os.mkdir(app_dir)
    shutil.copy2(tp, os.path.join(app_dir, "torvix-tp"))
    link = os.path.join(work, "tty-tp")
    log = os.path.join(work, "tp-requests.log")
    with open(os.path.join(app_dir, "тп.ini"), "w", encoding="utf-8") as f:
        f.write("[PC config]\nCOM=1\nCOMSettings=115200,e,8,1\n"
                f"[QDL config]\nMBSLAD=7\n[Ports]\nCOM1={link}\n")
    env = dict(os.environ, QT_QPA_PLATFORM=platform, XDG_RUNTIME_DIR=work)
    xvfb = None
    if platform == "xcb":
        xvfb, env["DISPLAY"] = start_xvfb(procs)
    else:
        env.pop("DISPLAY", None)
    simproc = start_sim(procs, sim, link, log)
    result = measure(procs, [os.path.join(app_dir, "torvix-tp")], env, log, seconds,
                     signal.SIGTERM, xvfb)
    procs.stop(simproc)
    if xvfb:
        procs.stop(xvfb)
    return result


def run_mbpoll(procs, work, sim, seconds):
    link = os.path.join(work, "tty-mbpoll")
    log = os.path.join(work, "mbpoll-requests.log")
    simproc = start_sim(procs, sim, link, log)
    args = ["mbpoll", "-m", "rtu", "-a", "7", "-b", "115200", "-P", "none",
            "-t", "3", "-r", "301", "-c", "64", "-l", "100", link]
    result = measure(procs, args, dict(os.environ), log, seconds, signal.SIGINT)
    procs.stop(simproc)
    return result


def fmt(value, digits=2):
    if value is None or (isinstance(value, float) and math.isnan(value)):
        return "n/a"
    return f"{value:.{digits}f}"


def report(tp, mb, seconds, platform):
    """One table: a row per measure, torvix-tp beside mbpoll, the target and the verdict."""
    runs = [tp] + ([mb] if mb else [])
    for r in runs:
        r.update(period_figures(r["periods"]))

    def row(label, show, target="", ok=None, ratio_of=None):
        ratio = ""
        if mb and ratio_of and ratio_of(mb):
            ratio = f"{ratio_of(tp) / ratio_of(mb):.2f}"
        cells = [show(r) for r in runs] + [""] * (2 - len(runs))
        verdict = "" if ok is None else ("met" if ok else "MISSED")
        return [label] + cells + [ratio, target, verdict]

    def num(key, digits=2):
        return lambda r: fmt(r.get(key), digits)

    def two(a, b):
        return lambda r: f"{fmt(r.get(a))} / {fmt(r.get(b))}"

    def value(key):
        return lambda r: r.get(key) or 0.0

    has_periods = tp["n"] > 0
    rows = [
        row("CPU, % of one core (utime+stime)", num("cpu"), "<= 1 %", tp["cpu"] <= 1.0,
            value("cpu")),
        row("CPU, % of one core (scheduler run time)", num("cpu_sched"), ratio_of=value("cpu_sched")),
        row("CPU, % of one core, from start", num("cpu_total"), ratio_of=value("cpu_total")),
        row("Peak RSS (VmHWM), MiB", num("hwm_mib", 1), "<= 40 MB", tp["hwm_mib"] <= 40.0,
            value("hwm_mib")),
        row("Poll period median, ms", num("median"), "100.0 +- 0.5",
            has_periods and abs(tp["median"] - 100.0) <= 0.5),
        row("Poll period off 100 ms, p99, ms", num("dev99"), "<= 5",
            has_periods and tp["dev99"] <= 5.0),
        row("Poll period p1 / p99, ms", two("p1", "p99")),
        row("Poll period min / max, ms", two("min", "max")),
        row("Periods off 100 ms by > 5 ms", lambda r: f"{r.get('outside5', 0)} of {r['n']}"),
        row("Start to first request, ms", num("first_ms", 1), "<= 300",
            tp["first_ms"] <= 300.0),
    ]
    if tp["lateness"]:
        late = tp["lateness"]
        rows.append(row("Request behind its 100 ms slot, median / p99, ms",
                        lambda r: f"{fmt(statistics.median(late))} / "
                                  f"{fmt(percentile(late, 99))}" if r is tp else ""))
    if tp["xvfb_cpu"] is not None:
        rows.append(row("Xvfb CPU while drawing torvix-tp, %",
                        lambda r: fmt(r["xvfb_cpu"]) if r is tp else ""))

    table = [["Measure", "torvix-tp", "mbpoll", "ratio", "target", "torvix-tp"]] + rows
    widths = [max(len(r[i]) for r in table) for i in range(len(table[0]))]
    print(f"\nSteady state over {seconds:.0f} s after {WARMUP_S:.0f} s warm-up; "
          f"torvix-tp on QT_QPA_PLATFORM={platform}.")
    for i, r in enumerate(table):
        print("  " + "  ".join(c.ljust(w) for c, w in zip(r, widths)).rstrip())
        if i == 0:
            print("  " + "  ".join("-" * w for w in widths))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--tp", required=True, help="torvix-tp executable")
    parser.add_argument("--sim", required=True, help="torvix-sim executable")
    parser.add_argument("--seconds", type=float, default=30.0)
    parser.add_argument("--platform", default="xcb", choices=("xcb", "offscreen"),
                        help="Qt platform of torvix-tp: xcb on a private Xvfb, or offscreen")
    parser.add_argument("--no-mbpoll", action="store_true", help="measure torvix-tp only")
    parser.add_argument("--keep", action="store_true", help="keep the work folder and logs")
    opts = parser.parse_args()

    def interrupted(signum, _frame):
        raise KeyboardInterrupt(signum)

    signal.signal(signal.SIGTERM, interrupted)
    procs = Processes()
    work = tempfile.mkdtemp(prefix="torvix-bench.")
    try:
        print(f"torvix-tp: polling torvix-sim for {opts.seconds:.0f} s ...", flush=True)
        tp = run_program(procs, work, os.path.abspath(opts.tp), os.path.abspath(opts.sim),
                         opts.seconds, opts.platform)
        mb = None
        if not opts.no_mbpoll:
            print(f"mbpoll: polling torvix-sim for {opts.seconds:.0f} s ...", flush=True)
            mb = run_mbpoll(procs, work, os.path.abspath(opts.sim), opts.seconds)
        report(tp, mb, opts.seconds, opts.platform)
    except KeyboardInterrupt:
        print("interrupted", file=sys.stderr)
        return 130
    except RuntimeError as e:
        print(f"error: {e}", file=sys.stderr)
        return 1
    finally:
        procs.stop_all()
        if opts.keep:
            print(f"work folder kept: {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
