"""Screening and local extraction scored on labeled real documents.

    python eval_documents.py [FOLDER] [--no-cache] [--json OUT]

FOLDER holds a ``labels.json`` (a list of documents: ``file`` relative to the
folder, ``kind`` "contract" / "contract_draft" / "non_contract", and for
contracts ``parties`` (cnpj, role), ``signatories`` (name, company_cnpj),
``witnesses``, ``value`` ("R$ 5.930,00") and ``date`` (ISO)).  Every document
is read as ``quillon verificar`` reads it (text layer, Tesseract for scanned
pages), screened with ``keywords.triar_documento`` and, when labeled a
contract, run through the local extractor.  Printed per document and in total:
screening right or wrong (drafts apart), party CNPJ precision and recall,
signatory precision / recall / F1 (names compared after accent and case
folding), witnesses reported as signatories, value and date exact-match
rates, and the time of screening plus extraction per document.

Page texts are cached by the file's SHA-256 in ``build/eval-cache`` (Tesseract
reads a scanned page in seconds); ``--no-cache`` reads every file again.
"""

from __future__ import annotations

import argparse
import datetime as _dt
import hashlib
import json
import pathlib
import re
import sys
import time
import unicodedata
from dataclasses import dataclass, field
from typing import Any, Optional

ROOT = pathlib.Path(__file__).resolve().parent.parent
DEFAULT_FOLDER = ROOT.parent / "shared" / "fixtures" / "eval"
CACHE = ROOT / "build" / "eval-cache"

_MONTHS = {m: i + 1 for i, m in enumerate(
    "janeiro fevereiro marco abril maio junho julho agosto setembro outubro novembro dezembro".split())}


def fold(text: Optional[str]) -> str:
    """Accents dropped, lower case, runs of white space as one blank."""
    t = unicodedata.normalize("NFD", text or "")
    t = "".join(c for c in t if unicodedata.category(c) != "Mn").lower()
    return " ".join(re.sub(r"[^\w]+", " ", t).split())


def digits(text: Optional[str]) -> str:
    return re.sub(r"\D", "", text or "")


def amount(text: Optional[str]) -> Optional[str]:
    """The first money amount of a text, as digits with two decimals ("5930.00")."""
    m = re.search(r"(\d{1,3}(?:\.?\d{3})*)(?:,(\d{2}))?", (text or "").replace(" ", ""))
    if not m:
        return None
    return f"{int(m.group(1).replace('.', ''))}.{m.group(2) or '00'}"


def iso_date(text: Optional[str]) -> Optional[str]:
    """"05/05/2025", "5 de maio de 2025", "2025-05-05" -> "2025-05-05"."""
    t = fold(text)
    m = re.search(r"(\d{4}) (\d{1,2}) (\d{1,2})", t) if re.match(r"\d{4} ", t) else None
    if m:
        y, mo, d = map(int, m.groups())
    elif m := re.search(r"(\d{1,2}) (\d{1,2}) (\d{4})", t):
        d, mo, y = map(int, m.groups())
    elif m := re.search(r"(\d{1,2}) o? ?de (\w+) de (\d{4})", t):
        d, y = int(m.group(1)), int(m.group(3))
        mo = _MONTHS.get(m.group(2), 0)
    else:
        return None
    try:
        return _dt.date(y, mo, d).isoformat()
    except ValueError:
        return None


# -- reading -------------------------------------------------------------------
#: The way scanned pages are read, part of the cache key.
READING = "tesseract-processes"


def read_pages(path: pathlib.Path, use_cache: bool) -> tuple[list[str], float]:
    """The page texts of a PDF as the command reads them, and the seconds it took."""
    from quillon.engine.documents import TESSERACT_DPI

    sha = hashlib.sha256(path.read_bytes()).hexdigest()
    # A reading made another way (another OCR route or resolution) is another entry.
    cached = CACHE / f"{sha}-{READING}-{TESSERACT_DPI}.json"
    if use_cache and cached.exists():
        data = json.loads(cached.read_text(encoding="utf-8"))
        return data["pages"], data["seconds"]
    from quillon.engine.documents import read_document

    started = time.perf_counter()
    pages = read_document(str(path)).page_texts()
    seconds = time.perf_counter() - started
    CACHE.mkdir(parents=True, exist_ok=True)
    cached.write_text(json.dumps({"pages": pages, "seconds": seconds}, ensure_ascii=False), encoding="utf-8")
    return pages, seconds


# -- scoring -------------------------------------------------------------------
@dataclass
class Counts:
    tp: int = 0
    fp: int = 0
    fn: int = 0

    def add(self, got: set, want: set) -> None:
        self.tp += len(got & want)
        self.fp += len(got - want)
        self.fn += len(want - got)

    @property
    def precision(self) -> float:
        return self.tp / (self.tp + self.fp) if self.tp + self.fp else 1.0

    @property
    def recall(self) -> float:
        return self.tp / (self.tp + self.fn) if self.tp + self.fn else 1.0

    @property
    def f1(self) -> float:
        p, r = self.precision, self.recall
        return 2 * p * r / (p + r) if p + r else 0.0


@dataclass
class Row:
    name: str
    kind: str
    screened_contract: bool
    reason: str
    seconds: float
    read_seconds: float
    screen_right: Optional[bool] = None
    parties: Counts = field(default_factory=Counts)
    signers: Counts = field(default_factory=Counts)
    witnesses_as_signers: int = 0
    value_ok: Optional[bool] = None
    date_ok: Optional[bool] = None
    notes: list[str] = field(default_factory=list)


def score(label: dict[str, Any], pages: list[str], read_seconds: float) -> Row:
    from quillon.engine.core import screen_pages
    from quillon.engine.extractor import extract

    started = time.perf_counter()
    verdict = screen_pages(pages)
    texto = "\n\n".join(p for p in pages if p)
    answer = extract(texto) if label["kind"] == "contract" else None
    seconds = time.perf_counter() - started

    kind = label["kind"]
    row = Row(name=pathlib.Path(label["file"]).name, kind=kind, screened_contract=bool(verdict["eh_contrato"]),
              reason=str(verdict.get("motivo")), seconds=seconds, read_seconds=read_seconds)
    if kind != "contract_draft":
        row.screen_right = row.screened_contract == (kind == "contract")
    if answer is None:
        return row

    got_cnpjs = {digits(e.get("cnpj")) for e in answer["empresas"]["empresas"] if digits(e.get("cnpj"))}
    want_cnpjs = {digits(p["cnpj"]) for p in label.get("parties") or [] if p.get("cnpj")}
    row.parties.add(got_cnpjs, want_cnpjs)
    if got_cnpjs - want_cnpjs:
        row.notes.append(f"extra CNPJ {sorted(got_cnpjs - want_cnpjs)}")
    if want_cnpjs - got_cnpjs:
        row.notes.append(f"missed CNPJ {sorted(want_cnpjs - got_cnpjs)}")

    people = answer["assinaturas"]["assinaturas"]
    got_signers = {fold(p["nome_signatario"]) for p in people if p.get("tipo_assinatura") != "testemunha"}
    got_signers.discard("")
    want_signers = {fold(s["name"]) for s in label.get("signatories") or []}
    witnesses = {fold(w) for w in label.get("witnesses") or []}
    row.signers.add(got_signers, want_signers)
    row.witnesses_as_signers = len(got_signers & witnesses)
    for extra in sorted(got_signers - want_signers):
        row.notes.append(f"extra signer {extra!r}" + (" (witness)" if extra in witnesses else ""))
    for missed in sorted(want_signers - got_signers):
        row.notes.append(f"missed signer {missed!r}")

    data = answer["dados_contrato"]
    if label.get("value"):
        row.value_ok = amount(data.get("valor")) == amount(label["value"])
        if not row.value_ok:
            row.notes.append(f"value {data.get('valor')!r}, want {label['value']!r}")
    if label.get("date"):
        row.date_ok = iso_date(data.get("data")) == label["date"]
        if not row.date_ok:
            row.notes.append(f"date {data.get('data')!r}, want {label['date']!r}")
    return row


# -- report --------------------------------------------------------------------
def _pct(n: int, d: int) -> str:
    return f"{n}/{d} ({100 * n / d:.0f}%)" if d else "-"


def report(rows: list[Row], out=sys.stdout) -> dict[str, Any]:
    def mark(v: Optional[bool]) -> str:
        return "-" if v is None else ("ok" if v else "WRONG")

    print(f"{'document':58} {'kind':13} {'screen':16} {'CNPJ p/r':9} {'sign p/r':9} {'wit':3} {'value':5} "
          f"{'date':5} {'ms':>6}", file=out)
    for r in rows:
        screen = ("contract" if r.screened_contract else "not") + ("" if r.screen_right is None else
                                                                   f" {mark(r.screen_right)}")
        contract = r.kind == "contract"
        cn = f"{r.parties.tp}/{r.parties.tp + r.parties.fp}/{r.parties.tp + r.parties.fn}" if contract else ""
        sg = f"{r.signers.tp}/{r.signers.tp + r.signers.fp}/{r.signers.tp + r.signers.fn}" if contract else ""
        print(f"{r.name[:58]:58} {r.kind:13} {screen:16} {cn:9} {sg:9} {r.witnesses_as_signers if contract else '':3} "
              f"{mark(r.value_ok) if contract else '':5} {mark(r.date_ok) if contract else '':5} "
              f"{1000 * r.seconds:6.1f}", file=out)
        for note in r.notes:
            print(f"    {note}", file=out)

    judged = [r for r in rows if r.screen_right is not None]
    drafts = [r for r in rows if r.kind == "contract_draft"]
    contracts = [r for r in rows if r.kind == "contract"]
    parties, signers = Counts(), Counts()
    for r in contracts:
        for total, part in ((parties, r.parties), (signers, r.signers)):
            total.tp, total.fp, total.fn = total.tp + part.tp, total.fp + part.fp, total.fn + part.fn
    values = [r.value_ok for r in contracts if r.value_ok is not None]
    dates = [r.date_ok for r in contracts if r.date_ok is not None]
    summary = {
        "documents": len(rows),
        "screening_right": sum(bool(r.screen_right) for r in judged),
        "screening_judged": len(judged),
        "contracts_right": sum(bool(r.screen_right) for r in judged if r.kind == "contract"),
        "contracts": sum(1 for r in judged if r.kind == "contract"),
        "non_contracts_right": sum(bool(r.screen_right) for r in judged if r.kind != "contract"),
        "non_contracts": sum(1 for r in judged if r.kind != "contract"),
        "drafts_screened_contract": sum(r.screened_contract for r in drafts),
        "drafts": len(drafts),
        "party_precision": parties.precision, "party_recall": parties.recall,
        "signer_precision": signers.precision, "signer_recall": signers.recall, "signer_f1": signers.f1,
        "witnesses_as_signers": sum(r.witnesses_as_signers for r in contracts),
        "value_exact": sum(values), "values": len(values),
        "date_exact": sum(dates), "dates": len(dates),
        "ms_per_document": 1000 * sum(r.seconds for r in rows) / max(1, len(rows)),
        "ms_max": 1000 * max((r.seconds for r in rows), default=0.0),
    }
    s = summary
    print("", file=out)
    print(f"screening right (drafts apart): {_pct(s['screening_right'], s['screening_judged'])}"
          f"  — contracts {_pct(s['contracts_right'], s['contracts'])},"
          f" non-contracts {_pct(s['non_contracts_right'], s['non_contracts'])};"
          f" drafts screened as contract: {s['drafts_screened_contract']}/{s['drafts']}", file=out)
    print(f"party CNPJs: precision {100 * s['party_precision']:.0f}%, recall {100 * s['party_recall']:.0f}%", file=out)
    print(f"signatories: precision {100 * s['signer_precision']:.0f}%, recall {100 * s['signer_recall']:.0f}%,"
          f" F1 {s['signer_f1']:.2f}; witnesses reported as signatories: {s['witnesses_as_signers']}", file=out)
    print(f"value exact: {_pct(s['value_exact'], s['values'])}; signature date exact: {_pct(s['date_exact'], s['dates'])}",
          file=out)
    print(f"screening + extraction: {s['ms_per_document']:.1f} ms per document on average, {s['ms_max']:.1f} ms at most"
          " (reading the PDF apart)", file=out)
    return summary


def main(argv: Optional[list[str]] = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("folder", nargs="?", default=str(DEFAULT_FOLDER), help="folder with labels.json")
    parser.add_argument("--no-cache", action="store_true", help="read every PDF again (Tesseract included)")
    parser.add_argument("--json", metavar="OUT", help="also write the rows and totals as JSON")
    args = parser.parse_args(argv)

    folder = pathlib.Path(args.folder)
    labels_file = folder / "labels.json"
    if not labels_file.is_file():
        print(f"eval_documents: no labels.json in {folder}", file=sys.stderr)
        return 2
    labels = json.loads(labels_file.read_text(encoding="utf-8"))
    rows = []
    for i, label in enumerate(labels, 1):
        path = (folder / label["file"]).resolve()
        print(f"[{i}/{len(labels)}] {path.name}", file=sys.stderr, flush=True)
        pages, read_seconds = read_pages(path, use_cache=not args.no_cache)
        rows.append(score(label, pages, read_seconds))
    summary = report(rows)
    if args.json:
        pathlib.Path(args.json).write_text(json.dumps({
            "summary": summary,
            "rows": [{**r.__dict__, "parties": r.parties.__dict__, "signers": r.signers.__dict__} for r in rows],
        }, ensure_ascii=False, indent=1), encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main())
