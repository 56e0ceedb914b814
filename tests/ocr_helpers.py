"""PDFs, images and stand-ins for the cloud services, shared by the OCR tests.

PDFs are made with PyMuPDF; the Azure SDK is replaced by modules injected into
``sys.modules`` (the real client cannot reach a service here), so the tests
see exactly what the module hands to it.
"""

from __future__ import annotations

import io
import logging
import pathlib
import sys
import types
from dataclasses import dataclass, field
from typing import Any

import pymupdf
from PIL import Image

FIXTURES = pathlib.Path(__file__).resolve().parents[2] / "shared" / "fixtures" / "documents"
if not FIXTURES.is_dir():  # a worktree lives one level deeper than the main checkout
    FIXTURES = pathlib.Path("/work/shared/fixtures/documents")
TEXT_CONTRACT = FIXTURES / "contracts" / "contrato_fapespa_mapdata_06-2025_text.pdf"
SCANNED_CONTRACT = FIXTURES / "contracts" / "contrato_bastos_cgk_077-2025_scanned.pdf"

A4 = (595, 842)
LANDSCAPE = (842, 595)


# --- PDFs --------------------------------------------------------------------------
def text_of_length(n: int, seed: str = "Contrato") -> str:
    """A text of exactly n characters, in lines of at most 80 joined by newlines,
    that PyMuPDF extracts back unchanged from a page made by make_pdf."""
    base = (seed + "0123456789") * (n // (len(seed) + 10) + 1)
    out, used = [], 0
    while used < n:
        if out:
            out.append("\n")
            used += 1
        take = min(80, n - used)
        if take == 0:  # never end on a newline: trimmed away on extraction
            out[-1] = "x"
            break
        out.append(base[used : used + take])
        used += take
    return "".join(out)


def png_bytes(size=(400, 300), mode="RGB", color=(200, 30, 30)) -> bytes:
    img = Image.new(mode, size, color if mode != "P" else 1)
    buf = io.BytesIO()
    img.save(buf, format="PNG")
    return buf.getvalue()


@dataclass
class PageSpec:
    """One page of a test PDF: its text layer, an image, its size."""

    text: str = ""
    image: bool = False
    size: tuple[int, int] = A4


def make_pdf(pages: list[PageSpec | str]) -> bytes:
    doc = pymupdf.open()
    try:
        for spec in pages:
            if isinstance(spec, str):
                spec = PageSpec(text=spec)
            page = doc.new_page(width=spec.size[0], height=spec.size[1])
            if spec.image:
                page.insert_image(pymupdf.Rect(50, 50, 350, 275), stream=png_bytes())
            if spec.text:
                # Short lines of small type: every character stays on the page.
                y = 60.0
                for line in spec.text.split("\n"):
                    page.insert_text((40, y), line, fontsize=6)
                    y += 8
        return doc.tobytes()
    finally:
        doc.close()


def extracted(pdf: bytes, index: int) -> str:
    with pymupdf.open(stream=pdf, filetype="pdf") as doc:
        return doc.load_page(index).get_text().strip()


def decode(image: bytes) -> Image.Image:
    img = Image.open(io.BytesIO(image))
    img.load()
    return img


# --- the Azure SDK ------------------------------------------------------------------
class HttpError(Exception):
    """A service error that carries its HTTP status, as azure-core's do."""

    def __init__(self, status_code, message="service error"):
        super().__init__(f"({status_code}) {message}")
        self.status_code = status_code


class ResponseError(Exception):
    """An error whose status is only on its response."""

    def __init__(self, status_code):
        super().__init__(f"response status {status_code}")
        self.response = types.SimpleNamespace(status_code=status_code)


def read_result(*blocks: list[str]):
    """An analysis result whose READ part holds these blocks of lines."""
    return types.SimpleNamespace(
        read=types.SimpleNamespace(
            blocks=[types.SimpleNamespace(lines=[types.SimpleNamespace(text=t) for t in b]) for b in blocks]
        )
    )


@dataclass
class FakeAzure:
    """The three SDK names the OCR attempt imports, answering from a script.

    Each entry of ``script`` is an analysis result or an exception to raise,
    one per request; ``requests`` keeps what every request carried.
    """

    script: list[Any] = field(default_factory=list)
    requests: list[dict[str, Any]] = field(default_factory=list)
    clients: list[Any] = field(default_factory=list)

    def install(self, monkeypatch) -> None:
        fake = self

        class AzureKeyCredential:
            def __init__(self, key):
                self.key = key

        class VisualFeatures:
            READ = "READ"
            CAPTION = "CAPTION"

        class ImageAnalysisClient:
            def __init__(self, endpoint, credential, **kwargs):
                self.endpoint = endpoint
                self.credential = credential
                self.kwargs = kwargs
                self.closed = False
                fake.clients.append(self)

            def analyze(self, image_data, visual_features, **kwargs):
                fake.requests.append(
                    {"client": self, "image_data": image_data, "visual_features": visual_features, **kwargs}
                )
                answer = fake.script.pop(0) if fake.script else read_result()
                if isinstance(answer, BaseException):
                    raise answer
                return answer

            def close(self):
                self.closed = True

        analysis = types.ModuleType("azure.ai.vision.imageanalysis")
        analysis.ImageAnalysisClient = ImageAnalysisClient
        models = types.ModuleType("azure.ai.vision.imageanalysis.models")
        models.VisualFeatures = VisualFeatures
        credentials = types.ModuleType("azure.core.credentials")
        credentials.AzureKeyCredential = AzureKeyCredential
        monkeypatch.setitem(sys.modules, "azure.ai.vision.imageanalysis", analysis)
        monkeypatch.setitem(sys.modules, "azure.ai.vision.imageanalysis.models", models)
        monkeypatch.setitem(sys.modules, "azure.core.credentials", credentials)


# --- logs ----------------------------------------------------------------------------
def records(caplog, level=None, logger="quillon.ocr"):
    return [
        r
        for r in caplog.records
        if r.name == logger and (level is None or r.levelno == getattr(logging, level))
    ]


def messages(caplog, level=None):
    return [(r.msg, r.args) for r in records(caplog, level)]
