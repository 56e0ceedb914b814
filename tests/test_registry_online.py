"""The considerate web client: pacing, cache with a time to live, Retry-After, circuit breakers.

Requests go to the loopback stand-ins of the services; time is a clock of the
test's own, which the client's sleeps move forward (nothing waits for real).
"""

from __future__ import annotations

import email.utils
import io

import pytest

from quillon.registry import open_store
from quillon.registry.online import BRASIL_API, RECEITA_WS, OnlineClient, retry_after_seconds
from quillon.registry.pacing import Pace, RateLimiter
from registry_servers import JSON, dead_ends, net, published, registry_server_pool  # noqa: F401  (fixtures)

OKBR, GOOGLE = "19131243000197", "06990590000123"
OKBR_ANSWER = "brasilapi/brasilapi_active_okbr_qsa_presidente.json"


class Clock:
    def __init__(self, now=1_700_000_000.0):
        self.now, self.slept = now, []

    def __call__(self):
        return self.now

    def sleep(self, seconds):
        self.slept.append(round(seconds, 6))
        self.now += seconds


@pytest.fixture
def clock():
    return Clock()


@pytest.fixture
def client(clock):
    return OnlineClient(clock=clock, sleep=clock.sleep, wall=clock)


@pytest.fixture
def db(tmp_path):
    store = open_store("sqlite", str(tmp_path / "r.sqlite3"))
    yield store
    store.close()


def answer(net, service, cnpj, body=b"", status=200, headers=None):
    path = {"brasilapi": f"/api/cnpj/v1/{cnpj}", "receitaws": f"/v1/cnpj/{cnpj}"}[service]
    net.servers[service].expect_request(path).respond_with_data(body, status=status, content_type=JSON,
                                                                headers=headers or {})


@pytest.mark.parametrize(("text", "pace"), [("3/s", Pace(3, 1.0)), ("3/min", Pace(3, 60.0)), (" 10 / h ", Pace(10, 3600.0)),
                                            ("5/2.5", Pace(5, 2.5))])
def test_pace_parse(text, pace):
    assert Pace.parse(text) == pace


@pytest.mark.parametrize("text", ["", "3", "0/s", "3/0", "3/dia", "a/s"])
def test_pace_parse_refuses(text):
    with pytest.raises(ValueError, match="Ritmo inválido"):
        Pace.parse(text)


@pytest.mark.parametrize(("pace", "waits"), [
    (Pace(3, 1.0), [0, 0, 0, 1.0, 0, 0, 1.0]),
    (Pace(3, 60.0), [0, 0, 0, 60.0, 0, 0, 60.0]),
    (Pace(1, 2.0), [0, 2.0, 2.0, 2.0, 2.0, 2.0, 2.0])])
def test_rate_limiter_allows_n_requests_in_any_period(clock, pace, waits):
    limiter = RateLimiter(pace, clock, clock.sleep)
    assert [limiter.wait() for _ in waits] == waits


def test_rate_limiter_holds_after_a_pause_request(clock):
    limiter = RateLimiter(Pace(3, 1.0), clock, clock.sleep)
    limiter.hold(7.5)
    assert limiter.wait() == 7.5 and limiter.wait() == 0


@pytest.mark.parametrize(("value", "seconds"), [("7", 7.0), (" 2.5 ", 2.5), ("-3", 0.0), (None, None), ("soon", None),
                                                (email.utils.formatdate(1_700_000_030, usegmt=True), 30.0)])
def test_retry_after_header(value, seconds):
    assert retry_after_seconds(value, 1_700_000_000.0) == seconds


def test_lookups_are_paced_per_service(net, client, clock, db):
    cnpjs = ["11222333000181", "11444777000161", "19131243000197", "06990590000123", "27865757000102"]
    for cnpj in cnpjs:
        answer(net, "brasilapi", cnpj, published(OKBR_ANSWER))
    for cnpj in cnpjs:
        assert client.lookup(cnpj, db)["fonte"] == "BrasilAPI"
    assert clock.slept == [1.0]  # the fourth request of the second waited for the first to be a second old
    assert len(net.requests("brasilapi")) == 5 and net.requests("receitaws") == []


def test_answers_are_cached_for_their_time_to_live(net, client, clock, db):
    answer(net, "brasilapi", OKBR, published(OKBR_ANSWER))
    first = client.lookup(OKBR, db)
    clock.now += client.ttl - 1
    again = client.lookup("19.131.243/0001-97", db)
    assert again == first and again is not first and list(again) == list(first)
    assert len(net.requests("brasilapi")) == 1
    clock.now += 2  # a day and a second later: asked again
    client.lookup(OKBR, db)
    assert len(net.requests("brasilapi")) == 2


def test_a_company_no_service_knows_is_cached_too_but_not_a_failure(net, client, db):
    answer(net, "brasilapi", "11222333000181", published("brasilapi/brasilapi_404_not_found.json"), status=404)
    answer(net, "receitaws", "11222333000181", published("receitaws/receitaws_error_cnpj_invalido.json"))
    assert client.lookup("11222333000181", db) is None and client.lookup("11222333000181", db) is None
    assert (len(net.requests("brasilapi")), len(net.requests("receitaws"))) == (1, 1)
    answer(net, "brasilapi", OKBR, b"", status=503)
    answer(net, "receitaws", OKBR, b"", status=503)
    assert client.lookup(OKBR, db) is None and client.lookup(OKBR, db) is None
    assert (len(net.requests("brasilapi")), len(net.requests("receitaws"))) == (3, 3)


@pytest.mark.parametrize(("retry_after", "held"), [("7", 7.0), ("3600", 120.0), (None, 1.0)])
def test_a_429_holds_the_next_request_to_that_service(net, client, clock, db, retry_after, held):
    headers = {"Retry-After": retry_after} if retry_after else {}
    answer(net, "brasilapi", OKBR, b'{"message": "too many"}', status=429, headers=headers)
    answer(net, "receitaws", OKBR, published("receitaws/receitaws_ok_sa_diretores.json"))
    assert client.lookup(OKBR, db)["fonte"] == "ReceitaWS"  # on to the next service meanwhile
    assert clock.slept == []
    answer(net, "brasilapi", GOOGLE, published("brasilapi/brasilapi_active_google_qsa_representante_legal.json"))
    assert client.lookup(GOOGLE, db)["fonte"] == "BrasilAPI"
    assert clock.slept == [held]
    assert client.services[BRASIL_API].breaker.state.value == "CLOSED"


def test_a_failing_service_is_skipped_by_its_breaker(net, client, clock, db):
    receitaws = published("receitaws/receitaws_ok_ltda_socios_administradores.json")
    cnpjs = ["11222333000181", "11444777000161", "19131243000197", "06990590000123"]
    for cnpj in cnpjs:
        answer(net, "brasilapi", cnpj, b"<html>502</html>", status=200)
        answer(net, "receitaws", cnpj, receitaws)
    for cnpj in cnpjs:
        assert client.lookup(cnpj, db)["fonte"] == "ReceitaWS"
    assert len(net.requests("brasilapi")) == 3  # open after three unreadable answers: the fourth skipped it
    breaker = client.services[BRASIL_API].breaker
    assert breaker.state.value == "OPEN"
    breaker._last_failure_time -= 61  # its recovery time has passed: one trial request
    answer(net, "brasilapi", "27865757000102", published(OKBR_ANSWER))
    assert client.lookup("27865757000102", db)["fonte"] == "BrasilAPI"
    assert breaker.state.value == "CLOSED"


def test_network_errors_count_as_failures(dead_ends, monkeypatch, client, db):
    from quillon.contract.countries.br import cnpj as cnpj_mod

    monkeypatch.setattr(cnpj_mod, "BRASIL_API_URL", dead_ends["refused"] + "/{cnpj}")
    monkeypatch.setattr(cnpj_mod, "RECEITA_WS_URL", dead_ends["refused"] + "/{cnpj}")
    assert client.lookup(OKBR, db) is None
    assert client.services[BRASIL_API].breaker._failure_count == 1
    assert client.services[RECEITA_WS].breaker._failure_count == 1
    assert db.cache_get(f"cnpj:{OKBR}") is None


def test_search_by_name_through_casa_dos_dados(net, client, db):
    net.answer("casadosdados", body={"data": {"count": 2, "cnpj": [{"cnpj": OKBR}, {"cnpj": GOOGLE}]}})
    answer(net, "brasilapi", OKBR, published(OKBR_ANSWER))
    record = client.search("Open Knowledge", "SP", db)
    assert (record["razao_social"], record["busca_por_nome"], record["termo_busca"]) == (
        "OPEN KNOWLEDGE BRASIL", True, "Open Knowledge")
    [request] = net.requests("casadosdados")
    assert request.json["query"] == {"termo": ["Open Knowledge"], "situacao_cadastral": "ATIVA", "uf": ["SP"]}
    assert client.search("Open Knowledge", "SP", db)["cnpj"] == "19.131.243/0001-97"
    assert len(net.requests("casadosdados")) == 1 and len(net.requests("brasilapi")) == 1  # both cached
    assert client.search("ab", None, db) is None


def test_without_a_database_nothing_is_cached(net, client):
    answer(net, "brasilapi", OKBR, published(OKBR_ANSWER))
    assert client.lookup(OKBR)["fonte"] == "BrasilAPI" and client.lookup(OKBR)["fonte"] == "BrasilAPI"
    assert len(net.requests("brasilapi")) == 2


def test_settings_from_the_environment():
    client = OnlineClient.from_environ({"QUILLON_PACE_RECEITAWS": "2/min", "QUILLON_CACHE_TTL": "60",
                                        "QUILLON_RETRY_AFTER_MAX": "5"})
    assert client.services[RECEITA_WS].limiter.pace == Pace(2, 60.0)
    assert client.services[BRASIL_API].limiter.pace == Pace(3, 1.0)
    assert (client.ttl, client.retry_after_cap) == (60.0, 5.0)


HOLD_WRITE_LOCK = """
import pathlib, sys, time
from opendata_files import empresa, estabelecimento, release
from quillon.registry import open_store
from quillon.registry.importer import import_folder
from quillon.registry.sqlite_store import SqliteStore
location, folder, flag, release_at = sys.argv[1:5]
release(pathlib.Path(folder), [empresa("11222333", "ACME")], [estabelecimento("11222333000181")])
insert = SqliteStore.insert_rows
def slow_insert(self, *args):
    insert(self, *args)  # inside the import's write transaction: the database's write lock is held
    pathlib.Path(flag).touch()
    while not pathlib.Path(release_at).exists():
        time.sleep(0.05)
SqliteStore.insert_rows = slow_insert
import_folder(open_store("sqlite", location), folder, progress=False)
"""


def test_a_lookup_while_an_import_holds_the_database_does_not_wait_on_the_cache(net, tmp_path):
    import os
    import subprocess
    import sys
    import time

    db = tmp_path / "r.sqlite3"
    store = open_store("sqlite", str(db))
    flag, release_at = tmp_path / "holding", tmp_path / "go"
    importer = subprocess.Popen([sys.executable, "-c", HOLD_WRITE_LOCK, str(db), str(tmp_path / "in"), str(flag),
                                 str(release_at)], env=dict(os.environ, PYTHONPATH=os.path.dirname(__file__)),
                                stderr=subprocess.PIPE, text=True)
    try:
        deadline = time.monotonic() + 60
        while not flag.exists():
            assert importer.poll() is None and time.monotonic() < deadline, importer.communicate()
            time.sleep(0.02)
        answer(net, "brasilapi", OKBR, published(OKBR_ANSWER))
        client = OnlineClient()
        started = time.monotonic()
        assert client.lookup(OKBR, store)["razao_social"] == "OPEN KNOWLEDGE BRASIL"
        assert time.monotonic() - started < 5  # not the 30 s a writer may wait for the database
        assert store.cache_get(f"cnpj:{OKBR}") is not None  # answered from memory meanwhile
    finally:
        release_at.touch()
        _, err = importer.communicate(timeout=120)
    assert importer.returncode == 0, err
    answer(net, "brasilapi", GOOGLE, published("brasilapi/brasilapi_active_google_qsa_representante_legal.json"))
    client.lookup(GOOGLE, store)  # the next answer written takes the waiting one with it
    other = open_store("sqlite", str(db))
    assert other.cache_get(f"cnpj:{OKBR}") is not None and other.cache_get(f"cnpj:{GOOGLE}") is not None
    other.close()
    store.close()
