"""Progress bars on standard error, drawn by tqdm.

On a terminal the bar is redrawn in place, at most ten times a second.
Elsewhere (a log file, a pipe) a caller that asks for it (``log_every``) gets
a whole line every that many seconds, the first one after that long, so a long
job shows signs of life without filling its log (and never a carriage
return); other callers get nothing there.

Two looks: items done of a total (``Verificando █████░░░ 3/10 (4.2s)``), and,
with ``rows=True``, the share of a total of bytes with the rows imported and
their rate (``[#####.....]  50.0%  1,234 linhas  617 linhas/s``).
"""

from __future__ import annotations

import io
import os
import sys
import threading
from typing import Optional, TextIO

from tqdm import tqdm

_ITEMS = "{desc} {bar:30} {n}/{total} ({elapsed_s:.1f}s)"
_ROWS = "[{bar:30}] {percentage:5.1f}%  {rows:,} linhas  {rows_per_second:,.0f} linhas/s"
_TERMINAL_INTERVAL = 0.1
_UNKNOWN_WIDTH, _UNKNOWN_HEIGHT = 200, 24


class _Bar(tqdm):
    """tqdm with the rows imported among its fields, and whole lines outside a terminal."""

    # No watcher thread: the callers update often enough, and a thread would be
    # one more thing for the batch's forked workers to inherit.
    monitor_interval = 0

    def __init__(self, *args, log_lines: bool = False, **kwargs):
        self.rows = 0
        self.log_lines = log_lines  # before tqdm's first drawing, which its constructor may do
        super().__init__(*args, **kwargs)

    @property
    def format_dict(self):
        fields = super().format_dict
        elapsed = max(fields.get("elapsed") or 0.0, 1e-9)
        fields.update(rows=self.rows, rows_per_second=self.rows / elapsed)
        return fields

    def display(self, msg=None, pos=None):
        if not self.log_lines:
            return super().display(msg, pos)
        if msg == "":  # tqdm clearing its line: a log has none to clear
            return False
        self.fp.write((self.__str__() if msg is None else msg) + "\n")
        self.fp.flush()
        return True

    def clear(self, nolock=False):
        if not self.log_lines:
            super().clear(nolock)


# A thread lock is enough (the bars live in one process) and spares tqdm's
# multiprocessing lock, a semaphore the forked workers would inherit.
_Bar.set_lock(threading.RLock())


def _terminal_size(stream) -> dict:
    """The terminal's columns and rows for tqdm; one that does not tell its size (0 by 0, as
    some pseudo-terminals do) would otherwise get no bar at all."""
    try:
        size = os.get_terminal_size(stream.fileno())
        columns, rows = size.columns, size.lines
    except (AttributeError, OSError, ValueError, io.UnsupportedOperation):
        columns = rows = 0
    return {"ncols": columns or _UNKNOWN_WIDTH, "nrows": rows or _UNKNOWN_HEIGHT}


class Progress:
    """``Progress(total, "Verificando")``; ``advance()`` after each item; ``close()`` at the end.

    ``enabled``: None draws on a terminal (and writes log lines elsewhere when
    ``log_every`` is given), False never draws, True always does.  Messages
    (``message``) are written whatever ``enabled`` says, on their own lines.
    """

    def __init__(self, total: int, label: str = "", stream: Optional[TextIO] = None,
                 enabled: Optional[bool] = None, *, rows: bool = False, log_every: Optional[float] = None):
        self.stream = stream or sys.stderr
        self.label = label
        self.rows_look = rows
        self.total = max(0, int(total))
        self.done = 0
        self.tty = bool(getattr(self.stream, "isatty", lambda: False)())
        self.log_every = log_every if log_every is not None else 10.0
        self.enabled = enabled if enabled is not None else (self.tty or log_every is not None)
        self._bar: Optional[_Bar] = None
        self._cleared = False
        self._closed = False
        self._start()

    # --- what the callers report
    def update(self, done: int, total: Optional[int] = None) -> None:
        if total is not None:
            self.total = max(0, int(total))
        self.done = done
        if not self._start() and self._bar is not None:
            self._bar.total = self._bar_total()
            if self._cleared:  # taken off for other output: back at once
                self._cleared = False
                self._bar.n = done
                self._bar.refresh()
            else:
                self._bar.update(done - self._bar.n)

    def advance(self, n: int = 1) -> None:
        self.update(self.done + n)

    def lines(self, n: int) -> None:
        """The rows imported so far (shown with ``rows=True``)."""
        if self._bar is not None:
            self._bar.rows = n

    def message(self, text: str) -> None:
        """A line of its own, above the bar."""
        if self._bar is not None and not self._bar.log_lines:
            _Bar.write(text, file=self.stream)
        else:
            self.stream.write(text + "\n")
        self.stream.flush()

    def finish(self) -> None:
        """Everything done: the bar (or the log line) shows it now."""
        self.done = self.total
        self._start()
        if self._bar is not None:
            self._bar.n = self._bar.total
            self._bar.refresh()

    def clear(self) -> None:
        """Take the bar off the terminal's line (for other output); the next update draws it again."""
        if self._bar is not None and not self._bar.log_lines:
            self._bar.clear()
            self._cleared = True

    def close(self) -> None:
        if self._bar is not None:
            self._bar.close()
        self._bar, self._closed = None, True

    def __enter__(self) -> "Progress":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    # --- drawing
    def _bar_total(self) -> int:
        return max(self.total, 1) if self.rows_look else self.total

    def _start(self) -> bool:
        """Make the bar once there is something to show; whether it was made now."""
        if self._bar is not None or self._closed or not self.enabled:
            return False
        if not self.rows_look and self.total < 2:  # one item (or none yet): a bar would only flash
            return False
        logging = not self.tty
        look = {"ascii": ".#", "bar_format": _ROWS} if self.rows_look else {"ascii": "░█", "bar_format": _ITEMS}
        bar = _Bar(total=self._bar_total(), initial=self.done, desc=self.label, file=self.stream, position=0,
                   log_lines=logging, **look,
                   leave=self.rows_look and not logging, miniters=1, **_terminal_size(self.stream),
                   mininterval=self.log_every if logging else _TERMINAL_INTERVAL,
                   delay=self.log_every if logging else 0)
        self._bar = bar
        return True
