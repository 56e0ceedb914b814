"""The contract checker with a fake engine and a fake adapter, real models."""

import pathlib

import pytest

import quillon
from quillon.contract import checker as ck
from quillon.contract.models import AssinaturaExtraida, EmpresaExtraida

from checker_fakes import Answer, FakeAdapter, FakeEngine, Record, Result, registro, socio

KEYS = ("OPENAI_API_KEY", "AZURE_API_KEY", "AZURE_API_ENDPOINT", "AZURE_DEPLOYMENT_NAME")

ACME = registro("11.222.333/0001-81", "ACME SERVICOS LTDA", "ATIVA",
                [socio("MARIA DA SILVA"), socio("JOAO SOUZA", "22-Sócio")],
                logradouro="AVENIDA PAULISTA", numero="1000")
BETA = registro("06.990.590/0001-23", "BETA COMERCIO S.A.", "BAIXADA",
                [socio("BETA HOLDINGS LLC", "37-Sócio Pessoa Jurídica", "YUN KI LEE", "17-Procurador")])

EMPRESAS = [
    {"cnpj": "11.222.333/0001-81", "razao_social": "Acme Serviços Ltda", "endereco": "Av Paulista, 1000",
     "papel_no_contrato": "contratada"},
    {"cnpj": None, "razao_social": "Beta Comércio SA", "papel_no_contrato": "contratante"},
]
ASSINATURAS = [
    {"nome_signatario": "Yun Ki Lee", "cargo": "Procurador", "empresa_representada": "Beta Comércio SA"},
    {"nome_signatario": "Carlos Pereira", "cargo": "", "cnpj_empresa": "11.222.333/0001-81"},
    {"nome_signatario": "N/A", "tipo_assinatura": "digital"},
    {"nome_signatario": "Fulano de Tal", "empresa_representada": "Empresa Desconhecida"},
]

EXPECTED_STDOUT = """\
 
============================================================
🔍 VERIFICAÇÃO DE LEGITIMIDADE DE CONTRATO
📄 Arquivo: contrato.pdf
 ============================================================
 
📤 Extraindo dados do contrato...
🏢 Empresas extraídas: 2
✍️ Assinaturas extraídas: 4
 
🔍 Validando empresas na Receita Federal...
🏢 
--- Verificando: Acme Serviços Ltda ---
🔍 Consultando CNPJ 11.222.333/0001-81...
🏢 
--- Verificando: Beta Comércio SA ---
🔎 Buscando por nome: Beta Comércio SA...
 ✅ Encontrado: 06.990.590/0001-23
✍️ 
--- Verificando Assinaturas ---
👤 Verificando: Yun Ki Lee
 ✅ Yun Ki Lee TEM PODER (17-Procurador)
👤 Verificando: Carlos Pereira
 ❌ Carlos Pereira NÃO TEM PODER
👤 Verificando: Fulano de Tal
 ⚠️ Fulano de Tal - não foi possível verificar

============================================================
❌❌❌ RESULTADO FINAL: REPROVADO ❌❌❌
============================================================
   2 campo(s) reprovado(s)

────────────────────────────────────────────────────────────
📋 CAMPOS VERIFICADOS
────────────────────────────────────────────────────────────
   ✅ Aprovados: 7
   ❌ Reprovados: 2
   ⚠️ Pendentes: 1

   ✅ APROVADOS:
      • CNPJ - ACME SERVICOS LTDA
      • Situação Cadastral - ACME SERVICOS LTDA
      • Razão Social - ACME SERVICOS LTDA
      • Endereço - ACME SERVICOS LTDA
      • CNPJ - BETA COMERCIO S.A.
      • Razão Social - BETA COMERCIO S.A.
      • Poder de Assinatura - Yun Ki Lee

   ❌ REPROVADOS:
      • Situação Cadastral - BETA COMERCIO S.A.
      • Poder de Assinatura - Carlos Pereira

   ⚠️ PENDENTES:
      • Poder de Assinatura - Fulano de Tal

────────────────────────────────────────────────────────────
🏢 EMPRESAS (2)
────────────────────────────────────────────────────────────

   ✅ ACME SERVICOS LTDA
      CNPJ: 11.222.333/0001-81
      ✅ CNPJ: CNPJ encontrado
      ✅ Situação Cadastral: Empresa ATIVA
      ✅ Razão Social: Confere
      ✅ Endereço: Similaridade: 100%

   ❌ BETA COMERCIO S.A.
      CNPJ: 06.990.590/0001-23 (encontrado por busca)
      ✅ CNPJ: CNPJ encontrado
      ❌ Situação Cadastral: Empresa BAIXADA
      ✅ Razão Social: Confere

────────────────────────────────────────────────────────────
✍️ ASSINATURAS (4)
────────────────────────────────────────────────────────────

   ✅ Yun Ki Lee
      Cargo: Procurador
      ✅ Poder de Assinatura: Signatário tem poder (17-Procurador)

   ❌ Carlos Pereira
      ❌ Poder de Assinatura: Signatário NÃO encontrado no QSA

   ❌ (não identificado)
      ➖ Identificação: Signatário não identificado

   ❌ Fulano de Tal
      ⚠️ Poder de Assinatura: Não foi possível verificar

────────────────────────────────────────────────────────────
💰 MÉTRICAS
────────────────────────────────────────────────────────────
   Tokens: 1,234,567
   Custo: $0.0123
   Tempo: 12.3s

============================================================
"""


@pytest.fixture(autouse=True)
def environment(monkeypatch):
    for key in KEYS:
        monkeypatch.delenv(key, raising=False)
    monkeypatch.setattr(quillon, "Quillon", FakeEngine, raising=False)
    monkeypatch.setattr(quillon, "Question", Record, raising=False)
    monkeypatch.setattr(quillon, "QuestionConfig", Record, raising=False)
    FakeEngine.instances = []
    FakeEngine.result = None


@pytest.fixture
def adapter(monkeypatch):
    a = FakeAdapter(by_cnpj={"11222333000181": ACME}, by_name={"Beta Comércio SA": BETA})
    monkeypatch.setattr(ck, "get_adapter", lambda country: a)
    return a


@pytest.fixture
def contrato(tmp_path):
    path = tmp_path / "contrato.pdf"
    path.write_bytes(b"%PDF-1.4\n")
    return path


def make(verbose=True, **kw):
    return ck.ContractChecker("BR", openai_api_key="sk-test", verbose=verbose, **kw)


def answers(empresas=(), assinaturas=(), dados=None):
    return Result({"empresas": Answer({"empresas": list(empresas)}),
                   "assinaturas": Answer({"assinaturas": list(assinaturas)}),
                   "dados_contrato": Answer(dados)})


# --- the whole workflow ------------------------------------------------------
def test_full_verification_prints_the_report_and_returns_the_record(adapter, contrato, capsys):
    FakeEngine.result = answers(EMPRESAS, ASSINATURAS, {"objeto": "Serviços", "foro": "São Paulo"})
    result = make().verificar(str(contrato))
    assert capsys.readouterr().out == EXPECTED_STDOUT

    assert list(result) == ["resultado_final", "justificativa", "campos_aprovados", "campos_reprovados",
                            "campos_pendentes", "total_campos", "total_aprovados", "total_reprovados",
                            "total_pendentes", "empresas", "assinaturas", "dados_contrato", "metricas"]
    assert (result["resultado_final"], result["justificativa"]) == ("REPROVADO", "2 campo(s) reprovado(s)")
    assert result["campos_reprovados"] == ["Situação Cadastral - BETA COMERCIO S.A.",
                                           "Poder de Assinatura - Carlos Pereira"]
    assert (result["total_campos"], result["total_aprovados"], result["total_reprovados"],
            result["total_pendentes"]) == (10, 7, 2, 1)
    assert result["dados_contrato"] == {"objeto": "Serviços", "foro": "São Paulo"}
    assert result["metricas"] == {"tokens": 1234567, "custo_usd": 0.01234, "tempo_segundos": 12.345}

    acme, beta = result["empresas"]
    assert acme["cnpj_encontrado"] and acme["empresa_ativa"] and not acme["cnpj_buscado_por_nome"]
    assert beta["cnpj_buscado_por_nome"] and beta["problemas"] == ["Empresa com situação: BAIXADA"]
    assert beta["campos"][0]["valor_contrato"] == "(buscado automaticamente)"
    yun, carlos, ninguem, fulano = result["assinaturas"]
    assert (yun["tem_poder_assinatura"], yun["qualificacao_qsa"]) == (True, "17-Procurador")
    assert carlos["campos"][0]["valor_receita"] == "QSA: MARIA DA SILVA, JOAO SOUZA..."
    assert carlos["problemas"] == ["Signatário sem poder de assinatura"]
    assert ninguem["nome_signatario"] == "(não identificado)" and ninguem["tipo_assinatura"] == "digital"
    assert fulano["campos"][0]["status"] == "pendente" and fulano["problemas"] == []
    assert FakeEngine.instances[0].processed == [str(contrato)]


def test_quiet_checker_prints_nothing_and_returns_the_same(adapter, contrato, capsys):
    FakeEngine.result = answers(EMPRESAS, ASSINATURAS)
    loud = make().verificar(contrato)
    capsys.readouterr()
    FakeEngine.result = answers(EMPRESAS, ASSINATURAS)
    quiet = make(verbose=False).verificar(contrato)
    assert capsys.readouterr().out == ""
    assert quiet == loud


@pytest.mark.parametrize(
    ("empresas", "assinaturas", "verdict", "reason"),
    [
        ([], [], "APROVADO", "Todos os 0 campos verificados foram aprovados"),
        ([], [{"nome_signatario": ""}, {"nome_signatario": "N/A"}], "APROVADO",
         "Todos os 0 campos verificados foram aprovados"),
        ([{"cnpj": "11.222.333/0001-81", "razao_social": "ACME SERVICOS LTDA"}], [], "APROVADO",
         "Todos os 3 campos verificados foram aprovados"),
        ([{"cnpj": "11.222.333/0001-81", "razao_social": "Outra Coisa"}], [], "PENDENTE",
         "1 campo(s) requer(em) análise manual"),
        ([{"cnpj": "99.999.999/0001-99", "razao_social": ""}], [], "REPROVADO", "1 campo(s) reprovado(s)"),
    ],
)
def test_verdict_rule(adapter, contrato, empresas, assinaturas, verdict, reason):
    FakeEngine.result = answers(empresas, assinaturas)
    result = make(verbose=False).verificar(contrato)
    assert (result["resultado_final"], result["justificativa"]) == (verdict, reason)


def test_owner_of_a_company_not_found_is_its_contract_name_or_cnpj(adapter, contrato):
    FakeEngine.result = answers([{"cnpj": "99.999.999/0001-99", "razao_social": "Nada Ltda"},
                                 {"cnpj": "88.888.888/0001-88"}])
    result = make(verbose=False).verificar(contrato)
    assert result["campos_reprovados"] == ["CNPJ - Nada Ltda", "CNPJ - 88.888.888/0001-88"]


# --- engine start --------------------------------------------------------------
def test_engine_missing_gives_the_seven_key_pending_record(adapter, contrato, monkeypatch, capsys):
    monkeypatch.delattr(quillon, "Quillon")
    checker = make()
    result = checker.verificar(contrato)
    assert result == {
        "resultado_final": "PENDENTE",
        "justificativa": "Quillon não disponível. Instale com: pip install quillon",
        "campos_aprovados": [], "campos_reprovados": [],
        "campos_pendentes": ["Extração de dados não disponível"],
        "empresas": [], "assinaturas": [],
    }
    assert list(result)[4] == "campos_pendentes"
    assert "⚠️ Quillon não disponível. Instale com: pip install quillon\n" in capsys.readouterr().out
    assert checker._quillon_available is False


def test_engine_start_is_memoised_and_registers_three_questions(adapter):
    checker = make(model="gpt-x")
    assert checker._init_quillon() is True and checker._init_quillon() is True
    (engine,) = FakeEngine.instances
    assert engine.kwargs == {"provider": "openai", "api_key": "sk-test", "model": "gpt-x", "verbose": True}
    assert [q.config.id for q in engine.questions] == ["empresas", "assinaturas", "dados_contrato"]
    first = engine.questions[0]
    assert (first.config.name, first.config.tag) == ("Empresas do Contrato", "empresas")
    assert first.keywords == ["cnpj", "contratante", "contratada", "inscrita", "razão social", "ltda", "s/a"]
    assert first.response_model is ck.ExtracaoEmpresas
    assert "{texto}" in first.user_prompt
    assert engine.questions[2].system_prompt == ("Você é um especialista em análise de contratos.\n"
                                                 "Extraia os dados gerais do contrato.")


def test_failed_start_is_logged_once_and_not_retried(adapter, monkeypatch, capsys):
    def broken(**kwargs):
        raise RuntimeError("sem rede")

    monkeypatch.setattr(quillon, "Quillon", broken)
    checker = make()
    assert checker._init_quillon() is False and checker._init_quillon() is False
    assert capsys.readouterr().out == "❌ Erro ao inicializar Quillon: sem rede\n"


def test_engine_kwargs_from_auth_are_overridden(adapter, monkeypatch):
    checker = make(verbose=False, model="m1")
    monkeypatch.setattr(type(checker._auth), "get_quillon_kwargs",
                        lambda self: {"api_key": "k", "model": "other", "verbose": True})
    checker._init_quillon()
    assert FakeEngine.instances[0].kwargs == {"api_key": "k", "model": "m1", "verbose": False}


# --- construction ----------------------------------------------------------------
def test_construction_errors(adapter, monkeypatch):
    with pytest.raises(ValueError, match=r"^country is required \(e.g., country='BR'\)$"):
        ck.ContractChecker("", openai_api_key="sk")
    with pytest.raises(ValueError, match="^OpenAI API key não configurada. Defina OPENAI_API_KEY ou passe openai_api_key.$"):
        ck.ContractChecker("BR")
    with pytest.raises(ValueError, match="^Credenciais Azure não configuradas"):
        ck.ContractChecker("BR", provider="azure")
    with pytest.raises(TypeError, match="argument 'model'"):
        ck.ContractChecker("BR", openai_api_key="sk", model=4)
    with pytest.raises(TypeError, match="argument 'country'"):
        ck.ContractChecker(None, openai_api_key="sk")


def test_fields_properties_and_log(adapter, capsys):
    checker = make()
    assert list(vars(checker)) == ["adapter", "verbose", "model", "usar_ai_search", "_auth", "_client",
                                   "_quillon_available"]
    assert (checker.token, checker.provider, checker.auth is checker._auth) == ("sk-test", "openai", True)
    checker._log("x")
    checker._log("y", "")
    checker.verbose = False
    checker._log("z")
    assert capsys.readouterr().out == "📋 x\n y\n"
    checker._auth.provider = 3
    with pytest.raises(TypeError):
        checker.provider


def test_methods_are_called_through_the_instance(adapter, contrato, monkeypatch):
    FakeEngine.result = answers(EMPRESAS, ASSINATURAS)
    checker = make(verbose=False)
    seen = []
    monkeypatch.setattr(checker, "_comparar_nomes", lambda a, b: seen.append((a, b)) or True)
    result = checker.verificar(contrato)
    assert seen and result["total_pendentes"] == 0  # every name "matches"
    monkeypatch.setattr(ck.ContractChecker, "_imprimir_relatorio", lambda self, **kw: seen.append("report"))
    checker.verbose = True
    checker.verificar(contrato)
    assert seen[-1] == "report"


# --- errors ------------------------------------------------------------------------
def test_missing_file(adapter, capsys):
    with pytest.raises(FileNotFoundError, match="^Arquivo não encontrado: /nao/existe.pdf$"):
        make().verificar("/nao/existe.pdf")
    assert capsys.readouterr().out == ""
    assert FakeEngine.instances == []


def test_engine_and_adapter_errors_propagate(adapter, contrato, monkeypatch):
    FakeEngine.result = answers(EMPRESAS)
    monkeypatch.setattr(adapter, "lookup_company", lambda c: 1 / 0)
    with pytest.raises(ZeroDivisionError):
        make(verbose=False).verificar(contrato)
    FakeEngine.result = answers(["not a mapping"])
    with pytest.raises(TypeError):
        make(verbose=False).verificar(contrato)


@pytest.mark.parametrize(
    ("call", "param"),
    [
        (lambda c: c._validar_empresas(()), "empresas"),
        (lambda c: c._validar_assinaturas([], []), "dados_receita_cache"),
        (lambda c: c._verificar_poder_assinatura(None, {}), "nome_signatario"),
        (lambda c: c._comparar_nomes("a", None), "nome2"),
        (lambda c: c._normalizar_texto(b"x"), "texto"),
        (lambda c: c._log(1), "msg"),
        (lambda c: c.verificar(3), "documento"),
    ],
)
def test_argument_types(adapter, call, param):
    with pytest.raises(TypeError, match=f"'{param}'"):
        call(make())


def test_verificar_contrato_entry(adapter, contrato, monkeypatch):
    FakeEngine.result = answers()
    monkeypatch.setenv("OPENAI_API_KEY", "sk-env")
    assert ck.verificar_contrato(contrato, "BR", verbose=False)["resultado_final"] == "APROVADO"
    with pytest.raises(TypeError, match="verificar_contrato"):
        ck.verificar_contrato(contrato, "BR", None, False, 5)
    with pytest.raises(TypeError, match="verificar_contrato"):
        ck.verificar_contrato(contrato, "BR", model="x")


# --- company and signature rules ---------------------------------------------------
def test_company_with_invalid_cnpj_found_by_name(adapter):
    empresas = [EmpresaExtraida(cnpj="123", razao_social="Beta Comércio SA")]
    (beta,), cache = make(verbose=False)._validar_empresas(empresas)
    assert beta.campos[0].valor_contrato == "123" and beta.cnpj_buscado_por_nome
    assert list(cache) == ["06990590000123", "beta comercio sa"]
    assert ("lookup_company", "123") not in adapter.calls


def test_company_without_cnpj_or_name(adapter):
    (e,), cache = make(verbose=False)._validar_empresas([EmpresaExtraida()])
    assert (e.campos[0].valor_contrato, e.problemas, cache, adapter.calls) == (
        "(não informado)", ["CNPJ não encontrado"], {}, [])


@pytest.mark.parametrize(("situacao", "ativa", "mensagem"),
                         [("ativa", True, "Empresa ATIVA"), ("", False, "Empresa "), (None, False, "Empresa ")])
def test_status_is_upper_cased_and_missing_is_empty(adapter, situacao, ativa, mensagem):
    adapter.by_cnpj["11222333000181"] = dict(ACME, situacao=situacao)
    (e,), _ = make(verbose=False)._validar_empresas([EmpresaExtraida(cnpj="11222333000181")])
    assert (e.empresa_ativa, e.campos[1].mensagem) == (ativa, mensagem)


def test_signatory_of_a_missing_company_is_searched_in_every_qsa(adapter):
    cache = {"11222333000181": ACME, "acme servicos ltda": ACME, "06990590000123": BETA}
    checker = make(verbose=False)
    (a,) = checker._validar_assinaturas([AssinaturaExtraida(nome_signatario="Maria Silva")], cache)
    assert (a.tem_poder_assinatura, a.qualificacao_qsa) == (True, "49-Sócio-Administrador")
    # Direct hit on another company: judged only against that company's QSA.
    (b,) = checker._validar_assinaturas(
        [AssinaturaExtraida(nome_signatario="Maria Silva", cnpj_empresa="06.990.590/0001-23")], cache)
    assert b.campos[0].status == "reprovado"


def test_qsa_summary_lists_three_names_or_empty(adapter):
    five = dict(ACME, socios=[socio(n) for n in ("A1 X", "B2 Y", "C3 Z", "D4 W", "E5 V")])
    checker = make(verbose=False)
    (a,) = checker._validar_assinaturas([AssinaturaExtraida(nome_signatario="Zé", cnpj_empresa="1")], {"1": five})
    assert a.campos[0].valor_receita == "QSA: A1 X, B2 Y, C3 Z..."
    empty = {k: v for k, v in ACME.items() if k != "socios"}
    (b,) = checker._validar_assinaturas([AssinaturaExtraida(nome_signatario="Zé", cnpj_empresa="1")], {"1": empty})
    assert b.campos[0].valor_receita == "QSA vazio"


@pytest.mark.parametrize(
    ("nome", "expected"),
    [("MARIA DA SILVA", (True, "49-Sócio-Administrador")), ("Yun Ki Lee", (True, "17-Procurador")),
     ("Beta Holdings", (True, "37-Sócio Pessoa Jurídica")), ("Ninguém", (False, None))],
)
def test_verificar_poder_assinatura(adapter, nome, expected):
    record = dict(ACME, socios=ACME["socios"] + BETA["socios"])
    checker = make(verbose=False)
    assert checker._verificar_poder_assinatura(nome, record) == expected
    # The same answers through a replaced _comparar_nomes (the generic path).
    checker._comparar_nomes = ck.ContractChecker._comparar_nomes.__get__(checker)
    assert checker._verificar_poder_assinatura(nome, record) == expected


def test_none_names_in_the_qsa_never_match(adapter):
    record = dict(ACME, socios=[{"nome": None, "qualificacao": "x", "nome_representante": None}])
    assert make(verbose=False)._verificar_poder_assinatura("Maria", record) == (False, None)
