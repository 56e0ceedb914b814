"""The Brazilian country adapter: CNPJ validation and the federal company registry.

A company is looked for, in this order:

1. in the local registry database (``quillon.registry``: the Receita
   Federal's open data, imported with ``python -m quillon.registry import``),
   SQLite by default, PostgreSQL when ``QUILLON_REGISTRY_URL`` names one;
2. unless offline work was asked for (``QUILLON_OFFLINE=1``), in the web
   services, through the considerate client (``quillon.registry.online``):
   answers cached in the same database for a day, requests paced per
   service, 429 pauses honoured, a circuit breaker per service.

A database that cannot be opened is logged once per location and skipped: the
web services still answer.
"""

from __future__ import annotations

import logging
from typing import Any, Optional

from quillon.contract.countries.base import CountryAdapter
from quillon.contract.countries.br import cnpj as _cnpj

logger = logging.getLogger("quillon.contract.countries.br.adapter")
_unavailable: set[tuple[str, str]] = set()


def _registry():
    """The registry database the environment names, or None when it cannot be opened."""
    from quillon import registry

    try:
        where = registry.settings.registry_location()
    except ValueError as error:
        logger.warning("Registry database not used: %s", error)
        return None
    try:
        return registry.open_registry()
    except Exception as error:
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
        """The registry record of the CNPJ: local database, then the web services; None when neither has it."""
        if not isinstance(company_id, str) or not _cnpj.validar_cnpj(company_id):
            return None
        from quillon.registry import records, settings

        clean = _cnpj.limpar_cnpj(company_id)
        store = _registry()
        if store is not None:
            try:
                record = records.lookup(store, clean)
            except Exception:
                logger.exception("Registry database lookup failed for %s", clean)
                record = None
            if record is not None:
                return record
        if settings.offline():
            return None
        return self._online().lookup(clean, store)

    def search_companies(self, name: str, uf: Optional[str] = None) -> Optional[dict[str, Any]]:
        """The registry record of the company best matching ``name`` (optionally in the state ``uf``):
        local database first (active companies first), then Casa dos Dados; None when neither finds it."""
        if not isinstance(name, str) or len(name) < 3:
            return None
        from quillon.registry import records, settings

        store = _registry()
        if store is not None:
            try:
                record = records.search(store, name, uf)
            except Exception:
                logger.exception("Registry database search failed for %r", name)
                record = None
            if record is not None:
                return record
        if settings.offline():
            return None
        return self._online().search(name, uf, store)
