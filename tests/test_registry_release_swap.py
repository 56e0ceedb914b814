"""Lookups and name searches while imports swap releases in, in real processes: every record
comes whole from one release."""

from __future__ import annotations

import json
import subprocess
import sys
import textwrap

from opendata_files import empresa, estabelecimento, release, socio
from registry_backends import store  # noqa: F401  (fixture)

COMPANIES = 60
SECONDS = 6  # of swapping under the readers' feet

# Imports release A, then B, then A... until told to stop: every import swaps a release in.
SWAPPER = textwrap.dedent("""
    import io, pathlib, sys
    from quillon.registry import open_store
    from quillon.registry.importer import import_folder
    backend, location, folder_a, folder_b, stop = sys.argv[1:6]
    store = open_store(backend, location)
    swaps = 0
    while not pathlib.Path(stop).exists():
        import_folder(store, (folder_a, folder_b)[swaps % 2], progress=False, err=io.StringIO())
        swaps += 1
    print(swaps)
    """)

# Looks companies up (by CNPJ and by trade name) for a while; counts the records whose parts
# come from different releases.
READER = textwrap.dedent("""
    import json, pathlib, sys, time
    from quillon.registry import open_store, records
    backend, location, seconds, stop, companies = sys.argv[1:6]
    store = open_store(backend, location)
    mixed, seen, lookups = [], set(), 0
    end = time.monotonic() + float(seconds)
    k = 0
    while time.monotonic() < end:
        basico = f"{k % int(companies) + 1:08d}"
        k += 1
        for record in (records.lookup(store, basico + "000100"), records.search(store, f"FANTASIA {basico}")):
            lookups += 1
            if record is None or not record["razao_social"]:
                continue
            marks = {record["razao_social"][-1], record["nome_fantasia"][-1]}
            marks |= {p["nome"][-1] for p in record["socios"]}
            seen |= marks
            if len(marks) != 1 or len(record["socios"]) != 2:
                mixed.append(record)
    pathlib.Path(stop).touch()
    print(json.dumps({"mixed": mixed[:3], "mixed_count": len(mixed), "seen": sorted(seen), "lookups": lookups}))
    """)


def _release(folder, mark):
    basicos = [f"{k:08d}" for k in range(1, COMPANIES + 1)]
    release(folder, [empresa(b, f"EMPRESA {b} {mark}") for b in basicos],
            [estabelecimento(f"{b}000100", fantasia=f"FANTASIA {b} {mark}") for b in basicos],
            [socio(b, f"SOCIO {n} DE {b} {mark}") for b in basicos for n in range(2)])
    return folder


def test_no_record_mixes_two_releases(store, tmp_path):
    backend = store.dialect.name
    folder_a, folder_b = _release(tmp_path / "a", "A"), _release(tmp_path / "b", "B")
    stop = tmp_path / "stop"
    swapper = subprocess.Popen([sys.executable, "-c", SWAPPER, backend, store.location, str(folder_a),
                                str(folder_b), str(stop)], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        reader = subprocess.run([sys.executable, "-c", READER, backend, store.location, str(SECONDS), str(stop),
                                 str(COMPANIES)], capture_output=True, text=True, timeout=SECONDS + 120)
    finally:
        stop.touch()
        out, err = swapper.communicate(timeout=120)
    assert reader.returncode == 0, reader.stderr[-3000:]
    assert swapper.returncode == 0, err[-3000:]
    result = json.loads(reader.stdout)
    assert int(out) >= 4, "too few swaps to test anything"
    assert result["seen"] == ["A", "B"] and result["lookups"] > 100
    assert result["mixed_count"] == 0, result["mixed"]
