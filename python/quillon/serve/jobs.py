"""The server's verifications, kept in the registry database.

A job is written before its upload is acknowledged and updated at each step,
so a server that stops (a restart, a crash) finds on its next start every
job it had accepted: finished ones keep their result, the others run again.
"""

from __future__ import annotations

import json
import time
import uuid
from dataclasses import dataclass
from typing import Any, Optional

from quillon.registry import open_store, schema, settings
from quillon.registry.store import RegistryStore

#: Status of a job, in the order it goes through them.
NA_FILA, EM_ANDAMENTO, CONCLUIDO, ERRO = "na_fila", "em_andamento", "concluido", "erro"
STATUSES = (NA_FILA, EM_ANDAMENTO, CONCLUIDO, ERRO)
FINISHED = (CONCLUIDO, ERRO)

_COLUMNS = "id, arquivo, upload, status, etapa, criado_em, concluido_em, resultado, relatorio, erro"


@dataclass
class Job:
    id: str
    arquivo: str
    upload: Optional[str]
    status: str
    etapa: Optional[str]
    criado_em: float
    concluido_em: Optional[float] = None
    resultado: Optional[dict[str, Any]] = None
    relatorio: Optional[str] = None
    erro: Optional[str] = None

    @classmethod
    def from_row(cls, row: tuple) -> "Job":
        values = list(row)
        values[7] = json.loads(values[7]) if values[7] else None
        return cls(*values)

    def public(self) -> dict[str, Any]:
        """What the API says of the job (the upload's location stays inside)."""
        return {"id": self.id, "arquivo": self.arquivo, "status": self.status, "etapa": self.etapa,
                "criado_em": self.criado_em, "concluido_em": self.concluido_em,
                "resultado": self.resultado, "erro": self.erro}


def new_id() -> str:
    return uuid.uuid4().hex


class JobStore:
    """The ``serve_jobs`` table of the registry database the environment names."""

    def __init__(self, store: Optional[RegistryStore] = None) -> None:
        # A connection of its own: the registry's shared one is left to the lookups.
        self.store = store or open_store(*settings.registry_location())
        self.store.transaction([(schema.jobs_table(self.store.dialect), ())])

    def close(self) -> None:
        self.store.close()

    def add(self, job_id: str, arquivo: str, upload: str) -> Job:
        job = Job(id=job_id, arquivo=arquivo, upload=upload, status=NA_FILA, etapa=None, criado_em=time.time())
        self.store.transaction([(
            "INSERT INTO serve_jobs (id, arquivo, upload, status, criado_em) VALUES (?, ?, ?, ?, ?)",
            (job.id, job.arquivo, job.upload, job.status, job.criado_em))])
        return job

    def get(self, job_id: str) -> Optional[Job]:
        row = self.store.fetchone(f"SELECT {_COLUMNS} FROM serve_jobs WHERE id = ?", (job_id,))
        return None if row is None else Job.from_row(row)

    def unfinished(self) -> list[Job]:
        """Jobs accepted and not finished, oldest first: the queue to run after a start."""
        rows = self.store.fetchall(
            f"SELECT {_COLUMNS} FROM serve_jobs WHERE status IN (?, ?) ORDER BY criado_em, id",
            (NA_FILA, EM_ANDAMENTO))
        return [Job.from_row(r) for r in rows]

    def step(self, job_id: str, etapa: str) -> None:
        self.store.transaction([("UPDATE serve_jobs SET status = ?, etapa = ? WHERE id = ?",
                                 (EM_ANDAMENTO, etapa, job_id))])

    def finish(self, job_id: str, resultado: Optional[dict[str, Any]], relatorio: str,
               erro: Optional[str]) -> None:
        status = ERRO if erro is not None else CONCLUIDO
        text = None if resultado is None else json.dumps(resultado, ensure_ascii=False, default=str)
        self.store.transaction([(
            "UPDATE serve_jobs SET status = ?, etapa = NULL, concluido_em = ?, resultado = ?, relatorio = ?, "
            "erro = ?, upload = NULL WHERE id = ?", (status, time.time(), text, relatorio, erro, job_id))])
