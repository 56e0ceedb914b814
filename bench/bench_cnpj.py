"""CNPJ cleaning, validation and formatting against plain Python and peers.

    python bench/bench_cnpj.py            # 1,000,000 inputs, 10 M calls for RSS
    python bench/bench_cnpj.py --quick    # a tenth of that

Ratios are "baseline time / quillon time" from one run in this process.
"""

from __future__ import annotations

import argparse
import random
import re
import resource
import subprocess
import sys

from _harness import per_call_ns, report

from quillon.contract.countries.br.cnpj import formatar_cnpj, limpar_cnpj, validar_cnpj

# --- the same algorithm in plain Python -------------------------------------
_P1 = [5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2]
_P2 = [6, 5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2]
_NON_DIGIT = re.compile(r"\D")


def py_limpar(cnpj):
    if not cnpj:
        return ""
    return _NON_DIGIT.sub("", cnpj)


def py_digito(base, pesos):
    resto = sum(int(d) * p for d, p in zip(base, pesos)) % 11
    return "0" if resto < 2 else str(11 - resto)


def py_validar(cnpj):
    c = py_limpar(cnpj)
    if len(c) != 14 or c == c[0] * 14:
        return False
    return c[12:] == py_digito(c[:12], _P1) + py_digito(c[:13], _P2)


def py_formatar(cnpj):
    c = py_limpar(cnpj)
    if len(c) == 14:
        return f"{c[:2]}.{c[2:5]}.{c[5:8]}/{c[8:12]}-{c[12:]}"
    return cnpj or ""


# --- inputs ------------------------------------------------------------------
def make_inputs(n: int, seed: int = 7) -> list:
    rng = random.Random(seed)
    out: list = []
    while len(out) < n:
        base = "".join(rng.choice("0123456789") for _ in range(12))
        d1 = py_digito(base, _P1)
        full = base + d1 + py_digito(base + d1, _P2)
        wrong = full[:13] + str((int(full[13]) + 1) % 10)
        out += [py_formatar(full), full, py_formatar(wrong), full[:6], None]
    return out[:n]


def import_time_ms() -> float:
    """Cumulative import time of the cnpj module in a fresh interpreter."""
    proc = subprocess.run(
        [sys.executable, "-X", "importtime", "-c", "import quillon.contract.countries.br.cnpj"],
        capture_output=True, text=True, check=True)
    for line in proc.stderr.splitlines():
        if line.rstrip().endswith("quillon.contract.countries.br.cnpj"):
            return int(line.split("|")[1]) / 1000
    raise RuntimeError("import time line not found")


def rss_growth_kib(calls: int, inputs: list) -> int:
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    rounds = max(1, calls // (3 * len(inputs)))
    for _ in range(rounds):
        for x in inputs:
            validar_cnpj(x)
            limpar_cnpj(x)
            formatar_cnpj(x)
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--quick", action="store_true")
    args = ap.parse_args()
    n = 100_000 if args.quick else 1_000_000
    inputs = make_inputs(n)
    peer_inputs = [x if x is not None else "" for x in inputs]  # peers take str only

    for fn, py in ((validar_cnpj, py_validar), (limpar_cnpj, py_limpar), (formatar_cnpj, py_formatar)):
        assert [fn(x) for x in inputs[:5000]] == [py(x) for x in inputs[:5000]], fn.__name__

    rows = []
    for name, fn, py in (("validar_cnpj", validar_cnpj, py_validar),
                         ("limpar_cnpj", limpar_cnpj, py_limpar),
                         ("formatar_cnpj", formatar_cnpj, py_formatar)):
        ours = per_call_ns(fn, inputs)
        base = per_call_ns(py, inputs)
        rows.append((f"{name} (quillon)", ours, None))
        rows.append((f"{name} (plain Python)", base, base / ours))
    report(f"{n:,} mixed inputs: valid formatted, valid clean, wrong digits, short, None", rows)

    ours = per_call_ns(validar_cnpj, peer_inputs)
    peers = [("validar_cnpj (quillon, None as '')", ours, None)]
    try:
        from stdnum.br import cnpj as stdnum_cnpj
        peers.append(("stdnum.br.cnpj.is_valid", per_call_ns(stdnum_cnpj.is_valid, peer_inputs), None))
    except ImportError:
        print("python-stdnum not installed: skipped")
    try:
        from validate_docbr import CNPJ
        peers.append(("validate_docbr CNPJ().validate", per_call_ns(CNPJ().validate, peer_inputs), None))
    except ImportError:
        print("validate-docbr not installed: skipped")
    report("Peers, same inputs", [(name, ns, (ns / ours) if i else None) for i, (name, ns, _) in enumerate(peers)])

    print(f"\nimport time of the cnpj module (cumulative, fresh interpreter): {import_time_ms():.1f} ms")
    calls = 1_000_000 if args.quick else 10_000_000
    print(f"max RSS growth over {calls:,} calls: {rss_growth_kib(calls, inputs[:100_000])} KiB")


if __name__ == "__main__":
    main()
