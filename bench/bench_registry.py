"""What building the registry record adds to an online CNPJ lookup.

    python bench/bench_registry.py            # 3,000 loopback lookups per variant
    python bench/bench_registry.py --quick    # 500

A loopback HTTP server answers every request with a published BrasilAPI answer
(Google Brasil, 3.6 KB, three partners). Three things are timed, interleaved
so that the machine's drift hits them alike:

  request alone      requests.get(...) and response.json(), as any client does
  _consultar_brasil_api  the same request, bounded in time and size
                     (quillon.bounded_requests), then the C++ record built from
                     the decoded answer (and the strict UTF-8 check of the body)

and, without the network (a stand-in for requests hands back the decoded
answer), the whole function against the same function written in plain
Python. Target: under 50 us added to the request.
"""

from __future__ import annotations

import argparse
import gc
import http.server
import json
import pathlib
import statistics
import sys
import threading
import time
import types

import requests
from _harness import per_call_ns, report

from quillon.contract.countries.br import cnpj

GOOGLE = "06990590000123"


def _fixture() -> bytes:
    repo = pathlib.Path(__file__).resolve().parent.parent
    return (repo / "tests" / "fixtures" / "registry" / "brasilapi" /
            "brasilapi_active_google_qsa_representante_legal.json").read_bytes()


def start_server(body: bytes) -> http.server.ThreadingHTTPServer:
    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def do_GET(self):  # noqa: N802
            self.send_response(200)
            self.send_header("Content-Type", "application/json; charset=utf-8")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


# --- the record mapping in plain Python (the baseline of the in-memory figure) ----
def py_record(data: dict, clean: str) -> dict:
    socios = [{
        "nome": s.get("nome_socio", ""), "qualificacao": s.get("qualificacao_socio", ""),
        "data_entrada": s.get("data_entrada_sociedade", ""),
        "cpf_representante": s.get("cpf_representante_legal", ""),
        "nome_representante": s.get("nome_representante_legal", ""),
        "qualificacao_representante": s.get("qualificacao_representante_legal", ""),
    } for s in data.get("qsa", [])]
    return {
        "fonte": "BrasilAPI", "cnpj": cnpj.formatar_cnpj(clean), "razao_social": data.get("razao_social", ""),
        "nome_fantasia": data.get("nome_fantasia", ""), "situacao": data.get("descricao_situacao_cadastral", ""),
        "data_situacao": data.get("data_situacao_cadastral", ""),
        "data_abertura": data.get("data_inicio_atividade", ""),
        "natureza_juridica": data.get("natureza_juridica", ""), "porte": data.get("porte", ""),
        "capital_social": data.get("capital_social", 0),
        "endereco": {"logradouro": data.get("logradouro", ""), "numero": data.get("numero", ""),
                     "complemento": data.get("complemento", ""), "bairro": data.get("bairro", ""),
                     "cidade": data.get("municipio", ""), "uf": data.get("uf", ""), "cep": data.get("cep", "")},
        "email": data.get("email", ""), "socios": socios,
    }


def py_consultar_brasil_api(cnpj_arg: str):
    """_consultar_brasil_api in plain Python, doing the same work (the
    baseline of the in-memory figure)."""
    clean = cnpj.limpar_cnpj(cnpj_arg)
    url = cnpj.BRASIL_API_URL.replace("{cnpj}", clean)
    try:
        response = cnpj.requests.get(url, headers={"User-Agent": cnpj.USER_AGENT}, timeout=cnpj.REQUEST_TIMEOUT)
        if response.status_code != 200:
            return None
        response.content.decode("utf-8")
        return py_record(response.json(), clean)
    except (requests.RequestException, ValueError):
        return None


def interleaved_us(variants: dict, rounds: int) -> dict:
    """Median microseconds per call of each variant, run in turn each round."""
    times = {name: [] for name in variants}
    gc.disable()
    try:
        for _ in range(rounds):
            for name, fn in variants.items():
                t0 = time.perf_counter_ns()
                fn()
                times[name].append((time.perf_counter_ns() - t0) / 1000)
    finally:
        gc.enable()
    return {name: statistics.median(ts) for name, ts in times.items()}


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--quick", action="store_true")
    args = ap.parse_args()
    rounds = 500 if args.quick else 3000

    body = _fixture()
    server = start_server(body)
    base = f"http://127.0.0.1:{server.server_address[1]}"
    cnpj.BRASIL_API_URL = base + "/api/cnpj/v1/{cnpj}"
    url = cnpj.BRASIL_API_URL.replace("{cnpj}", GOOGLE)
    headers = {"User-Agent": cnpj.USER_AGENT}

    def request_alone():
        r = requests.get(url, headers=headers, timeout=10)
        assert r.status_code == 200
        return r.json()

    def request_and_python_record():
        return py_record(request_alone(), GOOGLE)

    def lookup():
        return cnpj._consultar_brasil_api(GOOGLE)

    assert lookup() == request_and_python_record(), "the two records differ"
    for _ in range(50):  # warm up connections, caches, the allocator
        request_alone(), lookup()

    medians = interleaved_us({"request alone (get + json)": request_alone,
                              "request + record in plain Python": request_and_python_record,
                              "_consultar_brasil_api (C++ record)": lookup}, rounds)
    alone = medians["request alone (get + json)"]
    print(f"\n{rounds:,} loopback lookups of a {len(body):,}-byte BrasilAPI answer, medians, interleaved")
    for name, us in medians.items():
        print(f"  {name:<40} {us:9.1f} us/call   +{us - alone:6.1f} us over the request alone")

    # The record without the network: a stand-in for requests hands back the
    # decoded answer, so only the module's own work is timed.
    decoded = json.loads(body)
    response = types.SimpleNamespace(status_code=200, encoding="utf-8", content=body, json=lambda: decoded)
    stand_in = types.SimpleNamespace(get=lambda *a, **k: response, RequestException=requests.RequestException)
    real = cnpj.requests
    cnpj.requests = stand_in
    try:
        n = 20_000 if args.quick else 100_000
        ours = per_call_ns(lambda _: cnpj._consultar_brasil_api(GOOGLE), range(n))
        assert py_consultar_brasil_api(GOOGLE) == cnpj._consultar_brasil_api(GOOGLE)
        py = per_call_ns(lambda _: py_consultar_brasil_api(GOOGLE), range(n))
    finally:
        cnpj.requests = real
    report(f"Record from the decoded answer, no network ({n:,} calls)", [
        ("_consultar_brasil_api (URL, UTF-8 check, C++ record)", ours, None),
        ("the same function in plain Python", py, py / ours),
    ])
    added = ours / 1000
    print(f"\nbuilding the record adds {added:.1f} us per lookup (target: under 50 us): "
          f"{'met' if added < 50 else 'MISSED'}")
    server.shutdown()


if __name__ == "__main__":
    main()
