"""The real Azure AI Vision client against a loopback server that answers like
the Image Analysis REST service: the SDK path itself, without the cloud."""

import http.server
import io
import json
import logging
import threading
import time
import urllib.parse

import pytest

pytest.importorskip("azure.ai.vision.imageanalysis")

from ocr_helpers import messages, png_bytes  # noqa: E402
from PIL import Image  # noqa: E402
from quillon import ocr  # noqa: E402

KEY = "chave-de-teste"

READ_ANSWER = {
    "modelVersion": "2023-10-01",
    "metadata": {"width": 640, "height": 480},
    "readResult": {
        "blocks": [
            {
                "lines": [
                    {
                        "text": "CONTRATO Nº 06/2025",
                        "boundingPolygon": [{"x": 1, "y": 1}, {"x": 90, "y": 1}, {"x": 90, "y": 9}, {"x": 1, "y": 9}],
                        "words": [],
                    },
                    {"text": "CONTRATANTE: FAPESPA", "boundingPolygon": [], "words": []},
                ]
            },
            {"lines": [{"text": "CNPJ 09.025.418/0001-28", "boundingPolygon": [], "words": []}]},
        ]
    },
}


def error_answer(status, code, message):
    return status, {"error": {"code": code, "message": message}}


class Service(http.server.ThreadingHTTPServer):
    """Answers each POST with the next scripted (status, body) and keeps the requests."""

    def __init__(self):
        super().__init__(("127.0.0.1", 0), Handler)
        self.script = []
        self.requests = []

    @property
    def endpoint(self):
        return f"http://127.0.0.1:{self.server_address[1]}"


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):  # noqa: N802
        body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        url = urllib.parse.urlsplit(self.path)
        self.server.requests.append(
            {"path": url.path, "query": urllib.parse.parse_qs(url.query), "headers": dict(self.headers), "body": body}
        )
        status, answer = self.server.script.pop(0) if self.server.script else (200, READ_ANSWER)
        data = json.dumps(answer).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json; charset=utf-8")
        self.send_header("Content-Length", str(len(data)))
        self.send_header("apim-request-id", "00000000-0000-0000-0000-000000000000")
        self.end_headers()
        self.wfile.write(data)

    def log_message(self, *args):
        pass


@pytest.fixture
def service(monkeypatch, caplog):
    for var in ("HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY", "http_proxy", "https_proxy", "all_proxy"):
        monkeypatch.delenv(var, raising=False)
    monkeypatch.setenv("NO_PROXY", "127.0.0.1,localhost")
    monkeypatch.setattr(time, "sleep", lambda s: None)
    caplog.set_level(logging.INFO, logger="quillon.ocr")
    server = Service()
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    monkeypatch.setattr(ocr, "get_azure_config", lambda: (server.endpoint, KEY))
    monkeypatch.setattr(ocr, "AZURE_OCR_TIMEOUT_SECONDS", 5)
    yield server
    server.shutdown()
    server.server_close()


def test_read_result_through_the_sdk(service):
    text = ocr.perform_azure_ocr(png_bytes((640, 480)), "jpg")
    assert text == "CONTRATO Nº 06/2025\nCONTRATANTE: FAPESPA\nCNPJ 09.025.418/0001-28"
    (req,) = service.requests
    assert req["path"] == "/computervision/imageanalysis:analyze"
    assert req["query"]["features"] == ["read"]
    assert req["query"]["language"] == ["pt"]
    headers = {k.lower(): v for k, v in req["headers"].items()}
    assert headers["ocp-apim-subscription-key"] == KEY
    assert headers["content-type"] == "application/octet-stream"
    img = Image.open(io.BytesIO(req["body"]))
    assert (img.format, img.mode, img.size) == ("JPEG", "RGB", (640, 480))


def test_401_is_one_request_and_a_logged_failure(service, caplog):
    service.script = [error_answer(401, "401", "Access denied due to invalid subscription key.")]
    assert ocr.perform_azure_ocr(png_bytes()) is None
    assert len(service.requests) == 1
    ((fmt, args),) = messages(caplog)
    assert fmt == "Azure OCR falhou após retries: %s"
    assert type(args[0]).__name__ == "ClientAuthenticationError"
    assert args[0].status_code == 401
    assert "invalid subscription key" in str(args[0])


def test_429_is_repeated_then_read(service, caplog):
    service.script = [error_answer(429, "429", "Rate limit is exceeded.")]
    assert ocr.perform_azure_ocr(png_bytes()) == "CONTRATO Nº 06/2025\nCONTRATANTE: FAPESPA\nCNPJ 09.025.418/0001-28"
    assert len(service.requests) == 2  # the client's own retry policy is off
    assert messages(caplog) == [("OCR retry %d/3: %s", (1, "HttpResponseError"))]


def test_503_three_times_is_three_requests_and_none(service, caplog):
    service.script = [error_answer(503, "ServiceUnavailable", "Tente mais tarde.")] * 3
    assert ocr.perform_azure_ocr(png_bytes()) is None
    assert len(service.requests) == 3
    assert [m[0] for m in messages(caplog)] == ["OCR retry %d/3: %s", "OCR retry %d/3: %s", "Azure OCR falhou após retries: %s"]
    assert messages(caplog)[2][1][0].status_code == 503


def test_unreachable_service_is_repeated_as_an_error_without_status(service, caplog, monkeypatch):
    service.shutdown()
    service.server_close()
    monkeypatch.setattr(ocr, "get_azure_config", lambda: (service.endpoint, KEY))
    assert ocr.perform_azure_ocr(png_bytes()) is None
    names = [m[1][1] for m in messages(caplog, "WARNING")]
    assert names == ["ServiceRequestError", "ServiceRequestError"]
