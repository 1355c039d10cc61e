#!/usr/bin/env python3
"""Runs launcher.exe three times under Wine beside a demo vc_redist.x86.exe and tells what
happened each time, from what was observed: the installer's own record of how it was started, the
registry, the launcher's debugger output and its exit status."""

import argparse
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from winelab import WOW_UNINSTALL, Lab, LabError, StubLog  # noqa: E402

NAME = "Microsoft Visual C++ 2015-2022 Redistributable (x86) - 14.34.31931"
GUID = "{5720EC03-F26F-40B7-980C-50B5D420B5DE}"
ENTRY = WOW_UNINSTALL + "\\" + GUID


def say(text=""):
    print(text, flush=True)


def registered(lab):
    """The DisplayName of the demo entry, or None when it is not registered."""
    parent = lab.registry([("list", "HKLM\\" + WOW_UNINSTALL)])
    if f"key {GUID}" not in parent:
        return None
    for line in lab.registry([("list", "HKLM\\" + ENTRY)]):
        fields = line.split(" ")
        if fields[:2] == ["value", "DisplayName"]:
            return bytes.fromhex(fields[3]).rstrip(b"\0").decode("latin-1")
    return ""


def run_launcher(lab, folder, log, title, **installer_env):
    say(title)
    name = registered(lab)
    say("  before: " + ("the redistributable is not registered" if name is None
                        else f"entry {GUID} is registered"))
    before = len(StubLog(log).starts)
    env = {"STUB_LOG": lab.win_path(log), "STUB_SLEEP_MS": "1500"}
    env.update(installer_env)
    began = time.monotonic()
    run = lab.launch(lab.win_path(os.path.join(folder, "launcher.exe")), env=env)
    run.started()
    status = run.wait(60)
    took = time.monotonic() - began
    run.finish()
    if status is None:
        raise LabError("the launcher did not end within a minute")

    stub = StubLog(log)
    starts = stub.starts[before:]
    if not starts:
        say("  the launcher started no installer")
    for pid, path, command_line in starts:
        say(f"  the launcher started the installer {path.decode('utf-8')}")
        say(f"    with the command line: {command_line.decode('utf-8')}")
        code = stub.ends.get(pid)
        say(f"    the installer, set to take 1.5 s, exited with code {code}; "
            f"the launcher ended {took:.1f} s after it was started")
    name = registered(lab)
    say("  after: " + ("still not registered" if name is None
                       else f"entry {GUID} is registered, DisplayName {name!r}"))
    if run.debug_lines:
        for line in run.debug_lines:
            say(f"  the launcher's debugger output: {line.rstrip(bytes(1)).decode('latin-1')!r}")
    else:
        say("  the launcher wrote nothing to the debugger output")
    say(f"  launcher exit status: {status}")
    say()


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--helpers", required=True)
    options = parser.parse_args()
    for path in (options.launcher,
                 os.path.join(options.helpers, "signed", "stub_installer.microsoft.exe")):
        if not os.path.isfile(path):
            sys.exit(f"demo: {path} is missing; build the Windows target first")

    say("Bringing up a private X display and a fresh 32-bit Wine prefix...")
    with Lab(options.helpers) as lab:
        folder = os.path.join(lab.drive_c, "Demo")
        os.makedirs(folder)
        shutil.copy(options.launcher, os.path.join(folder, "launcher.exe"))
        # Signed as Microsoft's installer is, under a test root the lab's machine trusts: the
        # launcher starts nothing else.
        shutil.copy(lab.installer(), os.path.join(folder, "vc_redist.x86.exe"))
        log = os.path.join(lab.drive_c, "demo-installer.log")
        # A 64-bit machine's layout: the WOW6432Node uninstall key exists, without the entry.
        lab.registry([("delkey", r"HKLM\SOFTWARE\WOW6432Node"),
                      ("mkkey", "HKLM\\" + WOW_UNINSTALL)])
        say("C:\\Demo holds launcher.exe beside a demo vc_redist.x86.exe, which \"installs\" by")
        say(f"registering the uninstall entry HKLM\\{ENTRY}")
        say(f"with DisplayName {NAME!r}.")
        say()

        install = {"STUB_INSTALL_KEY": ENTRY, "STUB_INSTALL_NAME": NAME, "STUB_EXIT": "0"}
        run_launcher(lab, folder, log, "Run 1: first start", **install)
        run_launcher(lab, folder, log, "Run 2: second start", **install)
        lab.registry([("delkey", "HKLM\\" + ENTRY)])
        run_launcher(lab, folder, log,
                     "Run 3: entry removed again, and this time the installer fails",
                     STUB_EXIT="1603")
    say("Wine prefix and X display removed.")


if __name__ == "__main__":
    try:
        main()
    except LabError as e:
        sys.exit(f"demo failed: {e}")
