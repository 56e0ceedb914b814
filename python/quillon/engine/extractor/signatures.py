"""Who signs a contract: signature blocks, electronic signature stamps and witnesses."""

from __future__ import annotations

import re
from dataclasses import dataclass
from typing import Optional

from quillon.engine.extractor._text import (
    clean_value,
    fold,
    is_person_name,
    starts_with_cargo,
    strip_honorific,
)
from quillon.engine.extractor.layout import PLACE_DATE, closing_range
from quillon.engine.extractor.parties import CNPJ_RE, CPF_RE, ROLE_WORDS, normalize_role

_RULE = re.compile(r"^[_\-–—.=]{6,}\s*$|^_{4,}")
_WITNESS_HEAD = re.compile(r"^testemunhas?\b", re.I)
_LABEL = re.compile(r"^(nome|cargo|cpf|rg|empresa|raz[aã]o social|cnpj|qualifica[cç][aã]o|fun[cç][aã]o)\s*:\s*(.*)$", re.I)
# "Emissor: SIDNEI BECKER DE VARGAS", "Prefeito Municipal: JOÃO DA SILVA": a signer under his role.
_ROLE_LABEL = re.compile(r"^([^\W\d_][^:\d]{2,40}?)\s*:\s*(.+)$")
_DIGITAL = re.compile(
    r"(?:documento\s+)?assinado\s+(?:digitalmente|eletronicamente|de\s+forma\s+digital)\s*(?:por|pelo|pela)?\s*:?\s*"
    r"([^,\n:]+?)(?:\s*:\s*\d{11})?(?:,\s*([^,\n]+?))?(?:,?\s+em\s+(\d{2}/\d{2}/\d{4}))?(?=[,\n]|\s+em\s|$)",
    re.I,
)
_ROLE_LINE = re.compile(rf"^(?:pel[oa]\s+|p/\s*)?(?:{ROLE_WORDS})\s*:?$", re.I)
_PARTY_LINE_HINT = re.compile(r"\b(?:ltda|s\.?/?a\.?|eireli|me|epp|associa[cç][aã]o|funda[cç][aã]o|companhia|instituto|"
                              r"prefeitura|secretaria|governo|estado|munic[ií]pio)\b", re.I)


@dataclass
class Signature:
    nome: str
    cargo: Optional[str] = None
    cpf: Optional[str] = None
    empresa: Optional[str] = None
    cnpj: Optional[str] = None
    papel: Optional[str] = None
    tipo: Optional[str] = None


def _person_from(line: str) -> Optional[tuple[str, Optional[str]]]:
    """(name, cargo) when a block line is a name, "NAME - cargo" or "NAME, cargo"."""
    line = strip_honorific(line)
    if len(line) > 90:
        return None
    m = re.match(r"^(.+?)\s*(?:[-–—|,]|\s\(|/)\s*(.+?)\)?$", line)
    if is_person_name(line.strip(" .")):
        return clean_value(line), None
    if m and is_person_name(m.group(1).strip()):
        rest = m.group(2).strip()
        return clean_value(m.group(1)), clean_value(rest) if rest else None
    return None


def signature_blocks(lines: list[str], parties, span: Optional[tuple[int, int]] = None) -> list[Signature]:
    """People under the signature lines of the contract's closing part (``span``,
    lines [start, end); by default from ``layout.closing_range``), and the witnesses."""
    found: list[Signature] = []
    start, end = span or closing_range(lines)
    # "Nome: X  CPF: Y" on one line reads as two labelled lines.
    lines = lines[:start] + [
        part for line in lines[start:end]
        for part in re.split(r"\s+(?=(?:nome|cpf|rg|cargo|empresa|cnpj)\s*:)", line, flags=re.I)
    ]
    witness = False
    witness_left = 0
    i = start
    current: Optional[Signature] = None
    pending_party = None
    while i < len(lines):
        line = re.sub(r"^\s*(?:\d+\s*[.)-]|[-–•*])\s*(?=\S)", "", lines[i])
        f = fold(line)
        if witness and (witness_left <= 0 or _is_heading(line)):
            witness = False
            current = None
        if _WITNESS_HEAD.match(f):
            witness = True
            witness_left = 12
            current = None
            rest = re.sub(r"^testemunhas?\s*:?", "", line, flags=re.I).strip()
            if rest:
                lines = lines[: i + 1] + [rest] + lines[i + 1 :]
            i += 1
            continue
        if not line or PLACE_DATE.match(f.strip()):
            i += 1
            continue
        witness_left -= 1
        if _RULE.match(line):
            current = None
            after = re.sub(r"^[_\-–—.=]+", "", line).strip()
            if after:
                lines = lines[: i + 1] + [after] + lines[i + 1 :]
            i += 1
            continue
        role = _ROLE_LINE.match(line)
        if role:
            papel = normalize_role(re.sub(r"^(?:pel[oa]\s+|p/\s*)", "", line.rstrip(":"), flags=re.I).strip())
            if current is not None and current.papel is None and not witness:
                current.papel = papel
            else:
                pending_party = ("papel", papel)
            i += 1
            continue
        label = _LABEL.match(line)
        if label:
            key, value = fold(label.group(1)), label.group(2).strip()
            if key == "nome" and value and is_person_name(strip_honorific(value).strip(" .")):
                current = Signature(nome=clean_value(strip_honorific(value)), tipo="testemunha" if witness else "manuscrita")
                if pending_party and pending_party[0] == "papel" and not witness:
                    current.papel = pending_party[1]
                pending_party = None
                found.append(current)
            elif current is not None and value:
                if key == "cargo" or key.startswith("qualifica") or key.startswith("fun"):
                    current.cargo = current.cargo or clean_value(value)
                elif key == "cpf":
                    m = re.search(r"\d{3}\.?\d{3}\.?\d{3}-?\d{2}", value)
                    current.cpf = current.cpf or (m.group(0) if m else None)
                elif key in ("empresa", "razao social"):
                    current.empresa = current.empresa or clean_value(value)
                elif key == "cnpj":
                    current.cnpj = current.cnpj or clean_value(value)
            i += 1
            continue
        role_label = None if witness else _ROLE_LABEL.match(line)
        if role_label and not _DIGITAL.search(line):
            value = strip_honorific(role_label.group(2)).strip(" .")
            if is_person_name(value) and not fold(role_label.group(1)).startswith(("testemunha", "data", "local")):
                current = Signature(nome=clean_value(value), cargo=clean_value(role_label.group(1)), tipo="manuscrita")
                if pending_party and pending_party[0] == "papel":
                    current.papel = pending_party[1]
                pending_party = None
                found.append(current)
                i += 1
                continue
        if _DIGITAL.search(line):
            i += 1
            continue
        person = _person_from(line)
        if person and (current is None or current.nome is None or witness or _RULE.match(lines[i - 1] if i else "")):
            name, cargo = person
            cpf = CPF_RE.search(cargo or "")
            if cpf:
                cargo = None
            current = Signature(nome=name, cargo=cargo, cpf=re.sub(r"\s+", "", cpf.group(1)) if cpf else None,
                                tipo="testemunha" if witness else "manuscrita")
            if pending_party and pending_party[0] == "papel" and not witness:
                current.papel = pending_party[1]
            pending_party = None
            found.append(current)
            i += 1
            continue
        if current is not None and not witness:
            cpf = CPF_RE.search(line)
            cnpj = CNPJ_RE.search(line)
            if cpf:
                current.cpf = current.cpf or re.sub(r"\s+", "", cpf.group(1))
            elif cnpj and not current.cnpj:
                current.cnpj = re.sub(r"\s+", "", cnpj.group(1))
            elif current.cargo is None and starts_with_cargo(line) and len(line) < 80:
                current.cargo = clean_value(line)
            elif current.empresa is None and (_PARTY_LINE_HINT.search(line) or _matches_party(line, parties)):
                current.empresa = clean_value(line)
            elif current.cargo is None and len(line) < 60 and not any(ch.isdigit() for ch in line):
                current.cargo = clean_value(line)
        elif current is not None and witness:
            cpf = CPF_RE.search(line)
            if cpf:
                current.cpf = current.cpf or re.sub(r"\s+", "", cpf.group(1))
        i += 1
    return found


def _is_heading(line: str) -> bool:
    """A heading that closes the signatures: an annex, a new term or section."""
    f = fold(line)
    return bool(re.match(r"^(?:anexo|termo\s+de|cl[aá]usula|ap[eê]ndice|contrato|declara[cç][aã]o)\b", f))


def _matches_party(line: str, parties) -> bool:
    f = fold(line)
    return any(p.razao_social and (fold(p.razao_social) in f or f in fold(p.razao_social)) and len(f) > 5 for p in parties)


def digital_signatures(text: str) -> list[Signature]:
    """Signers named by electronic signature stamps ("Documento assinado eletronicamente por ...")."""
    found = []
    flat = re.sub(r"\s*\n\s*", " ", text)
    for m in _DIGITAL.finditer(flat):
        name = strip_honorific(m.group(1).strip())
        name = re.sub(r":\d{6,}.*$", "", name).strip()
        if not is_person_name(name):
            continue
        cargo = clean_value(m.group(2)) if m.group(2) and not re.match(r"\s*(?:em|às|data)\b", m.group(2), re.I) else None
        if cargo and not starts_with_cargo(cargo) and len(cargo) > 60:
            cargo = None
        found.append(Signature(nome=clean_value(name), cargo=cargo, tipo="digital"))
    return found
