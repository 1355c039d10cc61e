#!/usr/bin/env python3
"""Boots the emulated x86-64 machine (built by build_image.sh) once, runs one command in it, and
carries its results back. The project reaches the guest read-only, at its own path; the guest
writes only into the results folder, which must lie under the project's build/ folder.

  machine.py run --results DIR [--show] [--by-group] [--boot-timeout S] [--timeout S] -- COMMAND
      Exits with the command's status. A machine that does not boot, hangs or dies ends within
      the time limits with status 125 and a line naming its console log (DIR/console.log); why
      it was stopped is kept in DIR/stopped. With --by-group, a machine that booted exits 0
      however its job went: the end-to-end groups' tests report it, each its own part.
  machine.py result --results DIR --group NAME
      Prints what the end-to-end group NAME wrote inside the machine and exits with its status;
      for a group that did not end, names the cases that never finished, and why.

Timings land in DIR/timings (boot, job), for the last line of `make test`.
"""

import argparse
import os
import shlex
import shutil
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
PROJECT = os.path.dirname(os.path.dirname(HERE))
MACHINE_FAILED = 125
READY = "launcher-guest: ready"
EXIT = "launcher-guest: exit "
# How much slower than native the emulation runs, with room for a loaded host: time limits
# inside the guest are multiplied by it.
TIME_SCALE = 6


def image_dir():
    path = subprocess.run(["sh", os.path.join(HERE, "build_image.sh"), "path"], check=True,
                          stdout=subprocess.PIPE, text=True).stdout.strip()
    if not os.path.isfile(os.path.join(path, "complete")):
        sys.exit(f"no emulated machine image at {path}: run sh scripts/emulated/build_image.sh ensure")
    return path


def qemu_command(image, results):
    cores = str(min(os.cpu_count() or 1, 4))
    return [
        "qemu-system-x86_64", "-accel", "tcg,thread=multi", "-smp", cores, "-m", "4G",
        # Without SMAP: QEMU 7.2's emulated SMAP check oopses the guest kernel when a 32-bit
        # process returns from a signal through iret.
        "-cpu", "max,-smap",
        "-kernel", os.path.join(image, "vmlinuz"), "-initrd", os.path.join(image, "initrd.img"),
        "-append", "root=/dev/vda rw console=ttyS0 init=/sbin/launcher-init quiet panic=-1",
        "-drive", f"file={os.path.join(image, 'disk.img')},format=raw,if=virtio",
        "-snapshot", "-no-reboot", "-display", "none", "-serial", "stdio", "-monitor", "none",
        "-nic", "none",
        "-virtfs", f"local,path={PROJECT},mount_tag=project,security_model=none,readonly=on",
        "-virtfs", f"local,path={results},mount_tag=results,security_model=none",
    ]


def prepare_results(results, command, environment):
    build = os.path.join(PROJECT, "build") + os.sep
    if not (results + os.sep).startswith(build):
        sys.exit(f"the results folder must lie under {build}, not {results}")
    shutil.rmtree(results, ignore_errors=True)
    os.makedirs(results)
    with open(os.path.join(results, "job"), "w") as f:
        f.write(f"{PROJECT}\n{results}\n")
    exports = "".join(f"export {k}={shlex.quote(v)}\n" for k, v in environment.items())
    with open(os.path.join(results, "job.sh"), "w") as f:
        f.write(exports + "exec " + shlex.join(command) + "\n")


def run(options):
    results = os.path.abspath(options.results)
    environment = {"LAUNCHER_E2E_TIME_SCALE": str(TIME_SCALE), "PYTHONDONTWRITEBYTECODE": "1",
                   "PYTHONUNBUFFERED": "1"}
    prepare_results(results, options.command, environment)
    image = image_dir()
    console_path = os.path.join(results, "console.log")
    console = open(console_path, "w", encoding="utf-8", errors="replace")
    started = time.monotonic()
    qemu = subprocess.Popen(qemu_command(image, results), stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    state = {"ready": None, "status": None, "last": time.monotonic()}

    def read():
        for raw in qemu.stdout:
            line = raw.decode("utf-8", "replace").rstrip("\r\n")
            console.write(line + "\n")
            console.flush()
            state["last"] = time.monotonic()
            if state["ready"] is None:
                if line.endswith(READY):
                    state["ready"] = time.monotonic()
            elif state["status"] is not None:
                continue  # the machine powering off
            elif line.startswith(EXIT):
                state["status"] = int(line[len(EXIT):].split()[0])
            elif options.show:
                print(line, flush=True)

    reader = threading.Thread(target=read, daemon=True)
    reader.start()
    failure = None
    while reader.is_alive():
        reader.join(1)
        now = time.monotonic()
        if state["ready"] is None and now - started > options.boot_timeout:
            failure = f"did not boot within {options.boot_timeout} s"
        elif now - started > options.timeout:
            failure = f"was still running after {options.timeout} s"
        elif now - state["last"] > options.silence_timeout:
            failure = f"printed nothing for {options.silence_timeout} s"
        if failure:
            qemu.kill()
            break
    reader.join(10)
    code = qemu.wait()
    console.close()
    ended = time.monotonic()
    if failure is None and state["status"] is None:
        failure = (f"ended (qemu status {code}) before its job did" if state["ready"]
                   else f"ended (qemu status {code}) without booting")
    boot = (state["ready"] or ended) - started
    with open(os.path.join(results, "timings"), "w") as f:
        f.write(f"boot {boot:.0f}\njob {ended - (state['ready'] or ended):.0f}\n")
    if failure:
        with open(os.path.join(results, "stopped"), "w") as f:
            f.write(f"the emulated machine {failure}\n")
        print(f"the emulated machine {failure}; its console log: {console_path}", flush=True)
        if options.by_group and state["ready"]:
            print("each group's test says what finished before that", flush=True)
            return 0
        return MACHINE_FAILED
    return 0 if options.by_group else state["status"]


def read_lines(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read().splitlines()
    except OSError:
        return None


def result(options):
    """The group's record as run_e2e.py's GroupRecord left it."""
    results = os.path.abspath(options.results)
    base = os.path.join(results, "groups", options.group)
    log, status = read_lines(base + ".log"), read_lines(base + ".status")
    for line in log or []:
        print(line)
    if status and status[0].strip().isdigit():
        return int(status[0])
    stopped = (read_lines(os.path.join(results, "stopped")) or
               ["the run in the emulated machine ended"])[0]
    cases = read_lines(base + ".cases")
    if cases is None:
        print(f"the group {options.group} left no result ({stopped}); its console log: "
              f"{os.path.join(results, 'console.log')}", flush=True)
        return 1
    finished = set(read_lines(base + ".finished") or [])
    never = [case for case in cases if case not in finished]
    print(f"the group {options.group} did not end ({stopped}): {len(cases) - len(never)} of its "
          f"{len(cases)} cases finished; never finished:", flush=True)
    for case in never:
        print(f"  {case}", flush=True)
    return 1


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    verbs = parser.add_subparsers(dest="verb", required=True)
    run_parser = verbs.add_parser("run")
    run_parser.add_argument("--results", required=True)
    run_parser.add_argument("--show", action="store_true",
                            help="print the command's output as it comes")
    run_parser.add_argument("--by-group", action="store_true",
                            help="exit 0 once booted: each group's test reports the run")
    run_parser.add_argument("--boot-timeout", type=int, default=300)
    run_parser.add_argument("--timeout", type=int, default=3000)
    run_parser.add_argument("--silence-timeout", type=int, default=900)
    run_parser.add_argument("command", nargs="+")
    result_parser = verbs.add_parser("result")
    result_parser.add_argument("--results", required=True)
    result_parser.add_argument("--group", required=True)
    options = parser.parse_args()
    return run(options) if options.verb == "run" else result(options)


if __name__ == "__main__":
    sys.exit(main())
