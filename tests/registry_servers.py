"""Loopback stand-ins for the registry web services, and their published answers.

Each service has its own real HTTP server on 127.0.0.1 (pytest-httpserver),
started once per session; the `net` fixture points the module URL constants at
them, clears them, sets a CNPJá key and captures the logs. `dead_ends` gives a
socket that accepts connections and never answers, and a port that refuses.
"""

from __future__ import annotations

import json
import logging
import os
import pathlib
import socket

import pytest
from pytest_httpserver import HTTPServer

from quillon.contract.countries.br import cnpj, ie

JSON = "application/json; charset=utf-8"
CNPJA_KEY = "cnpja-test-key-0123456789"
SERVICES = {  # service: (module, URL constant, path template)
    "brasilapi": (cnpj, "BRASIL_API_URL", "/api/cnpj/v1/{cnpj}"),
    "receitaws": (cnpj, "RECEITA_WS_URL", "/v1/cnpj/{cnpj}"),
    "casadosdados": (cnpj, "CASADOSDADOS_API", "/v2/public/cnpj/search"),
    "cnpja": (ie, "CNPJA_API_URL", "/office/{cnpj}"),
}
# Bodies every service is tried with.
FIFTY_MB = b"x" * (50 * 1024 * 1024)
NOT_JSON = b"<html><body>502 Bad Gateway</body></html>"
INVALID_UTF8 = b'{"razao_social": "EMPRESA \xff\xfe LTDA", "nome": "EMPRESA \xc3\x28"}'
DEEPLY_NESTED = b"[" * 200_000 + b"]" * 200_000


def _fixtures() -> pathlib.Path:
    """$QUILLON_FIXTURES, else the published data kept beside the tests."""
    if os.environ.get("QUILLON_FIXTURES"):
        return pathlib.Path(os.environ["QUILLON_FIXTURES"])
    return pathlib.Path(__file__).resolve().parent / "fixtures"


REGISTRY = _fixtures() / "registry"


def published(name: str) -> bytes:
    """A published answer ("brasilapi/<file>.json"), byte for byte."""
    return (REGISTRY / name).read_bytes()


def ordered_json(data: bytes):
    """A JSON body with objects as lists of (member, value) pairs: order kept."""
    return json.loads(data, object_pairs_hook=list)


class Net:
    def __init__(self, servers, caplog):
        self.servers, self.caplog = servers, caplog

    def answer(self, service, cnpj_digits="", body=b"", status=200, content_type=JSON):
        if not isinstance(body, bytes):
            body = json.dumps(body).encode()
        path = SERVICES[service][2].replace("{cnpj}", cnpj_digits)
        self.servers[service].expect_request(path).respond_with_data(body, status=status, content_type=content_type)

    def requests(self, service):
        return [request for request, _ in self.servers[service].log]

    def logs(self, module="cnpj"):
        """(level, msg, args) of each record of the module's logger."""
        name = f"quillon.contract.countries.br.{module}"
        return [(r.levelname, r.msg, r.args) for r in self.caplog.records if r.name == name]


@pytest.fixture(scope="session")
def registry_server_pool():
    servers = {name: HTTPServer(host="127.0.0.1", port=0) for name in SERVICES}
    for server in servers.values():
        server.start()
    yield servers
    for server in servers.values():
        server.stop()


@pytest.fixture
def net(registry_server_pool, monkeypatch, caplog):
    for name, (module, constant, path) in SERVICES.items():
        registry_server_pool[name].clear()
        monkeypatch.setattr(module, constant, registry_server_pool[name].url_for(path))
    monkeypatch.setenv("CNPJA_API_KEY", CNPJA_KEY)
    caplog.set_level(logging.DEBUG, logger="quillon")
    yield Net(registry_server_pool, caplog)
    for server in registry_server_pool.values():
        server.clear()


@pytest.fixture
def dead_ends():
    """{"silent": base URL of a socket that accepts (from its backlog) and never
    answers, "refused": base URL of a port nobody listens on}."""
    silent, refused = socket.socket(), socket.socket()
    silent.bind(("127.0.0.1", 0))
    silent.listen(16)
    refused.bind(("127.0.0.1", 0))
    urls = {name: f"http://127.0.0.1:{s.getsockname()[1]}" for name, s in (("silent", silent), ("refused", refused))}
    refused.close()
    yield urls
    silent.close()
