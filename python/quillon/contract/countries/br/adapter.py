"""The Brazilian country adapter: CNPJ validation and the federal company registry.

Every call goes through the ``cnpj`` module's attributes at call time, so a
patched ``consultar_cnpj`` (in tests, or a host that adds a cache) is the one
used.
"""

from __future__ import annotations

from typing import Any, Optional

from quillon.contract.countries.base import CountryAdapter
from quillon.contract.countries.br import cnpj as _cnpj


class BrazilAdapter(CountryAdapter):
    """Companies identified by CNPJ, looked up in the Receita Federal registry."""

    country_code = "BR"

    def validate_company_id(self, company_id: str) -> bool:
        """Whether ``company_id`` is a valid CNPJ, formatted or not (``validar_cnpj``)."""
        return _cnpj.validar_cnpj(company_id)

    def lookup_company(self, company_id: str) -> Optional[dict[str, Any]]:
        """The registry record of the CNPJ (BrasilAPI, then ReceitaWS), or None (``consultar_cnpj``)."""
        return _cnpj.consultar_cnpj(company_id)

    def search_companies(self, name: str, uf: Optional[str] = None) -> Optional[dict[str, Any]]:
        """The registry record of the first active company matching ``name`` in Casa dos Dados,
        optionally in the state ``uf``, or None (``buscar_cnpj_por_nome``)."""
        return _cnpj.buscar_cnpj_por_nome(name, uf)
