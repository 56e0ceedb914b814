"""Every registry lookup is bounded: in time (the whole exchange within its time-out), in
memory (at most 5 MiB of answer, decompressed, ever read), and an answer that does not
name the company is no answer.  Against real loopback servers that trickle, flood and bomb."""

from __future__ import annotations

import json
import subprocess
import sys
import time

import pytest
import requests

from hostile_servers import flood, gzip_bomb, hostile, trickle_body, trickle_headers
from quillon import bounded_requests
from quillon.contract.countries.br import cnpj, ie
from quillon.registry import open_store
from quillon.registry.online import OnlineClient
from registry_servers import net, published, registry_server_pool  # noqa: F401  (fixtures)

GLOBO, AMBEV = "27865757000102", "07526557011659"
TIMEOUT = 1  # seconds: every call below must give up within TIMEOUT + 1
MiB = 1 << 20


# --- time: a server that trickles one byte a second ------------------------------------------
def _within_the_time_out(call):
    started = time.monotonic()
    result = call()
    elapsed = time.monotonic() - started
    assert elapsed < TIMEOUT + 1, f"{elapsed:.1f} s for a time-out of {TIMEOUT} s"
    return result


@pytest.mark.parametrize("trickle", [trickle_headers, trickle_body], ids=["headers", "body"])
def test_module_lookups_give_up_at_their_time_out(net, monkeypatch, trickle):
    with hostile(trickle) as base:
        monkeypatch.setattr(cnpj, "REQUEST_TIMEOUT", TIMEOUT)
        monkeypatch.setattr(ie, "REQUEST_TIMEOUT", TIMEOUT)
        monkeypatch.setattr(cnpj, "BRASIL_API_URL", base + "/api/cnpj/v1/{cnpj}")
        monkeypatch.setattr(ie, "CNPJA_API_URL", base + "/office/{cnpj}")
        assert _within_the_time_out(lambda: cnpj._consultar_brasil_api(GLOBO)) is None
        assert _within_the_time_out(lambda: ie.buscar_ie_por_cnpj(AMBEV)) is None
    [(level, _, (_, error))] = net.logs()
    assert level == "WARNING" and "timed out" in error
    [(level, fmt, (_, error))] = net.logs("ie")
    assert (level, fmt) == ("WARNING", "CNPJá request failed for %s: %s") and "timed out" in error


@pytest.mark.parametrize("trickle", [trickle_headers, trickle_body], ids=["headers", "body"])
def test_the_adapter_client_gives_up_at_its_time_out(net, monkeypatch, trickle):
    with hostile(trickle) as base:
        monkeypatch.setattr(cnpj, "REQUEST_TIMEOUT", TIMEOUT)
        monkeypatch.setattr(cnpj, "BRASIL_API_URL", base + "/api/cnpj/v1/{cnpj}")
        net.answer("receitaws", GLOBO, status=404)
        answer = _within_the_time_out(lambda: OnlineClient().consult(GLOBO))
    assert answer.record is None and answer.unavailable is None  # ReceitaWS knows: no such company
    # The search by name: its 15-second literal is the time-out the bounded post enforces.
    with hostile(trickle) as base:
        with pytest.raises(bounded_requests.DeadlineExceeded, match="timed out"):
            _within_the_time_out(lambda: bounded_requests.post(base + "/search", json={}, timeout=TIMEOUT))


def test_a_session_used_again_stays_bounded(net):
    # The client keeps its session per thread: every exchange through it is bounded, a connection taken again too.
    body = published("brasilapi/brasilapi_active_okbr_qsa_presidente.json")
    net.answer("brasilapi", "19131243000197", body)
    net.answer("brasilapi", "19131243000197", body)
    session = bounded_requests.new_session()
    url = cnpj.BRASIL_API_URL.replace("{cnpj}", "19131243000197")
    for _ in range(2):
        assert bounded_requests.get(url, session=session, timeout=TIMEOUT).json()["cnpj"] == "19131243000197"
    with hostile(trickle_body) as base:
        with pytest.raises(bounded_requests.DeadlineExceeded):
            _within_the_time_out(lambda: bounded_requests.get(base + "/x", session=session, timeout=TIMEOUT))


# --- memory: a gzip bomb and a 200 MB body --------------------------------------------------
PROBE = r"""
import json, logging, os, sys

logging.basicConfig(level=logging.WARNING, format="%(message)s", stream=sys.stderr)
base, which = sys.argv[1], sys.argv[2]
from quillon.contract.countries.br import cnpj, ie
import requests  # loaded before the peak is reset, as a lookup would load it

cnpj.BRASIL_API_URL = cnpj.RECEITA_WS_URL = base + "/{cnpj}"
cnpj.CASADOSDADOS_API = base + "/search"
ie.CNPJA_API_URL = base + "/office/{cnpj}"
os.environ["CNPJA_API_KEY"] = "key"
if which == "client":
    from quillon.registry.online import OnlineClient
    client = OnlineClient()

def kib(field):
    return int(open("/proc/self/status").read().split(field + ":")[1].split()[0]) * 1024

before = kib("VmRSS")
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")  # the peak starts again from here
result = {
    "consultar_cnpj": lambda: cnpj.consultar_cnpj("27865757000102"),
    "buscar_ie_por_cnpj": lambda: ie.buscar_ie_por_cnpj("07526557011659"),
    "buscar_cnpj_por_nome": lambda: cnpj.buscar_cnpj_por_nome("EMPRESA X"),
    "client": lambda: client.consult("27865757000102").unavailable,
}[which]()
print(json.dumps({"result": result, "before": before, "peak": kib("VmHWM")}))
"""


@pytest.mark.parametrize("server", [gzip_bomb, flood], ids=["gzip-bomb", "200MB"])
@pytest.mark.parametrize("which", ["consultar_cnpj", "buscar_ie_por_cnpj", "buscar_cnpj_por_nome", "client"])
def test_lookups_read_at_most_five_mebibytes(server, which):
    with hostile(server) as base:
        done = subprocess.run([sys.executable, "-c", PROBE, base, which], capture_output=True, text=True,
                              timeout=120)
    assert done.returncode == 0, done.stderr
    probe = json.loads(done.stdout)
    if which == "client":
        # The client loads more at start (the breakers' module); what the lookup adds is bounded.
        assert probe["result"] == "BrasilAPI: resposta grande demais; ReceitaWS: resposta grande demais"
        assert probe["peak"] - probe["before"] <= 16 * MiB, probe
    else:
        assert probe["result"] is None
        assert probe["peak"] <= 64 * MiB, probe
    assert "larger than 5242880 bytes" in done.stderr


def test_an_answer_within_the_cap_is_read_whole_and_decompressed(net):
    import gzip

    answer = published("brasilapi/brasilapi_active_okbr_qsa_presidente.json")
    net.servers["brasilapi"].expect_request("/api/cnpj/v1/19131243000197").respond_with_data(
        gzip.compress(answer), content_type="application/json", headers={"Content-Encoding": "gzip"})
    assert cnpj.consultar_cnpj("19131243000197")["razao_social"] == json.loads(answer)["razao_social"]
    [request] = net.requests("brasilapi")
    assert request.headers["Accept-Encoding"] == "gzip, deflate"  # only what is decompressed here


@pytest.mark.parametrize("coding", ["deflate-zlib", "deflate-raw", "gzip-two-members"])
def test_every_form_of_compression_is_read(net, coding):
    import zlib

    body = b'{"razao_social": "EMPRESA"}'
    if coding == "deflate-zlib":
        data, header = zlib.compress(body), "deflate"
    elif coding == "deflate-raw":
        packer = zlib.compressobj(6, zlib.DEFLATED, -zlib.MAX_WBITS)
        data, header = packer.compress(body) + packer.flush(), "deflate"
    else:
        import gzip

        data, header = gzip.compress(body[:10]) + gzip.compress(body[10:]), "gzip"
    net.servers["brasilapi"].expect_request("/api/cnpj/v1/" + GLOBO).respond_with_data(
        data, content_type="application/json", headers={"Content-Encoding": header})
    assert cnpj._consultar_brasil_api(GLOBO)["razao_social"] == "EMPRESA"


def test_a_stand_in_for_requests_is_called_as_the_module_calls_it(monkeypatch):
    # Patched, requests.get is called with the module's own arguments (no bounds of ours added).
    calls = []
    monkeypatch.setattr(requests, "get", lambda url, **kw: calls.append(kw) or (_ for _ in ()).throw(
        requests.ConnectionError("no")))
    assert cnpj._consultar_brasil_api(GLOBO) is None
    assert calls == [{"headers": {"User-Agent": cnpj.USER_AGENT}, "timeout": 10}]
    assert bounded_requests.for_module(requests, "get") is requests.get


# --- an answer that does not name the company is no answer -----------------------------------
@pytest.mark.parametrize("body", [{}, {"cnpj": GLOBO}, {"razao_social": ""}, {"razao_social": None},
                                  {"razao_social": "  "}, {"message": "erro", "type": "bad_request"}])
def test_brasilapi_without_the_legal_name_falls_back(net, body):
    net.answer("brasilapi", GLOBO, body)
    net.answer("receitaws", GLOBO, {"nome": "GLOBO COMUNICACAO"})
    record = cnpj.consultar_cnpj(GLOBO)
    assert (record["fonte"], record["razao_social"]) == ("ReceitaWS", "GLOBO COMUNICACAO")
    [(level, fmt, (_, error))] = net.logs()
    assert (level, fmt, error) == ("WARNING", "BrasilAPI request failed for %s: %s",
                                   "answer without the company's legal name")


def test_receitaws_without_the_legal_name_is_no_record(net):
    net.answer("brasilapi", GLOBO, status=404)
    net.answer("receitaws", GLOBO, {"situacao": "ATIVA"})
    assert cnpj.consultar_cnpj(GLOBO) is None


def test_the_client_does_not_keep_an_answer_without_the_legal_name(net, tmp_path):
    store = open_store("sqlite", str(tmp_path / "r.sqlite3"))
    try:
        client = OnlineClient()
        net.answer("brasilapi", GLOBO, {})
        net.answer("receitaws", GLOBO, {})
        answer = client.consult(GLOBO, store)
        assert answer.record is None
        assert answer.unavailable == ("BrasilAPI: resposta sem os dados da empresa; "
                                      "ReceitaWS: resposta sem os dados da empresa")
        assert store.cache_get(f"cnpj:{GLOBO}") is None
        for server in net.servers.values():
            server.clear()
        net.answer("brasilapi", GLOBO, {})
        net.answer("receitaws", GLOBO, {"nome": "GLOBO"})
        assert client.lookup(GLOBO, store)["fonte"] == "ReceitaWS"  # asked again, and kept
        assert json.loads(store.cache_get(f"cnpj:{GLOBO}")[0])["razao_social"] == "GLOBO"
    finally:
        store.close()
