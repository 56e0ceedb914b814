"""The Brazilian country adapter: CNPJ validation and the federal company registry.

A company is looked for, in this order:

1. in the local registry database (``quillon.registry``: the Receita
   Federal's open data, imported with ``python -m quillon.registry import``),
   SQLite by default, PostgreSQL when ``QUILLON_REGISTRY_URL`` names one;
2. unless offline work was asked for (``QUILLON_OFFLINE=1``), in the web
   services, through the considerate client (``quillon.registry.online``):
   answers cached in the same database for a day, requests paced per
   service, 429 pauses honoured, a circuit breaker per service.

A database that cannot be opened (a server down, a folder where the file
cannot be made) is logged once per location and skipped: the web services
still answer.  A SQLite file that is there but cannot be read (not a
database, damaged, no permission) is an error of its own,
``quillon.exceptions.RegistryDatabaseError`` naming the file: taking it for
an empty registry would turn the verdicts of contracts that pass.

"Not found" and "could not ask" are told apart. ``lookup_company`` and
``search_companies`` return None only when a source that can know says there
is no such company: a web service's "not found" answer (BrasilAPI's 404,
ReceitaWS's "ERROR"), or the local database when it holds a complete release
of the open data (``RegistryStore.holds_complete_release``; the sample does
not).  When no source could answer (connection refused, time-out, 5xx, 429,
an open circuit breaker; offline work without a complete database) they raise
``quillon.exceptions.RegistryUnavailableError`` with the reason, and the
contract checker reports the CNPJ as pending.  An adapter of another country
that returns None keeps meaning "not in the registry".
"""

from __future__ import annotations

import logging
import os
import sqlite3
from typing import Any, Optional

from quillon.contract.countries.base import CountryAdapter
from quillon.contract.countries.br import cnpj as _cnpj
from quillon.exceptions import RegistryDatabaseError, RegistryUnavailableError

logger = logging.getLogger("quillon.contract.countries.br.adapter")
_unavailable: set[tuple[str, str]] = set()


def _unreadable(backend: str, location: str, error: BaseException) -> Optional[RegistryDatabaseError]:
    """The error to report when ``error`` says an existing SQLite file cannot be read, else None.

    A busy or locked database is a wait that ran out, not a broken file."""
    from quillon.registry.sqlite_store import is_busy

    if backend != "sqlite" or not os.path.exists(location) or is_busy(error):
        return None
    if isinstance(error, (sqlite3.DatabaseError, PermissionError, IsADirectoryError)):
        return RegistryDatabaseError(location, str(error) or type(error).__name__)
    return None


def _raise_if_unreadable(store, error: BaseException) -> None:
    """Raise RegistryDatabaseError when ``error`` of ``store`` says its file cannot be read."""
    from quillon.registry.sqlite_store import SqliteStore

    if isinstance(store, SqliteStore):
        unreadable = _unreadable("sqlite", store.location, error)
        if unreadable is not None:
            raise unreadable from error


def _registry():
    """The registry database the environment names, or None when it cannot be opened.

    RegistryDatabaseError when it is a SQLite file that is there but cannot be read."""
    from quillon import registry

    try:
        where = registry.settings.registry_location()
    except ValueError as error:
        logger.warning("Registry database not used: %s", error)
        return None
    try:
        return registry.open_registry()
    except Exception as error:
        unreadable = _unreadable(*where, error)
        if unreadable is not None:
            raise unreadable from error
        if where not in _unavailable:
            _unavailable.add(where)
            logger.warning("Registry database unavailable (%s): %s", where[0], error)
        return None


class BrazilAdapter(CountryAdapter):
    """Companies identified by CNPJ, looked up in the Receita Federal registry."""

    country_code = "BR"

    def __init__(self, client=None):
        #: The web client; None: the process's shared one (one pace per service for everyone).
        self.client = client

    def _online(self):
        if self.client is None:
            from quillon.registry.online import default_client

            return default_client()
        return self.client

    def validate_company_id(self, company_id: str) -> bool:
        """Whether ``company_id`` is a valid CNPJ, formatted or not (``validar_cnpj``)."""
        return _cnpj.validar_cnpj(company_id)

    def lookup_company(self, company_id: str) -> Optional[dict[str, Any]]:
        """The registry record of the CNPJ: local database, then the web services.

        None when a source that can know says there is no such company;
        ``RegistryUnavailableError`` when no source could answer (see the module's notes).
        """
        if not isinstance(company_id, str) or not _cnpj.validar_cnpj(company_id):
            return None
        from quillon.registry import records, settings

        clean = _cnpj.limpar_cnpj(company_id)
        store = _registry()
        local = _Local(store)
        if store is not None:
            try:
                record = records.lookup(store, clean)
            except Exception as error:
                _raise_if_unreadable(store, error)
                logger.exception("Registry database lookup failed for %s", clean)
                local.failed(error)
                record = None
            if record is not None:
                return record
        if not settings.offline():
            answer = self._consult(lambda client: client.consult(clean, store),
                                   lambda client: client.lookup(clean, store))
            if answer.unavailable is None:
                return answer.record
            return local.settle(answer.unavailable)
        return local.settle(None)

    def search_companies(self, name: str, uf: Optional[str] = None) -> Optional[dict[str, Any]]:
        """The registry record of the company best matching ``name`` (optionally in the state ``uf``):
        local database first (active companies first), then Casa dos Dados.

        None when no source finds it; ``RegistryUnavailableError`` when no source
        could answer (see the module's notes).
        """
        if not isinstance(name, str) or len(name) < 3:
            return None
        from quillon.registry import records, settings

        store = _registry()
        local = _Local(store)
        if store is not None:
            try:
                record = records.search(store, name, uf)
            except Exception as error:
                _raise_if_unreadable(store, error)
                logger.exception("Registry database search failed for %r", name)
                local.failed(error)
                record = None
            if record is not None:
                return record
        if not settings.offline():
            answer = self._consult(lambda client: client.consult_search(name, uf, store),
                                   lambda client: client.search(name, uf, store))
            if answer.unavailable is None:
                return answer.record
            return local.settle(answer.unavailable)
        return local.settle(None)

    def _consult(self, consult, plain):
        """What the web client came to; a client without ``consult`` (one a caller gave) answers plainly."""
        from quillon.registry.online import Consultation

        client = self._online()
        if hasattr(client, "consult") and hasattr(client, "consult_search"):
            return consult(client)
        return Consultation(plain(client))


class _Local:
    """What the local database can say of a company it does not hold."""

    def __init__(self, store):
        self.store = store
        self.error: Optional[str] = None

    def failed(self, error: BaseException) -> None:
        self.error = f"cadastro local com erro ({type(error).__name__})"

    def settle(self, web_failure: Optional[str]) -> None:
        """None when the database holds a whole release; else RegistryUnavailableError with why."""
        if self.store is None:
            local = "sem cadastro local"
        elif self.error is not None:
            local = self.error
        else:
            try:
                if self.store.holds_complete_release():
                    return None  # absent from a whole release: no such company
                local = "cadastro local incompleto"
            except Exception as error:
                _raise_if_unreadable(self.store, error)
                logger.warning("Registry database unreadable: %s", error)
                local = f"cadastro local com erro ({type(error).__name__})"
        raise RegistryUnavailableError(f"{web_failure if web_failure is not None else 'modo offline'}; {local}")
