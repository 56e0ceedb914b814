"""Registry database: import speed and memory, lookup and name-search times.

    python bench_registry_db.py [--sizes 1000000,5000000] [--lookups 20000] [--keep DIR]

For each size N it writes N establishment lines (and N companies, N/2
partners, the code tables) in the published layout, zipped, imports them into
a fresh SQLite file in a child process (its peak RSS is the import's), then
times `records.lookup` on random CNPJs and `records.search` on random names.
The baseline of the import is the same files read by Python's csv module and
inserted by executemany, in the same run, on the first 200,000 lines.

Targets: >= 100,000 establishment lines/s, flat memory, lookup < 0.5 ms,
name search < 20 ms.  `--sizes 100000` gives a quick run.
"""

from __future__ import annotations

import argparse
import csv
import io
import os
import pathlib
import random
import resource
import sqlite3
import subprocess
import sys
import tempfile
import time
import zipfile

WORDS = ("COMERCIO", "SERVICOS", "TRANSPORTES", "CONSTRUTORA", "PADARIA", "INDUSTRIA", "DISTRIBUIDORA", "MERCADO",
         "SÃO", "JOÃO", "PAULO", "SANTA", "MARIA", "NORDESTE", "BRASIL", "TECNOLOGIA", "ALIMENTOS", "AGRÍCOLA")


def company_name(n: int) -> str:
    """The legal name of company n: three words drawn by n, then n."""
    rng = random.Random(n)
    return " ".join(rng.choice(WORDS) for _ in range(3)) + f" {n} LTDA"


def quoted(fields) -> str:
    return ";".join('"' + f.replace('"', '""') + '"' for f in fields) + "\n"


def write_release(folder: pathlib.Path, n: int, seed: int = 1) -> None:
    rng = random.Random(seed)
    folder.mkdir(parents=True, exist_ok=True)

    def zipped(name: str, member: str, lines):
        with zipfile.ZipFile(folder / name, "w", zipfile.ZIP_DEFLATED, compresslevel=1) as archive:
            with archive.open(member, "w", force_zip64=True) as out:
                buffer = io.StringIO()
                for i, text in enumerate(lines):
                    buffer.write(text)
                    if i % 20000 == 19999:
                        out.write(buffer.getvalue().encode("latin-1"))
                        buffer = io.StringIO()
                out.write(buffer.getvalue().encode("latin-1"))

    zipped("Municipios.zip", "F.MUNICCSV", (quoted([str(c), f"MUNICIPIO {c}"]) for c in range(1, 6000)))
    zipped("Naturezas.zip", "F.NATJUCSV", (quoted([str(c), f"Natureza {c}"]) for c in range(1000, 4000, 7)))
    zipped("Qualificacoes.zip", "F.QUALSCSV", (quoted([f"{c:02d}", f"Qualificação {c}"]) for c in range(80)))
    zipped("Motivos.zip", "F.MOTICSV", (quoted([f"{c:02d}", f"MOTIVO {c}"]) for c in range(80)))
    zipped("Empresas0.zip", "K.EMPRECSV", (quoted([f"{i:08d}", company_name(i), "2062", "49",
                                                   f"{rng.randrange(10**7)},00", "05", ""]) for i in range(n)))
    zipped("Estabelecimentos0.zip", "K.ESTABELE", (quoted([
        f"{i:08d}", "0001", f"{i % 100:02d}", "1", f"FANTASIA {i}" if i % 3 else "", "02" if i % 4 else "08",
        "20200102", "00", "", "", "20000101", "6201501", "4751201,6201501", "RUA", f"DAS FLORES {i % 997}",
        str(i % 5000), "SALA 1" if i % 2 else "", "CENTRO", f"{i % 10**8:08d}", "SP", str(1 + i % 5999), "11",
        "30000000", "", "", "", "", f"contato{i}@exemplo.com.br" if i % 5 == 0 else "", "", ""])
        for i in range(n)))
    zipped("Socios0.zip", "K.SOCIOCSV", (quoted([f"{(i * 2) % n:08d}", "2", f"SOCIO {i}", "***123456**", "49",
                                                 "20200102", "", "***000000**", "", "00", "4"])
                                         for i in range(n // 2)))


def import_child(folder: str, db: str) -> None:
    """Runs in its own process: the import alone, then its time and peak RSS."""
    from quillon.registry import open_store
    from quillon.registry.importer import import_folder

    store = open_store("sqlite", db)
    report = import_folder(store, folder, progress=False)
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
    print(f"{report.seconds} {report.rows} {peak} {report.seconds_by_kind['Estabelecimentos']}")


def baseline(folder: pathlib.Path, limit: int) -> float:
    """Lines/s of the establishments read with csv and inserted with executemany (same columns)."""
    with tempfile.TemporaryDirectory() as tmp:
        conn = sqlite3.connect(os.path.join(tmp, "b.db"), isolation_level=None)
        conn.execute("PRAGMA journal_mode=WAL")
        conn.execute("PRAGMA synchronous=NORMAL")
        conn.execute("CREATE TABLE e (cnpj, basico, fantasia, situacao, data, logradouro, numero, complemento, "
                     "bairro, cep, uf, municipio, email)")
        t0 = time.perf_counter()
        with zipfile.ZipFile(folder / "Estabelecimentos0.zip") as archive, archive.open("K.ESTABELE") as raw:
            rows = []
            conn.execute("BEGIN")
            for i, r in enumerate(csv.reader(io.TextIOWrapper(raw, "latin-1", newline=""), delimiter=";")):
                if i == limit:
                    break
                rows.append((r[0] + r[1] + r[2], r[0], r[4], int(r[5]), r[6], r[14], r[15], r[16], r[17], r[18],
                             r[19], int(r[20]), r[27]))
                if len(rows) == 10000:
                    conn.executemany("INSERT INTO e VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?)", rows)
                    rows = []
            conn.executemany("INSERT INTO e VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?)", rows)
            conn.execute("COMMIT")
        seconds = time.perf_counter() - t0
        conn.close()
    return min(limit, i) / seconds


def time_queries(db: str, n: int, count: int) -> tuple[float, float]:
    from quillon.registry import open_store, records

    store = open_store("sqlite", db)
    rng = random.Random(5)
    cnpjs = [f"{i:08d}0001{i % 100:02d}" for i in (rng.randrange(n) for _ in range(count))]
    t0 = time.perf_counter()
    for cnpj in cnpjs:
        assert records.lookup(store, cnpj) is not None
    lookup_ms = (time.perf_counter() - t0) * 1000 / count
    picks = [company_name(rng.randrange(n)).lower() for _ in range(min(count, 1000))]
    t0 = time.perf_counter()
    for name in picks:
        assert records.search(store, name) is not None
    # Single words: prefixes that match a great many names.
    for word in WORDS:
        records.search(store, word.lower())
    search_ms = (time.perf_counter() - t0) * 1000 / (len(picks) + len(WORDS))
    store.close()
    return lookup_ms, search_ms


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--sizes", default="1000000,5000000", help="establishment lines per run, comma-separated")
    parser.add_argument("--lookups", type=int, default=20000)
    parser.add_argument("--keep", help="folder for the generated files and databases (kept)")
    parser.add_argument("--child", nargs=2, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        import_child(*args.child)
        return 0
    base = pathlib.Path(args.keep or tempfile.mkdtemp(prefix="bench-registry-"))
    print("Registry database (SQLite), one core")
    for n in (int(s) for s in args.sizes.split(",")):
        folder, db = base / f"release-{n}", base / f"registry-{n}.sqlite3"
        if not (folder / "Socios0.zip").exists():
            t0 = time.perf_counter()
            write_release(folder, n)
            print(f"  {n:>9,} lines: files written in {time.perf_counter() - t0:.0f} s")
        for path in base.glob(f"registry-{n}.sqlite3*"):
            path.unlink()
        done = subprocess.run([sys.executable, __file__, "--child", str(folder), str(db)], capture_output=True,
                              text=True, check=True)
        seconds, rows, peak, establishments = (float(x) for x in done.stdout.split())
        establishments_rate = n / establishments
        print(f"  {n:>9,} establishments (+{n:,} companies, {n // 2:,} partners): import {seconds:.1f} s, "
              f"establishments file {establishments_rate:,.0f} lines/s, {rows / seconds:,.0f} lines/s in all "
              f"(indexes and swap included), "
              f"peak RSS {peak:,.0f} MiB")
        rate = baseline(folder, min(n, 200_000))
        print(f"  {'':>9}  baseline (csv module + executemany, establishments only, no indexes): {rate:,.0f} lines/s")
        lookup_ms, search_ms = time_queries(str(db), n, args.lookups)
        print(f"  {'':>9}  lookup_company from SQLite: {lookup_ms:.3f} ms/call; name search: {search_ms:.3f} ms/call")
    return 0


if __name__ == "__main__":
    sys.exit(main())
