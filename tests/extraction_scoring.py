"""Field-by-field comparison of an extraction with the truth the samples were written from."""

from __future__ import annotations

import json
import pathlib
import re
import unicodedata

EXAMPLES = pathlib.Path(__file__).resolve().parent.parent / "examples"
COMPANY_FIELDS = ("cnpj", "razao_social", "endereco", "papel_no_contrato")
SIGNER_FIELDS = ("nome_signatario", "cargo", "empresa_representada", "cnpj_empresa", "tipo_assinatura")
CONTRACT_FIELDS = ("tipo_contrato", "objeto", "data", "vigencia", "valor", "foro")


def norm(value) -> str:
    if value is None:
        return ""
    text = unicodedata.normalize("NFD", str(value))
    text = "".join(c for c in text if unicodedata.category(c) != "Mn").lower()
    return " ".join(re.sub(r"[^\w/$,]+", " ", text).split()).strip(" ,")


def expected() -> dict:
    return json.loads((EXAMPLES / "expected.json").read_text(encoding="utf-8"))


def field_results(truth: dict, answer: dict):
    """(group, field, expected, got, equal) for every field of the truth."""
    out = []
    got_companies = {norm(e.get("cnpj")): e for e in answer["empresas"]["empresas"]}
    for company in truth["empresas"]:
        got = got_companies.get(norm(company["cnpj"]), {})
        for f in COMPANY_FIELDS:
            out.append(("empresas", f, company[f], got.get(f), norm(company[f]) == norm(got.get(f))))
    signers = answer["assinaturas"]["assinaturas"]
    for signer in truth["assinaturas"]:
        got = next((s for s in signers if norm(s.get("nome_signatario")) == norm(signer["nome_signatario"])), {})
        for f in SIGNER_FIELDS:
            out.append(("assinaturas", f, signer[f], got.get(f), norm(signer[f]) == norm(got.get(f))))
    data = answer["dados_contrato"]
    for f in CONTRACT_FIELDS:
        out.append(("dados_contrato", f, truth["dados_contrato"][f], data.get(f),
                    norm(truth["dados_contrato"][f]) == norm(data.get(f))))
    return out
