"""The registry in a PostgreSQL database (psycopg 3), when QUILLON_REGISTRY_URL names one."""

from __future__ import annotations

from typing import Sequence

from quillon.registry import schema
from quillon.registry.layout import KINDS, FileKind
from quillon.registry.store import RegistryStore


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

    def _table_exists(self, name: str) -> bool:
        return self._conn.execute("SELECT to_regclass(%s) IS NOT NULL", (name,)).fetchone()[0]

    def insert_rows(self, kind: FileKind, table: str, rows: Sequence[tuple]) -> None:
        columns = ", ".join(kind.table_columns)
        with self._conn.cursor() as cur, cur.copy(f"COPY {table} ({columns}) FROM STDIN") as copy:
            for row in rows:
                copy.write_row(row)
