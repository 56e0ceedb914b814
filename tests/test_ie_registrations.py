"""State registrations (IE) through CNPJá, against a loopback CNPJá."""

from __future__ import annotations

import json
import types

import pytest
import requests

from quillon.contract.countries.br import cnpj as cnpj_mod
from quillon.contract.countries.br import ie as mod
from registry_servers import (  # noqa: F401  (fixtures)
    DEEPLY_NESTED,
    FIFTY_MB,
    INVALID_UTF8,
    NOT_JSON,
    cnpja,
    fixture_bytes,
    fixture_json,
    ie_logs,
    refused_port,
    registry_server_pool,
    silent_port,
)

AMBEV = "07526557011659"
AMBEV_FMT = "07.526.557/0116-59"
KEY = "cnpja-test-key-0123456789"
OWN_NORMALIZE = mod._normalize_registration
REG_KEYS = ["uf", "numero", "tipo", "ativa", "situacao", "data_situacao"]
NOT_SET = "%s not set; skipping CNPJá IE lookup"
FAILED = "CNPJá request failed for %s: %s"
HTTP = "CNPJá returned HTTP %s for %s"
NON_JSON = "CNPJá returned non-JSON for %s: %s"
UNEXPECTED = "CNPJá returned unexpected JSON for %s: %s"


def serve(server, body, status=200, content_type="application/json", clean=AMBEV):
    if not isinstance(body, bytes):
        body = json.dumps(body).encode()
    server.expect_request(f"/office/{clean}").respond_with_data(body, status=status, content_type=content_type)


def oracle_registration(reg):
    tipo = (reg.get("type") or {}).get("text") or "IE"
    return {"uf": reg.get("state", ""), "numero": reg.get("number", ""), "tipo": tipo,
            "ativa": bool(reg.get("enabled", False)), "situacao": (reg.get("status") or {}).get("text", ""),
            "data_situacao": reg.get("statusDate", "")}


def assert_no_key_logged(caplog):
    for record in caplog.records:
        assert KEY not in record.getMessage()
        assert "secret" not in record.getMessage()


# --- the published answer -------------------------------------------------------------------
def test_published_answer_gives_the_record(cnpja, ie_logs, caplog):
    serve(cnpja, fixture_bytes("cnpja", "cnpja_office_filial_registrations_mixed_status.json"))
    result = mod.buscar_ie_por_cnpj(AMBEV_FMT)

    assert list(result) == ["cnpj", "fonte", "inscricoes_estaduais"]
    assert result["cnpj"] == AMBEV_FMT and result["fonte"] == "CNPJá"
    published = fixture_json("cnpja", "cnpja_office_filial_registrations_mixed_status.json")["registrations"]
    assert result["inscricoes_estaduais"] == [oracle_registration(r) for r in published]
    assert all(list(r) == REG_KEYS for r in result["inscricoes_estaduais"])
    assert [(r["uf"], r["tipo"], r["situacao"]) for r in result["inscricoes_estaduais"]] == [
        ("AM", "IE Normal", "Sem restrição"),
        ("RR", "IE Substituto Tributário", "Sem restrição"),
        ("PA", "IE Substituto Tributário", "Vedada operação como Destinatário na UF"),
        ("AC", "IE Substituto Tributário", "Bloqueado como Destinatário na UF"),
    ]
    assert result["inscricoes_estaduais"][3]["numero"] == "0108826400193"

    [(request, _)] = cnpja.log
    assert (request.method, request.path) == ("GET", f"/office/{AMBEV}")
    assert list(request.args.items(multi=True)) == [("registrations", "BR")]
    assert request.headers["Authorization"] == KEY  # the key as read, no scheme word
    assert "quillon" not in request.headers.get("User-Agent", "")
    assert ie_logs() == []


def test_the_request_carries_exactly_one_header(cnpja, monkeypatch):
    calls = []
    real_get = requests.get

    def get(url, **kwargs):
        calls.append((url, kwargs))
        return real_get(url, **kwargs)

    monkeypatch.setattr(mod, "requests", types.SimpleNamespace(get=get, RequestException=requests.RequestException))
    serve(cnpja, {"registrations": []})
    mod.buscar_ie_por_cnpj(AMBEV)
    [(url, kwargs)] = calls
    assert url == cnpja.url_for(f"/office/{AMBEV}")
    assert kwargs == {"headers": {"Authorization": KEY}, "params": {"registrations": "BR"}, "timeout": 10}


@pytest.mark.parametrize("given", [AMBEV, AMBEV_FMT, f"CNPJ: {AMBEV_FMT}."])
def test_formatted_input_is_sent_as_digits_and_formatted_again(given, cnpja):
    serve(cnpja, {})
    assert mod.buscar_ie_por_cnpj(given) == {"cnpj": AMBEV_FMT, "fonte": "CNPJá", "inscricoes_estaduais": []}
    assert cnpja.log[0][0].path == f"/office/{AMBEV}"


def test_alphanumeric_cnpj_is_sent_upper_case(cnpja):
    serve(cnpja, {"registrations": []}, clean="12ABC34501DE35")
    assert mod.buscar_ie_por_cnpj("12.abc.345/01de-35")["cnpj"] == "12.ABC.345/01DE-35"


@pytest.mark.parametrize("body", [{}, None, [], "", 0, False, {"registrations": None}, {"registrations": []},
                                  {"registrations": {}}, {"taxId": AMBEV}])
def test_empty_answers_give_an_empty_list(body, cnpja, ie_logs):
    serve(cnpja, body)
    assert mod.buscar_ie_por_cnpj(AMBEV) == {"cnpj": AMBEV_FMT, "fonte": "CNPJá", "inscricoes_estaduais": []}
    assert ie_logs() == []


# --- what happens before any request -------------------------------------------------------
def test_invalid_cnpj_returns_none_without_reading_the_environment(cnpja, monkeypatch, ie_logs):
    monkeypatch.setattr(mod, "os", types.SimpleNamespace())  # any environment read would fail
    assert mod.buscar_ie_por_cnpj("07.526.557/0116-58") is None
    assert cnpja.log == [] and ie_logs() == []


@pytest.mark.parametrize("value", [None, ""])
def test_missing_key_warns_and_sends_nothing(value, cnpja, monkeypatch, ie_logs):
    if value is None:
        monkeypatch.delenv("CNPJA_API_KEY")
    else:
        monkeypatch.setenv("CNPJA_API_KEY", value)
    assert mod.buscar_ie_por_cnpj(AMBEV) is None
    assert ie_logs() == [("WARNING", NOT_SET, ("CNPJA_API_KEY",))]
    assert cnpja.log == []


def test_key_variable_name_is_read_at_call_time(cnpja, monkeypatch, ie_logs):
    monkeypatch.setattr(mod, "ENV_API_KEY", "OUTRA_CHAVE")
    monkeypatch.setenv("OUTRA_CHAVE", "k2")
    serve(cnpja, {})
    assert mod.buscar_ie_por_cnpj(AMBEV) is not None
    assert cnpja.log[0][0].headers["Authorization"] == "k2"


# --- failures of the service --------------------------------------------------------------
def test_404_returns_none_silently(cnpja, ie_logs):
    serve(cnpja, {"message": "Not Found"}, status=404)
    assert mod.buscar_ie_por_cnpj(AMBEV) is None
    assert ie_logs() == []


@pytest.mark.parametrize("status", [400, 401, 403, 429, 500, 503, 201])
def test_other_statuses_warn_with_the_code(status, cnpja, ie_logs, caplog):
    serve(cnpja, {"message": "erro"}, status=status)
    assert mod.buscar_ie_por_cnpj(AMBEV_FMT) is None
    assert ie_logs() == [("WARNING", HTTP, (status, AMBEV))]
    assert_no_key_logged(caplog)


@pytest.mark.parametrize(
    ("body", "content_type", "text"),
    [
        (NOT_JSON, "text/html", "Expecting value"),
        (b"", "application/json", "Expecting value"),
        (INVALID_UTF8, "application/json", "can't decode byte 0xff"),
        (b"x" * FIFTY_MB, "application/json", "Expecting value"),
        (DEEPLY_NESTED, "application/json", "recursion"),
    ],
    ids=["html", "empty", "invalid-utf8", "50MB", "deeply-nested"],
)
def test_bodies_that_are_not_json_warn(body, content_type, text, cnpja, ie_logs, caplog):
    serve(cnpja, body, content_type=content_type)
    assert mod.buscar_ie_por_cnpj(AMBEV) is None
    [(level, msg, args)] = ie_logs()
    assert (level, msg, args[0]) == ("WARNING", NON_JSON, AMBEV) and text in args[1]
    assert_no_key_logged(caplog)


@pytest.mark.parametrize(
    ("body", "text"),
    [
        ([{"state": "SP"}], "expected an object, got list"),
        ("OK", "expected an object, got str"),
        (42, "expected an object, got int"),
        ({"registrations": {"state": "SP"}}, "'registrations' is not a list but dict"),
        ({"registrations": "SP"}, "'registrations' is not a list but str"),
        ({"registrations": [{"state": "SP"}, "RJ"]}, "registration 1 is not an object but str"),
        ({"registrations": [None]}, "registration 0 is not an object but NoneType"),
        ({"registrations": [{"state": "SP", "type": "IE Normal"}]},
         "registration 0: registration member 'type' must be an object, not str"),
        ({"registrations": [{"state": "SP", "status": [1, "Ativa"]}]},
         "registration 0: registration member 'status' must be an object, not list"),
    ],
)
def test_answers_of_another_shape_warn_and_give_none(body, text, cnpja, ie_logs):
    serve(cnpja, body)
    assert mod.buscar_ie_por_cnpj(AMBEV) is None
    assert ie_logs() == [("WARNING", UNEXPECTED, (AMBEV, text))]


def test_server_that_never_answers_warns_after_the_timeout(silent_port, monkeypatch, ie_logs, caplog):
    monkeypatch.setenv("CNPJA_API_KEY", KEY)
    monkeypatch.setattr(mod, "CNPJA_API_URL", silent_port + "/office/{cnpj}")
    monkeypatch.setattr(mod, "REQUEST_TIMEOUT", 0.3)
    assert mod.buscar_ie_por_cnpj(AMBEV) is None
    [(level, msg, args)] = ie_logs()
    assert (level, msg, args[0]) == ("WARNING", FAILED, AMBEV) and "timed out" in args[1]
    assert_no_key_logged(caplog)


def test_refused_connection_warns(refused_port, monkeypatch, ie_logs, caplog):
    monkeypatch.setenv("CNPJA_API_KEY", KEY)
    monkeypatch.setattr(mod, "CNPJA_API_URL", refused_port + "/office/{cnpj}")
    assert mod.buscar_ie_por_cnpj(AMBEV) is None
    [(level, msg, args)] = ie_logs()
    assert (level, msg, args[0]) == ("WARNING", FAILED, AMBEV)
    assert_no_key_logged(caplog)


@pytest.mark.parametrize("key", ["secret-key-123\r", "secret-key-123\n", " secret-key-123", "secret\r\nX-Evil: 1"])
def test_a_key_requests_refuses_to_send_is_never_logged(key, cnpja, monkeypatch, ie_logs, caplog):
    # requests rejects header values with line breaks or leading white space
    # and quotes the value in its error text: the key must not reach the log.
    monkeypatch.setenv("CNPJA_API_KEY", key)
    assert mod.buscar_ie_por_cnpj(AMBEV) is None
    [(level, msg, args)] = ie_logs()
    assert (level, msg, args[0]) == ("WARNING", FAILED, AMBEV)
    assert "***" in args[1]
    assert_no_key_logged(caplog)
    assert cnpja.log == []


def test_errors_outside_the_request_family_are_not_swallowed(monkeypatch, cnpja):
    def get(url, **kwargs):
        raise RuntimeError("bug")

    monkeypatch.setattr(mod, "requests", types.SimpleNamespace(get=get, RequestException=requests.RequestException))
    with pytest.raises(RuntimeError):
        mod.buscar_ie_por_cnpj(AMBEV)


# --- call-time look-ups ---------------------------------------------------------------------
def test_cnpj_functions_are_module_attributes_bound_at_load():
    for name in ("limpar_cnpj", "validar_cnpj", "formatar_cnpj"):
        assert getattr(mod, name) is getattr(cnpj_mod, name)
    import os

    assert mod.os is os


def test_cnpj_functions_and_normalizer_are_looked_up_at_call_time(cnpja, monkeypatch):
    monkeypatch.setattr(mod, "validar_cnpj", lambda c: c == "qualquer")
    monkeypatch.setattr(mod, "limpar_cnpj", lambda c: "00000000000191")
    monkeypatch.setattr(mod, "formatar_cnpj", lambda c: f"<{c}>")
    monkeypatch.setattr(mod, "_normalize_registration", lambda reg: {"x": reg["state"]})
    serve(cnpja, {"registrations": [{"state": "SP"}]}, clean="00000000000191")
    assert mod.buscar_ie_por_cnpj("qualquer") == {"cnpj": "<00000000000191>", "fonte": "CNPJá",
                                                   "inscricoes_estaduais": [{"x": "SP"}]}


def test_constants():
    assert mod.CNPJA_API_URL == "https://api.cnpja.com/office/{cnpj}"
    assert (mod.REQUEST_TIMEOUT, mod.ENV_API_KEY, mod.DEFAULT_REGISTRATIONS_SCOPE) == (10, "CNPJA_API_KEY", "BR")
    assert mod.__all__ == ["buscar_ie_por_cnpj"]


# --- _normalize_registration ----------------------------------------------------------------
@pytest.mark.parametrize(
    ("reg", "expected"),
    [
        ({}, {"uf": "", "numero": "", "tipo": "IE", "ativa": False, "situacao": "", "data_situacao": ""}),
        ({"state": "SP", "number": "123", "enabled": True, "statusDate": "2024-01-01",
          "type": {"id": 1, "text": "IE Normal"}, "status": {"id": 1, "text": "Sem restrição"}},
         {"uf": "SP", "numero": "123", "tipo": "IE Normal", "ativa": True, "situacao": "Sem restrição",
          "data_situacao": "2024-01-01"}),
        ({"type": None, "status": None}, {"tipo": "IE", "situacao": ""}),
        ({"type": {}, "status": {}}, {"tipo": "IE", "situacao": ""}),
        ({"type": {"text": ""}, "status": {"text": None}}, {"tipo": "IE", "situacao": None}),
        ({"type": {"text": None}, "status": {"id": 2}}, {"tipo": "IE", "situacao": ""}),
        ({"type": "", "status": ""}, {"tipo": "IE", "situacao": ""}),
        ({"enabled": 1}, {"ativa": True}),
        ({"enabled": "false"}, {"ativa": True}),  # a truth value, as the service never sends
        ({"enabled": None}, {"ativa": False}),
        ({"enabled": 0}, {"ativa": False}),
        ({"state": None, "number": None, "statusDate": None}, {"uf": None, "numero": None, "data_situacao": None}),
        ({"number": 54591406}, {"numero": 54591406}),
    ],
)
def test_normalize_registration(reg, expected):
    out = OWN_NORMALIZE(reg)
    assert list(out) == REG_KEYS
    assert {k: out[k] for k in expected} == expected
    assert out == oracle_registration(reg)
    assert type(out["ativa"]) is bool


def test_normalize_registration_keeps_key_order_and_is_fresh():
    reg = {"statusDate": "d", "status": {"text": "s"}, "enabled": True, "type": {"text": "t"}, "number": "n",
           "state": "uf"}
    a, b = OWN_NORMALIZE(reg), OWN_NORMALIZE(reg)
    assert list(a.values()) == ["uf", "n", "t", True, "s", "d"] and a is not b


@pytest.mark.parametrize(("reg", "message"), [
    ({"type": "IE"}, "registration member 'type' must be an object, not str"),
    ({"status": 3}, "registration member 'status' must be an object, not int"),
])
def test_normalize_registration_rejects_members_that_are_not_objects(reg, message):
    with pytest.raises(TypeError, match=message):
        OWN_NORMALIZE(reg)


@pytest.mark.parametrize(
    ("fn", "args", "kwargs", "message"),
    [
        (OWN_NORMALIZE, ([],), {}, "_normalize_registration\\(\\) argument 'reg' must be dict, not list"),
        (OWN_NORMALIZE, (None,), {}, "argument 'reg' must be dict, not NoneType"),
        (OWN_NORMALIZE, (), {}, "incompatible function arguments"),
        (mod.buscar_ie_por_cnpj, (None,), {}, "buscar_ie_por_cnpj\\(\\) argument 'cnpj' must be str, not NoneType"),
        (mod.buscar_ie_por_cnpj, (7526557011659,), {}, "argument 'cnpj' must be str, not int"),
        (mod.buscar_ie_por_cnpj, (), {}, "incompatible function arguments"),
        (mod.buscar_ie_por_cnpj, (AMBEV,), {"cnpj": AMBEV}, "incompatible function arguments"),
    ],
)
def test_argument_errors(fn, args, kwargs, message):
    with pytest.raises(TypeError, match=message):
        fn(*args, **kwargs)


def test_keyword_arguments(cnpja):
    serve(cnpja, {})
    assert mod.buscar_ie_por_cnpj(cnpj=AMBEV)["cnpj"] == AMBEV_FMT
    assert OWN_NORMALIZE(reg={})["tipo"] == "IE"
