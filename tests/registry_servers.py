"""Loopback stand-ins for the registry web services, and their published answers.

Each service gets its own real HTTP server on 127.0.0.1 (pytest-httpserver),
started once per session and cleared after every test; the module URL
constants are pointed at it. Two more kinds of "server" cover the network
failures: a socket that accepts connections and never answers, and a port that
refuses them.
"""

from __future__ import annotations

import json
import logging
import os
import pathlib
import socket

import pytest
from pytest_httpserver import HTTPServer

from quillon.contract.countries.br import cnpj as cnpj_mod
from quillon.contract.countries.br import ie as ie_mod

CNPJ_LOGGER = "quillon.contract.countries.br.cnpj"
IE_LOGGER = "quillon.contract.countries.br.ie"


def _find_fixtures() -> pathlib.Path:
    """The shared fixtures folder: $QUILLON_FIXTURES, else shared/fixtures beside
    the repository or beside one of its parent folders (worktrees)."""
    if os.environ.get("QUILLON_FIXTURES"):
        return pathlib.Path(os.environ["QUILLON_FIXTURES"])
    repo = pathlib.Path(__file__).resolve().parent.parent
    for folder in repo.parents:
        candidate = folder / "shared" / "fixtures"
        if candidate.is_dir():
            return candidate
    raise RuntimeError("shared/fixtures not found beside the repository; set QUILLON_FIXTURES")


FIXTURES = _find_fixtures() / "registry"


def fixture_bytes(service: str, name: str) -> bytes:
    """A published answer, byte for byte."""
    return (FIXTURES / service / name).read_bytes()


def fixture_json(service: str, name: str):
    return json.loads(fixture_bytes(service, name))


def ordered_json(data: bytes) -> list:
    """A JSON body as nested lists of (member, value) pairs: member order kept."""
    return json.loads(data, object_pairs_hook=list)


def records(caplog, logger: str) -> list[tuple[str, str, tuple]]:
    """(level, msg, args) of each record of one logger."""
    return [(r.levelname, r.msg, r.args) for r in caplog.records if r.name == logger]


# --- servers ---------------------------------------------------------------
def _server():
    server = HTTPServer(host="127.0.0.1", port=0)
    server.start()
    return server


@pytest.fixture(scope="session")
def registry_server_pool():
    started = {name: _server() for name in ("brasilapi", "receitaws", "casadosdados", "cnpja")}
    yield started
    for server in started.values():
        server.clear()
        if server.is_running():
            server.stop()


def _fresh(server):
    server.clear()
    yield server
    server.clear()


@pytest.fixture
def brasilapi(registry_server_pool, monkeypatch):
    """BrasilAPI on loopback; cnpj.BRASIL_API_URL points at it."""
    server = registry_server_pool["brasilapi"]
    monkeypatch.setattr(cnpj_mod, "BRASIL_API_URL", server.url_for("/api/cnpj/v1/{cnpj}"))
    yield from _fresh(server)


@pytest.fixture
def receitaws(registry_server_pool, monkeypatch):
    """ReceitaWS on loopback; cnpj.RECEITA_WS_URL points at it."""
    server = registry_server_pool["receitaws"]
    monkeypatch.setattr(cnpj_mod, "RECEITA_WS_URL", server.url_for("/v1/cnpj/{cnpj}"))
    yield from _fresh(server)


@pytest.fixture
def casadosdados(registry_server_pool, monkeypatch):
    """Casa dos Dados on loopback; cnpj.CASADOSDADOS_API points at it."""
    server = registry_server_pool["casadosdados"]
    monkeypatch.setattr(cnpj_mod, "CASADOSDADOS_API", server.url_for("/v2/public/cnpj/search"))
    yield from _fresh(server)


@pytest.fixture
def cnpja(registry_server_pool, monkeypatch):
    """CNPJá on loopback; ie.CNPJA_API_URL points at it, a key is set."""
    server = registry_server_pool["cnpja"]
    monkeypatch.setattr(ie_mod, "CNPJA_API_URL", server.url_for("/office/{cnpj}"))
    monkeypatch.setenv("CNPJA_API_KEY", "cnpja-test-key-0123456789")
    yield from _fresh(server)


@pytest.fixture
def silent_port():
    """http://127.0.0.1:<port> of a socket that accepts connections (the kernel
    completes them from the backlog) and never answers."""
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.bind(("127.0.0.1", 0))
    sock.listen(16)
    yield f"http://127.0.0.1:{sock.getsockname()[1]}"
    sock.close()


@pytest.fixture
def refused_port():
    """http://127.0.0.1:<port> of a port nobody listens on."""
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.bind(("127.0.0.1", 0))
    port = sock.getsockname()[1]
    sock.close()
    return f"http://127.0.0.1:{port}"


@pytest.fixture
def cnpj_logs(caplog):
    caplog.set_level(logging.DEBUG, logger=CNPJ_LOGGER)
    return lambda: records(caplog, CNPJ_LOGGER)


@pytest.fixture
def ie_logs(caplog):
    caplog.set_level(logging.DEBUG, logger=IE_LOGGER)
    return lambda: records(caplog, IE_LOGGER)


# Bodies of the failure cases every service is tested with.
FIFTY_MB = 50 * 1024 * 1024
NOT_JSON = b"<html><body>502 Bad Gateway</body></html>"
INVALID_UTF8 = b'{"razao_social": "EMPRESA \xff\xfe LTDA", "nome": "EMPRESA \xc3\x28"}'
DEEPLY_NESTED = b"[" * 200_000 + b"]" * 200_000
