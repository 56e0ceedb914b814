"""Country adapters (registry, Brazilian adapter) and the host's AI web search."""

import json
import subprocess
import sys
import types

import pytest

from quillon.contract.countries import registry
from quillon.contract.countries.base import CountryAdapter
from quillon.contract.countries.br import ai_search
from quillon.contract.countries.br import cnpj as cnpj_mod
from quillon.contract.countries.br.adapter import BrazilAdapter
from registry_servers import net, published, registry_server_pool  # noqa: F401  (fixtures)

OKBR = "19131243000197"


@pytest.mark.parametrize(("code", "error"), [("BR", None), (" br ", None), ("AR", ValueError), ("", ValueError),
                                             ("Brasil", ValueError), (55, TypeError), (None, TypeError)])
def test_get_adapter(code, error):
    if error is None:
        adapter = registry.get_adapter(code)
        assert isinstance(adapter, BrazilAdapter) and isinstance(adapter, CountryAdapter)
        assert adapter.country_code == "BR" and registry.get_adapter(code) is not adapter
    else:
        with pytest.raises(error, match=repr(code) if error is ValueError else "argument 'country' must be str"):
            registry.get_adapter(code)


def test_country_adapter_is_abstract_and_the_registry_loads_no_country():
    with pytest.raises(TypeError):
        type("Partial", (CountryAdapter,), {"validate_company_id": lambda self, c: True})()
    code = "import sys, quillon.contract.countries.registry; print(sorted(m for m in sys.modules if 'br' in m))"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.strip() == "[]"


def test_brazilian_adapter_end_to_end(net):
    adapter = registry.get_adapter("BR")
    assert [adapter.validate_company_id(c) for c in (OKBR, "19.131.243/0001-98", "12ABC34501DE35", None)] == [
        True, False, True, False]
    assert adapter.lookup_company("19131243000198") is None and net.requests("brasilapi") == []
    net.answer("brasilapi", OKBR, published("brasilapi/brasilapi_active_okbr_qsa_presidente.json"))
    assert adapter.lookup_company(OKBR)["socios"][0]["nome"] == "HAYDEE SVAB"
    net.answer("casadosdados", body={"data": {"count": 1, "cnpj": [{"cnpj": OKBR}]}})
    record = adapter.search_companies("OPEN KNOWLEDGE BRASIL")
    assert (record["razao_social"], record["termo_busca"]) == ("OPEN KNOWLEDGE BRASIL", "OPEN KNOWLEDGE BRASIL")


# --- AI web search ------------------------------------------------------------------------
@pytest.mark.parametrize(("text", "expected"), [
    ("O CNPJ da empresa é 19.131.243/0001-97.", "19.131.243/0001-97"), ("CNPJ: 19131243000197", "19.131.243/0001-97"),
    ("19.131.243/0001-98 (inválido), depois 06.990.590/0001-23", "06.990.590/0001-23"),
    ("o cnpj é 12abc34501de35", "12.ABC.345/01DE-35"), ("NAO_ENCONTRADO", None),
    ("telefone 1123851939, CEP 01311-902", None), ("191312430001970", None), (None, None)])
def test_extrair_cnpj(text, expected):
    assert ai_search.extrair_cnpj(text) == expected


def test_ai_search_asks_a_web_search_model(monkeypatch):
    calls = []
    client = types.SimpleNamespace(responses=types.SimpleNamespace(
        create=lambda **kw: calls.append(kw) or types.SimpleNamespace(output_text="CNPJ 19.131.243/0001-97")))
    monkeypatch.setitem(sys.modules, "openai", types.SimpleNamespace(
        OpenAI=lambda **kw: calls.append(kw) or client))
    assert ai_search.buscar_cnpj_via_ai("Open Knowledge Brasil", "sk-test") == "19.131.243/0001-97"
    assert calls[0] == {"api_key": "sk-test", "timeout": ai_search.AI_SEARCH_TIMEOUT}
    assert (calls[1]["model"], calls[1]["tools"][0]["type"]) == (ai_search.AI_SEARCH_MODEL, "web_search")
    assert '"Open Knowledge Brasil"' in calls[1]["input"]
    assert ai_search.buscar_cnpj_via_ai("", "sk") is None and ai_search.buscar_cnpj_via_ai("X", "") is None
    assert len(calls) == 2
    monkeypatch.setitem(sys.modules, "openai", None)  # the package absent
    with pytest.raises(ImportError):
        ai_search.buscar_cnpj_via_ai("EMPRESA", "sk-test")


RESPONSE = {"id": "resp_1", "object": "response", "created_at": 1767225600, "model": "gpt-4.1-mini",
            "status": "completed", "parallel_tool_calls": True, "tool_choice": "auto", "tools": [],
            "output": [{"type": "web_search_call", "id": "ws_1", "status": "completed",
                        "action": {"type": "search", "query": "CNPJ Open Knowledge Brasil"}},
                       {"type": "message", "id": "msg_1", "role": "assistant", "status": "completed",
                        "content": [{"type": "output_text", "annotations": [],
                                     "text": "O CNPJ da Open Knowledge Brasil é 19.131.243/0001-97."}]}]}


def test_ai_search_through_the_real_client_on_loopback(httpserver, monkeypatch, net):
    openai = pytest.importorskip("openai")
    monkeypatch.setenv("OPENAI_BASE_URL", httpserver.url_for("/v1"))
    httpserver.expect_oneshot_request("/v1/responses", method="POST").respond_with_json(RESPONSE)
    assert ai_search.buscar_cnpj_via_ai("Open Knowledge Brasil", "sk-loopback") == "19.131.243/0001-97"
    [(request, _)] = httpserver.log
    assert request.headers["Authorization"] == "Bearer sk-loopback"
    assert json.loads(request.get_data())["tools"][0]["type"] == "web_search"
    # An API error reaches the caller of the combined search.
    httpserver.expect_request("/v1/responses").respond_with_json({"error": {"message": "Incorrect API key"}}, 401)
    net.answer("casadosdados", body={"data": {"count": 0}})
    with pytest.raises(openai.AuthenticationError):
        cnpj_mod.buscar_empresa_completo(nome="EMPRESA", usar_ai_search=True, openai_api_key="sk-wrong")
