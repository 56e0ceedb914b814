"""The local copy of the federal company registry (Receita Federal open data).

The Brazilian country adapter asks this database before the web services:

- ``open_registry()``: the registry database named by the environment
  (``settings``), SQLite by default, PostgreSQL when ``QUILLON_REGISTRY_URL``
  names one; opened once per location and shared;
- ``lookup(store, cnpj)`` and ``search(store, name, uf)`` (``records``):
  registry records with the thirteen keys of the online lookup;
- ``quillon registry import DIR``: the importer of the published
  files (``importer``);
- ``quillon registry sample``: a small database built from the
  sample files shipped with the package (``sample``).

Importing this package loads neither a database driver nor the importer.
"""

from __future__ import annotations

import os
import threading

from quillon.registry import settings
from quillon.registry.store import RegistryStore

_stores: dict[tuple[str, str], RegistryStore] = {}
_stores_lock = threading.Lock()


def open_store(backend: str, location: str) -> RegistryStore:
    """A new connection to a registry database ("sqlite" file path or "postgresql" URL)."""
    if backend == "postgresql":
        from quillon.registry.postgres_store import PostgresStore

        return PostgresStore(location)
    from quillon.registry.sqlite_store import SqliteStore

    return SqliteStore(location)


def open_registry() -> RegistryStore:
    """The registry database the environment names, opened on first use and then shared."""
    where = settings.registry_location()
    with _stores_lock:
        store = _stores.get(where)
        if store is None:
            store = _stores[where] = open_store(*where)
        return store


def close_all() -> None:
    """Close every shared connection (the next open_registry reconnects)."""
    with _stores_lock:
        for store in _stores.values():
            store.close()
        _stores.clear()


def _forget_inherited() -> None:
    # A forked worker must not use its parent's connections (neither SQLite nor
    # psycopg allows it), nor wait on a lock another thread of the parent held.
    global _stores_lock
    _stores.clear()
    _stores_lock = threading.Lock()


os.register_at_fork(after_in_child=_forget_inherited)

__all__ = ["open_registry", "open_store", "close_all", "settings"]
