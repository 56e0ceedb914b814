"""Verify every sample contract offline and check each gets the verdict it was written to get.

    python examples/demo.py --registry-db build/demo/registry.sqlite3

Prints each report as ``quillon verificar`` prints it, then a summary; exits
1 when a verdict differs from expected.json.
"""

from __future__ import annotations

import argparse
import json
import pathlib
import subprocess
import sys

HERE = pathlib.Path(__file__).resolve().parent
VERDICT_BY_STATUS = {0: "APROVADO", 1: "REPROVADO", 2: "PENDENTE"}


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--registry-db", required=True)
    args = parser.parse_args()
    expected = json.loads((HERE / "expected.json").read_text(encoding="utf-8"))
    from quillon.engine.documents import tesseract_available

    ocr = tesseract_available()
    rows, failures = [], 0
    for name, spec in expected.items():
        cmd = [sys.executable, "-m", "quillon", "verificar", str(HERE / name), "--provider", "local",
               "--offline", "--registry-db", args.registry_db]
        done = subprocess.run(cmd)
        got = VERDICT_BY_STATUS.get(done.returncode, f"erro ({done.returncode})")
        want = spec["resultado_final"] if (ocr or not spec["escaneado"]) else spec["resultado_sem_ocr"]
        ok = got == want
        failures += not ok
        rows.append((name, want, got, "ok" if ok else "DIFERENTE"))
    print("\nResumo (provedor local, cadastro local, sem rede" + ("" if ocr else "; Tesseract ausente") + "):")
    width = max(len(r[0]) for r in rows)
    for name, want, got, mark in rows:
        print(f"  {name:<{width}}  esperado {want:<9}  obtido {got:<9}  {mark}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
