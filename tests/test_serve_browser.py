"""The page of quillon serve, driven in a real headless Chromium (Debian's ``chromium``) as an analyst uses it.

Playwright's own browser builds are not used: its Python API drives the
system's Chromium (``executable_path``).  Without a Chromium (``make
deps-browser`` installs it) these tests skip and say so.
"""

import os
import pathlib
import shutil

import pytest

pytest.importorskip("fastapi", reason='quillon serve needs the "serve" extra')
sync_api = pytest.importorskip("playwright.sync_api", reason="Playwright is not installed (pip install .[test])")

from serve_process import ServeProcess, expected_verdicts, sample_registry  # noqa: E402
from extraction_scoring import EXAMPLES, expected  # noqa: E402

CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
pytestmark = pytest.mark.skipif(CHROMIUM is None, reason="no Chromium on this machine: make deps-browser installs "
                                                        "Debian's chromium")
#: Where a copy of the report page's screenshot goes as well, when set (the README's picture).
SCREENSHOT_ENV = "QUILLON_SCREENSHOT"
VERDICT_WAIT_MS = 120_000


@pytest.fixture(scope="module")
def server(tmp_path_factory):
    registry = sample_registry(tmp_path_factory.mktemp("sample"))
    with ServeProcess(tmp_path_factory.mktemp("serve"), registry) as srv:
        yield srv


@pytest.fixture(scope="module")
def browser():
    with sync_api.sync_playwright() as p:
        b = p.chromium.launch(executable_path=CHROMIUM, headless=True, args=["--no-sandbox"])
        yield b
        b.close()


def test_uploaded_contracts_show_their_verdicts_and_companies(server, browser, tmp_path):
    page = browser.new_page(viewport={"width": 1280, "height": 900})
    page.goto(server.url + "/")
    assert page.locator("h1").inner_text() == "Verificar contratos"
    verdicts = expected_verdicts()
    page.set_input_files("#arquivos", [str(EXAMPLES / name) for name in verdicts])
    for name, verdict in verdicts.items():
        card = page.locator("section.verificacao", has=page.locator("h2.arquivo", has_text=name))
        banner = card.locator(".banner .veredito")
        banner.wait_for(timeout=VERDICT_WAIT_MS)
        assert banner.inner_text() == verdict, name
        shown = card.locator("article.empresa h4").all_inner_texts()
        for empresa in expected()[name]["extracao"]["empresas"]:
            assert any(empresa["cnpj"] in text for text in shown), (name, empresa["cnpj"], shown)
    rejected = page.locator("section.verificacao", has=page.locator("h2.arquivo", has_text="contrato_signatario"))
    assert rejected.locator("article.assinatura").filter(has_text="MARCOS ANTONIO PEREIRA") \
        .locator("text=não consta no QSA").count() == 1
    page.screenshot(path=str(tmp_path / "pagina.png"), full_page=True)
    # The JSON record behind the link is the API's result.
    link = rejected.locator("a.baixar").get_attribute("href")
    job_id = link.split("/")[2]
    assert page.request.get(server.url + link).json() == server.wait(job_id)["resultado"]
    # The report page of one contract, as a link to it shows it.
    page.goto(f"{server.url}/verificacoes/{job_id}")
    assert page.locator(".banner .veredito").inner_text() == "REPROVADO"
    shot = tmp_path / "relatorio.png"
    page.screenshot(path=str(shot), full_page=True)
    assert shot.stat().st_size > 10_000
    if os.environ.get(SCREENSHOT_ENV):
        shutil.copy(shot, pathlib.Path(os.environ[SCREENSHOT_ENV]))
    assert server.leftovers() == []


def test_report_reads_on_a_phone(server, browser):
    status, job = server.upload((EXAMPLES / "contrato_servicos_aprovado.pdf").read_bytes(), "celular.pdf")
    server.wait(job["id"])
    page = browser.new_page(viewport={"width": 390, "height": 844}, is_mobile=True, has_touch=True)
    page.goto(f"{server.url}/verificacoes/{job['id']}")
    assert page.locator(".banner .veredito").inner_text() == "APROVADO"
    # Nothing wider than the screen: no sideways scrolling to read a field.
    assert page.evaluate("document.documentElement.scrollWidth <= window.innerWidth")


def test_cnpj_lookup_and_screening_pages(server, browser, tmp_path):
    page = browser.new_page()
    page.goto(server.url + "/cnpj")
    page.fill("input[name=cnpj]", "06.990.590/0001-23")
    page.click("main form button")
    page.wait_for_selector(".banner")
    assert "GOOGLE BRASIL INTERNET LTDA." in page.locator(".banner").inner_text()
    assert "FABIO JOSE SILVA COELHO" in page.locator("table.socios").inner_text()
    page.goto(server.url + "/triagem")
    note = tmp_path / "nota.txt"
    note.write_text("NOTA FISCAL DE SERVIÇOS ELETRÔNICA\nValor total R$ 10,00", encoding="utf-8")
    page.set_input_files("input[name=arquivo]", str(note))
    page.click("main form button")
    page.wait_for_selector(".banner .veredito")
    assert page.locator(".banner .veredito").inner_text() == "NÃO É CONTRATO"


def test_refused_files_are_said_in_the_page(tmp_path, browser):
    registry = sample_registry(tmp_path)
    with ServeProcess(tmp_path / "serve", registry, env={"QUILLON_SERVE_MAX_MB": "0.1"}) as srv:
        page = browser.new_page()
        page.goto(srv.url + "/")
        fake = tmp_path / "planilha.pdf"
        fake.write_bytes(b"PK\x03\x04 not a pdf")
        page.set_input_files("#arquivos", [str(fake), str(EXAMPLES / "contrato_digitalizado.pdf")])  # 0.36 MB
        alerts = page.locator(".banner.erro")
        alerts.nth(1).wait_for(timeout=30_000)
        texts = sorted(alerts.all_inner_texts())
        assert "limite de 0.1 MB" in texts[0] and "não é um PDF" in texts[1], texts
        assert srv.leftovers() == [] and srv.job_rows() == []
