"""PDF loading with OCR: the per-page loop, its routes and records, and the
smart entry that asks the page analyser first."""

import io
import logging
import pathlib
import types

import pymupdf
import pytest

import quillon.utils as utils
from ocr_helpers import (
    LANDSCAPE,
    SCANNED_CONTRACT,
    TEXT_CONTRACT,
    PageSpec,
    decode,
    make_pdf,
    messages,
    text_of_length,
)
from quillon import ocr
from quillon.models.result import Page

RESIDUE = "Cabeçalho escaneado"
OCR_TEXT = "Texto reconhecido pelo OCR"
MODEL_TEXT = "Texto transcrito pelo modelo"


class Recorder:
    """A stand-in for a module function: records calls, answers from a script."""

    def __init__(self, *answers, default=None):
        self.answers = list(answers)
        self.default = default
        self.calls = []

    def __call__(self, *args, **kwargs):
        self.calls.append((args, kwargs))
        return self.answers.pop(0) if self.answers else self.default


@pytest.fixture
def logs(caplog):
    caplog.set_level(logging.INFO, logger="quillon.ocr")
    return caplog


@pytest.fixture
def services(monkeypatch):
    """OCR and vision model replaced; rendering stays real."""
    s = types.SimpleNamespace(ocr=Recorder(), vision=Recorder())
    monkeypatch.setattr(ocr, "perform_azure_ocr", s.ocr)
    monkeypatch.setattr(ocr, "perform_vision_fallback", s.vision)
    return s


def caller(messages, extra):  # only its presence matters: the vision step is replaced
    raise AssertionError("the replaced vision step never calls it")


def meta(pages):
    return [p.metadata for p in pages]


# --- the threshold -----------------------------------------------------------------
@pytest.mark.parametrize(("length", "is_text"), [(0, False), (1, False), (99, False), (100, False), (101, True), (2000, True)])
def test_more_than_100_characters_make_a_text_page(services, length, is_text):
    text = text_of_length(length)
    pages = ocr.load_pdf_with_ocr(make_pdf([text]), use_azure=False)
    if is_text:
        assert meta(pages) == [{"page": 1, "source": "text"}]
        assert pages[0].text == text
    elif length:
        assert meta(pages) == [{"page": 1, "source": "text", "ocr_failed": False}]
    else:
        assert pages == []


def test_text_pages_are_neither_rendered_nor_sent(services, monkeypatch, logs):
    rendered = Recorder()
    monkeypatch.setattr(ocr, "render_page_as_image", rendered)
    pdf = make_pdf([text_of_length(101), text_of_length(500)])
    pages = ocr.load_pdf_with_ocr(pdf, ocr_fallback="auto", llm_caller=caller)
    assert [p.metadata for p in pages] == [{"page": 1, "source": "text"}, {"page": 2, "source": "text"}]
    assert rendered.calls == services.ocr.calls == services.vision.calls == []
    assert messages(logs) == [("Processando PDF com OCR: %s (%d páginas)", ("document.pdf", 2))]


def test_white_space_around_the_text_layer_does_not_count(services):
    pages = ocr.load_pdf_with_ocr(make_pdf(["   " + "\n" * 3 + "curto" + "\n\n"]), use_azure=False)
    assert pages[0].text == "curto"


# --- the routes ---------------------------------------------------------------------
ROUTES = [
    # id, use_azure, mode, with caller, OCR answer, model answer, source, ocr_failed, text, OCR calls, model calls
    ("ocr-text", True, "off", False, OCR_TEXT, None, "ocr", False, "R\n\nO", 1, 0),
    ("ocr-text-auto", True, "auto", True, OCR_TEXT, MODEL_TEXT, "ocr", False, "R\n\nO", 1, 0),
    ("ocr-none-auto-model", True, "auto", True, None, MODEL_TEXT, "vision_fallback", False, "R\n\nM", 1, 1),
    ("ocr-empty-auto-model", True, "auto", True, "", MODEL_TEXT, "vision_fallback", False, "R\n\nM", 1, 1),
    ("forced-model", True, "force", True, OCR_TEXT, MODEL_TEXT, "vision_fallback", False, "R\n\nM", 0, 1),
    ("forced-model-no-azure", False, "force", True, OCR_TEXT, MODEL_TEXT, "vision_fallback", False, "R\n\nM", 0, 1),
    ("forced-nothing", True, "force", True, OCR_TEXT, None, "ocr_failed", True, "R", 0, 1),
    ("ocr-nothing", True, "off", False, None, None, "ocr_failed", True, "R", 1, 0),
    ("ocr-nothing-off-with-caller", True, "off", True, None, MODEL_TEXT, "ocr_failed", True, "R", 1, 0),
    ("ocr-and-model-nothing", True, "auto", True, None, None, "ocr_failed", True, "R", 1, 1),
    ("model-alone", False, "auto", True, None, MODEL_TEXT, "vision_fallback", False, "R\n\nM", 0, 1),
    ("model-alone-nothing", False, "auto", True, None, None, "ocr_failed", True, "R", 0, 1),
    ("force-without-caller", True, "force", False, OCR_TEXT, None, "ocr", False, "R\n\nO", 1, 0),
    ("force-without-caller-no-azure", False, "force", False, None, None, "text", False, "R", 0, 0),
    ("nothing-attempted", False, "off", False, None, None, "text", False, "R", 0, 0),
    ("off-with-caller-no-azure", False, "off", True, None, MODEL_TEXT, "text", False, "R", 0, 0),
    ("unknown-mode-with-caller", False, "manual", True, None, MODEL_TEXT, "ocr_failed", True, "R", 0, 0),
    ("auto-without-caller", False, "auto", False, None, None, "text", False, "R", 0, 0),
    ("model-empty-text", False, "auto", True, None, "", "text", False, "R", 0, 1),
]


@pytest.mark.parametrize(
    ("use_azure", "mode", "with_caller", "ocr_answer", "model_answer", "source", "failed", "text", "n_ocr", "n_model"),
    [r[1:] for r in ROUTES],
    ids=[r[0] for r in ROUTES],
)
@pytest.mark.parametrize("residue", [RESIDUE, ""], ids=["residue", "blank"])
def test_route_table(services, logs, residue, use_azure, mode, with_caller, ocr_answer, model_answer, source, failed,
                     text, n_ocr, n_model):
    services.ocr.default = ocr_answer
    services.vision.default = model_answer
    pdf = make_pdf([PageSpec(text=residue, image=True)])
    pages = ocr.load_pdf_with_ocr(pdf, use_azure=use_azure, ocr_fallback=mode, llm_caller=caller if with_caller else None)

    expected = text.replace("R", residue).replace("O", OCR_TEXT).replace("M", MODEL_TEXT).strip()
    assert len(services.ocr.calls) == n_ocr
    assert len(services.vision.calls) == n_model
    if not expected and not failed:
        assert pages == []  # nothing to say about this page
        return
    assert len(pages) == 1 and isinstance(pages[0], Page)
    assert pages[0].text == expected
    assert pages[0].metadata == {"page": 1, "source": source, "ocr_failed": failed}
    assert list(pages[0].metadata) == ["page", "source", "ocr_failed"]

    warnings = messages(logs, "WARNING")
    if failed:
        assert warnings == [("Página %d: OCR não retornou texto; seguindo com %d chars de resíduo.", (1, len(residue)))]
    else:
        assert warnings == []
    assert messages(logs, "INFO")[-1] == ("Página %d: %d chars via %s", (1, len(expected), source))


def test_messages_of_a_fallback_and_a_forced_page(services, logs):
    services.vision.default = MODEL_TEXT
    pdf = make_pdf([RESIDUE, RESIDUE])
    ocr.load_pdf_with_ocr(pdf, ocr_fallback="auto", llm_caller=caller, filename="contrato.pdf")
    assert messages(logs) == [
        ("Processando PDF com OCR: %s (%d páginas)", ("contrato.pdf", 2)),
        ("Preparando página %d para OCR...", (1,)),
        ("Página %d: OCR falhou, tentando Vision LLM...", (1,)),
        ("Página %d: %d chars via %s", (1, len(RESIDUE) + 2 + len(MODEL_TEXT), "vision_fallback")),
        ("Preparando página %d para OCR...", (2,)),
        ("Página %d: OCR falhou, tentando Vision LLM...", (2,)),
        ("Página %d: %d chars via %s", (2, len(RESIDUE) + 2 + len(MODEL_TEXT), "vision_fallback")),
    ]
    logs.clear()
    ocr.load_pdf_with_ocr(pdf, ocr_fallback="force", llm_caller=caller)
    assert messages(logs)[1:3] == [
        ("Preparando página %d para OCR...", (1,)),
        ("Página %d: usando Vision LLM (force)...", (1,)),
    ]


def test_omitted_page_logs_nothing_more(services, logs):
    ocr.load_pdf_with_ocr(make_pdf([""]), use_azure=False)
    assert messages(logs) == [
        ("Processando PDF com OCR: %s (%d páginas)", ("document.pdf", 1)),
        ("Preparando página %d para OCR...", (1,)),
    ]


def test_what_the_ocr_and_the_model_receive(services):
    services.vision.default = MODEL_TEXT
    pdf = make_pdf([PageSpec(text="x", size=LANDSCAPE, image=True)])
    ocr.load_pdf_with_ocr(pdf, ocr_fallback="auto", llm_caller=caller, provider="azure")
    ((args, kwargs),) = services.ocr.calls
    assert kwargs == {"image_format": "png"}
    img = decode(args[0])
    assert (img.format, img.size) == ("PNG", (1755, 1240))  # the landscape page at 150 DPI (MuPDF rounds up)
    ((args, kwargs),) = services.vision.calls
    assert decode(args[0]).size == (1755, 1240)  # rendered anew for the model
    assert kwargs == {"llm_caller": caller, "image_format": "png", "provider": "azure", "google_client": None,
                      "google_model": None}


def test_google_route_sends_a_one_page_pdf_with_its_client(services):
    client = object()
    services.vision.default = MODEL_TEXT
    pdf = make_pdf(["a", "b"])
    pages = ocr.load_pdf_with_ocr(pdf, use_azure=False, ocr_fallback="auto", llm_caller=caller, provider="google",
                                  google_client=client, google_model="gemini")
    assert [p.metadata["source"] for p in pages] == ["vision_fallback"] * 2
    for index, (args, kwargs) in enumerate(services.vision.calls):
        with pymupdf.open(stream=args[0], filetype="pdf") as single:
            assert single.page_count == 1
            assert single.load_page(0).get_text().strip() == "ab"[index]
        assert kwargs["image_format"] == "pdf"
        assert (kwargs["google_client"], kwargs["google_model"], kwargs["provider"]) == (client, "gemini", "google")


def test_module_functions_are_looked_up_at_call_time(services, monkeypatch):
    payloads = Recorder(default=(b"payload", "jpg"))
    monkeypatch.setattr(ocr, "_vision_payload", payloads)
    renders = Recorder(default=b"imagem")
    monkeypatch.setattr(ocr, "render_page_as_image", renders)
    services.vision.default = MODEL_TEXT
    ocr.load_pdf_with_ocr(make_pdf(["", "abc"]), ocr_fallback="auto", llm_caller=caller, provider="openai")
    assert [c[0][1:] for c in renders.calls] == [(0,), (1,)]
    assert [c[0][0] for c in services.ocr.calls] == [b"imagem", b"imagem"]
    assert [c[0][1:] for c in payloads.calls] == [(0, "openai"), (1, "openai")]
    assert [(c[0][0], c[1]["image_format"]) for c in services.vision.calls] == [(b"payload", "jpg")] * 2


def test_payload_that_is_not_a_pair_reaches_the_caller(services, monkeypatch):
    monkeypatch.setattr(ocr, "_vision_payload", Recorder(default=b"so bytes"))
    with pytest.raises(ValueError, match="unpack"):
        ocr.load_pdf_with_ocr(make_pdf([""]), ocr_fallback="force", llm_caller=caller)


def test_answer_that_is_not_text_is_kept_out_of_the_page(services):
    services.ocr.default = 12345
    pages = ocr.load_pdf_with_ocr(make_pdf([RESIDUE]))
    assert pages[0].text == RESIDUE
    assert pages[0].metadata == {"page": 1, "source": "text", "ocr_failed": False}


# --- whole documents ----------------------------------------------------------------
def test_two_hundred_pages_in_order_with_gaps(services, monkeypatch):
    # Rendering is tested on its own; here each page's "image" names the page.
    monkeypatch.setattr(ocr, "render_page_as_image", lambda doc, n: b"page %d" % n)
    specs, expected = [], []
    for i in range(200):
        kind = i % 4
        if kind == 0:
            specs.append(PageSpec(text=text_of_length(150, seed=f"P{i}"), size=(400, 500)))
        elif kind == 1:
            specs.append(PageSpec(image=True, size=(400, 500)))  # scanned: nothing but an image
        elif kind == 2:
            specs.append(PageSpec(text=f"nota {i}", image=True, size=(500, 400)))
        else:
            specs.append(PageSpec(size=(400, 500)))  # blank
    services.ocr.answers = [None if i % 3 == 0 else f"ocr {i}" for i in range(150)]
    pages = ocr.load_pdf_with_ocr(make_pdf(specs), use_azure=True)
    assert [c[0][0] for c in services.ocr.calls] == [b"page %d" % i for i in range(200) if i % 4]
    answers = iter([None if i % 3 == 0 else f"ocr {i}" for i in range(150)])
    for i in range(200):
        kind = i % 4
        if kind == 0:
            expected.append((i + 1, "text", None))
            continue
        answer = next(answers)
        residue = f"nota {i}" if kind == 2 else ""
        if answer is None:
            expected.append((i + 1, "ocr_failed", residue))
        else:
            expected.append((i + 1, "ocr", (residue + "\n\n" + answer).strip()))
    got = [(p.metadata["page"], p.metadata["source"], None if p.metadata["source"] == "text" else p.text) for p in pages]
    assert got == expected


def test_without_any_recognition_blank_pages_leave_gaps(services):
    pages = ocr.load_pdf_with_ocr(make_pdf(["a", "", PageSpec(image=True), "d", text_of_length(300)]), use_azure=False)
    assert [p.metadata["page"] for p in pages] == [1, 4, 5]
    assert services.ocr.calls == []


def test_text_contract_fixture_without_services(services):
    with pymupdf.open(TEXT_CONTRACT) as d:
        layers = [d.load_page(i).get_text().strip() for i in range(d.page_count)]
    pages = ocr.load_pdf_with_ocr(TEXT_CONTRACT, use_azure=False)
    kept = [(i + 1, t) for i, t in enumerate(layers) if t]
    assert [(p.metadata["page"], p.text) for p in pages] == kept
    assert all(p.metadata["source"] == "text" for p in pages)
    assert all(("ocr_failed" in p.metadata) == (len(p.text) <= 100) for p in pages)


def test_scanned_contract_fixture_goes_through_ocr(services, logs):
    services.ocr.default = "PREGÃO ELETRÔNICO Nº 044/2025"
    pages = ocr.load_pdf_with_ocr(str(SCANNED_CONTRACT), filename="ignorado.pdf")
    assert len(pages) == 8 == len(services.ocr.calls)
    assert all(p.metadata == {"page": i + 1, "source": "ocr", "ocr_failed": False} for i, p in enumerate(pages))
    for args, _ in services.ocr.calls:
        w, h = decode(args[0]).size
        assert 1200 <= w <= 1300 and 1700 <= h <= 1800  # A4 at 150 DPI
    assert messages(logs)[0] == ("Processando PDF com OCR: %s (%d páginas)", (SCANNED_CONTRACT.name, 8))


def test_scanned_contract_with_the_real_ocr_but_no_key(monkeypatch, logs):
    monkeypatch.setattr(ocr, "get_azure_config", lambda: ("", ""))
    pages = ocr.load_pdf_with_ocr(SCANNED_CONTRACT)
    assert [p.metadata for p in pages] == [{"page": i, "source": "ocr_failed", "ocr_failed": True} for i in range(1, 9)]
    assert [p.text for p in pages] == [""] * 8
    warnings = [m for m, _ in messages(logs, "WARNING")]
    assert warnings == ["AZURE_AI_VISION_KEY não configurada!",
                        "Página %d: OCR não retornou texto; seguindo com %d chars de resíduo."] * 8


# --- sources ------------------------------------------------------------------------
PDF = make_pdf([text_of_length(120), "curta"])


@pytest.mark.parametrize(
    ("source", "filename", "logged"),
    [
        (PDF, None, "document.pdf"),
        (PDF, "", "document.pdf"),
        (PDF, "meu.pdf", "meu.pdf"),
        (bytearray(PDF), "b.pdf", "b.pdf"),
        (memoryview(PDF), None, "document.pdf"),
        (io.BytesIO(PDF), "arquivo.pdf", "arquivo.pdf"),
    ],
)
def test_content_sources(services, logs, source, filename, logged):
    pages = ocr.load_pdf_with_ocr(source, use_azure=False, filename=filename)
    assert [p.metadata["page"] for p in pages] == [1, 2]
    assert messages(logs)[0][1] == (logged, 2)


@pytest.mark.parametrize("as_path", [str, pathlib.Path])
def test_path_sources_log_their_file_name(services, logs, tmp_path, as_path):
    path = tmp_path / "contrato final.pdf"
    path.write_bytes(PDF)
    pages = ocr.load_pdf_with_ocr(as_path(path), use_azure=False, filename="outro.pdf")
    assert len(pages) == 2
    assert messages(logs)[0][1] == ("contrato final.pdf", 2)


def test_content_goes_through_the_hosts_ensure_bytes(services, monkeypatch):
    seen = []
    monkeypatch.setattr(ocr, "_ensure_bytes", lambda s: seen.append(s) or PDF)
    token = object()
    assert len(ocr.load_pdf_with_ocr(token, use_azure=False)) == 2
    assert seen == [token]


def test_page_records_are_built_by_the_module_attribute(services, monkeypatch):
    built = []
    monkeypatch.setattr(ocr, "Page", lambda **kw: built.append(kw) or kw)
    pages = ocr.load_pdf_with_ocr(PDF, use_azure=False)
    assert pages == built
    assert built[1] == {"text": "curta", "metadata": {"page": 2, "source": "text", "ocr_failed": False}}


# --- failures: a clear error, and the document always closed -------------------------
class Tracking:
    """pymupdf with open() returning documents whose pages may fail."""

    Matrix = pymupdf.Matrix

    def __init__(self, fail_on=None, error=RuntimeError("página danificada")):
        self.docs = []
        self.fail_on = fail_on
        self.error = error

    def open(self, *args, **kwargs):
        doc = pymupdf.open(*args, **kwargs)
        self.docs.append(doc)
        tracking = self
        real_load = doc.load_page

        def load_page(index):
            if index == tracking.fail_on:
                raise tracking.error
            return real_load(index)

        doc.load_page = load_page
        return doc


@pytest.mark.parametrize("fail_on", [0, 1, 2])
def test_failing_page_ends_the_loading_and_closes_the_document(services, monkeypatch, fail_on):
    fitz = Tracking(fail_on)
    monkeypatch.setattr(ocr, "fitz", fitz)
    with pytest.raises(RuntimeError, match="página danificada"):
        ocr.load_pdf_with_ocr(make_pdf(["a", "b", "c"]), use_azure=False)
    assert fitz.docs[0].is_closed


def test_failing_recognition_step_closes_the_document(services, monkeypatch):
    fitz = Tracking()
    monkeypatch.setattr(ocr, "fitz", fitz)
    monkeypatch.setattr(ocr, "render_page_as_image", Recorder(default=None))
    monkeypatch.setattr(ocr, "perform_azure_ocr", lambda *a, **k: (_ for _ in ()).throw(KeyboardInterrupt()))
    with pytest.raises(KeyboardInterrupt):
        ocr.load_pdf_with_ocr(make_pdf(["a"]))
    assert fitz.docs[0].is_closed


def test_document_is_closed_after_a_normal_load(services, monkeypatch):
    fitz = Tracking()
    monkeypatch.setattr(ocr, "fitz", fitz)
    ocr.load_pdf_with_ocr(PDF, use_azure=False)
    assert fitz.docs[0].is_closed


@pytest.mark.parametrize(
    ("content", "error"),
    [
        (b"isto nao e um PDF", pymupdf.FileDataError),
        (b"", pymupdf.EmptyFileError),
        (b"%PDF-1.7\n%%EOF", pymupdf.FileDataError),
    ],
)
def test_content_that_is_not_a_pdf(services, content, error):
    with pytest.raises(error):
        ocr.load_pdf_with_ocr(content)


def test_text_file_given_as_pdf_content_is_refused(services):
    with pytest.raises(pymupdf.FileDataError):
        ocr.load_pdf_with_ocr(b"Contrato de prestacao de servicos\n" * 40)


def test_encrypted_pdf_is_a_clear_error_and_closed(services, monkeypatch, tmp_path):
    path = tmp_path / "protegido.pdf"
    with pymupdf.open(stream=PDF, filetype="pdf") as d:
        d.save(path, encryption=pymupdf.PDF_ENCRYPT_AES_256, owner_pw="dono", user_pw="leitor")
    fitz = Tracking()
    monkeypatch.setattr(ocr, "fitz", fitz)
    with pytest.raises(ValueError, match="encrypted"):
        ocr.load_pdf_with_ocr(path)
    assert fitz.docs[0].is_closed


def test_truncated_pdf_loads_what_the_library_recovers(services, tmp_path):
    path = tmp_path / "cortado.pdf"
    data = make_pdf([text_of_length(150), text_of_length(150), text_of_length(150)])
    path.write_bytes(data[: len(data) // 2])
    try:
        pages = ocr.load_pdf_with_ocr(path, use_azure=False)
    except RuntimeError:  # the library may also give up on it: an error, never a crash
        return
    assert all(isinstance(p, Page) for p in pages)


@pytest.mark.parametrize("source", ["", "/caminho/que/nao/existe.pdf"])
def test_missing_file(services, source):
    with pytest.raises(pymupdf.FileNotFoundError):
        ocr.load_pdf_with_ocr(source)


def test_directory_is_not_a_file(services, tmp_path):
    with pytest.raises(pymupdf.FileDataError):
        ocr.load_pdf_with_ocr(tmp_path)


def test_source_that_is_no_pdf_content_is_the_hosts_error(services):
    with pytest.raises(TypeError, match="_ensure_bytes"):
        ocr.load_pdf_with_ocr(12345)


# --- arguments ----------------------------------------------------------------------
@pytest.mark.parametrize(
    ("kwargs", "message"),
    [
        ({"filename": 3}, r"load_pdf_with_ocr\(\) argument 'filename' must be str or None, not int"),
        ({"ocr_fallback": None}, r"load_pdf_with_ocr\(\) argument 'ocr_fallback' must be str, not NoneType"),
        ({"provider": b"google"}, r"argument 'provider' must be str, not bytes"),
        ({"google_model": 1.5}, r"argument 'google_model' must be str or None"),
        ({"min_chars": 10}, r"load_pdf_with_ocr\(\)"),
    ],
)
def test_argument_errors(services, monkeypatch, kwargs, message):
    opened = Tracking()
    monkeypatch.setattr(ocr, "fitz", opened)
    with pytest.raises(TypeError, match=message):
        ocr.load_pdf_with_ocr(PDF, **kwargs)
    assert opened.docs == []  # checked before any work


def test_use_azure_is_a_truth_value(services):
    ocr.load_pdf_with_ocr(make_pdf(["a"]), use_azure=0)
    ocr.load_pdf_with_ocr(make_pdf(["a"]), use_azure="sim")
    assert len(services.ocr.calls) == 1


def test_documentation_texts():
    doc = ocr.load_pdf_with_ocr.__doc__.split("\n\n", 1)[1]
    assert doc.startswith("Carrega PDF aplicando OCR nas páginas com imagem.\n")
    for line in ("source: Caminho do arquivo ou bytes do PDF", "use_azure: Se True, usa Azure OCR",
                 "filename: Nome para log quando source é bytes (ignorado se source é Path)",
                 "llm_caller: Callable para Vision LLM fallback", "Lista de Page objects", '"off"', '"auto"', '"force"'):
        assert line in doc
    doc = ocr.process_pdf_smart.__doc__.split("\n\n", 1)[1]
    assert doc.startswith("Processa PDF de forma inteligente, aplicando OCR quando necessário.\n")
    assert "min_chars: Mínimo de caracteres para considerar página com texto" in doc
    assert '"off"' in doc and '"auto"' in doc and '"force"' in doc


# --- process_pdf_smart ----------------------------------------------------------------
@pytest.fixture
def loaders(monkeypatch):
    s = types.SimpleNamespace(
        analyze=Recorder(default={"paginas_ocr": [], "num_pages": 3, "doc_type": "texto"}),
        plain=Recorder(default=["plain"]),
        with_ocr=Recorder(default=["with ocr"]),
    )
    monkeypatch.setattr(utils, "analyze_pages", s.analyze)
    monkeypatch.setattr(utils, "load_pdf", s.plain)
    monkeypatch.setattr(ocr, "load_pdf_with_ocr", s.with_ocr)
    return s


def test_smart_uses_the_plain_loader_when_no_page_needs_ocr(loaders, logs):
    assert ocr.process_pdf_smart(PDF) == ["plain"]
    assert loaders.analyze.calls == [((PDF,), {"min_chars_per_page": 100, "filename": "document.pdf"})]
    assert loaders.plain.calls == [((PDF,), {"filename": "document.pdf"})]
    assert loaders.with_ocr.calls == []
    assert messages(logs) == []


def test_smart_uses_the_ocr_loader_when_a_page_needs_it(loaders, logs):
    loaders.analyze.default = {"paginas_ocr": [2, 3], "num_pages": 3, "doc_type": "misto"}
    llm = object()
    result = ocr.process_pdf_smart(PDF, 500, "entrada.pdf", "auto", llm, "google", "cliente", "gemini")
    assert result == ["with ocr"]
    assert loaders.analyze.calls == [((PDF,), {"min_chars_per_page": 500, "filename": "entrada.pdf"})]
    assert loaders.with_ocr.calls == [
        ((PDF,), {"filename": "entrada.pdf", "ocr_fallback": "auto", "llm_caller": llm, "provider": "google",
                  "google_client": "cliente", "google_model": "gemini"})
    ]
    assert loaders.plain.calls == []
    assert messages(logs) == [("PDF %s: %d de %d pagina(s) precisam de OCR (%s)", ("entrada.pdf", 2, 3, "misto"))]


def test_smart_with_a_path_passes_the_callers_filename_on(loaders, logs, tmp_path):
    loaders.analyze.default = {"paginas_ocr": {1}, "num_pages": 1, "doc_type": "escaneado"}
    path = tmp_path / "scan.pdf"
    ocr.process_pdf_smart(path, min_chars=42.9)
    assert loaders.analyze.calls[0][1] == {"min_chars_per_page": 42, "filename": "scan.pdf"}
    assert loaders.with_ocr.calls[0][1]["filename"] is None  # the caller's, not the display name
    assert messages(logs)[0][1] == ("scan.pdf", 1, 1, "escaneado")
    loaders.analyze.default = {"paginas_ocr": (), "num_pages": 1, "doc_type": "texto"}
    ocr.process_pdf_smart(str(path), filename="x.pdf")
    assert loaders.plain.calls[-1] == ((str(path),), {"filename": "x.pdf"})
    assert loaders.analyze.calls[-1][1]["filename"] == "scan.pdf"


def test_smart_looks_up_the_host_loaders_at_each_call(loaders, monkeypatch):
    monkeypatch.delattr(utils, "analyze_pages")
    with pytest.raises(ImportError, match="cannot import name 'analyze_pages' from 'quillon.utils'"):
        ocr.process_pdf_smart(PDF)
    assert loaders.plain.calls == []


def test_smart_lets_analyser_errors_through(loaders):
    loaders.analyze.default = {"num_pages": 1}
    with pytest.raises(KeyError):
        ocr.process_pdf_smart(PDF)


def test_smart_argument_errors(loaders):
    with pytest.raises(TypeError, match=r"process_pdf_smart\(\) argument 'min_chars' must be a real number, not str"):
        ocr.process_pdf_smart(PDF, "100")
    with pytest.raises(TypeError, match=r"process_pdf_smart\(\) argument 'filename' must be str or None"):
        ocr.process_pdf_smart(PDF, filename=b"x")
    assert loaders.analyze.calls == []


def test_smart_with_the_real_host_loaders(monkeypatch, services):
    # A text contract: no page needs OCR, so the plain loader reads it.
    plain = ocr.process_pdf_smart(TEXT_CONTRACT, min_chars=10)
    assert services.ocr.calls == []
    assert all(p.metadata["source"] == "text" and "ocr_failed" not in p.metadata for p in plain)
    # A scanned contract: every page needs OCR.
    services.ocr.default = "texto"
    scanned = ocr.process_pdf_smart(SCANNED_CONTRACT)
    assert [p.metadata["source"] for p in scanned] == ["ocr"] * 8


def test_smart_with_a_high_minimum_still_keeps_long_pages_as_text(services):
    pdf = make_pdf([text_of_length(300), text_of_length(101)])
    pages = ocr.process_pdf_smart(pdf, min_chars=500)
    assert meta(pages) == [{"page": 1, "source": "text"}, {"page": 2, "source": "text"}]
