#!/usr/bin/env python3
"""Measures launcher.exe under Wine against baselines started the same way, and prints one table.

usage: PYTHONPATH=tests/lib run_bench.py [--build build/windows] [--launcher EXE] [--rounds N]
                                        [--windows 32|64]

Uses the tools the Windows build made in bench/ (a starter that times programs on the performance
counter, an empty GUI program, a minimal uninstall-entry scanner) and the Wine tests' stub as the
installer, in a throwaway prefix of the tests' Wine lab, removed when done. Standard library only.
The shipped launcher starts Microsoft's installer alone, pinned by its digest: the bench runs
copies pinned to its stubs (pinned_copy.py), one of them padded to Microsoft's installer's size.
--launcher measures another build, an older one without a pin as it is.
"""

import argparse
import datetime
import hashlib
import os
import platform
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import textwrap
import time

import pe_image
import pinned_copy
import sign_installers
from redistributable import DISPLAY_NAME, INSTALLER, INSTALLER_SHA256
from winelab import REG_SZ, WOW_UNINSTALL, Case, Lab, LabError, StubLog, sz, wait_for

# Wine lists sub-keys in case-insensitive order, so this one comes last.
MATCH_KEY = "{ZZZZZZZZ-ZZZZ-ZZZZ-ZZZZ-ZZZZZZZZZZZZ}"
ENTRIES = 3000
SLEEP_MS = 3000
# Microsoft's VC_redist.x86.exe of the pinned build is about this size: its signature and digest
# are checked over every byte before the start.
LARGE_INSTALLER = 13 * 1024 * 1024
CPU_WINDOW_MS = 2000
REG_EXE = r"C:\windows\system32\reg.exe"

TOOLS = ("starter", "empty", "empty_imports", "empty_window", "scanner")


class BenchError(Exception):
    pass


def log(text):
    print(text, file=sys.stderr, flush=True)


def entries_of(pairs):
    """Uninstall entries as the lab writes them, from (sub-key, DisplayName) pairs."""
    return [(name, REG_SZ, sz(display)) for name, display in pairs]


def many_entries(count):
    """A machine's worth of entries: mostly product codes, some plain names, a few other runtimes
    whose names differ from the one looked for only near the end."""
    entries = []
    for i in range(count):
        d = hashlib.sha1(str(i).encode()).hexdigest().upper()
        if i % 3:
            name = f"{{{d[:8]}-{d[8:12]}-{d[12:16]}-{d[16:20]}-{d[20:32]}}}"
        else:
            name = f"Example Product {i:04d}"
        if i % 500 == 7:
            display = f"Microsoft Visual C++ 2015-2022 Redistributable (x86) - 14.{i % 40}.{i}"
        else:
            display = f"Example Product {i:04d} (x86) - {i % 17}.{i % 5}.{i}"
        entries.append((name, display))
    return entries


# Runs under the starter

class Starter:
    """One starter run: every job once per round, after the warm-up rounds."""

    def __init__(self, lab, tools_dir, jobs, warmups, rounds, env=None, poll=False):
        job_file = os.path.join(tools_dir, "jobs.txt")
        with open(job_file, "w", newline="\r\n") as f:
            for label, cwd, command in jobs:
                f.write(f"{label}\t{cwd or '-'}\t{command}\n")
        self.process = subprocess.Popen(
            ["wine", os.path.join(tools_dir, "starter.exe"), lab.win_path(job_file), str(warmups),
             str(rounds)] + (["poll"] if poll else []), env=dict(lab.env, **(env or {})),
            stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        self.frequency = None
        self.runs = []  # dicts of measured runs, warm-ups left out

    def events(self):
        """Yields each line's fields as the starter prints it."""
        for raw in self.process.stdout:
            fields = raw.decode("latin-1").split()
            if not fields:
                continue
            if fields[0] == "error":
                raise BenchError("starter: " + " ".join(fields[1:]))
            if fields[0] == "freq":
                self.frequency = int(fields[1])
            elif fields[0] == "run":
                label, round_, pid, before, after, code, peak, polled = fields[1:9]
                run = dict(label=label, round=int(round_), pid=int(pid), before=int(before),
                           after=int(after), code=int(code), peak=max(int(peak), int(polled)),
                           ms=(int(after) - int(before)) * 1000 / self.frequency)
                if run["round"] >= 0:
                    self.runs.append(run)
                if run["code"] != 0:  # every program here ends with 0 when it works
                    raise BenchError(f"{label} exited with {run['code']} in round {run['round']}")
            yield fields
        if self.process.wait() != 0:
            raise BenchError(f"starter exited with {self.process.returncode}")

    def finish(self):
        for _ in self.events():
            pass
        return self.runs

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()


def by_label(runs, label, key="ms"):
    return [r[key] for r in runs if r["label"] == label]


def paired_ratios(runs, label, other):
    mine = {r["round"]: r["ms"] for r in runs if r["label"] == label}
    theirs = {r["round"]: r["ms"] for r in runs if r["label"] == other}
    return [mine[k] / theirs[k] for k in sorted(mine) if k in theirs]


def launcher_job(lab, app):
    """The starter's job that runs the launcher of the case `app` from its own folder."""
    return ("launcher", lab.win_path(app.dir), f'"{app.exe}"')


def stub_env(lab, app, **extra):
    """Variables for the stub that the launcher of `app` starts."""
    return dict(STUB_LOG=lab.win_path(app.log_path), **extra)


def new_start(stub_log, seen):
    """The pid of an installer that started and is not in `seen`, or None."""
    return next((start.pid for start in StubLog(stub_log).starts if start.pid not in seen), None)


def expect_no_installer(stub_log):
    if StubLog(stub_log).starts:
        raise BenchError("the launcher started the installer although the runtime was present")


# The measurements

def measure_present(lab, tools, app, rounds):
    """Already installed: the launcher against the empty program, and the empty program built to
    load the launcher's DLLs, then also to create a window, to show where start-up time goes.
    Returns the timed runs and those of a second pass that polls the peak working set."""
    lab.uninstall(redirected=entries_of([(MATCH_KEY, DISPLAY_NAME)]))
    jobs = [launcher_job(lab, app)] + [
        (name, None, lab.win_path(os.path.join(tools, name + ".exe")))
        for name in ("empty", "empty_imports", "empty_window")]
    passes = []
    for poll, count in ((False, rounds), (True, 5)):
        starter = Starter(lab, tools, jobs, warmups=1, rounds=count, env=stub_env(lab, app),
                          poll=poll)
        try:
            passes.append(starter.finish())
        finally:
            starter.kill()
    expect_no_installer(app.log_path)
    return passes


def measure_scan(lab, tools, app, rounds):
    """3,000 entries with the match last: the launcher against reg.exe and the scanner."""
    entries = many_entries(ENTRIES) + [(MATCH_KEY, DISPLAY_NAME)]
    lab.uninstall(redirected=entries_of(entries))
    listed = lab.uninstall_listing()
    if len(listed) != len(entries) or listed[-1] != MATCH_KEY:
        raise BenchError(f"{len(listed)} entries listed, the last {listed[-1:]}: "
                         "the match is not last in enumeration order")
    # reg.exe must really walk every entry for its time to mean anything.
    out = lab.wine([REG_EXE, "query", f"HKLM\\{WOW_UNINSTALL}", "/s"])
    shown = out.stdout.count(b"DisplayName")
    if out.returncode != 0 or shown != len(entries):
        raise BenchError(f"reg query listed {shown} DisplayName values, expected {len(entries)}")
    starter = Starter(lab, tools, [
        launcher_job(lab, app),
        ("reg", None, f'{REG_EXE} query "HKLM\\{WOW_UNINSTALL}" /s'),
        ("scanner", None, lab.win_path(os.path.join(tools, "scanner.exe")) + " " + DISPLAY_NAME),
    ], warmups=1, rounds=rounds, env=stub_env(lab, app))
    try:
        runs = starter.finish()
    finally:
        starter.kill()
    expect_no_installer(app.log_path)
    return runs


def measure_wait(lab, tools, app, rounds, sleep_ms=SLEEP_MS, meter=True):
    """The runtime missing: the installer sleeps; the time from the launcher's start to the
    installer's, the launcher's processor use meanwhile (unless not metered), and the time from
    the installer's exit to the launcher's."""
    lab.uninstall()
    starter = Starter(lab, tools, [launcher_job(lab, app)], warmups=1, rounds=rounds,
                      env=stub_env(lab, app, STUB_SLEEP_MS=str(sleep_ms)))
    samples = []  # dicts: round, installer, busy_ms, wall_ms, overlapped, latency_ms, start_ms
    seen = set()
    try:
        current = None
        for fields in starter.events():
            if fields[0] == "started":
                current = dict(round=int(fields[2]))
                installer = wait_for(lambda: new_start(app.log_path, seen), 20, step=0.01)
                if installer is None:
                    raise BenchError("the launcher did not start the installer")
                seen.add(installer)
                current.update(installer=installer)
                if not meter:
                    continue
                out = lab.poke(0, f"cpu:{CPU_WINDOW_MS}:{fields[3]}")
                info = dict(f.split("=") for f in out[0].split()[1:])
                current.update(busy_ms=float(info["busy_ms"]), wall_ms=float(info["wall_ms"]),
                               # An exit already logged may fall inside the window.
                               overlapped=installer in StubLog(app.log_path).ends)
            elif fields[0] == "run" and current["round"] >= 0:
                stub = StubLog(app.log_path)
                exited = stub.end_stamps.get(current["installer"])
                if exited is None:
                    raise BenchError("the installer did not log its exit")
                latency = (starter.runs[-1]["after"] - exited) * 1000 / starter.frequency
                # The presence check, the signature check and the shell's start of the installer.
                started = next(s.stamp for s in stub.starts if s.pid == current["installer"])
                current["start_ms"] = ((started - starter.runs[-1]["before"]) * 1000 /
                                       starter.frequency)
                if latency < 0:
                    raise BenchError("the launcher ended before its installer: clocks disagree")
                current["latency_ms"] = latency
                samples.append(current)
    finally:
        starter.kill()
    return samples


def pinned_launcher(launcher, installer, work_dir):
    """A copy of the launcher pinned to the installer, or the launcher itself when it pins
    nothing (a build from before the pin)."""
    with open(launcher, "rb") as f:
        if INSTALLER_SHA256 not in f.read():
            return launcher
    copy = os.path.join(work_dir, "launcher.pinned-to-" + os.path.basename(installer))
    pinned_copy.write_pinned_copy(launcher, installer, copy)
    return copy


def large_installer(lab, work_dir):
    """The tests' stub padded to the size of Microsoft's installer and signed as it is."""
    padded = os.path.join(work_dir, "stub_installer.large.exe")
    signed = os.path.join(work_dir, "stub_installer.large-signed.exe")
    sign_installers.pad(lab.installer("unsigned"), padded, LARGE_INSTALLER)
    sign_installers.sign_as_microsoft(padded, signed, lab.signed_dir)
    return signed


def meter_check(lab, root):
    """The CPU meter read on a spinning process: a meter that always reads 0 would meet any
    target. Returns that process's share of one processor in percent."""
    stop = os.path.join(root, "spin.stop")
    spinner = lab.launch(lab.helper("stub_installer"), debug=False,
                         env=dict(STUB_SPIN="1", STUB_STOP_FILE=lab.win_path(stop)))
    try:
        out = lab.poke(0, f"cpu:1000:{spinner.started()}")
        info = dict(f.split("=") for f in out[0].split()[1:])
        return 100 * float(info["busy_ms"]) / float(info["wall_ms"])
    finally:
        open(stop, "w").close()
        if spinner.wait(20) is None:
            raise BenchError("the spinning stub did not stop")
        spinner.finish()


# Executable facts

def stripped_size(path, work_dir):
    """The size of the file once stripped (as built, it is already), and its imported DLLs."""
    image = pe_image.PeImage.read(path)
    size = image.size
    if not image.stripped:
        copy = os.path.join(work_dir, "stripped-" + os.path.basename(path))
        shutil.copy(path, copy)
        subprocess.run(["i686-w64-mingw32-strip", copy], check=True)
        size = os.path.getsize(copy)
    return size, dict(size=image.size, stripped=image.stripped, dlls=image.dll_names())


# Report

def machine():
    model = "unknown"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    wine = subprocess.run(["wine", "--version"], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL).stdout.decode().strip()
    return model, os.cpu_count(), wine


def verdict(value, limit):
    return "met" if value <= limit else "not met"


class Table:
    def __init__(self):
        self.rows = []

    def add(self, figure, values, unit, fmt, target="", result=""):
        if values:
            cells = [fmt.format(statistics.median(values)), fmt.format(min(values)),
                     fmt.format(max(values)), str(len(values))]
        else:
            cells = ["n/a", "", "", "0"]
        self.rows.append([figure] + cells + [unit, target, result])

    def note(self, figure, text):
        self.rows.append([figure, text])

    def render(self):
        head = ["figure", "median", "min", "max", "n", "unit", "target", "result"]
        full = [r for r in self.rows if len(r) == len(head)]
        widths = [max(len(r[i]) for r in [head] + full) for i in range(len(head))]
        lines = []
        for row in [head] + full:
            cells = [row[0].ljust(widths[0])] + [c.rjust(w) for c, w in zip(row[1:5], widths[1:5])]
            cells += [row[5].ljust(widths[5]), row[6].ljust(widths[6]), row[7]]
            lines.append("  ".join(cells).rstrip())
        width = max(len(line) for line in lines)
        out = [lines[0], "-" * width]
        for row in self.rows:
            if len(row) == len(head):
                out.append(lines[1 + full.index(row)])
            else:
                label = row[0].strip()
                out += textwrap.wrap((label + ": " if label else "") + row[1], width,
                                     initial_indent="    ", subsequent_indent="    ")
        return "\n".join(out)


def report(facts, present, scan, wait, large_wait, meter, sizes, load, started, windows):
    model, cores, wine = facts
    timed, polled = present
    t = Table()

    valid = [s for s in wait if not s["overlapped"]]
    shares = [100 * s["busy_ms"] / s["wall_ms"] for s in valid]
    share = statistics.median(shares) if shares else float("inf")
    t.add(f"1 launcher CPU / wall while the installer sleeps {SLEEP_MS / 1000:g} s",
          shares, "%", "{:.2f}", "<= 1 %",
          verdict(share, 1.0) if shares and meter >= 50 else "not measured")
    t.add("  launcher CPU time in each window", [s["busy_ms"] for s in valid], "ms", "{:.0f}")
    if valid:
        pooled = 100 * sum(s["busy_ms"] for s in valid) / sum(s["wall_ms"] for s in valid)
        t.add("  pooled over all windows", [pooled], "%", "{:.2f}")
    t.note("", f"windows of {CPU_WINDOW_MS / 1000:g} s; GetThreadTimes counts 10 ms ticks under "
               f"Wine, one tick = {1000 / CPU_WINDOW_MS:.2f} % of a window; the same meter read "
               f"a spinning process at {meter:.0f} %")
    if len(valid) < len(wait):
        t.note("", f"{len(wait) - len(valid)} window(s) left out: the installer had exited "
                   "before the window ended")

    ratio = paired_ratios(timed, "launcher", "empty")
    t.add("2 already installed: launcher start to exit", by_label(timed, "launcher"), "ms",
          "{:.1f}")
    t.add("  empty GUI program start to exit", by_label(timed, "empty"), "ms", "{:.1f}")
    t.add("  ratio launcher / empty", ratio, "x", "{:.3f}", "<= 1.10",
          verdict(statistics.median(ratio), 1.10))
    t.add("  for reference: empty + the launcher's DLL imports", by_label(timed, "empty_imports"),
          "ms", "{:.1f}")
    t.add("  for reference: ... + one hidden window", by_label(timed, "empty_window"), "ms",
          "{:.1f}")

    t.add(f"3 {ENTRIES} entries, match last: launcher start to exit", by_label(scan, "launcher"),
          "ms", "{:.1f}")
    t.add("  (a) reg query <Uninstall> /s", by_label(scan, "reg"), "ms", "{:.1f}")
    t.add("  (b) minimal scanner", by_label(scan, "scanner"), "ms", "{:.1f}")
    to_reg = paired_ratios(scan, "launcher", "reg")
    to_scanner = paired_ratios(scan, "launcher", "scanner")
    t.add("  ratio launcher / reg", to_reg, "x", "{:.3f}", "<= 0.5",
          verdict(statistics.median(to_reg), 0.5))
    t.add("  ratio launcher / scanner", to_scanner, "x", "{:.3f}", "<= 1.5",
          verdict(statistics.median(to_scanner), 1.5))

    latency = [s["latency_ms"] for s in wait]
    t.add("4 installer exit to launcher exit", latency, "ms", "{:.2f}", "<= 20 ms",
          verdict(statistics.median(latency), 20))
    t.add("  launcher start to installer start (signature and digest checked)",
          [s["start_ms"] for s in wait], "ms", "{:.1f}")
    t.add(f"  ... with a {LARGE_INSTALLER >> 20} MiB installer, as Microsoft's is",
          [s["start_ms"] for s in large_wait], "ms", "{:.1f}")

    peaks = {label: [r["peak"] / 1024 for r in polled if r["label"] == label and r["peak"] > 0]
             for label in ("launcher", "empty", "empty_imports", "empty_window")}
    if peaks["launcher"] and peaks["empty"]:
        rounds = {}
        for r in polled:
            if r["peak"] > 0:
                rounds.setdefault(r["round"], {})[r["label"]] = r["peak"]
        t.add("5 peak working set, already installed: launcher", peaks["launcher"], "KiB",
              "{:.0f}")
        t.add("  empty GUI program", peaks["empty"], "KiB", "{:.0f}")
        t.add("  ratio launcher / empty", [p["launcher"] / p["empty"] for p in rounds.values()
                                           if "launcher" in p and "empty" in p], "x", "{:.2f}")
        t.add("  for reference: empty + the launcher's DLL imports", peaks["empty_imports"],
              "KiB", "{:.0f}")
        t.add("  for reference: ... + one hidden window", peaks["empty_window"], "KiB", "{:.0f}")
        after_exit = sum(1 for r in timed if r["peak"] > 0)
        t.note("", "Wine gives the Linux process's peak resident set, its own libraries included; "
                   f"read after the exit it answered for {after_exit} of {len(timed)} runs, so "
                   "these are the last figures read every millisecond while each program ran")
    else:
        t.note("5 peak working set", "not reported by Wine: GetProcessMemoryInfo gave no figure "
                                     "after the exit nor while the programs ran")

    size, pe = sizes
    t.add("6 launcher.exe stripped size", [size], "B", "{:.0f}")
    t.note("imported DLLs", ", ".join(pe["dlls"]) + ("" if pe["stripped"] else
                                                       f" (as built, unstripped: {pe['size']} B)"))

    now = datetime.datetime.now().astimezone()
    print(f"launcher.exe benchmark, {now:%Y-%m-%d %H:%M %Z}")
    print(f"machine: {model}, {cores} cores, load average {load} at the start; {wine}, "
          f"prefix of {windows}-bit Windows, one wineserver for all runs")
    print("n runs of each program after one warm-up round, all started in turn by one starter "
          "(CreateProcess, wait, performance counter before and after); ratios pair the runs "
          "of one round; verdicts on medians")
    print()
    print(t.render())
    print()
    print(f"bench time {time.monotonic() - started:.0f} s")


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build/windows",
                        help="folder with launcher.exe, bench/*.exe and tests/e2e/*.exe")
    parser.add_argument("--launcher", help="the launcher to measure (default: launcher.exe in "
                        "--build)")
    parser.add_argument("--rounds", type=int, default=9, help="measured runs per figure (>= 5)")
    parser.add_argument("--windows", type=int, choices=(32, 64), default=32,
                        help="the kind of Windows the prefix stands for (default: 32)")
    options = parser.parse_args()
    if options.rounds < 5:
        parser.error("--rounds must be at least 5")
    launcher = os.path.abspath(options.launcher or os.path.join(options.build, "launcher.exe"))
    helpers = os.path.join(options.build, "tests", "e2e")
    built_tools = os.path.join(options.build, "bench")
    for path in [launcher] + [os.path.join(built_tools, t + ".exe") for t in TOOLS]:
        if not os.path.isfile(path):
            sys.exit(f"no {path}; run make build-windows first")

    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    sys.stdout.reconfigure(line_buffering=True)
    started = time.monotonic()
    work = tempfile.mkdtemp(prefix="launcher-bench-")
    try:
        sizes = stripped_size(launcher, work)
        with open("/proc/loadavg") as f:
            load = " ".join(f.read().split()[:3])
        with Lab(helpers, windows=options.windows, log=log) as lab:
            root = os.path.join(lab.drive_c, "bench")
            tools = os.path.join(root, "tools")
            os.makedirs(tools)
            for name in TOOLS:
                shutil.copy(os.path.join(built_tools, name + ".exe"), tools)
            # The launcher beside the Wine tests' stub, signed as Microsoft's installer is and
            # pinned: the launcher starts nothing else.
            with Case(lab, pinned_launcher(launcher, lab.installer(), work), "bench") as app:
                log("already installed: launcher and empty program")
                present = measure_present(lab, tools, app, options.rounds * 2)
                log("CPU meter check on a spinning process")
                meter = meter_check(lab, root)
                log(f"waiting on a {SLEEP_MS / 1000:g} s installer")
                wait = measure_wait(lab, tools, app, options.rounds)
                os.remove(app.log_path)
                log(f"{ENTRIES} entries: launcher, reg query, scanner")
                scan = measure_scan(lab, tools, app, options.rounds)
            large = large_installer(lab, work)
            with Case(lab, pinned_launcher(launcher, large, work), "bench-large") as app:
                shutil.copy(large, os.path.join(app.dir, INSTALLER))
                log(f"starting a {LARGE_INSTALLER >> 20} MiB installer")
                large_wait = measure_wait(lab, tools, app, options.rounds, sleep_ms=0, meter=False)
        report(machine(), present, scan, wait, large_wait, meter, sizes, load, started,
               options.windows)
    except (BenchError, LabError, OSError, subprocess.SubprocessError) as e:
        print(f"bench failed: {e}", file=sys.stderr)
        return 1
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
