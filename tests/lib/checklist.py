"""How the package checks report: one line per check, the counts, and the exit status."""


def report(results):
    """Prints each (name, passed) pair as a PASS or FAIL line, then the counts; returns 1 when
    any failed, else 0."""
    failed = 0
    for name, ok in results:
        print(("PASS " if ok else "FAIL ") + name)
        failed += not ok
    print(f"{len(results) - failed} passed, {failed} failed")
    return 1 if failed else 0
