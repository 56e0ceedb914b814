"""Is a document a contract?  The screening verdict and the words that explain it.

The command (``quillon triagem``) and the server (``POST /api/triagem``) say
the same thing about the same document: both read it, screen it and explain
the verdict through this module.
"""

from __future__ import annotations

from typing import Any, Callable, Optional

__all__ = ["read_pages", "screen", "headline", "explanation", "NotReadable"]


class NotReadable(ValueError):
    """The document is neither a PDF nor UTF-8 text, or its PDF cannot be read."""


def read_pages(path: str, progress: Optional[Callable[[int, int], None]] = None) -> list[str]:
    """The text of each page: a PDF's pages, or a text file split at form feeds."""
    with open(path, "rb") as fh:
        head = fh.read(1024)
    if b"%PDF-" not in head:
        try:
            with open(path, encoding="utf-8") as fh:
                return fh.read().split("\f")
        except UnicodeDecodeError:
            raise NotReadable(f"{path} não é um PDF nem um texto UTF-8") from None
    from quillon import batch
    from quillon.engine.documents import read_document

    try:
        doc = read_document(path, progress=progress)
    except Exception as exc:
        raise NotReadable(batch.describe_error(exc, path)) from None
    return [p.text for p in doc.pages]


def screen(pages: list[str]) -> dict[str, Any]:
    """``triar_documento``'s verdict, with the keyword rule's view under "regra_keywords"."""
    from quillon.contract.countries.br.keywords import triar_documento

    verdict = triar_documento(pages)
    try:
        from quillon.contract.countries.br.keywords import validar_documento_contrato

        rule = validar_documento_contrato("\n".join(pages))
        verdict["regra_keywords"] = {"eh_contrato": rule[0], "quantidade": rule[1], "keywords": rule[2]}
    except ImportError:
        pass
    return verdict


def headline(verdict: dict[str, Any]) -> str:
    return "CONTRATO" if verdict["eh_contrato"] else "NÃO É CONTRATO"


def explanation(verdict: dict[str, Any]) -> str:
    """Why the verdict is what it is, in one phrase."""
    return {
        "titulo": f"título de contrato: {verdict['titulo']!r}",
        "termos": "sem título; vocabulário de contrato e partes qualificadas como num preâmbulo",
        "exclusao": (f"título de outro documento: {verdict['titulo']!r}" if verdict.get("titulo")
                     else f"termo de exclusão no cabeçalho: {verdict['exclusao']!r}"),
        "poucos_termos": "vocabulário de contrato insuficiente",
        "sem_partes": "sem título, e as partes não são nomeadas e qualificadas como num contrato",
        "vazio": "documento sem texto",
    }.get(verdict["motivo"], verdict["motivo"])
