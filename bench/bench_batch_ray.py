"""Batch throughput: the local process pool against Ray on this machine.

    python bench_batch_ray.py [--contracts 200] [--workers N]

Text contracts copied under distinct names, round robin: the sample contracts
of examples/ and the real text contracts kept beside the tests (a 23-page
state contract among them), verified with the local extractor and the sample
registry (offline) by ``batch.verificar_lote`` with ``LocalPool(jobs=N)`` and
with ``RayCluster`` on a Ray instance of N CPUs started here.  Prints contracts
per second of each and their ratio; the two batches are checked against each
other: every contract once, with the same verdict.
"""

from __future__ import annotations

import argparse
import json
import os
import pathlib
import shutil
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
EXAMPLES = ROOT / "examples"


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--contracts", type=int, default=200)
    parser.add_argument("--workers", type=int, default=len(os.sched_getaffinity(0)))
    args = parser.parse_args()
    try:
        import ray
    except ImportError:
        print('bench_batch_ray: Ray is not installed (pip install "quillon[ray]")', file=sys.stderr)
        return 2
    from quillon import batch
    from quillon.executors import LocalPool, RayCluster
    from quillon.registry import open_store
    from quillon.registry.sample import build_sample

    truth = json.loads((EXAMPLES / "expected.json").read_text(encoding="utf-8"))
    texts = [EXAMPLES / name for name, s in truth.items() if not s["escaneado"]]
    texts += sorted((ROOT / "tests" / "fixtures" / "documents" / "contracts").glob("*_text.pdf"))
    with tempfile.TemporaryDirectory() as tmp:
        folder = pathlib.Path(tmp) / "lote"
        folder.mkdir()
        files = []
        for k in range(args.contracts):
            source = texts[k % len(texts)]
            files.append(str(folder / f"{k:04d}_{source.name}"))
            shutil.copy(source, files[-1])
        db = os.path.join(tmp, "registry.sqlite3")
        store = open_store("sqlite", db)
        build_sample(store, progress=False, err=open(os.devnull, "w"))
        store.close()
        options = batch.Options(provider="local", human=False,
                                environ={"QUILLON_REGISTRY_DB": db, "QUILLON_OFFLINE": "1"})
        ray.init(num_cpus=args.workers, include_dashboard=False, log_to_driver=False)
        rates, verdicts = {}, {}
        try:
            for label, executor in (("local pool", LocalPool(jobs=args.workers)), ("Ray", RayCluster())):
                list(batch.verificar_lote(files[: len(texts) * args.workers], executor, options))  # warm up
                started = time.perf_counter()
                got = {o.path: (o.record or {}).get("resultado_final", o.error)
                       for o in batch.verificar_lote([str(folder)], executor, options)}
                seconds = time.perf_counter() - started
                assert sorted(got) == sorted(files), f"{label}: contracts lost or repeated"
                verdicts[label] = got
                rates[label] = len(files) / seconds
                print(f"{label:10s} {len(files)} contracts in {seconds:6.1f} s: {rates[label]:6.1f} contracts/s")
        finally:
            ray.shutdown()
    assert verdicts["Ray"] == verdicts["local pool"], "the two batches' verdicts differ"
    print(f"Ray / local pool throughput: {rates['Ray'] / rates['local pool']:.2f} ({args.workers} workers)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
