"""The ocr and open-data entry points keep no reference and no memory they
should not: each is called many times (100,000 where it does no I/O, a few
hundred where it renders or reads a PDF) with answers, misses and raised
errors, and afterwards every argument has the reference count it had and the
process's resident memory has not grown beyond a small allowance.  A leaked
reference, a leaked buffer or a lost exception object per call shows at once
at these counts."""

from __future__ import annotations

import ctypes
import gc
import logging
import os
import sys
import time
import types

import pymupdf
import pytest

from ocr_helpers import HttpError, PageLayout, ResponseError, make_pdf, png_bytes, read_result
from quillon import ocr
from quillon.registry.opendata import CNPJ, CODE, DATE, KEY, TEXT, LineReader, name_key

CALLS = 100_000
#: Calls that decode and re-encode an image (Pillow) on the way.
IMAGE_CALLS = 1_500
RENDERS = 100
#: Resident memory a run may gain: the allocator's pools, not a leak (a leak of
#: even 32 bytes a call is 3 MiB over 100,000 calls).
RSS_ALLOWANCE = 1 << 20
PAGE_SIZE = os.sysconf("SC_PAGE_SIZE")


def rss() -> int:
    with open("/proc/self/statm") as fh:
        return int(fh.read().split()[1]) * PAGE_SIZE


def fresh(text: str) -> str:
    """An object of the test's own, so its reference count is only the test's."""
    return "".join(list(text))


def raises(error, call):
    def attempt():
        try:
            call()
        except error:
            return
        raise AssertionError(f"{call} did not raise {error.__name__}")

    return attempt


def settle():
    gc.collect()
    # MuPDF keeps what it decoded (the images of every document opened) in its
    # store, up to 256 MiB: a cache, not a leak.  Emptied before each count,
    # and the freed memory handed back to the system.
    pymupdf.TOOLS.store_shrink(100)
    ctypes.CDLL(None).malloc_trim(0)


def steady(calls, watched, times=CALLS, allowance=RSS_ALLOWANCE):
    """Runs every one of `calls` `times` times (a warm-up first) and checks the
    reference counts of `watched` and the resident memory."""
    warm = max(1, times // 10)
    for call in calls:
        for _ in range(warm):
            call()
    settle()
    counts = [sys.getrefcount(w) for w in watched]
    before = rss()
    for call in calls:
        for _ in range(times):
            call()
    settle()
    assert [sys.getrefcount(w) for w in watched] == counts
    grown = rss() - before
    assert grown < allowance, f"resident memory grew by {grown // 1024} KiB"


@pytest.fixture
def quiet_ocr(monkeypatch):
    """The ocr module's errors are logged: kept out of the test's output."""
    logger = logging.getLogger("quillon.ocr.lifetime")
    logger.disabled = True
    monkeypatch.setattr(ocr, "logger", logger)


# --- open data ----------------------------------------------------------------------------------
def test_name_key():
    name, other = fresh("Globo Comunicação e Participações S/A"), fresh("...")
    data = fresh("x").encode()
    steady([lambda: name_key(name), lambda: name_key(other), raises(TypeError, lambda: name_key(data))],
           [name, other, data])


def test_line_reader():
    plan = [(CNPJ, 0), (DATE, 3), (CODE, 4), (KEY, 5), (TEXT, 5)]
    chunk = (b'"06990590";"0001";"23";"20040901";"05";"Associa\xe7\xe3o S/A"\r\n'
             b'"bad\n"1";"2"\n"1";"2";"3";"0";"x";"y"\n"06990590";"0001";"23";"2004')
    tail = b'0901";"";"fim"'
    overlong = b"x" * ((1 << 20) + 10) + b"\n"
    bad_plan = [(TEXT, 9)]

    def read():
        reader = LineReader(6, plan, 10, 100)
        assert len(reader.feed(chunk)) == 1
        assert len(reader.feed(tail)) == 0
        assert len(reader.finish()) == 1
        assert len(reader.take_errors()) == 3 and (reader.line, reader.offset) > (10, 100)

    def feed_text():
        LineReader(6, plan).feed("text")

    steady([read, raises(ValueError, lambda: LineReader(6, bad_plan)), raises(TypeError, feed_text)],
           [plan, chunk, tail, bad_plan])

    def skip_overlong():
        reader = LineReader(6, plan)
        reader.feed(overlong)
        assert reader.take_errors() == [(1, "linha longa demais (mais de 1 MiB)")]

    steady([skip_overlong], [overlong, plan], times=RENDERS)


# --- ocr ----------------------------------------------------------------------------------------
def test_the_tesseract_step():
    short, residue, reading = fresh("p. 3"), fresh("Carimbo do cartório, 1"), fresh("CONTRATO " * 10)
    steady([lambda: ocr._reads_with_tesseract(short, True, False),
            lambda: ocr._reads_with_tesseract(residue, False, True),
            lambda: ocr._after_tesseract(residue, reading, True),
            lambda: ocr._after_tesseract(short, reading, True),
            lambda: ocr._after_tesseract(short, "", True),
            raises(TypeError, lambda: ocr._after_tesseract(short, None, True))],
           [short, residue, reading])


class _Answer:
    def __init__(self, content):
        message = type("Message", (), {"content": content})()
        self.choices = [type("Choice", (), {"message": message})()]


def test_vision_fallback(quiet_ocr):
    image = png_bytes((40, 30))
    text, blank = _Answer(fresh("  texto da página  ")), _Answer("")

    def answers(messages, _):
        return text

    def says_nothing(messages, _):
        return blank

    def fails(messages, _):
        raise RuntimeError("quota")

    steady([lambda: ocr.perform_vision_fallback(image, llm_caller=answers),
            lambda: ocr.perform_vision_fallback(image, llm_caller=says_nothing, image_format="JPG"),
            lambda: ocr.perform_vision_fallback(image, llm_caller=fails),
            lambda: ocr.perform_vision_fallback(image, llm_caller=answers, image_format="pdf"),
            raises(TypeError, lambda: ocr.perform_vision_fallback(text, llm_caller=answers))],
           [image, text, answers, says_nothing, fails])


@pytest.fixture
def azure_sdk(monkeypatch):
    """The Azure SDK's three names, answering `answer["next"]`; no request leaves."""
    answer = {"next": None, "status": None}

    class ImageAnalysisClient:
        def __init__(self, endpoint, credential, **kwargs):
            pass

        def analyze(self, image_data, visual_features, **kwargs):
            if isinstance(answer["next"], type):  # an error class: a new error each time
                raise answer["next"](answer["status"])
            return answer["next"]

        def close(self):
            pass

    for name, attrs in {"azure.ai.vision.imageanalysis": {"ImageAnalysisClient": ImageAnalysisClient},
                        "azure.ai.vision.imageanalysis.models": {"VisualFeatures": types.SimpleNamespace(READ="R")},
                        "azure.core.credentials": {"AzureKeyCredential": lambda key: key}}.items():
        module = types.ModuleType(name)
        module.__dict__.update(attrs)
        monkeypatch.setitem(sys.modules, name, module)
    monkeypatch.setattr(time, "sleep", lambda seconds: None)  # the back-off between attempts
    monkeypatch.setattr(ocr, "get_azure_config", lambda: ("https://ocr.example/", "chave"))
    return answer


def test_azure_ocr(quiet_ocr, azure_sdk, monkeypatch):
    image, tiny = png_bytes((240, 200)), png_bytes((100, 100))
    read, blank = read_result([fresh("linha 1"), "linha 2"], ["linha 3"]), read_result()
    busy, refused, response = HttpError(503), HttpError(401), ResponseError(429)

    def answering(answer, status=None):
        def call():
            azure_sdk["next"], azure_sdk["status"] = answer, status
            return ocr.perform_azure_ocr(image)
        return call

    steady([answering(read), answering(blank), answering(HttpError, 503), answering(ResponseError, 401),
            lambda: ocr.perform_azure_ocr(tiny, "jpg"),
            raises(TypeError, lambda: ocr.perform_azure_ocr(image, None))],
           [image, tiny, read, blank], times=IMAGE_CALLS)
    steady([lambda: ocr._is_transient_azure_error(busy), lambda: ocr._is_transient_azure_error(refused),
            lambda: ocr._is_transient_azure_error(response), lambda: ocr._is_transient_azure_error(tiny)],
           [busy, refused, response, tiny])
    monkeypatch.setattr(ocr, "get_azure_config", lambda: ("https://ocr.example/", ""))
    steady([lambda: ocr.perform_azure_ocr(image)], [image])  # no key: a warning, nothing decoded


def test_rendering_and_loading(quiet_ocr, monkeypatch):
    monkeypatch.setattr(ocr, "get_azure_config", lambda: ("https://ocr.example/", ""))  # nothing is sent
    small = (300, 200)  # rendered many times: small pages keep it quick
    pdf = make_pdf([PageLayout("CONTRATO " * 40, size=small), PageLayout(image=True, size=small),
                    PageLayout(text="resíduo", size=small)])
    source = fresh("document")

    def answers(messages, _):
        return _Answer("texto reconhecido")

    with pymupdf.open(stream=pdf, filetype="pdf") as doc:
        steady([lambda: ocr.render_page_as_image(doc, 1),
                lambda: ocr.render_page_as_pdf(doc, 1),
                lambda: ocr._vision_payload(doc, 1, "openai"),
                lambda: ocr.load_pdf_with_ocr(pdf, use_azure=False, ocr_fallback="auto", llm_caller=answers,
                                              filename=source),
                lambda: ocr.process_pdf_smart(pdf, filename=source, ocr_fallback="force", llm_caller=answers),
                raises(ValueError, lambda: ocr.render_page_as_image(doc, 7))],
               [doc, pdf, answers, source], times=RENDERS)
        steady([raises(TypeError, lambda: ocr.render_page_as_image(doc, source)),
                raises(TypeError, lambda: ocr.load_pdf_with_ocr(pdf, ocr_fallback=None)),
                raises(TypeError, lambda: ocr.perform_vision_fallback(image_bytes=source))],
               [doc, pdf, source])
