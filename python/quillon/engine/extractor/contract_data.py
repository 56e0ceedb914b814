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


def contract_value(flat: str) -> Optional[str]:
    for m in re.finditer(r"valor\s+(?:global|total|mensal|anual|estimado|do\s+contrato|contratual)?", flat, re.I):
        v = _VALUE.search(flat, m.end(), m.end() + 200)
        if v:
            return clean_value(v.group(0))
    v = _VALUE.search(flat)
    return clean_value(v.group(0)) if v else None


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


def contract_date(flat: str) -> Optional[str]:
    """The date the contract was signed: the last "Place, day of month of year"
    of the closing part, else the last electronic signature date."""
    closing = int(len(flat) * 0.6)
    found = None
    for m in _LONG_DATE.finditer(flat, closing):
        if _PLACE_BEFORE.search(flat[max(0, m.start() - 60) : m.start()]):
            found = m.group(1)
    if found:
        return clean_value(found)
    m = re.findall(r"assinad[oa]\s+(?:digitalmente|eletronicamente)[^.]{0,120}?em\s+(\d{2}/\d{2}/\d{4})", flat, re.I)
    if m:
        return m[-1]
    return None


def contract_data(lines: list[str], flat: str) -> dict:
    return {
        "tipo_contrato": contract_kind(lines),
        "objeto": contract_object(flat),
        "data": contract_date(flat),
        "vigencia": contract_term(flat),
        "valor": contract_value(flat),
        "foro": contract_forum(flat),
    }
