"""Registry records from the database, in the shape of the online lookup.

The record has the thirteen keys of the online lookup, in its order, with the
nested address (seven keys) and the partner list (six keys per partner, then
``cnpj_cpf_do_socio``: the partner's CPF masked to its six middle digits, or
CNPJ, as the file publishes it; it corroborates a signatory's CPF). The
open data is what BrasilAPI serves, so the values follow BrasilAPI's answers
for the same company:

- ``situacao``: the status name ("ATIVA", "BAIXADA"...); ``porte``: the size
  name ("DEMAIS", "MICRO EMPRESA"...);
- ``natureza_juridica``, ``endereco.cidade`` and the partners' qualifications:
  the descriptions of the code tables (the code itself, as text, when the
  table does not have it);
- dates as "AAAA-MM-DD", None when the file has no date ("", "0");
- ``capital_social`` a number ("200000000,00" gives 200000000, "1234,56"
  gives 1234.56); ``email`` None when empty;
- ``logradouro`` the street name without its type ("AVENIDA"), as BrasilAPI
  writes it;
- every other field as the file writes it, "" when empty.

``fonte`` says the record came from this database.
"""

from __future__ import annotations

from typing import Any, Optional

from quillon.registry.layout import PORTES, SITUACOES
from quillon.registry.opendata import name_key
from quillon.registry.store import RegistryStore

FONTE = "Receita Federal (dados abertos)"


def _described(code: Optional[int], description: Optional[str]) -> str:
    if description is not None:
        return description
    return "" if code is None else str(code)


def capital(text: Optional[str]) -> int | float:
    """The share capital as a number, by the rule of the online lookups (the ``cnpj``
    module's ``_capital_social``): "200000000,00" -> 200000000, "1234,56" -> 1234.56;
    0 when empty or not a number."""
    if not text:
        return 0
    from quillon.contract.countries.br.cnpj import _capital_social

    try:
        value = _capital_social(text)
    except ValueError:
        return 0
    return int(value) if value.is_integer() else value


def _formatted(cnpj: str) -> str:
    from quillon.contract.countries.br.cnpj import formatar_cnpj

    return formatar_cnpj(cnpj)


def ascii_cnpj(clean: str) -> str:
    """A clean CNPJ as the files and the web services write it: digits of any script
    (full-width "１１２２...", Arabic-Indic...) as ASCII digits."""
    from quillon.contract.countries.br.cnpj import _cnpj_ascii

    return _cnpj_ascii(clean)


def lookup(store: RegistryStore, cnpj: str) -> Optional[dict[str, Any]]:
    """The registry record of a clean CNPJ, or None when the database does not have it.

    Its three parts (establishment, company, partners) are read in one read
    transaction: an import that swaps releases meanwhile is seen whole or not at all."""
    rows = store.record_rows(ascii_cnpj(cnpj))
    return None if rows is None else _record(*rows)


def _record(row: tuple, empresa: Optional[tuple], socios: list[tuple]) -> dict[str, Any]:
    (cnpj, basico, fantasia, situacao, data_situacao, data_abertura, logradouro, numero, complemento, bairro,
     cep, uf, cidade, municipio, email) = row
    empresa = empresa or ("", None, None, None, None)
    razao, natureza, natureza_text, capital_text, porte = empresa
    return {
        "fonte": FONTE,
        "cnpj": _formatted(cnpj),
        "razao_social": razao,
        "nome_fantasia": fantasia,
        "situacao": SITUACOES.get(situacao, _described(situacao, None)),
        "data_situacao": data_situacao,
        "data_abertura": data_abertura,
        "natureza_juridica": _described(natureza, natureza_text),
        "porte": PORTES.get(porte, _described(porte, None)),
        "capital_social": capital(capital_text),
        "endereco": {
            "logradouro": logradouro,
            "numero": numero,
            "complemento": complemento,
            "bairro": bairro,
            "cidade": _described(municipio, cidade),
            "uf": uf,
            "cep": cep,
        },
        "email": email or None,
        "socios": [
            {
                "nome": nome,
                "qualificacao": _described(qual, qual_text),
                "data_entrada": data_entrada,
                "cpf_representante": cpf_rep,
                "nome_representante": nome_rep,
                "qualificacao_representante": _described(qual_rep, qual_rep_text),
                "cnpj_cpf_do_socio": documento or "",
            }
            for nome, qual, qual_text, data_entrada, cpf_rep, nome_rep, qual_rep, qual_rep_text, documento
            in socios
        ],
    }


def search(store: RegistryStore, nome: str, uf: Optional[str] = None) -> Optional[dict[str, Any]]:
    """The record of the company whose legal or trade name best matches `nome`, or None.

    Names are compared by their key (accents, case, punctuation and spacing
    aside); a name equal to the key wins over one that only starts with it, and
    active companies come first. Names of fewer than three characters are not
    searched. The record carries ``busca_por_nome`` and ``termo_busca`` after
    its thirteen keys, as a record found by name on the web does.
    """
    if len(nome) < 3:
        return None
    with store.reading():  # the match and its record from one release
        cnpj = store.search(name_key(nome), uf.strip().upper() if uf and uf.strip() else None)
        if cnpj is None:
            return None
        rows = store.record_rows(cnpj)
        record = None if rows is None else _record(*rows)
    if record is not None:
        record["busca_por_nome"] = True
        record["termo_busca"] = nome
    return record
