"""Lookups and name searches in the registry database; the same suite on SQLite and PostgreSQL."""

from __future__ import annotations

import io
import json

import pytest

from opendata_files import empresa, estabelecimento, release
from quillon.contract.countries.br import cnpj as cnpj_mod
from quillon.registry import open_store, records
from quillon.registry.importer import import_folder
from quillon.registry.online import _add_partner_documents
from quillon.registry.sample import SAMPLE_CNPJS, build_sample
from registry_backends import store  # noqa: F401  (fixture)
from registry_servers import published

KEYS = ["fonte", "cnpj", "razao_social", "nome_fantasia", "situacao", "data_situacao", "data_abertura",
        "natureza_juridica", "porte", "capital_social", "endereco", "email", "socios"]
BRASIL_API = {"06990590000123": "brasilapi_active_google_qsa_representante_legal.json",
              "19131243000197": "brasilapi_active_okbr_qsa_presidente.json",
              "08942107000160": "brasilapi_baixada_associacao_matriz.json"}
RECEITA_WS = {"27865757000102": "receitaws_ok_sa_diretores.json",
              "03413465000162": "receitaws_ok_ltda_socios_administradores.json",
              "03420926004979": "receitaws_ok_baixada_sem_qsa_sem_capital.json"}


@pytest.fixture
def sample(store):
    build_sample(store, progress=False, err=io.StringIO())
    return store


@pytest.mark.parametrize("cnpj", [c for cnpjs in SAMPLE_CNPJS.values() for c in cnpjs])
def test_records_have_the_shape_of_the_online_lookup(sample, cnpj):
    record = records.lookup(sample, cnpj)
    assert list(record) == KEYS and record["fonte"] == records.FONTE
    assert record["cnpj"] == cnpj_mod.formatar_cnpj(cnpj)
    assert list(record["endereco"]) == ["logradouro", "numero", "complemento", "bairro", "cidade", "uf", "cep"]
    for partner in record["socios"]:
        assert list(partner) == ["nome", "qualificacao", "data_entrada", "cpf_representante", "nome_representante",
                                 "qualificacao_representante", "cnpj_cpf_do_socio"]


@pytest.mark.parametrize("cnpj", BRASIL_API)
def test_a_record_equals_brasilapis_for_the_same_company(sample, cnpj):
    # As the adapter's web client gives it: with each partner's published CPF or CNPJ.
    answer = json.loads(published(f"brasilapi/{BRASIL_API[cnpj]}"))
    online = cnpj_mod._registro_brasil_api(answer, cnpj)
    _add_partner_documents(online, answer)
    local = records.lookup(sample, cnpj)
    assert {**local, "fonte": online["fonte"]} == online


def test_a_database_of_an_earlier_version_gains_the_partner_document_column(sample):
    # Made before the partners' CPF was kept: opened again, it has the column
    # (empty until the next import) and its lookups work.
    sample.transaction([("ALTER TABLE socios DROP COLUMN cnpj_cpf_do_socio", ())])
    again = open_store(sample.dialect.name, sample.location)
    try:
        assert [p["cnpj_cpf_do_socio"] for p in records.lookup(again, "19131243000197")["socios"]] == [""]
    finally:
        again.close()


@pytest.mark.parametrize("cnpj", RECEITA_WS)
def test_a_record_carries_what_receitaws_publishes(sample, cnpj):
    online = cnpj_mod._registro_receita_ws(json.loads(published(f"receitaws/{RECEITA_WS[cnpj]}")), cnpj)
    local = records.lookup(sample, cnpj)
    for key in ("razao_social", "nome_fantasia", "situacao", "capital_social"):
        assert local[key] == online[key], key
    for key in ("logradouro", "numero", "complemento", "bairro", "cidade", "uf"):
        if key == "cidade" and online["endereco"][key] == "********":
            continue  # a masked municipality has no code in the files: "" here
        assert local["endereco"][key] == online["endereco"][key], key
    assert [(p["nome"], p["qualificacao"]) for p in local["socios"]] == [
        (p["nome"], p["qualificacao"].split("-", 1)[1]) for p in online["socios"]]


def test_an_unknown_cnpj_is_a_miss(sample):
    assert records.lookup(sample, "11222333000181") is None


@pytest.mark.parametrize(("name", "uf", "expected"), [
    ("Globo Comunicação e Participações S.A.", None, "27.865.757/0001-02"),
    ("open knowledge brasil", None, "19.131.243/0001-97"),
    ("OPEN KNOWLEDGE", "sp", "19.131.243/0001-97"),
    ("Open Knowledge", "RJ", None),
    ("rede pelo conhecimento livre", None, "19.131.243/0001-97"),  # trade name
    ("Google Brasil Internet Ltda", None, "06.990.590/0001-23"),
    ("ambev", None, "07.526.557/0116-59"),
    ("empresa que não existe", None, None),
    ("go", None, None),  # too short to search
])
def test_name_search(sample, name, uf, expected):
    record = records.search(sample, name, uf)
    if expected is None:
        assert record is None
    else:
        assert (record["cnpj"], record["busca_por_nome"], record["termo_busca"]) == (expected, True, name)
        assert list(record)[:13] == KEYS


def test_name_search_puts_active_companies_first(store, tmp_path):
    release(tmp_path / "in",
            [empresa("11111111", "PADARIA SÃO JOÃO LTDA"), empresa("22222222", "PADARIA SAO JOAO LTDA"),
             empresa("33333333", "PADARIA SAO JOAO")],
            [estabelecimento("11111111000100", situacao="08"), estabelecimento("22222222000100"),
             estabelecimento("33333333000100", situacao="04")])
    import_folder(store, tmp_path / "in", progress=False)
    # An exact name wins over a longer one, and an active company over an inactive one.
    assert records.search(store, "Padaria São João Ltda")["cnpj"] == "22.222.222/0001-00"
    assert records.search(store, "padaria sao joao")["cnpj"] == "33.333.333/0001-00"
    assert records.search(store, "padaria s")["cnpj"] == "22.222.222/0001-00"


def test_web_answers_cache(store):
    assert store.cache_get("cnpj:1") is None
    store.cache_put("cnpj:1", '{"a": 1}', 100.0)
    store.cache_put("cnpj:1", None, 200.0)
    assert store.cache_get("cnpj:1") == (None, 200.0)
    store.cache_purge(older_than=300.0)
    assert store.cache_get("cnpj:1") is None
