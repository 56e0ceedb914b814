"""Scanned pages read by Tesseract, several at a time, in page order.

Each page is rendered here (PyMuPDF, grey, at the reading resolution) and read
by a ``tesseract`` process of its own, held to one thread (OMP_THREAD_LIMIT=1):
N processes read N pages on N cores, where one multithreaded Tesseract gains
little.  Results come back in the order the pages were asked for, while the
following pages are being read.  A page whose reading outlasts its time-out is
killed and reported; when the caller stops early (it has what it needs, or
Ctrl-C), every process still reading is killed and its files removed.
"""

from __future__ import annotations

import collections
import logging
import os
import shutil
import signal
import subprocess
import tempfile
import time
from dataclasses import dataclass
from typing import Any, Iterator, Optional, Sequence, Union

logger = logging.getLogger("quillon.engine")

#: Seconds one page may take before its reading is killed.
PAGE_TIMEOUT = 180.0
#: A page rendered larger than this many pixels is refused rather than read:
#: Tesseract would take minutes and gigabytes on it.
MAX_PIXELS = 12_000 * 12_000
_POLL_SECONDS = 0.01


class PageNotRead(Exception):
    """Why Tesseract gave no text for a page (the message is for the report)."""


def default_workers() -> int:
    """How many pages are read at once: QUILLON_OCR_WORKERS, else the cores this process may use."""
    configured = os.environ.get("QUILLON_OCR_WORKERS", "").strip()
    if configured:
        try:
            return max(1, int(configured))
        except ValueError:
            logger.warning("QUILLON_OCR_WORKERS=%r is not a number; using the cores available", configured)
    try:
        return max(1, len(os.sched_getaffinity(0)))
    except AttributeError:  # not on Linux
        return max(1, os.cpu_count() or 1)


@dataclass
class _Reading:
    process: subprocess.Popen
    output: str  # Tesseract's output base: it writes output + ".txt"
    errors: Any  # the file its stderr goes to
    deadline: float


def read_pages(
    document: Any,
    numbers: Sequence[int],
    *,
    dpi: int,
    language: str,
    tessdata: Optional[str] = None,
    workers: Optional[int] = None,
    timeout: float = PAGE_TIMEOUT,
) -> Iterator[tuple[int, Union[str, PageNotRead]]]:
    """(page number, text or the reason it was not read) for each of ``numbers`` (1-based
    pages of the open PyMuPDF ``document``), in that order.  Closing the iterator early
    stops every reading still running."""
    exe = shutil.which("tesseract")
    if exe is None:
        raise PageNotRead("o Tesseract não está instalado")
    workers = max(1, workers or default_workers())
    env = dict(os.environ, OMP_THREAD_LIMIT="1")
    options = ["-l", language, "--dpi", str(dpi)] + (["--tessdata-dir", tessdata] if tessdata else [])
    waiting = collections.deque(numbers)
    order = collections.deque(numbers)
    running: dict[int, _Reading] = {}
    finished: dict[int, Union[str, PageNotRead]] = {}
    with tempfile.TemporaryDirectory(prefix="quillon-ocr-") as work:

        def start(number: int) -> None:
            image = os.path.join(work, f"{number}.png")
            try:
                _render(document, number, dpi, image)
            except Exception as exc:  # a page that cannot be rendered is one unreadable page
                finished[number] = PageNotRead(f"o Tesseract não conseguiu ler a página ({exc})")
                return
            output = os.path.join(work, str(number))
            errors = open(output + ".err", "w+b")
            process = subprocess.Popen([exe, image, output, *options], stdin=subprocess.DEVNULL,
                                       stdout=subprocess.DEVNULL, stderr=errors, env=env,
                                       preexec_fn=_end_with_parent)
            running[number] = _Reading(process, output, errors, time.monotonic() + timeout)

        def collect() -> None:
            for number, reading in list(running.items()):
                code = reading.process.poll()
                if code is None and time.monotonic() < reading.deadline:
                    continue
                if code is None:
                    _stop(reading)
                    finished[number] = PageNotRead(
                        f"o Tesseract não terminou a leitura da página em {timeout:.0f} s")
                else:
                    finished[number] = _outcome(reading, code)
                    reading.errors.close()
                del running[number]

        try:
            while order:
                while waiting and len(running) < workers:
                    start(waiting.popleft())
                collect()
                if order[0] in finished:
                    number = order.popleft()
                    yield number, finished.pop(number)
                elif running:
                    time.sleep(_POLL_SECONDS)
        finally:
            for reading in running.values():
                _stop(reading)


def _end_with_parent() -> None:
    """In the child, before Tesseract starts: the kernel kills it if the reader dies
    without stopping it (SIGKILL), so no reading outlives the verification."""
    try:
        import ctypes

        ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG
    except (OSError, AttributeError):  # not on Linux: the reader's own clean-up stops it
        pass


def _render(document: Any, number: int, dpi: int, image: str) -> None:
    import pymupdf

    page = document.load_page(number - 1)
    scale = dpi / 72
    pixels = page.rect.width * scale * page.rect.height * scale
    if pixels > MAX_PIXELS:
        raise PageNotRead(f"página grande demais para ler a {dpi} dpi: {pixels / 1e6:.0f} Mpx")
    page.get_pixmap(dpi=dpi, colorspace=pymupdf.csGRAY).save(image)


def _outcome(reading: _Reading, code: int) -> Union[str, PageNotRead]:
    if code != 0:
        reading.errors.seek(0)
        detail = reading.errors.read().decode("utf-8", "replace").strip().splitlines()
        return PageNotRead(f"o Tesseract não conseguiu ler a página ({detail[-1] if detail else f'saída {code}'})")
    try:
        with open(reading.output + ".txt", encoding="utf-8", errors="replace") as fh:
            # Tesseract separates its blocks with blank lines; a page's text layer
            # has its lines one after the other, and that is the shape the
            # extraction reads (a preamble runs on across Tesseract's blocks).
            return "\n".join(line for line in fh.read().splitlines() if line.strip())
    except OSError as exc:
        return PageNotRead(f"o Tesseract não conseguiu ler a página ({exc})")


def _stop(reading: _Reading) -> None:
    reading.process.kill()
    reading.process.wait()
    reading.errors.close()
