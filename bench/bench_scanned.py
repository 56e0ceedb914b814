"""Scanned contracts: reading on every core, screening that stops when it knows,
and the resolution pages are read at.

    python bench_scanned.py [EVAL_FOLDER] [--dpi 200 250 300] [--skip-dpi]

1. Reading and verifying the 8-page scanned contract (tests/fixtures): the
   baseline is the reading as it was, PyMuPDF's OCR one page after another in
   this process; then ``read_document`` with one Tesseract process, and with
   one per core.  Verification is ``quillon verificar``'s own (``batch.verify``,
   local provider, the sample registry) with each reader.
2. ``quillon triagem`` on it: the baseline reads every page then screens; the
   command reads until the screen is settled.
3. Resolution: every scanned document of EVAL_FOLDER's labels (and the scanned
   contract) read at each resolution: seconds per page, character error rate
   against the 300 dpi reading, and, on the labeled contracts, the party CNPJs
   and signatories the local extractor finds (the chosen resolution must lose
   none).
"""

from __future__ import annotations

import argparse
import json
import os
import pathlib
import sys
import tempfile
import time
from contextlib import contextmanager
from typing import Any, Iterator

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

from eval_documents import DEFAULT_FOLDER, score  # noqa: E402
from quillon.engine.documents import read_document as READ_DOCUMENT  # noqa: E402

SCANNED = HERE.parent / "tests" / "fixtures" / "documents" / "contracts" / "contrato_bastos_cgk_077-2025_scanned.pdf"


def baseline_read(path: str):
    """The reading as it was: the text layers, then PyMuPDF's OCR at 300 dpi, one page after another."""
    import pymupdf

    from quillon.engine import documents

    doc = READ_DOCUMENT(path, use_tesseract=False)
    with pymupdf.open(path) as opened:
        for page in doc.pages:
            scanned = opened.load_page(page.number - 1)
            if page.source == "ocr_failed" and scanned.get_images():
                ocr = scanned.get_textpage_ocr(language="por", dpi=300, full=True, tessdata=documents._tessdata())
                page.text, page.source = scanned.get_text(textpage=ocr).strip(), "tesseract"
    doc.unreadable, doc.reasons = [], {}
    return doc


@contextmanager
def reader(read, seconds: list[float]) -> Iterator[None]:
    """``batch.verify`` reading documents with ``read``; the time spent reading added to ``seconds``."""
    from quillon.engine import documents

    def timed_read(path, **_):
        started = time.perf_counter()
        try:
            return read(path)
        finally:
            seconds.append(time.perf_counter() - started)

    documents.read_document = timed_read
    try:
        yield
    finally:
        documents.read_document = READ_DOCUMENT


def timed(fn, *args, **kwargs) -> tuple[Any, float]:
    started = time.perf_counter()
    out = fn(*args, **kwargs)
    return out, time.perf_counter() - started


def reading_and_verification(registry_db: str) -> None:
    from quillon import batch
    from quillon.contract.countries.br.keywords import triar_documento
    from quillon.engine.tesseract_pages import default_workers

    read_document = READ_DOCUMENT

    path, cores = str(SCANNED), default_workers()
    os.environ.update(QUILLON_REGISTRY_DB=registry_db, QUILLON_OFFLINE="1")
    batch.init_worker(batch.Options(provider="local", human=False))
    readers = [("baseline: PyMuPDF OCR, page after page", baseline_read),
               ("1 Tesseract process", lambda p: read_document(p, workers=1)),
               (f"{cores} Tesseract processes", lambda p: read_document(p, workers=cores))]
    print(f"== {SCANNED.name}: {cores} cores")
    base_read = base_verify = None
    for label, read in readers:
        spent: list[float] = []
        with reader(read, spent):
            outcome, verify_s = timed(batch.verify, path)
        read_s = sum(spent)
        base_read, base_verify = base_read or read_s, base_verify or verify_s
        verdict = outcome.record["resultado_final"] if outcome.record else outcome.error
        print(f"{label:40s} read {read_s:6.1f} s ({base_read / read_s:4.2f}x)   "
              f"verify {verify_s:6.1f} s ({base_verify / verify_s:4.2f}x)   {verdict}")

    _, full_s = timed(lambda: triar_documento(baseline_read(path).page_texts()))
    doc, settled_s = timed(read_document, path, enough=lambda texts: triar_documento(texts)["definitivo"])
    verdict = triar_documento(doc.page_texts())
    print(f"triagem: every page {full_s:.1f} s; until settled {settled_s:.1f} s ({full_s / settled_s:.1f}x), "
          f"{len(doc.pages)} of {doc.page_count} pages read, eh_contrato={verdict['eh_contrato']}")


def resolutions(folder: pathlib.Path, dpis: list[int]) -> None:
    from rapidfuzz.distance import Levenshtein

    from quillon.engine import documents

    labels = [dict(label, path=(folder / label["file"]).resolve())
              for label in json.loads((folder / "labels.json").read_text(encoding="utf-8"))
              if not label.get("text_layer", True)]
    if not any(label["path"].name == SCANNED.name for label in labels):
        labels.append({"file": SCANNED.name, "kind": "contract", "path": SCANNED})
    print(f"\n== resolution: {len(labels)} scanned documents, character error rate against 300 dpi")
    print(f"{'document':58s} " + " ".join(f"{d:>4d}dpi s/page  CER  " for d in dpis))
    chosen = documents.TESSERACT_DPI
    readings: dict[int, dict[str, list[str]]] = {d: {} for d in dpis}
    per_page = {d: [] for d in dpis}
    errors = {d: [0, 0] for d in dpis}
    for label in labels:
        cells = []
        for dpi in dpis:
            documents.TESSERACT_DPI = dpi
            doc, seconds = timed(documents.read_document, str(label["path"]))
            pages = doc.page_texts()
            readings[dpi][label["file"]] = pages
            per_page[dpi].append(seconds / max(1, doc.page_count))
            cells.append((seconds / max(1, doc.page_count), pages))
        reference = "\n".join(readings[300][label["file"]]) if 300 in readings else None
        shown = []
        for dpi, (seconds, pages) in zip(dpis, cells):
            text = "\n".join(pages)
            distance = Levenshtein.distance(text, reference) if reference is not None else 0
            errors[dpi][0] += distance
            errors[dpi][1] += len(reference or "")
            shown.append(f"{seconds:9.2f} {distance / max(1, len(reference or '')):5.1%}")
        print(f"{pathlib.Path(label['file']).name[:58]:58s} " + "  ".join(shown))
    documents.TESSERACT_DPI = chosen
    print(f"{'all':58s} " + "  ".join(
        f"{sum(per_page[d]) / len(per_page[d]):9.2f} {errors[d][0] / max(1, errors[d][1]):5.1%}" for d in dpis))

    print("\nlabeled scanned contracts: party CNPJs and signatories found at each resolution")
    for label in labels:
        if label["kind"] != "contract" or "parties" not in label:
            continue
        for dpi in dpis:
            row = score(label, readings[dpi][label["file"]], 0.0)
            print(f"  {pathlib.Path(label['file']).name[:50]:50s} {dpi} dpi: CNPJs {row.parties.tp}/"
                  f"{row.parties.tp + row.parties.fn} (extra {row.parties.fp}), signatories {row.signers.tp}/"
                  f"{row.signers.tp + row.signers.fn} (extra {row.signers.fp})")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("folder", nargs="?", default=str(DEFAULT_FOLDER))
    parser.add_argument("--dpi", type=int, nargs="+", default=[200, 250, 300])
    parser.add_argument("--skip-dpi", action="store_true", help="only the reading and screening times")
    args = parser.parse_args()
    from quillon.engine.documents import tesseract_available

    if not tesseract_available():
        print("bench_scanned: Tesseract with Portuguese data is not installed", file=sys.stderr)
        return 2
    with tempfile.TemporaryDirectory() as tmp:
        from quillon.registry import open_store
        from quillon.registry.sample import build_sample

        db = os.path.join(tmp, "registry.sqlite3")
        store = open_store("sqlite", db)
        build_sample(store, progress=False, err=open(os.devnull, "w"))
        store.close()
        reading_and_verification(db)
    if not args.skip_dpi:
        resolutions(pathlib.Path(args.folder), sorted(set(args.dpi) | {300}))
    return 0


if __name__ == "__main__":
    sys.exit(main())
