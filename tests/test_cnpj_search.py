"""Company search by name (Casa dos Dados) and the combined lookups.

Casa dos Dados, BrasilAPI and ReceitaWS run on loopback. No published Casa dos
Dados answer exists; its answers here follow the documented shape
(data.count, data.cnpj[].cnpj).
"""

from __future__ import annotations

import json
import sys
import types

import pytest
import requests

from quillon.contract.countries.br import ai_search
from quillon.contract.countries.br import cnpj as mod
from registry_servers import (  # noqa: F401  (fixtures)
    DEEPLY_NESTED,
    FIFTY_MB,
    INVALID_UTF8,
    NOT_JSON,
    brasilapi,
    casadosdados,
    cnpj_logs,
    fixture_bytes,
    ordered_json,
    receitaws,
    refused_port,
    registry_server_pool,
    silent_port,
)

SEARCH_PATH = "/v2/public/cnpj/search"
OKBR = "19131243000197"
RECORD_KEYS = ["fonte", "cnpj", "razao_social", "nome_fantasia", "situacao", "data_situacao", "data_abertura",
               "natureza_juridica", "porte", "capital_social", "endereco", "email", "socios"]
EXTRAS = ["somente_mei", "excluir_mei", "com_email", "incluir_atividade_secundaria", "com_contato_telefonico",
          "somente_fixo", "somente_celular", "somente_matriz", "somente_filial"]
# The module's own functions, before any test patches them.
OWN = {name: getattr(mod, name) for name in ("buscar_cnpj_por_nome", "buscar_empresa", "buscar_empresa_completo")}
WARN = "Casa dos Dados search failed for %r: %s"
ERR = "Unexpected error in buscar_cnpj_por_nome for %r"


def expected_body(nome, uf=None):
    """The request body as (member, value) pairs, in the order sent."""
    query = [("termo", [nome]), ("situacao_cadastral", "ATIVA")]
    if uf:
        query.append(("uf", [uf]))
    return [("query", query), ("range_query", []), ("extras", [(flag, False) for flag in EXTRAS]), ("page", 1)]


def answer(*cnpjs, count=None):
    hits = [{"cnpj": c, "razao_social": f"EMPRESA {i}"} for i, c in enumerate(cnpjs)]
    return {"data": {"count": len(cnpjs) if count is None else count, "cnpj": hits}}


def serve_search(server, body, status=200, content_type="application/json"):
    if not isinstance(body, bytes):
        body = json.dumps(body).encode()
    server.expect_request(SEARCH_PATH, method="POST").respond_with_data(body, status=status,
                                                                        content_type=content_type)


def serve_okbr(brasilapi):
    brasilapi.expect_request(f"/api/cnpj/v1/{OKBR}").respond_with_data(
        fixture_bytes("brasilapi", "brasilapi_active_okbr_qsa_presidente.json"), content_type="application/json")


# --- buscar_cnpj_por_nome ---------------------------------------------------------------
def test_search_request_and_record(casadosdados, brasilapi, receitaws, cnpj_logs):
    serve_search(casadosdados, answer(OKBR, "06990590000123"))
    serve_okbr(brasilapi)
    record = mod.buscar_cnpj_por_nome("Open Knowledge")

    [(request, _)] = casadosdados.log
    assert (request.method, request.path, request.query_string) == ("POST", SEARCH_PATH, b"")
    assert request.headers["Content-Type"] == "application/json"
    assert request.headers["Accept"] == "application/json"
    assert request.headers["User-Agent"] == mod.USER_AGENT
    assert ordered_json(request.get_data()) == expected_body("Open Knowledge")

    assert list(record) == RECORD_KEYS + ["busca_por_nome", "termo_busca"]
    assert record["busca_por_nome"] is True
    assert record["termo_busca"] == "Open Knowledge"  # the term searched, not the registry's name
    assert record["razao_social"] == "OPEN KNOWLEDGE BRASIL" and record["fonte"] == "BrasilAPI"
    assert [r.path for r, _ in brasilapi.log] == [f"/api/cnpj/v1/{OKBR}"]
    assert cnpj_logs() == []


@pytest.mark.parametrize(
    ("nome", "uf", "sent_uf"),
    [("OPEN KNOWLEDGE", "SP", "SP"), ("OPEN KNOWLEDGE", "sp", "sp"), ("OPEN KNOWLEDGE", "", None),
     ("OPEN KNOWLEDGE", None, None), ("  open knowledge  ", " SP ", " SP "), ("Ação & Cia", "RJ", "RJ")],
)
def test_search_term_and_state_are_sent_unchanged(nome, uf, sent_uf, casadosdados, brasilapi, receitaws):
    serve_search(casadosdados, answer(count=0))
    assert mod.buscar_cnpj_por_nome(nome, uf) is None
    assert ordered_json(casadosdados.log[0][0].get_data()) == expected_body(nome, sent_uf)


@pytest.mark.parametrize("nome", [None, "", "a", "ab", "çã"])
def test_short_names_send_nothing(nome, casadosdados, cnpj_logs):
    assert mod.buscar_cnpj_por_nome(nome) is None
    assert casadosdados.log == [] and cnpj_logs() == []


def test_white_space_counts_towards_the_length(casadosdados):
    serve_search(casadosdados, answer(count=0))
    assert mod.buscar_cnpj_por_nome("   ") is None
    assert len(casadosdados.log) == 1


@pytest.mark.parametrize("status", [400, 401, 404, 429, 500, 503])
def test_search_non_200_gives_none_silently(status, casadosdados, brasilapi, cnpj_logs):
    serve_search(casadosdados, {"message": "erro"}, status=status)
    assert mod.buscar_cnpj_por_nome("EMPRESA") is None
    assert brasilapi.log == [] and cnpj_logs() == []


@pytest.mark.parametrize(
    "body",
    [answer(count=0), answer(OKBR, count=0), {"data": {"count": 2}}, {"data": {"cnpj": [{"cnpj": OKBR}]}},
     {"data": {"count": 1, "cnpj": []}}, {}, {"data": {}}, {"data": {"count": -1, "cnpj": [{"cnpj": OKBR}]}},
     {"data": {"count": 1, "cnpj": [{"cnpj": ""}]}}, {"data": {"count": 1, "cnpj": [{"razao_social": "X"}]}},
     {"data": {"count": 1, "cnpj": [{"cnpj": None}]}}],
    ids=["count-0", "count-0-with-hit", "no-hits", "no-count", "empty-hits", "no-data", "empty-data",
         "negative-count", "empty-cnpj", "no-cnpj", "null-cnpj"],
)
def test_answers_without_a_usable_hit_give_none_silently(body, casadosdados, brasilapi, cnpj_logs):
    serve_search(casadosdados, body)
    assert mod.buscar_cnpj_por_nome("EMPRESA") is None
    assert brasilapi.log == [] and cnpj_logs() == []


def test_only_the_first_hit_is_considered(casadosdados, brasilapi, receitaws, cnpj_logs):
    serve_search(casadosdados, answer("12345678000199", OKBR))  # first hit: wrong check digits
    serve_okbr(brasilapi)
    assert mod.buscar_cnpj_por_nome("EMPRESA") is None
    assert brasilapi.log == [] and receitaws.log == [] and cnpj_logs() == []


def test_first_hit_missing_from_the_registry_gives_none(casadosdados, brasilapi, receitaws, cnpj_logs):
    serve_search(casadosdados, answer("27865757000102", OKBR))
    brasilapi.expect_request("/api/cnpj/v1/27865757000102").respond_with_data(b"{}", status=404)
    receitaws.expect_request("/v1/cnpj/27865757000102").respond_with_json({"status": "ERROR"})
    assert mod.buscar_cnpj_por_nome("GLOBO") is None
    assert [r.path for r, _ in brasilapi.log] == ["/api/cnpj/v1/27865757000102"]
    assert cnpj_logs() == []


def test_formatted_hit_is_looked_up_by_its_digits(casadosdados, brasilapi, receitaws):
    serve_search(casadosdados, answer("19.131.243/0001-97"))
    serve_okbr(brasilapi)
    assert mod.buscar_cnpj_por_nome("OPEN")["cnpj"] == "19.131.243/0001-97"


@pytest.mark.parametrize(
    ("body", "content_type", "text"),
    [
        (NOT_JSON, "text/html", "Expecting value"),
        (INVALID_UTF8, "application/json", "can't decode"),
        (b"x" * FIFTY_MB, "application/json", "Expecting value"),
    ],
    ids=["html", "invalid-utf8", "50MB"],
)
def test_undecodable_answers_warn(body, content_type, text, casadosdados, cnpj_logs):
    serve_search(casadosdados, body, content_type=content_type)
    assert mod.buscar_cnpj_por_nome("EMPRESA X") is None
    [(level, msg, args)] = cnpj_logs()
    assert (level, msg, args[0]) == ("WARNING", WARN, "EMPRESA X") and text in args[1]


@pytest.mark.parametrize(
    "body",
    [[answer(OKBR)], {"data": None}, {"data": []}, {"data": {"count": "1", "cnpj": [{"cnpj": OKBR}]}},
     {"data": {"count": None}}, {"data": {"count": 1, "cnpj": {"a": {"cnpj": OKBR}}}},
     {"data": {"count": 1, "cnpj": [OKBR]}}, {"data": {"count": 1, "cnpj": [{"cnpj": 19131243000197}]}},
     DEEPLY_NESTED],
    ids=["list", "data-null", "data-list", "count-str", "count-null", "hits-object", "hit-str", "cnpj-number",
         "deeply-nested"],
)
def test_answers_of_another_shape_are_unexpected_errors(body, casadosdados, brasilapi, cnpj_logs, caplog):
    serve_search(casadosdados, body)
    assert mod.buscar_cnpj_por_nome("EMPRESA X") is None
    assert cnpj_logs() == [("ERROR", ERR, ("EMPRESA X",))]
    assert caplog.records[-1].exc_info is not None
    assert brasilapi.log == []


def _post_with_timeout(seconds, calls):
    real_post = requests.post

    def post(url, **kwargs):
        calls.append(dict(kwargs))
        return real_post(url, **{**kwargs, "timeout": seconds})

    return types.SimpleNamespace(post=post, get=requests.get, RequestException=requests.RequestException)


def test_search_time_out_is_fifteen_seconds(casadosdados, monkeypatch):
    calls = []
    monkeypatch.setattr(mod, "requests", _post_with_timeout(5, calls))
    serve_search(casadosdados, answer(count=0))
    mod.buscar_cnpj_por_nome("EMPRESA", "MG")
    [kwargs] = calls
    assert kwargs["timeout"] == 15
    assert kwargs["headers"] == {"Content-Type": "application/json", "Accept": "application/json",
                                 "User-Agent": mod.USER_AGENT}
    assert json.dumps(kwargs["json"]) == json.dumps(
        {"query": {"termo": ["EMPRESA"], "situacao_cadastral": "ATIVA", "uf": ["MG"]}, "range_query": {},
         "extras": {flag: False for flag in EXTRAS}, "page": 1})


def test_search_server_that_never_answers_warns(silent_port, monkeypatch, cnpj_logs):
    monkeypatch.setattr(mod, "requests", _post_with_timeout(0.3, []))
    monkeypatch.setattr(mod, "CASADOSDADOS_API", silent_port + SEARCH_PATH)
    assert mod.buscar_cnpj_por_nome("EMPRESA X") is None
    [(level, msg, args)] = cnpj_logs()
    assert (level, msg, args[0]) == ("WARNING", WARN, "EMPRESA X") and "timed out" in args[1]


def test_search_connection_refused_warns(refused_port, monkeypatch, cnpj_logs):
    monkeypatch.setattr(mod, "CASADOSDADOS_API", refused_port + SEARCH_PATH)
    assert mod.buscar_cnpj_por_nome("EMPRESA X") is None
    [(level, msg, args)] = cnpj_logs()
    assert (level, msg, args[0]) == ("WARNING", WARN, "EMPRESA X")


def test_search_looks_up_through_the_module(casadosdados, monkeypatch):
    serve_search(casadosdados, answer(OKBR))
    seen = []
    monkeypatch.setattr(mod, "consultar_cnpj", lambda c: seen.append(c) or {"fonte": "stub"})
    assert mod.buscar_cnpj_por_nome("OPEN") == {"fonte": "stub", "busca_por_nome": True, "termo_busca": "OPEN"}
    assert seen == [OKBR]


# --- buscar_empresa -------------------------------------------------------------------------
@pytest.fixture
def spies(monkeypatch):
    """consultar_cnpj and buscar_cnpj_por_nome replaced by recorders."""
    calls = []
    found = {}

    def consultar(c):
        calls.append(("consultar_cnpj", c))
        return found.get(c)

    def por_nome(n, uf=None):
        calls.append(("buscar_cnpj_por_nome", n, uf))
        return found.get(n)

    monkeypatch.setattr(mod, "consultar_cnpj", consultar)
    monkeypatch.setattr(mod, "buscar_cnpj_por_nome", por_nome)
    return types.SimpleNamespace(calls=calls, found=found)


def test_buscar_empresa_without_arguments_does_nothing(spies):
    assert mod.buscar_empresa() is None
    assert spies.calls == []


def test_buscar_empresa_looks_up_the_clean_cnpj_first(spies):
    spies.found[OKBR] = {"fonte": "BrasilAPI"}
    assert mod.buscar_empresa("19.131.243/0001-97", "OPEN") == {"fonte": "BrasilAPI"}
    assert spies.calls == [("consultar_cnpj", OKBR)]


@pytest.mark.parametrize("cnpj", ["19.131.243/0001-98", "123", "", None, "00000000000000"])
def test_buscar_empresa_with_an_unusable_cnpj_searches_by_name(cnpj, spies):
    spies.found["OPEN"] = {"fonte": "BrasilAPI", "busca_por_nome": True}
    assert mod.buscar_empresa(cnpj, "OPEN", "SP") == {"fonte": "BrasilAPI", "busca_por_nome": True}
    assert spies.calls == [("buscar_cnpj_por_nome", "OPEN", "SP")]


def test_buscar_empresa_falls_through_to_the_name_when_the_registry_has_nothing(spies):
    assert mod.buscar_empresa(cnpj=OKBR, nome="OPEN") is None
    assert spies.calls == [("consultar_cnpj", OKBR), ("buscar_cnpj_por_nome", "OPEN", None)]


def test_buscar_empresa_end_to_end(casadosdados, brasilapi, receitaws):
    serve_search(casadosdados, answer(OKBR))
    serve_okbr(brasilapi)
    record = mod.buscar_empresa(nome="OPEN KNOWLEDGE")
    assert record["busca_por_nome"] is True and record["cnpj"] == "19.131.243/0001-97"
    serve_okbr(brasilapi)
    record = mod.buscar_empresa(cnpj=OKBR)
    assert "busca_por_nome" not in record and list(record) == RECORD_KEYS


# --- buscar_empresa_completo ------------------------------------------------------------------
def test_completo_by_cnpj_never_searches_by_name(casadosdados, brasilapi, receitaws):
    serve_okbr(brasilapi)
    record = mod.buscar_empresa_completo("19.131.243/0001-97", "OPEN KNOWLEDGE", usar_ai_search=True,
                                         openai_api_key="sk-x")
    assert list(record) == RECORD_KEYS + ["_metodo_busca"]
    assert record["_metodo_busca"] == "cnpj_direto"
    assert casadosdados.log == []


def test_completo_by_name_marks_in_order(casadosdados, brasilapi, receitaws):
    serve_search(casadosdados, answer(OKBR))
    serve_okbr(brasilapi)
    record = mod.buscar_empresa_completo(nome="OPEN KNOWLEDGE", uf="SP")
    assert list(record) == RECORD_KEYS + ["busca_por_nome", "termo_busca", "_metodo_busca"]
    assert (record["busca_por_nome"], record["termo_busca"], record["_metodo_busca"]) == (
        True, "OPEN KNOWLEDGE", "api_nome")


@pytest.mark.parametrize("nome", [None, ""])
def test_completo_without_name_stops_after_the_cnpj(nome, spies):
    assert mod.buscar_empresa_completo("123", nome, usar_ai_search=True, openai_api_key="k") is None
    assert spies.calls == []


@pytest.fixture
def ai(monkeypatch):
    """The AI search replaced by a recorder answering from `answers`."""
    calls, answers = [], {}

    def fake(nome, key):
        calls.append((nome, key))
        result = answers.get(nome)
        if isinstance(result, BaseException):
            raise result
        return result

    monkeypatch.setattr(ai_search, "buscar_cnpj_via_ai", fake)
    return types.SimpleNamespace(calls=calls, answers=answers)


def test_completo_by_ai_search(ai, casadosdados, brasilapi, receitaws, cnpj_logs):
    serve_search(casadosdados, answer(count=0))
    serve_okbr(brasilapi)
    ai.answers["OPEN KNOWLEDGE BR"] = "19.131.243/0001-97"
    record = mod.buscar_empresa_completo(None, "OPEN KNOWLEDGE BR", None, True, "sk-test")
    assert ai.calls == [("OPEN KNOWLEDGE BR", "sk-test")]
    assert list(record) == RECORD_KEYS + ["_metodo_busca", "_cnpj_buscado_por_ai"]
    assert (record["_metodo_busca"], record["_cnpj_buscado_por_ai"]) == ("ai_web_search", True)
    assert cnpj_logs() == []


@pytest.mark.parametrize(
    ("usar", "key"), [(False, "sk-test"), (True, None), (True, ""), (0, "sk-test"), ("", "sk-test")])
def test_completo_uses_the_ai_search_only_when_asked_and_keyed(usar, key, ai, spies):
    ai.answers["EMPRESA"] = OKBR
    assert mod.buscar_empresa_completo(nome="EMPRESA", usar_ai_search=usar, openai_api_key=key) is None
    assert ai.calls == []


@pytest.mark.parametrize("usar", [True, 1, "sim", [0]])
def test_usar_ai_search_is_taken_by_its_truth_value(usar, ai, spies):
    ai.answers["EMPRESA"] = OKBR
    spies.found[OKBR] = {"fonte": "BrasilAPI"}
    record = mod.buscar_empresa_completo(nome="EMPRESA", usar_ai_search=usar, openai_api_key="k")
    assert record == {"fonte": "BrasilAPI", "_metodo_busca": "ai_web_search", "_cnpj_buscado_por_ai": True}


@pytest.mark.parametrize("found", [None, "", 0])
def test_ai_search_finding_nothing_gives_none(found, ai, spies):
    ai.answers["EMPRESA"] = found
    assert mod.buscar_empresa_completo(nome="EMPRESA", usar_ai_search=True, openai_api_key="k") is None
    assert [c[0] for c in spies.calls] == ["buscar_cnpj_por_nome"]


def test_ai_search_cnpj_missing_from_the_registry_gives_none(ai, spies):
    ai.answers["EMPRESA"] = OKBR
    assert mod.buscar_empresa_completo(nome="EMPRESA", usar_ai_search=True, openai_api_key="k") is None
    assert spies.calls[-1] == ("consultar_cnpj", OKBR)


def test_ai_search_module_absent_is_skipped_silently(monkeypatch, spies, caplog):
    monkeypatch.setitem(sys.modules, "quillon.contract.countries.br.ai_search", None)
    assert mod.buscar_empresa_completo(nome="EMPRESA", usar_ai_search=True, openai_api_key="k") is None
    assert caplog.records == []


def test_ai_search_without_openai_installed_is_skipped_silently(monkeypatch, spies, caplog):
    monkeypatch.setitem(sys.modules, "openai", None)  # as if the package were not installed
    assert mod.buscar_empresa_completo(nome="EMPRESA", usar_ai_search=True, openai_api_key="k") is None
    assert caplog.records == []


def test_ai_search_module_without_the_function_is_skipped(monkeypatch, spies):
    monkeypatch.setitem(sys.modules, "quillon.contract.countries.br.ai_search", types.ModuleType("empty"))
    assert mod.buscar_empresa_completo(nome="EMPRESA", usar_ai_search=True, openai_api_key="k") is None


@pytest.mark.parametrize("error", [RuntimeError("quota"), ValueError("bad"), PermissionError("401")])
def test_other_ai_search_errors_reach_the_caller(error, ai, spies):
    ai.answers["EMPRESA"] = error
    with pytest.raises(type(error)):
        mod.buscar_empresa_completo(nome="EMPRESA", usar_ai_search=True, openai_api_key="k")


def test_ai_search_import_error_from_the_call_is_skipped(ai, spies):
    ai.answers["EMPRESA"] = ModuleNotFoundError("No module named 'httpx'")
    assert mod.buscar_empresa_completo(nome="EMPRESA", usar_ai_search=True, openai_api_key="k") is None


# --- surface -----------------------------------------------------------------------------------
def test_constant_and_documentation_texts():
    assert mod.CASADOSDADOS_API == "https://api.casadosdados.com.br/v2/public/cnpj/search"
    docs = {
        "buscar_cnpj_por_nome": "Busca CNPJ pelo nome da empresa usando Casa dos Dados API.",
        "buscar_empresa": "Busca empresa por CNPJ ou nome.\n\nPrimeiro tenta por CNPJ, se não tiver, busca por nome.",
        "buscar_empresa_completo": "Busca empresa usando todas as estratégias disponíveis.\n\n"
        "1. Por CNPJ direto (se fornecido)\n2. Por nome na API Casa dos Dados\n"
        "3. Por nome via AI web search (se habilitado e configurado)",
    }
    for name, doc in docs.items():
        assert getattr(mod, name).__doc__.split("\n\n", 1)[1] == doc


@pytest.mark.parametrize(
    ("fn", "args", "kwargs", "message"),
    [
        ("buscar_cnpj_por_nome", (1,), {}, "argument 'nome_empresa' must be str or None, not int"),
        ("buscar_cnpj_por_nome", ("EMPRESA", 35), {}, "argument 'uf' must be str or None, not int"),
        ("buscar_cnpj_por_nome", (), {}, "incompatible function arguments"),
        ("buscar_cnpj_por_nome", ("a", "b", "c"), {}, "incompatible function arguments"),
        ("buscar_cnpj_por_nome", (), {"nome": "EMPRESA"}, "incompatible function arguments"),
        ("buscar_empresa", (123,), {}, "argument 'cnpj' must be str or None, not int"),
        ("buscar_empresa", (), {"nome": b"X"}, "argument 'nome' must be str or None, not bytes"),
        ("buscar_empresa", (None, None, ["SP"]), {}, "argument 'uf' must be str or None, not list"),
        ("buscar_empresa", (None, None, None, None), {}, "incompatible function arguments"),
        ("buscar_empresa_completo", (), {"openai_api_key": 1}, "argument 'openai_api_key' must be str or None"),
        ("buscar_empresa_completo", (), {"cnpj": 1.0}, "argument 'cnpj' must be str or None, not float"),
        ("buscar_empresa_completo", (None,) * 6, {}, "incompatible function arguments"),
        ("buscar_empresa_completo", (), {"usar_ai": True}, "incompatible function arguments"),
    ],
)
def test_argument_errors(fn, args, kwargs, message, spies):
    with pytest.raises(TypeError, match=message):
        OWN[fn](*args, **kwargs)
    assert spies.calls == []
