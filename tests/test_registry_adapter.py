"""The Brazilian adapter's order: the registry database, then the web services, unless offline."""

from __future__ import annotations

import io

import pytest

from quillon.contract.countries import registry
from quillon.contract.countries.br.adapter import BrazilAdapter
from quillon.exceptions import RegistryUnavailableError
from quillon.registry import open_registry, records
from quillon.registry.sample import build_sample
from registry_servers import net, published, registry_server_pool  # noqa: F401  (fixtures)

OKBR, GOOGLE = "19131243000197", "06990590000123"
UNKNOWN = "11222333000181"
OKBR_ANSWER = "brasilapi/brasilapi_active_okbr_qsa_presidente.json"


@pytest.fixture
def sample_db():
    build_sample(open_registry(), progress=False, err=io.StringIO())


def test_a_database_hit_asks_no_service(net, sample_db):
    adapter = registry.get_adapter("BR")
    record = adapter.lookup_company("19.131.243/0001-97")
    assert (record["fonte"], record["socios"][0]["nome"]) == (records.FONTE, "HAYDEE SVAB")
    found = adapter.search_companies("Open Knowledge Brasil")
    assert (found["fonte"], found["cnpj"], found["termo_busca"]) == (records.FONTE, "19.131.243/0001-97",
                                                                      "Open Knowledge Brasil")
    assert net.requests("brasilapi") == net.requests("casadosdados") == []


@pytest.mark.parametrize("typed", ["１９．１３１．２４３／０００１－９７", "١٩١٣١٢٤٣٠٠٠١٩٧", "19.131.243/0001-97"],
                         ids=["full-width", "arabic-indic", "ascii"])
def test_a_cnpj_typed_in_any_digits_is_found_in_the_database(net, sample_db, typed):
    adapter = registry.get_adapter("BR")
    assert adapter.validate_company_id(typed)
    record = adapter.lookup_company(typed)
    assert (record["fonte"], record["cnpj"]) == (records.FONTE, "19.131.243/0001-97")
    assert net.requests("brasilapi") == net.requests("receitaws") == []


def test_a_database_miss_asks_the_web_and_caches_the_answer(net, sample_db):
    net.answer("brasilapi", UNKNOWN, published(OKBR_ANSWER))
    adapter = BrazilAdapter()
    assert adapter.lookup_company(UNKNOWN)["fonte"] == "BrasilAPI"
    assert BrazilAdapter().lookup_company(UNKNOWN)["fonte"] == "BrasilAPI"  # another adapter, the same cache
    assert len(net.requests("brasilapi")) == 1
    net.answer("casadosdados", body={"data": {"count": 1, "cnpj": [{"cnpj": UNKNOWN}]}})
    record = adapter.search_companies("Empresa que só a web conhece")
    assert (record["fonte"], record["busca_por_nome"]) == ("BrasilAPI", True)
    assert len(net.requests("casadosdados")) == 1 and len(net.requests("brasilapi")) == 1


@pytest.mark.parametrize("value", ["1", "true", "SIM"])
def test_offline_work_asks_no_service(net, sample_db, monkeypatch, value):
    monkeypatch.setenv("QUILLON_OFFLINE", value)
    net.answer("brasilapi", UNKNOWN, published(OKBR_ANSWER))
    net.answer("casadosdados", body={"data": {"count": 1, "cnpj": [{"cnpj": UNKNOWN}]}})
    adapter = BrazilAdapter()
    # The sample is no whole release: a company it does not hold may exist.
    for ask in (lambda: adapter.lookup_company(UNKNOWN), lambda: adapter.search_companies("Empresa desconhecida")):
        with pytest.raises(RegistryUnavailableError, match="modo offline; cadastro local incompleto"):
            ask()
    assert adapter.lookup_company(GOOGLE)["fonte"] == records.FONTE  # the database still answers
    assert net.requests("brasilapi") == net.requests("casadosdados") == []


def test_an_invalid_cnpj_or_short_name_asks_nothing(net):
    adapter = BrazilAdapter()
    assert adapter.lookup_company("19.131.243/0001-98") is None and adapter.lookup_company(None) is None
    assert adapter.search_companies("ab") is None
    assert net.requests("brasilapi") == net.requests("casadosdados") == []


def test_a_database_that_cannot_be_opened_leaves_the_web(net, monkeypatch, tmp_path, caplog):
    (tmp_path / "file").write_text("")
    monkeypatch.setenv("QUILLON_REGISTRY_DB", str(tmp_path / "file" / "registry.sqlite3"))  # below a file
    net.answer("brasilapi", OKBR, published(OKBR_ANSWER))
    assert BrazilAdapter().lookup_company(OKBR)["fonte"] == "BrasilAPI"
    assert BrazilAdapter().lookup_company(OKBR)["fonte"] == "BrasilAPI"
    warnings = [r for r in caplog.records if r.name == "quillon.contract.countries.br.adapter"]
    assert len(warnings) == 1 and "Registry database unavailable" in warnings[0].getMessage()


def test_the_postgresql_database_when_the_url_names_one(monkeypatch, net):
    from registry_backends import POSTGRES_URL, _empty_postgres

    _empty_postgres().close()
    monkeypatch.setenv("QUILLON_REGISTRY_URL", POSTGRES_URL)
    build_sample(open_registry(), progress=False, err=io.StringIO())
    assert BrazilAdapter().lookup_company(OKBR)["fonte"] == records.FONTE
    assert net.requests("brasilapi") == []
    monkeypatch.setenv("QUILLON_REGISTRY_URL", "mysql://x")
    net.answer("brasilapi", OKBR, published(OKBR_ANSWER))
    assert BrazilAdapter().lookup_company(OKBR)["fonte"] == "BrasilAPI"  # not a PostgreSQL URL: logged, web
