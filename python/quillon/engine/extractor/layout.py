"""Where a contract's closing part begins and where the contract itself ends.

A published contract is often a file of several documents: the contract, then
its annexes (a budget sheet, the supplier's proposal, the audit court's
"termo de ciência e notificação", declarations), each signed by people who
are not the parties' signatories (the manager, the inspector, the lawyer).
The signatories of the contract are in its closing part: from the closing
formula ("E, por estarem justas e contratadas, as partes assinam...") or, in
its absence, the place-and-date line, up to the first annex.
"""

from __future__ import annotations

import re
from functools import lru_cache

from quillon.engine.extractor._text import fold

_CLAUSE_HEADING = re.compile(r"^(?:\d+(?:\.\d+)*\s*[.)-]?\s*)?cl[aá]usula\b", re.I)
_CLOSING_FORMULA = re.compile(
    r"por\s+estarem\s+(?:assim\s+)?(?:as\s+partes\s+)?(?:justas|justos|de\s+acordo|cientes)|"
    r"firmam\s+o\s+presente|assinam\s+o\s+presente|assinam\s+este|as\s+partes\s+assinam|"
    r"e\s+por\s+(?:estarem|serem)\s+(?:assim\s+)?(?:justas|justos|acordad)|lavrado\s+o\s+presente"
)
_MONTHS = r"janeiro|fevereiro|marco|abril|maio|junho|julho|agosto|setembro|outubro|novembro|dezembro"
# "São Paulo, 3 de abril de 2024", "BASTOS/SP, 27/08/2025", "Cidade (PA), 05 de maio de 2025",
# "São Paulo, data da última assinatura eletrônica".
PLACE_DATE = re.compile(
    rf"^[^\W\d_][^\d,]{{1,60}},\s*(?:em\s+)?(?:\d{{1,2}}º?\s+de\s+(?:{_MONTHS})\s+de\s+\d{{4}}|"
    rf"\d{{1,2}}/\d{{1,2}}/\d{{4}}|(?:na\s+)?data\s+d[ao]\s+(?:ultima\s+)?assinatura)",
    re.I,
)


@lru_cache(maxsize=1)
def _other_document_titles() -> tuple[str, ...]:
    """The openings of the titles of documents that are not the contract (the
    document screen's table), folded, with "anexo"."""
    try:
        from quillon.contract.countries.br import keywords

        titles = list(getattr(keywords, "TRIAGEM_OUTROS", []))
    except ImportError:  # the compiled modules are optional for the extractor's own tests
        titles = []
    return tuple(sorted({fold(t) for t in titles if isinstance(t, str)} | {"anexo", "apendice"}))


def is_annex_heading(line: str) -> bool:
    """A line that opens another document: "ANEXO III", "PLANILHA DE ORÇAMENTO",
    "TERMO DE CIÊNCIA E DE NOTIFICAÇÃO"."""
    words = line.split()
    if not words or len(words) > 14 or len(line) > 160:
        return False
    f = fold(re.sub(r"^[^\w]+", "", line))
    for title in _other_document_titles():
        if f.startswith(title) and (len(f) == len(title) or not f[len(title)].isalpha()):
            return True
    return False


def _first_clause(lines: list[str]) -> int:
    for i, line in enumerate(lines):
        if _CLAUSE_HEADING.match(fold(line)):
            return i
    return 0


def closing_range(lines: list[str]) -> tuple[int, int]:
    """(first line of the closing part, first line after the contract)."""
    body = _first_clause(lines)
    start = None
    for i in range(body, len(lines)):
        if _CLOSING_FORMULA.search(fold(lines[i])):
            start = i
            break
    if start is None:
        for i in range(body, len(lines)):
            if PLACE_DATE.match(fold(lines[i]).strip()):
                start = i
                break
    if start is None:
        start = max(0, len(lines) - max(40, len(lines) // 4))
    end = len(lines)
    for i in range(start + 1, len(lines)):
        if is_annex_heading(lines[i]):
            end = i
            break
    return start, end
