"""General data of a contract: kind, object, date, term, value and jurisdiction."""

from __future__ import annotations

import re
from typing import Optional

from quillon.engine.extractor._text import clean_value, fold

_MONTHS = r"janeiro|fevereiro|março|marco|abril|maio|junho|julho|agosto|setembro|outubro|novembro|dezembro"
_TITLE_START = re.compile(
    r"^(?:termo\s+de\s+contrato|termo\s+aditivo|\d+[ºo°]?\s+termo\s+aditivo|instrumento\s+particular|"
    r"instrumento\s+de\s+contrato|contrato|acordo\s+de|distrato|convênio|convenio)\b",
    re.I,
)
_OBJECT = re.compile(
    r"(?:tem|terá)\s+(?:por|como)\s+objeto\s+|(?:o\s+)?objeto\s+(?:do\s+presente\s+(?:contrato|instrumento)|"
    r"deste\s+(?:contrato|instrumento)|do\s+contrato)\s+(?:é|será|consiste\s+(?:em|n[ao]))\s+",
    re.I,
)
_VALUE = re.compile(r"R\$\s*\d{1,3}(?:\.?\d{3})*(?:,\d{2})?(?:\s*\([^)]{3,200}\))?")
_TERM = re.compile(
    r"(?:prazo\s+(?:de\s+)?(?:vig[eê]ncia|dura[cç][aã]o)|vig[eê]ncia)\b[^.;]{0,160}?"
    r"((?:\d+|um|uma|dois|duas|tr[eê]s|doze|vinte\s+e\s+quatro|trinta|sessenta|noventa)\s*(?:\([^)]{1,40}\)\s*)?"
    r"(?:meses|m[eê]s|anos?|dias?)(?:\s+(?:corridos|[uú]teis|consecutivos))?"
    r"(?:[^.;]{0,120}?(?:assinatura|publica[cç][aã]o|in[ií]cio|ordem\s+de\s+servi[cç]o))?)",
    re.I,
)
_PERIOD = re.compile(r"vig[eê]ncia[^.;]{0,80}?\b(de\s+\d{1,2}/\d{1,2}/\d{4}\s+a\s+\d{1,2}/\d{1,2}/\d{4})", re.I)
_FORUM = re.compile(
    r"\bforo\s+(?:central\s+)?(?:da|de|do|dos)\s+(.{3,120}?)(?=\s*(?:,\s*(?:para|com|renunciando|excluindo|"
    r"por\s+mais|que|observad|estado|onde)|\s+para\s|\s+com\s+(?:exclus|ren)|\s+renunciando|\s+excluindo|[.;]|$))",
    re.I,
)
_ANY_DATE = re.compile(rf"\b(\d{{1,2}}º?\s+de\s+(?:{_MONTHS})\s+de\s+\d{{4}}|\d{{2}}/\d{{2}}/\d{{4}})\b", re.I)


def contract_kind(lines: list[str]) -> Optional[str]:
    """The kind of contract, from its title ("CONTRATO DE PRESTAÇÃO DE SERVIÇOS")."""
    best = None
    for line in lines[:60]:
        if not _TITLE_START.match(fold(line)):
            continue
        title = re.split(r"\s+(?:que\s+entre\s+si|celebrado|firmado|entre\s+(?:si|as|a|o)\b)|\s+n[º°o.]\s*\d|\s+nº|\s*[-–—]\s*n[º°]", line, maxsplit=1, flags=re.I)[0]
        title = re.sub(r"\s+(?:n[º°.o]+|número)\s*[\w./-]*$", "", title, flags=re.I)
        title = clean_value(title)
        if not title:
            continue
        if len(fold(title).split()) > 1 and not re.fullmatch(r"contrato\s+[a-z]{2,5}", fold(title)):
            return title
        best = best or title
    return best


def _sentence(text: str, start: int, limit: int = 400) -> str:
    piece = text[start : start + limit]
    m = re.search(r"(?<!\b[A-Za-z])(?<!\bn)(?<!\bnº)\.(?=\s+[A-ZÀ-Ý0-9]|\s*$)|;|\s\d+\.\d+\.?\s", piece)
    return piece[: m.start()] if m else piece


def contract_object(flat: str) -> Optional[str]:
    m = _OBJECT.search(flat)
    if m:
        return clean_value(_sentence(flat, m.end()))
    m = re.search(r"(?:cl[aá]usula\s+\w+\s*[-–—:.]?\s*)?(?:do\s+)?objeto\s*[-–—:.]?\s+(?:\d+\.\d+\.?\s+)?", flat, re.I)
    if m:
        return clean_value(_sentence(flat, m.end()))
    return None


# What names a contract's price before the amount: "valor global", "preço total".
_PRICE_LABEL = re.compile(
    r"(?:valor|pre[cç]o)\s+(?:global|total|estimado|do\s+contrato|contratual|anual|mensal)|"
    r"import[aâ]ncia\s+(?:global\s+|total\s+)?de|montante\s+(?:global\s+|total\s+)?de|totaliza",
    re.I,
)
_WRITTEN_OUT = re.compile(r"\s*\([^)]*\breai?s?\b[^)]*\)|\s*\([^)]*\bcentavos?\b[^)]*\)", re.I)


def _amount(text: str) -> float:
    digits = re.sub(r"[^\d,]", "", text).replace(",", ".")
    try:
        return float(digits)
    except ValueError:
        return 0.0


def contract_value(flat: str) -> Optional[str]:
    """The contract's price: among the amounts in reais, the one a price label
    ("valor global", "importância de") names, and that the text writes out in
    words ("R$ 34.000,00 (trinta e quatro mil reais)"); the first of the best."""
    best, best_score = None, None
    for m in _VALUE.finditer(flat):
        text = m.group(0)
        score = 0
        if _PRICE_LABEL.search(flat, max(0, m.start() - 120), m.start()):
            score += 2
        if _WRITTEN_OUT.search(text):
            score += 1
        if _amount(text.split("(")[0]) < 10:  # a fee per unit, a fine of "R$ 1,00 por dia", a cut-off figure
            score -= 3
        if best_score is None or score > best_score:
            best, best_score = text, score
    if best is None:
        return _table_total(flat)
    return clean_value(best)


_TOTAL_LABEL = re.compile(r"\b(?:valor\s+total|vl\.?\s+total|valor\s+global|total\s+geral|valor\s+previsto)\b", re.I)
_BARE_AMOUNT = re.compile(r"(?<![\d.,])(\d{1,3}(?:\.\d{3})*,\d{2})(?![\d,])")


def _table_total(flat: str) -> Optional[str]:
    """Forms and tables write the total without the currency sign, under a
    "Valor Total" column: the largest amount after the first such label."""
    label = _TOTAL_LABEL.search(flat)
    if not label:
        return None
    amounts = [m.group(1) for m in _BARE_AMOUNT.finditer(flat, label.end(), label.end() + 1500)]
    if not amounts:
        return None
    return "R$ " + max(amounts, key=_amount)


def contract_term(flat: str) -> Optional[str]:
    m = _TERM.search(flat)
    if m:
        return clean_value(m.group(1))
    m = _PERIOD.search(flat)
    return clean_value(m.group(1)) if m else None


def contract_forum(flat: str) -> Optional[str]:
    matches = list(_FORUM.finditer(flat))
    for m in matches:
        value = clean_value(m.group(1))
        if value and re.search(r"comarca|cidade|justi[cç]a|se[cç][aã]o|subse[cç][aã]o|circunscri|capital", fold(value)):
            return value
    return clean_value(matches[0].group(1)) if matches else None


_LONG_DATE = re.compile(rf"\b(\d{{1,2}}º?\s+de\s+(?:{_MONTHS})\s+de\s+\d{{4}})\b", re.I)
_PLACE_BEFORE = re.compile(r"[A-ZÀ-Ý][^\W\d_]+(?:[ '-][^\W\d_]+){0,5}(?:\s*/\s*[A-Z]{2}|\s*\([A-Z]{2}\)|\s*-\s*[A-Z]{2})?\s*,\s*(?:em\s+)?$")
_NUMERIC_DATE = re.compile(r"\b(\d{1,2}/\d{1,2}/\d{4})\b")
_STAMP_DATE = re.compile(
    r"assinad[oa]\s+(?:digitalmente|eletronicamente|de\s+forma\s+(?:digital|eletr[oô]nica)|com\s+certificado\s+digital)"
    r"[^.]{0,160}?(?:\bem|\bdata:?|\bdados:?)\s*(\d{2}/\d{2}/\d{4}|\d{4}[.-]\d{2}[.-]\d{2})",
    re.I,
)


def _stamp_dates(text: str) -> list[str]:
    """The dates of the electronic signature stamps of a text, in order, as dd/mm/yyyy."""
    out = []
    for m in _STAMP_DATE.finditer(re.sub(r"\s+", " ", text)):
        d = m.group(1)
        if re.match(r"\d{4}", d):
            y, mo, dd = re.split(r"[.-]", d)
            d = f"{dd}/{mo}/{y}"
        out.append(d)
    return out


def _sortable(date: str) -> tuple[int, int, int]:
    d, m, y = (int(x) for x in date.split("/"))
    return y, m, d


def contract_date(flat: str, closing: Optional[str] = None) -> Optional[str]:
    """The date the contract was signed.  In its closing part (``closing``, the
    text from the closing formula to the first annex): the place-and-date line
    ("São Paulo, 3 de abril de 2024", "BASTOS/SP, 27/08/2025"); when that line
    defers to the signatures ("data da última assinatura eletrônica"), or there
    is none, the latest electronic signature stamp.  Without a closing part,
    the last "Place, day of month of year" of the last part of the text."""
    from quillon.engine.extractor.layout import PLACE_DATE

    if closing is not None:
        deferred = False
        for line in closing.splitlines():
            line = line.strip()
            if not PLACE_DATE.match(fold(line)):
                continue
            m = _LONG_DATE.search(line) or _NUMERIC_DATE.search(line)
            if m:
                return clean_value(m.group(1))
            deferred = True
        stamps = _stamp_dates(closing)
        if stamps:
            return max(stamps, key=_sortable) if deferred else stamps[-1]
    closing_from = int(len(flat) * 0.6)
    found = None
    for m in _LONG_DATE.finditer(flat, closing_from):
        if _PLACE_BEFORE.search(flat[max(0, m.start() - 60) : m.start()]):
            found = m.group(1)
    if found:
        return clean_value(found)
    stamps = _stamp_dates(flat)
    return stamps[-1] if stamps else None


def contract_data(lines: list[str], flat: str, closing: Optional[tuple[int, int]] = None) -> dict:
    """The contract's data; ``closing``: the lines of its closing part, [start, end)."""
    closing_text = "\n".join(lines[closing[0] : closing[1]]) if closing else None
    return {
        "tipo_contrato": contract_kind(lines),
        "objeto": contract_object(flat),
        "data": contract_date(flat, closing_text),
        "vigencia": contract_term(flat),
        "valor": contract_value(flat),
        "foro": contract_forum(flat),
    }
