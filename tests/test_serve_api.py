"""quillon serve's HTTP API, against the server started as a process: verdicts, refusals, restarts."""

import concurrent.futures
import json
import signal
import subprocess
import sys
import time

import pytest

from quillon.engine.documents import tesseract_available

pytest.importorskip("fastapi", reason='quillon serve needs the "serve" extra')

from registry_backends import POSTGRES_URL  # noqa: E402
from serve_process import (  # noqa: E402
    ServeProcess,
    expected_verdicts,
    multipart,
    sample_pdf,
    sample_registry,
    sample_registry_postgres,
)

VERDICTS = expected_verdicts()
TEXT_SAMPLES = ["contrato_servicos_aprovado.pdf", "contrato_empresa_baixada.pdf", "contrato_signatario_fora_do_qsa.pdf"]


@pytest.fixture(scope="module")
def registry(tmp_path_factory):
    return sample_registry(tmp_path_factory.mktemp("sample"))


@pytest.fixture(scope="module")
def server(tmp_path_factory, registry):
    with ServeProcess(tmp_path_factory.mktemp("serve"), registry) as srv:
        yield srv


def test_sample_contracts_get_the_verdicts_of_the_command(server, registry):
    """Each sample's record is the one ``quillon verificar --json`` gives, under the uploaded file's name,
    and its upload is gone once the job is over."""
    accepted = {}
    for name in VERDICTS:
        status, job = server.upload(sample_pdf(name), name)
        assert status == 202, job
        assert job["status"] == "na_fila" and job["arquivo"] == name
        accepted[name] = job["id"]
    for name, job_id in accepted.items():
        job = server.wait(job_id)
        assert job["status"] == "concluido", job
        record = job["resultado"]
        assert record["resultado_final"] == VERDICTS[name], (name, record["justificativa"])
        assert record["arquivo"] == name
    name = "contrato_signatario_fora_do_qsa.pdf"
    path = server.folder / name
    path.write_bytes(sample_pdf(name))
    cli = subprocess.run([sys.executable, "-m", "quillon", "verificar", str(path), "--json", "--provider", "local",
                          "--offline", "--registry-db", str(registry)], capture_output=True, text=True)
    from_cli = json.loads(cli.stdout)
    from_server = server.wait(accepted[name])["resultado"]
    for key in ("resultado_final", "campos_aprovados", "campos_reprovados", "campos_pendentes", "empresas",
                "assinaturas", "dados_contrato"):
        assert from_server[key] == from_cli[key], key
    assert server.leftovers() == []


def test_steps_are_told_while_a_verification_runs(server):
    """Steps come in order; a scanned contract read with Tesseract is seen in its reading step."""
    scanned = tesseract_available()
    name = "contrato_digitalizado.pdf" if scanned else "contrato_servicos_aprovado.pdf"
    status, job = server.upload(sample_pdf(name), name)
    seen = []
    while True:
        _, now = server.request("GET", f"/api/verificacoes/{job['id']}")
        if now["etapa"] and now["etapa"] not in seen:
            seen.append(now["etapa"])
        if now["status"] in ("concluido", "erro"):
            break
        time.sleep(0.005)
    order = ["leitura", "extracao", "cadastro", "assinaturas"]
    assert seen == sorted(seen, key=order.index)  # never backwards, whichever steps the polling caught
    if scanned:
        assert seen[0] == "leitura"
    assert now["status"] == "concluido" and now["etapa"] is None


def test_twenty_concurrent_uploads_none_lost_none_mixed(server):
    names = [(f"{i:02d}-{n}", n) for i in range(20) for n in [TEXT_SAMPLES[i % len(TEXT_SAMPLES)]]]
    with concurrent.futures.ThreadPoolExecutor(20) as pool:
        answers = list(pool.map(lambda pair: server.upload(sample_pdf(pair[1]), pair[0]), names))
    assert [s for s, _ in answers] == [202] * 20
    assert len({job["id"] for _, job in answers}) == 20
    for (upload_name, sample), (_, job) in zip(names, answers):
        done = server.wait(job["id"])
        assert done["arquivo"] == done["resultado"]["arquivo"] == upload_name
        assert done["resultado"]["resultado_final"] == VERDICTS[sample], upload_name
        cnpjs = {e["cnpj"] for e in done["resultado"]["empresas"]}
        fresh = server.wait(answers[TEXT_SAMPLES.index(sample)][1]["id"])["resultado"]
        assert cnpjs == {e["cnpj"] for e in fresh["empresas"]}
    assert server.leftovers() == []


def _encrypted_pdf() -> bytes:
    import pymupdf

    doc = pymupdf.open(stream=sample_pdf("contrato_signatario_fora_do_qsa.pdf"), filetype="pdf")
    return doc.tobytes(encryption=pymupdf.PDF_ENCRYPT_AES_256, owner_pw="dono", user_pw="segredo")


@pytest.mark.parametrize("case, data, name, status, says", [
    pytest.param("not a PDF", b"PK\x03\x04\x14\x00\xff\xfe zip" * 50, "contrato.pdf", 415, "não é um PDF", id="zip"),
    pytest.param("text", "CONTRATO DE PRESTAÇÃO DE SERVIÇOS".encode(), "contrato.pdf", 415, "não é um PDF", id="text"),
    pytest.param("empty", b"", "contrato.pdf", 400, "vazio", id="empty"),
    pytest.param("corrupt", b"%PDF-1.7\n" + bytes(range(256)) * 40, "contrato.pdf", 400, "corrompido", id="corrupt"),
    pytest.param("encrypted", None, "contrato.pdf", 400, "senha", id="encrypted"),
    pytest.param("oversize", b"%PDF-1.7\n" + b"0" * 200_000, "grande.pdf", 413, "limite de 0.1 MB", id="oversize"),
])
def test_refused_uploads_say_why_and_leave_nothing(tmp_path, registry, case, data, name, status, says):
    data = _encrypted_pdf() if data is None else data
    with ServeProcess(tmp_path, registry, env={"QUILLON_SERVE_MAX_MB": "0.1"}) as srv:
        got, answer = srv.upload(data, name)
        assert got == status, (case, answer)
        assert says in answer["detail"], answer
        if case != "text":  # the screening reads text files too
            got, answer = srv.upload(data, name, path="/api/triagem")
            assert got == status and (says in answer["detail"] or "nem um texto" in answer["detail"]), (case, answer)
        assert srv.leftovers() == [] and srv.job_rows() == []


def test_oversize_upload_without_a_length_is_cut_off(tmp_path, registry):
    """A chunked body (no Content-Length) is refused once it passes the limit, not after it is all read."""
    import http.client

    with ServeProcess(tmp_path, registry, env={"QUILLON_SERVE_MAX_MB": "0.1"}) as srv:
        body, kind = multipart(b"%PDF-1.7\n" + b"0" * 400_000, "grande.pdf")
        host, port = srv.url.removeprefix("http://").split(":")
        conn = http.client.HTTPConnection(host, int(port), timeout=30)
        conn.request("POST", "/api/verificacoes", body=iter([body[i:i + 8192] for i in range(0, len(body), 8192)]),
                     headers={"Content-Type": kind, "Transfer-Encoding": "chunked"}, encode_chunked=True)
        answer = conn.getresponse()
        assert answer.status == 413 and "limite" in json.loads(answer.read())["detail"]
        assert srv.leftovers() == [] and srv.job_rows() == []


@pytest.mark.parametrize("backend", ["sqlite", "postgresql"])
def test_restart_mid_queue_loses_no_job(tmp_path, registry, backend):
    """A server killed with jobs waiting and one running runs them all after it starts again."""
    if backend == "postgresql":
        from registry_backends import _empty_postgres

        _empty_postgres().close()
        registry = sample_registry_postgres(POSTGRES_URL)
    srv = ServeProcess(tmp_path, registry, jobs=1).start()
    try:
        names = [f"{i}-{TEXT_SAMPLES[i % 3]}" for i in range(8)]
        ids = [srv.upload(sample_pdf(n.split("-", 1)[1]), n)[1]["id"] for n in names]
        first = srv.wait(ids[0])
        assert first["status"] == "concluido"
        srv.stop(signal.SIGKILL)
        unfinished = [r for r in srv.job_rows() if r[2] != "concluido"]
        assert unfinished, "the queue was empty before the crash: nothing tested"
        srv.start()
        for name, job_id in zip(names, ids):
            job = srv.wait(job_id)
            assert job["status"] == "concluido", job
            assert job["resultado"]["resultado_final"] == VERDICTS[name.split("-", 1)[1]]
            assert job["arquivo"] == name
        assert srv.wait(ids[0])["concluido_em"] == first["concluido_em"]  # a finished result is kept, not redone
        assert srv.leftovers() == []
    finally:
        srv.stop()


def test_cnpj_and_screening(server):
    status, record = server.request("GET", "/api/cnpj/06.990.590%2F0001-23")
    assert status == 200 and record["razao_social"] == "GOOGLE BRASIL INTERNET LTDA."
    assert any(s["nome"] == "FABIO JOSE SILVA COELHO" for s in record["socios"])
    status, answer = server.request("GET", "/api/cnpj/06990590000124")
    assert status == 400 and "CNPJ inválido" in answer["detail"]
    # Offline, a CNPJ the sample does not hold is not known to be missing: the registry was not asked.
    status, answer = server.request("GET", "/api/cnpj/11222333000181")
    assert status == 503 and "Receita Federal não consultada" in answer["detail"], answer
    status, verdict = server.upload(sample_pdf("contrato_servicos_aprovado.pdf"), "c.pdf", path="/api/triagem")
    assert status == 200 and verdict["eh_contrato"] and verdict["detalhe"].startswith("título de contrato")
    note = "NOTA FISCAL DE SERVIÇOS ELETRÔNICA\nValor total R$ 10,00".encode()
    status, verdict = server.upload(note, "nota.txt", path="/api/triagem")
    assert status == 200 and not verdict["eh_contrato"], verdict
    assert server.leftovers() == []


def test_unknown_job_and_files_outside_the_app(server):
    assert server.request("GET", "/api/verificacoes/nao-existe")[0] == 404
    for path in ("/static/../../pyproject.toml", "/static/%2e%2e%2fapp.py", "/static/app.py", "/etc/passwd",
                 "/static/..%2F__init__.py"):
        status, body = server.request("GET", path)
        assert status == 404, path
    assert server.request("GET", "/static/app.css")[0] == 200


def test_token_is_asked_on_every_route(tmp_path, registry):
    token = "s3gredo-de-teste"
    with ServeProcess(tmp_path, registry, env={"QUILLON_SERVE_TOKEN": token}) as srv:
        bearer = {"Authorization": f"Bearer {token}"}
        status, spec = srv.request("GET", "/openapi.json", headers=bearer)
        assert status == 200
        routes = [(m.upper(), p.replace("{job_id}", "x").replace("{cnpj}", "06990590000123"))
                  for p, ops in spec["paths"].items() for m in ops]
        routes += [("GET", p) for p in ("/", "/cnpj?cnpj=06990590000123", "/triagem", "/verificacoes/x",
                                        "/verificacoes/x/fragmento", "/verificacoes/x/registro.json",
                                        "/static/app.css", "/static/app.js", "/docs", "/openapi.json", "/nada")]
        routes += [("POST", "/triagem")]
        assert len(routes) > 15
        for method, path in routes:
            for headers in ({}, {"Authorization": "Bearer errado"}, {"Authorization": f"Basic {token}"},
                            {"Cookie": "quillon_token=errado"}):
                status, answer = srv.request(method, path, b"" if method == "POST" else None, headers)
                assert status == 401, (method, path, headers, status)
        status, page = srv.request("GET", "/", headers={"Accept": "text/html"})
        assert status == 401 and "token" in page  # the page asks for it
        assert srv.request("GET", "/", headers=bearer)[0] == 200
        assert srv.request("GET", "/", headers={"Cookie": f"quillon_token={token}"})[0] == 200
        status, job = srv.upload(sample_pdf(TEXT_SAMPLES[0]), "c.pdf", headers=bearer)
        assert status == 202
        status, _ = srv.upload(sample_pdf(TEXT_SAMPLES[0]), "c.pdf")
        assert status == 401


def test_open_address_without_token_is_refused(tmp_path, registry):
    srv = ServeProcess(tmp_path, registry, args=("--host", "0.0.0.0"))
    done = subprocess.run(srv.command(), env=srv.env, capture_output=True, text=True, timeout=60)
    assert done.returncode == 3
    assert "QUILLON_SERVE_TOKEN" in done.stderr and "recusado" in done.stderr
    assert done.stderr.count("\n") == 1


def test_a_worker_that_dies_costs_its_job_only(tmp_path, registry):
    """A worker killed in the middle of a contract: that job ends in an error, a new worker takes the next."""
    import os

    import pymupdf

    long_one, src = pymupdf.open(), pymupdf.open(stream=sample_pdf(TEXT_SAMPLES[0]), filetype="pdf")
    for _ in range(150):
        long_one.insert_pdf(src)
    with ServeProcess(tmp_path, registry, jobs=1) as srv:
        status, job = srv.upload(long_one.tobytes(), "longo.pdf")
        assert status == 202
        while srv.request("GET", f"/api/verificacoes/{job['id']}")[1]["status"] == "na_fila":
            time.sleep(0.01)
        with open(f"/proc/{srv.proc.pid}/task/{srv.proc.pid}/children") as fh:
            workers = [int(pid) for pid in fh.read().split()]
        assert len(workers) == 1
        os.kill(workers[0], signal.SIGKILL)
        failed = srv.wait(job["id"])
        assert failed["status"] == "erro" and "terminou de forma inesperada" in failed["erro"], failed
        assert "longo.pdf" in failed["erro"] and str(srv.uploads) not in failed["erro"]
        status, after = srv.upload(sample_pdf(TEXT_SAMPLES[0]), "depois.pdf")
        assert srv.wait(after["id"])["resultado"]["resultado_final"] == VERDICTS[TEXT_SAMPLES[0]]
        assert srv.leftovers() == []
