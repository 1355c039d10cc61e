#!/usr/bin/env python3
"""The decisions of the set-up and machine scripts, against stubs: scripts/setup.sh with stubs of
apt-get, dpkg and dpkg-query (no network, nothing installed), and scripts/wine_road.sh with
stand-ins for the i386 loader and the set-up. Prints one line per case and `N passed, M failed`."""
import os
import stat
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SETUP = os.path.join(ROOT, "scripts", "setup.sh")
WINE_ROAD = os.path.join(ROOT, "scripts", "wine_road.sh")
MACHINE = os.path.join(ROOT, "scripts", "emulated", "machine.py")
EVERYTHING = ("make cmake g++ libgtest-dev g++-mingw-w64-i686 binutils-mingw-w64-i686 wine "
              "wine32:i386 wine64 xvfb python3 osslsigncode openssl libengine-pkcs11-openssl "
              "softhsm2 opensc")

# apt-get's answers, as bookworm's apt prints them under LC_ALL=C.
APT_OUTCOMES = {
    "ok": (0, ""),
    "index": (100, "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security"
                   "/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). "
                   "Mirror sync in progress?\nE: Some index files failed to download."),
    "mixed": (100, "The following packages have unmet dependencies:\n libcurl4:i386 : Depends: "
                   "libssl3:i386 (>= 3.0.0) but it is not going to be installed\n"
                   "E: Unable to correct problems, you have held broken packages."),
    "unknown": (100, "E: Unable to locate package wine32:i386"),
}

STUBS = {
    "dpkg-query": r"""#!/bin/sh
# dpkg-query -W -f=... PACKAGE: installed when PACKAGE is in $STUB_INSTALLED
for p in $STUB_INSTALLED; do [ "$p" = "$3" ] && { echo "install ok installed"; exit 0; }; done
exit 1
""",
    "dpkg": r"""#!/bin/sh
echo "dpkg $*" >>"$STUB_LOG"
[ "$1" = --print-foreign-architectures ] && echo "$STUB_ARCHS"
exit 0
""",
    "apt-get": r"""#!/bin/sh
echo "apt-get $* LC_ALL=$LC_ALL" >>"$STUB_LOG"
case "$1 $*" in
  update*) outcome=$STUB_UPDATE ;;
  *" -t "*) outcome=$STUB_PINNED ;;
  *) outcome=$STUB_INSTALL ;;
esac
case "$outcome" in
""" + "".join(f"  {name}) printf '%s\\n' '{text}'; exit {code} ;;\n"
              for name, (code, text) in APT_OUTCOMES.items()) + """esac
""",
}

# name, installed, i386 known, update, install, pinned install,
#   expected status, apt-get calls (verb and -t), text that stderr must hold
SETUP_CASES = [
    ("everything there: nothing run", EVERYTHING, "i386", "ok", "ok", "ok",
     0, [], ""),
    ("missing packages installed", "make cmake g++ python3", "", "ok", "ok", "ok",
     0, ["update", "install"], "setup: installing libgtest-dev g++-mingw-w64-i686 "
     "binutils-mingw-w64-i686 wine wine32:i386 wine64 xvfb osslsigncode openssl "
     "libengine-pkcs11-openssl softhsm2 opensc\n"),
    ("a broken index is a warning", "make", "i386", "index", "ok", "ok",
     0, ["update", "install"], "warning: some package indexes could not be downloaded"),
    ("mixed versions: retried pinned to the release", "make", "i386", "index", "mixed", "ok",
     0, ["update", "install", "install -t bookworm"], "trying again with the bookworm release"),
    ("pinned retry fails too: stops with the command", "make", "i386", "index", "mixed", "mixed",
     1, ["update", "install", "install -t bookworm"],
     "install them with: apt-get install -t bookworm cmake g++"),
    ("another install failure: no retry, stops", "make", "i386", "ok", "unknown", "ok",
     1, ["update", "install"], "E: Unable to locate package wine32:i386"),
]


def write_stubs(folder):
    for name, text in STUBS.items():
        path = os.path.join(folder, name)
        with open(path, "w") as f:
            f.write(text)
        os.chmod(path, os.stat(path).st_mode | stat.S_IEXEC)


def run_setup(folder, installed, archs, update, install, pinned):
    log = os.path.join(folder, "calls.log")
    open(log, "w").close()
    os_release = os.path.join(folder, "os-release")
    with open(os_release, "w") as f:
        f.write('NAME="Debian GNU/Linux"\nVERSION_CODENAME=bookworm\n')
    env = dict(os.environ, SETUP_COMMANDS=folder, SETUP_SUDO="", SETUP_OS_RELEASE=os_release,
               STUB_LOG=log, STUB_INSTALLED=installed, STUB_ARCHS=archs, STUB_UPDATE=update,
               STUB_INSTALL=install, STUB_PINNED=pinned, LC_ALL="fr_FR.UTF-8")
    done = subprocess.run(["sh", SETUP], env=env, capture_output=True, text=True, timeout=60)
    with open(log) as f:
        calls = f.read().splitlines()
    return done.returncode, calls, done.stderr


def check_setup(folder, case):
    name, installed, archs, update, install, pinned, status, expected_calls, text = case
    got_status, calls, stderr = run_setup(folder, installed, archs, update, install, pinned)
    apt_calls = [c for c in calls if c.startswith("apt-get ")]
    verbs = [("install -t " + c.split(" -t ")[1].split()[0]) if " -t " in c else c.split()[1]
             for c in apt_calls]
    problems = []
    if got_status != status:
        problems.append(f"status {got_status}, expected {status}")
    if verbs != expected_calls:
        problems.append(f"apt-get calls {verbs}, expected {expected_calls}")
    if any("LC_ALL=C" not in c for c in apt_calls):
        problems.append("apt-get run without LC_ALL=C")
    if text not in stderr:
        problems.append(f"stderr lacks {text!r}")
    adds_i386 = any("--add-architecture i386" in c for c in calls)
    if adds_i386 != ("wine32:i386" not in installed and archs != "i386"):
        problems.append(f"i386 architecture added: {adds_i386}")
    return problems, stderr


def decide(folder, env_extra):
    road_file = os.path.join(folder, "wine-road.txt")
    if os.path.exists(road_file):
        os.remove(road_file)
    env = {k: v for k, v in os.environ.items() if k != "LAUNCHER_WINE"}
    env.update(env_extra)
    done = subprocess.run(["sh", WINE_ROAD, "decide", road_file], env=env,
                          capture_output=True, text=True, timeout=30)
    lines = []
    if os.path.exists(road_file):
        with open(road_file) as f:
            lines = f.read().splitlines()
    return done.returncode, lines, done.stderr


def road_cases(folder):
    """(name, environment, status, road recorded ("" for none), text of the reason or error)."""
    runs = os.path.join(folder, "loader-that-runs")
    with open(runs, "w") as f:
        f.write("#!/bin/sh\necho 'ld.so (Debian GLIBC 2.36-9) stable release version 2.36.'\n")
    foreign = os.path.join(folder, "loader-of-a-foreign-format")
    with open(foreign, "wb") as f:  # an ELF header no kernel accepts: execve gives ENOEXEC
        f.write(b"\x7fELF\x01\x01\x01" + bytes(9) + b"\x02\x00\x03\x00")
    for path in (runs, foreign):
        os.chmod(path, 0o755)
    later = os.path.join(folder, "loader-after-setup")
    # Set-ups that do and do not bring the loader.
    brings = f"cp {runs} {later}"
    lacks = "true"
    return [
        ("loader runs: native", {"LAUNCHER_I386_LOADER": runs}, 0, "native", "ld.so (Debian"),
        ("loader cannot be executed: emulated", {"LAUNCHER_I386_LOADER": foreign}, 0,
         "emulated", 'answers "Exec format error"'),
        ("skip asked for", {"LAUNCHER_I386_LOADER": runs, "LAUNCHER_WINE": "skip"}, 0, "skip",
         "LAUNCHER_WINE=skip"),
        ("emulated forced where it runs natively",
         {"LAUNCHER_I386_LOADER": runs, "LAUNCHER_WINE": "emulated"}, 0, "emulated",
         "LAUNCHER_WINE=emulated"),
        ("native forced where it runs", {"LAUNCHER_I386_LOADER": runs, "LAUNCHER_WINE": "native"},
         0, "native", "ld.so (Debian"),
        ("native forced where it cannot: fails at once with the reason",
         {"LAUNCHER_I386_LOADER": foreign, "LAUNCHER_WINE": "native"}, 1, "",
         'LAUNCHER_WINE=native, but this machine cannot run 32-bit x86 programs'),
        ("not yet set up: set up first, then decided",
         {"LAUNCHER_I386_LOADER": later, "LAUNCHER_SETUP": brings}, 0, "native", "ld.so"),
        ("set-up leaves no loader: fails",
         {"LAUNCHER_I386_LOADER": os.path.join(folder, "none"), "LAUNCHER_SETUP": lacks}, 1, "",
         "is missing even after the set-up"),
        ("an unknown road", {"LAUNCHER_WINE": "natively"}, 2, "", "must be native, emulated"),
    ]


CTEST_TAIL = """The following tests did not run:
\t  1 - e2e_registry (Skipped)
\t  5 - e2e_hostile (Skipped)
Errors while running CTest
"""

# road file, status of `run` for the demo and for the benchmark, text of the summary line
ROAD_REPORTS = [
    ("native\nthis machine runs 32-bit x86 programs (ld.so)\n", 0, 0,
     "make test: the Wine groups ran natively: this machine runs 32-bit x86 programs (ld.so)."),
    ("emulated\nLAUNCHER_WINE=emulated asks for it\n", None, 1,
     "make test: the Wine groups ran in an emulated x86-64 machine (LAUNCHER_WINE=emulated "
     "asks for it): image built in 412 s, boot 14 s, groups 700 s."),
    ("skip\nLAUNCHER_WINE=skip asks for no Wine run\n", 1, 1,
     "make test: the Wine groups were skipped: LAUNCHER_WINE=skip asks for no Wine run. "
     "Skipped: e2e_registry e2e_hostile."),
]


def check_road_report(folder, road, demo_status, bench_status, summary):
    build = os.path.join(folder, "build")
    os.makedirs(os.path.join(build, "emulated-e2e"), exist_ok=True)
    road_file = os.path.join(build, "wine-road.txt")
    log = os.path.join(folder, "ctest.log")
    with open(road_file, "w") as f:
        f.write(road)
    with open(os.path.join(build, "emulated-image-time"), "w") as f:
        f.write("412\n")
    with open(os.path.join(build, "emulated-e2e", "timings"), "w") as f:
        f.write("boot 14\njob 700\n")
    with open(log, "w") as f:
        f.write(CTEST_TAIL if road.startswith("skip") else "100% tests passed\n")
    problems = []
    # The demo's emulated road boots a machine: that road is proven by running it, not here.
    for what, status, extra in (("make demo", demo_status, []),
                                ("make bench", bench_status, ["--native-only"])):
        if status is None:
            continue
        done = subprocess.run(["sh", WINE_ROAD, "run", road_file, what] + extra +
                              ["--", "sh", "-c", "echo ran; exit 3"],
                              capture_output=True, text=True, timeout=30)
        ran = done.stdout.startswith("ran")
        if (done.returncode, ran) != ((3, True) if status == 0 else (1, False)):
            problems.append(f"{what}: status {done.returncode}, printed {done.stdout!r}")
        elif status and what not in done.stdout:
            problems.append(f"{what}: its refusal does not name it: {done.stdout!r}")
    line = subprocess.run(["sh", WINE_ROAD, "summary", road_file, log], capture_output=True,
                          text=True, timeout=30).stdout
    if line != summary + "\n":
        problems.append(f"summary {line!r}")
    return problems


# What a group left in the emulated machine (files of its record, None: absent), why the machine
# stopped (None: it did not), the status its test must give and the lines it must print.
GROUP_RECORDS = [
    ("ended and passed", dict(cases="a\n", log="PASS  a\n", finished="a\n", status="0\n"), None,
     0, ["PASS  a"]),
    ("ended with a failure", dict(cases="a\n", log="FAIL  a\n", finished="a\n", status="1\n"),
     None, 1, ["FAIL  a"]),
    ("stopped half-way: what finished, then what never did",
     dict(cases="a\nb: c\nd\n", log="PASS  a\n", finished="a\n"),
     "the emulated machine was still running after 9 s", 1,
     ["PASS  a", "the group g did not end (the emulated machine was still running after 9 s): 1 "
      "of its 3 cases finished; never finished:", "  b: c", "  d"]),
    ("stopped before its lab began: every case named", dict(cases="a\n"), "it stopped", 1,
     ["the group g did not end (it stopped): 0 of its 1 cases finished; never finished:",
      "  a"]),
    ("a run that ended without its status", dict(cases="a\n", finished="a\n"), None, 1,
     ["the group g did not end (the run in the emulated machine ended): 1 of its 1 cases "
      "finished; never finished:"]),
]


def check_group_record(folder, files, stopped, status, lines):
    results = os.path.join(folder, "machine")
    groups = os.path.join(results, "groups")
    os.makedirs(groups, exist_ok=True)
    for name in os.listdir(groups):
        os.remove(os.path.join(groups, name))
    for kind, text in files.items():
        with open(os.path.join(groups, "g." + kind), "w") as f:
            f.write(text)
    if os.path.exists(os.path.join(results, "stopped")):
        os.remove(os.path.join(results, "stopped"))
    if stopped:
        with open(os.path.join(results, "stopped"), "w") as f:
            f.write(stopped + "\n")
    done = subprocess.run([sys.executable, MACHINE, "result", "--results", results, "--group",
                           "g"], capture_output=True, text=True, timeout=30)
    printed = done.stdout.splitlines()
    if done.returncode != status or printed != lines:
        return [f"status {done.returncode}, printed {printed}"]
    return []


def main():
    results = []
    with tempfile.TemporaryDirectory() as folder:
        write_stubs(folder)
        for case in SETUP_CASES:
            problems, stderr = check_setup(folder, case)
            results.append((f"setup: {case[0]}", problems, stderr))
        for name, env, status, road, text in road_cases(folder):
            got, lines, stderr = decide(folder, env)
            problems = []
            if got != status or lines[:1] != ([road] if road else []) or \
                    text not in "".join(lines[1:2]) + stderr:
                problems.append(f"status {got}, recorded {lines}, said {stderr!r}")
            results.append((f"road: {name}", problems, ""))
        for road, demo, bench, summary in ROAD_REPORTS:
            results.append((f"report: {road.split()[0]} road",
                            check_road_report(folder, road, demo, bench, summary), ""))
        for name, files, stopped, status, lines in GROUP_RECORDS:
            results.append((f"group record: {name}",
                            check_group_record(folder, files, stopped, status, lines), ""))
    failed = 0
    for name, problems, detail in results:
        print(("FAIL  " if problems else "PASS  ") + name + "".join("; " + p for p in problems))
        if problems and detail:
            print("      " + detail.replace("\n", "\n      "))
        failed += bool(problems)
    print(f"{len(results) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
