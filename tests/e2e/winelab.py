"""A throwaway 32-bit Wine prefix on a private Xvfb display, and the helper programs that prepare
the registry, run launcher.exe under a debugger and act on its window. Shared by the end-to-end
tests and the demo. Standard library only."""

import os
import queue
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

WOW_UNINSTALL = r"SOFTWARE\WOW6432Node\Microsoft\Windows\CurrentVersion\Uninstall"
NATIVE_UNINSTALL = r"SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall"
REG_NONE, REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ = 0, 1, 2, 3, 4, 7

SIGN_SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "sign_installers.py")

SCREEN = (1025, 771)  # odd sizes, so that halving them has to round

# Where Wine runs slower than on this machine's own processor (in the emulated machine), every time
# limit grows by this factor. Limits only: a bound that a test asserts is never scaled.
TIME_SCALE = float(os.environ.get("LAUNCHER_E2E_TIME_SCALE") or 1)


def limit(seconds):
    return seconds * TIME_SCALE


class LabError(Exception):
    pass


def sz(text):
    """REG_SZ data as Windows stores it: the bytes and one terminating NUL."""
    return (text.encode("ascii") if isinstance(text, str) else text) + b"\0"


class Lab:
    """Owns an Xvfb server, a Wine prefix and its persistent wineserver; `close` removes all."""

    def __init__(self, helpers_dir, log=None):
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
        """A program as sign_installers.py made it: "microsoft" (signed as Microsoft's installer
        is), "unsigned", "other-signer" or "altered"."""
        return os.path.join(self.signed_dir, f"{program}.{kind}.exe")

    def sign(self, program):
        """Signs another program of the host's as the stub is, under the root this lab trusts;
        returns the Microsoft-signed copy."""
        subprocess.run([sys.executable, SIGN_SCRIPT, program, "--into", self.signed_dir],
                       check=True, capture_output=True)
        return self.installer(program=os.path.splitext(os.path.basename(program))[0])

    def trust_root(self):
        """Puts the throwaway root that signed the installers into the machine's Root store, as
        Microsoft's root is on Windows."""
        root = "Z:" + os.path.join(self.signed_dir, "root.der").replace("/", "\\")
        out = self.wine([self.helper("rootstore"), root]).stdout.decode("latin-1").split()
        if out[:1] != ["trusted"]:
            raise LabError(f"the test root could not be trusted: {out}")

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
        env = {k: v for k, v in os.environ.items() if not k.startswith(("STUB_", "WINE"))}
        env.update(
            WINEPREFIX=os.path.join(self.root, "prefix"),
            WINEARCH="win32",
            WINEDEBUG="-all",
            # No Mono or Gecko install prompts in a fresh prefix.
            WINEDLLOVERRIDES="mscoree,mshtml=",
            DISPLAY=f":{display}",
        )
        self.env = env
        started = time.monotonic()
        # One server for the whole session, started first so that it is the one wineboot uses:
        # each wine start then costs a fraction of a second.
        os.makedirs(env["WINEPREFIX"])
        subprocess.run(["wineserver", "-p"], env=env, check=True, timeout=limit(30))
        subprocess.run(["wineboot", "-i"], env=env, check=True, timeout=limit(180),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # A crash must end the process, not start winedbg and hang.
        self.registry([
            ("delval", r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug", "Debugger"),
            ("set", r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug", "Auto",
             REG_SZ, sz("0")),
            ("set", r"HKCU\Software\Wine\WineDbg", "ShowCrashDialog", REG_DWORD,
             (0).to_bytes(4, "little")),
            # Xvfb runs no window manager: a managed window would wait 2 s for one to confirm
            # each box's closing.
            ("set", r"HKCU\Software\Wine\X11 Driver", "Managed", REG_SZ, sz("N")),
        ])
        self.trust_root()
        # The first program that touches the desktop starts it, which takes seconds.
        self.poke(0, "dismiss")
        self.log(f"wine prefix ready in {time.monotonic() - started:.1f} s on display :{display}")

    def _start_xvfb(self):
        read_end, write_end = os.pipe()
        try:
            self.xvfb = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                 f"{SCREEN[0]}x{SCREEN[1]}x24", "-nolisten", "tcp"],
                pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                start_new_session=True)
            os.close(write_end)
            write_end = None
            text = b""
            deadline = time.monotonic() + limit(30)
            while not text.endswith(b"\n"):
                ready, _, _ = select.select([read_end], [], [], max(0, deadline - time.monotonic()))
                chunk = os.read(read_end, 64) if ready else b""
                if not chunk:
                    raise LabError("Xvfb did not report its display")
                text += chunk
            return int(text)
        finally:
            os.close(read_end)
            if write_end is not None:
                os.close(write_end)

    def hold_desktop(self):
        """Keeps one process on the desktop for the session. Wine closes the desktop soon after
        its last process leaves, and the next program that makes a window then waits 10 s for a
        new one, as RpcSs never starts in these prefixes."""
        self.keeper = subprocess.Popen(["wine", "cmd", "/k"], env=self.env, stdin=subprocess.PIPE,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def close(self):
        if self.env:
            subprocess.run(["wineserver", "-k"], env=self.env, timeout=limit(30),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            subprocess.run(["wineserver", "-w"], env=self.env, timeout=limit(30),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.env = None
        if self.keeper:
            try:
                self.keeper.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.keeper.kill()
                self.keeper.wait()
            self.keeper = None
        if self.xvfb:
            os.killpg(self.xvfb.pid, signal.SIGTERM)
            try:
                self.xvfb.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.killpg(self.xvfb.pid, signal.SIGKILL)
                self.xvfb.wait()
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

    def unix_locale(self, name):
        """Variables that give a Wine process the locale `name` (its code pages included). Wine
        takes the locale from LC_ALL's name but decodes Unix file names in the character set
        glibc gives that name, ASCII when the locale is not installed: a link to C.UTF-8 under
        its name, on LOCPATH, gives UTF-8 without installing anything."""
        utf8, locales = "/usr/lib/locale/C.utf8", os.path.join(self.root, "locales")
        if not os.path.isdir(utf8):
            raise LabError(f"no C.UTF-8 locale at {utf8}")
        os.makedirs(locales, exist_ok=True)
        if not os.path.exists(os.path.join(locales, name)):
            os.symlink(utf8, os.path.join(locales, name))
        return {"LC_ALL": name, "LOCPATH": locales}

    def japanese(self):
        """The Japanese locale: ANSI code page 932."""
        return self.unix_locale("ja_JP.UTF-8")

    def western(self):
        """An English locale: ANSI code page 1252, with UTF-8 file names still read whole."""
        return self.unix_locale("en_US.UTF-8")

    # Helper programs

    def wine(self, args, input=None, env=None, timeout=60):
        return subprocess.run(["wine"] + args, input=input, env=env or self.env,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                              timeout=limit(timeout))

    def registry(self, ops, env=None, encoding="utf-8"):
        """Applies (op, key, ...) tuples in one regtool run: ("mkkey", key), ("delkey", key),
        ("set", key, name, type, data bytes), ("delval", key, name), ("list", key). Keys start
        with HKLM\\ or HKCU\\. `env` adds variables, such as a locale, and `encoding` is its
        code page, the one key names are handed over in. Returns regtool's output lines."""
        result = self.wine([self.helper("regtool")], input=regtool_input(ops, encoding),
                           env=dict(self.env, **(env or {})))
        out = result.stdout.decode("latin-1").splitlines()
        if result.returncode != 0 or not out or not out[-1].startswith("ok"):
            raise LabError(f"regtool failed: {out}")
        return out[:-1]

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


def regtool_input(ops, encoding="utf-8"):
    lines = []
    for op in ops:
        fields = list(op)
        if fields[0] == "set":
            fields[3] = str(fields[3])
            fields[4] = fields[4].hex()
        lines.append("\t".join(fields))
    return ("\n".join(lines) + "\n").encode(encoding)


class DebugRun:
    """A program running under dbgrun: its pid, its debugger-output lines and its exit code."""

    def __init__(self, command, env):
        self.events = queue.Queue()
        self.debug_lines = []
        self.exceptions = []  # (code, first chance)
        self.exit_code = None
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
            self.pid = int(event[1])
        elif kind == "ods":
            self.debug_lines.append(bytes.fromhex(event[1]) if len(event) > 1 else b"")
        elif kind == "odsw":
            self.debug_lines.append(("wide", bytes.fromhex(event[1]) if len(event) > 1 else b""))
        elif kind == "exception":
            self.exceptions.append((int(event[1], 16), event[2] == "1"))
        elif kind == "exit":
            self.exit_code = int(event[1])
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
        if not self._pump(lambda: self.pid is not None, timeout):
            raise LabError("the program did not start under dbgrun")
        return self.pid

    def wait(self, timeout=30):
        """The exit code, or None when the program is still running after `timeout` seconds."""
        self._pump(lambda: self.exit_code is not None, timeout)
        return self.exit_code

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


class StubLog:
    """The records that stub installers appended to one log file."""

    def __init__(self, path):
        self.starts = []  # (pid, module path bytes, command line bytes)
        self.ends = {}  # pid -> exit code
        if not os.path.exists(path):
            return
        with open(path, "rb") as f:
            lines = f.read().decode("ascii").split("\n")
        for line in lines[:-1]:  # the last one is empty, or a record still being written
            fields = line.split(" ")
            if fields[0] == "start":
                self.starts.append((int(fields[1]), bytes.fromhex(fields[2]),
                                    bytes.fromhex(fields[3])))
            elif fields[0] == "end":
                self.ends[int(fields[1])] = int(fields[2])


def wait_for(predicate, timeout, step=0.05):
    deadline = time.monotonic() + limit(timeout)
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(step)
