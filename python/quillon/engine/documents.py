"""Reading a contract PDF into page texts.

Pages come from ``quillon.ocr``: the text layer where it is thick enough,
Azure OCR for thin pages when it is configured (when it is not, thin pages are
neither rendered nor sent: nothing could read the image).  Thin pages that
no service read go on to the last step of the same page flow, Tesseract, when
it and its Portuguese data are installed (Debian: ``tesseract-ocr``,
``tesseract-ocr-por``): which pages it reads and what a page is afterwards
(text, source, unreadable) are the flow's rules (``quillon/ocr.hpp`` in the
core, through ``quillon.ocr._reads_with_tesseract`` and
``quillon.ocr._after_tesseract``); this module runs the readings
(``tesseract_pages``, several at once, in page order) and stops early.  Pages
left unreadable are reported, each with the reason (``Document.reasons``).
"""

from __future__ import annotations

import functools
import logging
import os
import shutil
import subprocess
from dataclasses import dataclass, field
from typing import Any, Callable, Optional

from quillon.engine.tesseract_pages import PageNotRead, read_pages

logger = logging.getLogger("quillon.engine")

#: Resolution Tesseract reads scanned pages at: the fastest of 200/250/300 dpi
#: that loses no party CNPJ and no signatory on the labeled scanned contracts
#: (bench/bench_scanned.py: 30% less time per page than 300 dpi).
TESSERACT_DPI = 200
TESSERACT_LANGUAGE = "por"


@dataclass
class PageText:
    number: int
    text: str
    source: str


@dataclass
class Document:
    path: str
    pages: list[PageText] = field(default_factory=list)
    page_count: int = 0
    unreadable: list[int] = field(default_factory=list)
    #: Why each unreadable page could not be read, by page number.
    reasons: dict[int, str] = field(default_factory=dict)
    #: False when reading stopped early: the caller had what it needed.
    complete: bool = True

    @property
    def text(self) -> str:
        return "\n\n".join(p.text for p in self.pages if p.text)

    def page_texts(self) -> list[str]:
        return [p.text for p in self.pages]


@functools.lru_cache(maxsize=1)
def tesseract_languages() -> frozenset[str]:
    """The languages the installed Tesseract reads; empty when it is not installed."""
    exe = shutil.which("tesseract")
    if not exe:
        return frozenset()
    try:
        out = subprocess.run([exe, "--list-langs"], capture_output=True, text=True, timeout=20)
    except (OSError, subprocess.SubprocessError):
        return frozenset()
    langs = out.stdout.splitlines()[1:] if out.returncode == 0 else []
    return frozenset(line.strip() for line in langs if line.strip())


def tesseract_available(language: str = TESSERACT_LANGUAGE) -> bool:
    return language in tesseract_languages()


def _tessdata() -> Optional[str]:
    prefix = os.environ.get("TESSDATA_PREFIX")
    if prefix:
        return prefix
    for candidate in ("/usr/share/tesseract-ocr/5/tessdata", "/usr/share/tesseract-ocr/4.00/tessdata",
                      "/usr/share/tessdata"):
        if os.path.exists(os.path.join(candidate, f"{TESSERACT_LANGUAGE}.traineddata")):
            return candidate
    return None


def _unread(record: Any) -> bool:
    """Whether the loader's page record is a page that no service read."""
    return record.metadata.get("ocr_failed") is True


def needs_tesseract(page_record: Any, page) -> bool:
    """Whether a page the loader could not read goes to Tesseract."""
    from quillon import ocr

    if not _unread(page_record):
        return False
    images = bool(page.get_images(full=False))
    # Listing a page's drawings can be slow, and they are asked about only
    # for a page with no picture: a picture is reason enough to read it.
    drawings = not images and bool(page.get_drawings())
    return ocr._reads_with_tesseract(page_record.text.strip(), images, drawings)


def azure_ocr_configured() -> bool:
    """Whether the OCR loader has Azure credentials to send thin pages with."""
    from quillon import ocr

    try:
        _, key = ocr.get_azure_config()
    except Exception:  # a configuration that cannot be read configures nothing
        return False
    return bool(key)


def _pages_without_ocr_service(path: str) -> list:
    """The loader's pages when no OCR service is configured: text layers only,
    no page rendered.  Thin pages come back as the OCR path gives them when
    recognition fails ("source" "ocr_failed", their residue as text), blank
    ones included, so that the rest of the reading sees one shape."""
    from quillon.models.result import Page
    from quillon.ocr import load_pdf_with_ocr

    import pymupdf

    by_number = {int(r.metadata.get("page", 0)): r for r in load_pdf_with_ocr(path, use_azure=False)}
    with pymupdf.open(path) as opened:
        count = opened.page_count
    records = []
    for number in range(1, count + 1):
        record = by_number.get(number)
        if record is not None and "ocr_failed" not in record.metadata:
            records.append(record)  # a text page: it went through no recognition
        else:
            residue = record.text if record is not None else ""
            records.append(Page(text=residue, metadata={"page": number, "source": "ocr_failed", "ocr_failed": True}))
    return records


def _missing_tesseract_reason() -> str:
    if shutil.which("tesseract"):
        return (f"o Tesseract não tem os dados do idioma {TESSERACT_LANGUAGE!r} (instale tesseract-ocr-por) "
                "e o OCR Azure não está configurado")
    return "sem OCR: instale o Tesseract (tesseract-ocr, tesseract-ocr-por) ou configure o OCR Azure"


def read_document(
    path: str,
    *,
    use_tesseract: bool = True,
    progress: Optional[Callable[[int, int], None]] = None,
    enough: Optional[Callable[[list[str]], bool]] = None,
    workers: Optional[int] = None,
) -> Document:
    """The pages of the PDF at ``path``, numbered from 1, in order.

    Scanned pages are read by ``workers`` Tesseract processes at once (default:
    the cores available, ``QUILLON_OCR_WORKERS``).  ``enough``, given the page
    texts read so far, says when the caller has what it needs; it is asked
    before each page that needs Tesseract (text pages cost nothing to read),
    reading stops at the first yes, and ``Document.complete`` is then False."""
    from quillon import ocr

    azure = azure_ocr_configured()
    records = ocr.process_pdf_smart(path) if azure else _pages_without_ocr_service(path)
    doc = Document(path=str(path))
    thin = [r for r in records if _unread(r)]
    opened = None
    tesseract = use_tesseract and bool(thin) and tesseract_available()
    unread_reason = _unread_reason(azure, use_tesseract, tesseract)
    readings = None
    try:
        if thin:
            import pymupdf

            opened = pymupdf.open(path)
            doc.page_count = opened.page_count
        to_read = [int(r.metadata.get("page", 0)) for r in thin
                   if tesseract and needs_tesseract(r, opened.load_page(int(r.metadata.get("page", 0)) - 1))]
        wanted = set(to_read)
        if to_read:
            readings = read_pages(opened, to_read, dpi=TESSERACT_DPI, language=TESSERACT_LANGUAGE,
                                  tessdata=_tessdata(), workers=workers)
        done = 0
        for record in records:
            number = int(record.metadata.get("page", 0))
            text, source = record.text.strip(), str(record.metadata.get("source", "text"))
            if number in wanted and enough is not None and doc.pages and enough(doc.page_texts()):
                doc.complete = False  # what was read decides: the scanned pages left are not read
                break
            if _unread(record):
                reason, read = unread_reason, ""
                if readings is not None and number in wanted:
                    _, read = next(readings)
                    if isinstance(read, PageNotRead):
                        logger.warning("%s: page %d not read by Tesseract: %s", path, number, read)
                        reason, read = str(read), ""
                    done += 1
                    if progress:
                        progress(done, len(to_read))
                has_images = bool(opened.load_page(number - 1).get_images(full=False))
                text, source, unreadable = ocr._after_tesseract(text, read, has_images)
                if unreadable:
                    doc.unreadable.append(number)
                    doc.reasons[number] = reason
            doc.pages.append(PageText(number=number, text=text, source=source))
    finally:
        if readings is not None:
            readings.close()  # stops the readings still running
        if opened is not None:
            opened.close()
    if not doc.page_count:
        doc.page_count = len(records) if records else max((p.number for p in doc.pages), default=0)
    return doc


def _unread_reason(azure: bool, use_tesseract: bool, tesseract: bool) -> str:
    """Why a thin page that holds a picture has no text."""
    if not use_tesseract:
        return ("o OCR Azure não retornou texto e a leitura com o Tesseract foi desligada" if azure
                else "a leitura com o Tesseract foi desligada e o OCR Azure não está configurado")
    if not tesseract:
        reason = "o OCR Azure não retornou texto" if azure else _missing_tesseract_reason()
        if azure and not tesseract_available():
            reason += " e o Tesseract não está disponível"
        return reason
    return ("nem o OCR Azure nem o Tesseract encontraram texto na página" if azure
            else "o Tesseract não encontrou texto na página")
