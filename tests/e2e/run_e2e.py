#!/usr/bin/env python3
"""End-to-end checks of launcher.exe under Wine and Xvfb, each scenario in a fresh folder of a
throwaway prefix of 32-bit or 64-bit Windows, with a stub standing in for vc_redist.x86.exe.
One table of scenarios serves both kinds of prefix; the few that mean nothing in one say so.

usage: PYTHONPATH=tests/lib run_e2e.py --launcher build/windows/launcher.pinned-to-stub.exe
                  --shipped build/windows/launcher.exe
                  --helpers build/windows/tests/e2e [--windows 32|64]
                  [--faults build/windows/tests/e2e/launcher_faults.pinned-to-stub.exe]
                  [--group registry|install|window|errors|hostile|signed ...]
                  [--signed launcher.signed.exe] [--only SUBSTRING] [--results DIR]
"""

import argparse
import contextlib
import functools
import os
import re
import shutil
import signal
import subprocess
import sys
import threading
import time

import pe_image
from redistributable import DISPLAY_NAME, PARAMETERS, VERSION
from winelab import (
    REG_BINARY, REG_DWORD, REG_EXPAND_SZ, REG_MULTI_SZ, REG_NONE, REG_SZ, SCREEN, SPENT,
    WOW_UNINSTALL, Case, Lab, LabError, Utf16, display_name_in, keys_in, limit, pause,
    regtool_input, sz, wait_for)

MATCH = DISPLAY_NAME.encode("ascii")
STILL_ACTIVE = 259
SW_SHOWNORMAL = 1
REPORT_TITLE = b"Erreur d'application"
# How late the launcher may end after its installer, both stamped on one clock: a wait that
# sleeps between looks at the installer is caught, and the bound holds on an emulated machine.
END_BOUND_S = 1.0
FAULTS_EXE = None  # the launcher with an injected fault, set by main
SHIPPED_EXE = None  # the launcher as shipped, pinned to Microsoft's installer, set by main


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def debug_line(code):
    """The bytes a debugger reads for one report: the text and its terminating NUL."""
    return b"Erreur lors de l'installation : " + str(code).encode() + b"\0"


def start_failed_line(number):
    """The bytes for an installer that could not be started, with the reason's number."""
    return b"Impossible de lancer l'installation : " + str(number).encode() + b"\0"


def runtime(name="M-runtime", value_type=REG_SZ, data=sz(MATCH)):
    return (name, value_type, data)


def installer_started(case, timeout=20):
    check(wait_for(lambda: case.stub().starts, timeout), "the installer was never started")
    return case.stub().starts[0].pid


def exit_code(run, timeout=30):
    code = run.wait(timeout)
    check(code is not None, f"the launcher was still running after {limit(timeout):.0f} s")
    return code


def expect_nothing_started(case, run, status=0):
    code = exit_code(run)
    # Every process the launcher started joined its job, whether or not it ran yet.
    check(run.processes == 1, f"the launcher's job held {run.processes} processes, itself "
          "included: it started something")
    check(not case.stub().starts, f"an installer was started: {case.stub().starts}")
    check(run.debug_lines == [], f"debug output {run.debug_lines}")
    check(code == status, f"exit status {code}, expected {status}")


def expect_prompt_end(case, run, stub_pid):
    """The launcher ended within the bound after the installer it waited for."""
    stamp = case.stub().end_stamps.get(stub_pid)
    check(stamp is not None, "the installer logged no end")
    late = run.seconds_after(stamp)
    check(0 <= late <= END_BOUND_S,
          f"the launcher ended {late:.3f} s after its installer, expected within {END_BOUND_S} s")
    return late


def expect_installer_run(case, run, installer_code):
    code = exit_code(run)
    starts = case.stub().starts
    check(len(starts) == 1, f"installer started {len(starts)} times, expected once: {starts}")
    check(run.processes == 2, f"the launcher's job held {run.processes} processes, expected "
          "itself and its installer")
    start = starts[0]
    expected_path = case.installer_path()
    check(start.path == expected_path,
          f"installer run from {start.path!r}, expected {expected_path!r}")
    expected_line = b'"' + expected_path + b'" ' + PARAMETERS.encode()
    check(start.command_line == expected_line,
          f"installer command line {start.command_line!r}, expected {expected_line!r}")
    check(start.show == SW_SHOWNORMAL, f"installer shown with {start.show}, expected SW_SHOWNORMAL")
    expected_debug = [] if installer_code == 0 else [debug_line(installer_code)]
    check(run.debug_lines == expected_debug,
          f"debug output {run.debug_lines}, expected {expected_debug}")
    check(code == 0, f"exit status {code}, expected 0")
    return expect_prompt_end(case, run, start.pid)


# Error boxes

@functools.lru_cache
def image(path):
    return pe_image.PeImage.read(path)


def code_at(path, rva):
    """The program's code bytes from this offset on; None outside its code."""
    return image(path).code_at(rva)


OK_BUTTON = [(1, b"OK")]  # IDOK


def run_to_end(lab, run, timeout=30, release=None):
    """Lets a run end, closing each message box it shows on the way; `release`, a case whose
    installer is held by its stop file, has it let go once the first box has gone. Returns the
    exit status and the boxes: dicts of title and text bytes, owner (the owner's class, or "-"),
    icon (none, stop or other), buttons [(id, text bytes)] and app, the hidden window's state
    while the box showed (none, enabled or disabled)."""
    action = f"boxes:{round(limit(timeout) * 1000)}"
    if release:
        action += ":" + lab.win_path(release.stop_path)
    out = lab.poke(run.pid, action, timeout=timeout + 30)
    boxes = [dict(field.split("=", 1) for field in line.split()[1:]) for line in out[:-1]]
    for box in boxes:
        box.update(title=bytes.fromhex(box["title"]), text=bytes.fromhex(box["text"]),
                   buttons=[(int(i), bytes.fromhex(t)) for i, t in
                            (b.split(":") for b in box["buttons"].split(",") if b != "-")])
    check(out[-1] == "ended 1", f"still running after {limit(timeout):.0f} s, boxes {boxes}")
    return exit_code(run, 10), boxes


def expect_box(boxes, title, text, owner="-", icon="stop", app=None):
    """Checks that exactly one box came, as given, with only an OK button, its text matching the
    pattern `text`; `app`, when given, is the hidden window's state while it showed."""
    check(len(boxes) == 1, f"{len(boxes)} message boxes, expected 1: {boxes}")
    box = boxes[0]
    shown = (box["title"], box["owner"], box["icon"], box["buttons"])
    check(shown == (title, owner, icon, OK_BUTTON),
          f"box {box}, expected title {title!r}, owner {owner}, icon {icon}, buttons {OK_BUTTON}")
    check(app is None or box["app"] == app, f"hidden window {box['app']} while the box showed, "
          f"expected {app}")
    match = re.fullmatch(text, box["text"])
    check(match, f"box text {box['text']!r}, expected {text!r}")
    return match


def expect_report(case, boxes, class_name, message):
    """Checks for one report box whose message matches the pattern `message`, period included:
    task-modal, so the hidden window is disabled while it shows. Returns the offset it shows,
    checked to lie in the program's code, and the text's match."""
    module = case.exe[case.exe.rindex("\\") + 1:].encode()
    match = expect_box(boxes, REPORT_TITLE,
                       b"Exception " + class_name + b" dans le module " + re.escape(module) +
                       rb" dans ([0-9A-F]{8})\.\r\n" + message + rb"\r\n", app="disabled")
    offset = int(match[1], 16)
    check(code_at(case.program, offset) is not None, f"offset {offset:08X} outside the code")
    return offset, match


# Scenarios: (group, name, function(lab, launcher, slug) returning what was checked, the
# Windows kinds it runs on).

SCENARIOS = []
GROUPS = ["registry", "install", "window", "errors", "hostile", "signed"]
BOTH = (32, 64)


def scenario(group, name, windows=BOTH):
    def register(fn):
        SCENARIOS.append((group, name, fn, windows))
        return fn
    return register


def table(group, rows, windows=BOTH):
    """Registers one scenario per row of (name, argument)."""
    def register(fn):
        for name, argument in rows:
            SCENARIOS.append((group, name, lambda lab, launcher, slug, a=argument:
                              fn(lab, launcher, slug, a), windows))
        return fn
    return register


FOUND, INSTALLED, REPORTED = "found", "installer run", "report box"
WRONG_TYPES = [("REG_DWORD", REG_DWORD, (1).to_bytes(4, "little")),
               ("REG_BINARY", REG_BINARY, MATCH),
               ("REG_MULTI_SZ", REG_MULTI_SZ, MATCH + b"\0\0"),
               ("REG_NONE", REG_NONE, sz(MATCH))]

# One table of uninstall layouts: name, the lab's layout (entries as a 32-bit installer writes
# them unless said), what the launcher must do.
LAYOUTS = [
    ("present: entry with the exact name", [runtime()], FOUND),
    ("present: entry with a suffix after the name", [runtime(data=sz(MATCH + b"5 (Beta) [x86]"))],
     FOUND),
    ("present: REG_EXPAND_SZ entry", [runtime(value_type=REG_EXPAND_SZ)], FOUND),
    ("present: entry whose data has a NUL after the name",
     [runtime(data=MATCH + b"\0tail bytes\0")], FOUND),
    ("present: entry after unrelated, nameless and empty ones",
     [("A-other", REG_SZ, sz("Microsoft Visual C++ 2013 Redistributable (x86) - 12.0.40664")),
      ("B-nameless", None, None), ("C-empty-dword", REG_DWORD, b""), ("D-empty", REG_SZ, b""),
      runtime()], FOUND),
    ("missing: no entries at all", [], INSTALLED),
    ("missing: name one byte short", [runtime(data=sz(MATCH[:-1]))], INSTALLED),
    ("missing: name with one letter in the other case",
     [runtime(data=sz(MATCH.replace(b"x86", b"X86")))], INSTALLED),
    ("missing: name with a leading space", [runtime(data=sz(b" " + MATCH))], INSTALLED),
    ("missing: entries without a usable name",
     [("A-nameless", None, None), ("B-empty", REG_BINARY, b"")], INSTALLED),
    # Only an installer of the other kind writes there, as a 64-bit one would.
    ("missing: name only in the 64-bit view, the 32-bit view's key there",
     dict(native=[runtime()]), INSTALLED),
    # Read unexpanded: the variable's value would match.
    ("missing: REG_EXPAND_SZ name that would match once expanded",
     [runtime(value_type=REG_EXPAND_SZ, data=sz("%E2E_RUNTIME_NAME%"))], INSTALLED),
] + [(f"{name} name before the match", [("A-bad", t, d), runtime()], REPORTED)
     for name, t, d in WRONG_TYPES] + [
    (f"{name} name after the match", [runtime(), ("Z-bad", t, d)], FOUND)
    for name, t, d in WRONG_TYPES]
# A 64-bit prefix cannot stand for a 32-bit Windows: its WOW6432Node is the 32-bit view.
MACHINE_32BIT = [
    ("32-bit machine: entry under the native key", dict(native=[runtime()], wow_key=False), FOUND),
    ("32-bit machine: no entry", dict(wow_key=False), INSTALLED),
]


def layout_case(lab, launcher, slug, row):
    """Leaves the layout, checks that it holds what the case relies on (the order its entries
    are listed in, a NUL-less name stored without one, the code page), and runs the launcher
    over it."""
    layout, outcome, code_page = row
    layout = layout if isinstance(layout, dict) else dict(redirected=layout)
    env = lab.locale(code_page) if code_page else {}
    locale = dict(env=env, encoding="cp932" if code_page else "utf-8")
    written = [name for name, _, _ in layout.get("redirected", ())]
    ordered = len(written) > 1 and all(name.isascii() for name in written)
    unterminated = [(name, data) for name, _, data in layout.get("redirected", ())
                    if isinstance(data, Utf16)]
    # Written and read back in one Wine start.
    listings = lab.uninstall(**layout, **locale, then_list=(
        ["HKLM\\" + WOW_UNINSTALL] if ordered else []) + [
        f"HKLM\\{WOW_UNINSTALL}\\{name}" for name, _ in unterminated])
    if ordered:
        listing = keys_in(listings.pop(0))
        check(listing == written,
              f"entries listed as {listing[:6]}..., written as {written[:6]}...")
    for (name, data), listing in zip(unterminated, listings):
        # The ANSI calls add a NUL on writing, and on reading where the buffer has room.
        stored = (display_name_in(listing) or (None, None))[1]
        check(stored == len(data), f"{stored} bytes stored, expected {len(data)}: no NUL")
    with Case(lab, launcher, slug) as case:
        # A debugger would get the error instead of the box.
        run = case.start(debug=outcome != REPORTED, E2E_RUNTIME_NAME=MATCH.decode(), **env)
        if outcome == INSTALLED:
            late = expect_installer_run(case, run, 0)
            return f"installer started once, exit 0, {late * 1000:.0f} ms after it"
        if outcome == FOUND:
            expect_nothing_started(case, run)
            return "found: no installer, no debug output, exit 0"
        _, boxes = run_to_end(lab, run)
        offset, _ = expect_report(case, boxes, b"ERegistryException",
                                  rb"Type de donn\xe9es incorrect pour 'DisplayName'\.")
        expect_nothing_started(case, run, status=1)
        return f"one report box (offset {offset:08X}), no installer, no debug output, exit 1"


table("registry", [(name, (layout, outcome, None)) for name, layout, outcome in LAYOUTS])(
    layout_case)
table("registry", [(name, (layout, outcome, None)) for name, layout, outcome in MACHINE_32BIT],
      windows=(32,))(layout_case)


# 259 is also what a process that is still running answers: a launcher that took it for that
# would wait on, or report before the installer's end.
EXIT_CODES = [("0", 0, None), ("1", 1, None), ("1603", 1603, "/uninstall /quiet extra args"),
              ("3010", 3010, None), ("259", STILL_ACTIVE, None), ("0xC0000005", -1073741819, None),
              ("0x80000000", -2147483648, None)]


@table("install", [(f"installer exit code {text}", (text, code, args))
                   for text, code, args in EXIT_CODES])
def installer_exit(lab, launcher, slug, row):
    text, code, args = row
    lab.uninstall()
    with Case(lab, launcher, slug) as case:
        late = expect_installer_run(case, case.start(exit_code=text, args=args), code)
    shown = "no debug output" if code == 0 else f"debug line ending in {code}"
    return (shown + f", exit 0, {late * 1000:.0f} ms after the installer" +
            (f", own arguments {args!r} ignored" if args else ""))


# Where the launcher sits: its folder (a function of the lab and the slug, under the cases' folder
# unless absolute; None for the root of a drive mapped to the case's folder), its file name, the
# code page it runs in and its installer's exit code. U+8868 is 95 5C in code page 932: its second
# byte is the backslash's. The folder is cut in UTF-16, where no such byte exists, and the window
# title's byte-wise scan of the program's own name must take the character whole.
PLACES = [
    ("install", "launcher in a folder with spaces", lambda lab, slug: slug + " with  spaces",
     "launcher.exe", None, 1603),
    ("install", "launcher in a drive root", None, "launcher.exe", None, 3010),
    ("install", "launcher in the 32-bit programs folder",
     lambda lab, slug: os.path.join(lab.program_files, "Example Vendor", slug), "launcher.exe",
     None, 1603),
    ("install", "launcher in a folder named in Cyrillic, code page 1252",
     lambda lab, slug: slug + "-\u041f\u0430\u043f\u043a\u0430", "launcher.exe", 1252, 1603),
    ("hostile", "code page 932: launcher in a folder named with 95 5C",
     lambda lab, slug: slug + "-\u8868", "launcher.exe", 932, 0),
    ("hostile", "code page 932: program named with 95 5C, in such a folder",
     lambda lab, slug: slug + "-\u8868", "\u8868.exe", 932, 0),
]


def placed(lab, launcher, slug, place):
    folder, exe_name, code_page, code = place
    env = lab.locale(code_page) if code_page else {}
    lab.uninstall()
    with Case(lab, launcher, slug, exe_name=exe_name,
              folder=folder and folder(lab, slug)) as case:
        if not folder:
            lab.map_drive("Q", case.dir)
            case.exe = "Q:\\" + exe_name
        late = expect_installer_run(case, case.start(exit_code=code, **env), code)
    return (f"installer {case.installer_path().decode('utf-8')} started and waited for, exit 0 "
            f"{late * 1000:.0f} ms after it")


for group, name, *place in PLACES:
    table(group, [(name, place)])(placed)


# The installer beside the launcher, as sign_installers.py made it (None: no file), the number of
# the failed-start line (None: started), whether a wintrust.dll is planted beside the launcher,
# and whether the launcher is the shipped one, which pins Microsoft's build, rather than the copy
# pinned to the signed stub.
HASH_REFUSED = 2148077575  # CRYPT_E_HASH_VALUE
TRUST = [
    ("signed as Microsoft's installer: started", ("microsoft", None, False, False)),
    ("signed as Microsoft's, a wintrust.dll planted beside the launcher: never loaded",
     ("microsoft", None, True, False)),
    ("unsigned: refused", ("unsigned", 2148204800, False, False)),
    ("signed by another name: refused", ("other-signer", 2148204548, False, False)),
    ("altered after signing: refused", ("altered", 2148098064, False, False)),
    ("missing: not looked for elsewhere", (None, 2, False, False)),
    ("signed as Microsoft's, other bytes than the pinned build: refused",
     ("other-build", HASH_REFUSED, False, False)),
    ("signed as Microsoft's, beside the shipped launcher, which pins Microsoft's own: refused",
     ("microsoft", HASH_REFUSED, False, True)),
]


@table("install", [(f"installer {name}", row) for name, row in TRUST])
def installer_trust(lab, launcher, slug, row):
    kind, refusal, planted, shipped = row
    lab.uninstall()
    with Case(lab, SHIPPED_EXE if shipped else launcher, slug, installer=kind) as case:
        env, marker = {}, os.path.join(case.dir, "planted-dll-loaded")
        if planted:
            shutil.copy(os.path.join(lab.helpers_dir, "planted", "wintrust.dll"), case.dir)
            # As Windows does for a DLL that is not a known DLL, Wine then prefers the file
            # beside the program to its own, wherever a search would reach that folder. Either
            # the system-folder-only load or the process-wide search set at entry keeps it out:
            # the row fails only when both are gone.
            env = {"WINEDLLOVERRIDES": lab.env["WINEDLLOVERRIDES"] + ";wintrust=n,b",
                   "PLANTED_DLL_MARKER": lab.win_path(marker)}
        run = case.start(exit_code=1603, **env)
        code = exit_code(run)
        check(not os.path.exists(marker), "the planted wintrust.dll was loaded")
        if refusal is None:
            expect_installer_run(case, run, 1603)
        else:
            check(not case.stub().starts, f"an installer was started: {case.stub().starts}")
            expected = [start_failed_line(refusal)]
            check(run.debug_lines == expected, f"debug output {run.debug_lines}, expected {expected}")
            check(code == 0, f"exit status {code}, expected 0")
    if refusal is None:
        return "installer started once, debug line ending in 1603, exit 0"
    return (f"nothing started (the one in the working folder neither); debug line ending in "
            f"{refusal}, exit 0")


def project_version():
    """The version that CMakeLists.txt gives the project, as a.b.c.0."""
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
    with open(os.path.join(root, "CMakeLists.txt")) as f:
        return re.search(r"project\(launcher VERSION (\d+\.\d+\.\d+)", f.read())[1] + ".0"


@scenario("install", "version resource read by Windows")
def version_resource(lab, launcher, slug):
    with Case(lab, launcher, slug, installer=None) as case:
        lines = lab.poke(0, "version:" + case.exe)
    version = project_version()
    check(lines[0] == f"version file={version} product={version}", lines[0])
    strings = {name: bytes.fromhex(value).decode("cp1252")
               for name, value in (line.split("=", 1) for line in lines[1:])}
    check(strings["OriginalFilename"] == "launcher.exe", f"{strings}")
    check(strings["FileVersion"] == strings["ProductVersion"] == version, f"{strings}")
    check(VERSION in strings["FileDescription"], f"{strings}")
    check(all(strings[name] for name in ("ProductName", "FileDescription", "FileVersion")),
          f"empty strings in {strings}")
    return f"{strings['ProductName']!r} {strings['FileVersion']}, from {strings['OriginalFilename']}"


@scenario("signed", "signed copy: installs a missing runtime")
def signed_copy(lab, launcher, slug):
    check(image(launcher).certificate_table()[1] > 0, f"{launcher} carries no signature")
    lab.uninstall()
    with Case(lab, launcher, slug) as case:
        expect_installer_run(case, case.start(exit_code=1603), 1603)
    return "installer started once with the right command line, debug line ending in 1603, exit 0"


def window_info(lab, pid):
    line = lab.poke(pid, "info")[0]
    info = dict(field.split("=", 1) for field in line.split()[1:])
    info["title"] = bytes.fromhex(info["title"])
    return info


@table("window", [("hidden window of launcher.exe", ("launcher.exe", b"launcher")),
                  ("hidden window of SETUP.EXE", ("SETUP.EXE", b"Setup")),
                  ("hidden window of my.tool.exe", ("my.tool.exe", b"my"))])
def hidden_window(lab, launcher, slug, row):
    exe_name, title = row
    with waiting_launcher(lab, launcher, slug, exe_name=exe_name) as (case, run, stub_pid):
        info = window_info(lab, run.pid)
        check(info["count"] == "1", f"{info['count']} TApplication windows")
        check(info["title"] == title, f"title {info['title']!r}, expected {title!r}")
        check(int(info["style"], 16) == 0x84CA0000, f"style {info['style']}, expected 0x84ca0000")
        check(info["visible"] == "0", "the window is visible")
        x, y = SCREEN[0] // 2, SCREEN[1] // 2
        check(info["screen"] == f"{SCREEN[0]},{SCREEN[1]}", f"screen {info['screen']}")
        check(info["rect"] == f"{x},{y},{x},{y}", f"rect {info['rect']}, expected {x},{y},{x},{y}")
        case.stop_installer()
        check(exit_code(run) == 0, "exit status not 0")
        expect_prompt_end(case, run, stub_pid)
    return f"class TApplication, title {title.decode()!r}, style 0x84CA0000, hidden, 0x0 at {x},{y}"


@contextlib.contextmanager
def waiting_launcher(lab, launcher, slug, exit_code=0, exe_name="launcher.exe", **installer_env):
    """A case whose launcher, the runtime missing, has started its installer and waits on it: the
    installer runs until its stop file is written. Yields the case, the launcher's run and the
    installer's pid."""
    lab.uninstall()
    with Case(lab, launcher, slug, exe_name=exe_name) as case:
        run = case.start(exit_code=exit_code, wait=True, **installer_env)
        yield case, run, installer_started(case)


ENDS_WAIT = [("WM_QUIT posted to the thread", "quit-thread"),
             ("WM_QUIT posted to the window", "quit-window"),
             ("WM_ENDSESSION(1) sent to the window", "endsession:1")]


def installer_outlives(case, stub_pid):
    check(stub_pid not in case.stub().ends, "the installer ended with the launcher")
    case.stop_installer()
    check(wait_for(lambda: stub_pid in case.stub().ends, 10),
          "the installer did not outlive the launcher")


@table("window", [(name + " ends the wait", action) for name, action in ENDS_WAIT])
def ends_wait(lab, launcher, slug, action):
    with waiting_launcher(lab, launcher, slug) as (case, run, stub_pid):
        stamp = int(lab.poke(run.pid, "info", action)[1].rsplit("stamp=", 1)[1])
        code = exit_code(run, 15)
        check(run.debug_lines == [debug_line(STILL_ACTIVE)],
              f"debug output {run.debug_lines}, expected {[debug_line(STILL_ACTIVE)]}")
        check(code == 0, f"exit status {code}")
        late = run.seconds_after(stamp)
        check(late <= END_BOUND_S, f"the launcher ended {late:.3f} s after the message, expected "
              f"within {END_BOUND_S} s")
        installer_outlives(case, stub_pid)
    return (f"wait ended {late * 1000:.0f} ms after the message, debug line ending in 259, exit 0, "
            "installer kept running")


# wineboot terminates a process that is still there when its answer to WM_ENDSESSION arrives, as
# Windows may; the launcher writes its line after answering. So wineboot sometimes cuts it off
# before the line: in the emulated machine, and natively too (1 run in 5 to 8 alone, about 1 in 2
# beside other groups). This case accepts that outcome by this name and says which one it saw;
# the WM_ENDSESSION(1) case above, where nothing terminates the launcher, requires the line.
WINEBOOT_MAY_CUT_THE_LINE_OFF = True


@scenario("window", "wineboot --end-session ends the wait")
def end_session_by_wineboot(lab, launcher, slug):
    with waiting_launcher(lab, launcher, slug) as (case, run, stub_pid):
        lab.poke(run.pid, "info")
        lab.wine(["wineboot", "--end-session"], timeout=60)
        code = exit_code(run, 15)
        written = [line for line in run.debug_lines if line]  # unreadable once terminated
        cut_off = written == [] and WINEBOOT_MAY_CUT_THE_LINE_OFF
        check(cut_off or written == [debug_line(STILL_ACTIVE)],
              f"debug output {run.debug_lines}, expected {[debug_line(STILL_ACTIVE)]}")
        check(code == 0, f"exit status {code}")
        installer_outlives(case, stub_pid)
    how = "ended on its own, debug line ending in 259" if written else \
        "terminated by wineboot before its debug line"
    return f"launcher {how}, exit 0, installer kept running"


KEEPS_WAITING = [("WM_ENDSESSION(0)", "endsession:0", "endsession:0 answered=1 result=0 "),
                 ("WM_QUERYENDSESSION", "queryend", None),
                 ("WM_CLOSE", "close", None)]


@table("window", [(name + " leaves the wait on", (action, answer))
                  for name, action, answer in KEEPS_WAITING])
def keeps_waiting(lab, launcher, slug, row):
    action, expected_answer = row
    with waiting_launcher(lab, launcher, slug, exit_code=5) as (case, run, stub_pid):
        out = lab.poke(run.pid, action, "exists")
        if action == "queryend":
            answer = re.search(r"answered=(\d) result=(-?\d+)", out[0])
            check(answer and answer[1] == "1" and answer[2] != "0",
                  f"WM_QUERYENDSESSION answered {out[0]!r}, expected non-zero")
        elif expected_answer:
            check(out[0].startswith(expected_answer),
                  f"answer {out[0]!r}, expected {expected_answer!r}")
        check(out[1] == "exists 1", "the window is gone")
        check(run.wait(1.5) is None, f"the launcher ended (status {run.exit_code})")
        case.stop_installer()
        code = exit_code(run, 15)
        check(run.debug_lines == [debug_line(5)],
              f"debug output {run.debug_lines}, expected {[debug_line(5)]}")
        check(code == 0, f"exit status {code}")
        expect_prompt_end(case, run, stub_pid)
    return "window kept, still waiting 1.5 s later, then installer's code 5 reported, exit 0"


LAUNCHER_SHARE_BOUND = 0.05


@scenario("window", "processor use while waiting")
def processor_use(lab, launcher, slug):
    # The stub spins meanwhile, to show that the meter does see a busy process.
    with waiting_launcher(lab, launcher, slug, STUB_SPIN="1") as (case, run, stub_pid):
        pause(0.5)  # past start-up
        server_before, began = lab.server_seconds(), time.monotonic()
        out = lab.poke(run.pid, f"cpu:3000:{run.pid},{stub_pid}")
        server_share = (lab.server_seconds() - server_before) / (time.monotonic() - began)
        meters = {}
        for line in out:
            fields = dict(f.split("=") for f in line.split()[1:])
            meters[int(fields["pid"])] = (float(fields["busy_ms"]) / float(fields["wall_ms"]),
                                          int(fields["threads"]))
        wall = float(fields["wall_ms"]) / 1000
        (share, threads), (spinning, _) = meters[run.pid], meters[stub_pid]
        check(spinning > 0.10, f"a spinning installer measured at {spinning:.0%}: the meter sees "
              "nothing")
        check(threads >= 1, "no thread of the launcher was measured")
        check(share <= LAUNCHER_SHARE_BOUND, f"the launcher used {share:.1%} of a processor "
              f"while waiting, over {threads} threads")
        case.stop_installer()
        check(exit_code(run) == 0, "exit status not 0")
    return (f"launcher used {share:.1%} of one processor over {wall:.1f} s, threads: {threads} "
            f"(spinning installer beside it: {spinning:.0%}; wineserver {server_share:.1%} over "
            "the meter's run)")


# Errors, in the launcher built with one injected fault

def faults_case(lab, slug):
    return Case(lab, FAULTS_EXE, slug, exe_name="launcher_faults.exe")


@contextlib.contextmanager
def fault_run(lab, slug, fault, release=False, **start):
    """The launcher with the injected fault, run to its end with each box closed (`release`: its
    held installer let go once the first box has gone). Yields the case, the run, the exit
    status and the boxes."""
    with faults_case(lab, slug) as case:
        run = case.start(debug=False, LAUNCHER_TEST_FAULT=fault, **start)
        code, boxes = run_to_end(lab, run, release=case if release else None)
        yield case, run, code, boxes


# fault, class, message pattern (with the faulting instruction's full address as a group when it
# shows one), pattern of the instruction at the reported offset for a processor fault
CHECK_FAULTS = [
    ("read-null", b"EAccessViolation",
     rb"Violation d'acc\xe8s \xe0 l'adresse ([0-9A-F]{8}) dans le module 'launcher_faults\.exe'\. "
     rb"Lecture de l'adresse 00000000\.",
     rb"(\xa1|\x8b[\x05\x0d\x15\x1d\x25\x2d\x35\x3d])\0{4}"),  # mov from address 0
    ("divide-by-zero", b"EDivByZero", rb"Division par z\xe9ro\.",
     rb"\xf7[\x30-\x3f\x70-\x7f\xb0-\xbf\xf0-\xff]"),  # div or idiv
    ("illegal-instruction", b"EExternalException", rb"Exception externe C000001D\.", rb"\x0f\x0b"),
    ("out-of-memory", b"EOutOfMemory", rb"M\xe9moire insuffisante\.", None),
    ("raise-in-check", b"Exception", rb"Erreur de test\.", None),
]


@table("errors", [(f"{row[0]} in the check: report box", row) for row in CHECK_FAULTS])
def fault_in_check(lab, launcher, slug, row):
    fault, class_name, message, instruction = row
    lab.uninstall()  # a check that went on would start the installer
    with fault_run(lab, slug, fault) as (case, run, _, boxes):
        offset, match = expect_report(case, boxes, class_name, message)
        code = code_at(FAULTS_EXE, offset)
        if instruction:
            check(re.match(instruction, code),
                  f"offset {offset:08X} is not the faulting instruction: {code[:8].hex()}")
        if match.lastindex == 2:
            base, address = image(FAULTS_EXE).image_base, int(match[2], 16)
            check(address == base + offset,
                  f"address {address:08X} is not the base {base:08X} plus the offset {offset:08X}")
        expect_nothing_started(case, run, status=1)
    return f"one report box (offset {offset:08X}), no installer, no debug output, exit 1"


@table("errors", [("start-up failure: Runtime error box", ("class-registration", [])),
                  ("shutdown failure after a normal run: Runtime error box",
                   ("shutdown", [runtime()]))])
def runtime_error(lab, launcher, slug, row):
    fault, entries = row
    lab.uninstall(redirected=entries)
    with fault_run(lab, slug, fault) as (case, run, _, boxes):
        match = expect_box(boxes, b"Error", rb"Runtime error 217 at ([0-9A-F]{8})", icon="none")
        address = int(match[1], 16)
        check(code_at(FAULTS_EXE, address - image(FAULTS_EXE).image_base) is not None,
              f"address {address:08X} outside the code")
        expect_nothing_started(case, run, status=217)
    return f"one box without icon (address {address:08X}), no installer, exit 217"


@scenario("errors", "error in the window's message handling: host box, the wait goes on")
def window_handler_error(lab, launcher, slug):
    lab.uninstall()
    # While the box is open nothing can see the installer end: it is held until the box goes.
    with fault_run(lab, slug, "window-handler", release=True, exit_code=1603,
                   wait=True) as (case, run, _, boxes):
        expect_box(boxes, b"launcher_faults", rb"Erreur dans la fen\xeatre!", owner="TApplication",
                   app="disabled")
        expect_installer_run(case, run, 1603)
    return "box owned by the hidden window, titled with its caption, no period; 1603 line, exit 0"


@scenario("errors", "error in the pump: report box, installer left running")
def pump_error(lab, launcher, slug):
    lab.uninstall()
    # Held by the stop file, so the installer is surely still running when the launcher ends.
    with fault_run(lab, slug, "pump", exit_code=1603, wait=True) as (case, run, code, boxes):
        expect_report(case, boxes, b"Exception", rb"Erreur de pompe\.")
        check(run.debug_lines == [], f"debug output {run.debug_lines}")
        check(code == 1, f"exit status {code}, expected 1")
        installer_outlives(case, installer_started(case))
    return "one report box, no debug output, exit 1, installer kept running"


@table("errors", [("non-continuable exception in the check: report box",
                   ("noncontinuable", 1)),
                  ("non-continuable exception at start-up: Runtime error box",
                   ("noncontinuable-at-start", 255))])
def noncontinuable(lab, launcher, slug, row):
    fault, status = row
    lab.uninstall()
    with fault_run(lab, slug, fault) as (case, run, _, boxes):
        # Raised through RaiseException: the address shown is where the system raised it.
        if status == 1:
            expect_box(boxes, REPORT_TITLE,
                       rb"Exception EExternalException dans le module [^\r\n]+ dans [0-9A-F]{8}\."
                       rb"\r\nException externe E0000042\.\r\n")
        else:
            expect_box(boxes, b"Error", rb"Runtime error 255 at [0-9A-F]{8}", icon="none")
        expect_nothing_started(case, run, status=status)
    return f"one box, no installer, no debug output, exit {status}"


@table("errors", [("under a debugger: wrong-typed name", None),
                  ("under a debugger: read-null", "read-null")])
def under_debugger(lab, launcher, slug, fault):
    if fault:
        lab.uninstall()
    else:
        lab.uninstall(redirected=[("A-bad", REG_DWORD, (1).to_bytes(4, "little")), runtime()])
    with faults_case(lab, slug) if fault else Case(lab, launcher, slug) as case:
        run = case.start(LAUNCHER_TEST_FAULT=fault or "")
        code, boxes = run_to_end(lab, run)
        check(boxes == [], f"message boxes under a debugger: {boxes}")
        seen = run.exceptions[0][0] if run.exceptions else None
        check(run.exceptions == [(seen, True), (seen, False)],
              f"exceptions {run.exceptions}, expected one, first then second chance")
        check(not fault or seen == 0xC0000005, f"exception {seen:08X}, expected C0000005")
        check(code != 0, "exit status 0")
        check(not case.stub().starts, f"an installer was started: {case.stub().starts}")
        check(run.debug_lines == [], f"debug output {run.debug_lines}")
    return (f"no box; exception {seen:08X} first and second chance; "
            f"exit status {code & 0xFFFFFFFF:08X}, no installer")


# Hostile registry content and paths

MIB = 1 << 20
# Wine's ANSI registry calls take no path over 260 characters, and the check opens each entry by
# its full path: this is the longest entry name that it can open there.
LONGEST_OPENABLE = 260 - len(WOW_UNINSTALL) - 1
# Written through the ANSI call in code page 932, which turns each into some valid text.
BROKEN_DBCS = [("A-lone-lead-byte", REG_SZ, b"Product \x95"),
               ("B-lead-byte-then-NUL", REG_SZ, b"Product \x95\0"),
               ("C-lead-byte-NUL-before-the-name", REG_SZ, b"\x95\0" + MATCH + b"\0"),
               ("D-lead-backslash-lead", REG_SZ, b"\x95\\\x95"),
               ("E-bytes-of-no-character", REG_SZ, b"\x80\xa0\xfd\xfe\xff\0"),
               ("F-lead-byte-eating-the-name", REG_SZ, sz(b"\x95" + MATCH))]


def products(count):
    return [(f"E{i:05d}", REG_SZ, sz(f"Product {i}")) for i in range(count)]


# Layouts as above, some in code page 932. A name without a NUL is written through the wide call:
# the ANSI one would add one, and the case would mean nothing.
HOSTILE = [
    ("1 MiB name before the match", [("A-huge", REG_SZ, sz(b"x" * MIB)), runtime()], FOUND, None),
    ("1 MiB name that begins with the match", [runtime(data=sz(MATCH.ljust(MIB, b"x")))], FOUND,
     None),
    ("name without a NUL: the match exactly", [runtime(data=Utf16.of(MATCH))], FOUND, None),
    ("name without a NUL: the match and more", [runtime(data=Utf16.of(MATCH + b" more"))], FOUND,
     None),
    ("10,000 entries, the match last", products(9999) + [runtime()], FOUND, None),
    ("10,000 entries, no match", products(10000), INSTALLED, None),
    ("255-character names before the match",
     [("A" * 255, REG_SZ, sz("Product")), ("B" * 255, None, None),
      runtime("M" * LONGEST_OPENABLE)], FOUND, None),
    # The longest name sizes the listing's buffer.
    (f"the match under the longest name, {LONGEST_OPENABLE} characters",
     [("A" * LONGEST_OPENABLE, REG_SZ, sz("Product")), runtime("M" * LONGEST_OPENABLE)], FOUND,
     None),
    ("code page 932: broken double-byte names before the match",
     BROKEN_DBCS + [runtime(data=MATCH + b"\x95")], FOUND, 932),
    ("code page 932: broken double-byte names only", BROKEN_DBCS, INSTALLED, 932),
    # Two bytes a character, where the listing's length counts one.
    (f"code page 932: the match under the longest name, {LONGEST_OPENABLE} double-byte characters",
     [("\u4e9c" * LONGEST_OPENABLE, REG_SZ, sz("Product")), runtime("\u8868" * LONGEST_OPENABLE)],
     FOUND, 932),
]
table("hostile", [(name, row) for name, *row in HOSTILE])(layout_case)


class Churn:
    """One regtool run fed rounds of edits by a thread until stopped; rounds(i) gives round i."""

    def __init__(self, lab, rounds):
        self.rounds = rounds
        self.written = 0
        self.stopping = threading.Event()
        self.process = subprocess.Popen(["wine", lab.helper("regtool")], env=lab.env,
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL)
        self.thread = threading.Thread(target=self._feed, daemon=True)
        self.thread.start()
        # A pipe holds 64 KiB: once more has gone in, regtool is applying the edits.
        if not wait_for(lambda: self.written > 1 << 17 or not self.thread.is_alive(), 30):
            self.stop()
            raise LabError("regtool took no edits")

    def _feed(self):
        try:
            i = 0
            while not self.stopping.is_set():
                data = regtool_input(self.rounds(i))
                self.process.stdin.write(data)
                self.process.stdin.flush()
                self.written += len(data)
                i += 1
        except OSError:
            pass  # regtool ended; stop says why

    def stop(self):
        """Ends the edits; returns how many regtool applied."""
        self.stopping.set()
        self.thread.join(30)
        out, _ = self.process.communicate(timeout=60)
        last = out.decode("latin-1").split()
        if last[:1] != ["ok"]:
            raise LabError(f"regtool failed during the churn: {last}")
        return int(last[1])


CHURN_RUNS = 10
CHURN_ENTRIES = 1000


@scenario("hostile", f"entries deleted and retyped during the check, {CHURN_RUNS} runs")
def churn(lab, launcher, slug):
    flip = f"{lab.writer_key()}\\M-flip"
    lab.uninstall(redirected=products(CHURN_ENTRIES))

    def rounds(i):
        entry = f"{lab.writer_key()}\\E{i % CHURN_ENTRIES:05d}"
        # A key deleted under an open handle stays gone for it: deleted every round, the entry
        # would nearly always be passed over.
        gone = ("delkey", flip) if i % 4 == 3 else ("delval", flip, "DisplayName")
        return [("set", flip, "DisplayName", REG_SZ, sz(MATCH)),
                ("set", flip, "DisplayName", REG_DWORD, (1).to_bytes(4, "little")), gone,
                ("delkey", entry), ("set", entry, "DisplayName", REG_SZ, sz("x"))]

    outcomes = {}
    churning = Churn(lab, rounds)
    try:
        for n in range(CHURN_RUNS):
            with Case(lab, launcher, f"{slug}-{n}") as case:
                run = case.start(debug=False)
                _, boxes = run_to_end(lab, run)
                if boxes:
                    _, match = expect_report(
                        case, boxes, b"ERegistryException",
                        rb"(Type de donn\xe9es incorrect|Echec \xe0 l'obtention des donn\xe9es)"
                        rb" pour 'DisplayName'\.")
                    expect_nothing_started(case, run, status=1)
                    outcome = "box: " + match[2].decode("cp1252")
                elif case.stub().starts:
                    expect_installer_run(case, run, 0)
                    outcome = "installer run"
                else:
                    expect_nothing_started(case, run)
                    outcome = "found"
                outcomes[outcome] = outcomes.get(outcome, 0) + 1
    finally:
        edits = churning.stop()
    return f"{edits} edits applied; outcomes " + ", ".join(f"{k} x{v}" for k, v in outcomes.items())


# Driver

def slugify(index, name):
    return f"{index:02d}-" + re.sub(r"[^A-Za-z0-9]+", "-", name).strip("-")[:40]


SKIPPED = 77  # the exit status CTest is told means "skipped"


def take_the_road(road_file):
    """The build decides where the Wine groups run (scripts/wine_road.sh). On the skip road every
    group is skipped, with the reason; the emulated road runs this script inside the machine, not
    here; an unknown road is a set-up fault and fails."""
    try:
        with open(road_file) as f:
            road, reason = (f.read().splitlines() + ["", ""])[:2]
    except OSError as e:
        sys.exit(f"cannot read {road_file}: {e}; configure the build again")
    if road == "skip":
        print(f"skipped: {reason}", flush=True)
        sys.exit(SKIPPED)
    if road != "native":
        sys.exit(f"the Wine groups cannot run here on the {road or 'unknown'} road: {reason}")


def show(text):
    """Prints a line in one write: the runs side by side share one output."""
    sys.stdout.write(text + "\n")
    sys.stdout.flush()


class GroupRecord:
    """What one group leaves in the results folder as it goes, so that a run stopped half-way
    still tells what finished: NAME.cases (every case it is to run, written first), NAME.log (its
    lines as they come), NAME.finished (each case's name as it ends) and NAME.status (at its end).
    Without a folder it only keeps count."""

    def __init__(self, folder, name, cases):
        self.name, self.passed, self.failed, self.ended = name, 0, 0, False
        self.folder, self.files = folder, {}
        if folder:
            os.makedirs(folder, exist_ok=True)
            for suffix in (".status", ".cases", ".log", ".finished"):
                path = os.path.join(folder, name + suffix)
                if os.path.exists(path):
                    os.remove(path)
            self._write(os.path.join(folder, name + ".cases"), "".join(c + "\n" for c in cases))
            self.files = {kind: open(os.path.join(folder, name + "." + kind), "a",
                                     encoding="utf-8") for kind in ("log", "finished")}

    @staticmethod
    def _write(path, text):
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)

    def note(self, text, kind="log"):
        if kind in self.files:
            self.files[kind].write(text + "\n")
            self.files[kind].flush()

    def say(self, text):
        show(text)
        self.note(text)

    def finished(self, case, passed):
        self.passed, self.failed = self.passed + passed, self.failed + (not passed)
        self.note(case, "finished")

    def end(self):
        self.ended = True
        for f in self.files.values():
            f.close()
        self.files = {}
        if self.folder:
            self._write(os.path.join(self.folder, self.name + ".status"),
                        "1\n" if self.failed else "0\n")


class Spending:
    """Where the time went from its making to its end: SPENT's growth, and the time that no kind
    took."""

    def __init__(self):
        self.began, self.before, self.ended = time.monotonic(), self._now(), None

    @staticmethod
    def _now():
        return {kind: tuple(spent) for kind, spent in SPENT.items()}

    def end(self):
        self.ended = (time.monotonic(), self._now())
        return self

    def kinds(self):
        """kind -> (seconds, count), "the rest" included; and the whole."""
        ended, after = self.ended or (time.monotonic(), self._now())
        total = ended - self.began
        grown = {kind: (seconds - self.before.get(kind, (0, 0))[0],
                        count - self.before.get(kind, (0, 0))[1])
                 for kind, (seconds, count) in after.items()}
        grown = {kind: spent for kind, spent in grown.items() if spent[1]}
        grown["the rest"] = (total - sum(seconds for seconds, _ in grown.values()), 1)
        return grown, total

    def text(self):
        grown, total = self.kinds()
        return f"{total:.1f} s: " + ", ".join(
            f"{kind} {seconds:.1f} s" + (f" ({count}x)" if kind != "the rest" else "")
            for kind, (seconds, count) in sorted(grown.items(), key=lambda item: -item[1][0]))


def run_group(lab, record, chosen, launcher):
    """Runs one group's scenarios in a lab, each recorded as it ends, with where its time went.
    A group that selects no scenario fails. Returns the group's Spending."""
    spending, name, say = Spending(), record.name, record.say
    if not chosen:
        record.failed += 1
        say(f"FAIL  {name}: no scenario selected")
    for index, (scenario_name, fn) in enumerate(chosen):
        case_spending = Spending()
        try:
            what = fn(lab, launcher, slugify(index, f"{name}-{scenario_name}"))
            say(f"PASS  {name}: {scenario_name} ({case_spending.kinds()[1]:.1f} s): {what}")
            record.finished(scenario_name, True)
        except (Failure, LabError) as e:
            say(f"FAIL  {name}: {scenario_name}: {e}")
            record.finished(scenario_name, False)
        say(f"      time {case_spending.end().text()}")
    spending.end()
    say(f"{name}: {record.passed} passed, {record.failed} failed in "
        f"{spending.kinds()[1]:.0f} s; time {spending.text()}")
    return spending


def spending_table(columns):
    """One line a kind of work, one column a part of the run: seconds (and count) in each."""
    parts = [spending.kinds() for spending in columns.values()]
    kinds = sorted({kind for grown, _ in parts for kind in grown},
                   key=lambda kind: (kind == "the rest", kind))
    width = max(len(kind) for kind in kinds + ["time (s, count)"])

    def cell(spent, counted=True):
        return "-" if spent is None else f"{spent[0]:.1f}" + (f" ({spent[1]})" if counted else "")

    lines = [f"{'time (s, count)':<{width}} " + " ".join(f"{part:>14}" for part in columns)]
    for kind in kinds:
        lines.append(f"{kind:<{width}} " + " ".join(
            f"{cell(grown.get(kind), kind != 'the rest'):>14}" for grown, _ in parts))
    lines.append(f"{'whole':<{width}} " + " ".join(f"{total:>14.1f}" for _, total in parts))
    return lines


def run_lab(helpers, windows, plan, launchers):
    """Runs the groups of one kind of Windows in one lab, whose own lines go to each of them."""
    def say(text):
        show(text)
        for _, _, record in plan:
            record.note(text)

    columns = {"lab set-up": Spending()}
    try:
        with Lab(helpers, windows=windows, log=say) as lab:
            columns["lab set-up"].end()
            for group, chosen, record in plan:
                columns[record.name] = run_group(lab, record, chosen, launchers[group])
                record.end()
    except (LabError, OSError, subprocess.SubprocessError) as e:
        say(f"setup failed ({windows}-bit Windows): {e}")
    for line in spending_table(columns):
        show(line)
    for _, _, record in plan:
        if not record.ended:
            record.failed += 1  # the lab failed before the group ended
            record.end()


def side_by_side(kinds):
    """Runs this script once per kind of Windows, all at once: the labs share nothing, and a
    machine with several processors then keeps them busy. A signal is passed on to each run,
    which closes its own lab. Returns the worst status."""
    argv, skip = [], False
    for arg in sys.argv[1:]:
        if not skip and not arg.startswith("--windows"):
            argv.append(arg)
        skip = arg == "--windows"
    runs = [subprocess.Popen([sys.executable, os.path.abspath(__file__)] + argv +
                             ["--windows", str(windows)]) for windows in kinds]

    def pass_on(number, _):
        for run in runs:
            run.send_signal(number)

    signal.signal(signal.SIGTERM, pass_on)
    signal.signal(signal.SIGINT, pass_on)
    return max(run.wait() for run in runs)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--launcher", required=True,
                        help="the launcher pinned to the signed stub (pinned_copy.py)")
    parser.add_argument("--shipped", help="the shipped launcher, for the cases that it refuses "
                        "the stub (default: --launcher)")
    parser.add_argument("--signed", help="the signed copy, for the signed group (default: "
                        "--launcher)")
    parser.add_argument("--helpers", required=True, help="folder of the built helper programs")
    parser.add_argument("--faults", help="launcher_faults.exe, for the errors group")
    parser.add_argument("--group", action="append", choices=GROUPS)
    parser.add_argument("--windows", action="append", type=int, choices=BOTH,
                        help="the kind of Windows the prefix stands for; each one given runs "
                        "every group chosen, the kinds side by side (default: 32)")
    parser.add_argument("--only", help="run the scenarios whose name contains this text")
    parser.add_argument("--road-file", help="where the build recorded the road the Wine groups "
                        "take (scripts/wine_road.sh decide)")
    parser.add_argument("--results", help="a folder for each group's record as it goes (its "
                        "cases, output, finished cases and status: GroupRecord), so that one "
                        "run can serve several CTest tests; a group of the 64-bit prefix is "
                        "GROUP-64")
    options = parser.parse_args()
    if options.road_file:
        take_the_road(options.road_file)
    launchers = {group: os.path.abspath(options.launcher) for group in GROUPS}
    if options.signed:
        launchers["signed"] = os.path.abspath(options.signed)
    global FAULTS_EXE, SHIPPED_EXE
    FAULTS_EXE = options.faults and os.path.abspath(options.faults)
    SHIPPED_EXE = os.path.abspath(options.shipped or options.launcher)
    groups = options.group or [g for g in GROUPS if g != "signed"]  # that one needs a signed copy
    for path in ({launchers[g] for g in groups} | {SHIPPED_EXE} |
                 ({FAULTS_EXE} if "errors" in groups else set())):
        if not path or not os.path.isfile(path):
            sys.exit(f"no {path or 'launcher_faults.exe (--faults)'} for the groups chosen")
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))

    started = time.monotonic()
    kinds = list(dict.fromkeys(options.windows or [32]))
    if len(kinds) > 1:
        status = side_by_side(kinds)
        print(f"run time {time.monotonic() - started:.0f} s")
        return status
    windows = kinds[0]
    # Every group's record is begun before the lab starts: a run stopped early names them all.
    plan = []  # (group, its scenarios, its record)
    for group in groups:
        chosen = [(n, fn) for g, n, fn, where in SCENARIOS if g == group and
                  windows in where and (not options.only or options.only in n)]
        name = group if windows == 32 else f"{group}-{windows}"
        plan.append((group, chosen, GroupRecord(options.results, name, [n for n, _ in chosen])))
    run_lab(options.helpers, windows, plan, launchers)
    records = [record for _, _, record in plan]
    passed, failed = sum(r.passed for r in records), sum(r.failed for r in records)
    print(f"run time {time.monotonic() - started:.0f} s")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
