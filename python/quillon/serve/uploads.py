"""Uploaded files: kept only if they are PDFs the verification can read.

The content decides, not the name: a PDF header, a document PyMuPDF opens,
not protected by a password, with at least one page.  A refused file is
deleted before the refusal is answered; an accepted one waits in the uploads
folder under its job's id until its job ends.
"""

from __future__ import annotations

import os
import pathlib
from typing import BinaryIO, Callable

CHUNK = 1024 * 1024


class Rejected(Exception):
    """An upload refused: ``status`` is the HTTP status, the text says why, in Portuguese."""

    def __init__(self, status: int, message: str) -> None:
        super().__init__(message)
        self.status = status


def megabytes(n: int) -> str:
    """A size as the limit is set (QUILLON_SERVE_MAX_MB): "50", "0.1"."""
    return f"{round(n / (1024 * 1024), 2):g}"


def too_large(max_bytes: int) -> Rejected:
    return Rejected(413, f"arquivo maior que o limite de {megabytes(max_bytes)} MB")


def save(source: BinaryIO, folder: pathlib.Path, name: str, max_bytes: int,
         check: Callable[[pathlib.Path], None] = None) -> pathlib.Path:
    """Copy ``source`` to ``folder/name`` at most ``max_bytes`` long and ``check`` it (a readable PDF
    by default); nothing is left when it is refused."""
    folder.mkdir(parents=True, exist_ok=True)
    target = folder / name
    partial = target.with_suffix(".part")
    try:
        with open(partial, "wb") as out:
            written = 0
            while chunk := source.read(CHUNK):
                written += len(chunk)
                if written > max_bytes:
                    raise too_large(max_bytes)
                out.write(chunk)
            out.flush()
            os.fsync(out.fileno())  # acknowledged means on disk: a crash right after loses nothing
        if written == 0:
            raise Rejected(400, "arquivo vazio")
        (check or check_pdf)(partial)
        os.replace(partial, target)
        return target
    except BaseException:
        partial.unlink(missing_ok=True)
        raise


def check_pdf(path: pathlib.Path) -> None:
    """Refuse what is not a PDF the verification can read."""
    with open(path, "rb") as fh:
        head = fh.read(1024)
    if b"%PDF-" not in head:
        raise Rejected(415, "o arquivo não é um PDF (o conteúdo não começa como um PDF)")
    import pymupdf

    try:
        with pymupdf.open(path, filetype="pdf") as doc:
            if doc.needs_pass:
                raise Rejected(400, "PDF protegido por senha: envie o documento sem proteção")
            if doc.page_count < 1:
                raise Rejected(400, "PDF sem páginas")
            doc.load_page(0)
    except Rejected:
        raise
    except Exception as exc:
        raise Rejected(400, f"PDF corrompido ou ilegível ({type(exc).__name__})") from None


def check_pdf_or_text(path: pathlib.Path) -> None:
    """Refuse what is neither a readable PDF nor UTF-8 text (the screening reads both)."""
    with open(path, "rb") as fh:
        head = fh.read(1024)
    if b"%PDF-" in head:
        check_pdf(path)
        return
    try:
        path.read_text(encoding="utf-8")
    except UnicodeDecodeError:
        raise Rejected(415, "o arquivo não é um PDF nem um texto UTF-8") from None
