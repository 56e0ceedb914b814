"""Reading a contract whose pages are mostly blank, with no OCR service configured.

    python bench/bench_documents.py            # 400 blank pages and one text page, 3 runs
    python bench/bench_documents.py --quick    # 100 blank pages, 1 run

Blank pages have no text layer, so the OCR loader takes each for a scanned
page.  Without Azure credentials nothing can read a rendered picture, and a
blank page gives Tesseract nothing to read either: the engine's reader must
cost about what reading the text layers costs.  Reported, from this one run:

  * read_document, no Azure key: the engine's reader;
  * the loader's Azure route without a key (process_pdf_smart: every thin page
    rendered to PNG for a service that is not there), the cost avoided;
  * a bare PyMuPDF loop (get_text() on every page), the baseline.

Target: read_document within 3x of the bare loop.
"""

from __future__ import annotations

import argparse
import os
import pathlib
import tempfile
import time

import pymupdf

from quillon import ocr
from quillon.engine.documents import read_document


def make_pdf(path: pathlib.Path, blank: int) -> None:
    doc = pymupdf.open()
    doc.new_page().insert_textbox(pymupdf.Rect(50, 50, 545, 792), "CONTRATO DE PRESTAÇÃO DE SERVIÇOS\n" * 20)
    for _ in range(blank):
        doc.new_page()
    doc.save(path)


def bare_loop(path: str) -> list[str]:
    with pymupdf.open(path) as doc:
        return [page.get_text() for page in doc]


def best_seconds(fn, path: str, repeat: int) -> float:
    best = float("inf")
    for _ in range(repeat):
        t0 = time.perf_counter()
        fn(path)
        best = min(best, time.perf_counter() - t0)
    return best


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true")
    args = parser.parse_args()
    blank, repeat = (100, 1) if args.quick else (400, 3)
    os.environ.pop("AZURE_AI_VISION_KEY", None)
    with tempfile.TemporaryDirectory() as folder:
        path = str(pathlib.Path(folder) / "blank.pdf")
        make_pdf(pathlib.Path(path), blank)
        base = best_seconds(bare_loop, path, repeat)
        reader = best_seconds(read_document, path, repeat)
        azure_route = best_seconds(ocr.process_pdf_smart, path, 1)
    print(f"\n{blank} blank pages and one text page, no OCR service configured")
    print(f"  bare PyMuPDF get_text loop                 {base:8.3f} s")
    print(f"  read_document                              {reader:8.3f} s   x{reader / base:6.2f} of the loop")
    print(f"  loader's Azure route without a key         {azure_route:8.3f} s   x{azure_route / base:6.2f} of the loop")
    print(f"  target read_document <= 3x the loop: {'met' if reader <= 3 * base else 'NOT met'}")


if __name__ == "__main__":
    main()
