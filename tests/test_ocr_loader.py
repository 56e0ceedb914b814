"""PDF loading with OCR: the per-page loop, its routes and page records, the
sources and failures it handles, and the smart entry."""

import io
import logging
import pathlib

import pymupdf
import pytest

import quillon.utils as utils
from ocr_helpers import (
    SCANNED_CONTRACT,
    TEXT_CONTRACT,
    PageLayout,
    Recorder,
    decode,
    make_pdf,
    messages,
    ns,
    text_of_length,
)
from quillon import ocr
from quillon.models.result import Page

RESIDUE, OCR_TEXT, MODEL_TEXT = "Cabeçalho escaneado", "Texto do OCR", "Texto do modelo"
PDF = make_pdf([text_of_length(120), "curta"])
START = "Processando PDF com OCR: %s (%d páginas)"
PREPARE, DONE = "Preparando página %d para OCR...", "Página %d: %d chars via %s"
FAILED = "Página %d: OCR não retornou texto; seguindo com %d chars de resíduo."


def caller(messages, extra):  # only its presence matters: the vision step is replaced
    raise AssertionError


@pytest.fixture(autouse=True)
def logs(caplog):
    caplog.set_level(logging.INFO, logger="quillon.ocr")
    return caplog


@pytest.fixture
def services(monkeypatch):
    """The OCR and the vision model replaced; rendering stays real."""
    s = ns(ocr=Recorder(), vision=Recorder())
    monkeypatch.setattr(ocr, "perform_azure_ocr", s.ocr)
    monkeypatch.setattr(ocr, "perform_vision_fallback", s.vision)
    return s


class Tracking:
    """pymupdf whose documents are kept, and whose page `fail_on` fails to load."""

    Matrix = pymupdf.Matrix

    def __init__(self, fail_on=None):
        self.docs, self.fail_on = [], fail_on

    def open(self, *args, **kwargs):
        doc = pymupdf.open(*args, **kwargs)
        self.docs.append(doc)
        load = doc.load_page

        def load_page(index):
            if index == self.fail_on:
                raise RuntimeError("página danificada")
            return load(index)

        doc.load_page = load_page
        return doc


@pytest.mark.parametrize(("length", "records"), [(0, []), (100, [{"page": 1, "source": "text", "ocr_failed": False}]),
                                                 (101, [{"page": 1, "source": "text"}])])
def test_more_than_100_characters_make_a_text_page(services, length, records):
    assert [p.metadata for p in ocr.load_pdf_with_ocr(make_pdf([text_of_length(length)]), use_azure=False)] == records


def test_text_pages_are_neither_rendered_nor_sent(services, monkeypatch, logs):
    monkeypatch.setattr(ocr, "render_page_as_image", Recorder())
    pdf = make_pdf([text_of_length(101), "\n  " + text_of_length(900) + " \n"])
    pages = ocr.load_pdf_with_ocr(pdf, ocr_fallback="auto", llm_caller=caller)
    assert [(p.text, p.metadata) for p in pages] == [(text_of_length(101), {"page": 1, "source": "text"}),
                                                     (text_of_length(900), {"page": 2, "source": "text"})]
    assert ocr.render_page_as_image.calls == services.ocr.calls == services.vision.calls == []
    assert messages(logs) == [(START, ("document.pdf", 2))]


# id, use_azure, mode, with caller, OCR answer, model answer, source, ocr_failed, text, OCR calls, model calls
ROUTES = [
    ("ocr-text", True, "off", False, OCR_TEXT, None, "ocr", False, "R\n\nO", 1, 0),
    ("ocr-text-auto", True, "auto", True, OCR_TEXT, MODEL_TEXT, "ocr", False, "R\n\nO", 1, 0),
    ("ocr-none-auto-model", True, "auto", True, None, MODEL_TEXT, "vision_fallback", False, "R\n\nM", 1, 1),
    ("ocr-empty-auto-model", True, "auto", True, "", MODEL_TEXT, "vision_fallback", False, "R\n\nM", 1, 1),
    ("forced-model", True, "force", True, OCR_TEXT, MODEL_TEXT, "vision_fallback", False, "R\n\nM", 0, 1),
    ("forced-nothing", True, "force", True, OCR_TEXT, None, "ocr_failed", True, "R", 0, 1),
    ("ocr-nothing", True, "off", False, None, None, "ocr_failed", True, "R", 1, 0),
    ("ocr-nothing-off-with-caller", True, "off", True, None, MODEL_TEXT, "ocr_failed", True, "R", 1, 0),
    ("ocr-and-model-nothing", True, "auto", True, None, None, "ocr_failed", True, "R", 1, 1),
    ("model-alone", False, "auto", True, None, MODEL_TEXT, "vision_fallback", False, "R\n\nM", 0, 1),
    ("model-alone-nothing", False, "auto", True, None, None, "ocr_failed", True, "R", 0, 1),
    ("force-without-caller", True, "force", False, OCR_TEXT, None, "ocr", False, "R\n\nO", 1, 0),
    ("nothing-attempted", False, "off", False, None, None, "text", False, "R", 0, 0),
    ("force-no-caller-no-azure", False, "force", False, None, None, "text", False, "R", 0, 0),
    ("off-with-caller-no-azure", False, "off", True, None, MODEL_TEXT, "text", False, "R", 0, 0),
    ("unknown-mode-with-caller", False, "manual", True, None, MODEL_TEXT, "ocr_failed", True, "R", 0, 0),
    ("model-empty-text", False, "auto", True, None, "", "text", False, "R", 0, 1),
    ("ocr-answer-not-text", True, "auto", True, 12345, MODEL_TEXT, "text", False, "R", 1, 0),
]


@pytest.mark.parametrize(("use_azure", "mode", "with_caller", "ocr_answer", "model_answer", "source", "failed", "text",
                          "n_ocr", "n_model"), [r[1:] for r in ROUTES], ids=[r[0] for r in ROUTES])
@pytest.mark.parametrize("residue", [RESIDUE, ""], ids=["residue", "blank"])
def test_route_table(services, logs, residue, use_azure, mode, with_caller, ocr_answer, model_answer, source, failed,
                     text, n_ocr, n_model):
    services.ocr.default, services.vision.default = ocr_answer, model_answer
    pages = ocr.load_pdf_with_ocr(make_pdf([PageLayout(text=residue, image=True)]), use_azure=use_azure,
                                  ocr_fallback=mode, llm_caller=caller if with_caller else None)
    expected = text.replace("R", residue).replace("O", OCR_TEXT).replace("M", MODEL_TEXT).strip()
    assert (len(services.ocr.calls), len(services.vision.calls)) == (n_ocr, n_model)
    assert messages(logs, "WARNING") == ([(FAILED, (1, len(residue)))] if failed else [])
    if not expected and not failed:
        assert pages == [] and messages(logs)[1] == (PREPARE, (1,))  # the page is omitted
        assert DONE not in [fmt for fmt, _ in messages(logs)]
        return
    assert [type(p) for p in pages] == [Page]
    assert (pages[0].text, pages[0].metadata) == (expected, {"page": 1, "source": source, "ocr_failed": failed})
    assert list(pages[0].metadata) == ["page", "source", "ocr_failed"]
    assert messages(logs)[-1] == (DONE, (1, len(expected), source))


def test_log_lines_and_what_the_services_receive(services, logs):
    services.vision.default = MODEL_TEXT
    ocr.load_pdf_with_ocr(make_pdf([PageLayout(text=RESIDUE, size=(842, 595))]), filename="c.pdf", ocr_fallback="auto",
                          llm_caller=caller, provider="azure")
    n = len(RESIDUE) + 2 + len(MODEL_TEXT)
    fallback = ("Página %d: OCR falhou, tentando Vision LLM...", (1,))
    assert messages(logs) == [(START, ("c.pdf", 1)), (PREPARE, (1,)), fallback, (DONE, (1, n, "vision_fallback"))]
    ((ocr_args, ocr_kwargs),), ((model_args, model_kwargs),) = services.ocr.calls, services.vision.calls
    assert ocr_kwargs == {"image_format": "png"}
    assert (decode(ocr_args[0]).format, decode(ocr_args[0]).size) == ("PNG", (1755, 1240))  # landscape at 150 DPI
    assert model_args[0] == ocr_args[0]  # rendered anew for the model, the same image
    assert model_kwargs == {"llm_caller": caller, "image_format": "png", "provider": "azure", "google_client": None,
                            "google_model": None}
    logs.clear()
    ocr.load_pdf_with_ocr(make_pdf([""]), ocr_fallback="force", llm_caller=caller)
    assert messages(logs)[2] == ("Página %d: usando Vision LLM (force)...", (1,))


def test_google_route_gets_one_page_pdfs_and_its_client(services):
    services.vision.default = MODEL_TEXT
    client = object()
    pages = ocr.load_pdf_with_ocr(make_pdf(["a", "b"]), use_azure=False, ocr_fallback="auto", llm_caller=caller,
                                  provider="google", google_client=client, google_model="gemini")
    assert [p.metadata["source"] for p in pages] == ["vision_fallback"] * 2
    for index, (args, kwargs) in enumerate(services.vision.calls):
        with pymupdf.open(stream=args[0], filetype="pdf") as single:
            assert (single.page_count, single.load_page(0).get_text().strip()) == (1, "ab"[index])
        assert kwargs | {"llm_caller": None} == {"llm_caller": None, "image_format": "pdf", "provider": "google",
                                                 "google_client": client, "google_model": "gemini"}


def test_collaborators_are_looked_up_at_call_time(services, monkeypatch):
    for name, answer in [("render_page_as_image", b"img"), ("_vision_payload", (b"payload", "jpg")), ("Page", None),
                         ("_ensure_bytes", PDF)]:
        monkeypatch.setattr(ocr, name, Recorder(default=answer))
    services.vision.default = MODEL_TEXT
    token = object()
    ocr.load_pdf_with_ocr(token, ocr_fallback="auto", llm_caller=caller)
    assert ocr._ensure_bytes.calls == [((token,), {})]
    assert [c[0][1:] for c in ocr.render_page_as_image.calls] == [(1,)]
    assert [c[0][1:] for c in ocr._vision_payload.calls] == [(1, "openai")]
    assert (services.ocr.calls[0][0][0], services.vision.calls[0][0][0]) == (b"img", b"payload")
    assert services.vision.calls[0][1]["image_format"] == "jpg"
    assert [c[1]["metadata"] for c in ocr.Page.calls] == [{"page": 1, "source": "text"},
                                                          {"page": 2, "source": "vision_fallback", "ocr_failed": False}]
    monkeypatch.setattr(ocr, "_vision_payload", Recorder(default=b"so bytes"))
    with pytest.raises(ValueError, match="unpack"):
        ocr.load_pdf_with_ocr(PDF, ocr_fallback="force", llm_caller=caller)


def test_two_hundred_pages_in_order_with_gaps(services, monkeypatch):
    monkeypatch.setattr(ocr, "render_page_as_image", lambda doc, n: b"page %d" % n)  # rendering is tested on its own
    kinds = [i % 4 for i in range(200)]  # text, scanned, thin text over an image, blank
    layouts = [[PageLayout(text=text_of_length(150, f"P{i}")), PageLayout(image=True),
              PageLayout(text=f"nota {i}", image=True, size=(842, 595)), PageLayout()][k] for i, k in enumerate(kinds)]
    answers = {i: (None if i % 3 == 0 else f"ocr {i}") for i in range(200) if kinds[i]}
    services.ocr.answers = list(answers.values())
    pages = ocr.load_pdf_with_ocr(make_pdf(layouts))
    assert [c[0][0] for c in services.ocr.calls] == [b"page %d" % i for i in answers]
    expected = []
    for i, k in enumerate(kinds):
        residue = f"nota {i}" if k == 2 else ""
        if k == 0:
            expected.append((i + 1, "text", text_of_length(150, f"P{i}")))
        else:
            answer = answers[i]
            joined = (i + 1, "ocr", (residue + "\n\n" + answer).strip()) if answer else None
            expected.append(joined or (i + 1, "ocr_failed", residue))
    assert [(p.metadata["page"], p.metadata["source"], p.text) for p in pages] == expected
    pages = ocr.load_pdf_with_ocr(make_pdf(layouts), use_azure=False)
    assert [p.metadata["page"] for p in pages] == [i + 1 for i, k in enumerate(kinds) if k in (0, 2)]  # gaps


def test_fixture_documents(services, monkeypatch, logs):
    with pymupdf.open(TEXT_CONTRACT) as d:
        layers = [(i + 1, d.load_page(i).get_text().strip()) for i in range(d.page_count)]
    pages = ocr.load_pdf_with_ocr(TEXT_CONTRACT, use_azure=False)
    assert [(p.metadata["page"], p.text) for p in pages] == [(n, t) for n, t in layers if t]
    assert all(("ocr_failed" in p.metadata) == (len(p.text) <= 100) for p in pages)
    services.ocr.default = "PREGÃO ELETRÔNICO Nº 044/2025"
    pages = ocr.load_pdf_with_ocr(str(SCANNED_CONTRACT), filename="ignorado.pdf")
    assert [p.metadata for p in pages] == [{"page": n, "source": "ocr", "ocr_failed": False} for n in range(1, 9)]
    assert all(abs(decode(a[0]).size[0] - 1240) <= 2 for a, _ in services.ocr.calls)  # A4 at 150 DPI
    assert (START, (SCANNED_CONTRACT.name, 8)) in messages(logs)


def test_scanned_fixture_with_the_real_ocr_but_no_key(monkeypatch, logs):
    monkeypatch.setattr(ocr, "get_azure_config", lambda: ("", ""))
    pages = ocr.load_pdf_with_ocr(SCANNED_CONTRACT)
    failed = [("", {"page": n, "source": "ocr_failed", "ocr_failed": True}) for n in range(1, 9)]
    assert [(p.text, p.metadata) for p in pages] == failed
    assert [fmt for fmt, _ in messages(logs, "WARNING")] == ["AZURE_AI_VISION_KEY não configurada!", FAILED] * 8


@pytest.mark.parametrize(
    ("source", "filename", "logged"),
    [(PDF, None, "document.pdf"), (PDF, "", "document.pdf"), (bytearray(PDF), "b.pdf", "b.pdf"),
     (memoryview(PDF), None, "document.pdf"), (io.BytesIO(PDF), "a.pdf", "a.pdf"),
     ("path", "outro.pdf", "contrato final.pdf"), (pathlib.Path, None, "contrato final.pdf")],
)
def test_sources_and_their_names(services, logs, tmp_path, source, filename, logged):
    path = tmp_path / "contrato final.pdf"
    path.write_bytes(PDF)
    source = str(path) if source == "path" else path if source is pathlib.Path else source
    assert [p.metadata["page"] for p in ocr.load_pdf_with_ocr(source, use_azure=False, filename=filename)] == [1, 2]
    assert messages(logs)[0] == (START, (logged, 2))


@pytest.mark.parametrize("fail_on", [None, 0, 1])
def test_document_is_always_closed(services, monkeypatch, fail_on):
    fitz = Tracking(fail_on)
    monkeypatch.setattr(ocr, "fitz", fitz)
    if fail_on is None:
        ocr.load_pdf_with_ocr(PDF, use_azure=False)
    else:
        with pytest.raises(RuntimeError, match="página danificada"):
            ocr.load_pdf_with_ocr(PDF, use_azure=False)
    fitz.fail_on = None
    monkeypatch.setattr(ocr, "perform_azure_ocr", lambda *a, **k: (_ for _ in ()).throw(KeyboardInterrupt()))
    with pytest.raises(KeyboardInterrupt):
        ocr.load_pdf_with_ocr(make_pdf([""]))
    assert len(fitz.docs) == 2 and all(d.is_closed for d in fitz.docs)


@pytest.mark.parametrize(
    ("source", "error", "match"),
    [(b"isto nao e um PDF", pymupdf.FileDataError, "Failed to open"), (b"", pymupdf.EmptyFileError, "empty"),
     (b"%PDF-1.7\n%%EOF", pymupdf.FileDataError, "Failed to open"),
     (b"Contrato\n" * 50, pymupdf.FileDataError, "Failed"),
     ("", pymupdf.FileNotFoundError, "no such file: ''"),
     ("/nao/existe.pdf", pymupdf.FileNotFoundError, "no such file"),
     (12345, TypeError, "_ensure_bytes")],
)
def test_sources_that_are_not_a_pdf(services, source, error, match):
    with pytest.raises(error, match=match):
        ocr.load_pdf_with_ocr(source)


def test_encrypted_and_truncated_files(services, monkeypatch, tmp_path):
    fitz = Tracking()
    monkeypatch.setattr(ocr, "fitz", fitz)
    with pymupdf.open(stream=PDF, filetype="pdf") as d:
        d.save(tmp_path / "protegido.pdf", encryption=pymupdf.PDF_ENCRYPT_AES_256, owner_pw="dono", user_pw="leitor")
    with pytest.raises(ValueError, match="encrypted"):
        ocr.load_pdf_with_ocr(tmp_path / "protegido.pdf")
    data = make_pdf([text_of_length(150)] * 3)
    (tmp_path / "cortado.pdf").write_bytes(data[: len(data) * 3 // 4])  # the library recovers the pages
    assert [p.metadata for p in ocr.load_pdf_with_ocr(tmp_path / "cortado.pdf", use_azure=False)][:2] == [
        {"page": 1, "source": "text"}, {"page": 2, "source": "text"}]
    (tmp_path / "cortado.pdf").write_bytes(data[: len(data) // 2])  # nothing to recover
    with pytest.raises(pymupdf.FileDataError):
        ocr.load_pdf_with_ocr(tmp_path / "cortado.pdf")
    assert len(fitz.docs) == 2 and all(d.is_closed for d in fitz.docs)


@pytest.mark.parametrize(
    ("kwargs", "message"),
    [({"filename": 3}, r"load_pdf_with_ocr\(\) argument 'filename' must be str or None, not int"),
     ({"ocr_fallback": None}, r"argument 'ocr_fallback' must be str, not NoneType"),
     ({"provider": b"google"}, r"argument 'provider' must be str, not bytes"),
     ({"google_model": 1.5}, r"argument 'google_model' must be str or None"),
     ({"min_chars": 10}, r"load_pdf_with_ocr\(\)")],
)
def test_argument_errors_come_before_any_work(services, monkeypatch, kwargs, message):
    monkeypatch.setattr(ocr, "fitz", Tracking())
    with pytest.raises(TypeError, match=message):
        ocr.load_pdf_with_ocr(PDF, **kwargs)
    assert ocr.fitz.docs == []


def test_use_azure_is_a_truth_value(services):
    ocr.load_pdf_with_ocr(make_pdf(["a"]), use_azure=0)
    ocr.load_pdf_with_ocr(make_pdf(["a"]), use_azure="sim")
    assert len(services.ocr.calls) == 1


# --- process_pdf_smart ----------------------------------------------------------------
@pytest.fixture
def loaders(monkeypatch):
    analyze = Recorder(default={"paginas_ocr": [], "num_pages": 3, "doc_type": "texto"})
    plain, with_ocr = Recorder(default=["plain"]), Recorder(default=["ocr"])
    monkeypatch.setattr(utils, "analyze_pages", analyze)
    monkeypatch.setattr(utils, "load_pdf", plain)
    monkeypatch.setattr(ocr, "load_pdf_with_ocr", with_ocr)
    return analyze, plain, with_ocr


def test_smart_without_pages_needing_ocr_uses_the_plain_loader(loaders, logs, tmp_path):
    analyze, plain, with_ocr = loaders
    assert ocr.process_pdf_smart(PDF) == ["plain"]
    assert ocr.process_pdf_smart(str(tmp_path / "a.pdf"), filename="x.pdf") == ["plain"]
    assert analyze.calls == [((PDF,), {"min_chars_per_page": 100, "filename": "document.pdf"}),
                             ((str(tmp_path / "a.pdf"),), {"min_chars_per_page": 100, "filename": "a.pdf"})]
    assert plain.calls == [((PDF,), {"filename": "document.pdf"}), ((str(tmp_path / "a.pdf"),), {"filename": "x.pdf"})]
    assert with_ocr.calls == [] and messages(logs) == []


def test_smart_with_pages_needing_ocr_uses_the_ocr_loader(loaders, logs, tmp_path):
    analyze, plain, with_ocr = loaders
    analyze.default = {"paginas_ocr": {2, 3}, "num_pages": 3, "doc_type": "misto"}
    llm = object()
    assert ocr.process_pdf_smart(PDF, 500.9, "entrada.pdf", "auto", llm, "google", "cliente", "gemini") == ["ocr"]
    ocr.process_pdf_smart(tmp_path / "scan.pdf")
    assert analyze.calls[0][1] == {"min_chars_per_page": 500, "filename": "entrada.pdf"}
    assert with_ocr.calls == [
        ((PDF,), {"filename": "entrada.pdf", "ocr_fallback": "auto", "llm_caller": llm, "provider": "google",
                  "google_client": "cliente", "google_model": "gemini"}),
        ((tmp_path / "scan.pdf",), {"filename": None, "ocr_fallback": "off", "llm_caller": None, "provider": "openai",
                                    "google_client": None, "google_model": None}),
    ]
    assert messages(logs) == [("PDF %s: %d de %d pagina(s) precisam de OCR (%s)", (name, 2, 3, "misto"))
                              for name in ("entrada.pdf", "scan.pdf")]
    assert plain.calls == []


def test_smart_failures_reach_the_caller(loaders, monkeypatch):
    loaders[0].default = {"num_pages": 1}
    with pytest.raises(KeyError):
        ocr.process_pdf_smart(PDF)
    with pytest.raises(TypeError, match=r"process_pdf_smart\(\) argument 'min_chars' must be a real number, not str"):
        ocr.process_pdf_smart(PDF, "100")
    monkeypatch.delattr(utils, "analyze_pages")
    with pytest.raises(ImportError, match="cannot import name 'analyze_pages' from 'quillon.utils'"):
        ocr.process_pdf_smart(PDF)


def test_smart_with_the_real_host_loaders(services):
    plain = ocr.process_pdf_smart(TEXT_CONTRACT, min_chars=10)
    assert all(p.metadata == {"page": p.metadata["page"], "source": "text"} for p in plain)
    services.ocr.default = "texto"
    assert [p.metadata["source"] for p in ocr.process_pdf_smart(SCANNED_CONTRACT)] == ["ocr"] * 8
    assert services.ocr.calls and len(services.ocr.calls) == 8
    # A high minimum sends the document to the OCR loader, which keeps long pages as text.
    pages = ocr.process_pdf_smart(make_pdf([text_of_length(300), text_of_length(101)]), min_chars=500)
    assert [p.metadata for p in pages] == [{"page": 1, "source": "text"}, {"page": 2, "source": "text"}]


# --- the last step of a page: Tesseract, run by the engine --------------------------------------
STAMP, READING = "Carimbo do 2º Ofício ", "  CONTRATO DE PRESTAÇÃO DE SERVIÇOS  "


@pytest.mark.parametrize(
    ("residue", "reading", "images", "after"),
    [
        ("", READING, True, (READING, "tesseract", False)),  # the reading as Tesseract gave it
        ("p. 2", READING, True, (READING, "tesseract", False)),  # a residue this short is dropped
        (STAMP, READING, True, ((STAMP + "\n\n" + READING).strip(), "tesseract", False)),
        ("p. 2", "ilegível", True, ("p. 2", "ocr_failed", True)),  # too short to be a reading
        ("", "", True, ("", "ocr_failed", True)),
        ("", "", False, ("", "ocr_failed", False)),  # drawings only: not a picture of a page
        (STAMP, "", True, (STAMP, "ocr_failed", False)),
    ],
)
def test_after_tesseract(residue, reading, images, after):
    assert ocr._after_tesseract(residue, reading, images) == after


@pytest.mark.parametrize(
    ("residue", "images", "drawings", "reads"),
    [("", True, False, True), ("", False, True, True), ("", False, False, False),
     (STAMP, True, False, True), (STAMP, False, True, False)],
)
def test_which_pages_tesseract_reads(residue, images, drawings, reads):
    assert ocr._reads_with_tesseract(residue, images, drawings) is reads


def test_tesseract_step_takes_text_only():
    with pytest.raises(TypeError, match="argument 'reading' must be str"):
        ocr._after_tesseract("", None, True)
    with pytest.raises(TypeError, match="argument 'residue' must be str"):
        ocr._reads_with_tesseract(b"", True, True)
