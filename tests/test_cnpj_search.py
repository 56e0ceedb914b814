"""Company search by name (Casa dos Dados) and the combined lookups.

No published Casa dos Dados answer exists; the answers here follow the
documented shape (data.count, data.cnpj[].cnpj).
"""

import sys
import types

import pytest
import requests

from quillon.contract.countries.br import ai_search
from quillon.contract.countries.br import cnpj as mod
from registry_servers import (  # noqa: F401  (fixtures)
    DEEPLY_NESTED, FIFTY_MB, INVALID_UTF8, NOT_JSON, dead_ends, net, ordered_json, published, registry_server_pool)

OKBR = "19131243000197"
OKBR_ANSWER = published("brasilapi/brasilapi_active_okbr_qsa_presidente.json")
KEYS = ["fonte", "cnpj", "razao_social", "nome_fantasia", "situacao", "data_situacao", "data_abertura",
        "natureza_juridica", "porte", "capital_social", "endereco", "email", "socios"]
EXTRAS = ["somente_mei", "excluir_mei", "com_email", "incluir_atividade_secundaria", "com_contato_telefonico",
          "somente_fixo", "somente_celular", "somente_matriz", "somente_filial"]
OWN = {name: getattr(mod, name) for name in ("buscar_cnpj_por_nome", "buscar_empresa", "buscar_empresa_completo")}


def hits(*cnpjs, count=None):
    return {"data": {"count": len(cnpjs) if count is None else count, "cnpj": [{"cnpj": c} for c in cnpjs]}}


def body_sent(nome, uf=None):
    query = [("termo", [nome]), ("situacao_cadastral", "ATIVA")] + ([("uf", [uf])] if uf else [])
    return [("query", query), ("range_query", []), ("extras", [(f, False) for f in EXTRAS]), ("page", 1)]


def test_search_request_and_record(net):
    net.answer("casadosdados", body=hits(OKBR, "06990590000123"))
    net.answer("brasilapi", OKBR, OKBR_ANSWER)
    record = mod.buscar_cnpj_por_nome("Open Knowledge", "SP")

    [request] = net.requests("casadosdados")
    assert (request.method, request.path, request.query_string) == ("POST", "/v2/public/cnpj/search", b"")
    assert [request.headers[h] for h in ("Content-Type", "Accept", "User-Agent")] == [
        "application/json", "application/json", mod.USER_AGENT]
    assert ordered_json(request.get_data()) == body_sent("Open Knowledge", "SP")
    assert list(record) == KEYS + ["busca_por_nome", "termo_busca"]
    # The term searched, not the registry's name.
    assert (record["busca_por_nome"], record["termo_busca"], record["razao_social"]) == (
        True, "Open Knowledge", "OPEN KNOWLEDGE BRASIL")
    assert net.logs() == []


@pytest.mark.parametrize(("nome", "uf", "sent_uf"), [("EMPRESA", "sp", "sp"), ("EMPRESA", "", None),
                                                     ("  empresa ", " SP ", " SP "), ("   ", None, None)])
def test_term_and_state_are_sent_unchanged(net, nome, uf, sent_uf):
    net.answer("casadosdados", body=hits(count=0))
    assert mod.buscar_cnpj_por_nome(nome, uf) is None
    assert ordered_json(net.requests("casadosdados")[0].get_data()) == body_sent(nome, sent_uf)


@pytest.mark.parametrize("nome", [None, "", "ab", "çã"])
def test_short_names_send_nothing(net, nome):
    assert mod.buscar_cnpj_por_nome(nome) is None and net.requests("casadosdados") == []


ANSWERS = [  # id, status, body, content type, log: None, ("WARNING", text) or "ERROR"
    ("500", 500, {"message": "erro"}, None), ("429", 429, b"", None), ("count-0", 200, hits(OKBR, count=0), None),
    ("no-data", 200, {}, None), ("no-hits", 200, {"data": {"count": 2}}, None),
    ("empty-cnpj", 200, hits(""), None), ("no-cnpj", 200, {"data": {"count": 1, "cnpj": [{}]}}, None),
    ("first-hit-invalid", 200, hits("12345678000199", OKBR), None),  # the second hit is never tried
    ("html", 200, NOT_JSON, ("WARNING", "Expecting value")),
    ("invalid-utf8", 200, INVALID_UTF8, ("WARNING", "can't decode")),
    ("50MB", 200, FIFTY_MB, ("WARNING", "larger than 5242880 bytes")),
    ("list", 200, [hits(OKBR)], "ERROR"), ("data-null", 200, {"data": None}, "ERROR"),
    ("count-str", 200, {"data": {"count": "1", "cnpj": [{"cnpj": OKBR}]}}, "ERROR"),
    ("hit-str", 200, {"data": {"count": 1, "cnpj": [OKBR]}}, "ERROR"),
    ("cnpj-number", 200, {"data": {"count": 1, "cnpj": [{"cnpj": 19131243000197}]}}, "ERROR"),
    ("deeply-nested", 200, DEEPLY_NESTED, "ERROR"),
]


@pytest.mark.parametrize(("status", "body", "log"), [a[1:] for a in ANSWERS], ids=[a[0] for a in ANSWERS])
def test_search_failures(net, status, body, log):
    net.answer("casadosdados", body=body, status=status)
    net.answer("brasilapi", OKBR, OKBR_ANSWER)
    assert mod.buscar_cnpj_por_nome("EMPRESA X") is None
    assert net.requests("brasilapi") == []
    logs = net.logs()
    if log == "ERROR":
        assert logs == [("ERROR", "Unexpected error in buscar_cnpj_por_nome for %r", ("EMPRESA X",))]
    elif log:
        [(level, msg, (term, text))] = logs
        assert (level, msg, term) == ("WARNING", "Casa dos Dados search failed for %r: %s", "EMPRESA X")
        assert log[1] in text
    else:
        assert logs == []


@pytest.mark.parametrize(("end", "text"), [("silent", "timed out"), ("refused", "Connection refused")])
def test_search_network_failures_and_timeout(net, dead_ends, monkeypatch, end, text):
    calls = []

    def post(url, **kw):  # the real client, with the 15-second literal shortened
        calls.append(kw)
        return requests.post(url, **{**kw, "timeout": 0.3})

    monkeypatch.setattr(mod, "requests", types.SimpleNamespace(post=post, RequestException=requests.RequestException))
    monkeypatch.setattr(mod, "CASADOSDADOS_API", dead_ends[end] + "/v2/public/cnpj/search")
    assert mod.buscar_cnpj_por_nome("EMPRESA X") is None
    assert calls[0]["timeout"] == 15
    [(level, msg, (term, error))] = net.logs()
    assert (level, term) == ("WARNING", "EMPRESA X") and text in error


# --- buscar_empresa and buscar_empresa_completo --------------------------------------------
@pytest.fixture
def spies(monkeypatch):
    """consultar_cnpj and buscar_cnpj_por_nome replaced by recorders answering from `found`."""
    calls, found = [], {}
    monkeypatch.setattr(mod, "consultar_cnpj", lambda c: calls.append(("cnpj", c)) or found.get(c))
    monkeypatch.setattr(mod, "buscar_cnpj_por_nome", lambda n, uf=None: calls.append(("nome", n, uf)) or found.get(n))
    return types.SimpleNamespace(calls=calls, found=found)


@pytest.mark.parametrize(("args", "calls", "result"), [
    ((), [], None),
    (("19.131.243/0001-97", "OPEN"), [("cnpj", OKBR)], "rec"),       # the clean CNPJ, first
    (("19.131.243/0001-98", "OPEN", "SP"), [("nome", "OPEN", "SP")], "by-name"),  # wrong check digits
    (("", "OPEN"), [("nome", "OPEN", None)], "by-name"),
    (("27865757000102", "OPEN"), [("cnpj", "27865757000102"), ("nome", "OPEN", None)], "by-name"),
    (("27865757000102",), [("cnpj", "27865757000102")], None),
])
def test_buscar_empresa(spies, args, calls, result):
    spies.found.update({OKBR: "rec", "OPEN": "by-name"})
    assert mod.buscar_empresa(*args) == result and spies.calls == calls


def test_completo_marks_the_strategy(net):
    net.answer("brasilapi", OKBR, OKBR_ANSWER)
    record = mod.buscar_empresa_completo(OKBR, "OPEN KNOWLEDGE", usar_ai_search=True, openai_api_key="k")
    assert list(record)[13:] == ["_metodo_busca"] and record["_metodo_busca"] == "cnpj_direto"
    assert net.requests("casadosdados") == []  # never searched by name
    net.answer("casadosdados", body=hits(OKBR))
    record = mod.buscar_empresa_completo(nome="OPEN KNOWLEDGE", uf="SP")
    assert [(k, record[k]) for k in list(record)[13:]] == [
        ("busca_por_nome", True), ("termo_busca", "OPEN KNOWLEDGE"), ("_metodo_busca", "api_nome")]


@pytest.fixture
def ai(monkeypatch):
    """The host's AI search replaced by a recorder answering from `answers`."""
    calls, answers = [], {}

    def fake(nome, key):
        calls.append((nome, key))
        if isinstance(answers.get(nome), BaseException):
            raise answers[nome]
        return answers.get(nome)

    monkeypatch.setattr(ai_search, "buscar_cnpj_via_ai", fake)
    return types.SimpleNamespace(calls=calls, answers=answers)


def test_completo_by_ai_search(net, ai):
    net.answer("casadosdados", body=hits(count=0))
    net.answer("brasilapi", OKBR, OKBR_ANSWER)
    ai.answers["OPEN KNOWLEDGE BR"] = "19.131.243/0001-97"
    record = mod.buscar_empresa_completo(None, "OPEN KNOWLEDGE BR", None, True, "sk-test")
    assert ai.calls == [("OPEN KNOWLEDGE BR", "sk-test")] and net.logs() == []
    assert [(k, record[k]) for k in list(record)[13:]] == [("_metodo_busca", "ai_web_search"),
                                                          ("_cnpj_buscado_por_ai", True)]


@pytest.mark.parametrize(("usar", "key", "answer", "asked", "found"), [
    (False, "k", OKBR, False, False), (True, None, OKBR, False, False), (True, "", OKBR, False, False),
    (0, "k", OKBR, False, False), ("sim", "k", OKBR, True, True), ([0], "k", OKBR, True, True),
    (True, "k", None, True, False), (True, "k", "", True, False),
    (True, "k", "27865757000102", True, False),  # a CNPJ the registry does not return
    (True, "k", ModuleNotFoundError("No module named 'httpx'"), True, False),  # skipped silently
])
def test_completo_uses_the_ai_search_only_when_asked_and_keyed(spies, ai, usar, key, answer, asked, found):
    ai.answers["EMPRESA"] = answer
    spies.found[OKBR] = {"fonte": "BrasilAPI"}
    record = mod.buscar_empresa_completo(nome="EMPRESA", usar_ai_search=usar, openai_api_key=key)
    assert bool(ai.calls) == asked and (record is not None) == found


@pytest.mark.parametrize("replacement", [None, types.ModuleType("sem_funcao")])
def test_absent_ai_search_is_skipped_silently(spies, monkeypatch, caplog, replacement):
    monkeypatch.setitem(sys.modules, "quillon.contract.countries.br.ai_search", replacement)
    assert mod.buscar_empresa_completo(nome="EMPRESA", usar_ai_search=True, openai_api_key="k") is None
    monkeypatch.setitem(sys.modules, "quillon.contract.countries.br.ai_search", ai_search)
    monkeypatch.setitem(sys.modules, "openai", None)  # the real module, without its dependency
    assert mod.buscar_empresa_completo(nome="EMPRESA", usar_ai_search=True, openai_api_key="k") is None
    assert caplog.records == []


@pytest.mark.parametrize("error", [RuntimeError("quota"), ValueError("bad"), PermissionError("401")])
def test_other_ai_search_errors_reach_the_caller(spies, ai, error):
    ai.answers["EMPRESA"] = error
    with pytest.raises(type(error)):
        mod.buscar_empresa_completo(nome="EMPRESA", usar_ai_search=True, openai_api_key="k")


def test_surface_and_argument_errors(spies):
    assert mod.CASADOSDADOS_API == "https://api.casadosdados.com.br/v2/public/cnpj/search"
    assert [OWN[n].__doc__.split("\n\n", 1)[1] for n in OWN] == [
        "Busca CNPJ pelo nome da empresa usando Casa dos Dados API.",
        "Busca empresa por CNPJ ou nome.\n\nPrimeiro tenta por CNPJ, se não tiver, busca por nome.",
        "Busca empresa usando todas as estratégias disponíveis.\n\n1. Por CNPJ direto (se fornecido)\n"
        "2. Por nome na API Casa dos Dados\n3. Por nome via AI web search (se habilitado e configurado)"]
    for fn, args, kwargs, message in [
        ("buscar_cnpj_por_nome", (1,), {}, "argument 'nome_empresa' must be str or None, not int"),
        ("buscar_cnpj_por_nome", ("EMPRESA", 35), {}, "argument 'uf' must be str or None"),
        ("buscar_cnpj_por_nome", (), {"nome": "X"}, "incompatible"),
        ("buscar_empresa", (123,), {}, "argument 'cnpj' must be str or None, not int"),
        ("buscar_empresa", (None, b"X"), {}, "argument 'nome' must be str or None, not bytes"),
        ("buscar_empresa", (None,) * 4, {}, "incompatible"),
        ("buscar_empresa_completo", (), {"openai_api_key": 1}, "argument 'openai_api_key' must be str or None"),
        ("buscar_empresa_completo", (), {"uf": ["SP"]}, "argument 'uf' must be str or None, not list"),
        ("buscar_empresa_completo", (None,) * 6, {}, "incompatible"),
    ]:
        with pytest.raises(TypeError, match=message):
            OWN[fn](*args, **kwargs)
    assert spies.calls == []
