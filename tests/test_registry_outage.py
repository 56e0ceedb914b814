"""A registry that could not be asked is not a registry that said no.

The checker with the real Brazilian adapter against loopback services that
refuse, time out, answer 503 or 429, or are skipped by their breaker: the
company's CNPJ is pending with the reason, the contract PENDENTE.  A "not
found" answer (404, ReceitaWS's ERROR), a complete release of the open data
without the company, or an adapter that returns None still reject it.
"""

from __future__ import annotations

import contextlib
import json
import os
import pathlib
import shutil
import subprocess
import sys
import zipfile

import pytest

import quillon
from checker_fakes import Answer, FakeAdapter, FakeEngine, Record, Result
from extraction_scoring import EXAMPLES
from hostile_servers import hostile, status
from quillon.contract import checker as ck
from quillon.contract.countries.br import cnpj
from quillon.contract.countries.br.adapter import BrazilAdapter
from quillon.exceptions import QuillonError, RegistryUnavailableError
from quillon.registry import online, open_store
from quillon.registry.importer import import_folder
from quillon.registry.layout import is_whole_release, release_part
from quillon.registry.sample import SAMPLE_DIR, build_sample
from registry_backends import store  # noqa: F401  (fixture)
from registry_servers import dead_ends, net, published, registry_server_pool  # noqa: F401  (fixtures)

GOOGLE, GOOGLE_FMT = "06990590000123", "06.990.590/0001-23"
NOT_IN_SAMPLE = "11.222.333/0001-81"
PARTIAL = "cadastro local incompleto"


@pytest.fixture(autouse=True)
def engine(monkeypatch):
    monkeypatch.delenv("OPENAI_API_KEY", raising=False)
    monkeypatch.setattr(quillon, "Quillon", FakeEngine, raising=False)
    monkeypatch.setattr(quillon, "Question", Record, raising=False)
    monkeypatch.setattr(quillon, "QuestionConfig", Record, raising=False)


def contract_of(cnpj_text, nome="Google Brasil Internet Ltda", signatario="Yun Ki Lee"):
    FakeEngine.result = Result({
        "empresas": Answer({"empresas": [
            {"cnpj": cnpj_text, "razao_social": nome, "papel_no_contrato": "contratada"}]}),
        "assinaturas": Answer({"assinaturas": [{"nome_signatario": signatario, "cnpj_empresa": cnpj_text}]}),
        "dados_contrato": Answer({}),
    })


def verify(tmp_path, monkeypatch, adapter, verbose=False):
    monkeypatch.setattr(ck, "get_adapter", lambda country: adapter)
    pdf = tmp_path / "contrato.pdf"
    pdf.write_bytes(b"%PDF-1.4\n")
    return ck.verificar_contrato(pdf, "BR", openai_api_key="sk-test", verbose=verbose)


def cnpj_field(result):
    [empresa] = result["empresas"]
    campo = empresa["campos"][0]
    return campo["campo"], campo["status"], campo["mensagem"]


@contextlib.contextmanager
def outage(kind, dead_ends, monkeypatch):
    """Every registry service (BrasilAPI, ReceitaWS, Casa dos Dados) down in one way; yields the reason words."""
    if kind in ("refused", "silent"):
        server = contextlib.nullcontext(dead_ends[kind])
        words = {"refused": "sem conexão", "silent": "tempo esgotado"}[kind]
        monkeypatch.setattr(cnpj, "REQUEST_TIMEOUT", 0.3)
        monkeypatch.setattr(online, "SEARCH_TIMEOUT", 0.3)
    elif kind == "503":
        server, words = hostile(status(503)), "HTTP 503"
    else:
        server, words = hostile(status(429, b"Retry-After: 1\r\n")), "limite de consultas excedido (HTTP 429)"
    with server as base:
        monkeypatch.setattr(cnpj, "BRASIL_API_URL", base + "/api/cnpj/v1/{cnpj}")
        monkeypatch.setattr(cnpj, "RECEITA_WS_URL", base + "/v1/cnpj/{cnpj}")
        monkeypatch.setattr(cnpj, "CASADOSDADOS_API", base + "/v2/public/cnpj/search")
        yield words


# --- the checker, online ---------------------------------------------------------------------
@pytest.mark.parametrize("kind", ["refused", "silent", "503", "429"])
def test_an_outage_leaves_the_contract_pending(tmp_path, monkeypatch, dead_ends, kind):
    contract_of(GOOGLE_FMT)
    with outage(kind, dead_ends, monkeypatch) as words:
        result = verify(tmp_path, monkeypatch, BrazilAdapter(client=online.OnlineClient()))
    reason = f"BrasilAPI: {words}; ReceitaWS: {words}; {PARTIAL}"
    assert cnpj_field(result) == ("CNPJ", "pendente", f"Receita Federal não consultada: {reason}")
    [empresa] = result["empresas"]
    assert (empresa["cnpj_encontrado"], empresa["problemas"], empresa["cnpj"]) == (False, [], GOOGLE_FMT)
    assert result["resultado_final"] == "PENDENTE" and result["campos_reprovados"] == []
    assert result["campos_pendentes"] == ["CNPJ - Google Brasil Internet Ltda", "Poder de Assinatura - Yun Ki Lee"]


def test_a_company_without_cnpj_is_pending_when_the_search_cannot_be_made(tmp_path, monkeypatch, dead_ends):
    contract_of("")
    with outage("refused", dead_ends, monkeypatch):
        result = verify(tmp_path, monkeypatch, BrazilAdapter(client=online.OnlineClient()))
    assert cnpj_field(result) == ("CNPJ", "pendente",
                                  f"Receita Federal não consultada: Casa dos Dados: sem conexão; {PARTIAL}")
    assert result["empresas"][0]["campos"][0]["valor_contrato"] == "(não informado)"


def test_an_open_breaker_is_an_outage_too(monkeypatch, dead_ends):
    adapter = BrazilAdapter(client=online.OnlineClient())
    with outage("refused", dead_ends, monkeypatch):
        for _ in range(online.BREAKER_THRESHOLD):
            with pytest.raises(RegistryUnavailableError):
                adapter.lookup_company(GOOGLE)
        with pytest.raises(RegistryUnavailableError) as raised:
            adapter.lookup_company(GOOGLE)
    suspended = "serviço suspenso após falhas seguidas"
    assert raised.value.reason == f"BrasilAPI: {suspended}; ReceitaWS: {suspended}; {PARTIAL}"
    assert isinstance(raised.value, QuillonError) and str(raised.value) == raised.value.reason


def test_the_report_marks_a_company_not_consulted(tmp_path, monkeypatch, dead_ends, capsys):
    contract_of(GOOGLE_FMT)
    with outage("503", dead_ends, monkeypatch):
        verify(tmp_path, monkeypatch, BrazilAdapter(client=online.OnlineClient()), verbose=True)
    out = capsys.readouterr().out
    assert "⚠️⚠️⚠️ RESULTADO FINAL: PENDENTE ⚠️⚠️⚠️" in out
    assert "\n   ⚠️ Google Brasil Internet Ltda\n      CNPJ: 06.990.590/0001-23\n" in out
    assert f"CNPJ: Receita Federal não consultada: BrasilAPI: HTTP 503; ReceitaWS: HTTP 503; {PARTIAL}\n" in out


# --- what still rejects -------------------------------------------------------------------------
@pytest.mark.parametrize("receitaws", ["404", "503", "error"])
def test_services_that_say_not_found_reject(tmp_path, monkeypatch, net, receitaws):
    contract_of(NOT_IN_SAMPLE, nome="Empresa Inexistente Ltda")
    net.answer("brasilapi", "11222333000181", published("brasilapi/brasilapi_404_not_found.json"), status=404)
    if receitaws == "error":  # BrasilAPI failing, ReceitaWS's "ERROR" answer
        net.servers["brasilapi"].clear()
        net.answer("brasilapi", "11222333000181", status=503)
        net.answer("receitaws", "11222333000181", published("receitaws/receitaws_error_cnpj_invalido.json"))
    else:  # one source that knows is enough
        net.answer("receitaws", "11222333000181", status=int(receitaws))
    net.answer("casadosdados", body={"data": {"count": 0, "cnpj": []}})
    result = verify(tmp_path, monkeypatch, BrazilAdapter(client=online.OnlineClient()))
    assert cnpj_field(result) == ("CNPJ", "reprovado", "CNPJ não encontrado na Receita Federal")
    assert result["resultado_final"] == "REPROVADO" and result["empresas"][0]["problemas"] == ["CNPJ não encontrado"]


def test_an_adapter_that_returns_none_still_means_not_found(tmp_path, monkeypatch):
    contract_of(GOOGLE_FMT)
    result = verify(tmp_path, monkeypatch, FakeAdapter())
    assert cnpj_field(result) == ("CNPJ", "reprovado", "CNPJ não encontrado na Receita Federal")
    assert result["resultado_final"] == "REPROVADO"


def test_an_adapter_error_of_another_kind_still_propagates(tmp_path, monkeypatch):
    class Broken(FakeAdapter):
        def lookup_company(self, cnpj):
            raise RuntimeError("bug")

    contract_of(GOOGLE_FMT)
    with pytest.raises(RuntimeError, match="bug"):
        verify(tmp_path, monkeypatch, Broken())


# --- offline: the local database and whether it holds a whole release ----------------------
def whole_release(folder: pathlib.Path) -> pathlib.Path:
    """The sample, completed to every part of a release with empty parts 1 to 9."""
    shutil.copytree(SAMPLE_DIR, folder)
    for stem, suffix in (("Empresas", "EMPRECSV"), ("Estabelecimentos", "ESTABELE"), ("Socios", "SOCIOCSV")):
        for part in range(1, 10):
            with zipfile.ZipFile(folder / f"{stem}{part}.zip", "w") as archive:
                archive.writestr(f"K3241.K03200Y{part}.D40510.{suffix}", b"")
    return folder


@pytest.mark.parametrize(("keys", "whole"), [
    ([f"{k}{n}.zip:K3241.K03200Y{n}.D40510.{s}" for k, s in (("Empresas", "EMPRECSV"), ("Estabelecimentos", "ESTABELE"),
                                                            ("Socios", "SOCIOCSV")) for n in range(10)], True),
    ([f"K3241.K03200Y{n}.D40510.{s}" for s in ("EMPRECSV", "ESTABELE", "SOCIOCSV") for n in range(10)], True),
    ([f"K3241.K03200Y{n}.D40510.{s}" for s in ("EMPRECSV", "ESTABELE", "SOCIOCSV") for n in range(10) if n != 7],
     False),
    ([f"K3241.K03200Y{n}.D40510.{s}" for s in ("EMPRECSV", "ESTABELE") for n in range(10)], False),
    (["Empresas0.zip:K3241.K03200Y0.AMOSTRA.EMPRECSV", "Municipios.zip:F.K03200$Z.D40510.MUNICCSV"], False),
])
def test_a_whole_release_is_every_part_of_each_table(keys, whole):
    assert is_whole_release(keys) is whole
    assert release_part("Socios3.zip:K3241.K03200Y3.D40510.SOCIOCSV")[1] == 3


def test_the_importer_tells_a_whole_release_from_the_sample(store, tmp_path):
    quiet = open(os.devnull, "w")
    assert not store.holds_complete_release()  # never imported
    assert build_sample(store, err=quiet).complete is False
    assert not store.holds_complete_release()
    assert import_folder(store, whole_release(tmp_path / "whole"), err=quiet).complete is True
    assert store.holds_complete_release()
    assert build_sample(store, err=quiet).complete is False  # a partial import after a whole one
    assert not store.holds_complete_release()


@pytest.mark.parametrize(("whole", "verdict", "field"), [
    (False, "PENDENTE", ("CNPJ", "pendente", f"Receita Federal não consultada: modo offline; {PARTIAL}")),
    (True, "REPROVADO", ("CNPJ", "reprovado", "CNPJ não encontrado na Receita Federal")),
])
def test_offline_only_a_whole_release_says_not_found(tmp_path, monkeypatch, whole, verdict, field):
    db = tmp_path / "registry.sqlite3"
    store = open_store("sqlite", str(db))
    if whole:
        import_folder(store, whole_release(tmp_path / "release"), err=open("/dev/null", "w"))
    else:
        build_sample(store, err=open("/dev/null", "w"))
    store.close()
    monkeypatch.setenv("QUILLON_REGISTRY_DB", str(db))
    monkeypatch.setenv("QUILLON_OFFLINE", "1")
    contract_of(NOT_IN_SAMPLE, nome="Empresa Inexistente Ltda")
    result = verify(tmp_path, monkeypatch, BrazilAdapter())
    assert (result["resultado_final"], cnpj_field(result)) == (verdict, field)
    contract_of(GOOGLE_FMT)  # a company the database holds is found either way
    assert verify(tmp_path, monkeypatch, BrazilAdapter())["empresas"][0]["cnpj_encontrado"] is True


# --- the command ----------------------------------------------------------------------------------
def run(*args, code=None):
    argv = [sys.executable, "-m", "quillon", *map(str, args)] if code is None else [sys.executable, "-c", code,
                                                                                     *map(str, args)]
    return subprocess.run(argv, capture_output=True, text=True, timeout=300)


@pytest.fixture
def empty_db(tmp_path):
    path = tmp_path / "vazio.sqlite3"
    open_store("sqlite", str(path)).close()
    return path


WARNING = "aviso: Receita Federal não consultada: {}; as empresas não verificadas ficam pendentes\n"


def test_the_command_offline_without_the_companies_is_pending(empty_db):
    done = run("verificar", EXAMPLES / "contrato_servicos_aprovado.pdf", "--provider", "local", "--offline",
               "--registry-db", empty_db, "--json")
    record = json.loads(done.stdout)
    assert (done.returncode, record["resultado_final"], record["campos_reprovados"]) == (2, "PENDENTE", [])
    assert done.stderr == WARNING.format(f"modo offline; {PARTIAL}")


def test_the_batch_says_it_once(empty_db, tmp_path):
    folder = tmp_path / "lote"
    folder.mkdir()
    for name in ("contrato_servicos_aprovado.pdf", "contrato_signatario_fora_do_qsa.pdf",
                 "contrato_empresa_baixada.pdf"):
        shutil.copy(EXAMPLES / name, folder / name)
    done = run("verificar", folder, "--provider", "local", "--offline", "--registry-db", empty_db, "--jsonl",
               "--jobs", "2")
    records = [json.loads(line) for line in done.stdout.splitlines()]
    assert [r["resultado_final"] for r in records] == ["PENDENTE"] * 3 and done.returncode == 2
    assert done.stderr == WARNING.format(f"modo offline; {PARTIAL}")


def test_the_command_online_with_the_services_down(empty_db, dead_ends):
    code = ("import sys\nfrom quillon.contract.countries.br import cnpj\nfrom quillon import cli\n"
            "base = sys.argv[1]\n"
            "cnpj.BRASIL_API_URL = base + '/{cnpj}'\ncnpj.RECEITA_WS_URL = base + '/{cnpj}'\n"
            "cnpj.CASADOSDADOS_API = base + '/search'\n"
            "sys.exit(cli.main(sys.argv[2:]))\n")
    done = run(dead_ends["refused"], "verificar", EXAMPLES / "contrato_servicos_aprovado.pdf", "--provider", "local",
               "--registry-db", empty_db, code=code)
    assert done.returncode == 2, done.stderr
    assert "PENDENTE" in done.stdout and "⚠️ " in done.stdout
    assert done.stderr == WARNING.format(f"BrasilAPI: sem conexão; ReceitaWS: sem conexão; {PARTIAL}")
