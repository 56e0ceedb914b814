"""The country adapter: what contract verification asks of a country's registry.

The contract checker knows nothing about CNPJs or Brazilian web services. It
asks the adapter of the contract's country (``registry.get_adapter``) to check
a company identifier, to fetch the registry record of a company and to find a
company by its legal name; the records have the shape of the Brazilian
registry record (``razao_social``, ``situacao``, ``endereco``, ``socios``...).
"""

from __future__ import annotations

import abc
from typing import Any, Optional


class CountryAdapter(abc.ABC):
    """A country's company identifiers and company registry."""

    #: ISO 3166-1 alpha-2 code of the country served ("BR").
    country_code: str = ""

    @abc.abstractmethod
    def validate_company_id(self, company_id: str) -> bool:
        """Whether ``company_id`` is a well-formed identifier with correct check digits."""

    @abc.abstractmethod
    def lookup_company(self, company_id: str) -> Optional[dict[str, Any]]:
        """The registry record of the company, or None when the registry has none.

        An adapter that can tell "no such company" from "the registry could not
        be consulted" raises ``quillon.exceptions.RegistryUnavailableError`` for
        the second: the checker then leaves the company pending instead of
        rejecting it.
        """

    @abc.abstractmethod
    def search_companies(self, name: str) -> Optional[dict[str, Any]]:
        """The registry record of the company best matching ``name``, or None
        (``RegistryUnavailableError`` as for ``lookup_company``)."""

    def __repr__(self) -> str:
        return f"{type(self).__name__}(country_code={self.country_code!r})"
