"""Signatories weighed by name and CPF on the command path: a fragment of a
partner's name never approves, the registry's masked CPF confirms or refutes.

The contracts are real PDFs read by the local extractor; the registry answers
are the published BrasilAPI answers, served on loopback."""

import json
import subprocess
import sys

import pymupdf
import pytest

from quillon import batch
from quillon.contract.checker import ContractChecker
from quillon.contract.models import AssinaturaExtraida
from registry_servers import net, published, registry_server_pool  # noqa: F401  (fixtures)

GOOGLE, OKBR = "06990590000123", "19131243000197"
# FABIO JOSE SILVA COELHO is published as ***133807**; this CPF has those middle digits.
CPF_OF_FABIO, OTHER_CPF = "100.133.807-37", "123.456.789-09"


def contract_pdf(path, signer, cpf=None):
    lines = [
        "CONTRATO DE LICENÇA DE SOFTWARE Nº 7/2025", "",
        "CONTRATANTE: OPEN KNOWLEDGE BRASIL, inscrita no CNPJ nº 19.131.243/0001-97, estabelecida na Avenida "
        "Paulista, 37, São Paulo/SP, aqui representada pela sua Presidente, HAYDEE SVAB.", "",
        "CONTRATADA: GOOGLE BRASIL INTERNET LTDA., pessoa jurídica de direito privado, CNPJ 06.990.590/0001-23, "
        f"sediada na Avenida Brigadeiro Faria Lima, 3477, São Paulo/SP, neste ato representada pelo seu "
        f"Administrador, Sr. {signer}.", "",
        "CLÁUSULA PRIMEIRA - DO OBJETO", "O objeto deste contrato é a licença de uso de software.", "",
        "CLÁUSULA SEGUNDA - DO VALOR", "O valor total é de R$ 10.000,00 (dez mil reais).", "",
        "CLÁUSULA TERCEIRA - DO FORO", "Fica eleito o foro da Comarca de São Paulo.", "",
        "E por estarem de acordo, as partes firmam o presente instrumento.", "",
        "São Paulo, 10 de março de 2025.", "",
        "Pela CONTRATANTE:", "Nome: HAYDEE SVAB", "Cargo: Presidente", "",
        "Pela CONTRATADA:", f"Nome: {signer}", "Cargo: Administrador", f"CPF: {cpf}" if cpf else "", "",
    ]
    doc = pymupdf.open()
    page = doc.new_page()
    page.insert_textbox(pymupdf.Rect(40, 40, 560, 800), "\n".join(lines), fontsize=8)
    doc.save(path)
    return str(path)


@pytest.fixture
def registry(net):
    net.answer("brasilapi", GOOGLE, published("brasilapi/brasilapi_active_google_qsa_representante_legal.json"))
    net.answer("brasilapi", OKBR, published("brasilapi/brasilapi_active_okbr_qsa_presidente.json"))
    return net


@pytest.fixture
def command(monkeypatch):
    """The command's verification of one file, in this process (as one worker runs it)."""
    monkeypatch.delenv("OPENAI_API_KEY", raising=False)
    batch.init_worker(batch.Options(provider="local", human=False))
    yield batch.verify
    batch.init_worker(batch.Options())


def power(record, name):
    [signature] = [s for s in record["assinaturas"] if s["nome_signatario"] == name]
    [field] = signature["campos"]
    assert field["campo"] == "Poder de Assinatura"
    return field["status"], signature["evidencia"], signature["tem_poder_assinatura"], field["mensagem"]


@pytest.mark.parametrize(("signer", "cpf", "status", "evidencia"), [
    ("JOSE SILVA", None, "pendente", "nome_parcial"),  # a fragment of FABIO JOSE SILVA COELHO
    ("JOSE SILVA", CPF_OF_FABIO, "aprovado", "cpf"),  # the fragment, confirmed by the CPF
    ("FABIO JOSE SILVA COELHO", None, "aprovado", "nome"),
    ("FABIO JOSE SILVA COELHO", CPF_OF_FABIO, "aprovado", "cpf"),
    ("FABIO JOSE SILVA COELHO", OTHER_CPF, "reprovado", "cpf_divergente"),  # the whole name, another person
    ("JOSE SILVA", OTHER_CPF, "reprovado", "cpf_divergente"),
])
def test_signatory_weighed_by_name_and_cpf(registry, command, tmp_path, signer, cpf, status, evidencia):
    outcome = command(contract_pdf(tmp_path / "contrato.pdf", signer, cpf))
    assert outcome.error is None, outcome.error
    record = outcome.record
    got = power(record, signer)
    assert got[:3] == (status, evidencia, status == "aprovado"), got
    assert power(record, "HAYDEE SVAB")[:2] == ("aprovado", "nome")  # published as ***112108**, no CPF given
    if status == "pendente":
        assert "FABIO JOSE SILVA COELHO" in got[3] and record["resultado_final"] != "APROVADO"
    if status == "reprovado":
        assert "CPF do contrato difere" in got[3] and record["resultado_final"] == "REPROVADO"


def test_library_default_keeps_the_tolerant_name_rule(registry):
    # Without corroboration, the documented rule: a fragment of the name matches.
    checker = ContractChecker("BR", provider="local", verbose=False)
    cache = {GOOGLE: checker.adapter.lookup_company(GOOGLE)}
    [signature] = checker._validar_assinaturas([AssinaturaExtraida(nome_signatario="JOSE SILVA",
                                                                   cnpj_empresa="06.990.590/0001-23")], cache)
    assert (signature.tem_poder_assinatura, signature.campos[0].status, signature.evidencia) == (
        True, "aprovado", None)


@pytest.mark.parametrize(("cpf", "status", "evidencia"), [
    (CPF_OF_FABIO, "aprovado", "cpf"),
    (OTHER_CPF, "reprovado", "cpf_divergente"),
])
def test_offline_registry_corroborates_with_the_partners_published_cpf(tmp_path, cpf, status, evidencia):
    # The open-data files publish the partner's masked CPF too: with no network
    # at all the command weighs the CPF as it does with BrasilAPI's answer.
    db = tmp_path / "registry.sqlite3"
    quillon = [sys.executable, "-m", "quillon"]
    built = subprocess.run([*quillon, "registry", "sample", "--registry-db", str(db)], capture_output=True, text=True)
    assert built.returncode == 0, built.stderr
    done = subprocess.run([*quillon, "verificar", contract_pdf(tmp_path / "contrato.pdf", "JOSE SILVA", cpf),
                           "--provider", "local", "--offline", "--registry-db", str(db), "--json"],
                          capture_output=True, text=True)
    assert power(json.loads(done.stdout), "JOSE SILVA")[:2] == (status, evidencia), done.stderr


def sign(name, cpf=None, cnpj=None, empresa=None):
    return AssinaturaExtraida(nome_signatario=name, cpf=cpf, cnpj_empresa=cnpj, empresa_representada=empresa)


def test_representatives_and_companies_missing_from_the_cache(registry):
    checker = ContractChecker("BR", provider="local", verbose=False)
    checker.corroborar_assinaturas = True
    google = checker.adapter.lookup_company(GOOGLE)
    assert [s["cnpj_cpf_do_socio"] for s in google["socios"]] == ["06947283000160", "06947284000104", "***133807**"]
    cache = {GOOGLE: google, "google brasil internet ltda.": google}
    result = checker._validar_assinaturas([
        sign("YUN KI LEE", "529.746.608-35", GOOGLE),  # the representative's published ***746608**
        sign("YUN KI LEE", "123.456.789-09", GOOGLE),
        sign("JOSE SILVA", empresa="Empresa Fora do Cadastro"),  # scan of the cache: only a fragment
        sign("FABIO JOSE SILVA COELHO", empresa="Empresa Fora do Cadastro"),
        sign("MARIA SOUZA", empresa="Empresa Fora do Cadastro"),
        sign("N/A"),
    ], cache)
    assert [(s.campos[0].status, s.evidencia, s.qualificacao_qsa) for s in result] == [
        ("aprovado", "cpf", "Procurador"),
        ("reprovado", "cpf_divergente", None),
        ("pendente", "nome_parcial", None),
        ("aprovado", "nome", "Administrador"),
        ("pendente", "sem_cadastro", None),
        ("nao_verificado", None, None),
    ]
    assert result[2].campos[0].valor_receita == "FABIO JOSE SILVA COELHO"


# --- the compiled rules against their plain-Python formulation -----------------------

from hypothesis import given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

import text_oracles as oracle  # noqa: E402

WORDS = ["JOSÉ", "jose", "SILVA", "Silva", "FABIO", "COELHO", "DA", "A", "ANA", "MARIA", "Ana Maria", "Σ", "ΣΟΦΙΑ"]
CPFS = [None, "", "100.133.807-37", "123.456.789-09", "529.746.608-35", "123.456.789-00", "111.111.111-11",
        "12345678909", "１２３.４５６.７８９-０９", "CPF 123"]
PUBLISHED = ["", "***133807**", "***456789**", "***746608**", "***000000**", "06947283000160", "12345678909",
             "***.456.789-**", "***45678X**", None]

names = st.lists(st.sampled_from(WORDS), min_size=0, max_size=4).map(" ".join)
partners = st.lists(st.fixed_dictionaries({
    "nome": names, "qualificacao": st.just("Sócio"), "cnpj_cpf_do_socio": st.sampled_from(PUBLISHED),
    "nome_representante": st.one_of(st.just(""), names), "cpf_representante": st.sampled_from(PUBLISHED),
    "qualificacao_representante": st.just("Procurador"),
}), max_size=4)


@settings(max_examples=300, deadline=None)
@given(nome=names.filter(lambda n: n.strip() and n != "N/A"), cpf=st.sampled_from(CPFS), socios=partners)
def test_evidence_agrees_with_the_oracle(nome, cpf, socios):
    checker = ContractChecker("BR", provider="local", verbose=False)
    checker.corroborar_assinaturas = True
    [signature] = checker._validar_assinaturas([sign(nome, cpf, "06.990.590/0001-23")],
                                               {GOOGLE: {"socios": socios}})
    expected = oracle.evidencia(nome, cpf, socios)
    assert signature.evidencia == expected
    status = {"cpf": "aprovado", "nome": "aprovado", "nome_parcial": "pendente"}.get(expected, "reprovado")
    assert signature.campos[0].status == status
    # The documented rule, unchanged beside it.
    assert checker._comparar_nomes(nome, socios[0]["nome"] if socios else "") == oracle.comparar_nomes(
        nome, socios[0]["nome"] if socios else "")
