"""One description of each registry web service, shared by the module's lookups and the adapter's client."""

from __future__ import annotations

import types

import pytest

from quillon.contract.countries.br import cnpj
from quillon.registry import records

GOOGLE = "06990590000123"


class Recorder:
    """A stand-in for `requests` that notes each call and answers 404."""

    RequestException = OSError

    def __init__(self):
        self.calls = []

    def _call(self, method):
        def call(url, **options):
            self.calls.append((method, url, options))
            return types.SimpleNamespace(status_code=404)
        return call

    def __getattr__(self, name):
        return self._call(name)


@pytest.mark.parametrize(("service", "lookup", "args"), [
    ("BrasilAPI", "_consultar_brasil_api", (GOOGLE,)),
    ("ReceitaWS", "_consultar_receita_ws", (GOOGLE,)),
    ("Casa dos Dados", "buscar_cnpj_por_nome", ("GOOGLE BRASIL", "SP")),
])
def test_the_adapters_request_is_the_lookups_request(monkeypatch, service, lookup, args):
    recorder = Recorder()
    monkeypatch.setattr(cnpj, "requests", recorder)
    monkeypatch.setattr(cnpj, "USER_AGENT", "quillon-test")
    monkeypatch.setattr(cnpj, "REQUEST_TIMEOUT", 3)
    getattr(cnpj, lookup)(*args)
    assert recorder.calls == [cnpj._requisicao(service, *args)]
    method, url, options = recorder.calls[0]
    assert options["headers"]["User-Agent"] == "quillon-test"
    assert options["timeout"] == (15 if service == "Casa dos Dados" else 3)


def test_the_request_puts_the_cnpj_in_wire_form_and_reads_the_constants_now(monkeypatch):
    monkeypatch.setattr(cnpj, "BRASIL_API_URL", "http://127.0.0.1:9/{cnpj}?x={cnpj}")
    full_width = "".join(chr(0xFF10 + int(d)) for d in GOOGLE)
    assert cnpj._requisicao("BrasilAPI", full_width)[1] == f"http://127.0.0.1:9/{GOOGLE}?x={GOOGLE}"
    with pytest.raises(ValueError, match="unknown service"):
        cnpj._requisicao("CNPJá", GOOGLE)  # the ie module's own


@pytest.mark.parametrize("text", ["1.500.000,00", "200000000,00", "1234,56", "190000.00", "1.500", " 7,5 ", "abc", ""])
def test_open_data_and_receitaws_read_the_share_capital_alike(text):
    try:
        online = cnpj._capital_social(text)
    except ValueError:
        online = 0
    assert records.capital(text) == online
    assert isinstance(records.capital(text), int) == float(online).is_integer()


def test_first_hit_rule():
    first = cnpj._primeiro_resultado
    assert first({"data": {"count": 2, "cnpj": [{"cnpj": GOOGLE}, {"cnpj": "19131243000197"}]}}) == GOOGLE
    assert first({"data": {"count": 2, "cnpj": [{}, {"cnpj": GOOGLE}]}}) is None  # only the first counts
    assert first({"data": {"count": 0, "cnpj": [{"cnpj": GOOGLE}]}}) is None
    assert first({}) is None
    with pytest.raises(AttributeError):
        first({"data": []})
