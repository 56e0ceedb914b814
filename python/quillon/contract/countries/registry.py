"""Country adapters by country code.

Adapters are imported when first asked for, so that importing the registry
(the contract checker does it at load) loads no country's modules.
"""

from __future__ import annotations

import importlib

from quillon.contract.countries.base import CountryAdapter

# country code -> (module, class) of its adapter
_ADAPTERS: dict[str, tuple[str, str]] = {
    "BR": ("quillon.contract.countries.br.adapter", "BrazilAdapter"),
}

#: Countries served, as accepted by get_adapter.
SUPPORTED_COUNTRIES: tuple[str, ...] = tuple(_ADAPTERS)


def get_adapter(country: str) -> CountryAdapter:
    """A new adapter for ``country`` (a two-letter code such as "BR", any case).

    Raises ValueError naming the country when it is not served, TypeError when
    ``country`` is not a str.
    """
    if not isinstance(country, str):
        raise TypeError(f"get_adapter() argument 'country' must be str, not {type(country).__name__}")
    try:
        module_name, class_name = _ADAPTERS[country.strip().upper()]
    except KeyError:
        served = ", ".join(SUPPORTED_COUNTRIES)
        raise ValueError(f"País não suportado: {country!r} (países suportados: {served})") from None
    adapter_class = getattr(importlib.import_module(module_name), class_name)
    return adapter_class()
