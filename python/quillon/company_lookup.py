"""One CNPJ looked up in the registry, with the failure said in words: for the command and the server."""

from __future__ import annotations

from typing import Any

__all__ = ["consult", "LookupFailed", "INVALID", "NOT_FOUND", "UNAVAILABLE"]

INVALID, NOT_FOUND, UNAVAILABLE = "invalido", "nao_encontrado", "indisponivel"


class LookupFailed(Exception):
    """``kind`` is INVALID, NOT_FOUND or UNAVAILABLE; the text says it to the user."""

    def __init__(self, kind: str, message: str) -> None:
        super().__init__(message)
        self.kind = kind


def consult(value: str, adapter: Any = None) -> dict[str, Any]:
    """The registry record of the CNPJ ``value`` (the adapter's ``lookup_company``)."""
    from quillon.contract.countries.br.cnpj import formatar_cnpj, validar_cnpj
    from quillon.exceptions import RegistryUnavailableError

    if not validar_cnpj(value):
        raise LookupFailed(INVALID, f"CNPJ inválido: {value}")
    if adapter is None:
        from quillon.contract.countries.registry import get_adapter

        adapter = get_adapter("BR")
    try:
        record = adapter.lookup_company(value)
    except RegistryUnavailableError as exc:
        raise LookupFailed(UNAVAILABLE, f"CNPJ {formatar_cnpj(value)}: Receita Federal não consultada: "
                                        f"{exc.reason}") from None
    if not record:
        raise LookupFailed(NOT_FOUND, f"CNPJ {formatar_cnpj(value)} não encontrado no cadastro")
    return record
