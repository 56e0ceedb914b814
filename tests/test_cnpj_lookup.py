"""Online CNPJ lookup: BrasilAPI, ReceitaWS fallback and the registry record.

Real HTTP servers on loopback (registry_servers); the published answers of
both services are the realistic cases, a plain-Python reading of the record
rules is the oracle.
"""

import json
import re
import subprocess
import sys
import types
from concurrent.futures import ThreadPoolExecutor

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from quillon.contract.countries.br import cnpj as mod
from registry_servers import (  # noqa: F401  (fixtures)
    DEEPLY_NESTED, FIFTY_MB, INVALID_UTF8, JSON, NOT_JSON, SERVICES, dead_ends, net, published,
    registry_server_pool)

GLOBO, GOOGLE = "27865757000102", "06990590000123"
NOT_FOUND = published("brasilapi/brasilapi_404_not_found.json")


# --- a plain-Python oracle of the record rules ----------------------------------
def formatted(c):
    return f"{c[:2]}.{c[2:5]}.{c[5:8]}/{c[8:12]}-{c[12:]}"


def oracle_capital(value):
    """A comma means Brazilian formatting; a single dot before one or two final
    digits is a decimal point; other dots group thousands."""
    if not isinstance(value, str):
        return value
    if value == "":
        return 0
    if "," in value:
        return float(value.replace(".", "").replace(",", "."))
    if value.count(".") == 1 and re.fullmatch(r".*\.\d{1,2}", value.strip(), flags=re.S):
        return float(value)
    return float(value.replace(".", ""))


def oracle_record(service, clean, d):
    br = service == "brasilapi"
    names = ("razao_social", "nome_fantasia", "descricao_situacao_cadastral", "data_situacao_cadastral",
             "data_inicio_atividade") if br else ("nome", "fantasia", "situacao", "data_situacao", "abertura")
    partner = (("nome_socio", "qualificacao_socio", "data_entrada_sociedade", "cpf_representante_legal",
                "nome_representante_legal", "qualificacao_representante_legal") if br else ("nome", "qual"))
    keys = ("nome", "qualificacao", "data_entrada", "cpf_representante", "nome_representante",
            "qualificacao_representante")
    return {
        "fonte": "BrasilAPI" if br else "ReceitaWS", "cnpj": formatted(clean),
        **{k: d.get(n, "") for k, n in zip(("razao_social", "nome_fantasia", "situacao", "data_situacao",
                                             "data_abertura"), names)},
        "natureza_juridica": d.get("natureza_juridica", ""), "porte": d.get("porte", ""),
        "capital_social": d.get("capital_social", 0) if br else oracle_capital(d.get("capital_social", "0")),
        "endereco": {k: d.get(n, "") for k, n in zip(("logradouro", "numero", "complemento", "bairro", "cidade",
                                                       "uf", "cep"), ("logradouro", "numero", "complemento",
                                                                      "bairro", "municipio", "uf", "cep"))},
        "email": d.get("email", ""),
        "socios": [{k: s.get(n, "") for k, n in zip(keys, partner + ("",) * 4)} | (
            {} if br else dict.fromkeys(keys[2:], "")) for s in d.get("qsa", [])],
    }


def ordered(v):
    """Dicts as lists of pairs, so that equality checks key order too."""
    return [(k, ordered(x)) for k, x in v.items()] if isinstance(v, dict) else (
        [ordered(x) for x in v] if isinstance(v, list) else (type(v), v))


# --- the published answers ----------------------------------------------------------
@pytest.mark.parametrize(("service", "clean", "name", "capital"), [
    ("brasilapi", "19131243000197", "brasilapi_active_okbr_qsa_presidente.json", 0),
    ("brasilapi", GOOGLE, "brasilapi_active_google_qsa_representante_legal.json", 200000000),
    ("brasilapi", "08942107000160", "brasilapi_baixada_associacao_matriz.json", 0),
    # ReceitaWS writes the capital with a decimal point: read at its value.
    ("receitaws", GLOBO, "receitaws_ok_sa_diretores.json", 6453568523.86),
    ("receitaws", "03413465000162", "receitaws_ok_ltda_socios_administradores.json", 20000.0),
    ("receitaws", "03420926004979", "receitaws_ok_baixada_sem_qsa_sem_capital.json", 0.0),  # no capital, no qsa
])
def test_published_answers_give_the_record(net, service, clean, name, capital):
    body = published(f"{service}/{name}")
    net.answer("brasilapi", clean, *((body,) if service == "brasilapi" else (NOT_FOUND, 404)))
    net.answer("receitaws", clean, body)
    record = mod.consultar_cnpj(formatted(clean))

    assert ordered(record) == ordered(oracle_record(service, clean, json.loads(body)))
    assert (record["capital_social"], type(record["capital_social"])) == (capital, type(capital))
    [request] = net.requests(service)
    path = SERVICES[service][2].replace("{cnpj}", clean)
    assert (request.method, request.path, request.query_string) == ("GET", path, b"")
    assert request.headers["User-Agent"] == mod.USER_AGENT
    assert request.headers.get("Accept") == ("application/json" if service == "receitaws" else "*/*")
    assert len(net.requests("receitaws")) == (service == "receitaws")
    assert net.logs() == []  # a 404 is no failure worth a warning


def test_record_values_pass_through(net):
    net.answer("brasilapi", GOOGLE, published("brasilapi/brasilapi_active_google_qsa_representante_legal.json"))
    record = mod.consultar_cnpj(GOOGLE)
    assert (record["data_situacao"], record["email"], record["endereco"]["cidade"]) == (None, None, "SAO PAULO")
    assert [(s["nome"], s["nome_representante"]) for s in record["socios"]] == [
        ("GOOGLE INTERNATIONAL LLC", "YUN KI LEE"), ("GOOGLE LLC", "YUN KI LEE"), ("FABIO JOSE SILVA COELHO", "")]
    net.answer("brasilapi", GLOBO, {"razao_social": "GLOBO", "porte": 5,
                                    "qsa": [{"nome_socio": "F", "qualificacao_socio": None}]})
    record = mod.consultar_cnpj(GLOBO)
    assert (record["porte"], record["nome_fantasia"], record["capital_social"]) == (5, "", 0)
    assert record["socios"][0]["qualificacao"] is None and record["endereco"]["cidade"] == ""


@pytest.mark.parametrize(("given", "path", "cnpj"), [
    ("19.131.243/0001-97", "19131243000197", "19.131.243/0001-97"),
    (" 19131243000197\n", "19131243000197", "19.131.243/0001-97"),
    ("12.abc.345/01de-35", "12ABC34501DE35", "12.ABC.345/01DE-35"),   # alphanumeric, sent upper-case
    # Full-width digits go on the wire as ASCII; the record keeps formatar_cnpj's form.
    ("１９.１３１.２４３/０００１-９７", "19131243000197", "１９.１３１.２４３/０００１-９７"),
])
def test_the_clean_cnpj_goes_on_the_wire(net, given, path, cnpj):
    net.answer("brasilapi", path, {"razao_social": "X"})
    assert mod.consultar_cnpj(given)["cnpj"] == cnpj


@pytest.mark.parametrize("invalid", ["12.345.678/0001-99", "123456", "00000000000000", "112223330001810",
                                     "93ZB0VRYV6KA66", "", "sem número"])
def test_invalid_cnpj_sends_nothing(net, invalid):
    assert mod.consultar_cnpj(invalid) is None
    assert net.requests("brasilapi") == net.requests("receitaws") == net.logs() == []


# --- failures: BrasilAPI's lead on to ReceitaWS, ReceitaWS's give None ---------------------
FAILURES = [  # id, status, body, content type, (level, text in the error) or None
    ("404", 404, NOT_FOUND, JSON, None),
    ("400", 400, published("brasilapi/brasilapi_400_invalid_cnpj.json"), JSON, None),
    ("429", 429, b'{"message": "Too many requests"}', JSON, None),
    ("500", 500, b"Internal Server Error", "text/plain", None),
    ("html", 200, NOT_JSON, "text/html", ("WARNING", "Expecting value")),
    ("empty", 200, b"", JSON, ("WARNING", "Expecting value")),
    ("invalid-utf8", 200, INVALID_UTF8, "application/json", ("WARNING", "can't decode byte 0xff")),
    ("50MB", 200, FIFTY_MB, JSON, ("WARNING", "larger than 5242880 bytes")),  # not read past 5 MiB
    ("list", 200, b"[]", JSON, ("ERROR", None)),
    ("null", 200, b"null", JSON, ("ERROR", None)),
    ("qsa-null", 200, b'{"qsa": null}', JSON, ("ERROR", None)),
    ("qsa-str", 200, b'{"qsa": "FULANO"}', JSON, ("ERROR", None)),
    ("qsa-element", 200, b'{"qsa": [1]}', JSON, ("ERROR", None)),
    ("deeply-nested", 200, DEEPLY_NESTED, JSON, ("ERROR", None)),
]


def expect_log(logs, service, log):
    name, fn = ("BrasilAPI", "_consultar_brasil_api") if service == "brasilapi" else (
        "ReceitaWS", "_consultar_receita_ws")
    if log is None:
        assert logs == []
    elif log[0] == "WARNING":
        [(level, msg, (cnpj, text))] = logs
        assert (level, msg, cnpj) == ("WARNING", f"{name} request failed for %s: %s", GLOBO) and log[1] in text
    else:
        assert logs == [("ERROR", f"Unexpected error in {fn} for %s", (GLOBO,))]


@pytest.mark.parametrize("service", ["brasilapi", "receitaws"])
@pytest.mark.parametrize(("status", "body", "content_type", "log"), [f[1:] for f in FAILURES],
                         ids=[f[0] for f in FAILURES])
def test_service_failures(net, service, status, body, content_type, log):
    receitaws = published("receitaws/receitaws_ok_sa_diretores.json")
    net.answer("brasilapi", GLOBO, *((body, status, content_type) if service == "brasilapi" else (NOT_FOUND, 404)))
    net.answer("receitaws", GLOBO, *((receitaws,) if service == "brasilapi" else (body, status, content_type)))
    record = mod.consultar_cnpj(GLOBO)
    if service == "brasilapi":
        assert ordered(record) == ordered(oracle_record("receitaws", GLOBO, json.loads(receitaws)))
    else:
        assert record is None
    expect_log(net.logs(), service, log)
    if log and log[0] == "ERROR":
        [error] = [r for r in net.caplog.records if r.levelname == "ERROR"]
        assert isinstance(error.exc_info[1], Exception)  # with its stack trace


@pytest.mark.parametrize("service", ["brasilapi", "receitaws"])
@pytest.mark.parametrize(("end", "text"), [("silent", "timed out"), ("refused", "Connection refused")])
def test_network_failures(net, dead_ends, monkeypatch, service, end, text):
    # A service that never answers costs REQUEST_TIMEOUT, then the next is asked.
    monkeypatch.setattr(mod, "REQUEST_TIMEOUT", 0.3)
    constant = "BRASIL_API_URL" if service == "brasilapi" else "RECEITA_WS_URL"
    monkeypatch.setattr(mod, constant, dead_ends[end] + "/{cnpj}")
    net.answer("brasilapi", GLOBO, NOT_FOUND, 404)
    net.answer("receitaws", GLOBO, {"nome": "GLOBO"})
    assert (mod.consultar_cnpj(GLOBO) or {}).get("razao_social") == ("GLOBO" if service == "brasilapi" else None)
    expect_log(net.logs(), service, ("WARNING", text))


def test_receitaws_error_status_gives_none_silently(net):
    net.answer("brasilapi", GLOBO, NOT_FOUND, 404)
    net.answer("receitaws", GLOBO, published("receitaws/receitaws_error_cnpj_invalido.json"))
    assert mod.consultar_cnpj(GLOBO) is None and net.logs() == []


def test_an_answer_longer_than_five_mebibytes_is_no_answer(net):
    net.answer("brasilapi", GLOBO, b'{"razao_social": "' + FIFTY_MB + b'"}')
    net.answer("receitaws", GLOBO, {"nome": "GLOBO"})
    assert mod.consultar_cnpj(GLOBO)["razao_social"] == "GLOBO"
    expect_log(net.logs(), "brasilapi", ("WARNING", "larger than 5242880 bytes"))


@pytest.mark.parametrize(("content_type", "encoding"), [("application/octet-stream", "utf-16"),
                                                         ("application/json; charset=iso-8859-1", "latin-1")])
def test_answers_in_other_encodings_are_left_to_requests(net, content_type, encoding):
    body = json.dumps({"razao_social": "AÇÚCAR GUARANI S.A."}, ensure_ascii=False).encode(encoding)
    net.answer("brasilapi", GLOBO, body, content_type=content_type)
    assert mod.consultar_cnpj(GLOBO)["razao_social"] == "AÇÚCAR GUARANI S.A." and net.logs() == []


# --- share capital ----------------------------------------------------------------------
@pytest.mark.parametrize(("capital", "expected"), [
    ("1.500.000,00", 1500000.0), ("190000.00", 190000.0), ("1000.00", 1000.0), ("1.5", 1.5),
    (" 190000.00 ", 190000.0), ("1.500", 1500.0), ("1.500.000", 1500000.0), ("", 0), (250000, 250000),
    (None, None), ("abc", ValueError), ("1,2,3", ValueError),
])
def test_receitaws_share_capital(net, capital, expected):
    net.answer("brasilapi", GLOBO, NOT_FOUND, 404)
    net.answer("receitaws", GLOBO, {"nome": "X", "capital_social": capital})
    record = mod.consultar_cnpj(GLOBO)
    if expected is ValueError:
        assert record is None
        expect_log(net.logs(), "receitaws", ("WARNING", "could not convert string to float"))
    else:
        assert (record["capital_social"], type(record["capital_social"])) == (expected, type(expected))


def stand_in(content, data, calls=None):
    """A `requests` whose get answers at once, recording its arguments."""
    response = types.SimpleNamespace(status_code=200, encoding="utf-8", content=content, json=lambda: data)
    calls = [] if calls is None else calls
    return types.SimpleNamespace(get=lambda url, **kw: calls.append((url, kw)) or response, RequestException=OSError)


@settings(max_examples=300, deadline=None)
@given(capital=st.one_of(st.from_regex(r"\A\s?-?\d{1,3}(\.\d{3}){0,3}(,\d{1,2})?\s?\Z"),
                         st.from_regex(r"\A-?\d{1,9}\.\d{1,3}\Z"), st.text("0123456789.,- e", max_size=12)),
       raw=st.binary(max_size=16))
def test_capital_and_utf8_check_agree_with_python(capital, raw):
    try:
        expected = oracle_capital(capital)
        raw.decode("utf-8")
    except (ValueError, UnicodeDecodeError):
        expected = None
    saved, mod.requests = mod.requests, stand_in(b'{"nome": "' + raw + b'"}', {"nome": "X", "capital_social": capital})
    try:
        record = mod._consultar_receita_ws(GLOBO)
    finally:
        mod.requests = saved
    got = record and record["capital_social"]
    assert (got, type(got)) == (expected, type(expected)) or (got != got and expected != expected)  # NaN


# --- call-time look-ups and the module surface --------------------------------------------
def test_collaborators_are_looked_up_at_call_time(monkeypatch):
    calls, seen = [], []
    monkeypatch.setattr(mod, "requests", stand_in(b"[]", [], calls))
    monkeypatch.setattr(mod, "logger", types.SimpleNamespace(error=lambda *a, **k: seen.append((a, k))))
    monkeypatch.setattr(mod, "REQUEST_TIMEOUT", 3)
    monkeypatch.setattr(mod, "limpar_cnpj", lambda c: "00000000000191")
    assert mod._consultar_brasil_api(GLOBO) is None
    assert calls == [(mod.BRASIL_API_URL.replace("{cnpj}", "00000000000191"),
                      {"headers": {"User-Agent": mod.USER_AGENT}, "timeout": 3})]
    [((fmt, cnpj), kw)] = seen
    assert (fmt, cnpj, type(kw["exc_info"])) == ("Unexpected error in _consultar_brasil_api for %s",
                                                 "00000000000191", AttributeError)
    order = []
    monkeypatch.setattr(mod, "validar_cnpj", lambda c: True)
    monkeypatch.setattr(mod, "_consultar_brasil_api", lambda c: order.append(("brasil", c)))
    monkeypatch.setattr(mod, "_consultar_receita_ws", lambda c: order.append(("receita", c)) or {"ok": 1})
    assert mod.consultar_cnpj("x") == {"ok": 1} and order == [("brasil", "x"), ("receita", "x")]


def test_interrupts_pass_through(monkeypatch):
    monkeypatch.setattr(mod, "requests", types.SimpleNamespace(get=lambda *a, **k: (_ for _ in ()).throw(
        KeyboardInterrupt), RequestException=OSError))
    with pytest.raises(KeyboardInterrupt):
        mod._consultar_brasil_api(GLOBO)


def test_surface():
    import quillon

    assert (mod.BRASIL_API_URL, mod.RECEITA_WS_URL, mod.REQUEST_TIMEOUT) == (
        "https://brasilapi.com.br/api/cnpj/v1/{cnpj}", "https://receitaws.com.br/v1/cnpj/{cnpj}", 10)
    assert mod.USER_AGENT.startswith(f"quillon/{quillon.__version__} (+https://")
    assert mod.consultar_cnpj_online is mod.consultar_cnpj
    for fn, doc in [(mod.consultar_cnpj, "Consulta CNPJ online usando BrasilAPI com fallback para ReceitaWS."),
                    (mod._consultar_brasil_api, "Consulta CNPJ na BrasilAPI (fonte principal)."),
                    (mod._consultar_receita_ws, "Consulta CNPJ na ReceitaWS (fallback).")]:
        assert fn.__doc__ == f"{fn.__name__}(cnpj: str) -> dict[str, typing.Any] | None\n\n{doc}"


@pytest.mark.parametrize("fn", [mod.consultar_cnpj, mod._consultar_brasil_api, mod._consultar_receita_ws])
@pytest.mark.parametrize(("args", "kwargs", "message"), [
    ((None,), {}, "argument 'cnpj' must be str, not NoneType"), ((19131243000197,), {}, "must be str, not int"),
    ((), {}, "incompatible"), (("1", "2"), {}, "incompatible"), ((), {"cnpj_limpo": "1"}, "incompatible")])
def test_argument_errors(fn, args, kwargs, message):
    with pytest.raises(TypeError, match=message):
        fn(*args, **kwargs)


def test_requests_is_imported_on_first_use():
    code = ("import sys; from quillon.contract.countries.br import cnpj, ie\n"
            "assert 'requests' not in sys.modules and 'requests' not in vars(cnpj)\n"
            "cnpj.BRASIL_API_URL, cnpj.REQUEST_TIMEOUT = 'http://127.0.0.1:9/{cnpj}', 0.01\n"
            "assert cnpj._consultar_brasil_api('27865757000102') is None\n"  # loaded from C++
            "assert vars(cnpj)['requests'] is sys.modules['requests'] is ie.requests\n"
            "try: cnpj.nothing\nexcept AttributeError as e: assert 'nothing' in str(e)\n")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert out.returncode == 0, out.stderr


def test_lookups_on_several_threads_at_once(net):
    body = published("brasilapi/brasilapi_active_google_qsa_representante_legal.json")
    net.answer("brasilapi", GOOGLE, body)
    with ThreadPoolExecutor(max_workers=8) as pool:
        records = list(pool.map(lambda _: mod.consultar_cnpj(GOOGLE), range(32)))
    assert all(ordered(r) == ordered(oracle_record("brasilapi", GOOGLE, json.loads(body))) for r in records)
    assert len({id(r["socios"]) for r in records}) == 32  # fresh records
