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

One import at a time. An import holds the database's import lock
(``RegistryStore.import_lock``) from start to end; a second one started
meanwhile (a scheduled job and a manual run) is refused with a message
saying so, and touches nothing.

Completeness. Each file's row count is recorded with its progress; before
the swap, every staging table must hold exactly the rows its files recorded,
or the import is refused and starts over when run again.

Damaged files. A file that cannot be read to its end (a zip member failing
its CRC, a truncated download) has its rows taken out of the staging tables
and its progress cleared, and the import stops with one line naming it: run
again (with the file downloaded anew) it is read from its start.  A file
resumed in the middle is checked first: the CRC-32 of the bytes read before
must match, else it is read again from its start.

Malformed lines are reported on stderr with the file and line number (the
first ``MAX_REPORTED`` of each file, then a count) and skipped; the import
goes on.
"""

from __future__ import annotations

import dataclasses
import os
import sys
import time
import zlib
from typing import BinaryIO, Callable, Iterator, Optional, TextIO

from quillon.registry import schema
from quillon.registry.files import CHUNK, READ_ERRORS, Source, UnreadableFile, find_sources, fingerprint
from quillon.registry.layout import EMPRESAS, ESTABELECIMENTOS, KINDS, is_whole_release
from quillon.registry.opendata import LineReader
from quillon.progress import Progress
from quillon.registry.store import ImportBusy, RegistryStore

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
    #: Copies of text files read from elsewhere (see ``files``): "<file> (já lido de <zip>)".
    duplicates: list[str] = dataclasses.field(default_factory=list)
    #: Rows of each file, by its key.
    rows_by_file: dict[str, int] = dataclasses.field(default_factory=dict)
    complete: bool = False  # every part of a monthly release (layout.is_whole_release)


class RegistryImportError(ValueError):
    """An import that cannot be made: a folder without companies or establishments, a file that
    cannot be read (named), another import under way, a release whose row counts do not add up."""


@dataclasses.dataclass
class _Progress:
    """How far a file got, as its last commit recorded it."""

    line: int = 0
    offset: int = 0
    done: bool = False
    malformed: int = 0
    rows: int = 0
    checked_bytes: int = 0
    checked_crc: int = 0


class _FileChanged(Exception):
    """The bytes before a resumed file's resume point are not those read before."""


class _Stream:
    """The chunks of a file after `skip` bytes, with the CRC-32 of every byte read from its start.

    The first `checked_bytes` must give `checked_crc` (what the last commit saw), else
    _FileChanged: the file is not the one that was partly read."""

    def __init__(self, stream: BinaryIO, skip: int, progress: _Progress):
        self.stream, self.skip, self.expected = stream, skip, progress
        self.read_bytes = 0
        self.crc = 0

    def __iter__(self) -> Iterator[bytes]:
        checked = self.expected.checked_bytes
        while True:
            chunk = self.stream.read(CHUNK)
            if not chunk:
                break
            start = self.read_bytes
            if start < checked <= start + len(chunk):
                if zlib.crc32(chunk[:checked - start], self.crc) != self.expected.checked_crc:
                    raise _FileChanged
            self.crc = zlib.crc32(chunk, self.crc)
            self.read_bytes += len(chunk)
            if self.read_bytes > self.skip:
                yield chunk if start >= self.skip else chunk[self.skip - start:]
        if self.read_bytes < checked:
            raise _FileChanged


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

    def _done_lines(self, run: int) -> dict[str, _Progress]:
        rows = self.store.fetchall(
            "SELECT source, line, byte_offset, done, malformed, row_count, checked_bytes, checked_crc "
            "FROM import_files WHERE run_id = ?", (run,))
        return {source: _Progress(line, offset, bool(done), malformed, count, checked, crc)
                for source, line, offset, done, malformed, count, checked, crc in rows}

    def _numbered_staging(self) -> bool:
        """Whether the staging tables number their rows' files (those of older versions do not:
        such an import starts over)."""
        return all(schema.FILE_COLUMN in self.store.columns(_staging(k.table)) for k in KINDS)

    def _forget(self, run: int, file_no: int, source: Source) -> None:
        """Take a file's rows out of its staging table and clear its progress: it is read from its start."""
        self.store.transaction([
            (f"DELETE FROM {_staging(source.kind.table)} WHERE {schema.FILE_COLUMN} = ?", (file_no,)),
            ("DELETE FROM import_files WHERE run_id = ? AND source = ?", (run, source.key))])

    def _check_counts(self, run: int, sources: list[Source]) -> None:
        """Every staging table holds the rows its files recorded, or the import is refused and
        starts over when run again."""
        progress = self._done_lines(run)
        expected: dict[str, int] = {}
        for source in sources:
            expected[source.kind.table] = expected.get(source.kind.table, 0) + progress[source.key].rows
        for table, rows in expected.items():
            held = self.store.fetchone(f"SELECT count(*) FROM {_staging(table)}")[0]
            if held != rows:
                self.store.transaction([("DELETE FROM import_files WHERE run_id = ?", (run,)),
                                        ("DELETE FROM import_runs WHERE id = ?", (run,))])
                raise RegistryImportError(
                    f"Importação incompleta: {table} tem {held} linhas, os arquivos registraram {rows}; "
                    "nada foi substituído, rode a importação de novo.")

    def _start_run(self, fp: str, folder: str, previous: list) -> int:
        run = (previous[-1][0] + 1) if previous else 1
        statements = [(f"DROP TABLE IF EXISTS {_staging(k.table)}", ()) for k in KINDS]
        statements += [(schema.data_table(k, _staging(k.table), self.store.dialect, file_column=True), ())
                       for k in KINDS]
        statements += [("DELETE FROM import_files WHERE run_id IN (SELECT id FROM import_runs WHERE finished_at IS NULL)",
                        ()),
                       ("DELETE FROM import_runs WHERE finished_at IS NULL", ()),
                       ("INSERT INTO import_runs (id, fingerprint, folder, started_at) VALUES (?, ?, ?, ?)",
                        (run, fp, folder, time.time()))]
        self.store.transaction(statements)
        return run

    def _finish_run(self, run: int, sources: list[Source]) -> None:
        # Indexes first, on the staging tables (the long part; lookups still see the old release) ...
        for kind in KINDS:
            for sql in schema.index_statements(kind.table, _staging(kind.table), run):
                self.store.transaction([(sql, ())])
            self.store.transaction([(sql, ()) for sql in schema.statistics_statements(_staging(kind.table),
                                                                                      self.store.dialect)])
        # ... the row counts (counted on an index, quicker than on the table) ...
        self._check_counts(run, sources)
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
        try:
            with self.store.import_lock():
                return self._run(folder)
        except ImportBusy as busy:
            raise RegistryImportError(f"Outra importação está em andamento neste cadastro ({busy}); aguarde ela "
                                      "terminar e rode esta de novo.") from None

    def _run(self, folder: str | os.PathLike) -> ImportReport:
        started = time.perf_counter()
        try:
            found = find_sources(folder)
        except UnreadableFile as error:
            raise RegistryImportError(str(error)) from None
        own = self.store.own_files()
        sources, ignored = found.sources, [p for p in found.ignored if p.resolve() not in own]
        kinds = {s.kind.name for s in sources}
        missing = [k.name for k in (EMPRESAS, ESTABELECIMENTOS) if k.name not in kinds]
        if missing:
            raise RegistryImportError(f"Nenhum arquivo de {' nem de '.join(missing)} em {os.fspath(folder)}")
        fp = fingerprint(sources)
        report = ImportReport("imported", files=len(sources), ignored=[p.name for p in ignored],
                              duplicates=found.duplicates, complete=is_whole_release(s.key for s in sources))
        runs = self._runs()
        last = runs[-1] if runs else None
        if last and last[1] == fp and last[2] is not None:
            report.status, report.run = "unchanged", last[0]
            return report
        if last and last[1] == fp and last[2] is None and self._numbered_staging():
            run = last[0]
            progress_of = self._done_lines(run)
        else:
            run = self._start_run(fp, os.fspath(os.path.abspath(folder)), runs)
            progress_of = {}
        report.run = run
        self.store.tune_for_import()
        bar = Progress(sum(s.size for s in sources), stream=self.err, enabled=self.progress, rows=True, log_every=10.0)
        try:
            for file_no, source in enumerate(sources):
                progress = progress_of.get(source.key, _Progress())
                if progress.line or progress.done:
                    report.resumed_files += 1
                if progress.done:
                    report.malformed += progress.malformed
                    report.rows_by_file[source.key] = progress.rows
                    bar.advance(source.size)
                    continue
                t0 = time.perf_counter()
                try:
                    self._import_source(run, file_no, source, progress, bar, report)
                except _FileChanged:
                    bar.message(f"{source.key}: não é o arquivo lido antes; lido de novo desde o início")
                    self._forget(run, file_no, source)
                    self._import_source(run, file_no, source, _Progress(), bar, report)
                spent = report.seconds_by_kind.get(source.kind.name, 0.0) + time.perf_counter() - t0
                report.seconds_by_kind[source.kind.name] = spent
            bar.finish()
            t0 = time.perf_counter()
            self._finish_run(run, sources)
            report.seconds_by_kind["indexes"] = time.perf_counter() - t0
        finally:
            bar.close()
        report.seconds = time.perf_counter() - started
        return report

    def _import_source(self, run: int, file_no: int, source: Source, progress: _Progress, bar: Progress,
                       report: ImportReport) -> None:
        kind, store = source.kind, self.store
        table = _staging(kind.table)
        reader = LineReader(kind.columns, kind.plan, progress.line, progress.offset)
        committed_line = progress.line
        malformed, rows = progress.malformed, progress.rows
        bar.advance(progress.offset)

        def save(new_rows) -> None:
            nonlocal malformed, rows
            if new_rows:
                store.insert_rows(kind, table, new_rows, file_no)
                rows += len(new_rows)
                report.rows += len(new_rows)
            for number, reason in reader.take_errors():
                malformed += 1
                if malformed <= MAX_REPORTED:
                    bar.message(f"{source.key}:{number}: linha malformada: {reason}")
            bar.lines(report.rows)

        def checkpoint(stream: _Stream, done: bool) -> None:
            store.execute(
                "INSERT INTO import_files (run_id, source, line, byte_offset, done, malformed, row_count, "
                "checked_bytes, checked_crc) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (run_id, source) DO "
                "UPDATE SET line = excluded.line, byte_offset = excluded.byte_offset, done = excluded.done, "
                "malformed = excluded.malformed, row_count = excluded.row_count, "
                "checked_bytes = excluded.checked_bytes, checked_crc = excluded.checked_crc",
                (run, source.key, reader.line, reader.offset, int(done), malformed, rows, stream.read_bytes,
                 stream.crc))

        with store.lock:
            store.begin()
            try:
                with source.open() as raw:
                    stream = _Stream(raw, progress.offset, progress)
                    for chunk in stream:
                        before = reader.offset
                        save(reader.feed(chunk))
                        bar.advance(reader.offset - before)
                        if reader.line - committed_line >= self.commit_every:
                            checkpoint(stream, False)
                            store.commit()
                            committed_line = reader.line
                            if self.on_commit:
                                self.on_commit(source, reader.line)
                            store.begin()
                    before = reader.offset
                    save(reader.finish())
                    bar.advance(reader.offset - before)
                checkpoint(stream, True)
                store.commit()
            except READ_ERRORS as error:
                store.rollback()
                self._forget(run, file_no, source)
                raise RegistryImportError(f"{UnreadableFile(source.path, error, source.member)}; as linhas dele "
                                          "foram descartadas: baixe-o de novo e rode a importação outra vez "
                                          "(ele será lido desde o início).") from None
            except BaseException:
                store.rollback()
                raise
        if malformed > MAX_REPORTED:
            bar.message(f"{source.key}: {malformed} linhas malformadas ao todo ({MAX_REPORTED} mostradas)")
        report.malformed += malformed
        report.rows_by_file[source.key] = rows


def import_folder(store: RegistryStore, folder: str | os.PathLike, **options) -> ImportReport:
    """Import the published files of `folder` into `store` (see the module's notes)."""
    return Importer(store, **options).run(folder)
