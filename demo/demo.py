#!/usr/bin/env python3
"""Runs launcher.exe three times under Wine beside a demo vc_redist.x86.exe and tells what
happened each time, from what was observed: the installer's own record of how it was started, the
registry, the launcher's debugger output and its exit status. The shipped launcher starts
Microsoft's installer alone, by its digest: these runs use a copy of it pinned to the demo
installer instead, and a fourth run shows the shipped one refusing the demo installer."""

import argparse
import os
import sys
import time

from redistributable import DISPLAY_NAME, INSTALLER
from winelab import WOW_UNINSTALL, Case, Lab, LabError

GUID = "{5720EC03-F26F-40B7-980C-50B5D420B5DE}"
ENTRY = WOW_UNINSTALL + "\\" + GUID


def say(text=""):
    print(text, flush=True)


def registered(lab):
    """The DisplayName of the demo entry, or None when it is not registered."""
    value = lab.display_name(GUID)
    return None if value is None else value[0].rstrip(b"\0").decode("latin-1")


def run_launcher(lab, case, title, **installer_env):
    say(title)
    name = registered(lab)
    say("  before: " + ("the redistributable is not registered" if name is None
                        else f"entry {GUID} is registered"))
    before = len(case.stub().starts)
    began = time.monotonic()
    run = case.start(STUB_SLEEP_MS="1500", **installer_env)
    status = run.wait(60)
    took = time.monotonic() - began
    if status is None:
        raise LabError("the launcher did not end within a minute")

    stub = case.stub()
    starts = stub.starts[before:]
    if not starts:
        say("  the launcher started no installer")
    for start in starts:
        say(f"  the launcher started the installer {start.path.decode('utf-8')}")
        say(f"    with the command line: {start.command_line.decode('utf-8')}")
        say(f"    the installer, set to take 1.5 s, exited with code {stub.ends.get(start.pid)}; "
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
    parser.add_argument("--launcher", required=True,
                        help="the launcher pinned to the demo installer (pinned_copy.py)")
    parser.add_argument("--shipped", required=True, help="the shipped launcher.exe")
    parser.add_argument("--helpers", required=True)
    parser.add_argument("--windows", type=int, choices=(32, 64), default=64,
                        help="the kind of Windows the prefix stands for (default: 64)")
    options = parser.parse_args()
    for path in (options.launcher, options.shipped,
                 os.path.join(options.helpers, "signed", "stub_installer.microsoft.exe")):
        if not os.path.isfile(path):
            sys.exit(f"demo: {path} is missing; build the Windows target first")

    say(f"Bringing up a private X display and a fresh Wine prefix of {options.windows}-bit "
        "Windows...")
    with Lab(options.helpers, windows=options.windows) as lab:
        # Signed as Microsoft's installer is, under a test root the lab's machine trusts: the
        # launcher starts nothing else.
        with Case(lab, options.launcher, "demo", folder=os.path.join(lab.drive_c, "Demo")) as case:
            lab.uninstall()
            say(f"C:\\Demo holds launcher.exe beside a demo {INSTALLER}, which \"installs\" by")
            say(f"registering, as a 32-bit installer does, the uninstall entry HKLM\\{ENTRY}")
            say(f"with DisplayName {DISPLAY_NAME!r}.")
            say("The shipped launcher.exe starts only Microsoft's own installer of that build, found")
            say("by its SHA-256: these runs use a copy of it that differs only in those 32 bytes,")
            say("which hold the demo installer's digest (launcher.pinned-to-stub.exe).")
            say()
            # Written the ordinary way, which 64-bit Windows redirects into WOW6432Node.
            writer_entry = lab.writer_key().split("\\", 1)[1] + "\\" + GUID
            install = {"STUB_INSTALL_KEY": writer_entry, "STUB_INSTALL_NAME": DISPLAY_NAME}
            run_launcher(lab, case, "Run 1: first start", **install)
            run_launcher(lab, case, "Run 2: second start", **install)
            lab.registry([("delkey", "HKLM\\" + ENTRY)])
            run_launcher(lab, case, "Run 3: entry removed again, and this time the installer fails",
                         exit_code=1603)
        with Case(lab, options.shipped, "demo-shipped",
                  folder=os.path.join(lab.drive_c, "Demo shipped")) as case:
            lab.uninstall()
            run_launcher(lab, case, "Run 4: the shipped launcher.exe beside the same demo installer "
                         "refuses it: not Microsoft's file (2148077575 is CRYPT_E_HASH_VALUE)")
    say("Wine prefix and X display removed.")


if __name__ == "__main__":
    try:
        main()
    except LabError as e:
        sys.exit(f"demo failed: {e}")
