"""PDFs, images and stand-ins for the cloud services, shared by the OCR tests."""

from __future__ import annotations

import io
import logging
import os
import pathlib
import sys
import types
from dataclasses import dataclass, field

import pymupdf
from PIL import Image


def _fixtures() -> pathlib.Path:
    """$QUILLON_FIXTURES, else the published data kept beside the tests."""
    if os.environ.get("QUILLON_FIXTURES"):
        return pathlib.Path(os.environ["QUILLON_FIXTURES"])
    return pathlib.Path(__file__).resolve().parent / "fixtures"


FIXTURES = _fixtures() / "documents"
TEXT_CONTRACT = FIXTURES / "contracts" / "contrato_fapespa_mapdata_06-2025_text.pdf"
SCANNED_CONTRACT = FIXTURES / "contracts" / "contrato_bastos_cgk_077-2025_scanned.pdf"
A4, LANDSCAPE = (595, 842), (842, 595)


def text_of_length(n: int, seed: str = "Contrato") -> str:
    """Exactly n characters in lines of at most 80, extracted back unchanged."""
    base = (seed + "0123456789") * (n // (len(seed) + 10) + 1)
    lines = [base[i : i + 80] for i in range(0, n, 81)]
    text = "\n".join(lines)
    return text[:n] if len(text) >= n else text + "x" * (n - len(text))


def png_bytes(size=(400, 300), mode="RGB") -> bytes:
    buf = io.BytesIO()
    Image.new(mode, size).save(buf, format="PNG")
    return buf.getvalue()


def decode(data: bytes) -> Image.Image:
    img = Image.open(io.BytesIO(data))
    img.load()
    return img


@dataclass
class PageLayout:
    text: str = ""
    image: bool = False
    size: tuple[int, int] = A4


def make_pdf(pages: list) -> bytes:
    """A PDF with one page per layout (a PageLayout, or a str for a text page)."""
    with pymupdf.open() as doc:
        for layout in pages:
            layout = PageLayout(text=layout) if isinstance(layout, str) else layout
            page = doc.new_page(width=layout.size[0], height=layout.size[1])
            if layout.image:
                page.insert_image(pymupdf.Rect(50, 50, 350, 275), stream=png_bytes())
            for k, line in enumerate(layout.text.split("\n") if layout.text else []):
                page.insert_text((40, 60 + 8 * k), line, fontsize=6)
        return doc.tobytes()


# --- the Azure SDK ----------------------------------------------------------------
class HttpError(Exception):
    """A service error carrying its HTTP status, as azure-core's do."""

    def __init__(self, status_code, message="erro do serviço"):
        super().__init__(f"({status_code}) {message}")
        self.status_code = status_code


class ResponseError(Exception):
    """An error whose status is only on its response."""

    def __init__(self, status_code):
        super().__init__(f"status {status_code}")
        self.response = types.SimpleNamespace(status_code=status_code)


def ns(**kw):
    return types.SimpleNamespace(**kw)


def read_result(*blocks):
    """An analysis result whose READ part holds these blocks of line texts."""
    return ns(read=ns(blocks=[ns(lines=[ns(text=t) for t in b]) for b in blocks]))


@dataclass
class FakeAzure:
    """The three SDK names an OCR attempt imports, answering from `script`
    (results or exceptions, one per request)."""

    script: list = field(default_factory=list)
    requests: list = field(default_factory=list)
    clients: list = field(default_factory=list)

    def install(self, monkeypatch) -> None:
        fake = self

        class ImageAnalysisClient:
            def __init__(self, endpoint, credential, **kwargs):
                self.endpoint, self.credential, self.kwargs, self.closed = endpoint, credential, kwargs, False
                fake.clients.append(self)

            def analyze(self, image_data, visual_features, **kwargs):
                request = dict(client=self, image_data=image_data, visual_features=visual_features)
                fake.requests.append(request | kwargs)
                answer = fake.script.pop(0) if fake.script else read_result()
                if isinstance(answer, BaseException):
                    raise answer
                return answer

            def close(self):
                self.closed = True

        modules = {
            "azure.ai.vision.imageanalysis": {"ImageAnalysisClient": ImageAnalysisClient},
            "azure.ai.vision.imageanalysis.models": {"VisualFeatures": ns(READ="READ", CAPTION="CAPTION")},
            "azure.core.credentials": {"AzureKeyCredential": lambda key: ns(key=key)},
        }
        for name, attrs in modules.items():
            module = types.ModuleType(name)
            module.__dict__.update(attrs)
            monkeypatch.setitem(sys.modules, name, module)


class Recorder:
    """A stand-in for a function: records calls, answers from a script."""

    def __init__(self, *answers, default=None):
        self.answers, self.default, self.calls = list(answers), default, []

    def __call__(self, *args, **kwargs):
        self.calls.append((args, kwargs))
        return self.answers.pop(0) if self.answers else self.default


def messages(caplog, level=None):
    """(format, args) of the module's log records, optionally of one level."""
    return [
        (r.msg, r.args)
        for r in caplog.records
        if r.name == "quillon.ocr" and (level is None or r.levelno == getattr(logging, level))
    ]
