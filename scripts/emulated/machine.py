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

The machine boots an overlay over its image that holds a Wine prefix of each kind, made by the
first run that needs it (its console log: DIR/prefixes/console.log). Timings land in DIR/timings
(boot, job, and prefixes when they were made), for the last line of `make test`.
"""

import argparse
import hashlib
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


def qemu_command(image, disk, results):
    """Boots `disk` (the image's, or an overlay over it) as a snapshot unless it is a partial
    overlay being made."""
    cores = str(min(os.cpu_count() or 1, 4))
    return [
        "qemu-system-x86_64", "-accel", "tcg,thread=multi", "-smp", cores, "-m", "4G",
        # Without SMAP: QEMU 7.2's emulated SMAP check oopses the guest kernel when a 32-bit
        # process returns from a signal through iret.
        "-cpu", "max,-smap",
        "-kernel", os.path.join(image, "vmlinuz"), "-initrd", os.path.join(image, "initrd.img"),
        "-append", "root=/dev/vda rw console=ttyS0 init=/sbin/launcher-init quiet panic=-1",
        "-drive", f"file={disk},format={'raw' if disk.endswith('.img') else 'qcow2'},if=virtio",
        "-no-reboot", "-display", "none", "-serial", "stdio", "-monitor", "none", "-nic", "none",
        "-virtfs", f"local,path={PROJECT},mount_tag=project,security_model=none,readonly=on",
        "-virtfs", f"local,path={results},mount_tag=results,security_model=none",
    ] + ([] if disk.endswith(".partial") else ["-snapshot"])


def clear_results(results):
    build = os.path.join(PROJECT, "build") + os.sep
    if not (results + os.sep).startswith(build):
        sys.exit(f"the results folder must lie under {build}, not {results}")
    shutil.rmtree(results, ignore_errors=True)
    os.makedirs(results)


def write_job(results, command, environment):
    with open(os.path.join(results, "job"), "w") as f:
        f.write(f"{PROJECT}\n{results}\n")
    exports = "".join(f"export {k}={shlex.quote(v)}\n" for k, v in environment.items())
    with open(os.path.join(results, "job.sh"), "w") as f:
        f.write(exports + "exec " + shlex.join(command) + "\n")


# Inside the machine: the Wine prefixes made once per image (winelab's templates), on the same
# disk as the labs' folders, so that a lab takes one by renaming it.
TEMPLATES = "/var/lib/launcher-prefixes"
PREFIXES_TIMEOUT = 900  # 104 s on an idle 2-core host, both kinds side by side
OVERLAY_SIZE = "16G"
ENVIRONMENT = {"LAUNCHER_E2E_TIME_SCALE": str(TIME_SCALE), "PYTHONDONTWRITEBYTECODE": "1",
               "PYTHONUNBUFFERED": "1", "LAUNCHER_PREFIX_TEMPLATES": TEMPLATES,
               "TMPDIR": "/var/tmp"}


def boot(image, disk, results, command, options, show=False):
    """Runs `command` in one boot. Returns (the command's status, or None with why the machine
    was stopped; whether it booted; seconds to boot and of the job)."""
    write_job(results, command, ENVIRONMENT)
    console_path = os.path.join(results, "console.log")
    console = open(console_path, "w", encoding="utf-8", errors="replace")
    started = time.monotonic()
    qemu = subprocess.Popen(qemu_command(image, disk, results), stdin=subprocess.DEVNULL,
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
            elif show:
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
    if failure:
        with open(os.path.join(results, "stopped"), "w") as f:
            f.write(f"the emulated machine {failure}\n")
        print(f"the emulated machine {failure}; its console log: {console_path}", flush=True)
    ready = state["ready"] or ended
    return (failure or state["status"]), state["ready"] is not None, ready - started, ended - ready


def prefixes_disk(image, results, options):
    """The disk to boot: an overlay over the image holding a Wine prefix of each kind, made at
    the first boot that needs it and kept beside the image, keyed by the image and by the lab
    code that makes prefixes; the bare image (each lab then makes its own) when it cannot be
    made. Returns the disk and the seconds spent making it."""
    with open(os.path.join(PROJECT, "tests", "lib", "winelab.py"), "rb") as f:
        key = hashlib.sha256(os.path.basename(image).encode() + f.read()).hexdigest()[:16]
    overlay = os.path.join(image, f"prefixes-{key}.qcow2")
    if os.path.isfile(overlay):
        return overlay, 0
    partial = overlay + ".partial"
    started = time.monotonic()
    print("the emulated machine makes its Wine prefixes, once for this image", flush=True)
    # The image's file system has little room to spare: the overlay is larger, and the file
    # system grows into it before the prefixes (2 GB) are made.
    created = subprocess.run(["qemu-img", "create", "-q", "-f", "qcow2", "-F", "raw", "-b",
                              "disk.img", partial, OVERLAY_SIZE], stderr=subprocess.PIPE,
                             text=True)
    status = created.stderr.strip() or "qemu-img failed"
    if created.returncode == 0:
        folder = os.path.join(results, "prefixes")
        clear_results(folder)
        make = shlex.join(["env", f"PYTHONPATH={PROJECT}/tests/lib", "python3",
                           f"{PROJECT}/tests/lib/winelab.py", "make-templates", TEMPLATES])
        status, _, _, _ = boot(image, partial, folder,
                               ["sh", "-c", f"resize2fs /dev/vda && {make}"],
                               argparse.Namespace(**dict(vars(options), timeout=PREFIXES_TIMEOUT)))
    if status != 0:
        print(f"the prefixes could not be made ({status}): each lab makes its own", flush=True)
        if os.path.exists(partial):
            os.remove(partial)
        return os.path.join(image, "disk.img"), time.monotonic() - started
    os.rename(partial, overlay)
    for old in os.listdir(image):
        if old.startswith("prefixes-") and old != os.path.basename(overlay):
            os.remove(os.path.join(image, old))  # made for another image or lab code: stale
    return overlay, time.monotonic() - started


def run(options):
    results = os.path.abspath(options.results)
    clear_results(results)
    image = image_dir()
    disk, making = prefixes_disk(image, results, options)
    status, booted, boot_time, job_time = boot(image, disk, results, options.command, options,
                                               show=options.show)
    with open(os.path.join(results, "timings"), "w") as f:
        f.write(f"boot {boot_time:.0f}\njob {job_time:.0f}\n" +
                (f"prefixes {making:.0f}\n" if making else ""))
    if isinstance(status, str):
        if options.by_group and booted:
            print("each group's test says what finished before that", flush=True)
            return 0
        return MACHINE_FAILED
    return 0 if options.by_group else status


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
