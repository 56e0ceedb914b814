"""The server's pool of verification workers: the command's forked workers, kept alive.

Each worker runs ``batch.verify`` exactly as ``quillon verificar --jobs N``
does, and sends each step before the outcome.  One thread per worker hands it
the next job of the queue and relays what it says.  A worker that dies costs
its job an error and is replaced; a pool that is closed leaves its running
jobs as they are in the job store, to run again at the next start.
"""

from __future__ import annotations

import logging
import multiprocessing
import queue
import threading
from typing import Callable, Optional

from quillon import batch
from quillon.workers import Worker, end, sharing_cores

logger = logging.getLogger("quillon.serve")

OnStep = Callable[[str, str], None]
OnDone = Callable[[str, batch.Outcome], None]


class Executor:
    """``submit(job_id, path)``; ``on_step(job_id, step)`` and ``on_done(job_id, outcome)`` are called from its threads."""

    def __init__(self, options: batch.Options, jobs: int, on_step: OnStep, on_done: OnDone) -> None:
        # What every worker needs, loaded once here and shared by fork.
        import pymupdf  # noqa: F401
        import quillon.contract.checker  # noqa: F401
        import quillon.engine.extractor  # noqa: F401

        self.options = options = sharing_cores(options, jobs)
        self.on_step, self.on_done = on_step, on_done
        self.queue: "queue.Queue[Optional[tuple[str, str]]]" = queue.Queue()
        self.closing = False
        self._context = multiprocessing.get_context("fork")
        self._lock = threading.Lock()
        self.workers = [Worker(self._context, options, steps=True) for _ in range(max(1, jobs))]
        self._threads = [threading.Thread(target=self._relay, args=(i,), name=f"quillon-worker-{i}", daemon=True)
                         for i in range(len(self.workers))]
        for t in self._threads:
            t.start()

    def submit(self, job_id: str, path: str) -> None:
        self.queue.put((job_id, path))

    def _relay(self, index: int) -> None:
        while True:
            item = self.queue.get()
            if item is None or self.closing:
                return
            job_id, path = item
            worker = self.workers[index]
            try:
                worker.give(path)
                while True:
                    message = worker.conn.recv()
                    if isinstance(message, batch.Outcome):
                        outcome = message
                        break
                    self.on_step(job_id, message)
            except (EOFError, OSError):
                if self.closing:
                    return  # the job stays unfinished in the store and runs at the next start
                outcome = batch.Outcome(path=path, error=worker.died())
                with self._lock:
                    self.workers[index] = Worker(self._context, self.options, steps=True)
            except Exception:  # a failure of the store must not stop the worker's thread
                logger.exception("job %s: relaying its worker failed", job_id)
                continue
            try:
                self.on_done(job_id, outcome)
            except Exception:
                logger.exception("job %s: recording its outcome failed", job_id)

    def close(self) -> None:
        """End the workers now; jobs they were running stay unfinished."""
        self.closing = True
        for _ in self._threads:
            self.queue.put(None)
        with self._lock:
            end(self.workers)
        for t in self._threads:
            t.join(2)
