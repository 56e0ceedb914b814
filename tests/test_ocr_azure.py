"""Azure OCR with retry, against a stand-in of the Azure SDK: what the SDK
receives, which errors are repeated, what is logged and what comes back."""

import io
import logging
import sys
import time

import pytest
import tenacity
from PIL import Image

from ocr_helpers import FakeAzure, HttpError, ResponseError, decode, messages, ns, png_bytes, read_result
from quillon import ocr

ENDPOINT, KEY = "https://exemplo.cognitiveservices.azure.com/", "chave-secreta"
FAIL, RETRY = "Azure OCR falhou após retries: %s", "OCR retry %d/3: %s"


@pytest.fixture
def sleeps(monkeypatch):
    waits = []
    monkeypatch.setattr(time, "sleep", waits.append)
    return waits


@pytest.fixture
def azure(monkeypatch, sleeps, caplog):
    caplog.set_level(logging.INFO, logger="quillon.ocr")
    monkeypatch.setattr(ocr, "get_azure_config", lambda: (ENDPOINT, KEY))
    fake = FakeAzure()
    fake.install(monkeypatch)
    return fake


def test_module_setup():
    assert ocr.AZURE_OCR_TIMEOUT_SECONDS == 30
    assert logging.getLogger("azure.core.pipeline.policies.http_logging_policy").level == logging.WARNING


@pytest.mark.parametrize("key", ["", None])
def test_no_key_warns_and_neither_decodes_nor_calls(azure, monkeypatch, caplog, key):
    monkeypatch.setattr(ocr, "get_azure_config", lambda: (ENDPOINT, key))
    assert ocr.perform_azure_ocr(b"nem sequer uma imagem") is None
    assert messages(caplog, "WARNING") == messages(caplog) == [("AZURE_AI_VISION_KEY não configurada!", ())]
    assert azure.requests == []


@pytest.mark.parametrize(
    ("config", "error"), [((ENDPOINT,), ValueError), ((ENDPOINT, KEY, 1), ValueError), (None, TypeError)]
)
def test_configuration_that_is_no_pair_reaches_the_caller(azure, monkeypatch, config, error):
    monkeypatch.setattr(ocr, "get_azure_config", lambda: config)
    with pytest.raises(error, match="unpack"):
        ocr.perform_azure_ocr(png_bytes())


def test_exact_request(azure):
    azure.script = [read_result(["linha um"])]
    assert ocr.perform_azure_ocr(memoryview(png_bytes((640, 480), "RGBA"))) == "linha um"
    (req,) = azure.requests
    assert {k: v for k, v in req.items() if k not in ("client", "image_data")} == {
        "visual_features": ["READ"], "language": "pt", "connection_timeout": 30, "read_timeout": 30}
    img = decode(req["image_data"])
    assert (img.size, img.mode, img.format) == ((640, 480), "RGB", "PNG")
    client = req["client"]
    assert (client.endpoint, client.credential.key, client.closed) == (ENDPOINT, KEY, True)
    assert client.kwargs == {"retry_total": 0}  # this call's retry policy is the only one


@pytest.mark.parametrize(
    ("image_format", "mode", "encoded_as"),
    [("png", "RGB", "PNG"), ("jpg", "RGBA", "JPEG"), ("JPG", "P", "JPEG"), ("JpEg", "L", "JPEG"), ("bmp", "1", "BMP"),
     ("tiff", "LA", "PNG"), ("", "RGB", "PNG")],
)
def test_image_is_re_encoded_as_rgb_in_the_requested_format(azure, image_format, mode, encoded_as):
    ocr.perform_azure_ocr(png_bytes((300, 200), mode), image_format)
    img = decode(azure.requests[0]["image_data"])
    assert (img.format, img.mode, img.size) == (encoded_as, "RGB", (300, 200))


@pytest.mark.parametrize(
    ("size", "sent"),
    [((150, 1000), None), ((1000, 199), None), ((200, 200), (200, 200)), ((16000, 200), (16000, 200)),
     ((32000, 400), (16000, 200)), ((400, 32000), (200, 16000)), ((16001, 1000), (16000, 999))],
)
def test_size_limits(azure, caplog, size, sent):
    ocr.perform_azure_ocr(png_bytes(size))
    assert [decode(r["image_data"]).size for r in azure.requests] == ([sent] if sent else [])
    assert messages(caplog) == []  # a small image is refused silently


@pytest.mark.parametrize(
    ("data", "error"),
    [(b"", "UnidentifiedImageError"), (b"\x89PNG\r\n\x1a\n cortado", "OSError"),
     (bytearray(b"%PDF-1.4"), "UnidentifiedImageError"), (png_bytes((1000, 401)), "DecompressionBombError")],
)
def test_image_that_cannot_be_decoded_is_logged_and_never_sent(azure, monkeypatch, caplog, data, error):
    monkeypatch.setattr(Image, "MAX_IMAGE_PIXELS", 200_000)  # refused above twice this
    assert ocr.perform_azure_ocr(data) is None
    ((fmt, (exc,)),) = messages(caplog)
    assert fmt == FAIL and type(exc).__name__ == error
    assert azure.requests == []


def test_missing_image_library_is_a_logged_failure(azure, monkeypatch, caplog):
    monkeypatch.setitem(sys.modules, "PIL.Image", None)
    assert ocr.perform_azure_ocr(png_bytes()) is None
    ((fmt, (exc,)),) = messages(caplog)
    assert fmt == FAIL and isinstance(exc, ImportError)


@pytest.mark.parametrize(
    ("answer", "text"),
    [(read_result(["x", "y"], ["z"]), "x\ny\nz"),
     (read_result(["  cabeçalho "], [], ["rodapé\n"]), "cabeçalho \nrodapé"),
     (read_result(["   ", "\t"], [" "]), None), (read_result(), None), (ns(read=None), None), (ns(), None)],
)
def test_read_lines_are_joined_by_newlines(azure, answer, text):
    azure.script = [answer]
    assert ocr.perform_azure_ocr(png_bytes()) == text


STATUSES = [(400, False), (401, False), (403, False), (404, False), (429, True), (500, True), (503, True)]


@pytest.mark.parametrize(
    ("error", "transient"),
    [*[(HttpError(s), t) for s, t in STATUSES], (ResponseError(502), True), (ResponseError(401), False),
     (ResponseError(None), True), (TimeoutError(), True), (ConnectionError(), True), (ImportError(), True),
     (HttpError(503.0), True), (HttpError(2**70), True), (KeyboardInterrupt(), False), (SystemExit(), False)],
)
def test_is_transient_azure_error(error, transient):
    assert ocr._is_transient_azure_error(exc=error) is transient


def test_status_on_the_error_wins_over_its_response():
    error = HttpError(401)
    error.response = ns(status_code=503)
    assert ocr._is_transient_azure_error(error) is False


@pytest.mark.parametrize(("status", "transient"), STATUSES + [(None, True)])
def test_retry_decisions(azure, caplog, sleeps, status, transient):
    errors = [HttpError(status, f"tentativa {n}") for n in (1, 2, 3)]
    azure.script = list(errors)
    assert ocr.perform_azure_ocr(png_bytes()) is None
    attempts = 3 if transient else 1
    assert len(azure.requests) == len(azure.clients) == attempts  # a new client per attempt
    retries = [(RETRY, (n, "HttpError")) for n in range(1, attempts)]
    assert messages(caplog) == retries + [(FAIL, (errors[attempts - 1],))]
    assert [level for level in (r.levelname for r in caplog.records)] == ["WARNING"] * (attempts - 1) + ["ERROR"]
    assert len(sleeps) == attempts - 1 and all(0 <= s <= 2 ** n for n, s in enumerate(sleeps))


@pytest.mark.parametrize("error", [HttpError(429), ResponseError(502), OSError("rede fora")])
def test_transient_error_then_success(azure, caplog, sleeps, error):
    azure.script = [error, read_result(["recuperado"])]
    assert ocr.perform_azure_ocr(png_bytes()) == "recuperado"
    assert messages(caplog) == [(RETRY, (1, type(error).__name__))]
    assert len(sleeps) == 1 and 0 <= sleeps[0] <= 1 and all(c.closed for c in azure.clients)


def test_sdk_that_cannot_be_loaded_is_retried_then_logged(azure, monkeypatch, caplog):
    monkeypatch.setitem(sys.modules, "azure.ai.vision.imageanalysis", None)
    assert ocr.perform_azure_ocr(png_bytes()) is None
    assert [m for m in messages(caplog)[:2]] == [(RETRY, (n, "ModuleNotFoundError")) for n in (1, 2)]
    assert isinstance(messages(caplog)[2][1][0], ImportError)


@pytest.mark.parametrize("interrupt", [KeyboardInterrupt(), SystemExit(3)])
def test_interrupts_are_neither_retried_nor_swallowed(azure, caplog, interrupt):
    azure.script = [interrupt]
    with pytest.raises(type(interrupt)):
        ocr.perform_azure_ocr(png_bytes())
    assert len(azure.requests) == 1 and messages(caplog) == []


def test_retry_policy_is_tenacitys_built_per_call(azure, monkeypatch, caplog):
    built, real = [], tenacity.Retrying
    monkeypatch.setattr(tenacity, "Retrying", lambda **kw: built.append(kw) or real(**kw))
    monkeypatch.setattr(ocr, "_is_transient_azure_error", lambda exc: False)  # looked up at each call
    azure.script = [HttpError(503)]
    ocr.perform_azure_ocr(png_bytes())
    ocr.perform_azure_ocr(png_bytes())
    assert len(azure.requests) == 2 and built[0]["before_sleep"] is not built[1]["before_sleep"]
    policy = built[0]
    assert policy["stop"].max_attempt_number == 3 and policy["reraise"] is True
    assert isinstance(policy["wait"], tenacity.wait_random_exponential)
    assert (policy["wait"].multiplier, policy["wait"].max) == (1, 16)
    assert policy["retry"].predicate is ocr._is_transient_azure_error
    assert policy["before_sleep"].__name__ == "_log_ocr_retry"
    policy["before_sleep"](ns(attempt_number=2, outcome=None))
    assert messages(caplog)[-1] == (RETRY, (2, "unknown"))


@pytest.mark.parametrize(
    ("args", "message"),
    [(("caminho.png",), r"perform_azure_ocr\(\) argument 'image_bytes' must be a bytes-like object, not str"),
     ((b"x", None), r"perform_azure_ocr\(\) argument 'image_format' must be str, not NoneType"),
     ((), r"perform_azure_ocr\(\)")],
)
def test_argument_errors(azure, args, message):
    with pytest.raises(TypeError, match=message):
        ocr.perform_azure_ocr(*args)


def test_every_image_mode_goes_through_pillow(azure):
    buf = io.BytesIO()
    Image.new("CMYK", (250, 260)).save(buf, format="TIFF")
    ocr.perform_azure_ocr(buf.getvalue(), "jpeg")
    assert decode(azure.requests[0]["image_data"]).mode == "RGB"
