#!/usr/bin/env python3
"""The shipped launcher starts Microsoft's installer alone, found by its SHA-256, which the program
holds once as its 32 bytes. The tests, the demo and the bench run a copy of it that differs only
in those bytes: they hold the digest of the stub installer it is to start instead.

usage: PYTHONPATH=tests/lib pinned_copy.py LAUNCHER INSTALLER OUT"""
import hashlib
import os
import sys

from redistributable import INSTALLER_SHA256


class PinError(Exception):
    pass


def pinned_to(launcher, installer):
    """The launcher's bytes with Microsoft's digest replaced by the installer's digest."""
    found = launcher.count(INSTALLER_SHA256)
    if found != 1:
        raise PinError(f"the launcher holds Microsoft's installer digest {found} times, not once")
    return launcher.replace(INSTALLER_SHA256, hashlib.sha256(installer).digest())


def write_pinned_copy(launcher, installer, out):
    """Writes the launcher file's copy pinned to the installer file at out."""
    with open(launcher, "rb") as f, open(installer, "rb") as g:
        data = pinned_to(f.read(), g.read())
    with open(out + ".part", "wb") as f:
        f.write(data)
    os.chmod(out + ".part", 0o755)
    os.replace(out + ".part", out)


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    write_pinned_copy(*sys.argv[1:])


if __name__ == "__main__":
    try:
        main()
    except (OSError, PinError) as e:
        sys.exit(f"pinned_copy: {e}")
