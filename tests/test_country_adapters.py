"""Country adapters (registry, Brazilian adapter) and the AI web search of the host."""

from __future__ import annotations

import json
import sys
import types

import pytest

from quillon.contract.countries import registry
from quillon.contract.countries.base import CountryAdapter
from quillon.contract.countries.br import ai_search
from quillon.contract.countries.br import cnpj as cnpj_mod
from quillon.contract.countries.br.adapter import BrazilAdapter
from registry_servers import (  # noqa: F401  (fixtures)
    brasilapi,
    casadosdados,
    fixture_bytes,
    receitaws,
    registry_server_pool,
)

OKBR = "19131243000197"


def serve_okbr(brasilapi):
    brasilapi.expect_request(f"/api/cnpj/v1/{OKBR}").respond_with_data(
        fixture_bytes("brasilapi", "brasilapi_active_okbr_qsa_presidente.json"), content_type="application/json")


# --- registry ----------------------------------------------------------------------------
@pytest.mark.parametrize("code", ["BR", "br", " Br "])
def test_get_adapter_serves_brazil(code):
    adapter = registry.get_adapter(code)
    assert isinstance(adapter, BrazilAdapter) and isinstance(adapter, CountryAdapter)
    assert adapter.country_code == "BR"
    assert registry.get_adapter(code) is not adapter  # a new one per call


@pytest.mark.parametrize("code", ["AR", "US", "", "BRA", "Brasil"])
def test_get_adapter_names_the_country_it_does_not_serve(code):
    with pytest.raises(ValueError) as err:
        registry.get_adapter(code)
    assert repr(code) in str(err.value) and "BR" in str(err.value)


@pytest.mark.parametrize("code", [None, 55, b"BR"])
def test_get_adapter_wants_text(code):
    with pytest.raises(TypeError, match="get_adapter\\(\\) argument 'country' must be str"):
        registry.get_adapter(code)


def test_importing_the_registry_loads_no_country():
    import subprocess

    code = ("import sys, quillon.contract.countries.registry as r;"
            "print('quillon.contract.countries.br.cnpj' in sys.modules, 'requests' in sys.modules)")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.split() == ["False", "False"]


def test_country_adapter_is_abstract():
    with pytest.raises(TypeError):
        CountryAdapter()

    class Partial(CountryAdapter):
        def validate_company_id(self, company_id):
            return True

    with pytest.raises(TypeError):
        Partial()


# --- Brazilian adapter --------------------------------------------------------------------
@pytest.mark.parametrize(("cnpj", "valid"), [(OKBR, True), ("19.131.243/0001-97", True), ("19131243000198", False),
                                             ("12ABC34501DE35", True), ("", False), (None, False)])
def test_validate_company_id(cnpj, valid):
    assert BrazilAdapter().validate_company_id(cnpj) is valid


def test_lookup_company_gives_the_registry_record(brasilapi, receitaws):
    serve_okbr(brasilapi)
    record = BrazilAdapter().lookup_company(OKBR)
    assert record["fonte"] == "BrasilAPI" and record["razao_social"] == "OPEN KNOWLEDGE BRASIL"
    assert record["socios"][0]["nome"] == "HAYDEE SVAB"


def test_lookup_company_of_an_invalid_cnpj_is_none(brasilapi, receitaws):
    assert BrazilAdapter().lookup_company("19131243000198") is None
    assert brasilapi.log == []


def test_search_companies_by_name(casadosdados, brasilapi, receitaws):
    casadosdados.expect_request("/v2/public/cnpj/search", method="POST").respond_with_json(
        {"data": {"count": 1, "cnpj": [{"cnpj": OKBR}]}})
    serve_okbr(brasilapi)
    record = BrazilAdapter().search_companies("OPEN KNOWLEDGE BRASIL")
    assert record["busca_por_nome"] is True and record["termo_busca"] == "OPEN KNOWLEDGE BRASIL"
    assert json.loads(casadosdados.log[0][0].get_data())["query"] == {"termo": ["OPEN KNOWLEDGE BRASIL"],
                                                                      "situacao_cadastral": "ATIVA"}


def test_adapter_calls_the_cnpj_module_at_call_time(monkeypatch):
    calls = []
    monkeypatch.setattr(cnpj_mod, "consultar_cnpj", lambda c: calls.append(("lookup", c)) or {"fonte": "stub"})
    monkeypatch.setattr(cnpj_mod, "buscar_cnpj_por_nome", lambda n, uf=None: calls.append(("search", n, uf)))
    monkeypatch.setattr(cnpj_mod, "validar_cnpj", lambda c: calls.append(("validate", c)) or True)
    adapter = registry.get_adapter("BR")
    assert adapter.lookup_company(OKBR) == {"fonte": "stub"}
    assert adapter.search_companies("ACME", "SP") is None
    assert adapter.validate_company_id("x") is True
    assert calls == [("lookup", OKBR), ("search", "ACME", "SP"), ("validate", "x")]


# --- AI web search ---------------------------------------------------------------------------
@pytest.mark.parametrize(
    ("text", "expected"),
    [
        ("O CNPJ da empresa é 19.131.243/0001-97.", "19.131.243/0001-97"),
        ("CNPJ: 19131243000197", "19.131.243/0001-97"),
        ("Encontrei 19.131.243/0001-98 (inválido) e depois 06.990.590/0001-23", "06.990.590/0001-23"),
        ("12.ABC.345/01DE-35", "12.ABC.345/01DE-35"),
        ("o cnpj é 12abc34501de35", "12.ABC.345/01DE-35"),
        ("NAO_ENCONTRADO", None),
        ("telefone 1123851939, CEP 01311-902", None),
        ("191312430001970", None),  # fifteen digits: no CNPJ
        ("", None),
        (None, None),
    ],
)
def test_extrair_cnpj(text, expected):
    assert ai_search.extrair_cnpj(text) == expected


def test_ai_search_without_openai_raises_import_error(monkeypatch):
    monkeypatch.setitem(sys.modules, "openai", None)
    with pytest.raises(ImportError):
        ai_search.buscar_cnpj_via_ai("EMPRESA", "sk-test")


class _FakeResponses:
    def __init__(self, calls, text):
        self.calls, self.text = calls, text

    def create(self, **kwargs):
        self.calls.append(("create", kwargs))
        return types.SimpleNamespace(output_text=self.text)


def _fake_openai(calls, text):
    def client(**kwargs):
        calls.append(("client", kwargs))
        return types.SimpleNamespace(responses=_FakeResponses(calls, text))

    return types.SimpleNamespace(OpenAI=client)


def test_ai_search_asks_a_web_search_model(monkeypatch):
    calls = []
    monkeypatch.setitem(sys.modules, "openai", _fake_openai(calls, "CNPJ 19.131.243/0001-97"))
    assert ai_search.buscar_cnpj_via_ai("Open Knowledge Brasil", "sk-test") == "19.131.243/0001-97"
    (_, client), (_, create) = calls
    assert client == {"api_key": "sk-test", "timeout": ai_search.AI_SEARCH_TIMEOUT}
    assert create["model"] == ai_search.AI_SEARCH_MODEL
    assert [t["type"] for t in create["tools"]] == ["web_search"]
    assert '"Open Knowledge Brasil"' in create["input"]


@pytest.mark.parametrize(("nome", "key"), [("", "sk"), ("EMPRESA", ""), (None, "sk")])
def test_ai_search_without_name_or_key_asks_nothing(nome, key, monkeypatch):
    calls = []
    monkeypatch.setitem(sys.modules, "openai", _fake_openai(calls, "19131243000197"))
    assert ai_search.buscar_cnpj_via_ai(nome, key) is None
    assert calls == []


_RESPONSE = {
    "id": "resp_1", "object": "response", "created_at": 1767225600, "model": "gpt-4.1-mini", "status": "completed",
    "parallel_tool_calls": True, "tool_choice": "auto", "tools": [], "error": None, "incomplete_details": None,
    "instructions": None, "metadata": {}, "temperature": 1.0, "top_p": 1.0,
    "output": [
        {"type": "web_search_call", "id": "ws_1", "status": "completed",
         "action": {"type": "search", "query": "CNPJ Open Knowledge Brasil"}},
        {"type": "message", "id": "msg_1", "role": "assistant", "status": "completed",
         "content": [{"type": "output_text", "annotations": [],
                      "text": "O CNPJ da Open Knowledge Brasil é 19.131.243/0001-97."}]},
    ],
}


def test_ai_search_through_the_real_client_against_a_loopback_api(httpserver, monkeypatch):
    pytest.importorskip("openai")
    monkeypatch.setenv("OPENAI_BASE_URL", httpserver.url_for("/v1"))
    httpserver.expect_request("/v1/responses", method="POST").respond_with_json(_RESPONSE)
    assert ai_search.buscar_cnpj_via_ai("Open Knowledge Brasil", "sk-loopback") == "19.131.243/0001-97"
    [(request, _)] = httpserver.log
    assert request.headers["Authorization"] == "Bearer sk-loopback"
    body = json.loads(request.get_data())
    assert body["model"] == ai_search.AI_SEARCH_MODEL and body["tools"][0]["type"] == "web_search"


def test_ai_search_api_errors_reach_the_caller_of_the_combined_search(httpserver, monkeypatch, casadosdados,
                                                                      brasilapi, receitaws):
    openai = pytest.importorskip("openai")
    monkeypatch.setenv("OPENAI_BASE_URL", httpserver.url_for("/v1"))
    httpserver.expect_request("/v1/responses", method="POST").respond_with_json(
        {"error": {"message": "Incorrect API key provided", "type": "invalid_request_error",
                   "code": "invalid_api_key"}}, status=401)
    casadosdados.expect_request("/v2/public/cnpj/search").respond_with_json({"data": {"count": 0}})
    with pytest.raises(openai.AuthenticationError):
        cnpj_mod.buscar_empresa_completo(nome="EMPRESA", usar_ai_search=True, openai_api_key="sk-wrong")
