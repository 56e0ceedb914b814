"""Host utilities for PDF sources: bytes of a source, page analysis, plain loading.

PyMuPDF is imported by the functions that open documents, not when this
module is imported: the compiled ``ocr`` module binds ``_ensure_bytes`` at
load and must stay cheap to import.
"""

from __future__ import annotations

import base64
import binascii
import os
from pathlib import Path
from typing import Any

_DATA_URL_MARK = ";base64,"


def _ensure_bytes(source: Any) -> bytes:
    """The bytes of a PDF given as content.

    Accepts bytes, bytearray, memoryview (any bytes-like object), a binary
    file-like object (its ``read()`` from the current position) and base64
    text (a ``data:...;base64,`` prefix is allowed).  Anything else is a
    TypeError; text that is not base64 is a ValueError.
    """
    if isinstance(source, bytes):
        return source
    if isinstance(source, (bytearray, memoryview)):
        return bytes(source)
    if isinstance(source, str):
        text = source.strip()
        if text.startswith("data:") and _DATA_URL_MARK in text:
            text = text.split(_DATA_URL_MARK, 1)[1]
        try:
            return base64.b64decode("".join(text.split()), validate=True)
        except (binascii.Error, ValueError) as exc:
            raise ValueError(f"_ensure_bytes(): text is not valid base64 PDF content ({exc})") from exc
    read = getattr(source, "read", None)
    if callable(read):
        data = read()
        if isinstance(data, (bytes, bytearray, memoryview)):
            return bytes(data)
        raise TypeError(
            "_ensure_bytes(): file-like source must be opened in binary mode "
            f"(read() gave {type(data).__name__}, not bytes)"
        )
    try:
        return bytes(memoryview(source))
    except TypeError:
        pass
    raise TypeError(
        "_ensure_bytes(): PDF source must be bytes, bytearray, memoryview, a binary "
        f"file-like object or base64 text, not {type(source).__name__}"
    )


def _is_path(source: Any) -> bool:
    return isinstance(source, (str, os.PathLike))


def _display_name(source: Any, filename: str | None) -> str:
    if _is_path(source):
        return Path(source).name
    return filename if isinstance(filename, str) and filename else "document.pdf"


def _open(source: Any):
    import pymupdf

    if _is_path(source):
        if isinstance(source, str) and not source:
            # pymupdf.open("") would make a new empty document.
            raise pymupdf.FileNotFoundError("no such file: ''")
        return pymupdf.open(source)
    return pymupdf.open(stream=_ensure_bytes(source), filetype="pdf")


def _page_texts(source: Any):
    """(page number from 1, trimmed text layer) of every page, one page at a time."""
    doc = _open(source)
    try:
        for index in range(doc.page_count):
            yield index + 1, doc.load_page(index).get_text().strip()
    finally:
        doc.close()


def analyze_pages(source: Any, min_chars_per_page: int = 100, filename: str | None = None) -> dict[str, Any]:
    """Which pages of a PDF have too thin a text layer and need OCR.

    A page needs OCR when its trimmed text has at most ``min_chars_per_page``
    characters: with the default of 100 this is exactly the rule of the OCR
    loader, which keeps a page as text only above 100 characters.

    Returns {"filename", "num_pages", "paginas_ocr", "paginas_texto",
    "doc_type"}: the page lists hold page numbers from 1; "doc_type" is
    "texto" (no page needs OCR), "escaneado" (every page does), "misto" or
    "vazio" (no pages).
    """
    paginas_ocr: list[int] = []
    paginas_texto: list[int] = []
    for number, text in _page_texts(source):
        (paginas_ocr if len(text) <= min_chars_per_page else paginas_texto).append(number)
    num_pages = len(paginas_ocr) + len(paginas_texto)
    if num_pages == 0:
        doc_type = "vazio"
    elif not paginas_ocr:
        doc_type = "texto"
    elif not paginas_texto:
        doc_type = "escaneado"
    else:
        doc_type = "misto"
    return {
        "filename": _display_name(source, filename),
        "num_pages": num_pages,
        "paginas_ocr": paginas_ocr,
        "paginas_texto": paginas_texto,
        "doc_type": doc_type,
    }


def load_pdf(source: Any, filename: str | None = None) -> list:
    """The pages of a PDF from their text layer alone, without OCR.

    One ``Page`` per page with text (trimmed), metadata {"page": n,
    "source": "text"}; pages without any text are left out.
    """
    from quillon.models.result import Page

    return [
        Page(text=text, metadata={"page": number, "source": "text"})
        for number, text in _page_texts(source)
        if text
    ]
