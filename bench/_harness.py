"""Small timing harness shared by the benchmarks: best of N runs, per call."""

from __future__ import annotations

import gc
import time
from typing import Callable, Iterable, Sequence


def per_call_ns(fn: Callable, inputs: Sequence, repeat: int = 3) -> float:
    """Best wall time over `repeat` runs of fn(x) for every x, in ns per call."""
    best = float("inf")
    for _ in range(repeat):
        gc.disable()
        t0 = time.perf_counter_ns()
        for x in inputs:
            fn(x)
        elapsed = time.perf_counter_ns() - t0
        gc.enable()
        best = min(best, elapsed)
    return best / len(inputs)


def report(title: str, rows: Iterable[tuple[str, float, float | None]]) -> None:
    """Print rows of (name, ns per call, ratio of the baseline over this)."""
    print(f"\n{title}")
    for name, ns, ratio in rows:
        extra = f"   x{ratio:6.2f}" if ratio is not None else ""
        print(f"  {name:<44} {ns:9.1f} ns/call{extra}")
