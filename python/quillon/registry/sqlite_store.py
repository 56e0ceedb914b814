"""The registry in an SQLite file (the default)."""

from __future__ import annotations

import contextlib
import fcntl
import os
import pathlib
import sqlite3
from typing import Sequence

from quillon.registry import schema
from quillon.registry.layout import FileKind
from quillon.registry.store import ImportBusy, RegistryStore


BUSY_TIMEOUT_MS = 30_000  # how long a statement waits for another writer, the web cache's excepted


def is_busy(error: BaseException) -> bool:
    """Whether an SQLite error says another connection holds the database (a wait that ran out)."""
    return isinstance(error, sqlite3.OperationalError) and any(w in str(error) for w in ("locked", "busy"))


class SqliteStore(RegistryStore):
    dialect = schema.SQLITE

    def _connect(self):
        path = pathlib.Path(self.location)
        path.parent.mkdir(parents=True, exist_ok=True)
        # Transactions are begun and ended explicitly (isolation_level None); the store's
        # lock, not sqlite3's thread check, keeps threads apart.
        conn = sqlite3.connect(os.fspath(path), isolation_level=None, check_same_thread=False,
                               timeout=BUSY_TIMEOUT_MS / 1000)
        # Readers go on while an import writes; a commit does not wait for the disk.
        conn.execute("PRAGMA journal_mode=WAL")
        conn.execute("PRAGMA synchronous=NORMAL")
        return conn

    def _table_exists(self, name: str) -> bool:
        row = self._conn.execute("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?", (name,)).fetchone()
        return row is not None

    @contextlib.contextmanager
    def _not_waiting(self):
        self._conn.execute("PRAGMA busy_timeout = 0")
        try:
            yield
        finally:
            self._conn.execute(f"PRAGMA busy_timeout = {BUSY_TIMEOUT_MS}")

    def _busy(self, error: BaseException) -> bool:
        return is_busy(error)

    def columns(self, table: str) -> set[str]:
        return {row[1] for row in self._conn.execute(f"PRAGMA table_info({table})")}

    @contextlib.contextmanager
    def import_lock(self):
        # A lock on a file beside the database: the kernel lets it go when the process ends,
        # however it ends, so a killed import never leaves the database locked.
        path = f"{self.location}.import-lock"
        fd = os.open(path, os.O_RDWR | os.O_CREAT, 0o644)
        try:
            try:
                fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
            except BlockingIOError:
                raise ImportBusy(self.location) from None
            yield
        finally:
            os.close(fd)  # releases the lock

    def own_files(self) -> set[pathlib.Path]:
        base = pathlib.Path(self.location).resolve()
        return {base, *(base.with_name(base.name + suffix) for suffix in ("-wal", "-shm", "-journal", ".import-lock"))}

    def tune_for_import(self) -> None:
        # A bounded page cache (64 MiB) whatever the size of the files.
        self._conn.execute("PRAGMA cache_size=-65536")

    def insert_rows(self, kind: FileKind, table: str, rows: Sequence[tuple], file_no: int) -> None:
        columns = kind.table_columns
        sql = (f"INSERT INTO {table} ({', '.join(columns)}, {schema.FILE_COLUMN}) "
               f"VALUES ({', '.join('?' * len(columns))}, {int(file_no)})")
        self._conn.executemany(sql, rows)
