"""A throwaway Wine prefix, 32-bit or 64-bit Windows, on a private Xvfb display, and the helper
programs that prepare the registry, run launcher.exe under a debugger and act on its window.
Shared by the end-to-end tests, the benchmark and the demo. Standard library only."""

import contextlib
import os
import queue
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
from collections import namedtuple

from redistributable import INSTALLER

WOW_UNINSTALL = r"SOFTWARE\WOW6432Node\Microsoft\Windows\CurrentVersion\Uninstall"
NATIVE_UNINSTALL = r"SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall"
REG_NONE, REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ = 0, 1, 2, 3, 4, 7
AEDEBUG = r"Software\Microsoft\Windows NT\CurrentVersion\AeDebug"

SCREEN = (1025, 771)  # odd sizes, so that halving them has to round

# Where Wine runs slower than on this machine's own processor (in the emulated machine), every time
# limit grows by this factor. Limits only: a bound that a test asserts is never scaled.
TIME_SCALE = float(os.environ.get("LAUNCHER_E2E_TIME_SCALE") or 1)


def limit(seconds):
    return seconds * TIME_SCALE


# Where a run's time goes, for the figures the e2e run prints: kind -> [seconds, count]. One lab
# a process, so one table a process.
SPENT = {}


@contextlib.contextmanager
def spending(kind):
    """Adds the time the block takes to SPENT under `kind`."""
    started = time.monotonic()
    try:
        yield
    finally:
        entry = SPENT.setdefault(kind, [0.0, 0])
        entry[0] += time.monotonic() - started
        entry[1] += 1


# A folder of prefixes made in advance, one a kind (win32, win64), each taken whole by the first
# lab of its kind instead of running wineboot (the emulated machine makes them once per image).
PREFIX_TEMPLATES = os.environ.get("LAUNCHER_PREFIX_TEMPLATES")
TEMPLATE_STAMP = "launcher-template"  # written last: the kind and the Wine that made it
TEMPLATE_PARTS = ("system.reg", "user.reg", "userdef.reg", "drive_c/windows/system32",
                  "dosdevices/c:")


def env_arch(windows):
    return "win32" if windows == 32 else "win64"


def wine_version():
    return subprocess.run(["wine", "--version"], check=True, stdout=subprocess.PIPE, text=True,
                          timeout=limit(30)).stdout.strip()


def prefix_env(windows, prefix):
    """The variables for a Wine prefix of this kind, taken from this process's own."""
    env = {k: v for k, v in os.environ.items() if not k.startswith(("STUB_", "WINE"))}
    env.update(
        WINEPREFIX=prefix,
        WINEARCH=env_arch(windows),
        WINEDEBUG="-all",
        # No Mono or Gecko install prompts in a fresh prefix.
        WINEDLLOVERRIDES="mscoree,mshtml=",
    )
    return env


def make_prefix(env):
    """Makes the prefix env names, leaving its wineserver running for the session: started first,
    so that it is the one wineboot uses, each wine start then costs a fraction of a second."""
    os.makedirs(env["WINEPREFIX"])
    subprocess.run(["wineserver", "-p"], env=env, check=True, timeout=limit(30))
    # Its messages go to a file: the processes it leaves running would hold a pipe open.
    with spending("wineboot -i"), tempfile.TemporaryFile() as messages:
        code = subprocess.run(["wineboot", "-i"], env=env, timeout=limit(180),
                              stdout=subprocess.DEVNULL, stderr=messages).returncode
        messages.seek(0)
        last = messages.read().decode("latin-1").splitlines()[-3:]
    if code != 0:
        free = shutil.disk_usage(env["WINEPREFIX"]).free >> 20
        raise LabError(f"wineboot -i failed with {code} ({free} MB free there): " +
                       " / ".join(last))


def make_templates(folder, kinds=(32, 64)):
    """Makes a prefix of each kind into `folder`, side by side, each stamped once complete and
    its server ended; for PREFIX_TEMPLATES."""
    version = wine_version()

    def make(windows):
        env = prefix_env(windows, os.path.join(folder, env_arch(windows)))
        shutil.rmtree(env["WINEPREFIX"], ignore_errors=True)
        make_prefix(env)
        for option in ("-k", "-w"):  # the server saves the registry as it ends
            subprocess.run(["wineserver", option], env=env, timeout=limit(60))
        with open(os.path.join(env["WINEPREFIX"], TEMPLATE_STAMP), "w") as f:
            f.write(f"{env_arch(windows)} {version}\n")

    makers = [threading.Thread(target=make, args=(windows,)) for windows in kinds]
    for maker in makers:
        maker.start()
    for maker in makers:
        maker.join()
    return all(take_template(windows, folder, check_only=True) for windows in kinds)


def take_template(windows, folder, prefix=None, check_only=False):
    """Moves the template of this kind to `prefix` when it is sound: complete, of this kind and
    made by this Wine. A template that is not is never used. Returns whether it was sound."""
    template = os.path.join(folder, env_arch(windows))
    try:
        with open(os.path.join(template, TEMPLATE_STAMP)) as f:
            sound = f.read().split() == [env_arch(windows)] + wine_version().split()
    except OSError:
        return False
    sound = sound and all(os.path.exists(os.path.join(template, part)) for part in TEMPLATE_PARTS)
    if sound and not check_only:
        os.rename(template, prefix)  # made for one lab: the machine's disk is a snapshot
        os.remove(os.path.join(prefix, TEMPLATE_STAMP))
    return sound


def pause(seconds):
    """A fixed wait, counted apart from the waits for an event."""
    with spending("fixed waits"):
        time.sleep(seconds)


class LabError(Exception):
    pass


class Utf16(bytes):
    """Value data stored exactly as given, through the wide call: `Utf16.of(text)` is a text
    without the NUL that the ANSI call would add."""

    @classmethod
    def of(cls, text):
        return cls(text.encode("utf-16-le") if isinstance(text, str) else
                   text.decode("latin-1").encode("utf-16-le"))


def sz(text):
    """REG_SZ data as Windows stores it: the bytes and one terminating NUL."""
    return (text.encode("ascii") if isinstance(text, str) else text) + b"\0"


class Lab:
    """Owns an Xvfb server, a Wine prefix of either Windows kind, its persistent wineserver and a
    process that holds the desktop; `close` (or leaving the `with` block) removes all."""

    def __init__(self, helpers_dir, windows=32, log=None):
        if windows not in (32, 64):
            raise LabError(f"no {windows}-bit Windows prefix")
        self.windows = windows
        self.helpers_dir = os.path.abspath(helpers_dir)
        self.signed_dir = os.path.join(self.helpers_dir, "signed")
        for path in [self.helper(name) for name in ("dbgrun", "regtool", "winpoke", "rootstore")] + [
                self.installer(), os.path.join(self.signed_dir, "root.der")]:
            if not os.path.isfile(path):
                raise LabError(f"missing helper {path}")
        self.log = log or (lambda text: None)
        self.root = None
        self.xvfb = None
        self.env = None
        self.keeper = None

    def helper(self, name):
        return os.path.join(self.helpers_dir, name + ".exe")

    def installer(self, kind="microsoft", program="stub_installer"):
        """A program as the build signed it (sign_installers.py): "microsoft" (signed as
        Microsoft's installer is), "unsigned", "other-signer", "altered" or "other-build" (other
        bytes, signed as Microsoft's)."""
        return os.path.join(self.signed_dir, f"{program}.{kind}.exe")

    def __enter__(self):
        try:
            self.start()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()

    def start(self):
        self.root = tempfile.mkdtemp(prefix="launcher-wine-")
        display = self._start_xvfb()
        env = dict(prefix_env(self.windows, os.path.join(self.root, "prefix")),
                   DISPLAY=f":{display}")
        self.env = env
        started = time.monotonic()
        how = "made"
        with spending("template taken"):
            taken = PREFIX_TEMPLATES and take_template(self.windows, PREFIX_TEMPLATES,
                                                       env["WINEPREFIX"])
        if taken:
            how = "taken from the templates"
            subprocess.run(["wineserver", "-p"], env=env, check=True, timeout=limit(30))
        else:
            if PREFIX_TEMPLATES:
                self.log(f"no sound {env_arch(self.windows)} template in {PREFIX_TEMPLATES}: "
                         "the prefix is made here")
            make_prefix(env)
        made = time.monotonic()
        # A crash must end the process, not start winedbg and hang; on 64-bit Windows a 32-bit
        # program reads the redirected AeDebug key, so both views say so.
        views = ("HKLM", "HKLM32") if self.windows == 64 else ("HKLM",)
        no_debugger = [op for view in views for op in (
            ("delval", f"{view}\\{AEDEBUG}", "Debugger"),
            ("set", f"{view}\\{AEDEBUG}", "Auto", REG_SZ, sz("0")))]
        self.registry(no_debugger + [
            ("set", r"HKCU\Software\Wine\WineDbg", "ShowCrashDialog", REG_DWORD,
             (0).to_bytes(4, "little")),
            # Xvfb runs no window manager: a managed window would wait 2 s for one to confirm
            # each box's closing.
            ("set", r"HKCU\Software\Wine\X11 Driver", "Managed", REG_SZ, sz("N")),
        ])
        self._trust_root()
        self._hold_desktop()
        self.log(f"{self.windows}-bit Windows prefix ready in {time.monotonic() - started:.1f} s "
                 f"({how} in {made - started:.1f} s, then set up) on display :{display}")

    def _trust_root(self):
        """Puts the throwaway root that signed the installers into the machine's Root store, as
        Microsoft's root is on Windows."""
        root = "Z:" + os.path.join(self.signed_dir, "root.der").replace("/", "\\")
        out = self.wine([self.helper("rootstore"), root]).stdout.decode("latin-1").split()
        if out[:1] != ["trusted"]:
            raise LabError(f"the test root could not be trusted: {out}")

    def _hold_desktop(self):
        """Keeps one process on the desktop for the lab's life. Wine closes the desktop soon after
        its last process leaves, and the next program that makes a window then waits 10 s for a
        new one, as RpcSs never starts in these prefixes."""
        self.keeper = subprocess.Popen(["wine", "cmd", "/k"], env=self.env, stdin=subprocess.PIPE,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # The first program that touches the desktop starts it, which takes seconds.
        self.poke(0, "dismiss")

    def _start_xvfb(self):
        """Starts Xvfb on a display number it picks itself; returns that number."""
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", "1", "-screen", "0", f"{SCREEN[0]}x{SCREEN[1]}x24",
             "-nolisten", "tcp"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, start_new_session=True)
        line = self.xvfb.stdout.readline()  # empty if Xvfb ended without one
        if not line.strip().isdigit():
            raise LabError("Xvfb did not report its display")
        return int(line)

    def close(self):
        def stop(process, ask, force):
            ask()
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                force()
                process.wait()

        if self.env:
            for option in ("-k", "-w"):  # end every Wine process, then wait for the server
                subprocess.run(["wineserver", option], env=self.env, timeout=limit(30),
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.env = None
        if self.keeper:
            stop(self.keeper, lambda: None, self.keeper.kill)
            self.keeper = None
        if self.xvfb:
            stop(self.xvfb, lambda: os.killpg(self.xvfb.pid, signal.SIGTERM),
                 lambda: os.killpg(self.xvfb.pid, signal.SIGKILL))
            self.xvfb.stdout.close()
            self.xvfb = None
        if self.root:
            shutil.rmtree(self.root, ignore_errors=True)
            self.root = None

    # Paths

    @property
    def drive_c(self):
        return os.path.join(self.env["WINEPREFIX"], "drive_c")

    def win_path(self, unix_path, drive="C:", base=None):
        rel = os.path.relpath(unix_path, base or self.drive_c)
        if rel.startswith(".."):
            raise LabError(f"{unix_path} is outside drive {drive}")
        return drive + "\\" + ("" if rel == "." else rel.replace("/", "\\"))

    def map_drive(self, letter, unix_dir):
        """Maps a drive letter to a folder, so a program can sit in a drive's root."""
        link = os.path.join(self.env["WINEPREFIX"], "dosdevices", letter.lower() + ":")
        os.symlink(unix_dir, link)

    @property
    def program_files(self):
        """The folder where 32-bit programs are installed."""
        folder = "Program Files (x86)" if self.windows == 64 else "Program Files"
        return os.path.join(self.drive_c, folder)

    # Uninstall entries

    def writer_key(self):
        """The uninstall key as a 32-bit installer writes it. On 64-bit Windows that is the
        ordinary path, which redirection turns into the WOW6432Node one; in a 32-bit prefix
        WOW6432Node is an ordinary key, written as such."""
        return "HKLM32\\" + NATIVE_UNINSTALL if self.windows == 64 else "HKLM\\" + WOW_UNINSTALL

    def uninstall(self, redirected=(), native=(), wow_key=True, env=None, encoding="utf-8",
                  then_list=()):
        """Leaves exactly these uninstall entries, each (sub-key, type, data), a type of None
        making an entry without DisplayName: `redirected` as a 32-bit installer writes them,
        `native` in the 64-bit view (the only one a 32-bit Windows has). Clears only the two
        Uninstall keys. Without `wow_key` the machine is a 32-bit Windows, which only a 32-bit
        prefix can stand for. `env` and `encoding` as for `registry`. The keys `then_list` are
        listed in the same regtool run, once the entries are written: returns each one's lines."""
        native_key = "HKLM\\" + NATIVE_UNINSTALL
        ops = [("delkey", "HKLM\\" + WOW_UNINSTALL), ("delkey", native_key), ("mkkey", native_key)]
        if wow_key:
            ops.append(("mkkey", "HKLM\\" + WOW_UNINSTALL))
        elif self.windows == 64:
            raise LabError("a 64-bit prefix cannot stand for a 32-bit Windows")
        else:
            ops.append(("delkey", r"HKLM\SOFTWARE\WOW6432Node"))
        for base, entries in ((self.writer_key(), redirected), (native_key, native)):
            for name, value_type, data in entries:
                key = f"{base}\\{name}"
                ops.append(("mkkey", key))
                if value_type is not None:
                    ops.append(("set", key, "DisplayName", value_type, data))
        ops += [("list", key) for key in then_list]
        lines, listings = self.registry(ops, env=env, encoding=encoding), []
        while lines:
            end = lines.index("listed")
            listings.append(lines[:end])
            lines = lines[end + 1:]
        return listings

    def uninstall_listing(self, env=None, encoding="utf-8"):
        """The sub-keys of the uninstall key the launcher reads, in enumeration order."""
        return keys_in(self.registry([("list", "HKLM\\" + WOW_UNINSTALL)], env=env,
                                     encoding=encoding))

    def display_name(self, entry):
        """An entry's DisplayName as the ANSI calls read it, and the size stored in the registry
        (UTF-16, for a text written through the ANSI calls): (bytes, size), or None when the
        entry or the value does not exist."""
        try:
            return display_name_in(self.registry([("list", f"HKLM\\{WOW_UNINSTALL}\\{entry}")]))
        except LabError:
            return None

    LOCALES = {932: "ja_JP.UTF-8", 1252: "en_US.UTF-8"}  # Japanese; English

    def locale(self, code_page):
        """Variables that give a Wine process a locale whose ANSI code page is `code_page`, checked
        to give it. Wine takes the locale from LC_ALL's name but decodes Unix file names in the
        character set glibc gives that name, ASCII when the locale is not installed: a link to
        C.UTF-8 under its name, on LOCPATH, gives UTF-8 file names without installing anything."""
        name, utf8 = self.LOCALES[code_page], "/usr/lib/locale/C.utf8"
        locales = os.path.join(self.root, "locales")
        if not os.path.isdir(utf8):
            raise LabError(f"no C.UTF-8 locale at {utf8}")
        os.makedirs(locales, exist_ok=True)
        env = {"LC_ALL": name, "LOCPATH": locales}
        # Checked once a lab: the link, made here, is what the check depends on.
        if not os.path.exists(os.path.join(locales, name)):
            os.symlink(utf8, os.path.join(locales, name))
            if self.code_page(env) != code_page:
                os.remove(os.path.join(locales, name))
                raise LabError(f"code page {self.code_page(env)} where {code_page} was set up")
        return env

    # Helper programs

    def wine(self, args, input=None, env=None, timeout=60):
        with spending(os.path.basename(args[0]).removesuffix(".exe")):
            return subprocess.run(["wine"] + args, input=input, env=env or self.env,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                  timeout=limit(timeout))

    def registry(self, ops, env=None, encoding="utf-8"):
        """Applies (op, key, ...) tuples in one regtool run: ("mkkey", key), ("delkey", key),
        ("set", key, name, type, data bytes, written exactly when Utf16), ("delval", key, name),
        ("list", key). Keys start with HKLM\\ or HKCU\\ (the 64-bit view), or HKLM32\\ (as a
        32-bit program writes). `env` adds variables, such as a locale, and `encoding` is its
        code page, the one key names are handed over in. Returns regtool's output lines."""
        return self._regtool(ops, env, encoding)[:-1]

    def _regtool(self, ops, env=None, encoding="utf-8"):
        """Every line regtool printed, the last one "ok <lines applied> <ANSI code page>"."""
        result = self.wine([self.helper("regtool")], input=regtool_input(ops, encoding),
                           env=dict(self.env, **(env or {})))
        out = result.stdout.decode("latin-1").splitlines()
        if result.returncode != 0 or not out or not out[-1].startswith("ok"):
            raise LabError(f"regtool failed: {out}")
        return out

    def server_seconds(self):
        """Processor time the prefix's wineserver has used so far: work that the programs cause
        there is not counted in their own threads."""
        ticks, prefix = 0, f"WINEPREFIX={self.env['WINEPREFIX']}".encode()
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/comm") as f:
                    if not f.read().startswith("wineserver"):
                        continue
                with open(f"/proc/{pid}/environ", "rb") as f:
                    if prefix not in f.read().split(b"\0"):
                        continue
                with open(f"/proc/{pid}/stat") as f:
                    fields = f.read().rsplit(")", 1)[1].split()
                ticks += int(fields[11]) + int(fields[12])  # utime, stime
            except OSError:
                continue
        return ticks / os.sysconf("SC_CLK_TCK")

    def code_page(self, env=None):
        """The ANSI code page that a program started with these added variables runs in."""
        return int(self._regtool([], env)[-1].split()[2])

    def poke(self, pid, *actions, timeout=60):
        result = self.wine([self.helper("winpoke"), str(pid)] + list(actions), timeout=timeout)
        out = result.stdout.decode("latin-1").splitlines()
        if result.returncode != 0:
            raise LabError(f"winpoke {' '.join(actions)} failed: {out}")
        return out

    def launch(self, exe, cwd=None, args=None, env=None, debug=True):
        """Starts a program under dbgrun, as its debugger unless `debug` is false; `env` adds
        variables that its children inherit too."""
        command = [self.helper("dbgrun"), exe]
        if cwd:
            command += ["--cwd", cwd]
        if args:
            command += ["--args", args]
        if not debug:
            command.append("--no-debug")
        return DebugRun(command, dict(self.env, **(env or {})))


def keys_in(listing):
    """The sub-keys in a key's listing, in enumeration order."""
    return [line[4:] for line in listing if line.startswith("key ")]


def display_name_in(listing):
    """An entry's DisplayName in its listing, as Lab.display_name gives it, or None."""
    for line in listing:
        fields = line.split(" ")
        if fields[:2] == ["value", "DisplayName"]:
            return bytes.fromhex(fields[3]), int(fields[4])
    return None


def regtool_input(ops, encoding="utf-8"):
    lines = []
    for op in ops:
        fields = list(op)
        if fields[0] == "set":
            if isinstance(fields[4], Utf16):
                fields[0] = "setw"
            fields[3] = str(fields[3])
            fields[4] = fields[4].hex()
        lines.append("\t".join(fields))
    return ("\n".join(lines) + "\n").encode(encoding)


class DebugRun:
    """A program running under dbgrun: its pid, its debugger-output lines, its exit code and when
    its end was seen, on the clock the stub installer stamps its own end with."""

    def __init__(self, command, env):
        self.events = queue.Queue()
        self.debug_lines = []
        self.exceptions = []  # (code, first chance)
        self.exit_code = None
        self.exit_stamp = None
        self.processes = None  # started in the program's job by its end, itself included
        self.frequency = None
        self.pid = None
        self.process = subprocess.Popen(["wine"] + command, env=env, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.process.stdout:
            self.events.put(raw.decode("latin-1").split())
        self.events.put(None)

    def _handle(self, event):
        kind = event[0]
        if kind == "started":
            self.pid, self.frequency = int(event[1]), int(event[3])
        elif kind == "ods":
            self.debug_lines.append(bytes.fromhex(event[1]) if len(event) > 1 else b"")
        elif kind == "odsw":
            self.debug_lines.append(("wide", bytes.fromhex(event[1]) if len(event) > 1 else b""))
        elif kind == "exception":
            self.exceptions.append((int(event[1], 16), event[2] == "1"))
        elif kind == "exit":
            self.exit_code, self.exit_stamp = int(event[1]), int(event[2])
            self.processes = int(event[3])
        elif kind == "error":
            raise LabError("dbgrun: " + " ".join(event[1:]))

    def _pump(self, until, timeout):
        deadline = time.monotonic() + limit(timeout)
        while not until():
            try:
                event = self.events.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                return False
            if event is None:
                self.events.put(None)
                return until()
            if event:
                self._handle(event)
        return True

    def started(self, timeout=30):
        with spending("launcher start"):
            if not self._pump(lambda: self.pid is not None, timeout):
                raise LabError("the program did not start under dbgrun")
        return self.pid

    def wait(self, timeout=30):
        """The exit code, or None when the program is still running after `timeout` seconds."""
        with spending("launcher end"):
            self._pump(lambda: self.exit_code is not None, timeout)
        return self.exit_code

    def seconds_after(self, stamp):
        """How long after a stub's stamped end this program's end was seen."""
        return (self.exit_stamp - stamp) / self.frequency

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()

    def finish(self):
        """Reaps dbgrun after the program's end; kills it when the program is still running."""
        if self.exit_code is None:
            self.kill()
        else:
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.kill()


Start = namedtuple("Start", "pid path command_line show stamp")


class StubLog:
    """The records that stub installers appended to one log file."""

    def __init__(self, path):
        self.starts = []  # Start records: path and command line in UTF-8 bytes, show state, stamp
        self.ends = {}  # pid -> exit code
        self.end_stamps = {}  # pid -> performance counter at the end
        if not os.path.exists(path):
            return
        with open(path, "rb") as f:
            lines = f.read().decode("ascii").split("\n")
        for line in lines[:-1]:  # the last one is empty, or a record still being written
            fields = line.split(" ")
            if fields[0] == "start":
                self.starts.append(Start(int(fields[1]), bytes.fromhex(fields[2]),
                                         bytes.fromhex(fields[3]), int(fields[4]), int(fields[5])))
            elif fields[0] == "end":
                self.ends[int(fields[1])] = int(fields[2])
                self.end_stamps[int(fields[1])] = int(fields[3])


class Case:
    """One scenario's fresh folder in a lab: the launcher and, unless `installer` is None, the
    stub beside it as the build signed it (`installer` names the form), plus a Microsoft-signed
    decoy in the working folder the launcher is started from, so that a launcher that looked
    there would be caught. A context manager: leaving it stops the stub and ends whatever the
    case started."""

    def __init__(self, lab, program, slug, exe_name="launcher.exe", folder=None,
                 installer="microsoft"):
        """`folder`: the launcher's folder, under the lab's case folder or absolute."""
        self.lab = lab
        self.dir = os.path.join(lab.drive_c, "cases", folder or slug)  # folder may be absolute
        self.cwd = os.path.join(lab.drive_c, "cases", slug + "-cwd")
        logs = os.path.join(lab.drive_c, "case-logs")
        for d in (self.dir, self.cwd, logs):
            os.makedirs(d, exist_ok=True)
        self.program = program
        shutil.copy(program, os.path.join(self.dir, exe_name))
        if installer:
            shutil.copy(lab.installer(installer), os.path.join(self.dir, INSTALLER))
        shutil.copy(lab.installer(), os.path.join(self.cwd, INSTALLER))
        self.exe = lab.win_path(os.path.join(self.dir, exe_name))
        self.log_path = os.path.join(logs, slug + ".log")
        self.stop_path = os.path.join(logs, slug + ".stop")
        self.runs = []

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def installer_path(self):
        """In UTF-8, as the stub logs its path whatever the code page."""
        return (self.exe[: self.exe.rindex("\\") + 1] + INSTALLER).encode("utf-8")

    def start(self, exit_code=0, wait=False, args=None, debug=True, **extra):
        """Starts the launcher; the stub it starts ends with `exit_code`, or once told to when
        `wait` is set. `extra` adds variables, which the stub inherits too."""
        env = {"STUB_LOG": self.lab.win_path(self.log_path), "STUB_EXIT": str(exit_code)}
        if wait:
            env["STUB_STOP_FILE"] = self.lab.win_path(self.stop_path)
        env.update(extra)
        run = self.lab.launch(self.exe, cwd=self.lab.win_path(self.cwd), args=args, env=env,
                              debug=debug)
        self.runs.append(run)
        run.started()
        return run

    def stub(self):
        return StubLog(self.log_path)

    def stop_installer(self):
        open(self.stop_path, "w").close()

    def close(self):
        self.stop_installer()  # no stub outlives its scenario
        for run in self.runs:
            if run.wait(0) is None and run.pid is not None:  # ending dbgrun ends only a debuggee
                self.lab.wine(["taskkill", "/F", "/PID", str(run.pid)])
            run.finish()


def wait_for(predicate, timeout, step=0.05):
    deadline = time.monotonic() + limit(timeout)
    with spending("waits for an event"):
        while True:
            value = predicate()
            if value or time.monotonic() >= deadline:
                return value
            time.sleep(step)


if __name__ == "__main__":
    # winelab.py make-templates FOLDER: what PREFIX_TEMPLATES reads; fails unless all are sound.
    if sys.argv[1:2] != ["make-templates"] or len(sys.argv) != 3:
        sys.exit("usage: winelab.py make-templates FOLDER")
    sys.exit(0 if make_templates(sys.argv[2]) else 1)
