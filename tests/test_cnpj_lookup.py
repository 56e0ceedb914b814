"""Online CNPJ lookup: BrasilAPI, ReceitaWS fallback and the registry record.

Every test talks to real HTTP servers on loopback (registry_servers); the
published answers of both services are the realistic cases, and a plain-Python
reading of the record rules is the oracle.
"""

from __future__ import annotations

import json
import re
import subprocess
import sys
import types

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from quillon.contract.countries.br import cnpj as mod
from registry_servers import (  # noqa: F401  (fixtures)
    DEEPLY_NESTED,
    FIFTY_MB,
    INVALID_UTF8,
    NOT_JSON,
    brasilapi,
    cnpj_logs,
    fixture_bytes,
    fixture_json,
    receitaws,
    refused_port,
    registry_server_pool,
    silent_port,
)

JSON = "application/json; charset=utf-8"
RECORD_KEYS = ["fonte", "cnpj", "razao_social", "nome_fantasia", "situacao", "data_situacao", "data_abertura",
               "natureza_juridica", "porte", "capital_social", "endereco", "email", "socios"]
ADDRESS_KEYS = ["logradouro", "numero", "complemento", "bairro", "cidade", "uf", "cep"]
PARTNER_KEYS = ["nome", "qualificacao", "data_entrada", "cpf_representante", "nome_representante",
                "qualificacao_representante"]
BRASILAPI_OK = {
    "19131243000197": "brasilapi_active_okbr_qsa_presidente.json",
    "06990590000123": "brasilapi_active_google_qsa_representante_legal.json",
    "08942107000160": "brasilapi_baixada_associacao_matriz.json",
}
RECEITAWS_OK = {
    "27865757000102": "receitaws_ok_sa_diretores.json",
    "03413465000162": "receitaws_ok_ltda_socios_administradores.json",
    "03420926004979": "receitaws_ok_baixada_sem_qsa_sem_capital.json",
}
GOOGLE = "06990590000123"
GLOBO = "27865757000102"
WARN_BRASIL = "BrasilAPI request failed for %s: %s"
WARN_RECEITA = "ReceitaWS request failed for %s: %s"
ERR_BRASIL = "Unexpected error in _consultar_brasil_api for %s"
ERR_RECEITA = "Unexpected error in _consultar_receita_ws for %s"


# --- a plain-Python oracle of the record rules --------------------------------
def oracle_formatted(clean):
    return f"{clean[:2]}.{clean[2:5]}.{clean[5:8]}/{clean[8:12]}-{clean[12:]}"


def oracle_capital(value):
    """ReceitaWS share capital: comma means Brazilian formatting; a single dot
    before one or two final digits is a decimal point; other dots group
    thousands."""
    if not isinstance(value, str):
        return value
    if value == "":
        return 0
    if "," in value:
        return float(value.replace(".", "").replace(",", "."))
    if value.count(".") == 1 and re.fullmatch(r".*\.\d{1,2}", value.strip(), flags=re.S):
        return float(value)
    return float(value.replace(".", ""))


def oracle_record(fonte, clean, data):
    brasil = fonte == "BrasilAPI"
    names = (("razao_social", "nome_fantasia", "descricao_situacao_cadastral", "data_situacao_cadastral",
              "data_inicio_atividade") if brasil else ("nome", "fantasia", "situacao", "data_situacao", "abertura"))
    if brasil:
        socios = [{"nome": s.get("nome_socio", ""), "qualificacao": s.get("qualificacao_socio", ""),
                   "data_entrada": s.get("data_entrada_sociedade", ""),
                   "cpf_representante": s.get("cpf_representante_legal", ""),
                   "nome_representante": s.get("nome_representante_legal", ""),
                   "qualificacao_representante": s.get("qualificacao_representante_legal", "")}
                  for s in data.get("qsa", [])]
        capital = data.get("capital_social", 0)
    else:
        socios = [{"nome": s.get("nome", ""), "qualificacao": s.get("qual", ""), "data_entrada": "",
                   "cpf_representante": "", "nome_representante": "", "qualificacao_representante": ""}
                  for s in data.get("qsa", [])]
        capital = oracle_capital(data.get("capital_social", "0"))
    return {
        "fonte": fonte,
        "cnpj": oracle_formatted(clean),
        "razao_social": data.get(names[0], ""),
        "nome_fantasia": data.get(names[1], ""),
        "situacao": data.get(names[2], ""),
        "data_situacao": data.get(names[3], ""),
        "data_abertura": data.get(names[4], ""),
        "natureza_juridica": data.get("natureza_juridica", ""),
        "porte": data.get("porte", ""),
        "capital_social": capital,
        "endereco": {"logradouro": data.get("logradouro", ""), "numero": data.get("numero", ""),
                     "complemento": data.get("complemento", ""), "bairro": data.get("bairro", ""),
                     "cidade": data.get("municipio", ""), "uf": data.get("uf", ""), "cep": data.get("cep", "")},
        "email": data.get("email", ""),
        "socios": socios,
    }


def ordered(value):
    """Dicts as lists of (key, value): equality then checks key order too."""
    if isinstance(value, dict):
        return [(k, ordered(v)) for k, v in value.items()]
    if isinstance(value, list):
        return [ordered(v) for v in value]
    return value


def assert_record(record, expected):
    assert ordered(record) == ordered(expected)
    assert type(record["capital_social"]) is type(expected["capital_social"])


def serve(server, path, body=b"", status=200, content_type=JSON):
    server.expect_request(path).respond_with_data(body, status=status, content_type=content_type)


def serve_brasil(server, clean, name=None, **kw):
    body = fixture_bytes("brasilapi", name or BRASILAPI_OK[clean])
    serve(server, f"/api/cnpj/v1/{clean}", body, **kw)


def serve_receita(server, clean, name=None, body=None, **kw):
    if body is None:
        body = fixture_bytes("receitaws", name or RECEITAWS_OK[clean])
    serve(server, f"/v1/cnpj/{clean}", body, **kw)


def receita_fallback_record():
    return oracle_record("ReceitaWS", GLOBO, fixture_json("receitaws", RECEITAWS_OK[GLOBO]))


# --- the published answers --------------------------------------------------------
@pytest.mark.parametrize("clean", BRASILAPI_OK)
def test_published_brasilapi_answers_give_the_record(clean, brasilapi, receitaws, cnpj_logs):
    serve_brasil(brasilapi, clean)
    record = mod.consultar_cnpj(oracle_formatted(clean))

    assert_record(record, oracle_record("BrasilAPI", clean, fixture_json("brasilapi", BRASILAPI_OK[clean])))
    assert list(record) == RECORD_KEYS
    assert list(record["endereco"]) == ADDRESS_KEYS
    assert all(list(s) == PARTNER_KEYS for s in record["socios"])
    [(request, _)] = brasilapi.log
    assert (request.method, request.path, request.query_string) == ("GET", f"/api/cnpj/v1/{clean}", b"")
    assert request.headers["User-Agent"] == mod.USER_AGENT
    assert receitaws.log == []
    assert cnpj_logs() == []


def test_brasilapi_record_of_google_keeps_the_legal_representatives(brasilapi, receitaws):
    serve_brasil(brasilapi, GOOGLE)
    record = mod.consultar_cnpj(GOOGLE)
    assert record["cnpj"] == "06.990.590/0001-23"
    assert record["razao_social"] == "GOOGLE BRASIL INTERNET LTDA."
    assert record["situacao"] == "ATIVA"
    assert record["data_situacao"] is None  # JSON null stays None
    assert record["email"] is None
    assert record["capital_social"] == 200000000 and type(record["capital_social"]) is int
    assert record["endereco"]["cidade"] == "SAO PAULO"
    assert [(s["nome"], s["nome_representante"], s["qualificacao_representante"]) for s in record["socios"]] == [
        ("GOOGLE INTERNATIONAL LLC", "YUN KI LEE", "Procurador"),
        ("GOOGLE LLC", "YUN KI LEE", "Procurador"),
        ("FABIO JOSE SILVA COELHO", "", "Não informada"),
    ]


def test_brasilapi_record_of_a_closed_company(brasilapi, receitaws):
    serve_brasil(brasilapi, "08942107000160")
    record = mod.consultar_cnpj("08.942.107/0001-60")
    assert (record["situacao"], record["data_situacao"], len(record["socios"])) == ("BAIXADA", "2012-01-04", 6)


@pytest.mark.parametrize("clean", RECEITAWS_OK)
def test_published_receitaws_answers_give_the_record_after_a_brasilapi_404(clean, brasilapi, receitaws, cnpj_logs):
    serve_brasil(brasilapi, clean, "brasilapi_404_not_found.json", status=404)
    serve_receita(receitaws, clean)
    record = mod.consultar_cnpj(clean)

    assert_record(record, oracle_record("ReceitaWS", clean, fixture_json("receitaws", RECEITAWS_OK[clean])))
    assert list(record) == RECORD_KEYS
    [(request, _)] = receitaws.log
    assert (request.method, request.path, request.query_string) == ("GET", f"/v1/cnpj/{clean}", b"")
    assert request.headers["Accept"] == "application/json"
    assert request.headers["User-Agent"] == mod.USER_AGENT
    assert cnpj_logs() == []  # a 404 is no failure worth a warning


@pytest.mark.parametrize(
    ("clean", "capital"),
    [
        # Every published ReceitaWS answer writes the capital with a decimal point.
        ("27865757000102", 6453568523.86),
        ("03413465000162", 20000.0),
        ("03420926004979", 0.0),  # no capital_social key: the default text "0"
    ],
)
def test_receitaws_capital_of_the_published_answers_is_read_at_its_value(clean, capital, brasilapi, receitaws):
    serve_brasil(brasilapi, clean, "brasilapi_404_not_found.json", status=404)
    serve_receita(receitaws, clean)
    record = mod.consultar_cnpj(clean)
    assert record["capital_social"] == capital and type(record["capital_social"]) is float


def test_receitaws_partners_have_name_and_qualification_only(brasilapi, receitaws):
    serve_brasil(brasilapi, "03413465000162", "brasilapi_404_not_found.json", status=404)
    serve_receita(receitaws, "03413465000162")
    record = mod.consultar_cnpj("03413465000162")
    assert record["socios"] == [
        {"nome": "FERNANDO ESMERALDINO DE SOUZA", "qualificacao": "49-Sócio-Administrador", "data_entrada": "",
         "cpf_representante": "", "nome_representante": "", "qualificacao_representante": ""},
        {"nome": "DIVINO CESAR DOS SANTOS", "qualificacao": "49-Sócio-Administrador", "data_entrada": "",
         "cpf_representante": "", "nome_representante": "", "qualificacao_representante": ""},
    ]


def test_receitaws_answer_without_qsa_gives_no_partners(brasilapi, receitaws):
    serve_brasil(brasilapi, "03420926004979", "brasilapi_404_not_found.json", status=404)
    serve_receita(receitaws, "03420926004979")
    record = mod.consultar_cnpj("03.420.926/0049-79")
    assert record["socios"] == [] and record["situacao"] == "BAIXADA" and record["porte"] == ""


@pytest.mark.parametrize("given", ["19.131.243/0001-97", "19131243000197", " 19.131.243/0001-97\n"])
def test_formatted_and_clean_cnpj_make_the_same_request_and_record(given, brasilapi, receitaws):
    serve_brasil(brasilapi, "19131243000197")
    record = mod.consultar_cnpj(given)
    assert record["cnpj"] == "19.131.243/0001-97"
    assert brasilapi.log[0][0].path == "/api/cnpj/v1/19131243000197"


@pytest.mark.parametrize(
    "invalid", ["12.345.678/0001-99", "123456", "00000000000000", "11111111111111", "112223330001810",
                "93ZB0VRYV6KA66", "", "sem número"])
def test_invalid_cnpj_returns_none_without_any_request(invalid, brasilapi, receitaws, cnpj_logs):
    assert mod.consultar_cnpj(invalid) is None
    assert brasilapi.log == [] and receitaws.log == [] and cnpj_logs() == []


# --- alphanumeric and non-ASCII CNPJs on the wire ------------------------------------
@pytest.mark.parametrize("given", ["12.ABC.345/01DE-35", "12abc34501de35", "12.abc.345/01de-35"])
def test_alphanumeric_cnpj_is_sent_upper_case(given, brasilapi, receitaws):
    serve(brasilapi, "/api/cnpj/v1/12ABC34501DE35", json.dumps({"razao_social": "ALFA"}).encode())
    record = mod.consultar_cnpj(given)
    assert record["cnpj"] == "12.ABC.345/01DE-35"
    assert record["razao_social"] == "ALFA"


def test_full_width_digits_are_sent_as_ascii_digits(brasilapi, receitaws, cnpj_logs):
    serve_brasil(brasilapi, "19131243000197")
    record = mod.consultar_cnpj("１９.１３１.２４３/０００１-９７")
    assert brasilapi.log[0][0].path == "/api/cnpj/v1/19131243000197"
    # The record's CNPJ is formatar_cnpj of the clean form, script kept.
    assert record["cnpj"] == "１９.１３１.２４３/０００１-９７"
    assert record["razao_social"] == "OPEN KNOWLEDGE BRASIL"


# --- BrasilAPI failures: each leads on to ReceitaWS ------------------------------------------
@pytest.mark.parametrize(
    ("status", "body"),
    [
        (404, fixture_bytes("brasilapi", "brasilapi_404_not_found.json")),
        (400, fixture_bytes("brasilapi", "brasilapi_400_invalid_cnpj.json")),
        (429, b'{"message": "Too many requests"}'),
        (500, b"Internal Server Error"),
        (503, b""),
        (204, b""),
    ],
)
def test_brasilapi_non_200_falls_back_silently(status, body, brasilapi, receitaws, cnpj_logs):
    serve(brasilapi, f"/api/cnpj/v1/{GLOBO}", body, status=status)
    serve_receita(receitaws, GLOBO)
    assert_record(mod.consultar_cnpj(GLOBO), receita_fallback_record())
    assert len(receitaws.log) == 1
    assert cnpj_logs() == []


@pytest.mark.parametrize(
    ("body", "content_type", "error_text"),
    [
        (NOT_JSON, "text/html", "Expecting value"),
        (b"", JSON, "Expecting value"),
        (b'{"razao_social": "EMPRESA"', JSON, "Expecting"),
        (INVALID_UTF8, JSON, "can't decode byte 0xff"),
        (INVALID_UTF8, "application/json", "can't decode byte 0xff"),
        (b"\xef\xbb\xbf" + json.dumps({"razao_social": "X"}).encode(), JSON, "BOM"),
        (b"x" * FIFTY_MB, JSON, "Expecting value"),
    ],
    ids=["html", "empty", "truncated", "invalid-utf8", "invalid-utf8-no-charset", "utf8-bom", "50MB"],
)
def test_brasilapi_undecodable_answer_warns_and_falls_back(body, content_type, error_text, brasilapi, receitaws,
                                                           cnpj_logs):
    serve(brasilapi, f"/api/cnpj/v1/{GLOBO}", body, content_type=content_type)
    serve_receita(receitaws, GLOBO)
    assert_record(mod.consultar_cnpj(GLOBO), receita_fallback_record())
    [(level, msg, args)] = cnpj_logs()
    assert (level, msg, args[0]) == ("WARNING", WARN_BRASIL, GLOBO)
    assert isinstance(args[1], str) and error_text in args[1]


@pytest.mark.parametrize(
    "body",
    [
        b"[]", b'["razao_social"]', b'"EMPRESA"', b"42", b"null", b"true",
        b'{"razao_social": "X", "qsa": null}',
        b'{"razao_social": "X", "qsa": "FULANO"}',
        b'{"razao_social": "X", "qsa": {"nome_socio": "FULANO"}}',
        b'{"razao_social": "X", "qsa": ["FULANO"]}',
        b'{"razao_social": "X", "qsa": [null]}',
        DEEPLY_NESTED,
    ],
    ids=["list", "list-of-str", "str", "number", "null", "true", "qsa-null", "qsa-str", "qsa-object",
         "qsa-element-str", "qsa-element-null", "deeply-nested"],
)
def test_brasilapi_answer_of_another_shape_is_an_unexpected_error(body, brasilapi, receitaws, cnpj_logs, caplog):
    serve(brasilapi, f"/api/cnpj/v1/{GLOBO}", body)
    serve_receita(receitaws, GLOBO)
    assert_record(mod.consultar_cnpj(GLOBO), receita_fallback_record())
    assert cnpj_logs() == [("ERROR", ERR_BRASIL, (GLOBO,))]
    [log_record] = [r for r in caplog.records if r.name == mod.logger.name]
    assert log_record.exc_info and isinstance(log_record.exc_info[1], Exception)
    assert "Traceback" in caplog.text or log_record.exc_info[2] is None


def test_brasilapi_that_never_answers_costs_the_timeout_then_receitaws_is_asked(silent_port, receitaws, monkeypatch,
                                                                                cnpj_logs):
    monkeypatch.setattr(mod, "BRASIL_API_URL", silent_port + "/api/cnpj/v1/{cnpj}")
    monkeypatch.setattr(mod, "REQUEST_TIMEOUT", 0.3)
    serve_receita(receitaws, GLOBO)
    assert_record(mod.consultar_cnpj(GLOBO), receita_fallback_record())
    [(level, msg, args)] = cnpj_logs()
    assert (level, msg, args[0]) == ("WARNING", WARN_BRASIL, GLOBO)
    assert "timed out" in args[1]


def test_brasilapi_refusing_the_connection_warns_and_falls_back(refused_port, receitaws, monkeypatch, cnpj_logs):
    monkeypatch.setattr(mod, "BRASIL_API_URL", refused_port + "/api/cnpj/v1/{cnpj}")
    serve_receita(receitaws, GLOBO)
    assert_record(mod.consultar_cnpj(GLOBO), receita_fallback_record())
    [(level, msg, args)] = cnpj_logs()
    assert (level, msg, args[0]) == ("WARNING", WARN_BRASIL, GLOBO)
    assert "Connection refused" in args[1] or "Max retries" in args[1]


def test_fifty_megabytes_of_json_are_read_as_any_answer(brasilapi, receitaws):
    name = "A" * FIFTY_MB
    serve(brasilapi, f"/api/cnpj/v1/{GLOBO}", json.dumps({"razao_social": name}).encode())
    record = mod.consultar_cnpj(GLOBO)
    assert record["fonte"] == "BrasilAPI" and len(record["razao_social"]) == FIFTY_MB
    assert receitaws.log == []


def test_both_services_failing_gives_none_and_two_warnings(silent_port, refused_port, monkeypatch, cnpj_logs):
    monkeypatch.setattr(mod, "BRASIL_API_URL", silent_port + "/{cnpj}")
    monkeypatch.setattr(mod, "RECEITA_WS_URL", refused_port + "/{cnpj}")
    monkeypatch.setattr(mod, "REQUEST_TIMEOUT", 0.2)
    assert mod.consultar_cnpj(GLOBO) is None
    assert [(lvl, msg) for lvl, msg, _ in cnpj_logs()] == [("WARNING", WARN_BRASIL), ("WARNING", WARN_RECEITA)]


# --- ReceitaWS failures ------------------------------------------------------------------------
@pytest.fixture
def brasil_404(brasilapi):
    serve(brasilapi, f"/api/cnpj/v1/{GLOBO}", fixture_bytes("brasilapi", "brasilapi_404_not_found.json"), status=404)
    return brasilapi


def test_receitaws_error_status_gives_none_silently(brasil_404, receitaws, cnpj_logs):
    serve_receita(receitaws, GLOBO, "receitaws_error_cnpj_invalido.json")
    assert mod.consultar_cnpj(GLOBO) is None
    assert cnpj_logs() == []


@pytest.mark.parametrize("status", [404, 429, 500, 504])
def test_receitaws_non_200_gives_none_silently(status, brasil_404, receitaws, cnpj_logs):
    serve_receita(receitaws, GLOBO, status=status, body=b'{"status": "ERROR", "message": "Too many requests"}')
    assert mod.consultar_cnpj(GLOBO) is None
    assert cnpj_logs() == []


@pytest.mark.parametrize(
    ("body", "error_text"),
    [
        (NOT_JSON, "Expecting value"),
        (INVALID_UTF8, "can't decode byte 0xff"),
        (b"x" * FIFTY_MB, "Expecting value"),
        (b'{"nome": "X", "capital_social": "abc"}', "could not convert string to float"),
        (b'{"nome": "X", "capital_social": "1,2,3"}', "could not convert string to float"),
    ],
    ids=["html", "invalid-utf8", "50MB", "capital-abc", "capital-two-commas"],
)
def test_receitaws_undecodable_answer_warns(body, error_text, brasil_404, receitaws, cnpj_logs):
    serve_receita(receitaws, GLOBO, body=body)
    assert mod.consultar_cnpj(GLOBO) is None
    [(level, msg, args)] = cnpj_logs()
    assert (level, msg, args[0]) == ("WARNING", WARN_RECEITA, GLOBO)
    assert error_text in args[1]


@pytest.mark.parametrize(
    "body", [b"[]", b"null", b'"OK"', b'{"nome": "X", "qsa": null}', b'{"nome": "X", "qsa": [1]}', DEEPLY_NESTED],
    ids=["list", "null", "str", "qsa-null", "qsa-element-number", "deeply-nested"])
def test_receitaws_answer_of_another_shape_is_an_unexpected_error(body, brasil_404, receitaws, cnpj_logs):
    serve_receita(receitaws, GLOBO, body=body)
    assert mod.consultar_cnpj(GLOBO) is None
    assert cnpj_logs() == [("ERROR", ERR_RECEITA, (GLOBO,))]


def test_receitaws_that_never_answers_gives_none_after_the_timeout(brasil_404, silent_port, monkeypatch, cnpj_logs):
    monkeypatch.setattr(mod, "RECEITA_WS_URL", silent_port + "/v1/cnpj/{cnpj}")
    monkeypatch.setattr(mod, "REQUEST_TIMEOUT", 0.3)
    assert mod.consultar_cnpj(GLOBO) is None
    [(level, msg, args)] = cnpj_logs()
    assert (level, msg) == ("WARNING", WARN_RECEITA) and "timed out" in args[1]


# --- share capital -----------------------------------------------------------------------------
@pytest.mark.parametrize(
    ("capital", "expected"),
    [
        ("1.500.000,00", 1500000.0),    # Brazilian formatting
        ("1500000,5", 1500000.5),
        ("190000.00", 190000.0),        # decimal point, as ReceitaWS publishes
        ("1000.00", 1000.0),            # not one hundred thousand
        ("6453568523.86", 6453568523.86),
        ("1.5", 1.5),
        (" 190000.00 ", 190000.0),
        ("1.500", 1500.0),              # three digits after the dot: thousands
        ("1.500.000", 1500000.0),
        ("0", 0.0),
        ("", 0),                        # the empty text is the integer 0
        (250000, 250000),               # numbers are used as they are
        (12.5, 12.5),
        (None, None),
    ],
)
def test_receitaws_share_capital(capital, expected, brasil_404, receitaws, cnpj_logs):
    serve_receita(receitaws, GLOBO, body=json.dumps({"nome": "X", "capital_social": capital}).encode())
    record = mod.consultar_cnpj(GLOBO)
    assert record["capital_social"] == expected and type(record["capital_social"]) is type(expected)
    assert cnpj_logs() == []


class _Response:
    status_code = 200
    encoding = "utf-8"

    def __init__(self, data):
        self._data = data
        self.content = json.dumps(data).encode()

    def json(self):
        return self._data


def _fake_requests(data, calls=None):
    def get(url, **kwargs):
        if calls is not None:
            calls.append((url, kwargs))
        return _Response(data)

    import requests

    return types.SimpleNamespace(get=get, RequestException=requests.RequestException)


_capital_texts = st.one_of(
    st.text(alphabet="0123456789.,- e+", max_size=14),
    st.from_regex(r"\A\s?-?\d{1,3}(\.\d{3}){0,3}(,\d{1,2})?\s?\Z", fullmatch=True),
    st.from_regex(r"\A-?\d{1,12}\.\d{1,3}\Z", fullmatch=True),
    st.text(max_size=8),
)


@settings(max_examples=400, deadline=None)
@given(_capital_texts)
def test_receitaws_share_capital_agrees_with_the_oracle(text):
    try:
        expected = oracle_capital(text)
    except ValueError:
        expected = ValueError
    saved = mod.__dict__["requests"] if "requests" in mod.__dict__ else mod.requests
    mod.requests = _fake_requests({"nome": "X", "capital_social": text})
    try:
        record = mod._consultar_receita_ws(GLOBO)
    finally:
        mod.requests = saved
    if expected is ValueError:
        assert record is None
    else:
        got = record["capital_social"]
        assert type(got) is type(expected)
        assert got == expected or (got != got and expected != expected)  # NaN


class _RawResponse(_Response):
    def __init__(self, data, content, encoding="utf-8"):
        self._data, self.content, self.encoding = data, content, encoding


@settings(max_examples=600, deadline=None)
@given(st.one_of(st.binary(max_size=24), st.text(max_size=12).map(lambda t: t.encode("utf-8", "surrogatepass"))))
def test_utf8_check_agrees_with_pythons_strict_decoder(raw):
    try:
        raw.decode("utf-8")
        valid = True
    except UnicodeDecodeError:
        valid = False
    response = _RawResponse({"razao_social": "X"}, b'{"a": "' + raw + b'"}')
    saved = mod.requests
    mod.requests = types.SimpleNamespace(get=lambda url, **kw: response, RequestException=OSError)
    try:
        record = mod._consultar_brasil_api(GLOBO)
    finally:
        mod.requests = saved
    assert (record is not None) == valid


def test_utf16_answer_without_charset_is_left_to_requests(brasilapi, receitaws, cnpj_logs):
    body = json.dumps({"razao_social": "AÇÚCAR GUARANI S.A."}, ensure_ascii=False).encode("utf-16")
    serve(brasilapi, f"/api/cnpj/v1/{GLOBO}", body, content_type="application/octet-stream")
    assert mod.consultar_cnpj(GLOBO)["razao_social"] == "AÇÚCAR GUARANI S.A."
    assert cnpj_logs() == []


def test_answer_in_a_declared_charset_is_decoded_in_it(brasilapi, receitaws):
    body = json.dumps({"razao_social": "AÇÚCAR GUARANI S.A."}, ensure_ascii=False).encode("latin-1")
    serve(brasilapi, f"/api/cnpj/v1/{GLOBO}", body, content_type="application/json; charset=iso-8859-1")
    assert mod.consultar_cnpj(GLOBO)["razao_social"] == "AÇÚCAR GUARANI S.A."


# --- values, defaults and the record ----------------------------------------------------------
def test_absent_fields_are_empty_and_nulls_and_numbers_pass_through(brasilapi, receitaws):
    body = {"razao_social": None, "porte": 5, "uf": "SP", "qsa": [{"nome_socio": "FULANA", "qualificacao_socio": None}]}
    serve(brasilapi, f"/api/cnpj/v1/{GLOBO}", json.dumps(body).encode())
    record = mod.consultar_cnpj(GLOBO)
    assert record["razao_social"] is None and record["porte"] == 5 and record["nome_fantasia"] == ""
    assert record["capital_social"] == 0 and type(record["capital_social"]) is int
    assert record["endereco"] == {"logradouro": "", "numero": "", "complemento": "", "bairro": "", "cidade": "",
                                  "uf": "SP", "cep": ""}
    assert record["socios"] == [{"nome": "FULANA", "qualificacao": None, "data_entrada": "", "cpf_representante": "",
                                 "nome_representante": "", "qualificacao_representante": ""}]


def test_brasilapi_answer_without_qsa_gives_no_partners(brasilapi, receitaws):
    serve(brasilapi, f"/api/cnpj/v1/{GLOBO}", b'{"razao_social": "X", "municipio": "RIO"}')
    record = mod.consultar_cnpj(GLOBO)
    assert record["socios"] == [] and record["endereco"]["cidade"] == "RIO"


def test_every_call_returns_fresh_records(brasilapi, receitaws):
    serve_brasil(brasilapi, GOOGLE)
    serve_brasil(brasilapi, GOOGLE)
    first, second = mod.consultar_cnpj(GOOGLE), mod.consultar_cnpj(GOOGLE)
    assert first == second and first is not second
    assert first["socios"] is not second["socios"] and first["endereco"] is not second["endereco"]


@pytest.mark.parametrize("fn", ["_consultar_brasil_api", "_consultar_receita_ws"])
def test_service_functions_ask_their_service_once(fn, brasilapi, receitaws):
    serve_brasil(brasilapi, GOOGLE, status=500)
    serve_receita(receitaws, GOOGLE, body=b'{"status": "ERROR"}')
    assert getattr(mod, fn)("06.990.590/0001-23") is None
    assert len(brasilapi.log) + len(receitaws.log) == 1


# --- call-time look-ups -----------------------------------------------------------------------
def test_consultar_cnpj_calls_the_service_functions_through_the_module(monkeypatch):
    calls = []
    monkeypatch.setattr(mod, "_consultar_brasil_api", lambda c: calls.append(("brasil", c)))
    monkeypatch.setattr(mod, "_consultar_receita_ws", lambda c: calls.append(("receita", c)) or {"fonte": "x"})
    assert mod.consultar_cnpj("27.865.757/0001-02") == {"fonte": "x"}
    assert calls == [("brasil", "27.865.757/0001-02"), ("receita", "27.865.757/0001-02")]


def test_consultar_cnpj_stops_at_the_first_record(monkeypatch):
    monkeypatch.setattr(mod, "_consultar_brasil_api", lambda c: {"fonte": "BrasilAPI"})
    monkeypatch.setattr(mod, "_consultar_receita_ws", lambda c: pytest.fail("ReceitaWS asked"))
    assert mod.consultar_cnpj(GLOBO) == {"fonte": "BrasilAPI"}


def test_validation_cleaning_and_formatting_are_looked_up_at_call_time(monkeypatch, brasilapi, receitaws):
    monkeypatch.setattr(mod, "validar_cnpj", lambda c: True)
    monkeypatch.setattr(mod, "limpar_cnpj", lambda c: "00000000000001")
    monkeypatch.setattr(mod, "formatar_cnpj", lambda c: f"<{c}>")
    serve(brasilapi, "/api/cnpj/v1/00000000000001", b'{"razao_social": "X"}')
    assert mod.consultar_cnpj("anything")["cnpj"] == "<00000000000001>"


def test_requests_and_logger_are_looked_up_at_call_time(monkeypatch, caplog):
    calls = []
    monkeypatch.setattr(mod, "requests", _fake_requests(["not", "an", "object"], calls))
    seen = []
    monkeypatch.setattr(mod, "logger", types.SimpleNamespace(error=lambda *a, **k: seen.append((a, k)),
                                                             warning=lambda *a, **k: seen.append((a, k))))
    monkeypatch.setattr(mod, "REQUEST_TIMEOUT", 3)
    assert mod._consultar_brasil_api(GLOBO) is None
    [(url, kwargs)] = calls
    assert url == mod.BRASIL_API_URL.replace("{cnpj}", GLOBO)
    assert kwargs == {"headers": {"User-Agent": mod.USER_AGENT}, "timeout": 3}
    [(args, kw)] = seen
    assert args == (ERR_BRASIL, GLOBO) and isinstance(kw["exc_info"], AttributeError)


def test_receitaws_request_arguments(monkeypatch):
    calls = []
    monkeypatch.setattr(mod, "requests", _fake_requests({"status": "ERROR"}, calls))
    assert mod._consultar_receita_ws("27.865.757/0001-02") is None
    assert calls == [(mod.RECEITA_WS_URL.replace("{cnpj}", GLOBO),
                      {"headers": {"Accept": "application/json", "User-Agent": mod.USER_AGENT}, "timeout": 10})]


def test_interrupts_are_not_swallowed(monkeypatch):
    def get(url, **kwargs):
        raise KeyboardInterrupt

    monkeypatch.setattr(mod, "requests", types.SimpleNamespace(get=get, RequestException=OSError))
    with pytest.raises(KeyboardInterrupt):
        mod._consultar_brasil_api(GLOBO)


def test_a_bad_url_constant_fails_the_call(monkeypatch):
    monkeypatch.setattr(mod, "BRASIL_API_URL", None)
    with pytest.raises(AttributeError):
        mod._consultar_brasil_api(GLOBO)


# --- the module surface -----------------------------------------------------------------------
def test_constants():
    assert mod.BRASIL_API_URL == "https://brasilapi.com.br/api/cnpj/v1/{cnpj}"
    assert mod.RECEITA_WS_URL == "https://receitaws.com.br/v1/cnpj/{cnpj}"
    assert mod.REQUEST_TIMEOUT == 10 and type(mod.REQUEST_TIMEOUT) is int
    import quillon

    assert mod.USER_AGENT.startswith(f"quillon/{quillon.__version__} (+https://")


def test_documentation_texts_and_alias():
    assert mod.consultar_cnpj_online is mod.consultar_cnpj
    for fn, doc in [
        (mod.consultar_cnpj, "Consulta CNPJ online usando BrasilAPI com fallback para ReceitaWS."),
        (mod._consultar_brasil_api, "Consulta CNPJ na BrasilAPI (fonte principal)."),
        (mod._consultar_receita_ws, "Consulta CNPJ na ReceitaWS (fallback)."),
    ]:
        assert fn.__doc__.split("\n\n", 1)[1] == doc
        assert fn.__doc__.startswith(f"{fn.__name__}(cnpj: str) -> dict[str, typing.Any] | None")


@pytest.mark.parametrize("fn", ["consultar_cnpj", "consultar_cnpj_online", "_consultar_brasil_api",
                                "_consultar_receita_ws"])
@pytest.mark.parametrize(
    ("args", "kwargs", "message"),
    [
        ((None,), {}, r"argument 'cnpj' must be str, not NoneType"),
        ((19131243000197,), {}, r"argument 'cnpj' must be str, not int"),
        ((b"19131243000197",), {}, r"argument 'cnpj' must be str, not bytes"),
        ((), {}, r"incompatible function arguments"),
        (("1", "2"), {}, r"incompatible function arguments"),
        ((), {"cnpj_limpo": "1"}, r"incompatible function arguments"),
        (("1",), {"cnpj": "1"}, r"incompatible function arguments"),
    ],
)
def test_argument_errors(fn, args, kwargs, message):
    with pytest.raises(TypeError, match=message):
        getattr(mod, fn)(*args, **kwargs)


def test_keyword_argument_is_accepted(monkeypatch):
    monkeypatch.setattr(mod, "_consultar_brasil_api", lambda c: {"k": c})
    assert mod.consultar_cnpj(cnpj=GLOBO) == {"k": GLOBO}


def test_requests_is_imported_on_first_use_only():
    code = (
        "import sys\n"
        "from quillon.contract.countries.br import cnpj, ie\n"
        "assert 'requests' not in sys.modules, 'imported at load'\n"
        "assert 'requests' not in cnpj.__dict__\n"
        "import requests as r0\n"
        "assert cnpj.requests is r0 and ie.requests is r0\n"
        "assert cnpj.__dict__['requests'] is r0\n"
        "try:\n"
        "    cnpj.no_such_attribute\n"
        "except AttributeError as e:\n"
        "    assert 'no_such_attribute' in str(e)\n"
        "else:\n"
        "    raise SystemExit('no AttributeError')\n"
        "cnpj.requests = 'patched'\n"
        "assert cnpj.requests == 'patched'\n"
        "print('ok')\n"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert out.returncode == 0, out.stderr
    assert out.stdout.strip() == "ok"


def test_requests_imported_by_a_lookup_from_cpp_side():
    code = (
        "import sys\n"
        "from quillon.contract.countries.br import cnpj\n"
        "cnpj.BRASIL_API_URL = 'http://127.0.0.1:9/{cnpj}'\n"
        "cnpj.REQUEST_TIMEOUT = 0.01\n"
        "assert cnpj._consultar_brasil_api('27865757000102') is None\n"
        "assert 'requests' in sys.modules and cnpj.__dict__['requests'] is sys.modules['requests']\n"
        "print('ok')\n"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert out.returncode == 0, out.stderr
    assert out.stdout.strip() == "ok"
