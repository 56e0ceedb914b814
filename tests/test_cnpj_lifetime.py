"""Calling the cnpj and ie entry points many times leaks neither references nor memory.

Each entry point runs over inputs that hit, miss and raise, in batches that
take a few seconds: 100,000 calls of each one that stays in the process, a few
hundred of each one that asks a (loopback) web service.  The reference counts
of the arguments and the process's resident memory must come back to where
they were once the allocator has warmed up.
"""

from __future__ import annotations

import http.server
import json
import logging
import threading

import pytest

from quillon.contract.countries.br import cnpj, ie

import lifetime
from registry_servers import published

GOOGLE = "06990590000123"
BRASIL_API = json.loads(published("brasilapi/brasilapi_active_google_qsa_representante_legal.json"))
RECEITA_WS = json.loads(published("receitaws/receitaws_ok_ltda_socios_administradores.json"))
RECEITA_ERROR = json.loads(published("receitaws/receitaws_error_cnpj_invalido.json"))
CNPJA = json.loads(published("cnpja/cnpja_office_filial_registrations_mixed_status.json"))
SEARCH = {"data": {"count": 1, "cnpj": [{"cnpj": GOOGLE}]}}
ENDERECO = {"endereco": {"logradouro": "AVENIDA BRIGADEIRO FARIA LIMA", "numero": "3477", "complemento": "ANDAR 17A20",
                         "bairro": "ITAIM BIBI", "cidade": "SAO PAULO", "uf": "SP", "cep": "04538133"}}


def tracked(arg) -> bool:
    """Whether the argument's reference count is its own (not None, "" or a cached small int,
    which the whole interpreter shares)."""
    return arg is not None and arg != "" and not isinstance(arg, int)


def assert_steady(call, inputs, calls=lifetime.CALLS, size=1000):
    """``calls`` calls cycling through ``inputs`` (tuples of arguments; a call may raise)."""
    def batch(n):
        for i in range(n):
            try:
                call(*inputs[i % len(inputs)])
            except Exception:
                pass
    lifetime.check(batch, [a for args in inputs for a in args if tracked(a)], calls, size)


# (entry point, inputs: each a hit, a miss or an error)
LOCAL = {
    "limpar_cnpj": (cnpj.limpar_cnpj, [("06.990.590/0001-23",), ("１２.ABC.345/01DE-35",), (None,), (7,)]),
    "validar_cnpj": (cnpj.validar_cnpj, [("06.990.590/0001-23",), ("06.990.590/0001-24",), ("12ABC34501DE35",),
                                         (None,), (b"x",)]),
    "formatar_cnpj": (cnpj.formatar_cnpj, [("06990590000123",), ("123",), ("",), (None,), (1.5,)]),
    "_calcular_digito_cnpj": (cnpj._calcular_digito_cnpj, [("069905900001", [5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2]),
                                                           ("06990590000!", [5] * 12), ("0", ["x"])]),
    "_normalizar_endereco": (cnpj._normalizar_endereco, [("Av. Brig. Faria Lima, 3477 - Itaim Bibi",), ("",),
                                                       (None,), (3,)]),
    "comparar_enderecos": (cnpj.comparar_enderecos, [("Avenida Brigadeiro Faria Lima 3477, São Paulo", ENDERECO),
                                                     ("Rua das Flores 1", ENDERECO), ("Rua A", {"endereco": 5}),
                                                     ("Rua A", {})]),
    "_registro_brasil_api": (cnpj._registro_brasil_api, [(BRASIL_API, GOOGLE), ({}, GOOGLE), ({"qsa": 3}, GOOGLE),
                                                         ([], GOOGLE), (BRASIL_API, 5)]),
    "_registro_receita_ws": (cnpj._registro_receita_ws, [(RECEITA_WS, GOOGLE), (RECEITA_ERROR, GOOGLE),
                                                         ({"nome": "X", "capital_social": "abc"}, GOOGLE)]),
    "_capital_social": (cnpj._capital_social, [("1.500.000,00",), ("190000.00",), ("",), ("abc",), (12,)]),
    "_cnpj_ascii": (cnpj._cnpj_ascii, [("06990590000123",), ("０６９９０５９０００01２３",), (None,)]),
    "_primeiro_resultado": (cnpj._primeiro_resultado, [(SEARCH,), ({"data": {"count": 0}},), ({"data": []},),
                                                       ({"data": {"count": 1, "cnpj": []}},)]),
    "_requisicao": (cnpj._requisicao, [("BrasilAPI", GOOGLE), ("Casa dos Dados", "GOOGLE BRASIL", "SP"),
                                       ("Nenhum", GOOGLE), ("ReceitaWS", None)]),
    "_normalize_registration": (ie._normalize_registration, [(CNPJA["registrations"][0],), ({},),
                                                             ({"type": "x"},), ([],)]),
}


@pytest.mark.parametrize("name", list(LOCAL))
def test_local_entry_points_are_steady(name):
    call, inputs = LOCAL[name]
    assert_steady(call, inputs)


class Services(http.server.BaseHTTPRequestHandler):
    """Every registry service on one loopback port: the published answers for GOOGLE, a 500
    for anything else (a miss).  It keeps no log, so the memory it uses stays flat."""

    protocol_version = "HTTP/1.1"
    ANSWERS = {"/brasilapi/" + GOOGLE: BRASIL_API, "/receitaws/" + GOOGLE: RECEITA_WS,
               "/cnpja/" + GOOGLE: CNPJA, "/search": SEARCH}

    def _answer(self):
        self.rfile.read(int(self.headers.get("Content-Length") or 0))
        answer = self.ANSWERS.get(self.path.split("?")[0])
        body = json.dumps(answer).encode() if answer is not None else b"{}"
        self.send_response(200 if answer is not None else 500)
        for name, value in (("Content-Type", "application/json; charset=utf-8"), ("Content-Length", len(body))):
            self.send_header(name, str(value))
        self.end_headers()
        self.wfile.write(body)

    do_GET = do_POST = _answer

    def log_message(self, *args):
        pass


@pytest.fixture
def quiet_services(monkeypatch):
    """The modules' URL constants on a loopback server, and their loggers dropping what they
    get (a captured record would hold the arguments the test counts)."""
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Services)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    base = f"http://127.0.0.1:{server.server_address[1]}"
    for module, constant, path in [(cnpj, "BRASIL_API_URL", "/brasilapi/{cnpj}"),
                                   (cnpj, "RECEITA_WS_URL", "/receitaws/{cnpj}"),
                                   (cnpj, "CASADOSDADOS_API", "/search"), (ie, "CNPJA_API_URL", "/cnpja/{cnpj}")]:
        monkeypatch.setattr(module, constant, base + path)
    monkeypatch.setenv("CNPJA_API_KEY", "cnpja-test-key")
    # Disabled, not merely cut off from the root: pytest also attaches its capture
    # handlers to a logger that does not propagate.
    for module in (cnpj, ie):
        monkeypatch.setattr(module.logger, "disabled", True)
    yield
    server.shutdown()
    server.server_close()


def test_web_entry_points_are_steady(quiet_services):
    missing = "11222333000181"
    # The hits are hits and the misses misses.
    assert cnpj.consultar_cnpj(GOOGLE)["fonte"] == "BrasilAPI" and cnpj.consultar_cnpj(missing) is None
    assert cnpj.buscar_cnpj_por_nome("GOOGLE BRASIL")["busca_por_nome"] is True
    assert ie.buscar_ie_por_cnpj(GOOGLE)["inscricoes_estaduais"] and ie.buscar_ie_por_cnpj(missing) is None
    for call, inputs in [
        (cnpj.consultar_cnpj, [(GOOGLE,), (missing,), ("123",), (None,)]),
        (cnpj._consultar_brasil_api, [(GOOGLE,), (missing,)]),
        (cnpj._consultar_receita_ws, [(GOOGLE,), (missing,)]),
        (cnpj.buscar_cnpj_por_nome, [("GOOGLE BRASIL", "SP"), ("GO",), (3.5,)]),
        (cnpj.buscar_empresa, [(GOOGLE,), (None, "GOOGLE BRASIL")]),
        (cnpj.buscar_empresa_completo, [(GOOGLE,), (missing, "GOOGLE BRASIL")]),
        (ie.buscar_ie_por_cnpj, [(GOOGLE,), (missing,), (5.5,)]),
    ]:
        assert_steady(call, inputs, calls=300, size=30)
