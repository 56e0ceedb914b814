"""What the server does with a verification: accept the upload, queue it, record its steps and result."""

from __future__ import annotations

import logging
import pathlib
import time
from typing import BinaryIO, Optional

from quillon import batch
from quillon.serve import uploads
from quillon.serve.config import ServeConfig
from quillon.serve.executor import Executor
from quillon.serve.jobs import FINISHED, Job, JobStore, new_id

logger = logging.getLogger("quillon.serve")

#: Age after which a partial copy is an interrupted upload's, not one in progress.
STALE_PARTIAL_S = 3600
#: The longest file name kept for display.
NAME_CHARS = 200


def display_name(filename: Optional[str]) -> str:
    """The uploaded file's own name, without any folder the client sent."""
    name = (filename or "").replace("\\", "/").rsplit("/", 1)[-1].strip()
    return (name or "documento.pdf")[:NAME_CHARS]


class Service:
    def __init__(self, config: ServeConfig) -> None:
        self.config = config
        self.jobs = JobStore()
        self.executor: Optional[Executor] = None

    def start(self) -> None:
        """Start the workers and queue again every job a previous run left unfinished."""
        self.config.uploads.mkdir(parents=True, exist_ok=True)
        self.executor = Executor(self.config.options, self.config.jobs, self._step, self._done)
        waiting = self.jobs.unfinished()
        self._remove_leftovers()
        for job in waiting:
            if job.upload and pathlib.Path(job.upload).is_file():
                self.executor.submit(job.id, job.upload)
            else:
                self.jobs.finish(job.id, None, "", f"{job.arquivo}: o arquivo enviado não está mais disponível")
        if waiting:
            logger.info("%d job(s) left unfinished by the previous run queued again", len(waiting))

    def _remove_leftovers(self) -> None:
        """Uploads of this database's finished jobs (a stop between the record and the deletion), and
        partial copies an interruption left; another server's files in a shared folder are left alone."""
        now = time.time()
        for path in self.config.uploads.iterdir():
            if not path.is_file():
                continue
            if path.suffix == ".pdf":
                job = self.jobs.get(path.stem)
                if job is not None and job.status in FINISHED:
                    path.unlink(missing_ok=True)
            elif path.suffix in (".part", ".tmp") and now - path.stat().st_mtime > STALE_PARTIAL_S:
                path.unlink(missing_ok=True)

    def close(self) -> None:
        if self.executor is not None:
            self.executor.close()
        self.jobs.close()

    def accept(self, source: BinaryIO, filename: Optional[str]) -> Job:
        """Keep the upload (or refuse it: ``uploads.Rejected``), record its job, queue it."""
        job_id = new_id()
        path = uploads.save(source, self.config.uploads, f"{job_id}.pdf", self.config.max_bytes)
        try:
            job = self.jobs.add(job_id, display_name(filename), str(path))
        except BaseException:
            path.unlink(missing_ok=True)
            raise
        self.executor.submit(job.id, str(path))
        return job

    def _step(self, job_id: str, step: str) -> None:
        self.jobs.step(job_id, step)

    def _done(self, job_id: str, outcome: batch.Outcome) -> None:
        job = self.jobs.get(job_id)
        if job is None:
            return
        upload, name = job.upload or outcome.path, job.arquivo
        # The reader of the result knows the file by its own name, not the server's copy.
        record = dict(outcome.record, arquivo=name) if outcome.record is not None else None
        error = outcome.error.replace(upload, name) if outcome.error is not None else None
        self.jobs.finish(job_id, record, outcome.report.replace(upload, name), error)
        pathlib.Path(upload).unlink(missing_ok=True)
