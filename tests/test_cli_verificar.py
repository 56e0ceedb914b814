"""quillon verificar, triagem, ocr and registry, run as a user runs them."""

import json
import os
import pathlib
import subprocess
import sys

import pytest

from extraction_scoring import EXAMPLES, expected
from quillon.engine.documents import tesseract_available

SAMPLES = expected()
STATUS = {"APROVADO": 0, "REPROVADO": 1, "PENDENTE": 2}

registry = pytest.importorskip("quillon.registry", reason="the local registry database is not in this build")


def run(*args, env=None):
    return subprocess.run([sys.executable, "-m", "quillon", *map(str, args)], capture_output=True, text=True, env=env)


@pytest.fixture(scope="module")
def db(tmp_path_factory):
    path = tmp_path_factory.mktemp("registry") / "registry.sqlite3"
    done = run("registry", "sample", "--registry-db", path)
    assert done.returncode == 0, done.stderr
    return path


def local(*args, db):
    return run("verificar", *args, "--provider", "local", "--offline", "--registry-db", db)


@pytest.mark.parametrize("name", [n for n, s in SAMPLES.items() if not s["escaneado"] or tesseract_available()])
def test_samples_get_their_verdicts(db, name):
    done = local(EXAMPLES / name, "--json", db=db)
    record = json.loads(done.stdout)
    assert record["resultado_final"] == SAMPLES[name]["resultado_final"]
    assert done.returncode == STATUS[record["resultado_final"]]
    assert list(record)[:4] == ["arquivo", "resultado_final", "justificativa", "campos_aprovados"]
    assert record["metricas"] == {"tokens": 0, "custo_usd": 0.0, "tempo_segundos": record["metricas"]["tempo_segundos"]}


def test_report_is_printed(db):
    done = local(EXAMPLES / "contrato_servicos_aprovado.pdf", db=db)
    assert done.returncode == 0
    assert "✅✅✅ RESULTADO FINAL: APROVADO ✅✅✅" in done.stdout
    assert "HAYDEE SVAB" in done.stdout and done.stderr == ""


def test_folder_in_parallel_gives_one_line_per_contract(db, tmp_path):
    for name in ("contrato_servicos_aprovado.pdf", "contrato_signatario_fora_do_qsa.pdf"):
        (tmp_path / name).write_bytes((EXAMPLES / name).read_bytes())
    done = local(tmp_path, "--jobs", "2", "--jsonl", db=db)
    lines = [json.loads(line) for line in done.stdout.splitlines()]
    assert sorted((pathlib.Path(r["arquivo"]).name, r["resultado_final"]) for r in lines) == [
        ("contrato_servicos_aprovado.pdf", "APROVADO"), ("contrato_signatario_fora_do_qsa.pdf", "REPROVADO")]
    assert done.returncode == 1


def test_an_interrupted_batch_is_resumed_from_its_output(db, tmp_path):
    folder = tmp_path / "lote"
    folder.mkdir()
    names = ["contrato_servicos_aprovado.pdf", "contrato_signatario_fora_do_qsa.pdf", "contrato_empresa_baixada.pdf"]
    for name in names:
        (folder / name).write_bytes((EXAMPLES / name).read_bytes())
    earlier = tmp_path / "resultados.jsonl"
    first = local(folder / names[0], "--jsonl", db=db)
    # The run was killed while it wrote the second record: a line cut short.
    earlier.write_text(first.stdout + '{"arquivo": "' + str(folder / names[1]), encoding="utf-8")
    done = local(folder, "--jsonl", "--retomar", earlier, db=db)
    assert sorted(pathlib.Path(json.loads(line)["arquivo"]).name for line in done.stdout.splitlines()) == sorted(names[1:])
    assert "retomando: 1 contrato(s) já em" in done.stderr
    again = local(folder / names[0], "--jsonl", "--retomar", earlier, db=db)
    assert (again.returncode, again.stdout) == (0, "")


def _running(pid):
    try:
        with open(f"/proc/{pid}/stat") as fh:
            return fh.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def test_ctrl_c_ends_every_worker_and_exits_130(db, tmp_path):
    # Ctrl-C reaches the whole process group, parent and workers, while a
    # worker is in the middle of a long contract and long ones are queued:
    # nothing may wait for the queue.  Tried a few times, since the way the
    # interruption meets the workers varies with the timing.
    import os
    import select
    import signal

    import pymupdf

    sample = EXAMPLES / "contrato_servicos_aprovado.pdf"
    (tmp_path / "00-first.pdf").write_bytes(sample.read_bytes())
    long_one, src = pymupdf.open(), pymupdf.open(sample)
    for _ in range(150):
        long_one.insert_pdf(src)
    long_one.save(tmp_path / "long-00.pdf")
    for i in range(1, 30):
        os.link(tmp_path / "long-00.pdf", tmp_path / f"long-{i:02d}.pdf")
    for _ in range(3):
        p = subprocess.Popen([sys.executable, "-m", "quillon", "verificar", tmp_path, "--jobs", "2", "--jsonl",
                              "--provider", "local", "--offline", "--registry-db", db],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True)
        try:
            ready, _, _ = select.select([p.stdout], [], [], 60)
            assert ready and p.stdout.readline(), "no contract verified before the interruption"
            with open(f"/proc/{p.pid}/task/{p.pid}/children") as fh:
                workers = [int(pid) for pid in fh.read().split()]
            assert len(workers) == 2
            os.killpg(p.pid, signal.SIGINT)
            assert p.wait(timeout=20) == 130  # waiting on the queue fails here
            assert not [pid for pid in workers if _running(pid)]
            assert "Traceback" not in p.stderr.read().decode()
        finally:
            if p.poll() is None:
                os.killpg(p.pid, signal.SIGKILL)
                p.wait()
            p.stdout.close()
            p.stderr.close()


def test_a_worker_that_dies_costs_its_file_only(db, tmp_path):
    # A worker killed in the middle of a contract (as a crash in a PDF library
    # would end it): that file gets an error line, a new worker takes the rest.
    import os
    import select
    import signal

    import pymupdf

    sample = EXAMPLES / "contrato_servicos_aprovado.pdf"
    (tmp_path / "00-first.pdf").write_bytes(sample.read_bytes())
    long_one, src = pymupdf.open(), pymupdf.open(sample)
    for _ in range(150):
        long_one.insert_pdf(src)
    long_one.save(tmp_path / "long-0.pdf")
    for i in range(1, 4):
        os.link(tmp_path / "long-0.pdf", tmp_path / f"long-{i}.pdf")
    p = subprocess.Popen([sys.executable, "-m", "quillon", "verificar", tmp_path, "--jobs", "2", "--jsonl",
                          "--provider", "local", "--offline", "--registry-db", db],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, start_new_session=True)
    try:
        ready, _, _ = select.select([p.stdout], [], [], 60)
        first = p.stdout.readline()
        assert ready and first
        with open(f"/proc/{p.pid}/task/{p.pid}/children") as fh:
            victim = int(fh.read().split()[0])
        os.kill(victim, signal.SIGKILL)
        out, err = p.communicate(timeout=120)
    finally:
        if p.poll() is None:
            os.killpg(p.pid, signal.SIGKILL)
            p.wait()
    records = [json.loads(line) for line in (first + out).splitlines()]
    assert sorted(pathlib.Path(r["arquivo"]).name for r in records) == [
        "00-first.pdf", "long-0.pdf", "long-1.pdf", "long-2.pdf", "long-3.pdf"]
    failed = [r for r in records if "erro" in r]
    assert len(failed) == 1 and "terminou de forma inesperada" in failed[0]["erro"]
    assert p.returncode == 3 and "Traceback" not in err


def test_scanned_without_ocr_is_pending_never_approved(db, tmp_path):
    # A picture of a page with no text to read: nothing verified, so PENDENTE.
    import pymupdf

    pdf = tmp_path / "scan.pdf"
    doc = pymupdf.open()
    page = doc.new_page()
    pix = pymupdf.Pixmap(pymupdf.csGRAY, pymupdf.IRect(0, 0, 50, 50), False)
    pix.clear_with(255)
    page.insert_image(page.rect, pixmap=pix)
    doc.save(pdf)
    done = local(pdf, "--json", db=db)
    record = json.loads(done.stdout)
    assert (done.returncode, record["resultado_final"]) == (2, "PENDENTE")
    assert record["paginas_ilegiveis"] == [1]
    # The reason is the real one: with Tesseract installed, it ran and found nothing.
    if tesseract_available():
        assert record["justificativa"].endswith("o Tesseract não encontrou texto na página")
    else:
        assert "instale o Tesseract" in record["justificativa"]


@pytest.mark.parametrize(
    ("args", "message"),
    [
        (["verificar", "nao_existe.pdf", "--provider", "local"], "Arquivo não encontrado: nao_existe.pdf"),
        (["verificar", __file__, "--provider", "local"], "não é um PDF"),
        (["verificar", EXAMPLES / "contrato_servicos_aprovado.pdf", "--provider", "local", "--registry-db",
          "/nao/existe.sqlite3"], "cadastro local não encontrado"),
        (["cnpj", "consultar", "12.345.678/0001-99", "--offline", "--registry-db", "/nao/existe.sqlite3"],
         "cadastro local não encontrado"),
        (["triagem", "nao_existe.pdf"], "Arquivo não encontrado"),
        (["ocr", __file__], "não é um PDF"),
        (["ie", "123"], "CNPJ inválido: 123"),
        (["registry", "import", "/nao/existe"], "pasta não encontrada"),
    ],
)
def test_errors_are_one_line(args, message):
    done = run(*args)
    assert done.returncode == 3
    assert done.stderr.count("\n") == 1 and done.stderr.startswith("erro: ") and message in done.stderr
    assert "Traceback" not in done.stderr


def test_missing_openai_key_says_so(monkeypatch, tmp_path):
    import os

    env = {k: v for k, v in os.environ.items() if k not in ("OPENAI_API_KEY", "QUILLON_PROVIDER", "AZURE_API_KEY")}
    done = run("verificar", EXAMPLES / "contrato_servicos_aprovado.pdf", env=env)
    assert done.returncode == 3
    assert "OpenAI API key não configurada" in done.stderr and done.stderr.count("\n") == 1


def test_missing_openai_package_is_an_error_naming_it(tmp_path):
    # A key and no openai client: the command must say what to install, for
    # every contract, and give no verdict.
    import os

    (tmp_path / "openai.py").write_text("raise ModuleNotFoundError(\"No module named 'openai'\", name='openai')\n")
    env = {k: v for k, v in os.environ.items() if k not in ("QUILLON_PROVIDER", "AZURE_API_KEY")}
    env.update(OPENAI_API_KEY="sk-test", PYTHONPATH=os.pathsep.join(filter(None, [str(tmp_path),
                                                                                  env.get("PYTHONPATH")])))
    sample = EXAMPLES / "contrato_servicos_aprovado.pdf"
    done = run("verificar", sample, sample, "--jsonl", env=env)
    assert done.returncode == 3 and "Traceback" not in done.stderr
    records = [json.loads(line) for line in done.stdout.splitlines()]
    assert len(records) == 2 and all(list(r) == ["arquivo", "erro"] for r in records)
    for line in [r["erro"] for r in records] + done.stderr.splitlines():
        assert "'openai'" in line and "pip install 'quillon[openai]'" in line and "sk-test" not in line
    assert "PENDENTE" not in done.stdout and "Quillon não disponível" not in done.stdout + done.stderr


def test_cnpj_lookup_offline(db):
    done = run("cnpj", "consultar", "06.990.590/0001-23", "--offline", "--registry-db", db)
    assert done.returncode == 0 and json.loads(done.stdout)["razao_social"] == "GOOGLE BRASIL INTERNET LTDA."
    # The sample is no whole release: a CNPJ it does not hold is not known to be missing.
    done = run("cnpj", "consultar", "11.222.333/0001-81", "--offline", "--registry-db", db)
    assert (done.returncode, done.stderr) == (3, "erro: CNPJ 11.222.333/0001-81: Receita Federal não consultada: "
                                                 "modo offline; cadastro local incompleto\n")


def test_triagem_and_ocr_commands(tmp_path):
    done = run("triagem", EXAMPLES / "contrato_servicos_aprovado.pdf", "--json")
    verdict = json.loads(done.stdout)
    assert (done.returncode, verdict["eh_contrato"], verdict["motivo"]) == (0, True, "titulo")
    text = tmp_path / "nf.txt"
    text.write_text("NOTA FISCAL ELETRÔNICA\nvalor do contrato, cláusula, foro", encoding="utf-8")
    assert run("triagem", text).returncode == 1
    done = run("ocr", EXAMPLES / "contrato_signatario_fora_do_qsa.pdf", "--sem-tesseract")
    pages = [json.loads(line) for line in done.stdout.splitlines()]
    assert [p["page"] for p in pages] == [1, 2] and pages[0]["source"] == "text"


def _unreadable_copies(db, folder):
    data = db.read_bytes()
    copies = {"not_a_database": b"contratos.csv\nnada de banco aqui\n" * 100,
              "truncated": data[:len(data) // 3],
              "header_damaged": data[:16] + b"\xff" * 84 + data[100:]}
    paths = {}
    for name, content in copies.items():
        paths[name] = folder / f"{name}.sqlite3"
        paths[name].write_bytes(content)
    return paths


@pytest.mark.parametrize("damage", ["not_a_database", "truncated", "header_damaged"])
@pytest.mark.parametrize("offline", [True, False], ids=["offline", "online"])
def test_unreadable_registry_is_an_error_naming_it_never_a_verdict(db, tmp_path, damage, offline):
    bad = _unreadable_copies(db, tmp_path)[damage]
    args = ["verificar", EXAMPLES / "contrato_servicos_aprovado.pdf", "--provider", "local", "--registry-db", bad]
    # With the web services allowed too: the broken file is reported before anything is asked.
    done = run(*args, *(["--offline"] if offline else []))
    assert done.returncode == 3, done.stdout[-2000:] + done.stderr
    assert "RESULTADO FINAL" not in done.stdout
    errors = done.stderr.strip().splitlines()
    assert len(errors) == 1 and str(bad) in errors[0] and "cadastro local ilegível" in errors[0], done.stderr


def test_unreadable_registry_in_a_batch_is_each_contracts_error_line(db, tmp_path):
    bad = _unreadable_copies(db, tmp_path)["not_a_database"]
    for name in ("contrato_servicos_aprovado.pdf", "contrato_signatario_fora_do_qsa.pdf"):
        (tmp_path / name).write_bytes((EXAMPLES / name).read_bytes())
    done = local(tmp_path, "--jobs", "2", "--jsonl", db=bad)
    lines = [json.loads(line) for line in done.stdout.splitlines()]
    assert sorted(pathlib.Path(r["arquivo"]).name for r in lines) == [
        "contrato_servicos_aprovado.pdf", "contrato_signatario_fora_do_qsa.pdf"]
    assert all(str(bad) in r["erro"] and "resultado_final" not in r for r in lines)
    assert done.returncode == 3


@pytest.mark.skipif(os.geteuid() == 0, reason="root reads every file")
def test_registry_without_read_permission_is_an_error_naming_it(db, tmp_path):
    locked = tmp_path / "locked.sqlite3"
    locked.write_bytes(db.read_bytes())
    locked.chmod(0)
    done = local(EXAMPLES / "contrato_servicos_aprovado.pdf", db=locked)
    assert done.returncode == 3 and str(locked) in done.stderr and len(done.stderr.strip().splitlines()) == 1
