"""The real Azure AI Vision client against a loopback server answering like the
Image Analysis REST service: the SDK path itself, without the cloud."""

import http.server
import json
import logging
import threading
import time
import urllib.parse

import pytest

from ocr_helpers import decode, messages, png_bytes
from quillon import ocr

pytest.importorskip("azure.ai.vision.imageanalysis")

KEY = "chave-de-teste"
TEXT = "CONTRATO Nº 06/2025\nCONTRATANTE: FAPESPA\nCNPJ 09.025.418/0001-28"
READ_ANSWER = {
    "modelVersion": "2023-10-01",
    "metadata": {"width": 640, "height": 480},
    "readResult": {"blocks": [
        {"lines": [
            {"text": "CONTRATO Nº 06/2025", "boundingPolygon": [{"x": 1, "y": 1}, {"x": 90, "y": 9}], "words": []},
            {"text": "CONTRATANTE: FAPESPA", "boundingPolygon": [], "words": []},
        ]},
        {"lines": [{"text": "CNPJ 09.025.418/0001-28", "boundingPolygon": [], "words": []}]},
    ]},
}


def error(status, code, message):
    return status, {"error": {"code": code, "message": message}}


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):  # noqa: N802
        url = urllib.parse.urlsplit(self.path)
        body = self.rfile.read(int(self.headers["Content-Length"]))
        self.server.requests.append((url.path, urllib.parse.parse_qs(url.query), self.headers, body))
        status, answer = self.server.script.pop(0) if self.server.script else (200, READ_ANSWER)
        data = json.dumps(answer).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json; charset=utf-8")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def log_message(self, *args):
        pass


@pytest.fixture
def service(monkeypatch, caplog):
    for var in ("HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY", "http_proxy", "https_proxy", "all_proxy"):
        monkeypatch.delenv(var, raising=False)
    monkeypatch.setenv("NO_PROXY", "127.0.0.1")
    monkeypatch.setattr(time, "sleep", lambda s: None)
    caplog.set_level(logging.INFO, logger="quillon.ocr")
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.script, server.requests = [], []
    server.endpoint = f"http://127.0.0.1:{server.server_address[1]}"
    threading.Thread(target=server.serve_forever, daemon=True).start()
    monkeypatch.setattr(ocr, "get_azure_config", lambda: (server.endpoint, KEY))
    monkeypatch.setattr(ocr, "AZURE_OCR_TIMEOUT_SECONDS", 5)
    yield server
    server.shutdown()
    server.server_close()


def test_read_result_through_the_sdk(service):
    assert ocr.perform_azure_ocr(png_bytes((640, 480)), "jpg") == TEXT
    ((path, query, headers, body),) = service.requests
    assert path == "/computervision/imageanalysis:analyze"
    assert (query["features"], query["language"]) == (["read"], ["pt"])
    assert (headers["Ocp-Apim-Subscription-Key"], headers["Content-Type"]) == (KEY, "application/octet-stream")
    img = decode(body)
    assert (img.format, img.mode, img.size) == ("JPEG", "RGB", (640, 480))


@pytest.mark.parametrize(
    ("script", "requests", "result", "logged"),
    [
        ([error(401, "401", "Access denied due to invalid subscription key.")], 1, None, ["ClientAuthenticationError"]),
        ([error(429, "429", "Rate limit is exceeded.")], 2, TEXT, [(1, "HttpResponseError")]),
        ([error(503, "ServiceUnavailable", "Tente mais tarde.")] * 3, 3, None,
         [(1, "HttpResponseError"), (2, "HttpResponseError"), "HttpResponseError"]),
    ],
    ids=["401", "429-then-ok", "503-three-times"],
)
def test_service_errors(service, caplog, script, requests, result, logged):
    service.script = list(script)
    assert ocr.perform_azure_ocr(png_bytes()) == result
    assert len(service.requests) == requests  # the client's own retry policy is off
    got = [args if fmt.startswith("OCR retry") else type(args[0]).__name__ for fmt, args in messages(caplog)]
    assert got == logged
    if result is None:
        assert messages(caplog)[-1][1][0].status_code == script[-1][0]


def test_unreachable_service_is_an_error_without_status(service, caplog):
    service.shutdown()
    service.server_close()
    assert ocr.perform_azure_ocr(png_bytes()) is None
    assert [args for _, args in messages(caplog, "WARNING")] == [(1, "ServiceRequestError"), (2, "ServiceRequestError")]
