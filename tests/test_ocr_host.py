"""The OCR module's surface (load-time names, documentation, stubs) and the host
layer it runs on: configuration, utilities, the page record, the Google provider."""

import base64
import io
import pathlib
import subprocess
import sys

import pydantic
import pymupdf
import pytest

import quillon.config as config
import quillon.models.result as result
import quillon.providers.google as google
import quillon.utils as utils
from ocr_helpers import SCANNED_CONTRACT, TEXT_CONTRACT, PageLayout, Recorder, make_pdf, ns, text_of_length
from quillon import ocr

PDF = make_pdf([text_of_length(150), "curta", "", PageLayout(image=True), text_of_length(101)])
RAW = b"%PDF-1.7 conteudo"


def test_load_time_names_are_the_hosts_and_imports_stay_light():
    assert (ocr.get_azure_config, ocr.VISION_FALLBACK_PROMPT, ocr._ensure_bytes, ocr.Page, ocr.fitz) == (
        config.get_azure_config, config.VISION_FALLBACK_PROMPT, utils._ensure_bytes, result.Page, pymupdf)
    heavy = "('fitz', 'pymupdf', 'PIL', 'azure', 'tenacity')"
    code = f"import sys, quillon.ocr; print([m for m in {heavy} if m in sys.modules])"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.strip() == "[]"
    stub = pathlib.Path(ocr.__file__).with_name("ocr.pyi").read_text()
    assert "def render_page_as_image(doc: pymupdf.Document, page_num: int, dpi: int = 150) -> bytes" in stub
    assert "def perform_azure_ocr(image_bytes: bytes, image_format: str = 'png') -> str | None" in stub


DOCS = {
    "render_page_as_image": "Renderiza uma página como imagem PNG.",
    "render_page_as_pdf": "Extrai uma página como PDF de uma página, sem rasterizar.\n\n"
    "    O Gemini cobra PDF por página de documento (258 tokens), enquanto o mesmo\n"
    "    conteúdo rasterizado a 150 DPI vira 6 tiles de 768x768 (~1.548 tokens).\n    ",
    "_is_transient_azure_error": "Decide se vale repetir a chamada de OCR.\n\n"
    "    Credencial errada (401/403) e imagem recusada (400) não melhoram na\n"
    "    segunda tentativa: antes o retry disparava em qualquer exceção e gastava\n"
    "    três chamadas e ~17s de backoff para devolver o mesmo erro.\n    ",
    "_vision_payload": "Payload da página para o provider de visão: (bytes, formato).\n\n"
    "    Só o Google aceita PDF inline; OpenAI, Azure e Grok recebem imagem.\n    ",
    "perform_azure_ocr": ["Realiza OCR usando Azure AI Vision com retry e backoff exponencial.\n",
                          "image_bytes: Bytes da imagem", "image_format: Formato da imagem", "Texto extraído ou None"],
    "perform_vision_fallback": ["Extract text from an image via a Vision LLM.\n", "llm_caller(messages, None)",
                                "quillon.providers.google.call_vision"],
    "load_pdf_with_ocr": ["Carrega PDF aplicando OCR nas páginas com imagem.\n",
                          "source: Caminho do arquivo ou bytes do PDF", "use_azure: Se True, usa Azure OCR",
                          "filename: Nome para log quando source é bytes (ignorado se source é Path)",
                          "llm_caller: Callable para Vision LLM fallback", "Lista de Page objects",
                          '"off"', '"auto"', '"force"'],
    "process_pdf_smart": ["Processa PDF de forma inteligente, aplicando OCR quando necessário.\n",
                          "min_chars: Mínimo de caracteres para considerar página com texto",
                          "Lista de Page objects", '"off"', '"auto"', '"force"'],
}


@pytest.mark.parametrize("name", DOCS)
def test_documentation_texts(name):
    signature, text = getattr(ocr, name).__doc__.split("\n\n", 1)
    assert signature.startswith(name + "(")
    expected = DOCS[name]
    if isinstance(expected, str):
        assert text == expected
    else:
        assert text.startswith(expected[0]) and all(part in text for part in expected)
    if name == "perform_vision_fallback":
        assert text.rstrip().endswith("Returns extracted text or None on any failure / empty response.")


def test_configuration(monkeypatch):
    monkeypatch.delenv("AZURE_AI_VISION_ENDPOINT", raising=False)
    monkeypatch.delenv("AZURE_AI_VISION_KEY", raising=False)
    assert config.get_azure_config() == ("", "")
    monkeypatch.setenv("AZURE_AI_VISION_ENDPOINT", "https://x.cognitiveservices.azure.com/")
    monkeypatch.setenv("AZURE_AI_VISION_KEY", "k")
    assert config.get_azure_config() == ("https://x.cognitiveservices.azure.com/", "k")
    assert "Transcreva fielmente" in config.VISION_FALLBACK_PROMPT


@pytest.mark.parametrize(
    "source",
    [RAW, bytearray(RAW), memoryview(RAW), io.BytesIO(RAW), base64.b64encode(RAW).decode(),
     " " + base64.encodebytes(RAW * 9).decode(), "data:application/pdf;base64," + base64.b64encode(RAW).decode()],
)
def test_ensure_bytes_accepts_content(source):
    out = utils._ensure_bytes(source)
    assert type(out) is bytes and out in (RAW, RAW * 9)
    assert utils._ensure_bytes(RAW) is RAW


@pytest.mark.parametrize(
    ("source", "error"),
    [(None, TypeError), (42, TypeError), (["a"], TypeError), (io.StringIO("t"), TypeError),
     ("não é base64!", ValueError), ("abc", ValueError)],
)
def test_ensure_bytes_refuses_other_kinds(source, error):
    with pytest.raises(error, match="_ensure_bytes"):
        utils._ensure_bytes(source)


@pytest.mark.parametrize(
    ("minimum", "ocr_pages", "doc_type"),
    [(100, [2, 3, 4], "misto"), (0, [3, 4], "misto"), (5, [2, 3, 4], "misto"), (149, [2, 3, 4, 5], "misto"),
     (150, [1, 2, 3, 4, 5], "escaneado")],
)
def test_analyze_pages_follows_the_loaders_rule(minimum, ocr_pages, doc_type):
    perfil = utils.analyze_pages(PDF, min_chars_per_page=minimum, filename="x.pdf")
    assert perfil == {"filename": "x.pdf", "num_pages": 5, "paginas_ocr": ocr_pages,
                      "paginas_texto": [n for n in range(1, 6) if n not in ocr_pages], "doc_type": doc_type}


def test_analyze_pages_and_load_pdf_of_real_documents():
    assert utils.analyze_pages(SCANNED_CONTRACT)["doc_type"] == "escaneado"
    assert utils.analyze_pages(str(TEXT_CONTRACT))["filename"] == TEXT_CONTRACT.name
    assert utils.analyze_pages(make_pdf([text_of_length(200)]))["doc_type"] == "texto"
    pages = utils.load_pdf(PDF, filename="x.pdf")
    assert [(p.text[:5], p.metadata) for p in pages] == [(text_of_length(5), {"page": 1, "source": "text"}),
                                                         ("curta", {"page": 2, "source": "text"}),
                                                         (text_of_length(5), {"page": 5, "source": "text"})]
    for call in (utils.load_pdf, utils.analyze_pages):
        with pytest.raises(pymupdf.FileNotFoundError):
            call("")
        with pytest.raises(pymupdf.FileDataError):
            call(b"nada disso")


def test_page_record():
    assert result.Page(text="abc", metadata={"page": 1}).model_dump() == {"text": "abc", "metadata": {"page": 1}}
    assert result.Page(text="").metadata == {}
    for bad in ({"text": None}, {"text": "x", "metadata": [1]}):
        with pytest.raises(pydantic.ValidationError):
            result.Page(**bad)


@pytest.mark.parametrize("answer", ["transcrição", None, 42])
def test_call_vision_sends_the_page_inline_then_the_prompt(monkeypatch, answer):
    part = Recorder(default="parte")
    monkeypatch.setitem(sys.modules, "google.genai", ns(types=ns(Part=ns(from_bytes=part))))
    models = ns(generate_content=Recorder(default=ns(text=answer)))
    text = google.call_vision(
        ns(models=models), "gemini", image_bytes=bytearray(b"%PDF"), prompt="P", mime="application/pdf"
    )
    assert text == (answer if isinstance(answer, str) else None)
    assert part.calls == [((), {"data": b"%PDF", "mime_type": "application/pdf"})]
    assert models.generate_content.calls == [((), {"model": "gemini", "contents": ["parte", "P"]})]


def test_call_vision_without_google_genai_says_what_to_install(monkeypatch):
    monkeypatch.setitem(sys.modules, "google.genai", None)
    with pytest.raises(ImportError, match="pip install google-genai"):
        google.call_vision(object(), "m", image_bytes=b"x", prompt="p", mime="image/png")
