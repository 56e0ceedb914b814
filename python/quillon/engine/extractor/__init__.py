"""The rule-based extractor of the local provider: Portuguese contract text in,
the answers to the three contract questions out, with no model and no network.

    extract(texto) -> {"empresas": {...}, "assinaturas": {...}, "dados_contrato": {...}}

Each answer has the shape of its response model (``ExtracaoEmpresas``,
``ExtracaoAssinaturas``, ``ExtracaoDadosContrato``):

- companies: every valid CNPJ (pattern and check digits), with the name written
  before it in its qualification clause, its role ("doravante denominada
  CONTRATANTE", or a "CONTRATADA:" label), its address ("com sede na ...") and
  trade name;
- signatories: the representatives of each company ("neste ato representada
  por seu Diretor, Sr. ..."), the people under the signature lines of the
  closing part, electronic signature stamps and the witnesses;
- contract data: kind (title), object, signing date, term, value ("R$ ...")
  and jurisdiction ("foro da Comarca de ...").
"""

from __future__ import annotations

import re
from typing import Any, Callable, Optional

from quillon.engine.extractor._text import flatten, fold, lines_of, same_signatory
from quillon.engine.extractor.contract_data import contract_data
from quillon.engine.extractor.layout import closing_range
from quillon.engine.extractor.parties import Party, extract_parties
from quillon.engine.extractor.signatures import Signature, digital_signatures, signature_blocks

__all__ = ["extract", "extract_companies", "extract_signatures", "extract_contract_data"]


def _cnpj_functions() -> tuple[Callable[[str], bool], Callable[[str], str]]:
    from quillon.contract.countries.br.cnpj import limpar_cnpj, validar_cnpj

    return validar_cnpj, limpar_cnpj


class _Document:
    """The text in the forms the rules read it: lines, and one flat line per paragraph."""

    def __init__(self, texto: str) -> None:
        self.texto = texto
        self.lines = lines_of(texto)
        paragraphs = [flatten(p) for p in _paragraphs(texto)]
        self.flat = "\n".join(p.strip() for p in paragraphs if p.strip())
        # Lines [closing[0], closing[1]): the closing part, up to the first annex.
        self.closing = closing_range(self.lines)
        self._parties: Optional[list[Party]] = None

    def text_of(self, first: int, last: int) -> str:
        return "\n".join(self.lines[first:last])

    @property
    def parties(self) -> list[Party]:
        if self._parties is None:
            validar, limpar = _cnpj_functions()
            self._parties = extract_parties(self.flat, validar, limpar)
        return self._parties


def _paragraphs(texto: str) -> list[str]:
    return re.split(r"\n[ \t]*\n|\f", texto)


def extract_companies(texto: str, _doc: Optional[_Document] = None) -> dict[str, Any]:
    doc = _doc or _Document(texto)
    return {"empresas": [p.as_answer() for p in doc.parties]}


def _party_for(sig: Signature, parties: list[Party]) -> Optional[Party]:
    if sig.cnpj:
        from quillon.contract.countries.br.cnpj import limpar_cnpj

        clean = limpar_cnpj(sig.cnpj)
        for p in parties:
            if p.cnpj_limpo == clean:
                return p
    if sig.empresa:
        f = fold(sig.empresa)
        for p in parties:
            name = fold(p.razao_social or "")
            if name and (name in f or f in name):
                return p
    if sig.papel:
        with_role = [p for p in parties if p.papel == sig.papel]
        if len(with_role) == 1:
            return with_role[0]
    return None


# Appointments that a contract names but that do not sign for a party.
_NOT_SIGNING_CARGO = re.compile(r"^(?:fiscal|gestor|gestora|suplente|preposto|respons[aá]vel\s+pela\s+fiscaliza)", re.I)


def extract_signatures(texto: str, _doc: Optional[_Document] = None) -> dict[str, Any]:
    doc = _doc or _Document(texto)
    people: list[dict[str, Any]] = []

    def merge(entry: dict[str, Any], sig: Signature, party: Optional[Party]) -> None:
        for key, value in (("cargo", sig.cargo), ("cpf", sig.cpf)):
            if value and not entry.get(key):
                entry[key] = value
        if party and not entry.get("empresa_representada") and entry["tipo_assinatura"] != "testemunha":
            entry["empresa_representada"] = party.razao_social
            entry["cnpj_empresa"] = party.cnpj
        if sig.tipo and entry.get("tipo_assinatura") in (None, "representante"):
            entry["tipo_assinatura"] = sig.tipo

    def known(sig: Signature) -> Optional[dict[str, Any]]:
        witness = sig.tipo == "testemunha"
        for entry in people:
            if (entry["tipo_assinatura"] == "testemunha") == witness and same_signatory(entry["nome_signatario"], sig.nome):
                return entry
        if sig.tipo == "digital":  # a witness's own electronic stamp
            for entry in people:
                if entry["tipo_assinatura"] == "testemunha" and same_signatory(entry["nome_signatario"], sig.nome):
                    return entry
        return None

    def add(sig: Signature, party: Optional[Party], only_known: bool = False) -> None:
        entry = known(sig)
        if entry is not None:
            merge(entry, sig, party)
            return
        if only_known:
            return
        people.append({
            "nome_signatario": sig.nome,
            "cargo": sig.cargo,
            "cpf": sig.cpf,
            "empresa_representada": party.razao_social if party else sig.empresa,
            "cnpj_empresa": party.cnpj if party else sig.cnpj,
            "tipo_assinatura": sig.tipo or "representante",
        })

    start, end = doc.closing
    for party in doc.parties:
        for person in party.representantes:
            add(Signature(nome=person.nome, cargo=person.cargo, cpf=person.cpf, tipo=None), party)
    for sig in signature_blocks(doc.lines, doc.parties, doc.closing):
        add(sig, None if sig.tipo == "testemunha" else _party_for(sig, doc.parties))
    # Stamps of the contract sign it; stamps on the annexes after it only tell
    # more of people already known (a cargo, a stamp on a summary page).
    for sig in digital_signatures(doc.text_of(0, end)):
        add(sig, _party_for(sig, doc.parties))
    for sig in digital_signatures(doc.text_of(end, len(doc.lines))):
        add(sig, _party_for(sig, doc.parties), only_known=True)
    people = [p for p in people if not (p["cargo"] and _NOT_SIGNING_CARGO.match(p["cargo"]))]
    return {"assinaturas": people}


def extract_contract_data(texto: str, _doc: Optional[_Document] = None) -> dict[str, Any]:
    doc = _doc or _Document(texto)
    return contract_data(doc.lines, doc.flat, doc.closing)


def extract(texto: str) -> dict[str, dict[str, Any]]:
    """The answers to the companies, signatures and contract-data questions."""
    doc = _Document(texto)
    return {
        "empresas": extract_companies(texto, doc),
        "assinaturas": extract_signatures(texto, doc),
        "dados_contrato": extract_contract_data(texto, doc),
    }
