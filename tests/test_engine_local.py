"""The engine with the local provider: the rule-based extractor field by field,
on the sample contracts and on varied phrasings; the engine's surface."""

import os
import subprocess
import sys

import pymupdf
import pytest

import quillon
from extraction_scoring import EXAMPLES, expected, field_results
from quillon.contract.auth import QuillonAuth
from quillon.contract.models import ExtracaoAssinaturas, ExtracaoDadosContrato, ExtracaoEmpresas
from quillon.engine.documents import read_document, tesseract_available
from quillon.engine.extractor import extract

SAMPLES = expected()
TEXT_SAMPLES = [n for n, s in SAMPLES.items() if not s["escaneado"]]


def _text(name):
    return read_document(str(EXAMPLES / name)).text


@pytest.fixture(scope="module")
def answers():
    return {name: extract(_text(name)) for name in TEXT_SAMPLES}


def _cases():
    for name in TEXT_SAMPLES:
        for group, field, want, _, _ in field_results(SAMPLES[name]["extracao"], {
                "empresas": {"empresas": []}, "assinaturas": {"assinaturas": []}, "dados_contrato": {}}):
            yield name, group, field, want


@pytest.mark.parametrize(("sample", "group", "field", "want"), list(_cases()))
def test_sample_fields(answers, sample, group, field, want):
    results = field_results(SAMPLES[sample]["extracao"], answers[sample])
    matching = [r for r in results if r[0] == group and r[1] == field and r[2] == want]
    assert matching and all(r[4] for r in matching), matching


@pytest.mark.skipif(not tesseract_available(), reason="Tesseract with Portuguese data not installed")
def test_scanned_sample_reads_with_tesseract():
    name = next(n for n, s in SAMPLES.items() if s["escaneado"])
    doc = read_document(str(EXAMPLES / name))
    assert doc.unreadable == [] and {p.source for p in doc.pages} == {"tesseract"}
    answer = extract(doc.text)
    results = field_results(SAMPLES[name]["extracao"], answer)
    # Recognition may misread a letter of a name; identifiers and roles must come through.
    key = [r for r in results if r[1] in ("cnpj", "nome_signatario", "papel_no_contrato", "cnpj_empresa", "valor")]
    assert all(r[4] for r in key), [r for r in key if not r[4]]


def test_scanned_page_without_tesseract_is_unreadable():
    name = next(n for n, s in SAMPLES.items() if s["escaneado"])
    doc = read_document(str(EXAMPLES / name), use_tesseract=False)
    assert doc.unreadable == [1, 2] and doc.text.strip() == ""


def _thin_pages_pdf(path):
    """Page 1 a contract text, pages 2-4 blank, page 5 a picture of a (white) page."""
    doc = pymupdf.open()
    doc.new_page().insert_text((72, 72), "\n".join(["CONTRATO DE PRESTAÇÃO DE SERVIÇOS"] * 6))
    for _ in range(3):
        doc.new_page()
    pix = pymupdf.Pixmap(pymupdf.csGRAY, pymupdf.IRect(0, 0, 60, 60), False)
    pix.clear_with(255)
    page = doc.new_page()
    page.insert_image(page.rect, pixmap=pix)
    doc.save(path)
    return str(path)


def _spy(monkeypatch, owner, name):
    calls = []
    real = getattr(owner, name)
    monkeypatch.setattr(owner, name, lambda *a, **k: calls.append(a) or real(*a, **k))
    return calls


def test_thin_pages_are_not_rendered_without_an_ocr_service(monkeypatch, tmp_path):
    from quillon import ocr
    from quillon.engine import documents

    monkeypatch.delenv("AZURE_AI_VISION_KEY", raising=False)
    rendered = _spy(monkeypatch, ocr, "render_page_as_image")
    tesseract = _spy(monkeypatch, documents, "read_pages")
    doc = read_document(_thin_pages_pdf(tmp_path / "thin.pdf"))
    assert rendered == []  # no Azure key: no picture for Azure
    # The picture only, not the blank pages.
    assert [list(pages) for _, pages in tesseract] == ([[5]] if tesseract_available() else [])
    assert [p.number for p in doc.pages] == [1, 2, 3, 4, 5] and doc.page_count == 5
    assert [p.source for p in doc.pages] == ["text"] + ["ocr_failed"] * 4
    assert doc.unreadable == [5] and list(doc.reasons) == [5]
    assert "CONTRATO DE PRESTAÇÃO" in doc.text


def test_thin_pages_go_to_azure_when_it_is_configured(monkeypatch, tmp_path):
    from quillon import ocr

    monkeypatch.setenv("AZURE_AI_VISION_ENDPOINT", "https://x.cognitiveservices.azure.com/")
    monkeypatch.setenv("AZURE_AI_VISION_KEY", "k")
    rendered = _spy(monkeypatch, ocr, "render_page_as_image")
    monkeypatch.setattr(ocr, "perform_azure_ocr", lambda image, image_format="png": None)  # the cloud reads nothing
    doc = read_document(_thin_pages_pdf(tmp_path / "thin.pdf"), use_tesseract=False)
    assert len(rendered) == 4 and doc.unreadable == [5]
    assert doc.reasons[5] == "o OCR Azure não retornou texto e a leitura com o Tesseract foi desligada"


@pytest.mark.skipif(not tesseract_available(), reason="Tesseract with Portuguese data not installed")
def test_unreadable_pages_say_why_when_tesseract_is_installed(monkeypatch, tmp_path):
    monkeypatch.delenv("AZURE_AI_VISION_KEY", raising=False)
    doc = pymupdf.open()
    page = doc.new_page(width=14400, height=14400)  # the largest page PDF allows: too big to render at 300 DPI
    pix = pymupdf.Pixmap(pymupdf.csGRAY, pymupdf.IRect(0, 0, 200, 200), False)
    pix.clear_with(128)
    page.insert_image(page.rect, pixmap=pix)
    page = doc.new_page()
    page.insert_image(page.rect, pixmap=pix)  # an ordinary page, a picture with nothing written
    doc.save(tmp_path / "huge.pdf")
    read = read_document(str(tmp_path / "huge.pdf"))
    assert read.unreadable == [1, 2]
    assert "Tesseract não conseguiu ler a página" in read.reasons[1] and "grande demais" in read.reasons[1]
    assert read.reasons[2] == "o Tesseract não encontrou texto na página"
    assert not any("instale" in r for r in read.reasons.values())


PHRASINGS = [
    # (text, CNPJ, name, role, address, representative, cargo)
    ("ACME COMÉRCIO DE PEÇAS LTDA, sociedade empresária limitada, inscrita no CNPJ/MF sob o nº 11.222.333/0001-81, "
     "com sede na Rua das Flores, nº 100, Centro, Curitiba/PR, neste ato representada por seu sócio administrador, "
     "Sr. CARLOS ALBERTO NUNES, brasileiro, casado, doravante denominada CONTRATADA.",
     "11.222.333/0001-81", "ACME COMÉRCIO DE PEÇAS LTDA", "contratada", "Rua das Flores, nº 100, Centro, Curitiba/PR",
     "CARLOS ALBERTO NUNES", "sócio administrador"),
    ("CONTRATANTE: Beta Serviços S.A., CNPJ 11222333000181, estabelecida na Avenida Brasil, 500, Rio de Janeiro/RJ, "
     "aqui representada pela sua Diretora Financeira, Ana Paula Moreira.",
     "11222333000181", "Beta Serviços S.A.", "contratante", "Avenida Brasil, 500, Rio de Janeiro/RJ",
     "Ana Paula Moreira", "Diretora Financeira"),
    ("De um lado, o MUNICÍPIO DE EXEMPLÓPOLIS, por intermédio da SECRETARIA MUNICIPAL DE SAÚDE, inscrita no CNPJ sob o "
     "nº 11.222.333/0001-81, sediada na Praça da Matriz, s/n, neste ato representada pelo Secretário Municipal de "
     "Saúde, Sr. PEDRO HENRIQUE DIAS, doravante simplesmente denominada CONTRATANTE;",
     "11.222.333/0001-81", "SECRETARIA MUNICIPAL DE SAÚDE", "contratante", "Praça da Matriz, s/n",
     "PEDRO HENRIQUE DIAS", None),
    ("GAMA ENGENHARIA EIRELI, pessoa jurídica de direito privado, inscrita no CNPJ sob nº 11.222.333/0001-81, com "
     "endereço na Rodovia SP-330, km 98, Jundiaí/SP, representada neste ato por João da Silva Prado, Diretor, "
     "na qualidade de INTERVENIENTE ANUENTE.",
     "11.222.333/0001-81", "GAMA ENGENHARIA EIRELI", "interveniente", "Rodovia SP-330, km 98, Jundiaí/SP",
     "João da Silva Prado", "Diretor"),
    ("Delta Garantias Ltda., inscrita no CNPJ nº 11.222.333/0001-81, situada à Rua XV de Novembro, 12, Blumenau/SC, "
     "neste ato representada por Marta Regina Alves, doravante denominada FIADORA.",
     "11.222.333/0001-81", "Delta Garantias Ltda.", "fiadora", "Rua XV de Novembro, 12, Blumenau/SC",
     "Marta Regina Alves", None),
]


@pytest.mark.parametrize(("text", "cnpj", "name", "role", "address", "person", "cargo"), PHRASINGS)
def test_party_phrasings(text, cnpj, name, role, address, person, cargo):
    answer = extract(text)
    (company,) = answer["empresas"]["empresas"]
    assert (company["cnpj"], company["razao_social"], company["papel_no_contrato"], company["endereco"]) == (
        cnpj, name, role, address)
    (signer,) = answer["assinaturas"]["assinaturas"]
    assert signer["nome_signatario"] == person
    assert signer["empresa_representada"] == name
    if cargo is not None:
        assert signer["cargo"] == cargo


@pytest.mark.parametrize(
    ("text", "found"),
    [
        ("CNPJ 11.222.333/0001-82 e 11.222.333/0001-81", ["11.222.333/0001-81"]),  # check digits decide
        ("inscrita no CNPJ sob o nº 09.025.418/0001- 28, com sede", ["09.025.418/0001-28"]),  # stray space
        ("CNPJ nº 12.ABC.345/01DE-35, com sede", ["12.ABC.345/01DE-35"]),  # alphanumeric
        ("telefone 11 2222 3333 0001 81", []),
    ],
)
def test_cnpjs_by_pattern_and_check_digits(text, found):
    assert [e["cnpj"] for e in extract(text)["empresas"]["empresas"]] == found


@pytest.mark.parametrize(
    ("text", "field", "value"),
    [
        ("O prazo de vigência do contrato será de 24 (vinte e quatro) meses.", "vigencia", "24 (vinte e quatro) meses"),
        ("A vigência é de 90 dias corridos.", "vigencia", "90 dias corridos"),
        ("O valor total deste contrato é de R$ 1.234.567,89 (um milhão...).", "valor", "R$ 1.234.567,89 (um milhão...)"),
        ("pagará R$ 500,00 por mês", "valor", "R$ 500,00"),
        ("As partes elegem o foro da Comarca de Belém-PA para resolver os litígios.", "foro", "Comarca de Belém-PA"),
        ("Fica eleito o Foro da Seção Judiciária do Distrito Federal, com renúncia de outro.", "foro",
         "Seção Judiciária do Distrito Federal"),
        ("Cláusula 1ª. O presente contrato tem como objeto o fornecimento de licenças. 1.2. Outras.", "objeto",
         "o fornecimento de licenças"),
        ("CONTRATO DE LOCAÇÃO COMERCIAL Nº 12/2024\nentre as partes", "tipo_contrato", "CONTRATO DE LOCAÇÃO COMERCIAL"),
        ("texto " * 50 + "\nCuritiba/PR, 5 de janeiro de 2024.", "data", "5 de janeiro de 2024"),
    ],
)
def test_contract_data_phrasings(text, field, value):
    assert extract(text)["dados_contrato"][field] == value


def test_signature_stamps_blocks_and_witnesses():
    text = (
        "E por estarem justas, as partes assinam.\n\nSão Paulo, 1 de abril de 2025.\n\n"
        "______________________\nMARIA CLARA FONSECA - Diretora\nOMEGA LTDA\n\n"
        "Documento assinado eletronicamente por Rui Barbosa Neto, Gerente, em 02/04/2025, às 10:00.\n"
        "TESTEMUNHAS:\n1. ____________ Nome: Lucas Andrade Reis CPF: 111.444.777-35\n"
    )
    signers = {s["nome_signatario"]: s for s in extract(text)["assinaturas"]["assinaturas"]}
    assert signers["MARIA CLARA FONSECA"]["cargo"] == "Diretora"
    assert signers["MARIA CLARA FONSECA"]["tipo_assinatura"] == "manuscrita"
    assert signers["Rui Barbosa Neto"]["tipo_assinatura"] == "digital"
    assert signers["Lucas Andrade Reis"] == {
        "nome_signatario": "Lucas Andrade Reis", "cargo": None, "cpf": "111.444.777-35",
        "empresa_representada": None, "cnpj_empresa": None, "tipo_assinatura": "testemunha"}


# --- the engine ------------------------------------------------------------------
def _engine(**kw):
    engine = quillon.Quillon(provider="local", **kw)
    for qid, model in (("empresas", ExtracaoEmpresas), ("assinaturas", ExtracaoAssinaturas),
                       ("dados_contrato", ExtracaoDadosContrato)):
        engine.add_question(quillon.Question(config=quillon.QuestionConfig(id=qid, name=qid, tag=qid),
                                             system_prompt="s", user_prompt="{texto}", keywords=[],
                                             response_model=model))
    return engine


def test_engine_processes_a_pdf_with_zero_cost():
    result = _engine().process(EXAMPLES / "contrato_servicos_aprovado.pdf")
    assert result.extracted and result.triagem["eh_contrato"]
    assert [e["cnpj"] for e in result.get_result("empresas").raw_result["empresas"]] == [
        "06.990.590/0001-23", "19.131.243/0001-97"]
    assert (result.total_metrics.tokens, result.total_metrics.cost_usd) == (0, 0.0)
    assert result.total_metrics.time_seconds > 0
    assert result.get_result("nada") is None


def test_precheck_leaves_non_contracts_unanswered(tmp_path):
    pdf = tmp_path / "nf.pdf"
    doc = pymupdf.open()
    doc.new_page().insert_text((50, 80), "NOTA FISCAL DE SERVIÇOS - valor, contrato, cláusula, CNPJ 11.222.333/0001-81")
    doc.save(pdf)
    result = _engine().process(pdf)
    assert not result.extracted and result.answers == {}
    assert result.triagem["motivo"] == "exclusao"
    assert _engine(precheck=False).process(pdf).extracted


def test_question_with_same_id_replaces_and_unknown_provider_fails():
    engine = _engine()
    engine.add_question(quillon.Question(config=quillon.QuestionConfig(id="empresas"), response_model=ExtracaoEmpresas))
    assert [q.config.id for q in engine.questions] == ["assinaturas", "dados_contrato", "empresas"]
    with pytest.raises(ValueError):
        quillon.Quillon(provider="gemini")
    with pytest.raises(ValueError):
        quillon.Quillon(provider="openai", api_key=None)


def test_import_quillon_stays_light():
    code = ("import sys, quillon; heavy = [m for m in ('openai', 'pymupdf', 'fitz', 'azure', 'quillon.engine') "
            "if m in sys.modules]; print(heavy); quillon.Quillon; print('quillon.engine' in sys.modules, "
            "'openai' in sys.modules)")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout.split("\n")
    assert out[:2] == ["[]", "True False"]


@pytest.mark.parametrize(
    ("kwargs", "env", "provider", "has_key", "engine_kwargs"),
    [
        ({"provider": "local"}, {}, "local", True, {"provider": "local"}),
        ({}, {"QUILLON_PROVIDER": "local"}, "local", True, {"provider": "local"}),
        ({"provider": "openai"}, {"QUILLON_PROVIDER": "local"}, "openai", False, {"provider": "openai", "api_key": None}),
        ({}, {"QUILLON_PROVIDER": " Local "}, "local", True, {"provider": "local"}),
        ({}, {}, "openai", False, {"provider": "openai", "api_key": None}),
    ],
)
def test_auth_local_provider(monkeypatch, kwargs, env, provider, has_key, engine_kwargs):
    for name in ("OPENAI_API_KEY", "AZURE_API_KEY", "AZURE_API_ENDPOINT", "AZURE_DEPLOYMENT_NAME", "QUILLON_PROVIDER"):
        monkeypatch.delenv(name, raising=False)
    for k, v in env.items():
        monkeypatch.setenv(k, v)
    auth = QuillonAuth(**kwargs)
    assert (auth.provider, auth.has_api_key, auth.get_quillon_kwargs()) == (provider, has_key, engine_kwargs)


def test_auth_rejects_unknown_provider_from_environment(monkeypatch):
    monkeypatch.setenv("QUILLON_PROVIDER", "gemini")
    with pytest.raises(ValueError, match="gemini"):
        QuillonAuth()
