"""Keyword screening and text normalisation against plain Python and pyahocorasick.

    python bench/bench_keywords.py            # full run
    python bench/bench_keywords.py --quick    # fewer repetitions

validar_documento_contrato on a 100-page contract (about 300 KB with accents),
as written (typographic dashes make it a 16-bit string) and with the dashes
made ASCII (an 8-bit string), against:
  * the same rules in plain Python: unicodedata + `in` per keyword;
  * pyahocorasick: an automaton of the normalised keywords built once, run
    over the text normalised by Python (timed with and without that
    normalisation).
normalizar_texto throughput on ASCII-heavy text from 1 KB to 20 MB, and the
memory it takes (peak RSS growth in a fresh interpreter, per input byte).

Ratios are "baseline time / quillon time" from one run in this process.
"""

from __future__ import annotations

import argparse
import json
import subprocess
import sys
import time
import unicodedata

import ahocorasick

from _contract_text import contract_text
from _harness import per_call_ns, report

from quillon.contract.countries.br import keywords
from quillon.contract.countries.br.keywords import normalizar_texto, validar_documento_contrato

VALIDACAO = list(keywords.KEYWORDS_VALIDACAO)
EXCLUSAO = list(keywords.KEYWORDS_EXCLUSAO)
MINIMO = keywords.MIN_KEYWORDS


# --- the same rules in plain Python ----------------------------------------------
def py_normalizar(texto: str) -> str:
    if not texto:
        return ""
    nfd = unicodedata.normalize("NFD", texto)
    return "".join(c for c in nfd if unicodedata.category(c) != "Mn").lower()


def py_validar(texto: str):
    if not texto:
        return False, 0, []
    texto_norm = py_normalizar(texto)
    for termo in EXCLUSAO:
        if py_normalizar(termo) in texto_norm:
            return False, 0, [f"EXCLUSÃO: {termo}"]
    encontradas = [kw for kw in VALIDACAO if py_normalizar(kw) in texto_norm]
    return len(encontradas) >= MINIMO, len(encontradas), encontradas


# --- pyahocorasick, automaton built once ------------------------------------
AUTOMATON = ahocorasick.Automaton()
for _i, _kw in enumerate(EXCLUSAO + VALIDACAO):
    _norm = py_normalizar(_kw)
    AUTOMATON.add_word(_norm, AUTOMATON.get(_norm, ()) + (_i,))
AUTOMATON.make_automaton()


def aho_found(texto_norm: str) -> set:
    found = set()
    for _end, ids in AUTOMATON.iter(texto_norm):
        found.update(ids)
    return found


def aho_verdict(found: set):
    for i, termo in enumerate(EXCLUSAO):
        if i in found:
            return False, 0, [f"EXCLUSÃO: {termo}"]
    encontradas = [kw for j, kw in enumerate(VALIDACAO) if len(EXCLUSAO) + j in found]
    return len(encontradas) >= MINIMO, len(encontradas), encontradas


def aho_validar_normalised(texto_norm: str):
    return aho_verdict(aho_found(texto_norm))


def aho_validar(texto: str):
    return aho_verdict(aho_found(py_normalizar(texto))) if texto else (False, 0, [])


# --- normalizar_texto throughput and memory ------------------------------------------
def ascii_heavy(size: int) -> str:
    base = contract_text(pages=8).replace("–", "-")
    return (base * (size // len(base) + 1))[:size]


MEMORY_PROBE = r"""
import json, sys
sys.path.insert(0, ".")
from bench_keywords import ascii_heavy
from quillon.contract.countries.br.keywords import normalizar_texto, validar_documento_contrato

def status(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])

kind, size, which = sys.argv[1], int(sys.argv[2]), sys.argv[3]
text = ascii_heavy(size) if kind == "ascii" else ascii_heavy(size // 2)[:-1] + "\u2013"
fn = normalizar_texto if which == "normalizar" else validar_documento_contrato
fn(text[:1000])
before = status("VmRSS")
with open("/proc/self/clear_refs", "w") as f:  # resets the peak (VmHWM) to the current RSS
    f.write("5")
out = fn(text)
peak = status("VmHWM")
print(json.dumps({"growth_kib": peak - before, "str_bytes": sys.getsizeof(text)}))
"""


def peak_growth(kind: str, size: int, fn: str) -> dict | None:
    proc = subprocess.run([sys.executable, "-c", MEMORY_PROBE, kind, str(size), fn], capture_output=True,
                          text=True)
    return json.loads(proc.stdout) if proc.returncode == 0 else None


def throughput(fn, text: str, min_seconds: float = 0.2) -> float:
    """MB/s (of input code points, one byte each for ASCII-heavy text), best of several runs."""
    best = float("inf")
    runs = max(3, int(min_seconds * 300e6 / max(len(text), 1)))
    runs = min(runs, 2000)
    for _ in range(runs):
        t0 = time.perf_counter()
        fn(text)
        best = min(best, time.perf_counter() - t0)
    return len(text) / best / 1e6


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--quick", action="store_true")
    args = ap.parse_args()
    repeat = 3 if args.quick else 7

    wide = contract_text(pages=100)
    narrow = wide.replace("–", "-")
    print(f"contract: {len(wide):,} characters, {len(wide.encode('utf-8')):,} bytes of UTF-8, "
          f"{sum(not c.isascii() for c in wide):,} non-ASCII")
    for text in (wide, narrow):
        expected = py_validar(text)
        assert validar_documento_contrato(text) == expected == aho_validar(text)
    print(f"verdict: {py_validar(wide)[:2]}, keywords: {py_validar(wide)[2]}")

    for label, text in (("16-bit string (typographic dashes)", wide), ("8-bit string (Latin-1)", narrow)):
        inputs = [text] * 5
        ours = per_call_ns(validar_documento_contrato, inputs, repeat)
        plain = per_call_ns(py_validar, inputs, repeat)
        aho_full = per_call_ns(aho_validar, inputs, repeat)
        normalised = py_normalizar(text)
        aho_search = per_call_ns(aho_validar_normalised, [normalised] * 5, repeat)
        report(f"validar_documento_contrato, 100-page contract, {label}", [
            ("quillon", ours, None),
            ("plain Python (unicodedata + in)", plain, plain / ours),
            ("pyahocorasick, Python normalisation + search", aho_full, aho_full / ours),
            ("pyahocorasick, search of the normalised text", aho_search, aho_search / ours),
        ])

    short = ["Contrato de prestação de serviços, cláusula primeira", "Nota fiscal nº 123", "", "recibo",
             "O CONTRATANTE pagará o valor acordado conforme a vigência."] * 2000
    ours = per_call_ns(validar_documento_contrato, short, repeat)
    plain = per_call_ns(py_validar, short, repeat)
    report("validar_documento_contrato, short texts", [("quillon", ours, None),
                                                       ("plain Python", plain, plain / ours)])

    print("\nnormalizar_texto on ASCII-heavy text (an 8-bit string)")
    print(f"  {'size':>10} {'quillon MB/s':>13} {'ns/char':>8} {'plain Python MB/s':>18} {'ratio':>7}")
    for size in (1_000, 10_000, 100_000, 1_000_000, 10_000_000, 20_000_000):
        text = ascii_heavy(size)
        assert normalizar_texto(text) == py_normalizar(text)
        ours = throughput(normalizar_texto, text)
        theirs = throughput(py_normalizar, text, 0.05) if size <= 1_000_000 else None
        extra = f"{theirs:18.1f} {ours / theirs:7.1f}" if theirs else f"{'':>18} {'':>7}"
        print(f"  {size:>10,} {ours:13.1f} {1e3 / ours:8.3f} {extra}")
    text = ascii_heavy(1_000_000)[:-1] + "–"
    print(f"  16-bit string, 1 MB: {throughput(normalizar_texto, text):.1f} MB/s "
          f"(plain Python {throughput(py_normalizar, text, 0.05):.1f} MB/s)")

    print("\npeak memory above the input during one call, fresh interpreter, 20 MB text")
    for fn in ("normalizar", "validar"):
        for kind, label in (("ascii", "8-bit"), ("wide", "16-bit")):
            r = peak_growth(kind, 20_000_000, fn)
            if r is None:
                print(f"  {fn:<10} {label}: not measurable here (/proc/self/clear_refs)")
                continue
            factor = r["growth_kib"] * 1024 / r["str_bytes"]
            print(f"  {fn:<10} {label:<6} {r['growth_kib'] / 1024:8.1f} MiB for a {r['str_bytes'] / 2**20:.1f} MiB "
                  f"string = {factor:.2f} x input")


if __name__ == "__main__":
    main()
