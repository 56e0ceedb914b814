"""Pacing of the requests to one web service: at most N requests in any period, and pauses it asks for.

``Pace("3/s")`` allows three requests in any one second, ``Pace("3/min")``
three in any minute: the fourth waits until the first is a period old. A
service that answers 429 with ``Retry-After`` is left alone for that long
(capped), by ``hold``. The clock and the sleep are injected, so tests run on a
clock of their own without waiting.
"""

from __future__ import annotations

import collections
import dataclasses
import re
import threading
import time
from typing import Callable

_UNITS = {"s": 1.0, "sec": 1.0, "seg": 1.0, "min": 60.0, "m": 60.0, "h": 3600.0}


@dataclasses.dataclass(frozen=True)
class Pace:
    max_calls: int
    period: float  # seconds

    @classmethod
    def parse(cls, text: str) -> "Pace":
        """"3/s", "3/min", "10/h" or "5/2.5" (calls per seconds)."""
        match = re.fullmatch(r"\s*(\d+)\s*/\s*([0-9.]+|[a-z]+)\s*", text.lower())
        if not match:
            raise ValueError(f"Ritmo inválido: {text!r} (use, por exemplo, 3/s ou 3/min)")
        calls, per = int(match.group(1)), match.group(2)
        period = _UNITS.get(per) if per.isalpha() else float(per)
        if period is None or period <= 0 or calls < 1:
            raise ValueError(f"Ritmo inválido: {text!r} (use, por exemplo, 3/s ou 3/min)")
        return cls(calls, period)

    def __str__(self) -> str:
        return f"{self.max_calls}/{self.period:g}s"


class RateLimiter:
    """Hands out request times for one service; thread-safe, first come first served."""

    def __init__(self, pace: Pace, clock: Callable[[], float] = time.monotonic,
                 sleep: Callable[[float], None] = time.sleep):
        self.pace = pace
        self.clock, self.sleep = clock, sleep
        self._times: collections.deque[float] = collections.deque(maxlen=pace.max_calls)
        self._held_until = float("-inf")
        self._lock = threading.Lock()

    def delay(self) -> float:
        """Reserve the next request's time; how long to wait for it (seconds, 0 for none)."""
        with self._lock:
            now = self.clock()
            at = max(now, self._held_until)
            if self._times:
                at = max(at, self._times[-1])  # in order of arrival
                if len(self._times) == self.pace.max_calls:
                    at = max(at, self._times[0] + self.pace.period)
            self._times.append(at)
            return at - now

    def wait(self) -> float:
        """Wait until a request may be sent; returns the time waited."""
        delay = self.delay()
        if delay > 0:
            self.sleep(delay)
        return max(delay, 0.0)

    def hold(self, seconds: float) -> None:
        """No request before `seconds` from now (a 429's Retry-After)."""
        with self._lock:
            self._held_until = max(self._held_until, self.clock() + max(seconds, 0.0))

    @property
    def held_until(self) -> float:
        return self._held_until
