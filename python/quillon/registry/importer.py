"""Importing a folder of published open-data files into the registry database.

An import fills ``<table>_staging`` copies of the data tables and puts them in
place of the live ones in one transaction when every file is read, so lookups
keep answering from the previous release meanwhile.

Resuming. The rows of a file and the note of how far the file got (lines and
bytes) are committed together, every ``commit_every`` lines. An import that
was interrupted is taken up where its last commit left it when it is run
again on the same files (same fingerprint, see ``files``): nothing is read
twice and nothing is lost. Files that changed start a new import.

Idempotence. Importing the files that the last complete import read does
nothing.

Malformed lines are reported on stderr with the file and line number (the
first ``MAX_REPORTED`` of each file, then a count) and skipped; the import
goes on.
"""

from __future__ import annotations

import dataclasses
import os
import sys
import time
from typing import Callable, Optional, TextIO

from quillon.registry import schema
from quillon.registry.files import Source, chunks, find_sources, fingerprint
from quillon.registry.layout import EMPRESAS, ESTABELECIMENTOS, KINDS, is_whole_release
from quillon.registry.opendata import LineReader
from quillon.registry.progress import Progress
from quillon.registry.store import RegistryStore

COMMIT_EVERY = 200_000  # lines between commits
MAX_REPORTED = 100  # malformed lines printed per file


@dataclasses.dataclass
class ImportReport:
    status: str  # "imported", "unchanged"
    run: int = 0
    files: int = 0
    resumed_files: int = 0
    rows: int = 0
    malformed: int = 0
    seconds: float = 0.0
    seconds_by_kind: dict[str, float] = dataclasses.field(default_factory=dict)  # and "indexes"
    ignored: list[str] = dataclasses.field(default_factory=list)
    complete: bool = False  # every part of a monthly release (layout.is_whole_release)


class RegistryImportError(ValueError):
    """A folder that cannot be imported (no companies or no establishments in it)."""


def _staging(table: str) -> str:
    return f"{table}_staging"


class Importer:
    def __init__(self, store: RegistryStore, *, commit_every: int = COMMIT_EVERY, err: TextIO | None = None,
                 progress: bool | None = None, on_commit: Optional[Callable[[Source, int], None]] = None):
        self.store = store
        self.commit_every = max(1, commit_every)
        self.err = err if err is not None else sys.stderr
        self.progress = progress
        self.on_commit = on_commit  # called after each commit (source, line): tests interrupt here

    # --- bookkeeping ----------------------------------------------------------------------------
    def _runs(self):
        return self.store.fetchall("SELECT id, fingerprint, finished_at FROM import_runs ORDER BY id")

    def _done_lines(self, run: int) -> dict[str, tuple[int, int, bool, int]]:
        rows = self.store.fetchall(
            "SELECT source, line, byte_offset, done, malformed FROM import_files WHERE run_id = ?", (run,))
        return {source: (line, offset, bool(done), malformed) for source, line, offset, done, malformed in rows}

    def _start_run(self, fp: str, folder: str, previous: list) -> int:
        run = (previous[-1][0] + 1) if previous else 1
        statements = [(f"DROP TABLE IF EXISTS {_staging(k.table)}", ()) for k in KINDS]
        statements += [(schema.data_table(k, _staging(k.table), self.store.dialect), ()) for k in KINDS]
        statements += [("DELETE FROM import_files WHERE run_id IN (SELECT id FROM import_runs WHERE finished_at IS NULL)",
                        ()),
                       ("DELETE FROM import_runs WHERE finished_at IS NULL", ()),
                       ("INSERT INTO import_runs (id, fingerprint, folder, started_at) VALUES (?, ?, ?, ?)",
                        (run, fp, folder, time.time()))]
        self.store.transaction(statements)
        return run

    def _finish_run(self, run: int) -> None:
        # Indexes first, on the staging tables (the long part; lookups still see the old release) ...
        for kind in KINDS:
            for sql in schema.index_statements(kind.table, _staging(kind.table), run):
                self.store.transaction([(sql, ())])
        # ... then the swap, all at once.
        statements = []
        for kind in KINDS:
            statements.append((f"DROP TABLE IF EXISTS {kind.table}", ()))
            statements.append((f"ALTER TABLE {_staging(kind.table)} RENAME TO {kind.table}", ()))
        statements.append(("UPDATE import_runs SET finished_at = ? WHERE id = ?", (time.time(), run)))
        statements.append(("DELETE FROM import_files WHERE run_id < ?", (run,)))
        statements.append(("DELETE FROM import_runs WHERE id < ?", (run,)))
        self.store.transaction(statements)

    # --- the import -----------------------------------------------------------------------------
    def run(self, folder: str | os.PathLike) -> ImportReport:
        started = time.perf_counter()
        sources, ignored = find_sources(folder)
        kinds = {s.kind.name for s in sources}
        missing = [k.name for k in (EMPRESAS, ESTABELECIMENTOS) if k.name not in kinds]
        if missing:
            raise RegistryImportError(f"Nenhum arquivo de {' nem de '.join(missing)} em {os.fspath(folder)}")
        fp = fingerprint(sources)
        report = ImportReport("imported", files=len(sources), ignored=[p.name for p in ignored],
                              complete=is_whole_release(s.key for s in sources))
        runs = self._runs()
        last = runs[-1] if runs else None
        if last and last[1] == fp and last[2] is not None:
            report.status, report.run = "unchanged", last[0]
            return report
        if last and last[1] == fp and last[2] is None:
            run = last[0]
            progress_of = self._done_lines(run)
        else:
            run = self._start_run(fp, os.fspath(os.path.abspath(folder)), runs)
            progress_of = {}
        report.run = run
        self.store.tune_for_import()
        bar = Progress(sum(s.size for s in sources), self.err, enabled=self.progress)
        try:
            for source in sources:
                line, offset, done, malformed = progress_of.get(source.key, (0, 0, False, 0))
                if line or done:
                    report.resumed_files += 1
                if done:
                    report.malformed += malformed
                    bar.advance(source.size)
                    continue
                bar.advance(offset)
                t0 = time.perf_counter()
                self._import_source(run, source, line, offset, malformed, bar, report)
                spent = report.seconds_by_kind.get(source.kind.name, 0.0) + time.perf_counter() - t0
                report.seconds_by_kind[source.kind.name] = spent
            bar.finish()
            t0 = time.perf_counter()
            self._finish_run(run)
            report.seconds_by_kind["indexes"] = time.perf_counter() - t0
        finally:
            bar.close()
        report.seconds = time.perf_counter() - started
        return report

    def _import_source(self, run: int, source: Source, line: int, offset: int, malformed: int, bar: Progress,
                       report: ImportReport) -> None:
        kind, store = source.kind, self.store
        table = _staging(kind.table)
        reader = LineReader(kind.columns, kind.plan, line, offset)
        committed_line = line

        def save(rows) -> None:
            nonlocal malformed
            if rows:
                store.insert_rows(kind, table, rows)
                report.rows += len(rows)
            for number, reason in reader.take_errors():
                malformed += 1
                if malformed <= MAX_REPORTED:
                    bar.message(f"{source.key}:{number}: linha malformada: {reason}")
            bar.lines(report.rows)

        with store.lock:
            store.begin()
            try:
                with source.open() as stream:
                    for chunk in chunks(stream, offset):
                        before = reader.offset
                        save(reader.feed(chunk))
                        bar.advance(reader.offset - before)
                        if reader.line - committed_line >= self.commit_every:
                            self._checkpoint(run, source, reader, malformed, False)
                            store.commit()
                            committed_line = reader.line
                            if self.on_commit:
                                self.on_commit(source, reader.line)
                            store.begin()
                    before = reader.offset
                    save(reader.finish())
                    bar.advance(reader.offset - before)
                self._checkpoint(run, source, reader, malformed, True)
                store.commit()
            except BaseException:
                store.rollback()
                raise
        if malformed > MAX_REPORTED:
            bar.message(f"{source.key}: {malformed} linhas malformadas ao todo ({MAX_REPORTED} mostradas)")
        report.malformed += malformed

    def _checkpoint(self, run: int, source: Source, reader: LineReader, malformed: int, done: bool) -> None:
        self.store.execute(
            "INSERT INTO import_files (run_id, source, line, byte_offset, done, malformed) VALUES (?, ?, ?, ?, ?, ?) "
            "ON CONFLICT (run_id, source) DO UPDATE SET line = excluded.line, byte_offset = excluded.byte_offset, "
            "done = excluded.done, malformed = excluded.malformed",
            (run, source.key, reader.line, reader.offset, int(done), malformed))


def import_folder(store: RegistryStore, folder: str | os.PathLike, **options) -> ImportReport:
    """Import the published files of `folder` into `store` (see the module's notes)."""
    return Importer(store, **options).run(folder)
