#!/usr/bin/python3
"""Measures one Modbus master polling torvix-sim: CPU, peak RSS, poll period, start-up time.

Runs torvix-tp (in its own folder, with its own тп.ini, on a private Xvfb), torvix-cli monitor
--output and mbpoll at the same time, each against its own torvix-sim, and prints the figures
side by side. With --companion a second torvix-tp runs beside the first with its window
"Графики и запись" open (opened with its keys through xdotool: every series shown, 10-minute
span). Standard library only.
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


def start_sim(procs, sim, link, log, line="pty"):
    """Starts a simulator on a pty reached through the symbolic link LINK, or listening on
    loopback TCP; returns what a master opens: the link's path or the tcp:// address."""
    where = ["--link", link] if line == "pty" else ["--tcp-listen", "127.0.0.1:0"]
    proc = procs.start(
        [sim, *where, "--log-requests", log, "--quiet", "--running"],
        stdout=subprocess.PIPE,
        stderr=subprocess.DEVNULL,
    )
    printed = proc.stdout.readline().decode().strip()
    if not printed:
        raise RuntimeError("torvix-sim did not start")
    if line == "tcp":
        return printed
    deadline = time.monotonic() + 5
    while not os.path.exists(link):
        if time.monotonic() > deadline:
            raise RuntimeError("torvix-sim made no link")
        time.sleep(0.01)
    return link


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


class Subject:
    """One master under measurement: how to start it, its simulator's request log, its Xvfb,
    and where its standard output goes (a master that records keeps its records in a file)."""

    def __init__(self, name, args, env, log, stop_signal, xvfb=None, stdout_file=None,
                 started=None):
        self.name, self.args, self.env, self.log = name, args, env, log
        self.stop_signal, self.xvfb, self.stdout_file = stop_signal, xvfb, stdout_file
        self.started = started  # called with the process once it runs


def measure(procs, subjects, seconds):
    """Runs all subjects at once, so that they share the machine's load, and returns the
    figures of each; the CPU of a subject's Xvfb, when it has one, is sampled too."""
    running = []
    for s in subjects:
        with open(s.log + ".stderr", "wb") as err, \
                open(s.stdout_file or os.devnull, "wb") as out:
            t0 = monotonic_us()
            running.append((s, t0, procs.start(s.args, stop_signal=s.stop_signal, env=s.env,
                                                stdout=out, stderr=err)))
    for s, _, proc in running:
        if s.started:
            s.started(proc)
    time.sleep(WARMUP_S)
    for s, _, proc in running:
        if proc.poll() is not None:
            with open(s.log + ".stderr", encoding="utf-8", errors="replace") as err:
                raise RuntimeError(f"{s.name} ended early: {err.read()}")
    a = [(monotonic_us(), cpu_ticks(p.pid), run_ns(p.pid),
          cpu_ticks(s.xvfb.pid) if s.xvfb else 0) for s, _, p in running]
    time.sleep(seconds)
    b = [(monotonic_us(), cpu_ticks(p.pid), run_ns(p.pid),
          cpu_ticks(s.xvfb.pid) if s.xvfb else 0) for s, _, p in running]
    hwm = [status_kib(p.pid, "VmHWM") for _, _, p in running]
    for _, _, proc in running:
        procs.stop(proc)

    results = {}
    for (s, t0, _), (a_time, a_ticks, a_ns, a_xvfb), (b_time, b_ticks, b_ns, b_xvfb), kib in zip(
            running, a, b, hwm):
        wall_s = (b_time - a_time) / 1e6
        times = [t for t in read_request_times(s.log) if t >= t0]
        window = [t for t in times if a_time <= t <= b_time]
        periods = sorted((y - x) / 1000.0 for x, y in zip(window, window[1:]))
        # A timer keeps its schedule: how late each request is behind a 100 ms grid through
        # the earliest one. Meaningless for a master that sleeps 100 ms after each exchange.
        offsets = [(t - window[0]) / 1000.0 - 100.0 * i for i, t in enumerate(window)]
        lateness = sorted(o - min(offsets) for o in offsets) if offsets else []
        results[s.name] = {
            "cpu": 100.0 * (b_ticks - a_ticks) / CLK_TCK / wall_s,
            "cpu_sched": 100.0 * (b_ns - a_ns) / 1e9 / wall_s,
            "cpu_total": 100.0 * b_ticks / CLK_TCK / ((b_time - t0) / 1e6),
            "xvfb_cpu": 100.0 * (b_xvfb - a_xvfb) / CLK_TCK / wall_s if s.xvfb else None,
            "hwm_mib": kib / 1024.0,
            "first_ms": (times[0] - t0) / 1000.0 if times else float("nan"),
            "periods": periods,
            "lateness": lateness,
        }
    return results


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


def open_companion(env, proc):
    """Alt+Г in the main window, as an operator opens "Графики"; waits until it is shown."""
    def xdotool(*words):
        return subprocess.run(["xdotool", *words], env=env, capture_output=True, text=True,
                              timeout=20).stdout.split()
    main = xdotool("search", "--sync", "--onlyvisible", "--pid", str(proc.pid))
    if not main:
        raise RuntimeError("no window of torvix-tp to open Графики from")
    xdotool("windowfocus", "--sync", main[-1])
    xdotool("key", "alt+Cyrillic_ghe")
    if not xdotool("search", "--sync", "--onlyvisible", "--name", "Графики и запись"):
        raise RuntimeError("Графики did not open")


def program_subject(procs, work, tp, sim, platform, companion=False, line="pty"):
    name = "torvix-tp + Графики" if companion else "torvix-tp"
    app_dir = os.path.join(work, "app-companion" if companion else "app")
    os.mkdir(app_dir)
    shutil.copy2(tp, os.path.join(app_dir, "torvix-tp"))
    link = os.path.join(work, "tty-tp-companion" if companion else "tty-tp")
    log = os.path.join(work, "tp-companion-requests.log" if companion else "tp-requests.log")
    port = start_sim(procs, sim, link, log, line)
    with open(os.path.join(app_dir, "тп.ini"), "w", encoding="utf-8") as f:
        f.write("[PC config]\nCOM=1\nCOMSettings=115200,e,8,1\n"
                f"[QDL config]\nMBSLAD=7\n[Ports]\nCOM1={port}\n")
    env = dict(os.environ, QT_QPA_PLATFORM=platform, XDG_RUNTIME_DIR=work)
    xvfb = None
    if platform == "xcb":
        xvfb, env["DISPLAY"] = start_xvfb(procs)
    else:
        env.pop("DISPLAY", None)
    if companion and platform != "xcb":
        raise RuntimeError("--companion needs --platform xcb: the window is opened with its keys")
    return Subject(name, [os.path.join(app_dir, "torvix-tp")], env, log, signal.SIGTERM, xvfb,
                   started=(lambda proc: open_companion(env, proc)) if companion else None)


def cli_subject(procs, work, cli, sim, line="pty"):
    log = os.path.join(work, "cli-requests.log")
    port = start_sim(procs, sim, os.path.join(work, "tty-cli"), log, line)
    args = [cli, "monitor", "--port", port, "--settings", "115200,e,8,1", "--format", "csv",
            "--output", os.path.join(work, "cli-records.csv")]
    return Subject("torvix-cli", args, dict(os.environ), log, signal.SIGINT)


def mbpoll_subject(procs, work, sim):
    link = os.path.join(work, "tty-mbpoll")
    log = os.path.join(work, "mbpoll-requests.log")
    start_sim(procs, sim, link, log)
    args = ["mbpoll", "-m", "rtu", "-a", "7", "-b", "115200", "-P", "none",
            "-t", "3", "-r", "301", "-c", "64", "-l", "100", link]
    # Its printed values go to a file, as torvix-cli's records do.
    return Subject("mbpoll", args, dict(os.environ), log, signal.SIGINT,
                   stdout_file=os.path.join(work, "mbpoll-values.txt"))


def fmt(value, digits=2):
    if value is None or (isinstance(value, float) and math.isnan(value)):
        return "n/a"
    return f"{value:.{digits}f}"


def report(results, seconds, platform):
    """One table: a row per measure, a column per master, ratios to mbpoll, goals."""
    names = [n for n in ("torvix-tp", "torvix-tp + Графики", "torvix-cli", "mbpoll")
             if n in results]
    for r in results.values():
        r.update(period_figures(r["periods"]))
    mb = results.get("mbpoll")
    ratio_names = [n for n in names if n != "mbpoll"] if mb else []

    def row(label, show, ratio_of=None):
        cells = [show(results[n], n) for n in names]
        ratios = []
        for n in ratio_names:
            ok = ratio_of and ratio_of(mb)
            ratios.append(f"{ratio_of(results[n]) / ratio_of(mb):.2f}" if ok else "")
        return [label] + cells + ratios

    def num(key, digits=2):
        return lambda r, _n: fmt(r.get(key), digits)

    def two(a, b):
        return lambda r, _n: f"{fmt(r.get(a))} / {fmt(r.get(b))}"

    def value(key):
        return lambda r: r.get(key) or 0.0

    rows = [
        row("CPU, % of one core (utime+stime)", num("cpu"), value("cpu")),
        row("CPU, % of one core (scheduler run time, all threads)", num("cpu_sched"),
            value("cpu_sched")),
        row("CPU, % of one core, from start", num("cpu_total"), value("cpu_total")),
        row("Peak RSS (VmHWM), MiB", num("hwm_mib", 1), value("hwm_mib")),
        row("Poll period median, ms", num("median")),
        row("Poll period off 100 ms, p99, ms", num("dev99")),
        row("Poll period p1 / p99, ms", two("p1", "p99")),
        row("Poll period min / max, ms", two("min", "max")),
        row("Periods off 100 ms by > 5 ms", lambda r, _n: f"{r.get('outside5', 0)} of {r['n']}"),
        row("Start to first request, ms", num("first_ms", 1)),
        row("Request behind its 100 ms slot, median / p99, ms",
            lambda r, n: f"{fmt(statistics.median(r['lateness']))} / "
                         f"{fmt(percentile(r['lateness'], 99))}"
            if r["lateness"] and n != "mbpoll" else ""),
        row("Xvfb CPU while drawing, %", lambda r, _n: fmt(r["xvfb_cpu"]) if r["xvfb_cpu"]
            is not None else ""),
    ]
    table = [["Measure"] + names + [f"{n} / mbpoll" for n in ratio_names]] + rows
    widths = [max(len(r[i]) for r in table) for i in range(len(table[0]))]
    print(f"\nAll measured at the same time, steady state over {seconds:.0f} s after "
          f"{WARMUP_S:.0f} s warm-up; torvix-tp on QT_QPA_PLATFORM={platform}.")
    for i, r in enumerate(table):
        print("  " + "  ".join(c.ljust(w) for c, w in zip(r, widths)).rstrip())
        if i == 0:
            print("  " + "  ".join("-" * w for w in widths))

    goals = []
    tp, cli = results.get("torvix-tp"), results.get("torvix-cli")
    if tp:
        goals.append(("torvix-tp CPU <= 1 % of a core", tp["cpu"] <= 1.0))
        goals.append(("torvix-tp peak RSS <= 40 MB", tp["hwm_mib"] * 1.048576 <= 40.0))
        if mb:
            limit = 2 * mb["cpu_sched"] + 0.05
            goals.append((f"torvix-tp steady state <= 2 x mbpoll + 0.05 = {limit:.3f} %",
                          tp["cpu_sched"] <= limit))
    open_ = results.get("torvix-tp + Графики")
    if tp and open_:
        extra = open_["cpu_sched"] - tp["cpu_sched"]
        goals.append((f"Графики open costs <= 1 point of a core more: {extra:+.3f}",
                      extra <= 1.0))
        goals.append((f"with Графики open, poll period median 100.0 +- 0.5 ms: "
                      f"{open_.get('median', float('nan')):.2f}",
                      abs(open_.get("median", 0.0) - 100.0) <= 0.5))
        goals.append((f"with Графики open, poll period p99 <= 105 ms: "
                      f"{open_.get('p99', float('nan')):.2f}", open_.get("p99", 1e9) <= 105.0))
    if cli:
        goals.append(("torvix-cli peak RSS <= 15 MB", cli["hwm_mib"] * 1.048576 <= 15.0))
        if mb:
            limit = 1.5 * mb["cpu_sched"]
            goals.append((f"torvix-cli CPU <= 1.5 x mbpoll = {limit:.3f} %",
                          cli["cpu_sched"] <= limit))
    if goals:
        print("\nGoals (CPU from the scheduler's run time):")
        for text, ok in goals:
            print(f"  {'met   ' if ok else 'MISSED'}  {text}")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--tp", required=True, help="torvix-tp executable")
    parser.add_argument("--cli", help="torvix-cli executable, measured beside the others")
    parser.add_argument("--sim", required=True, help="torvix-sim executable")
    parser.add_argument("--seconds", type=float, default=30.0)
    parser.add_argument("--platform", default="xcb", choices=("xcb", "offscreen"),
                        help="Qt platform of torvix-tp: xcb on a private Xvfb, or offscreen")
    parser.add_argument("--no-mbpoll", action="store_true", help="leave mbpoll out")
    parser.add_argument("--companion", action="store_true",
                        help="a second torvix-tp beside the first, with Графики open")
    parser.add_argument("--line", default="pty", choices=("pty", "tcp"),
                        help="the line between each torvix master and its simulator: a pty, or "
                             "loopback TCP (RTU over TCP), whose bytes the kernel hands over at "
                             "once; mbpoll stays on a pty")
    parser.add_argument("--keep", action="store_true", help="keep the work folder and logs")
    opts = parser.parse_args()

    def interrupted(signum, _frame):
        raise KeyboardInterrupt(signum)

    signal.signal(signal.SIGTERM, interrupted)
    procs = Processes()
    work = tempfile.mkdtemp(prefix="torvix-bench.")
    try:
        sim = os.path.abspath(opts.sim)
        subjects = [program_subject(procs, work, os.path.abspath(opts.tp), sim, opts.platform,
                                    line=opts.line)]
        if opts.companion:
            subjects.append(program_subject(procs, work, os.path.abspath(opts.tp), sim,
                                            opts.platform, companion=True, line=opts.line))
        if opts.cli:
            subjects.append(cli_subject(procs, work, os.path.abspath(opts.cli), sim, opts.line))
        if not opts.no_mbpoll:
            subjects.append(mbpoll_subject(procs, work, sim))
        print(f"{', '.join(s.name for s in subjects)}: each polling its own torvix-sim for "
              f"{opts.seconds:.0f} s, the torvix masters over a {opts.line} line ...", flush=True)
        report(measure(procs, subjects, opts.seconds), opts.seconds, opts.platform)
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
