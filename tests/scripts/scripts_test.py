#!/usr/bin/env python3
"""The decisions of the set-up and machine scripts, against stubs: scripts/setup.sh with stubs of
apt-get, dpkg and dpkg-query (no network, nothing installed), and scripts/can_run_32bit.sh with
stand-ins for the i386 loader. Prints one line per case and `N passed, M failed`."""
import os
import stat
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SETUP = os.path.join(ROOT, "scripts", "setup.sh")
CAN_RUN_32BIT = os.path.join(ROOT, "scripts", "can_run_32bit.sh")
EVERYTHING = ("make cmake g++ libgtest-dev g++-mingw-w64-i686 binutils-mingw-w64-i686 wine "
              "wine32:i386 xvfb python3 osslsigncode openssl")

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
     0, ["update", "install"], "setup: installing libgtest-dev g++-mingw-w64-i686"),
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


def probe(folder, env_extra):
    answer_file = os.path.join(folder, "answer.txt")
    env = {k: v for k, v in os.environ.items() if k != "LAUNCHER_RUN_32BIT"}
    env.update(env_extra)
    done = subprocess.run(["sh", CAN_RUN_32BIT, "probe", answer_file], env=env,
                          capture_output=True, text=True, timeout=30)
    with open(answer_file) as f:
        return done.returncode, f.read().splitlines()


def probe_cases(folder):
    """(name, environment, answer expected on the first line, text of the reason)."""
    runs = os.path.join(folder, "loader-that-runs")
    with open(runs, "w") as f:
        f.write("#!/bin/sh\necho 'ld.so (Debian GLIBC 2.36-9) stable release version 2.36.'\n")
    foreign = os.path.join(folder, "loader-of-a-foreign-format")
    with open(foreign, "wb") as f:  # an ELF header no kernel accepts: execve gives ENOEXEC
        f.write(b"\x7fELF\x01\x01\x01" + bytes(9) + b"\x02\x00\x03\x00")
    for path in (runs, foreign):
        os.chmod(path, 0o755)
    return [
        ("loader runs: yes", {"LAUNCHER_I386_LOADER": runs}, "yes", "ld.so (Debian GLIBC"),
        ("loader cannot be executed: no", {"LAUNCHER_I386_LOADER": foreign}, "no",
         "Exec format error"),
        ("no loader: not installed, not 'cannot'",
         {"LAUNCHER_I386_LOADER": os.path.join(folder, "none")}, "not-installed", "make setup"),
        ("forced no where it runs", {"LAUNCHER_I386_LOADER": runs, "LAUNCHER_RUN_32BIT": "no"},
         "no", "LAUNCHER_RUN_32BIT=no"),
        ("forced yes where it cannot",
         {"LAUNCHER_I386_LOADER": foreign, "LAUNCHER_RUN_32BIT": "yes"}, "yes",
         "LAUNCHER_RUN_32BIT=yes"),
    ]


CTEST_TAIL = """The following tests did not run:
\t  1 - e2e_registry (Skipped)
\t  5 - e2e_hostile (Skipped)
Errors while running CTest
"""

# answer file, expected status of `require`, line expected from `skipped` ("" for none)
REPORT_CASES = [
    ("no\nforced by LAUNCHER_RUN_32BIT=no\n", 1,
     "make test: skipped e2e_registry e2e_hostile: they run launcher.exe under Wine, and this "
     "machine cannot run 32-bit x86 programs (forced by LAUNCHER_RUN_32BIT=no).\n"),
    ("yes\nld.so\n", 0, "make test: skipped e2e_registry e2e_hostile.\n"),
    ("not-installed\n/lib/ld-linux.so.2 is missing: run make setup\n", 1,
     "make test: skipped e2e_registry e2e_hostile.\n"),
]


def check_report(folder, answer, require_status, skipped_line):
    answer_file = os.path.join(folder, "answer.txt")
    log = os.path.join(folder, "ctest.log")
    with open(answer_file, "w") as f:
        f.write(answer)
    with open(log, "w") as f:
        f.write(CTEST_TAIL)
    problems = []
    required = subprocess.run(["sh", CAN_RUN_32BIT, "require", answer_file, "make demo"],
                              capture_output=True, text=True, timeout=30)
    lines = required.stdout.splitlines()
    if required.returncode != require_status:
        problems.append(f"require: status {required.returncode}")
    if require_status and (len(lines) != 2 or not lines[0].startswith("make demo needs Wine")):
        problems.append(f"require printed {lines}, expected two lines naming make demo")
    skipped = subprocess.run(["sh", CAN_RUN_32BIT, "skipped", answer_file, log],
                             capture_output=True, text=True, timeout=30)
    if skipped.stdout != skipped_line:
        problems.append(f"skipped printed {skipped.stdout!r}")
    with open(log, "w") as f:
        f.write("100% tests passed, 0 tests failed out of 6\n")
    nothing = subprocess.run(["sh", CAN_RUN_32BIT, "skipped", answer_file, log],
                             capture_output=True, text=True, timeout=30)
    if nothing.stdout:
        problems.append(f"nothing skipped, yet it printed {nothing.stdout!r}")
    return problems


def main():
    results = []
    with tempfile.TemporaryDirectory() as folder:
        write_stubs(folder)
        for case in SETUP_CASES:
            problems, stderr = check_setup(folder, case)
            results.append((f"setup: {case[0]}", problems, stderr))
        for name, env, answer, reason in probe_cases(folder):
            status, lines = probe(folder, env)
            problems = []
            if status != 0 or lines[:1] != [answer] or reason not in "".join(lines[1:2]):
                problems.append(f"status {status}, recorded {lines}")
            results.append((f"probe: {name}", problems, ""))
        for answer, status, line in REPORT_CASES:
            results.append((f"report: answer {answer.split()[0]}",
                            check_report(folder, answer, status, line), ""))
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
