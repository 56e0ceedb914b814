"""The registry database: lookups, name search, the web answers cache and the import's writes.

``RegistryStore`` holds the SQL that both databases share (written with "?"
placeholders); ``sqlite_store`` and ``postgres_store`` add the connection and
the bulk load of each. One store serves several threads: every use of the
connection holds the store's lock.
"""

from __future__ import annotations

import abc
import contextlib
import pathlib
import threading
from typing import Any, Iterable, Optional, Sequence

from quillon.registry import schema
from quillon.registry.layout import KINDS, SITUACAO_ATIVA, FileKind, is_whole_release

# Candidates read per index in a search by name: enough to rank, few enough to stay fast
# when a short prefix matches half the registry.
SEARCH_CANDIDATES = 200
# Above every character: "key" <= name < "key" + TOP holds for the names that start with "key".
_TOP = "\U0010ffff"

_ESTABELECIMENTO = (
    "SELECT cnpj, cnpj_basico, nome_fantasia, situacao, data_situacao, data_abertura, logradouro, numero, "
    "complemento, bairro, cep, uf, (SELECT descricao FROM municipios WHERE codigo = e.municipio LIMIT 1), "
    "municipio, email FROM estabelecimentos e WHERE cnpj = ? LIMIT 1")
_EMPRESA = (
    "SELECT razao_social, natureza_juridica, "
    "(SELECT descricao FROM naturezas WHERE codigo = m.natureza_juridica LIMIT 1), capital_social, porte "
    "FROM empresas m WHERE cnpj_basico = ? LIMIT 1")
_SOCIOS = (
    "SELECT nome, qualificacao, (SELECT descricao FROM qualificacoes WHERE codigo = s.qualificacao LIMIT 1), "
    "data_entrada, cpf_representante, nome_representante, qualificacao_representante, "
    "(SELECT descricao FROM qualificacoes WHERE codigo = s.qualificacao_representante LIMIT 1), "
    "cnpj_cpf_do_socio FROM socios s WHERE cnpj_basico = ? ORDER BY ordem")

# Search candidates: (cnpj, situacao, matriz_filial, length of the matched key).
_BY_LEGAL_NAME = (
    "SELECT e.cnpj, e.situacao, e.matriz_filial, length(m.chave_razao) FROM "
    "(SELECT cnpj_basico, chave_razao FROM empresas WHERE {match} LIMIT {limit}) m "
    "JOIN estabelecimentos e ON e.cnpj_basico = m.cnpj_basico{uf}")
_BY_TRADE_NAME = (
    "SELECT cnpj, situacao, matriz_filial, length(chave_fantasia) FROM estabelecimentos "
    "WHERE {match}{uf} LIMIT {limit}")


# Web answers kept in memory at most while the database is busy (an import writing).
UNWRITTEN_CACHE_MAX = 10_000
_CACHE_PUT = ("INSERT INTO web_cache (cache_key, answer, stored_at) VALUES (?, ?, ?) ON CONFLICT (cache_key) "
              "DO UPDATE SET answer = excluded.answer, stored_at = excluded.stored_at")


class ImportBusy(Exception):
    """Another import holds the database's import lock."""


class RegistryStore(abc.ABC):
    """One registry database (SQLite file or PostgreSQL database)."""

    dialect: schema.Dialect
    placeholder = "?"

    def __init__(self, location: str):
        self.location = location
        self.lock = threading.RLock()
        self._in_transaction = False
        self._unwritten: dict[str, tuple[Optional[str], float]] = {}  # cache entries not yet written
        self._conn = self._connect()
        with self.lock:
            self._ensure_tables()

    # --- what each database does its own way ---------------------------------------------------
    @abc.abstractmethod
    def _connect(self): ...

    @abc.abstractmethod
    def _table_exists(self, name: str) -> bool: ...

    @abc.abstractmethod
    def columns(self, table: str) -> set[str]:
        """The column names of a table (none when it does not exist)."""

    @abc.abstractmethod
    def insert_rows(self, kind: FileKind, table: str, rows: Sequence[tuple], file_no: int) -> None:
        """Append rows (in the kind's column order) of the import's file `file_no` to a staging table;
        inside the open transaction."""

    @abc.abstractmethod
    def import_lock(self):
        """A context manager that holds this database's import lock, or raises ImportBusy at once
        when another import (another process, another connection) holds it."""

    def tune_for_import(self) -> None:
        """Settings that speed a bulk load up without risking the database."""

    def _begin_read(self) -> None:
        """Open a read transaction whose queries all see one committed state."""
        self.execute("BEGIN")

    @contextlib.contextmanager
    def reading(self):
        """One read transaction around the queries of the block (a lookup's three, a search's).

        An import swaps its release in with one transaction; the queries of one
        block see the release before it or the one after, never parts of both.
        Inside a transaction already open on this connection, the block joins it."""
        with self.lock:
            if self._in_transaction:
                yield
                return
            self._begin_read()
            self._in_transaction = True
            try:
                yield
            except BaseException:
                self._in_transaction = False
                with contextlib.suppress(Exception):
                    self.execute("ROLLBACK")
                raise
            self._in_transaction = False
            self.execute("COMMIT")

    # --- plumbing ---------------------------------------------------------------------------------
    def _sql(self, sql: str) -> str:
        return sql if self.placeholder == "?" else sql.replace("?", self.placeholder)

    def execute(self, sql: str, params: Sequence[Any] = ()):
        return self._conn.execute(self._sql(sql), params)

    def fetchone(self, sql: str, params: Sequence[Any] = ()):
        with self.lock:
            return self.execute(sql, params).fetchone()

    def fetchall(self, sql: str, params: Sequence[Any] = ()):
        with self.lock:
            return self.execute(sql, params).fetchall()

    def begin(self) -> None:
        self.execute("BEGIN")
        self._in_transaction = True

    def commit(self) -> None:
        self.execute("COMMIT")
        self._in_transaction = False

    def rollback(self) -> None:
        """Undo the open transaction, if there is one (an interrupt may come between two)."""
        if self._in_transaction:
            self._in_transaction = False
            self.execute("ROLLBACK")

    def transaction(self, statements: Iterable[tuple[str, Sequence[Any]]]) -> None:
        with self.lock:
            self.begin()
            try:
                for sql, params in statements:
                    self.execute(sql, params)
            except BaseException:
                self.rollback()
                raise
            self.commit()

    def close(self) -> None:
        with self.lock:
            self._conn.close()

    def _ensure_tables(self) -> None:
        statements = [(sql, ()) for sql in schema.bookkeeping(self.dialect)]
        if self._table_exists("import_files"):  # made by an older version: add what it lacks
            have = self.columns("import_files")
            statements += [(f"ALTER TABLE import_files ADD COLUMN {column} {sql_type}", ())
                           for column, sql_type in schema.import_file_columns(self.dialect) if column not in have]
        for kind in KINDS:
            if not self._table_exists(kind.table):
                statements.append((schema.data_table(kind, kind.table, self.dialect), ()))
                statements.extend((sql, ()) for sql in schema.index_statements(kind.table, kind.table, 0))
            else:
                statements.extend((sql, ()) for sql in
                                  schema.added_columns(kind, self.columns(kind.table), self.dialect))
        self.transaction(statements)

    def holds_complete_release(self) -> bool:
        """Whether the data tables hold a whole monthly release of the open data.

        Told by the files of the last finished import (``import_files``): every
        part of the companies, establishments and partners (``layout.is_whole_release``).
        Only then does a CNPJ missing from the tables not exist; the sample, or
        a few parts, say nothing of the companies they do not hold.
        """
        rows = self.fetchall(
            "SELECT source FROM import_files WHERE done = 1 AND run_id = "
            "(SELECT max(id) FROM import_runs WHERE finished_at IS NOT NULL)")
        return is_whole_release(source for (source,) in rows)

    # --- lookups ----------------------------------------------------------------------------------
    def own_files(self) -> set[pathlib.Path]:
        """The files this database keeps on disk (none for a server's database): an import
        from the folder that holds them does not list them as ignored inputs."""
        return set()

    def record_rows(self, cnpj: str) -> Optional[tuple[tuple, Optional[tuple], list[tuple]]]:
        """The rows of a CNPJ's record, read in one read transaction: its establishment,
        its company (None when missing) and its partners; None when the establishment is."""
        with self.reading():
            row = self.estabelecimento(cnpj)
            if row is None:
                return None
            return row, self.empresa(row[1]), self.socios(row[1])

    def estabelecimento(self, cnpj: str) -> Optional[tuple]:
        return self.fetchone(_ESTABELECIMENTO, (cnpj,))

    def empresa(self, cnpj_basico: str) -> Optional[tuple]:
        return self.fetchone(_EMPRESA, (cnpj_basico,))

    def socios(self, cnpj_basico: str) -> list[tuple]:
        return self.fetchall(_SOCIOS, (cnpj_basico,))

    def search(self, key: str, uf: Optional[str] = None) -> Optional[str]:
        """The CNPJ of the establishment whose legal or trade name best matches a name key.

        Names equal to the key come before names that only start with it; among
        those, active establishments first, legal names before trade names,
        head offices before branches, shorter names first, then by CNPJ.
        """
        if not key:
            return None
        uf_sql, uf_params = ("", ()) if not uf else (" AND e.uf = ?", (uf,))
        for exact in (True, False):
            match = "{col} = ?" if exact else "{col} >= ? AND {col} < ?"
            params = (key,) if exact else (key, key + _TOP)
            candidates = []
            for rank, (template, column) in enumerate(((_BY_LEGAL_NAME, "chave_razao"),
                                                       (_BY_TRADE_NAME, "chave_fantasia"))):
                uf_clause = uf_sql if template is _BY_LEGAL_NAME else uf_sql.replace("e.uf", "uf")
                sql = template.format(match=match.format(col=column), limit=SEARCH_CANDIDATES, uf=uf_clause)
                for cnpj, situacao, matriz, length in self.fetchall(sql, params + uf_params):
                    candidates.append((situacao != SITUACAO_ATIVA, rank, matriz != 1, length, cnpj))
            if candidates:
                return min(candidates)[-1]
        return None

    # --- web answers cache ------------------------------------------------------------------------
    def cache_get(self, key: str) -> Optional[tuple[Optional[str], float]]:
        """(answer, stored_at) kept under `key`, or None."""
        with self.lock:
            if key in self._unwritten:
                return self._unwritten[key]
        row = self.fetchone("SELECT answer, stored_at FROM web_cache WHERE cache_key = ?", (key,))
        return None if row is None else (row[0], row[1])

    def cache_put(self, key: str, answer: Optional[str], stored_at: float) -> None:
        """Keep an answer, without waiting: when another writer (an import) holds the database, the
        entry stays in memory (``cache_get`` sees it) and is written with a later put."""
        with self.lock:
            self._unwritten.pop(key, None)
            self._unwritten[key] = (answer, stored_at)
            while len(self._unwritten) > UNWRITTEN_CACHE_MAX:
                del self._unwritten[next(iter(self._unwritten))]
            if self._in_transaction:  # an import's transaction on this connection: later
                return
            entries = list(self._unwritten.items())
            try:
                with self._not_waiting():
                    self.transaction([(_CACHE_PUT, (k, a, t)) for k, (a, t) in entries])
            except Exception as error:
                if not self._busy(error):
                    raise
                return
            for k, entry in entries:
                if self._unwritten.get(k) == entry:
                    del self._unwritten[k]

    @contextlib.contextmanager
    def _not_waiting(self):
        """Writes in the block fail at once, rather than wait, when another writer holds the database."""
        yield

    def _busy(self, error: BaseException) -> bool:
        """Whether `error` says another writer holds the database."""
        return False

    def cache_purge(self, older_than: float) -> None:
        self.transaction([("DELETE FROM web_cache WHERE stored_at < ?", (older_than,))])
