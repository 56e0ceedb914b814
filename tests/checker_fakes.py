"""Stand-ins for the extraction engine and the country adapter (the checker
takes any objects with their interface), plus registry records."""

from __future__ import annotations

import types
from typing import Any, Dict, List, Optional


def socio(nome, qualificacao="49-Sócio-Administrador", representante="", qual_rep=""):
    return {
        "nome": nome,
        "qualificacao": qualificacao,
        "data_entrada": "",
        "cpf_representante": "",
        "nome_representante": representante,
        "qualificacao_representante": qual_rep,
    }


def registro(cnpj, razao, situacao="ATIVA", socios=(), **endereco):
    return {
        "fonte": "BrasilAPI",
        "cnpj": cnpj,
        "razao_social": razao,
        "nome_fantasia": "",
        "situacao": situacao,
        "data_situacao": "",
        "data_abertura": "",
        "natureza_juridica": "",
        "porte": "",
        "capital_social": 0,
        "endereco": {k: endereco.get(k, "") for k in ("logradouro", "numero", "complemento", "bairro", "cidade", "uf", "cep")},
        "email": "",
        "socios": list(socios),
    }


class FakeAdapter:
    """Registry by clean CNPJ and by exact legal name; records every call."""

    def __init__(self, by_cnpj: Dict[str, dict] = None, by_name: Dict[str, dict] = None):
        self.by_cnpj = by_cnpj or {}
        self.by_name = by_name or {}
        self.calls: List[tuple] = []

    def validate_company_id(self, cnpj):
        self.calls.append(("validate_company_id", cnpj))
        return len(cnpj) == 14 and cnpj.isdigit()

    def lookup_company(self, cnpj):
        self.calls.append(("lookup_company", cnpj))
        return self.by_cnpj.get(cnpj)

    def search_companies(self, name):
        self.calls.append(("search_companies", name))
        return self.by_name.get(name)


class Answer:
    def __init__(self, raw):
        self.raw_result = raw


class Result:
    def __init__(self, answers: Dict[str, Any], tokens=1234567, cost=0.01234, seconds=12.345):
        self.answers = answers
        self.total_metrics = types.SimpleNamespace(tokens=tokens, cost_usd=cost, time_seconds=seconds)

    def get_result(self, qid):
        return self.answers.get(qid)


class FakeEngine:
    """Records its construction and questions; answers with a canned result."""

    instances: List["FakeEngine"] = []
    result: Optional[Result] = None

    def __init__(self, **kwargs):
        self.kwargs = kwargs
        self.questions = []
        self.processed = []
        FakeEngine.instances.append(self)

    def add_question(self, question):
        self.questions.append(question)

    def process(self, path):
        self.processed.append(path)
        return FakeEngine.result


class Record:
    """Question and QuestionConfig: keep their keyword arguments."""

    def __init__(self, **kwargs):
        self.__dict__.update(kwargs)
