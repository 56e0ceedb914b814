"""Many calls of a binding entry point leave nothing behind: no reference to
their arguments, no memory.  ``Lifetime.check`` runs a batch of calls first (the
caches, free lists and interned objects a first call may make), then the
measured calls, and compares the arguments' reference counts and the
process's resident memory before and after."""

from __future__ import annotations

import gc
import os
import sys
import weakref

CALLS = 100_000
RSS_TOLERANCE = 4 * 1024 * 1024  # a leak of one small object a call is 3 MB and more over 100,000 calls


def rss_bytes() -> int:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def check(batch, args, calls: int = CALLS, size: int = 1000) -> None:
    """``batch(n)`` makes ``n`` calls; ``args``: the objects handed to them."""
    batch(size * 5)  # warm-up
    gc.collect()
    counts = [sys.getrefcount(a) for a in args]
    before = rss_bytes()
    for _ in range(calls // size):
        batch(size)
    gc.collect()
    grown = rss_bytes() - before
    assert [sys.getrefcount(a) for a in args] == counts, "a reference to an argument was kept or lost"
    assert grown < RSS_TOLERANCE, f"resident memory grew by {grown / 2**20:.1f} MiB over {calls} calls"


def raising(call, error):
    """``call`` as a batch member that must raise ``error``."""
    def run():
        try:
            call()
        except error:
            return
        raise AssertionError(f"{call} did not raise {error.__name__}")
    return run


def never_called_once_freed(module, name: str, make, use, calls: int = 1000) -> None:
    """``module.name`` replaced by ``make()`` (a Counted) for one ``use()``, which must call it, then
    put back, the replacement freed: the next ``use()`` calls answer as before and never reach it."""
    expected = use()
    original = getattr(module, name)
    replacement = make()
    setattr(module, name, replacement)
    try:
        use()
        assert Counted.calls > 0, "the replacement was not used"
    finally:
        setattr(module, name, original)
    gone = weakref.ref(replacement)
    del replacement
    gc.collect()
    assert gone() is None, "the module still holds the replacement"
    Counted.calls = 0
    for _ in range(calls):
        assert use() == expected
    assert Counted.calls == 0


class Counted:
    """A replacement whose uses are counted (``Counted.calls``)."""

    calls = 0
