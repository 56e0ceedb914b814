"""Verification of many files in forked worker processes that end when the parent does.

Each worker has its own pipe: the parent hands it one file at a time and
reads its ``batch.Outcome`` back.  Workers ignore SIGINT: an interruption
(Ctrl-C reaches the whole process group) is the parent's to handle, and the
parent then ends every worker itself (SIGTERM, then SIGKILL for one that does
not go) instead of waiting for queued work, so the command stops at once.  A
worker that dies in the middle of a file (a crash in a PDF library, say)
costs that file an error line; a fresh worker takes its place.
"""

from __future__ import annotations

import dataclasses
import multiprocessing
import os
import signal
import sys
from multiprocessing.connection import Connection, wait
from typing import Callable, Iterator, Optional

from quillon import batch
from quillon.engine.tesseract_pages import default_workers

__all__ = ["outcomes_from_workers", "sharing_cores", "verify_in_workers", "Worker", "end"]

#: Seconds a worker is given to end after SIGTERM before it is killed.
TERMINATE_GRACE = 0.5


def _serve(conn: Connection, options: batch.Options, steps: bool = False) -> None:
    """A worker's life: verify each path received, send its outcome back, stop on None or a closed pipe.

    With ``steps``, each step of the verification (``batch.STEPS``) is sent,
    as text, before the outcome.
    """
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    # Ended by the parent: unwind, so that what the worker started (Tesseract
    # processes reading pages) is stopped too.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(128 + signal.SIGTERM))
    batch.init_worker(options)
    on_step = conn.send if steps else None
    while True:
        try:
            path = conn.recv()
        except (EOFError, OSError):
            return
        if path is None:
            return
        conn.send(batch.verify(path, on_step=on_step))


class Worker:
    """One forked worker and the parent's end of its pipe."""

    def __init__(self, context, options: batch.Options, steps: bool = False) -> None:
        self.conn, child = context.Pipe()
        self.process = context.Process(target=_serve, args=(child, options, steps), daemon=True)
        self.process.start()
        child.close()  # the parent keeps only its end: a dead worker reads as EOF
        self.path: Optional[str] = None

    def died(self) -> str:
        """The error of the file it had, once its pipe read as closed."""
        self.process.join()
        self.conn.close()
        return (f"{self.path}: o processo de verificação terminou de forma inesperada "
                f"(código {self.process.exitcode})")

    def give(self, path: Optional[str]) -> None:
        self.path = path
        self.conn.send(path)


def end(workers: list[Worker]) -> None:
    for w in workers:
        if w.process.is_alive():
            w.process.terminate()
    for w in workers:
        w.process.join(TERMINATE_GRACE)
        if w.process.is_alive():
            w.process.kill()
            w.process.join()
        w.conn.close()


def sharing_cores(options: batch.Options, jobs: int) -> batch.Options:
    """``options`` for one of ``jobs`` workers: each reads its scanned pages with its share of
    the cores (QUILLON_OCR_WORKERS), unless the user set how many."""
    if "QUILLON_OCR_WORKERS" in os.environ or "QUILLON_OCR_WORKERS" in options.environ:
        return options
    share = str(max(1, default_workers() // max(1, jobs)))
    return dataclasses.replace(options, environ={**options.environ, "QUILLON_OCR_WORKERS": share})


def verify_in_workers(files: list[str], options: batch.Options, jobs: int,
                      emit: Callable[[batch.Outcome], None]) -> None:
    """Verify ``files`` in ``jobs`` forked workers, calling ``emit`` with each outcome as it arrives.

    Whatever ends the call early (KeyboardInterrupt included) ends every
    worker before it propagates.
    """
    for outcome in outcomes_from_workers(files, options, jobs):
        emit(outcome)


def outcomes_from_workers(files: list[str], options: batch.Options, jobs: int) -> Iterator[batch.Outcome]:
    """The outcomes of ``files`` verified in ``jobs`` forked workers, as they finish.

    Closing the iterator early, or an exception in the caller's loop
    (KeyboardInterrupt included), ends every worker.
    """
    context = multiprocessing.get_context("fork")
    jobs = max(1, min(jobs, len(files)))
    options = sharing_cores(options, jobs)
    pending: Iterator[str] = iter(files)
    workers: list[Worker] = []
    try:
        for _ in range(jobs):
            worker = Worker(context, options)
            workers.append(worker)
            worker.give(next(pending, None))
        busy = {w.conn: w for w in workers if w.path is not None}
        while busy:
            for conn in wait(list(busy)):
                worker = busy.pop(conn)
                try:
                    outcome = conn.recv()
                except (EOFError, OSError):
                    outcome = batch.Outcome(path=worker.path, error=worker.died())
                    workers.remove(worker)
                    worker = Worker(context, options)
                    workers.append(worker)
                yield outcome
                worker.give(next(pending, None))
                if worker.path is not None:
                    busy[worker.conn] = worker
        for w in workers:
            w.process.join()
    finally:
        end(workers)
