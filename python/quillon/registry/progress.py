"""A progress bar on stderr: share of the bytes read, rows imported, rows per second.

On a terminal the bar is redrawn in place at most ten times a second; elsewhere
(a log file, a pipe) a plain line is written every ten seconds, so a long
import still shows signs of life without filling the log. Messages (malformed
lines) are written on their own lines, above the bar.
"""

from __future__ import annotations

import time
from typing import TextIO

_WIDTH = 30


class Progress:
    def __init__(self, total_bytes: int, out: TextIO, enabled: bool | None = None, clock=time.monotonic):
        self.total = max(total_bytes, 1)
        self.out = out
        self.clock = clock
        self.tty = bool(getattr(out, "isatty", lambda: False)())
        self.enabled = True if enabled is None else enabled
        self.done_bytes = 0
        self.line_count = 0
        self.start = clock()
        # On a terminal the bar shows at once; into a log, a first line after 10 s (an import that
        # fails on its first file leaves its one error line alone).
        self.last_draw = float("-inf") if self.tty else self.start
        self.drawn = False

    def advance(self, n_bytes: int) -> None:
        self.done_bytes += n_bytes
        self._maybe_draw()

    def lines(self, n: int) -> None:
        self.line_count = n

    def message(self, text: str) -> None:
        self._clear()
        self.out.write(text + "\n")
        self.out.flush()

    def finish(self) -> None:
        self.done_bytes = self.total
        self._draw()

    def close(self) -> None:
        if self.drawn and self.tty:
            self.out.write("\n")
            self.out.flush()
        self.drawn = False

    def _maybe_draw(self) -> None:
        now = self.clock()
        if now - self.last_draw >= (0.1 if self.tty else 10.0):
            self._draw(now)

    def _clear(self) -> None:
        if self.drawn and self.tty:
            self.out.write("\r\x1b[K")

    def _draw(self, now: float | None = None) -> None:
        if not self.enabled:
            return
        now = self.clock() if now is None else now
        self.last_draw = now
        share = min(self.done_bytes / self.total, 1.0)
        filled = int(share * _WIDTH)
        elapsed = max(now - self.start, 1e-9)
        text = (f"[{'#' * filled}{'.' * (_WIDTH - filled)}] {share:6.1%}  "
                f"{self.line_count:,} linhas  {self.line_count / elapsed:,.0f} linhas/s")
        if self.tty:
            self.out.write("\r\x1b[K" + text)
        else:
            self.out.write(text + "\n")
        self.out.flush()
        self.drawn = True
