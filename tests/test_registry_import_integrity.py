"""The importer against damaged downloads, doubled files and a second import at the same time."""

from __future__ import annotations

import io
import subprocess
import sys
import textwrap
import time
import zipfile

import pytest

from opendata_files import MEMBER, empresa, estabelecimento, line, release, socio, write
from quillon.registry import importer, records
from quillon.registry.importer import RegistryImportError, import_folder
from registry_backends import store  # noqa: F401  (fixture)

ACME = "11222333000181"
GOOD, BAD = "EMPRESA BOAA", "EMPRESA RUIM"  # same length: the damage keeps the zip's layout


def count(store, table):
    return store.fetchone(f"SELECT count(*) FROM {table}")[0]


def companies(n):
    return [f"{k:08d}" for k in range(1, n + 1)]


def stored_release(folder, names):
    """A release whose Empresas file is stored uncompressed, so its bytes can be damaged in place."""
    basicos = companies(len(names))
    release(folder, [], [estabelecimento(f"{b}000100") for b in basicos],
            [socio(b, f"SOCIO DE {b}") for b in basicos])
    path = folder / "Empresas0.zip"
    with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as archive:
        archive.writestr(f"K3241.K03200Y0.D40510.{MEMBER['Empresas']}",
                         b"".join(line(empresa(b, name)) for b, name in zip(basicos, names)))
    return path


def damage(path, old: str, new: str):
    data = path.read_bytes()
    assert data.count(old.encode()) == 1
    path.write_bytes(data.replace(old.encode(), new.encode()))


def quiet(**options):
    return {"progress": False, "err": io.StringIO(), **options}


@pytest.fixture
def small_chunks(monkeypatch):
    """Files read 64 bytes at a time: rows are committed long before a member's end, where its CRC is checked."""
    monkeypatch.setattr(importer, "CHUNK", 64)


# --- a damaged download -------------------------------------------------------------------------
@pytest.fixture
def damaged(tmp_path, small_chunks):
    """(folder, its Empresas zip damaged in place, the good bytes of that zip)."""
    folder = tmp_path / "in"
    names = [GOOD] + [f"EMPRESA {k}" for k in range(2, 301)]  # beyond the 4 KiB zipfile reads ahead
    zip_path = stored_release(folder, names)
    good = zip_path.read_bytes()
    damage(zip_path, GOOD, BAD)
    return folder, zip_path, good


def test_a_member_failing_its_crc_leaves_no_row_and_is_read_again_whole(store, damaged):
    folder, zip_path, good = damaged
    seen = []

    def committed(source, line):
        if source.kind.name == "Empresas":
            seen.append(line)

    with pytest.raises(RegistryImportError) as failed:
        import_folder(store, folder, **quiet(commit_every=3, on_commit=committed))
    assert seen  # rows of the damaged file were committed before its CRC was checked
    message = str(failed.value)
    assert str(zip_path) in message and "CRC" in message and "\n" not in message
    assert count(store, "empresas_staging") == 0  # the failed file's committed rows are gone

    zip_path.write_bytes(good)  # downloaded again: same name, size and CRC in the directory
    report = import_folder(store, folder, **quiet(commit_every=3))
    assert report.status == "imported" and report.rows_by_file["Empresas0.zip:K3241.K03200Y0.D40510.EMPRECSV"] == 300
    assert records.lookup(store, "00000001000100")["razao_social"] == GOOD
    assert count(store, "empresas") == 300 and count(store, "socios") == 300


def test_a_file_resumed_in_the_middle_is_checked_against_what_was_read(store, damaged):
    folder, zip_path, good = damaged

    def interrupt(source, line):
        if source.kind.name == "Empresas" and line >= 9:
            raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):  # stopped before the end, where the CRC would be checked
        import_folder(store, folder, **quiet(commit_every=3, on_commit=interrupt))
    zip_path.write_bytes(good)
    err = io.StringIO()
    report = import_folder(store, folder, progress=False, err=err, commit_every=3)
    assert "lido de novo desde o início" in err.getvalue()
    assert report.status == "imported"
    assert records.lookup(store, "00000001000100")["razao_social"] == GOOD
    assert count(store, "empresas") == 300


@pytest.mark.parametrize("damaged", ["not_a_zip", "truncated", "crc"])
@pytest.mark.parametrize("command", [["quillon.registry", "--db"], ["quillon", "registry", "import", "--registry-db"]],
                         ids=["python -m quillon.registry", "quillon registry"])
def test_an_unreadable_download_is_one_line_naming_it(tmp_path, damaged, command):
    folder = tmp_path / "in"
    if damaged == "crc":
        path = stored_release(folder, [GOOD, "OUTRA"])
        damage(path, GOOD, BAD)
    else:
        release(folder, [empresa("11222333", "ACME")], [estabelecimento(ACME)])
        path = folder / "Estabelecimentos0.zip"
        data = path.read_bytes()
        path.write_bytes(b"<html>404 Not Found</html>" if damaged == "not_a_zip" else data[:len(data) // 2])
    db = tmp_path / "r.sqlite3"
    if command[0] == "quillon.registry":
        argv = [sys.executable, "-m", "quillon.registry", "--db", db, "import", folder]
    else:
        argv = [sys.executable, "-m", "quillon", "registry", "import", folder, "--registry-db", db]
    done = subprocess.run(list(map(str, argv)), capture_output=True, text=True, timeout=120)
    assert done.returncode != 0
    lines = done.stderr.strip().splitlines()
    assert len(lines) == 1 and str(path) in lines[0] and "Traceback" not in done.stderr, done.stderr


# --- zips and their text files in one folder ---------------------------------------------------
def test_a_text_file_beside_its_zip_is_read_once_and_the_copy_reported(store, tmp_path):
    folder = tmp_path / "in"
    basicos = companies(5)
    release(folder, [empresa(b, f"EMPRESA {b}") for b in basicos], [estabelecimento(f"{b}000100") for b in basicos],
            [socio(b, f"SOCIO DE {b}") for b in basicos])
    for kind in ("Empresas", "Estabelecimentos", "Socios"):  # extracted beside the zips, as the README allows
        with zipfile.ZipFile(folder / f"{kind}0.zip") as archive:
            archive.extractall(folder)
    (folder / "Socios0 (1).zip").write_bytes((folder / "Socios0.zip").read_bytes())  # downloaded twice
    report = import_folder(store, folder, **quiet())
    assert (count(store, "empresas"), count(store, "estabelecimentos"), count(store, "socios")) == (5, 5, 5)
    assert [p["nome"] for p in records.lookup(store, "00000003000100")["socios"]] == ["SOCIO DE 00000003"]
    copies = dict(d.split(" (já lido de ") for d in report.duplicates)
    assert len(copies) == 4
    for kind, suffix in (("Empresas", "EMPRECSV"), ("Estabelecimentos", "ESTABELE"), ("Socios", "SOCIOCSV")):
        member = f"K3241.K03200Y0.D40510.{suffix}"
        assert copies[member].startswith(kind) and copies[member].endswith(f".zip:{member})")
    socios_zips = {"Socios0.zip:K3241.K03200Y0.D40510.SOCIOCSV", "Socios0 (1).zip:K3241.K03200Y0.D40510.SOCIOCSV"}
    assert len(socios_zips & set(copies)) == 1  # one copy of the zip read, the other reported

    db = tmp_path / "cli.sqlite3"
    done = subprocess.run([sys.executable, "-m", "quillon", "registry", "import", str(folder), "--registry-db",
                           str(db)], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0 and done.stderr.count("Ignorado (cópia): ") == 4, done.stderr


# --- one import at a time ------------------------------------------------------------------------
SLOW_IMPORT = textwrap.dedent("""
    import pathlib, sys, time
    from quillon.registry import open_store
    from quillon.registry.importer import import_folder
    backend, location, folder, flag = sys.argv[1:5]
    hold = pathlib.Path(sys.argv[5]) if len(sys.argv) > 5 else None
    def slowly(source, line):
        pathlib.Path(flag).touch()  # under way: the other process may start
        deadline = time.monotonic() + 120
        while hold is not None and not hold.exists() and time.monotonic() < deadline:
            time.sleep(0.02)  # held in the middle of the import until the other one has tried
        time.sleep(0.05)
    report = import_folder(open_store(backend, location), folder, commit_every=20, progress=False, on_commit=slowly)
    print(report.status, report.rows)
    """)


def _location(store):
    return store.location


def test_a_second_import_at_the_same_time_is_refused_and_the_first_completes(store, tmp_path):
    backend = store.dialect.name
    folder = tmp_path / "in"
    basicos = companies(300)
    release(folder, [empresa(b, f"EMPRESA {b}") for b in basicos], [estabelecimento(f"{b}000100") for b in basicos],
            [socio(b, f"SOCIO {k} DE {b}") for b in basicos for k in range(2)])
    flag, hold = tmp_path / "started", tmp_path / "go-on"
    location = _location(store)
    first = subprocess.Popen([sys.executable, "-c", SLOW_IMPORT, backend, location, str(folder), str(flag), str(hold)],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    deadline = time.monotonic() + 60
    while not flag.exists():
        assert first.poll() is None and time.monotonic() < deadline, first.communicate()
        time.sleep(0.02)
    second = subprocess.run([sys.executable, "-c", SLOW_IMPORT, backend, location, str(folder), str(tmp_path / "b")],
                            capture_output=True, text=True, timeout=120)
    hold.touch()
    out, err = first.communicate(timeout=300)
    assert first.returncode == 0, err
    assert out.split() == ["imported", str(300 + 300 + 600 + 9)]
    assert second.returncode != 0 and "Outra importação está em andamento" in second.stderr
    assert (count(store, "empresas"), count(store, "estabelecimentos"), count(store, "socios")) == (300, 300, 600)
    assert store.fetchone("SELECT count(*) FROM (SELECT DISTINCT cnpj_basico, nome FROM socios) d")[0] == 600
    again = subprocess.run([sys.executable, "-c", SLOW_IMPORT, backend, location, str(folder), str(tmp_path / "c")],
                           capture_output=True, text=True, timeout=120)
    assert again.returncode == 0 and again.stdout.split()[0] == "unchanged"


def test_row_counts_that_do_not_add_up_refuse_the_swap(store, tmp_path):
    folder = tmp_path / "in"
    basicos = companies(10)
    release(folder, [empresa(b, f"EMPRESA {b}") for b in basicos], [estabelecimento(f"{b}000100") for b in basicos])

    def stray_rows(source, line):  # rows nobody's file recorded (what a second writer left)
        if source.kind.name == "Estabelecimentos":
            store.execute("INSERT INTO empresas_staging (cnpj_basico, razao_social) VALUES ('99999999', 'INTRUSA')")

    with pytest.raises(RegistryImportError, match="Importação incompleta: empresas tem 11 linhas"):
        import_folder(store, folder, **quiet(commit_every=5, on_commit=stray_rows))
    assert records.lookup(store, "00000001000100") is None  # nothing swapped in
    report = import_folder(store, folder, **quiet())
    assert report.status == "imported" and report.resumed_files == 0
    assert count(store, "empresas") == 10 and records.lookup(store, "99999999000100") is None
