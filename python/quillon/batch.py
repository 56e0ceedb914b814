"""Contract verification of files for the command line: one process or a pool of workers.

Each worker builds one ``ContractChecker`` and verifies the files handed to
it; the parent prints the outcomes as they arrive.  The checker is asked for
the command's policy (``pendente_sem_verificacao``): its record then carries
what the engine saw (screening, unreadable pages), and a document from which
nothing could be verified is PENDENTE, never APROVADO.  The record and the
report are the checker's own.
"""

from __future__ import annotations

import contextlib
import io
import json
import os
import pathlib
from dataclasses import dataclass, field
from typing import Any, Callable, Iterator, Optional

#: Exit status of one contract, by verdict.
EXIT_BY_VERDICT = {"APROVADO": 0, "REPROVADO": 1, "PENDENTE": 2}
EXIT_ERROR = 3


class UserError(Exception):
    """A failure to report as one line (missing file, not a PDF, no credentials...)."""


@dataclass
class Options:
    provider: Optional[str] = None
    model: str = "gpt-4o"
    precheck: bool = True
    human: bool = True
    environ: dict[str, str] = field(default_factory=dict)


@dataclass
class Outcome:
    path: str
    record: Optional[dict[str, Any]] = None
    report: str = ""
    error: Optional[str] = None
    #: Why the company registry could not be consulted about some company (its CNPJ is pending).
    registry_unavailable: Optional[str] = None

    @property
    def status(self) -> int:
        if self.error is not None or self.record is None:
            return EXIT_ERROR
        return EXIT_BY_VERDICT.get(self.record.get("resultado_final"), EXIT_ERROR)


def overall_status(statuses: list[int]) -> int:
    """3 when any file failed, else 1 when any contract is REPROVADO, else 2 when any is PENDENTE, else 0."""
    for worst in (EXIT_ERROR, 1, 2):
        if worst in statuses:
            return worst
    return 0


def pdf_files(paths: list[str]) -> list[str]:
    """The files to verify: the paths given, a folder standing for the PDFs in it (sorted, recursively)."""
    files: list[str] = []
    for p in paths:
        path = pathlib.Path(p)
        if path.is_dir():
            found = sorted(str(f) for f in path.rglob("*") if f.suffix.lower() == ".pdf" and f.is_file())
            if not found:
                raise UserError(f"nenhum PDF na pasta {p}")
            files.extend(found)
        else:
            files.append(p)
    return files


# --- one process -------------------------------------------------------------
_checker = None
_options: Optional[Options] = None


def init_worker(options: Options) -> None:
    global _checker, _options
    os.environ.update(options.environ)
    _options = options
    _checker = None


def start_checker() -> None:
    """Build and start the checker of ``init_worker``'s options now: a setting that cannot work
    (no key, a missing package) is a ``UserError`` here rather than at each file."""
    _get_checker()


def _get_checker():
    global _checker
    if _checker is None:
        from quillon.contract.checker import ContractChecker

        kwargs: dict[str, Any] = {"verbose": False, "model": _options.model}
        if _options.provider:
            kwargs["provider"] = _options.provider
        try:
            checker = ContractChecker("BR", **kwargs)
        except ValueError as exc:
            message = str(exc)
            if "OpenAI API key" in message:
                message += " Sem chave, use --provider local."
            raise UserError(message) from None
        # A fragment of a name never approves a signatory here: names are
        # weighed with the CPFs of contract and registry (the library's
        # default keeps the tolerant name rule alone).
        checker.corroborar_assinaturas = True
        # Nothing verified is PENDENTE (the checker decides it, with the engine's reason).
        checker.pendente_sem_verificacao = True
        _start_engine(checker)
        _checker = checker  # only a started one: each file after a failure fails the same way
    return _checker


def _start_engine(checker) -> None:
    """Start the checker's extraction engine now, and fail with its reason.

    A checker whose engine cannot start answers every contract PENDENTE with a
    generic text; for the command that is an error of the installation (a
    missing optional package, say), said once with its real cause.  The
    checker reports the cause through its ``_log``, which is quiet when it is
    not verbose, so the lines are collected here while it starts.
    """
    lines: list[str] = []
    checker._log = lambda msg, emoji="": lines.append(str(msg))
    try:
        started = checker._init_quillon()
    finally:
        del checker._log
    if not started:
        from quillon.redaction import scrub_environment

        reason = lines[-1].strip() if lines else "motor de extração indisponível"
        reason = reason.removeprefix("Erro ao inicializar Quillon: ")
        raise UserError(scrub_environment(f"não foi possível iniciar a extração: {reason}"))


def _check_pdf(path: str) -> None:
    p = pathlib.Path(path)
    if not p.exists():
        raise UserError(f"Arquivo não encontrado: {path}")
    if p.is_dir():
        raise UserError(f"{path} é uma pasta, não um PDF")
    try:
        with open(p, "rb") as fh:
            head = fh.read(1024)
    except OSError as exc:
        raise UserError(f"não foi possível ler {path}: {exc.strerror or exc}") from None
    if b"%PDF-" not in head:
        raise UserError(f"{path} não é um PDF")


def _report(checker, path: str) -> str:
    """The checker's report of its last verification, under the file's name and its unreadable pages."""
    result = checker.ultima_extracao
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        print(f"📄 {path}")
        if result is not None and result.unreadable_pages:
            print(f"⚠️ Páginas ilegíveis: {', '.join(map(str, result.unreadable_pages))}")
        checker.relatorio()
    return out.getvalue()


#: The steps of one verification, in the order they start.
STEPS = ("leitura", "extracao", "cadastro", "assinaturas")
# The checker's log lines that open its registry and signature steps.
_STEP_BY_LOG = (("Validando empresas", "cadastro"), ("Verificando Assinaturas", "assinaturas"))


@contextlib.contextmanager
def _reporting_steps(checker, on_step: Optional[Callable[[str], None]]):
    """While verifying, tell ``on_step`` each step of ``STEPS`` as it starts.

    The engine reports its reading and extraction stages; the checker's
    registry and signature steps are told by its log lines (``_log`` is
    called whether or not the checker prints).
    """
    if on_step is None:
        yield
        return
    client = getattr(checker, "_client", None)

    def log(msg, emoji=""):
        for mark, step in _STEP_BY_LOG:
            if mark in str(msg):
                on_step(step)

    checker._log = log
    if client is not None:
        client.stage = on_step
    try:
        yield
    finally:
        del checker._log
        if client is not None:
            client.stage = None


def verify(path: str, on_step: Optional[Callable[[str], None]] = None) -> Outcome:
    """Verify one contract in this process (the worker's entry); ``on_step`` hears each of ``STEPS``."""
    try:
        _check_pdf(path)
        checker = _get_checker()
        with _reporting_steps(checker, on_step):
            record = {"arquivo": path, **checker.verificar(path)}
        report = _report(checker, path) if _options.human else ""
        return Outcome(path=path, record=record, report=report, registry_unavailable=registry_unavailable(record))
    except UserError as exc:
        return Outcome(path=path, error=str(exc))
    except KeyboardInterrupt:
        raise
    except Exception as exc:  # one line per failed file, the rest go on
        return Outcome(path=path, error=describe_error(exc, path))


def verificar_lote(caminhos: list[str], executor: Any = None, options: Optional[Options] = None) -> Iterator[Outcome]:
    """Verify many contracts: each one's ``Outcome`` as it finishes, every file once.

    ``caminhos`` are PDFs or folders of PDFs; ``executor`` is where the work runs,
    ``quillon.executors.LocalPool(jobs)`` (the default, one process) or
    ``quillon.executors.RayCluster(address)``.  A contract that fails gives its
    error outcome and the batch goes on."""
    from quillon.executors import LocalPool

    files = pdf_files(list(caminhos))
    outcomes = (executor or LocalPool()).outcomes(files, options or Options(human=False))
    try:
        yield from outcomes
    finally:
        outcomes.close()  # an early stop ends the workers


def already_reported(path: str) -> set[str]:
    """The files an earlier ``--jsonl`` output reports (a record or an error line), to skip
    when a batch is resumed.  A last line cut short by an interruption is not a report."""
    done: set[str] = set()
    try:
        with open(path, encoding="utf-8") as fh:
            for line in fh:
                try:
                    entry = json.loads(line)
                except ValueError:
                    continue
                if isinstance(entry, dict) and isinstance(entry.get("arquivo"), str):
                    done.add(os.path.abspath(entry["arquivo"]))
    except FileNotFoundError:
        return done  # nothing done yet: the first run of a batch meant to be resumed
    except OSError as exc:
        raise UserError(f"não foi possível ler {path}: {exc.strerror or exc}") from None
    return done


def registry_unavailable(record: dict[str, Any]) -> Optional[str]:
    """The message of the first company whose CNPJ is pending: the registry could not be asked
    about it (the checker approves a CNPJ found and rejects one the registry does not have)."""
    for empresa in record.get("empresas") or []:
        for campo in empresa.get("campos") or []:
            if campo.get("campo") == "CNPJ" and campo.get("status") == "pendente":
                return campo.get("mensagem") or "Receita Federal não consultada"
    return None


def describe_error(exc: BaseException, path: str = "") -> str:
    """One line for a failure: the error's first line, credentials scrubbed, prefixed with the file."""
    from quillon.redaction import scrub_environment

    name = type(exc).__name__
    text = scrub_environment(str(exc)).strip()
    text = text.splitlines()[0] if text else name
    if name in ("FileDataError", "EmptyFileError") or "Failed to open" in text or "cannot open" in text.lower():
        return f"{path}: não é um PDF legível ({text})"
    if isinstance(exc, FileNotFoundError):
        return text
    return f"{path}: {text}" if path else text
