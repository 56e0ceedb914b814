"""The OpenAI path with the real openai client against a loopback server that
answers like the chat-completions API."""

import json
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

import pytest

pytest.importorskip("openai")

import quillon
from quillon.contract.models import ExtracaoDadosContrato, ExtracaoEmpresas
from quillon.engine.openai_provider import CircuitOpenError, strict_schema
from quillon.exceptions import ModelError
from quillon.resilience import CircuitBreaker

CONTRACT = ("CONTRATO DE PRESTAÇÃO DE SERVIÇOS\nACME LTDA, inscrita no CNPJ 11.222.333/0001-81, doravante "
            "denominada CONTRATANTE. Cláusula primeira: objeto, valor, vigência e foro.")
ANSWERS = {
    "ExtracaoEmpresas": {"empresas": [{"cnpj": "11.222.333/0001-81", "razao_social": "ACME LTDA", "nome_fantasia": None,
                                       "endereco": None, "papel_no_contrato": "contratante"}]},
    "ExtracaoDadosContrato": {"tipo_contrato": "prestação de serviços", "objeto": None, "data": None,
                              "vigencia": None, "valor": None, "foro": None},
}


class Server:
    """Answers POST /v1/chat/completions from a script of statuses, then with the structured answer."""

    def __init__(self, script=()):
        self.script = list(script)
        self.requests = []
        outer = self

        class Handler(BaseHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def do_POST(self):
                body = json.loads(self.rfile.read(int(self.headers["Content-Length"])))
                outer.requests.append(body)
                status = outer.script.pop(0) if outer.script else 200
                if status == 401:  # a server that quotes the credential it refuses
                    payload = {"error": {"message": f"Incorrect API key provided: {self.headers['Authorization']}",
                                         "type": "invalid_request_error", "code": "invalid_api_key"}}
                elif status != 200:
                    payload = {"error": {"message": f"status {status}", "type": "server_error", "code": None}}
                else:
                    name = body["response_format"]["json_schema"]["name"]
                    payload = {
                        "id": "chatcmpl-1", "object": "chat.completion", "created": 0, "model": body["model"],
                        "choices": [{"index": 0, "finish_reason": "stop",
                                     "message": {"role": "assistant", "content": json.dumps(ANSWERS[name])}}],
                        "usage": {"prompt_tokens": 1000, "completion_tokens": 200, "total_tokens": 1200},
                    }
                data = json.dumps(payload).encode()
                self.send_response(status)
                self.send_header("Content-Type", "application/json")
                self.send_header("Content-Length", str(len(data)))
                if status == 429:
                    self.send_header("Retry-After", "0")
                self.end_headers()
                self.wfile.write(data)

        self.httpd = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = f"http://127.0.0.1:{self.httpd.server_address[1]}/v1"
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()


@pytest.fixture
def server():
    servers = []

    def make(script=()):
        s = Server(script)
        servers.append(s)
        return s

    yield make
    for s in servers:
        s.close()


def engine_for(url, **kw):
    engine = quillon.Quillon(provider="openai", api_key="sk-test", model="gpt-4o-mini", base_url=url,
                             retry_min_wait=0, retry_max_wait=0, **kw)
    for qid, model in (("empresas", ExtracaoEmpresas), ("dados_contrato", ExtracaoDadosContrato)):
        engine.add_question(quillon.Question(
            config=quillon.QuestionConfig(id=qid, name=qid, tag=qid), system_prompt="Sistema",
            user_prompt="Analise:\n\n{texto}\n\nResponda.", keywords=["cnpj"], response_model=model))
    return engine


def test_structured_output_usage_and_cost(server):
    s = server()
    result = engine_for(s.url).process_text(CONTRACT)
    assert result.get_result("empresas").raw_result == ANSWERS["ExtracaoEmpresas"]
    first = s.requests[0]
    assert first["model"] == "gpt-4o-mini"
    assert first["messages"][0] == {"role": "system", "content": "Sistema"}
    assert first["messages"][1]["content"] == f"Analise:\n\n{CONTRACT}\n\nResponda."
    schema = first["response_format"]["json_schema"]
    assert schema["strict"] is True and schema["name"] == "ExtracaoEmpresas"
    assert schema["schema"]["additionalProperties"] is False
    assert result.total_metrics.tokens == 2400
    # gpt-4o-mini: $0.15 in, $0.60 out per million tokens
    assert result.total_metrics.cost_usd == pytest.approx(2 * (1000 * 0.15 + 200 * 0.60) / 1e6)


def test_rate_limit_then_success_is_retried(server):
    s = server([429])
    result = engine_for(s.url).process_text(CONTRACT)
    assert result.get_result("empresas").raw_result == ANSWERS["ExtracaoEmpresas"]
    assert len(s.requests) == 3  # 429, then the two questions


def test_server_error_storm_opens_the_breaker(server):
    s = server([500] * 100)
    engine = engine_for(s.url, max_retries=1, breaker=CircuitBreaker(failure_threshold=2, recovery_timeout=60))
    for _ in range(2):
        with pytest.raises(ModelError, match="HTTP 500"):
            engine.process_text(CONTRACT)
    sent = len(s.requests)
    assert sent == 4  # two calls, each tried twice
    with pytest.raises(CircuitOpenError):
        engine.process_text(CONTRACT)
    assert len(s.requests) == sent  # the open breaker kept the call from the network


# A backslash and a quote: the client's text shows the key escaped, as repr() writes it.
ECHOED_KEY = "sk-live-4f\\9'Zq"


def test_error_text_never_carries_the_key(server):
    s = server([401] * 10)
    engine = quillon.Quillon(provider="openai", api_key=ECHOED_KEY, base_url=s.url, retry_min_wait=0, retry_max_wait=0)
    engine.add_question(quillon.Question(config=quillon.QuestionConfig(id="e", name="e", tag="e"), user_prompt="{texto}",
                                         keywords=["cnpj"], response_model=ExtracaoEmpresas))
    with pytest.raises(ModelError) as caught:
        engine.process_text(CONTRACT)
    text = str(caught.value)
    assert "HTTP 401" in text and "Incorrect API key provided: Bearer ***" in text
    assert "sk-live" not in text and caught.value.__cause__ is None and caught.value.__suppress_context__


def test_command_error_line_and_record_never_carry_the_key(server):
    import os
    import subprocess
    import sys

    from extraction_scoring import EXAMPLES

    s = server([401] * 10)
    env = {k: v for k, v in os.environ.items() if k not in ("QUILLON_PROVIDER", "AZURE_API_KEY")}
    env.update(OPENAI_API_KEY=ECHOED_KEY, OPENAI_BASE_URL=s.url)
    done = subprocess.run([sys.executable, "-m", "quillon", "verificar", str(EXAMPLES / "contrato_servicos_aprovado.pdf"),
                           "--jsonl"], capture_output=True, text=True, env=env, timeout=120)
    assert done.returncode == 3 and s.requests  # the server was asked and refused
    [record] = [json.loads(line) for line in done.stdout.splitlines()]
    assert "HTTP 401" in record["erro"] and "Bearer ***" in record["erro"] and "HTTP 401" in done.stderr
    assert "sk-live" not in done.stdout + done.stderr


def test_non_contract_costs_nothing(server):
    s = server()
    result = engine_for(s.url).process_text("RECIBO\nRecebi a quantia de R$ 10,00 referente ao contrato, cláusula 1, foro.")
    assert not result.extracted and s.requests == []


def test_strict_schema_requires_every_property_and_drops_defaults():
    schema = strict_schema(ExtracaoEmpresas.model_json_schema())
    item = schema["$defs"]["EmpresaExtraida"]
    assert item["required"] == list(item["properties"]) and item["additionalProperties"] is False
    assert "default" not in json.dumps(schema)
