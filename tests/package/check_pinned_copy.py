#!/usr/bin/env python3
"""What the end-to-end tests, the demo and the bench run is what ships: the shipped launcher.exe
holds Microsoft's installer digest exactly once, and the stub-pinned copy they run has the same
size and differs from it in those 32 bytes only, which hold the signed stub's digest. Each check
is also shown failing on a copy with the fault it looks for.

usage: PYTHONPATH=tests/lib check_pinned_copy.py LAUNCHER_EXE PINNED_COPY STUB_INSTALLER"""
import hashlib
import sys

import checklist
from redistributable import INSTALLER_SHA256


def checks(shipped, copy, stub):
    """[(name, passed)]."""
    at = shipped.find(INSTALLER_SHA256)
    differing = [i for i in range(min(len(shipped), len(copy))) if shipped[i] != copy[i]]
    stub_digest = hashlib.sha256(stub).digest()
    return [
        (f"the shipped file holds Microsoft's digest once (at {at})",
         shipped.count(INSTALLER_SHA256) == 1),
        (f"the copy has the shipped file's size ({len(copy)} and {len(shipped)} bytes)",
         len(copy) == len(shipped)),
        (f"the copy differs in the pinned 32 bytes only ({len(differing)} bytes differ)",
         at >= 0 and bool(differing) and differing[0] >= at and differing[-1] < at + 32),
        ("the copy pins the stub's digest", at >= 0 and copy[at:at + 32] == stub_digest),
    ]


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    shipped, copy, stub = (open(path, "rb").read() for path in sys.argv[1:])
    results = checks(shipped, copy, stub)
    # The same checks on copies with the faults they look for must fail.
    at = shipped.find(INSTALLER_SHA256)
    outside = bytearray(copy)
    outside[at - 1] ^= 1
    faults = [("a second copy of the digest", shipped + INSTALLER_SHA256, copy + INSTALLER_SHA256),
              ("a copy one byte longer", shipped, copy + b"\0"),
              ("a copy changed outside the pinned bytes", shipped, bytes(outside)),
              ("a copy pinned to other bytes", shipped, shipped.replace(
                  INSTALLER_SHA256, hashlib.sha256(stub + b"x").digest()))]
    for name, faulty_shipped, faulty_copy in faults:
        failing = [check for check, ok in checks(faulty_shipped, faulty_copy, stub) if not ok]
        results.append((f"{name} fails: {', '.join(failing) or 'nothing'}", bool(failing)))
    return checklist.report(results)


if __name__ == "__main__":
    sys.exit(main())
