#!/usr/bin/env python3
"""Soak: the real torvix-tp on Xvfb against torvix-sim with every fault and a hang-up a minute.

The program runs unchanged from a folder of its own (its own тп.ini naming the simulator's
link as COM1). The operator's clicks are key presses sent to its window with xdotool (Tab to
the button, Space), one every --click-every seconds, through the command buttons in turn.
First the companion window "Графики и запись" is opened (Alt+Г) and a recording started
(Space on "Начать запись"); it stays open for the whole run.
Every --sample-every seconds the program's RSS, open descriptors, threads and CPU are taken
from /proc. The simulator's state file tells when the line is down and when requests come;
its request log, with its fixed fault schedule, which status reads were answered.

At the end a table of the samples and these checks (exit 1 when one fails):
  RSS grows less than 2 MB after the first minute (after half the run when shorter);
  open descriptors do not grow past the first minute's;
  CPU below 1 % of a core while the line is down (no busy loop);
  polling resumes within 1.5 s of the line coming back, after every hang-up;
  every command clicked was executed by the simulator, in click order, once or twice
  (twice where the controller acted and its reply was lost; none lost);
  the recording has one row per status reply that the simulator sent intact during it (none
  more; fewer only by replies lost in a hang-up or late on a loaded machine, at most 1 %),
  no row while the line was down, and every clicked command as `send ...: выполнено` in its
  `events`, in click order.
"""

import argparse
import csv
import datetime
import glob
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

# Tab order of the window from the first button (its initial focus), and the buttons clicked.
TAB_CHAIN = 17
BUTTONS = [  # (position in the tab chain, name, code the controller receives in 402, CLI words)
    (0, "СТАРТ", 0x1231, "start"),
    (2, "КВИТ", 0x7893, "ack"),
    (11, "Нагрузка 1", 0x5BC4, "load on"),
    (16, "Автозапуск 1/0", 0xAB10, "autostart toggle"),
    (10, "Нагрузка 0", 0x0BC4, "load off"),
    (1, "СТОП", 0x4562, "stop"),
    (15, "Автозапуск 1", 0x5B10, "autostart on"),
    (14, "Автозапуск 0", 0x0B10, "autostart off"),
]
FAULT_EVERY = {"drop": 17, "exception": 23, "garbage": 19, "bad_crc": 13, "wrong_address": 29}
FAULTS = ["--drop-every", "17", "--bad-crc-every", "13", "--garbage-every", "19",
          "--exception-every", "23", "--wrong-address-every", "29", "--split", "10",
          "--delay", "10"]


def read_json(path):
    try:
        with open(path) as f:
            return json.load(f)
    except (OSError, ValueError):
        return None


def proc_sample(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    ticks = int(fields[11]) + int(fields[12])  # utime + stime
    rss = threads = 0
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                rss = int(line.split()[1])
            elif line.startswith("Threads:"):
                threads = int(line.split()[1])
    fds = len(os.listdir(f"/proc/{pid}/fd"))
    return ticks / os.sysconf("SC_CLK_TCK"), rss, fds, threads


def start_xvfb():
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24",
                             "-nolisten", "tcp"], pass_fds=(write_end,),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(read_end, 16)
        if not chunk:
            sys.exit("soak: Xvfb did not start")
        number += chunk
    os.close(read_end)
    return xvfb, ":" + number.decode().strip()


def without_repeats(codes):
    runs = []
    for code in codes:
        if runs and runs[-1][0] == code:
            runs[-1][1] += 1
        else:
            runs.append([code, 1])
    return runs


def fault_of(n):
    """The simulator's fault for its nth request (1-based), in its order of precedence."""
    for name in ("drop", "exception", "garbage", "bad_crc", "wrong_address"):
        if n % FAULT_EVERY[name] == 0:
            return name
    return None


def status_replies_sent(log, first, last):
    """Status reads in the simulator's request log between two CLOCK_MONOTONIC times (s) whose
    reply went out whole: no fault, or only another address (the program takes those)."""
    sent = 0
    with open(log) as f:
        for n, line in enumerate(f, start=1):
            parts = line.split()
            if len(parts) < 3 or parts[2] != "04":
                continue
            t = int(parts[0]) / 1e6
            if first <= t <= last and fault_of(n) in (None, "wrong_address"):
                sent += 1
    return sent


def check_recording(work, clock_offset, outages, clicks, hangups, failures):
    files = sorted(glob.glob(os.path.join(work, "записи", "*.csv")))
    if len(files) != 1:
        failures.append(f"{len(files)} recordings in записи, one expected")
        return
    with open(files[0], newline="", encoding="utf-8") as f:
        rows = list(csv.DictReader(f))
    if not rows:
        failures.append("the recording has no rows")
        return
    # Row times on the monotonic clock of the request log.
    times = [datetime.datetime.fromisoformat(r["time"]).timestamp() - clock_offset for r in rows]
    if any(b <= a for a, b in zip(times, times[1:])):
        failures.append("recording times do not always increase")
    # A row is written on the tick after its request went out, 100 ms later.
    expected = status_replies_sent(os.path.join(work, "requests.log"), times[0] - 0.15,
                                   times[-1] - 0.05)
    allowance = hangups + expected // 100
    print(f"recording: {len(rows)} rows; status replies sent whole meanwhile: {expected} "
          f"(short by at most {allowance} allowed)")
    if len(rows) > expected:
        failures.append(f"{len(rows)} rows for {expected} status replies: rows without a reply")
    elif len(rows) < expected - allowance:
        failures.append(f"{len(rows)} rows for {expected} status replies")
    inside = [t for t in times for down, up in outages if down + 0.5 < t < up - 0.2]
    if inside:
        failures.append(f"{len(inside)} rows while the line was down")
    executed = []
    for row in rows:
        for event in filter(None, row["events"].split(" | ")):
            what = event.split("] ", 1)[-1]
            if what.startswith("send ") and what.endswith(": выполнено"):
                executed.append(what[len("send "):-len(": выполнено")])
    wanted = [BUTTONS_WORDS[code] for code in clicks]
    print(f"recording events: {len(executed)} commands executed of {len(wanted)} clicked")
    if executed != wanted:
        failures.append(f"recorded commands differ from those clicked: recorded {executed}, "
                        f"clicked {wanted}")


BUTTONS_WORDS = {code: words for _, _, code, words in BUTTONS}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--minutes", type=float, default=30)
    parser.add_argument("--build", default="build", help="folder with torvix-tp and torvix-sim")
    parser.add_argument("--sample-every", type=float, default=10)
    parser.add_argument("--click-every", type=float, default=7)
    parser.add_argument("--up", type=float,
                        help="seconds the line stays up (default 50; 30 in a run under 2 min)")
    parser.add_argument("--down", type=float, default=10, help="seconds the line stays down")
    parser.add_argument("--keep", action="store_true", help="keep the work folder")
    args = parser.parse_args()
    if args.up is None:
        args.up = 50 if args.minutes >= 2 else 30

    work = tempfile.mkdtemp(prefix="torvix-soak-")
    program = os.path.join(work, "torvix-tp")
    shutil.copy(os.path.join(args.build, "torvix-tp"), program)
    line = os.path.join(work, "line")
    state_file = os.path.join(work, "sim.json")
    with open(os.path.join(work, "тп.ini"), "w") as ini:
        ini.write(f"[PC config]\nCOM=1\nCOMSettings=115200,e,8,1\n[QDL config]\nMBSLAD=7\n"
                  f"[Ports]\nCOM1={line}\n")

    sim = subprocess.Popen([os.path.join(args.build, "torvix-sim"), "--link", line, "--quiet",
                            "--state-file", state_file,
                            "--log-requests", os.path.join(work, "requests.log"),
                            "--running", "--hangup-after",
                            str(args.up), "--hangup-for", str(args.down)] + FAULTS,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    xvfb, display = start_xvfb()
    env = dict(os.environ, DISPLAY=display)
    env.pop("WAYLAND_DISPLAY", None)
    tp = subprocess.Popen([program], env=env, stdout=subprocess.DEVNULL,
                          stderr=open(os.path.join(work, "torvix-tp.log"), "w"))

    def xdotool(*words):
        return subprocess.run(["xdotool", *words], env=env, capture_output=True, text=True,
                              timeout=20).stdout

    failures = []
    try:
        window = xdotool("search", "--sync", "--onlyvisible", "--pid", str(tp.pid)).split()
        if not window:
            sys.exit("soak: no window of torvix-tp")
        main_window = window[-1]
        xdotool("windowfocus", "--sync", main_window)
        # Графики, and Space on its "Начать запись", which has the focus.
        xdotool("key", "alt+Cyrillic_ghe")
        companion = xdotool("search", "--sync", "--onlyvisible", "--name", "Графики и запись").split()
        if not companion:
            sys.exit("soak: Графики did not open")
        xdotool("windowfocus", "--sync", companion[-1])
        xdotool("key", "space")
        clock_offset = time.time() - time.monotonic()
        focus = 0  # the window opens with the focus on its first button

        begin = time.monotonic()
        end = begin + args.minutes * 60
        samples = []       # (t, rss kB, fds, threads, cpu %, line up)
        down_cpu = []      # CPU % of each whole outage
        resumes = []       # seconds from the line coming back to the first request taken
        clicks = []        # codes, in click order
        last_cpu, *_ = proc_sample(tp.pid)
        last_sample_t = begin
        next_sample = begin + args.sample_every
        next_click = begin + 5
        was_up = None
        down_since = down_cpu_start = up_since = up_requests = None
        outages = []       # (down, up) on the monotonic clock
        while (now := time.monotonic()) < end:
            state = read_json(state_file)
            if state:
                up = bool(state.get("line_up"))
                if was_up and not up:
                    down_since, down_cpu_start = now, proc_sample(tp.pid)[0]
                elif was_up is False and up:
                    if down_since is not None:
                        outages.append((down_since, now))
                        cpu = proc_sample(tp.pid)[0]
                        down_cpu.append(100 * (cpu - down_cpu_start) / (now - down_since))
                    up_since, up_requests = now, state.get("requests", 0)
                if up_since is not None and state.get("requests", 0) > up_requests:
                    resumes.append(now - up_since)
                    up_since = None
                was_up = up
            if now >= next_click:
                position, _, code, _ = BUTTONS[len(clicks) % len(BUTTONS)]
                keys = ["Tab"] * ((position - focus) % TAB_CHAIN) + ["space"]
                xdotool("windowfocus", "--sync", main_window)
                xdotool("key", "--delay", "30", *keys)
                focus = position
                clicks.append(code)
                next_click += args.click_every
            if now >= next_sample:
                cpu, rss, fds, threads = proc_sample(tp.pid)
                samples.append((now - begin, rss, fds, threads,
                                100 * (cpu - last_cpu) / (now - last_sample_t), bool(was_up)))
                last_cpu, last_sample_t = cpu, now
                next_sample += args.sample_every
            if tp.poll() is not None:
                failures.append(f"torvix-tp ended (exit {tp.returncode})")
                break
            time.sleep(0.05)
        if up_since is not None:
            resumes.append(None)  # the run ended before polling resumed
        if tp.poll() is None and time.monotonic() - last_sample_t > 1:
            cpu, rss, fds, threads = proc_sample(tp.pid)
            now = time.monotonic()
            samples.append((now - begin, rss, fds, threads,
                            100 * (cpu - last_cpu) / (now - last_sample_t), bool(was_up)))

        # Commands clicked last, or during the last outage, still have to go out.
        settle = time.monotonic() + args.down + 10
        while time.monotonic() < settle:
            state = read_json(state_file) or {}
            runs = without_repeats(state.get("commands", []))
            if len(runs) >= len(clicks) and state.get("line_up"):
                break
            time.sleep(0.2)
        time.sleep(1)  # the last command's event goes into the next row
        state = read_json(state_file) or {}
        if was_up is False and down_since is not None:
            outages.append((down_since, time.monotonic()))
    finally:
        for process in (tp, sim, xvfb):
            if process.poll() is None:
                process.send_signal(signal.SIGTERM)
        for process in (tp, sim, xvfb):
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                process.kill()

    print(f"{'t (s)':>6} {'RSS (MB)':>9} {'fds':>4} {'threads':>7} {'CPU %':>6}  line")
    for t, rss, fds, threads, cpu, up in samples:
        print(f"{t:6.0f} {rss / 1024:9.2f} {fds:4d} {threads:7d} {cpu:6.2f}  {'up' if up else 'down'}")

    baseline_t = min(60.0, args.minutes * 30)
    early = [s for s in samples if s[0] <= baseline_t + 1e-6]
    late = [s for s in samples if s[0] > baseline_t + 1e-6]
    if early and late:
        rss_growth = max(s[1] for s in late) - early[-1][1]
        fd_growth = max(s[2] for s in late) - max(s[2] for s in early)
        print(f"RSS growth after {baseline_t:.0f} s: {rss_growth / 1024:.2f} MB; "
              f"descriptors: {max(s[2] for s in early)} then at most {max(s[2] for s in late)}")
        if rss_growth >= 2048:
            failures.append(f"RSS grew {rss_growth / 1024:.2f} MB")
        if fd_growth > 0:
            failures.append(f"descriptors grew by {fd_growth}")
    else:
        failures.append("too few samples")
    print("CPU while the line was down: " +
          (", ".join(f"{c:.2f} %" for c in down_cpu) or "no outage ended during the run"))
    failures += [f"CPU {c:.2f} % while down" for c in down_cpu if c >= 1.0]
    shown = ", ".join("not yet" if r is None else f"{r:.2f} s" for r in resumes)
    print(f"hang-ups: {state.get('faults', {}).get('hangups', 0)}; "
          f"polling resumed after: {shown or 'no outage ended during the run'}")
    failures += [f"polling resumed only after {r:.2f} s" for r in resumes if r and r > 1.5]
    if any(r is None for r in resumes[:-1]):
        failures.append("polling did not resume after a hang-up")

    runs = without_repeats(state.get("commands", []))
    executed = [code for code, _ in runs]
    twice = sum(1 for _, n in runs if n == 2)
    print(f"commands clicked: {len(clicks)}; executed once: {sum(1 for _, n in runs if n == 1)}, "
          f"twice: {twice}, more: {sum(1 for _, n in runs if n > 2)}; simulator faults: "
          f"{json.dumps(state.get('faults', {}))}")
    if executed != clicks:
        lost = len(clicks) - len(executed)
        failures.append(f"commands executed differ from those clicked ({lost} fewer): "
                        f"clicked {' '.join(f'{c:04X}' for c in clicks)}; "
                        f"executed {' '.join(f'{c:04X}' for c in executed)}")
    if any(n > 2 for _, n in runs):
        failures.append("a command ran more than twice")

    check_recording(work, clock_offset, outages, clicks,
                    state.get("faults", {}).get("hangups", 0), failures)
    if args.keep:
        print(f"work folder kept: {work}")
    else:
        shutil.rmtree(work, ignore_errors=True)

    for failure in failures:
        print("FAILED: " + failure)
    if not failures:
        print("OK")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
