"""The registry in a PostgreSQL database (psycopg 3), when QUILLON_REGISTRY_URL names one."""

from __future__ import annotations

from typing import Sequence

from quillon.registry import schema
from quillon.registry.layout import FileKind
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

    def _table_exists(self, name: str) -> bool:
        return self._conn.execute("SELECT to_regclass(%s) IS NOT NULL", (name,)).fetchone()[0]

    def _columns(self, table: str) -> set[str]:
        rows = self._conn.execute("SELECT column_name FROM information_schema.columns "
                                  "WHERE table_schema = current_schema() AND table_name = %s", (table,))
        return {row[0] for row in rows.fetchall()}

    def insert_rows(self, kind: FileKind, table: str, rows: Sequence[tuple]) -> None:
        columns = ", ".join(kind.table_columns)
        with self._conn.cursor() as cur, cur.copy(f"COPY {table} ({columns}) FROM STDIN") as copy:
            for row in rows:
                copy.write_row(row)
