"""The registry database at national size, on SQLite and on PostgreSQL.

    python bench_registry_national.py FOLDER [--establishments 20000000] [--postgres-url URL] [--queries 2000]

FOLDER holds (or receives) a synthetic release written by
``synthetic_release.py`` with the real layout and value distributions.  For
each database the release is imported by a child process of its own (its peak
RSS is the importer's; PostgreSQL's server memory is not in it), then lookups
of random CNPJs and name searches of random legal names are timed one by one.
Printed per database: import time, lines per second, peak RSS, database size,
lookup and name-search p50 / p99.  PostgreSQL is skipped without a URL
(``--postgres-url``, else QUILLON_TEST_POSTGRES_URL); its database is emptied
first.
"""

from __future__ import annotations

import argparse
import json
import os
import pathlib
import random
import resource
import statistics
import subprocess
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

from synthetic_release import Release  # noqa: E402


def import_child(backend: str, where: str, folder: str) -> None:
    """In its own process: the import alone, then its figures as JSON."""
    from quillon.registry import open_store
    from quillon.registry.importer import import_folder

    store = open_store(backend, where)
    started = time.perf_counter()
    report = import_folder(store, folder, progress=False)
    seconds = time.perf_counter() - started
    store.close()
    print(json.dumps({"seconds": seconds, "rows": report.rows,
                      "peak_mib": resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024,
                      "establishments_seconds": report.seconds_by_kind.get("Estabelecimentos")}))


def percentiles(samples: list[float]) -> tuple[float, float]:
    ordered = sorted(samples)
    return statistics.median(ordered), ordered[min(len(ordered) - 1, int(len(ordered) * 0.99))]


def database_size(backend: str, where: str) -> int:
    if backend == "sqlite":
        return sum(p.stat().st_size for p in pathlib.Path(where).parent.glob(pathlib.Path(where).name + "*"))
    import psycopg

    with psycopg.connect(where) as conn:
        return conn.execute("SELECT pg_database_size(current_database())").fetchone()[0]


def time_queries(backend: str, where: str, count: int) -> dict[str, tuple[float, float]]:
    from quillon.registry import open_store, records

    store = open_store(backend, where)
    try:
        rng = random.Random(7)
        total = store.fetchone("SELECT count(*) FROM estabelecimentos")[0]
        # Random rows by position: an ORDER BY random() would read the whole table.
        cnpjs = [store.fetchone("SELECT cnpj FROM estabelecimentos WHERE cnpj_basico = ? LIMIT 1",
                                (f"{rng.randrange(total * 9 // 10):08d}",)) for _ in range(count)]
        cnpjs = [row[0] for row in cnpjs if row]
        names = [store.fetchone("SELECT razao_social FROM empresas WHERE cnpj_basico = ?",
                                (f"{rng.randrange(total * 9 // 10):08d}",)) for _ in range(count // 4)]
        names = [row[0].lower() for row in names if row]
        lookups, searches = [], []
        for cnpj in cnpjs:
            started = time.perf_counter()
            found = records.lookup(store, cnpj)
            lookups.append((time.perf_counter() - started) * 1000)
            assert found is not None, cnpj
        for name in names:
            started = time.perf_counter()
            records.search(store, name)
            searches.append((time.perf_counter() - started) * 1000)
        return {"lookup": percentiles(lookups), "search": percentiles(searches)}
    finally:
        store.close()


def empty_postgres(url: str) -> None:
    import psycopg

    with psycopg.connect(url, autocommit=True) as conn:
        conn.execute("DROP SCHEMA IF EXISTS public CASCADE")
        conn.execute("CREATE SCHEMA public")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("folder")
    parser.add_argument("--establishments", type=int, default=20_000_000)
    parser.add_argument("--postgres-url", default=os.environ.get("QUILLON_TEST_POSTGRES_URL", ""))
    parser.add_argument("--queries", type=int, default=2000)
    parser.add_argument("--only", choices=["sqlite", "postgresql"])
    parser.add_argument("--child", nargs=3, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        import_child(*args.child)
        return 0
    folder = pathlib.Path(args.folder)
    release = folder / "release"
    if not (release / "Socios9.zip").exists():
        started = time.perf_counter()
        counts = Release(release, args.establishments).write(progress=lambda line: print(line, flush=True))
        print(f"release written in {time.perf_counter() - started:.0f} s: {counts}")
    targets = [("sqlite", str(folder / "registry.sqlite3"))]
    if args.postgres_url:
        targets.append(("postgresql", args.postgres_url))
    else:
        print("PostgreSQL skipped: no --postgres-url and no QUILLON_TEST_POSTGRES_URL")
    for backend, where in targets:
        if args.only and backend != args.only:
            continue
        if backend == "sqlite":
            for old in folder.glob("registry.sqlite3*"):
                old.unlink()
        else:
            empty_postgres(where)
        done = subprocess.run([sys.executable, __file__, args.folder, "--child", backend, where, str(release)],
                              capture_output=True, text=True)
        if done.returncode != 0:
            print(f"{backend}: import failed: {done.stderr.strip().splitlines()[-1:]}")
            continue
        figures = json.loads(done.stdout.strip().splitlines()[-1])
        size = database_size(backend, where)
        queries = time_queries(backend, where, args.queries)
        establishments = figures["establishments_seconds"]
        print(f"{backend}: {figures['rows']:,} lines imported in {figures['seconds']:.0f} s "
              f"({figures['rows'] / figures['seconds']:,.0f} lines/s; establishments "
              f"{args.establishments / establishments:,.0f} lines/s), peak RSS {figures['peak_mib']:,.0f} MiB, "
              f"database {size / 2**30:.1f} GiB")
        print(f"{'':10s}lookup p50 {queries['lookup'][0]:.3f} ms, p99 {queries['lookup'][1]:.3f} ms; "
              f"name search p50 {queries['search'][0]:.3f} ms, p99 {queries['search'][1]:.3f} ms")
    return 0


if __name__ == "__main__":
    sys.exit(main())
