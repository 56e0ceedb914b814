"""The checker with the real Brazilian adapter, against loopback registry servers
answering with published BrasilAPI answers."""

import json

import pytest

import quillon
from quillon.contract import checker as ck
from quillon.contract.countries.registry import get_adapter

from checker_fakes import Answer, FakeEngine, Record, Result
from registry_servers import net, published, registry_server_pool  # noqa: F401  (fixtures)


@pytest.fixture(autouse=True)
def engine(monkeypatch):
    monkeypatch.delenv("OPENAI_API_KEY", raising=False)
    monkeypatch.setattr(quillon, "Quillon", FakeEngine, raising=False)
    monkeypatch.setattr(quillon, "Question", Record, raising=False)
    monkeypatch.setattr(quillon, "QuestionConfig", Record, raising=False)
    monkeypatch.setattr(ck, "get_adapter", get_adapter)


def test_contract_verified_against_the_registry(net, tmp_path):
    net.answer("brasilapi", "06990590000123", published("brasilapi/brasilapi_active_google_qsa_representante_legal.json"))
    net.answer("casadosdados", body={"data": {"count": 1, "cnpj": [{"cnpj": "19131243000197"}]}})
    net.answer("brasilapi", "19131243000197", published("brasilapi/brasilapi_active_okbr_qsa_presidente.json"))
    FakeEngine.result = Result({
        "empresas": Answer({"empresas": [
            {"cnpj": "06.990.590/0001-23", "razao_social": "Google Brasil Internet Ltda",
             "endereco": "Av. Brigadeiro Faria Lima, 3477, Andar 17A20, Itaim Bibi, São Paulo - SP, 04538-133",
             "papel_no_contrato": "contratada"},
            {"razao_social": "Open Knowledge Brasil", "papel_no_contrato": "contratante"},
        ]}),
        "assinaturas": Answer({"assinaturas": [
            {"nome_signatario": "Yun Ki Lee", "cnpj_empresa": "06.990.590/0001-23"},
            {"nome_signatario": "Haydée Svab", "empresa_representada": "Open Knowledge Brasil"},
            {"nome_signatario": "Fulano Beltrano", "cnpj_empresa": "06990590000123"},
        ]}),
        "dados_contrato": Answer({"objeto": "Licença de software"}),
    })
    contrato = tmp_path / "contrato.pdf"
    contrato.write_bytes(b"%PDF-1.4\n")

    result = ck.verificar_contrato(contrato, "BR", openai_api_key="sk-test", verbose=False)

    google, okbr = result["empresas"]
    assert (google["razao_social_receita"], google["empresa_ativa"], google["razao_social_confere"]) == (
        "GOOGLE BRASIL INTERNET LTDA.", True, True)
    assert google["campos"][3]["campo"] == "Endereço"
    assert google["campos"][3]["valor_receita"] == "BRIG FARIA LIMA 3477 ANDAR 17A20 TSUL 2 17A20 ITAIM BIBI SAO PAULO SP 04538133"
    assert (okbr["cnpj"], okbr["cnpj_buscado_por_nome"]) == ("19.131.243/0001-97", True)
    assert [s["nome"] for s in okbr["socios"]] == ["HAYDEE SVAB"]

    yun, haydee, fulano = result["assinaturas"]
    assert (yun["tem_poder_assinatura"], yun["qualificacao_qsa"]) == (True, "Procurador")
    assert (haydee["tem_poder_assinatura"], haydee["qualificacao_qsa"]) == (True, "Presidente")
    assert fulano["campos"][0]["valor_receita"] == (
        "QSA: GOOGLE INTERNATIONAL LLC, GOOGLE LLC, FABIO JOSE SILVA COELHO...")
    assert (result["resultado_final"], result["justificativa"]) == ("REPROVADO", "1 campo(s) reprovado(s)")
    assert json.loads(net.requests("casadosdados")[0].data)["query"]["termo"] == ["Open Knowledge Brasil"]
