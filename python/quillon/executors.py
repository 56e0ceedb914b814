"""Where a batch of contracts is verified: worker processes on this machine, or a Ray cluster.

An executor turns a list of files into their ``batch.Outcome``s, yielded as
they finish, each file exactly once.  ``LocalPool`` (the default) verifies in
this process or in forked workers (``--jobs``); ``RayCluster`` sends one task
per contract to a Ray cluster (``pip install "quillon[ray]"``); on a cluster of
several machines the file's bytes travel with the task, so that no node needs
the driver's folders.
"""

from __future__ import annotations

import dataclasses
import logging
import os
import pathlib
import tempfile
from typing import Any, Iterator, Mapping, Optional, Protocol

from quillon import batch

logger = logging.getLogger("quillon.batch")

#: The variables a Ray worker needs from the driver's environment: where the
#: registry is, the providers' and services' settings and keys.
FORWARDED_PREFIXES = ("QUILLON_", "OPENAI_", "AZURE_", "CNPJA_", "RECEITA_WS_", "TESSDATA_PREFIX")
#: How many times Ray runs a contract's task again when the worker or node running it dies.
TASK_RETRIES = 3
ENV_RAY_ADDRESS = "QUILLON_RAY_ADDRESS"


class Executor(Protocol):
    def outcomes(self, files: list[str], options: batch.Options) -> Iterator[batch.Outcome]:
        """The outcome of every file, as each finishes."""


@dataclasses.dataclass
class LocalPool:
    """This machine: in this process (``jobs`` 1) or in ``jobs`` forked workers."""

    jobs: int = 1

    def outcomes(self, files: list[str], options: batch.Options) -> Iterator[batch.Outcome]:
        if self.jobs <= 1 or len(files) <= 1:
            batch.init_worker(options)
            for path in files:
                yield batch.verify(path)
            return
        # Modules the workers need, loaded once here and shared by fork.
        import pymupdf  # noqa: F401

        import quillon.contract.checker  # noqa: F401
        import quillon.engine.extractor  # noqa: F401
        from quillon.workers import outcomes_from_workers

        yield from outcomes_from_workers(files, options, self.jobs)


@dataclasses.dataclass
class RayCluster:
    """A Ray cluster: ``address`` "auto" joins the one running here, "ray://host:10001" or
    "host:6379" a remote one; None starts a Ray instance on this machine."""

    address: Optional[str] = None
    retries: int = TASK_RETRIES

    def outcomes(self, files: list[str], options: batch.Options) -> Iterator[batch.Outcome]:
        ray = _ray()
        if not ray.is_initialized():
            init: dict[str, Any] = {"address": self.address, "log_to_driver": False,
                                    "logging_level": logging.WARNING}
            if self.address is None:
                init["include_dashboard"] = False
            ray.init(**init)
        options = dataclasses.replace(options, environ=forwarded_environment(options.environ))
        check_registry_reachable(ray, options.environ)
        task = ray.remote(max_retries=self.retries, retry_exceptions=False)(_verify_task)
        shared = ray.put(options)  # once in the object store, not once per task
        # On this machine alone the workers read the files where they are; on a
        # cluster the bytes go with each task (a quarter of the throughput of short
        # contracts on one machine goes into carrying them).
        carry = not _only_this_machine(ray)
        running: dict[Any, str] = {}
        try:
            for path in files:
                running[task.remote(path, _read_or_none(path) if carry else None, shared)] = path
            while running:
                # Wait for one, then take whatever else has finished: a short task costs
                # no round trip of its own.
                ray.wait(list(running), num_returns=1)
                ready, _ = ray.wait(list(running), num_returns=len(running), timeout=0)
                for ref in ready:
                    yield _result(ray, ref, running.pop(ref))
        finally:
            for ref in running:
                ray.cancel(ref, force=True)


def forwarded_environment(environ: Mapping[str, str]) -> dict[str, str]:
    """The driver's settings a worker on another node needs, then ``environ`` over them."""
    out = {k: v for k, v in os.environ.items() if k.startswith(FORWARDED_PREFIXES)}
    out.update(environ)
    return out


def check_registry_reachable(ray: Any, environ: Mapping[str, str]) -> None:
    """Refuse a registry only this machine has when the cluster has more than one node:
    every worker must reach the same registry (PostgreSQL, QUILLON_REGISTRY_URL)."""
    from quillon.registry import settings

    nodes = [n for n in ray.nodes() if n.get("Alive")]
    if len(nodes) <= 1:
        return
    try:
        backend, where = settings.registry_location(environ)
    except ValueError as exc:
        raise batch.UserError(str(exc)) from None
    if backend == "sqlite":
        raise batch.UserError(
            f"um cluster Ray de {len(nodes)} nós precisa de um cadastro que todos alcancem: o cadastro "
            f"SQLite {where} fica só nesta máquina; defina QUILLON_REGISTRY_URL (PostgreSQL)")


def _ray() -> Any:
    try:
        import ray
    except ImportError:
        raise batch.UserError('o Ray não está instalado: pip install "quillon[ray]"') from None
    return ray


def _only_this_machine(ray: Any) -> bool:
    """Whether the cluster is this machine's node alone (its workers see this file system)."""
    try:
        here = ray.get_runtime_context().get_node_id()
    except Exception:  # a client connection (ray://) has no node here
        return False
    nodes = [n for n in ray.nodes() if n.get("Alive")]
    return len(nodes) == 1 and nodes[0].get("NodeID") == here


def _read_or_none(path: str) -> Optional[bytes]:
    """The file's bytes, or None when it cannot be read: the task then reports it as the
    local pool does (missing file, a folder, no permission)."""
    try:
        with open(path, "rb") as fh:
            return fh.read()
    except OSError:
        return None


def _verify_task(path: str, data: Optional[bytes], options: batch.Options) -> batch.Outcome:
    """One contract on a Ray worker: read where it is (``data`` None), or written to a private
    folder under its own name, verified, and reported under the driver's path."""
    if batch._options != options:
        batch.init_worker(options)
    if data is None:
        return batch.verify(path)  # the same error line as on this machine
    with tempfile.TemporaryDirectory(prefix="quillon-ray-") as folder:
        local = os.path.join(folder, pathlib.Path(path).name or "contrato.pdf")
        with open(local, "wb") as fh:
            fh.write(data)
        outcome = batch.verify(local)
    return _under_driver_path(outcome, local, path)


def _under_driver_path(outcome: batch.Outcome, local: str, path: str) -> batch.Outcome:
    def swap(value: Any) -> Any:
        return value.replace(local, path) if isinstance(value, str) else value

    record = outcome.record
    if record is not None:
        record = {**record, "arquivo": path}
    return dataclasses.replace(outcome, path=path, record=record, report=swap(outcome.report),
                               error=swap(outcome.error))


def _result(ray: Any, ref: Any, path: str) -> batch.Outcome:
    try:
        return ray.get(ref)
    except ray.exceptions.RayError as exc:  # retries spent: the node or worker kept dying
        cause = str(exc).strip().splitlines()[0] if str(exc).strip() else type(exc).__name__
        return batch.Outcome(path=path, error=f"{path}: a tarefa do Ray falhou ({type(exc).__name__}: {cause})")


def executor_for(jobs: int = 1, ray_address: Optional[str] = None, use_ray: bool = False) -> Executor:
    """The executor of the command's options: ``--ray [ADDRESS]`` (or QUILLON_RAY_ADDRESS), else ``--jobs``."""
    address = ray_address or os.environ.get(ENV_RAY_ADDRESS, "").strip() or None
    if use_ray or ray_address:
        return RayCluster(address=address)
    return LocalPool(jobs=jobs)
