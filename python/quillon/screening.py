"""Is a document a contract?  The screening verdict and the words that explain it.

The command (``quillon triagem``) and the server (``POST /api/triagem``) say
the same thing about the same document: both read it, screen it and explain
the verdict through this module.
"""

from __future__ import annotations

from typing import Any, Callable, Optional

__all__ = ["read_pages", "screen", "headline", "explanation", "NotReadable", "Pages"]


class NotReadable(ValueError):
    """The document is neither a PDF nor UTF-8 text, or its PDF cannot be read."""


class Pages(list):
    """The page texts read, in order (a list of str), and the document's page count:
    a scanned document is read only until its screen is settled."""

    def __init__(self, texts: list[str], count: int):
        super().__init__(texts)
        self.count = count


def read_pages(path: str, progress: Optional[Callable[[int, int], None]] = None) -> Pages:
    """The text of each page: a PDF's pages, or a text file split at form feeds.

    A PDF's scanned pages are read in order until the screen is settled (the
    pages after would not change whether it is a contract): a scanned contract
    with its title on the first page is screened from that page."""
    with open(path, "rb") as fh:
        head = fh.read(1024)
    if b"%PDF-" not in head:
        try:
            with open(path, encoding="utf-8") as fh:
                texts = fh.read().split("\f")
                return Pages(texts, len(texts))
        except UnicodeDecodeError:
            raise NotReadable(f"{path} não é um PDF nem um texto UTF-8") from None
    from quillon import batch
    from quillon.contract.countries.br.keywords import triar_documento
    from quillon.engine.documents import read_document

    try:
        doc = read_document(path, progress=progress, enough=lambda texts: triar_documento(texts)["definitivo"])
    except Exception as exc:
        raise NotReadable(batch.describe_error(exc, path)) from None
    return Pages([p.text for p in doc.pages], doc.page_count)


def screen(pages: list[str]) -> dict[str, Any]:
    """``triar_documento``'s verdict, with the keyword rule's view under "regra_keywords"
    and, for pages from ``read_pages``, how many were read of how many ("paginas_lidas",
    "paginas"); both screens see the pages read."""
    from quillon.contract.countries.br.keywords import triar_documento

    verdict = triar_documento(list(pages))
    try:
        from quillon.contract.countries.br.keywords import validar_documento_contrato

        rule = validar_documento_contrato("\n".join(pages))
        verdict["regra_keywords"] = {"eh_contrato": rule[0], "quantidade": rule[1], "keywords": rule[2]}
    except ImportError:
        pass
    count = getattr(pages, "count", len(pages))
    verdict.update(paginas=count, paginas_lidas=len(pages))
    return verdict


def headline(verdict: dict[str, Any]) -> str:
    return "CONTRATO" if verdict["eh_contrato"] else "NÃO É CONTRATO"


def explanation(verdict: dict[str, Any]) -> str:
    """Why the verdict is what it is, in one phrase."""
    why = {
        "titulo": f"título de contrato: {verdict['titulo']!r}",
        "termos": "sem título; vocabulário de contrato e partes qualificadas como num preâmbulo",
        "exclusao": (f"título de outro documento: {verdict['titulo']!r}" if verdict.get("titulo")
                     else f"termo de exclusão no cabeçalho: {verdict['exclusao']!r}"),
        "poucos_termos": "vocabulário de contrato insuficiente",
        "sem_partes": "sem título, e as partes não são nomeadas e qualificadas como num contrato",
        "vazio": "documento sem texto",
    }.get(verdict["motivo"], verdict["motivo"])
    if verdict.get("paginas_lidas", 0) < verdict.get("paginas", 0):
        why += f" (lidas {verdict['paginas_lidas']} de {verdict['paginas']} páginas)"
    return why
