"""A progress bar on standard error, drawn only when standard error is a terminal."""

from __future__ import annotations

import sys
import time
from typing import Optional, TextIO


class Progress:
    """``Progress(total, "Verificando")``; ``advance()`` after each item; ``close()`` at the end."""

    def __init__(self, total: int, label: str, stream: Optional[TextIO] = None, enabled: Optional[bool] = None):
        self.total = max(0, int(total))
        self.label = label
        self.stream = stream or sys.stderr
        if enabled is None:
            enabled = bool(getattr(self.stream, "isatty", lambda: False)()) and self.total > 1
        self.enabled = enabled
        self.done = 0
        self.started = time.monotonic()
        self._drawn = False
        self.draw()

    def update(self, done: int, total: Optional[int] = None) -> None:
        if total is not None:
            self.total = total
        self.done = done
        self.draw()

    def advance(self, n: int = 1) -> None:
        self.update(self.done + n)

    def draw(self) -> None:
        if not self.enabled or not self.total:
            return
        width = 30
        filled = int(width * self.done / self.total)
        elapsed = time.monotonic() - self.started
        bar = "█" * filled + "░" * (width - filled)
        self.stream.write(f"\r{self.label} {bar} {self.done}/{self.total} ({elapsed:.1f}s)")
        self.stream.flush()
        self._drawn = True

    def close(self) -> None:
        if self._drawn:
            self.stream.write("\r\033[K")
            self.stream.flush()
            self._drawn = False

    def __enter__(self) -> "Progress":
        return self

    def __exit__(self, *exc) -> None:
        self.close()
