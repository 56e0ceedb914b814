"""The registry in a PostgreSQL database (psycopg 3), when QUILLON_REGISTRY_URL names one."""

from __future__ import annotations

import contextlib
import zlib
from typing import Sequence

from quillon.registry import schema
from quillon.registry.layout import KINDS, FileKind
from quillon.registry.store import _EMPRESA, _ESTABELECIMENTO, _SOCIOS, ImportBusy, RegistryStore

# The advisory lock key of imports (any number the database's other users do not take).
_IMPORT_LOCK = zlib.crc32(b"quillon.registry.import")


class PostgresStore(RegistryStore):
    dialect = schema.POSTGRES
    placeholder = "%s"

    def _connect(self):
        import psycopg  # only this backend needs it

        # Autocommit: a lookup leaves no transaction open; writes begin their own.
        conn = psycopg.connect(self.location, autocommit=True)
        encoding = conn.execute("SHOW server_encoding").fetchone()[0]
        if encoding.upper() not in ("UTF8", "UTF-8"):
            conn.close()
            raise ValueError(f"O banco PostgreSQL precisa da codificação UTF8 (tem {encoding}): {self.display}")
        return conn

    @property
    def display(self) -> str:
        """The URL without its password, for messages."""
        from psycopg.conninfo import conninfo_to_dict, make_conninfo

        try:
            info = conninfo_to_dict(self.location)
        except Exception:
            return "<URL inválida>"
        info.pop("password", None)
        return make_conninfo(**info)

    def _begin_read(self) -> None:
        # One snapshot for every query, and the tables held against the swap of an import
        # (DROP and RENAME wait for the block to end): a table renamed in between would be
        # looked up by name afresh and read as the new release's.  Locked in the order the
        # swap drops them, so neither waits on the other in a circle.
        self.execute("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY")
        self.execute(f"LOCK TABLE {', '.join(k.table for k in KINDS)} IN ACCESS SHARE MODE")

    def record_rows(self, cnpj: str):
        # The transaction and its three queries sent at once (psycopg's pipeline): one
        # round trip to the server instead of six.  The company and the partners are
        # asked for by the CNPJ's first eight digits, the establishment's cnpj_basico.
        with self.lock:
            if self._in_transaction:
                return super().record_rows(cnpj)
            basico = cnpj[:8]
            try:
                with self._conn.pipeline():
                    self._begin_read()
                    queries = [self.execute(sql, params) for sql, params in (
                        (_ESTABELECIMENTO, (cnpj,)), (_EMPRESA, (basico,)), (_SOCIOS, (basico,)))]
                    self.execute("COMMIT")
            except BaseException:
                with contextlib.suppress(Exception):
                    self.execute("ROLLBACK")
                raise
            row, empresa, socios = queries[0].fetchone(), queries[1].fetchone(), queries[2].fetchall()
            if row is None:
                return None
            return row, empresa, socios

    def _table_exists(self, name: str) -> bool:
        return self._conn.execute("SELECT to_regclass(%s) IS NOT NULL", (name,)).fetchone()[0]

    def columns(self, table: str) -> set[str]:
        rows = self._conn.execute("SELECT column_name FROM information_schema.columns WHERE table_name = %s "
                                  "AND table_schema = current_schema()", (table,)).fetchall()
        return {name for (name,) in rows}

    @contextlib.contextmanager
    def import_lock(self):
        # A session lock: the server lets it go when this connection ends, however it ends.
        with self.lock:
            held = self._conn.execute("SELECT pg_try_advisory_lock(%s)", (_IMPORT_LOCK,)).fetchone()[0]
        if not held:
            raise ImportBusy(self.display)
        try:
            yield
        finally:
            with self.lock:
                self._conn.execute("SELECT pg_advisory_unlock(%s)", (_IMPORT_LOCK,))

    def insert_rows(self, kind: FileKind, table: str, rows: Sequence[tuple], file_no: int) -> None:
        columns = ", ".join(kind.table_columns)
        tail = (file_no,)
        with self._conn.cursor() as cur, cur.copy(f"COPY {table} ({columns}, {schema.FILE_COLUMN}) FROM STDIN") as copy:
            for row in rows:
                copy.write_row(row + tail)
