"""The importer of the open CNPJ data: published layout, malformed lines, resuming, idempotence."""

from __future__ import annotations

import io
import subprocess
import sys

import pytest

from opendata_files import empresa, estabelecimento, line, release, socio, write
from quillon.registry import importer, records
from quillon.registry.importer import RegistryImportError, import_folder
from registry_backends import store  # noqa: F401  (fixture)

ACME = "11222333000181"


def count(store, table):
    return store.fetchone(f"SELECT count(*) FROM {table}")[0]


def test_latin1_quotes_separators_and_empty_fields(store, tmp_path):
    release(tmp_path,
            [empresa("11222333", 'CONFECÇÕES "ÁGUIA; FILHOS" LTDA', capital="1234,56")],
            [estabelecimento(ACME, fantasia="Águia;Filhos", complemento='SALA "B"', email="", data_situacao="0")],
            [socio("11222333", "JOÃO D'ÁVILA", nome_rep="", cpf_rep="")])
    report = import_folder(store, tmp_path, progress=False, err=io.StringIO())
    assert (report.status, report.rows, report.malformed) == ("imported", 3 + 2 + 2 + 4 + 1, 0)
    record = records.lookup(store, ACME)
    assert record["razao_social"] == 'CONFECÇÕES "ÁGUIA; FILHOS" LTDA'
    assert (record["nome_fantasia"], record["endereco"]["complemento"]) == ("Águia;Filhos", 'SALA "B"')
    assert (record["capital_social"], record["email"], record["data_situacao"]) == (1234.56, None, None)
    assert record["socios"] == [{"nome": "JOÃO D'ÁVILA", "qualificacao": "Sócio-Administrador",
                                 "data_entrada": "2020-01-02", "cpf_representante": "",
                                 "nome_representante": "", "qualificacao_representante": "Não informada",
                                 "cnpj_cpf_do_socio": "***123456**"}]


@pytest.mark.parametrize(("bad", "reason"), [
    (b'"11222333";"0001";"81"\n', "esperados 30 campos, encontrados 3"),
    (b'"11222333";"sem fim\n', "aspas não fechadas"),
    (b'"11222333"x;"0001"\n', "texto depois de aspas de fechamento"),
    (line(estabelecimento("99888777000166", situacao="AT")), "campo 6: código não numérico"),
    (b'"a\x00b"\n', "byte nulo na linha"),
])
def test_a_malformed_line_is_reported_with_file_and_line_and_the_import_goes_on(tmp_path, bad, reason):
    from quillon.registry import open_store

    db = open_store("sqlite", str(tmp_path / "r.sqlite3"))
    release(tmp_path / "in", [empresa("11222333", "ACME")],
            [line(estabelecimento("00000000000191")), bad, line(estabelecimento(ACME))])
    err = io.StringIO()
    report = import_folder(db, tmp_path / "in", progress=False, err=err)
    assert report.malformed == 1
    assert f"Estabelecimentos0.zip:K3241.K03200Y0.D40510.ESTABELE:2: linha malformada: {reason}" in err.getvalue()
    assert records.lookup(db, ACME)["razao_social"] == "ACME"
    assert records.lookup(db, "00000000000191") is not None


def test_an_interrupted_import_resumes_without_duplicates(store, tmp_path):
    companies = [f"{n:08d}" for n in range(1, 41)]
    release(tmp_path, [empresa(b, f"EMPRESA {b}") for b in companies],
            [estabelecimento(f"{b}000100") for b in companies],
            [socio(b, f"SOCIO {k} DE {b}") for b in companies for k in range(3)])

    def interrupt(source, line):
        if source.kind.name == "Estabelecimentos" and line >= 15:
            raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        import_folder(store, tmp_path, commit_every=7, progress=False, err=io.StringIO(), on_commit=interrupt)
    # Nothing is live until the import is complete.
    assert records.lookup(store, f"{companies[0]}000100") is None
    report = import_folder(store, tmp_path, commit_every=7, progress=False, err=io.StringIO())
    assert report.status == "imported" and report.resumed_files >= 5  # 4 code tables, Empresas, Estabelecimentos
    assert (count(store, "empresas"), count(store, "estabelecimentos"), count(store, "socios")) == (40, 40, 120)
    assert store.fetchone("SELECT count(DISTINCT cnpj) FROM estabelecimentos")[0] == 40
    names = [p["nome"] for p in records.lookup(store, f"{companies[20]}000100")["socios"]]
    assert names == [f"SOCIO {k} DE {companies[20]}" for k in range(3)]


def test_importing_the_same_files_again_does_nothing_and_new_files_replace_the_release(store, tmp_path):
    release(tmp_path / "jan", [empresa("11222333", "ACME")], [estabelecimento(ACME)])
    assert import_folder(store, tmp_path / "jan", progress=False).status == "imported"
    again = import_folder(store, tmp_path / "jan", progress=False)
    assert (again.status, again.rows) == ("unchanged", 0)
    release(tmp_path / "fev", [empresa("11222333", "ACME NOVA")], [estabelecimento(ACME, situacao="08")])
    assert import_folder(store, tmp_path / "fev", progress=False).run == 2
    assert (count(store, "empresas"), count(store, "estabelecimentos")) == (1, 1)
    record = records.lookup(store, ACME)
    assert (record["razao_social"], record["situacao"]) == ("ACME NOVA", "BAIXADA")


def test_a_finished_import_leaves_the_planners_statistics(store, tmp_path):
    # Without them PostgreSQL plans lookups on a freshly loaded national release as
    # if its tables were empty, until its autovacuum comes by.
    if store.dialect.name == "sqlite":
        pytest.skip("SQLite uses a lookup's indexes without statistics")
    basicos = [f"{n:08d}" for n in range(1, 201)]
    release(tmp_path / "jan", [empresa(b, f"EMPRESA {b}") for b in basicos],
            [estabelecimento(f"{b}000100") for b in basicos])
    import_folder(store, tmp_path / "jan", progress=False)
    for table in ("empresas", "estabelecimentos"):  # pg_stats: gathered by ANALYZE only
        assert store.fetchone("SELECT count(*) FROM pg_stats WHERE tablename = ?", (table,))[0] > 0, table


def test_plain_files_and_ignored_ones(store, tmp_path):
    folder = tmp_path / "in"
    write(folder, "Empresas", [line(empresa("11222333", "ACME"))], zipped=False)
    write(folder, "Estabelecimentos", [line(estabelecimento(ACME))], zipped=False)
    (folder / "Simples.zip").write_bytes(b"PK\x05\x06" + b"\0" * 18)  # an empty zip
    (folder / "LEIAME.txt").write_text("leia-me")
    report = import_folder(store, folder, progress=False)
    assert report.files == 2 and sorted(report.ignored) == ["LEIAME.txt", "Simples.zip"]
    assert records.lookup(store, ACME)["endereco"]["cidade"] == "7107"  # no Municípios table: the code


def test_a_database_kept_in_the_folder_it_imports_is_not_an_ignored_input(tmp_path):
    from quillon.registry import open_store

    folder = tmp_path / "dados"
    write(folder, "Empresas", [line(empresa("11222333", "ACME"))])
    write(folder, "Estabelecimentos", [line(estabelecimento(ACME))])
    (folder / "LEIAME.txt").write_text("leia-me")
    store = open_store("sqlite", str(folder / "cadastro.sqlite3"))
    try:
        assert import_folder(store, folder, progress=False).ignored == ["LEIAME.txt"]
    finally:
        store.close()


@pytest.mark.parametrize("missing", ["Empresas", "Estabelecimentos"])
def test_a_folder_without_companies_or_establishments_is_refused(tmp_path, missing):
    from quillon.registry import open_store

    for kind in {"Empresas", "Estabelecimentos"} - {missing}:
        write(tmp_path, kind, [])
    with pytest.raises(RegistryImportError, match=missing):
        import_folder(open_store("sqlite", str(tmp_path / "r.sqlite3")), tmp_path)


def test_progress_bar_on_a_terminal(tmp_path):
    from quillon.registry import open_store

    class Terminal(io.StringIO):
        def isatty(self):
            return True

    release(tmp_path / "in", [empresa("11222333", "ACME")], [estabelecimento(ACME)])
    err = Terminal()
    import_folder(open_store("sqlite", str(tmp_path / "r.sqlite3")), tmp_path / "in", err=err)
    assert "[##############################] 100.0%" in err.getvalue() and "linhas/s" in err.getvalue()


def test_command_line_import(tmp_path):
    release(tmp_path / "in", [empresa("11222333", "ACME")], [estabelecimento(ACME), b'"quebrada\n'])
    db = tmp_path / "r.sqlite3"
    run = [sys.executable, "-m", "quillon.registry", "--db", str(db)]
    done = subprocess.run(run + ["import", str(tmp_path / "in")], capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    assert "ESTABELE:2: linha malformada: aspas não fechadas" in done.stderr
    assert "Importação 1 concluída" in done.stderr and "1 malformadas" in done.stderr
    again = subprocess.run(run + ["import", str(tmp_path / "in")], capture_output=True, text=True)
    assert again.returncode == 0 and "Nada a fazer" in again.stderr
    found = subprocess.run(run + ["consultar", "11.222.333/0001-81"], capture_output=True, text=True)
    assert found.returncode == 0 and '"razao_social": "ACME"' in found.stdout
    missing = subprocess.run(run + ["import", str(tmp_path / "nada")], capture_output=True, text=True)
    assert missing.returncode == 1 and "Pasta não encontrada" in missing.stderr


def test_both_commands_share_one_tree_and_one_database_option(tmp_path):
    # quillon registry and python -m quillon.registry: the same commands; --registry-db (or --db)
    # before or after the command's name; a database folder that does not exist yet is made.
    release(tmp_path / "in", [empresa("11222333", "ACME")], [estabelecimento(ACME)])
    db = tmp_path / "novo" / "r.sqlite3"
    quillon, module = [sys.executable, "-m", "quillon", "registry"], [sys.executable, "-m", "quillon.registry"]
    done = subprocess.run(quillon + ["import", str(tmp_path / "in"), "--registry-db", str(db)],
                          capture_output=True, text=True)
    assert done.returncode == 0 and "Importação 1 concluída" in done.stderr, done.stderr
    for run in (quillon + ["--db", str(db), "consultar", "11222333000181"],
                module + ["buscar", "acme", "--registry-db", str(db)],
                module + ["--registry-db", str(db), "consultar", "11.222.333/0001-81"]):
        found = subprocess.run(run, capture_output=True, text=True)
        assert found.returncode == 0 and '"razao_social": "ACME"' in found.stdout, (run, found.stderr)
