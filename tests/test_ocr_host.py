"""The host layer the OCR module runs on (configuration, utilities, the page
record, the Google provider) and the module's own load-time surface."""

import base64
import io
import pathlib
import subprocess
import sys
import types

import pydantic
import pymupdf
import pytest

import quillon.config as config
import quillon.models.result as result
import quillon.providers.google as google
import quillon.utils as utils
from ocr_helpers import SCANNED_CONTRACT, TEXT_CONTRACT, PageSpec, make_pdf, text_of_length
from quillon import ocr

PDF = make_pdf([text_of_length(150), "curta", "", PageSpec(image=True), text_of_length(101)])


# --- the module's surface -----------------------------------------------------------
def test_load_time_names_are_the_hosts():
    assert ocr.get_azure_config is config.get_azure_config
    assert ocr.VISION_FALLBACK_PROMPT is config.VISION_FALLBACK_PROMPT
    assert ocr._ensure_bytes is utils._ensure_bytes
    assert ocr.Page is result.Page
    assert ocr.fitz is pymupdf
    assert set(ocr.__all__) >= {"render_page_as_image", "render_page_as_pdf", "perform_azure_ocr",
                                "perform_vision_fallback", "load_pdf_with_ocr", "process_pdf_smart",
                                "AZURE_OCR_TIMEOUT_SECONDS"}


def test_importing_the_module_stays_light():
    code = (
        "import sys, quillon.ocr;"
        "heavy = [m for m in ('fitz', 'pymupdf', 'PIL', 'azure', 'tenacity', 'google.genai') if m in sys.modules];"
        "print(','.join(heavy))"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.strip() == ""


def test_stub_carries_real_types():
    stub = pathlib.Path(ocr.__file__).with_name("ocr.pyi").read_text()
    assert "def render_page_as_image(doc: pymupdf.Document, page_num: int, dpi: int = 150) -> bytes" in stub
    assert "def perform_azure_ocr(image_bytes: bytes, image_format: str = 'png') -> str | None" in stub
    assert "-> list[quillon.models.result.Page]" in stub


# --- configuration -------------------------------------------------------------------
def test_azure_configuration_is_read_from_the_environment_at_each_call(monkeypatch):
    monkeypatch.delenv("AZURE_AI_VISION_ENDPOINT", raising=False)
    monkeypatch.delenv("AZURE_AI_VISION_KEY", raising=False)
    assert config.get_azure_config() == ("", "")
    monkeypatch.setenv("AZURE_AI_VISION_ENDPOINT", "https://x.cognitiveservices.azure.com/")
    monkeypatch.setenv("AZURE_AI_VISION_KEY", "k")
    assert config.get_azure_config() == ("https://x.cognitiveservices.azure.com/", "k")


def test_vision_prompt_asks_for_a_faithful_transcription_in_portuguese():
    prompt = config.VISION_FALLBACK_PROMPT
    assert isinstance(prompt, str)
    assert "Transcreva fielmente" in prompt and "texto" in prompt


# --- _ensure_bytes -------------------------------------------------------------------
RAW = b"%PDF-1.7 conteudo"


@pytest.mark.parametrize(
    "source",
    [
        RAW,
        bytearray(RAW),
        memoryview(RAW),
        io.BytesIO(RAW),
        base64.b64encode(RAW).decode(),
        "  " + base64.b64encode(RAW).decode() + "\n",
        "data:application/pdf;base64," + base64.b64encode(RAW).decode(),
    ],
)
def test_ensure_bytes_accepts_content(source):
    out = utils._ensure_bytes(source)
    assert type(out) is bytes and out == RAW


def test_ensure_bytes_keeps_bytes_as_they_are():
    assert utils._ensure_bytes(RAW) is RAW


def test_ensure_bytes_accepts_base64_with_line_breaks():
    wrapped = base64.encodebytes(RAW * 10).decode()
    assert "\n" in wrapped.strip()
    assert utils._ensure_bytes(wrapped) == RAW * 10


@pytest.mark.parametrize("source", [None, 42, 1.5, ["a"], {"pdf": RAW}, object(), io.StringIO("texto")])
def test_ensure_bytes_refuses_other_kinds(source):
    with pytest.raises(TypeError, match="_ensure_bytes"):
        utils._ensure_bytes(source)


@pytest.mark.parametrize("text", ["não é base64!", "abc", "%PDF-1.4"])
def test_ensure_bytes_refuses_text_that_is_no_base64(text):
    with pytest.raises(ValueError, match="base64"):
        utils._ensure_bytes(text)


# --- analyze_pages and load_pdf ------------------------------------------------------
def test_analyze_pages_follows_the_loaders_rule():
    perfil = utils.analyze_pages(PDF)
    assert perfil == {"filename": "document.pdf", "num_pages": 5, "paginas_ocr": [2, 3, 4],
                      "paginas_texto": [1, 5], "doc_type": "misto"}


@pytest.mark.parametrize(
    ("minimum", "ocr_pages", "doc_type"),
    [(0, [3, 4], "misto"), (4, [3, 4], "misto"), (5, [2, 3, 4], "misto"), (149, [2, 3, 4, 5], "misto"), (150, [1, 2, 3, 4, 5], "escaneado"),
     (1000, [1, 2, 3, 4, 5], "escaneado")],
)
def test_analyze_pages_with_a_minimum(minimum, ocr_pages, doc_type):
    perfil = utils.analyze_pages(PDF, min_chars_per_page=minimum, filename="x.pdf")
    assert (perfil["paginas_ocr"], perfil["doc_type"], perfil["filename"]) == (ocr_pages, doc_type, "x.pdf")


def test_analyze_pages_of_the_fixtures():
    assert utils.analyze_pages(SCANNED_CONTRACT)["doc_type"] == "escaneado"
    perfil = utils.analyze_pages(str(TEXT_CONTRACT), min_chars_per_page=10)
    assert perfil["num_pages"] == 19 and perfil["filename"] == TEXT_CONTRACT.name


def test_analyze_pages_of_a_text_only_and_an_empty_document():
    assert utils.analyze_pages(make_pdf([text_of_length(200)]))["doc_type"] == "texto"
    with pymupdf.open() as empty:
        empty.new_page()
        data = empty.tobytes()
    assert utils.analyze_pages(data)["paginas_ocr"] == [1]


def test_load_pdf_reads_the_text_layer_only():
    pages = utils.load_pdf(PDF, filename="x.pdf")
    assert [p.metadata for p in pages] == [{"page": 1, "source": "text"}, {"page": 2, "source": "text"},
                                          {"page": 5, "source": "text"}]
    assert pages[1].text == "curta"
    assert all(isinstance(p, result.Page) for p in pages)


@pytest.mark.parametrize("call", [utils.load_pdf, utils.analyze_pages])
def test_host_loaders_raise_the_librarys_errors(call):
    with pytest.raises(pymupdf.FileNotFoundError):
        call("")
    with pytest.raises(pymupdf.FileDataError):
        call(b"nada disso")


# --- Page -----------------------------------------------------------------------------
def test_page_record():
    page = result.Page(text="abc", metadata={"page": 1, "source": "text"})
    assert page.model_dump() == {"text": "abc", "metadata": {"page": 1, "source": "text"}}
    assert result.Page(text="").metadata == {}
    with pytest.raises(pydantic.ValidationError):
        result.Page(text=None, metadata={})
    with pytest.raises(pydantic.ValidationError):
        result.Page(text="x", metadata=[1])


# --- the Google provider ----------------------------------------------------------------
@pytest.fixture
def genai(monkeypatch):
    made = []

    class Part:
        @staticmethod
        def from_bytes(data, mime_type):
            made.append((data, mime_type))
            return ("part", data, mime_type)

    fake_types = types.SimpleNamespace(Part=Part)
    module = types.ModuleType("google.genai")
    module.types = fake_types
    monkeypatch.setitem(sys.modules, "google.genai", module)
    monkeypatch.setitem(sys.modules, "google.genai.types", fake_types)
    return made


class Models:
    def __init__(self, text):
        self.text = text
        self.calls = []

    def generate_content(self, model, contents):
        self.calls.append((model, contents))
        return types.SimpleNamespace(text=self.text)


@pytest.mark.parametrize("answer", ["transcrição", None, 42])
def test_call_vision_sends_the_page_inline_then_the_prompt(genai, answer):
    models = Models(answer)
    client = types.SimpleNamespace(models=models)
    text = google.call_vision(client, "gemini-2.5-flash", image_bytes=bytearray(b"%PDF"), prompt="P", mime="application/pdf")
    assert text == (answer if isinstance(answer, str) else None)
    assert genai == [(b"%PDF", "application/pdf")]
    assert models.calls == [("gemini-2.5-flash", [("part", b"%PDF", "application/pdf"), "P"])]


def test_call_vision_without_google_genai_says_what_to_install(monkeypatch):
    monkeypatch.setitem(sys.modules, "google.genai", None)
    with pytest.raises(ImportError, match="pip install google-genai"):
        google.call_vision(object(), "m", image_bytes=b"x", prompt="p", mime="image/png")
