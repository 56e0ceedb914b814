"""State registrations (IE) through CNPJá, against a loopback CNPJá."""

import json
import types

import pytest
import requests

from quillon.contract.countries.br import cnpj as cnpj_mod
from quillon.contract.countries.br import ie as mod
from registry_servers import (  # noqa: F401  (fixtures)
    CNPJA_KEY, DEEPLY_NESTED, FIFTY_MB, INVALID_UTF8, NOT_JSON, dead_ends, net, published, registry_server_pool)

AMBEV, AMBEV_FMT = "07526557011659", "07.526.557/0116-59"
AMBEV_ANSWER = published("cnpja/cnpja_office_filial_registrations_mixed_status.json")
NORMALIZE = mod._normalize_registration
EMPTY = {"cnpj": AMBEV_FMT, "fonte": "CNPJá", "inscricoes_estaduais": []}


def oracle(reg):
    return {"uf": reg.get("state", ""), "numero": reg.get("number", ""),
            "tipo": (reg.get("type") or {}).get("text") or "IE", "ativa": bool(reg.get("enabled", False)),
            "situacao": (reg.get("status") or {}).get("text", ""), "data_situacao": reg.get("statusDate", "")}


def logs_without_key(net):
    assert not any(CNPJA_KEY in r.getMessage() or "secret" in r.getMessage() for r in net.caplog.records)
    return net.logs("ie")


@pytest.mark.parametrize("given", [AMBEV, AMBEV_FMT])
def test_published_answer_gives_the_record(net, given):
    net.answer("cnpja", AMBEV, AMBEV_ANSWER)
    result = mod.buscar_ie_por_cnpj(given)

    registrations = json.loads(AMBEV_ANSWER)["registrations"]
    assert result == {**EMPTY, "inscricoes_estaduais": [oracle(r) for r in registrations]}
    assert [list(r.values()) for r in result["inscricoes_estaduais"]][::3] == [
        ["AM", "054591406", "IE Normal", True, "Sem restrição", "2024-04-03"],
        ["AC", "0108826400193", "IE Substituto Tributário", True, "Bloqueado como Destinatário na UF", "2024-05-29"]]
    assert list(result) == list(EMPTY) and all(list(r) == list(oracle({})) for r in result["inscricoes_estaduais"])
    [request] = net.requests("cnpja")
    assert (request.method, request.path, list(request.args.items(multi=True))) == (
        "GET", f"/office/{AMBEV}", [("registrations", "BR")])
    assert request.headers["Authorization"] == CNPJA_KEY  # the key as read, no scheme word
    assert "quillon" not in request.headers["User-Agent"] and net.logs("ie") == []


def test_the_request_has_exactly_one_header(net, monkeypatch):
    calls = []
    get = lambda url, **kw: calls.append((url, kw)) or requests.get(url, **kw)  # noqa: E731
    monkeypatch.setattr(mod, "requests", types.SimpleNamespace(get=get, RequestException=requests.RequestException))
    net.answer("cnpja", "12ABC34501DE35", {})
    assert mod.buscar_ie_por_cnpj("12.abc.345/01de-35")["cnpj"] == "12.ABC.345/01DE-35"  # alphanumeric
    assert calls[0][1] == {"headers": {"Authorization": CNPJA_KEY}, "params": {"registrations": "BR"}, "timeout": 10}


@pytest.mark.parametrize("body", [{}, None, [], "", 0, {"registrations": None}, {"registrations": {}}, {"x": 1}])
def test_empty_answers_give_an_empty_list(net, body):
    net.answer("cnpja", AMBEV, body)
    assert mod.buscar_ie_por_cnpj(AMBEV) == EMPTY and net.logs("ie") == []


def test_invalid_cnpj_returns_none_before_reading_the_environment(net, monkeypatch):
    monkeypatch.setattr(mod, "os", types.SimpleNamespace())  # reading the environment would fail
    assert mod.buscar_ie_por_cnpj("07.526.557/0116-58") is None
    assert net.requests("cnpja") == net.logs("ie") == []


@pytest.mark.parametrize("value", [None, ""])
def test_missing_key_warns_and_sends_nothing(net, monkeypatch, value):
    monkeypatch.setenv("CNPJA_API_KEY", value) if value is not None else monkeypatch.delenv("CNPJA_API_KEY")
    assert mod.buscar_ie_por_cnpj(AMBEV) is None and net.requests("cnpja") == []
    assert net.logs("ie") == [("WARNING", "%s not set; skipping CNPJá IE lookup", ("CNPJA_API_KEY",))]


FAILURES = [  # id, status, body, content type, (format, last argument or a text in it) or None
    ("404", 404, b'{"message": "Not Found"}', "application/json", None),
    ("500", 500, b"erro", "text/plain", ("CNPJá returned HTTP %s for %s", AMBEV)),
    ("429", 429, b"", "text/plain", ("CNPJá returned HTTP %s for %s", AMBEV)),
    ("html", 200, NOT_JSON, "text/html", ("CNPJá returned non-JSON for %s: %s", "Expecting value")),
    ("invalid-utf8", 200, INVALID_UTF8, "application/json", ("CNPJá returned non-JSON for %s: %s", "0xff")),
    ("50MB", 200, FIFTY_MB, "application/json", ("CNPJá request failed for %s: %s", "larger than 5242880 bytes")),
    ("deeply-nested", 200, DEEPLY_NESTED, "application/json", ("CNPJá returned non-JSON for %s: %s", "recursion")),
    ("list", 200, b'[{"state": "SP"}]', "application/json", ("CNPJá returned unexpected JSON for %s: %s",
                                                               "expected an object, got list")),
    ("registrations-str", 200, b'{"registrations": "SP"}', "application/json", (
        "CNPJá returned unexpected JSON for %s: %s", "'registrations' is not a list but str")),
    ("element-str", 200, b'{"registrations": [{}, "RJ"]}', "application/json", (
        "CNPJá returned unexpected JSON for %s: %s", "registration 1 is not an object but str")),
    ("type-str", 200, b'{"registrations": [{"type": "IE Normal"}]}', "application/json", (
        "CNPJá returned unexpected JSON for %s: %s", "member 'type' must be an object, not str")),
]


@pytest.mark.parametrize(("status", "body", "content_type", "log"), [f[1:] for f in FAILURES],
                         ids=[f[0] for f in FAILURES])
def test_service_failures(net, status, body, content_type, log):
    net.answer("cnpja", AMBEV, body, status, content_type)
    assert mod.buscar_ie_por_cnpj(AMBEV_FMT) is None
    logs = logs_without_key(net)
    if log is None:
        assert logs == []
    else:
        [(level, msg, args)] = logs
        assert (level, msg) == ("WARNING", log[0]) and log[1] in str(args[-1])
        assert args == ((status, AMBEV) if "HTTP" in msg else (AMBEV, args[1]))


@pytest.mark.parametrize(("end", "key", "text"), [
    ("silent", CNPJA_KEY, "timed out"), ("refused", CNPJA_KEY, "Connection refused"),
    # requests refuses header values with line breaks or leading white space
    # and quotes the value in its error text: the key must not reach the log.
    (None, "secret-key-123\r", "***"), (None, " secret-key-123", "***"), (None, "secret\r\nX-Evil: 1", "***"),
])
def test_request_failures_warn_without_the_key(net, dead_ends, monkeypatch, end, key, text):
    monkeypatch.setenv("CNPJA_API_KEY", key)
    monkeypatch.setattr(mod, "REQUEST_TIMEOUT", 0.3)
    if end:
        monkeypatch.setattr(mod, "CNPJA_API_URL", dead_ends[end] + "/office/{cnpj}")
    assert mod.buscar_ie_por_cnpj(AMBEV) is None
    [(level, msg, (cnpj, error))] = logs_without_key(net)
    assert (level, msg, cnpj) == ("WARNING", "CNPJá request failed for %s: %s", AMBEV) and text in error


@pytest.mark.parametrize("key", ["chave-são-paulo-ā", "chave-€", "🔑"])
def test_a_key_no_header_can_carry_fails_the_request_without_raising(net, monkeypatch, key):
    # Latin-1 is what an HTTP header carries; "são" is, "ā", "€" and "🔑" are not.
    monkeypatch.setenv("CNPJA_API_KEY", key)
    net.answer("cnpja", AMBEV, AMBEV_ANSWER)
    assert mod.buscar_ie_por_cnpj(AMBEV) is None and net.requests("cnpja") == []
    [(level, msg, (cnpj, error))] = net.logs("ie")
    assert (level, msg, cnpj) == ("WARNING", "CNPJá request failed for %s: %s", AMBEV)
    assert "CNPJA_API_KEY" in error and key not in error


def test_command_takes_the_key_from_its_option(net, monkeypatch, capsys):
    from quillon import cli

    monkeypatch.delenv("CNPJA_API_KEY")
    net.answer("cnpja", AMBEV, AMBEV_ANSWER)
    assert cli.main(["ie", AMBEV_FMT, "--api-key", "chave-da-opcao"]) == 0
    assert json.loads(capsys.readouterr().out)["cnpj"] == AMBEV_FMT
    [request] = net.requests("cnpja")
    assert request.headers["Authorization"] == "chave-da-opcao"


def test_errors_outside_the_request_family_are_not_swallowed(net, monkeypatch):
    def get(url, **kw):
        raise RuntimeError("bug")

    monkeypatch.setattr(mod, "requests", types.SimpleNamespace(get=get, RequestException=requests.RequestException))
    with pytest.raises(RuntimeError):
        mod.buscar_ie_por_cnpj(AMBEV)


def test_load_time_names_are_looked_up_at_call_time(net, monkeypatch):
    import os

    assert mod.os is os and all(getattr(mod, n) is getattr(cnpj_mod, n)
                                for n in ("limpar_cnpj", "validar_cnpj", "formatar_cnpj"))
    monkeypatch.setattr(mod, "validar_cnpj", lambda c: c == "qualquer")
    monkeypatch.setattr(mod, "limpar_cnpj", lambda c: "00000000000191")
    monkeypatch.setattr(mod, "formatar_cnpj", lambda c: f"<{c}>")
    monkeypatch.setattr(mod, "_normalize_registration", lambda reg: reg["state"])
    monkeypatch.setattr(mod, "ENV_API_KEY", "OUTRA_CHAVE")
    monkeypatch.setenv("OUTRA_CHAVE", "k2")
    net.answer("cnpja", "00000000000191", {"registrations": [{"state": "SP"}]})
    assert mod.buscar_ie_por_cnpj("qualquer") == {"cnpj": "<00000000000191>", "fonte": "CNPJá",
                                                   "inscricoes_estaduais": ["SP"]}
    assert net.requests("cnpja")[0].headers["Authorization"] == "k2"


@pytest.mark.parametrize("reg", [
    {}, {"type": None, "status": None}, {"type": {}, "status": {}}, {"type": "", "status": ""},
    {"type": {"text": ""}, "status": {"text": None}}, {"type": {"text": None}, "status": {"id": 2}},
    {"enabled": 1}, {"enabled": "false"}, {"enabled": None}, {"number": 54591406},
    {"state": None, "number": None, "statusDate": None},
    {"statusDate": "d", "status": {"text": "s"}, "enabled": True, "type": {"text": "t"}, "number": "n", "state": "u"},
])
def test_normalize_registration(reg):
    out = NORMALIZE(reg)
    assert list(out.items()) == list(oracle(reg).items()) and type(out["ativa"]) is bool


def test_surface_and_argument_errors():
    assert (mod.CNPJA_API_URL, mod.REQUEST_TIMEOUT, mod.ENV_API_KEY, mod.DEFAULT_REGISTRATIONS_SCOPE) == (
        "https://api.cnpja.com/office/{cnpj}", 10, "CNPJA_API_KEY", "BR")
    assert mod.__all__ == ["buscar_ie_por_cnpj"] and NORMALIZE(reg={})["tipo"] == "IE"
    for fn, args, kwargs, message in [
        (NORMALIZE, ([],), {}, r"_normalize_registration\(\) argument 'reg' must be dict, not list"),
        (NORMALIZE, ({"status": 3},), {}, "registration member 'status' must be an object, not int"),
        (NORMALIZE, (), {}, "incompatible"),
        (mod.buscar_ie_por_cnpj, (None,), {}, r"buscar_ie_por_cnpj\(\) argument 'cnpj' must be str, not NoneType"),
        (mod.buscar_ie_por_cnpj, (AMBEV,), {"cnpj": AMBEV}, "incompatible"),
    ]:
        with pytest.raises(TypeError, match=message):
            fn(*args, **kwargs)
