"""Azure OCR with retry, against a stand-in of the Azure SDK.

What the SDK receives (features, language, time-outs, the re-encoded image),
which errors are repeated, what is logged, and what comes back.
"""

import logging
import sys
import time
import types

import pytest
import tenacity

from ocr_helpers import FakeAzure, HttpError, ResponseError, decode, messages, png_bytes, read_result
from quillon import ocr

ENDPOINT = "https://exemplo.cognitiveservices.azure.com/"
KEY = "chave-secreta"
FAIL_FORMAT = "Azure OCR falhou após retries: %s"
RETRY_FORMAT = "OCR retry %d/3: %s"


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


# --- configuration -----------------------------------------------------------------
@pytest.mark.parametrize("key", ["", None])
def test_no_key_warns_and_neither_decodes_nor_calls(azure, monkeypatch, caplog, key):
    monkeypatch.setattr(ocr, "get_azure_config", lambda: (ENDPOINT, key))
    assert ocr.perform_azure_ocr(b"not an image at all") is None
    assert messages(caplog) == [("AZURE_AI_VISION_KEY não configurada!", ())]
    assert messages(caplog, "WARNING") == messages(caplog)
    assert azure.requests == []


def test_configuration_is_read_at_each_call(azure, monkeypatch):
    calls = []
    monkeypatch.setattr(ocr, "get_azure_config", lambda: calls.append(1) or (ENDPOINT, ""))
    ocr.perform_azure_ocr(png_bytes())
    ocr.perform_azure_ocr(png_bytes())
    assert len(calls) == 2


@pytest.mark.parametrize(
    ("config", "error"),
    [((ENDPOINT,), ValueError), ((ENDPOINT, KEY, "x"), ValueError), (None, TypeError), (42, TypeError)],
)
def test_configuration_that_is_no_pair_reaches_the_caller(azure, monkeypatch, config, error):
    monkeypatch.setattr(ocr, "get_azure_config", lambda: config)
    with pytest.raises(error, match="unpack"):
        ocr.perform_azure_ocr(png_bytes())


def test_module_setup():
    assert ocr.AZURE_OCR_TIMEOUT_SECONDS == 30
    assert logging.getLogger("azure.core.pipeline.policies.http_logging_policy").level == logging.WARNING
    assert ocr.logger.name == "quillon.ocr"


# --- the request -------------------------------------------------------------------
def test_exact_request(azure):
    azure.script = [read_result(["linha um"])]
    assert ocr.perform_azure_ocr(png_bytes((640, 480))) == "linha um"
    (req,) = azure.requests
    assert req["visual_features"] == ["READ"]
    assert req["language"] == "pt"
    assert req["connection_timeout"] == 30
    assert req["read_timeout"] == 30
    assert set(req) == {"client", "image_data", "visual_features", "language", "connection_timeout", "read_timeout"}
    img = decode(req["image_data"])
    assert (img.size, img.mode, img.format) == ((640, 480), "RGB", "PNG")
    client = req["client"]
    assert client.endpoint == ENDPOINT
    assert client.credential.key == KEY
    assert client.kwargs == {"retry_total": 0}  # this call's policy is the only retry layer
    assert client.closed


@pytest.mark.parametrize(
    ("image_format", "encoded_as"),
    [("png", "PNG"), ("PNG", "PNG"), ("jpg", "JPEG"), ("JPG", "JPEG"), ("jpeg", "JPEG"), ("JpEg", "JPEG"),
     ("bmp", "BMP"), ("tiff", "PNG"), ("gif", "PNG"), ("", "PNG")],
)
def test_image_is_re_encoded_in_the_requested_format(azure, image_format, encoded_as):
    ocr.perform_azure_ocr(png_bytes((300, 200)), image_format)
    img = decode(azure.requests[0]["image_data"])
    assert (img.format, img.mode, img.size) == (encoded_as, "RGB", (300, 200))


@pytest.mark.parametrize("mode", ["RGBA", "P", "L", "1", "CMYK"])
def test_every_image_mode_is_sent_as_rgb(azure, mode):
    from PIL import Image
    import io

    buf = io.BytesIO()
    Image.new(mode, (250, 260)).save(buf, format="TIFF" if mode == "CMYK" else "PNG")
    ocr.perform_azure_ocr(buf.getvalue(), "png")
    assert decode(azure.requests[0]["image_data"]).mode == "RGB"


@pytest.mark.parametrize(
    ("size", "sent"),
    [
        ((150, 1000), None),
        ((1000, 199), None),
        ((199, 199), None),
        ((200, 200), (200, 200)),
        ((16000, 200), (16000, 200)),  # only a side above 16000 is shrunk
        ((32000, 400), (16000, 200)),
        ((400, 32000), (200, 16000)),
        ((16001, 1000), (16000, 999)),  # 1000 * 16000/16001 = 999.9..., truncated
    ],
)
def test_size_limits(azure, caplog, size, sent):
    result = ocr.perform_azure_ocr(png_bytes(size), "png")
    if sent is None:
        assert result is None
        assert azure.requests == []
        assert messages(caplog) == []  # refused silently
    else:
        assert decode(azure.requests[0]["image_data"]).size == sent


@pytest.mark.parametrize("data", [b"", b"\x89PNG\r\n\x1a\n truncated", b"%PDF-1.4", bytearray(b"nada")])
def test_undecodable_image_is_logged_and_never_sent(azure, caplog, data):
    assert ocr.perform_azure_ocr(data) is None
    ((fmt, args),) = messages(caplog, "ERROR")
    assert fmt == FAIL_FORMAT
    assert isinstance(args[0], OSError)  # UnidentifiedImageError or a truncated-file error
    assert azure.requests == []


def test_bytes_like_inputs_are_accepted(azure):
    data = png_bytes((300, 300))
    for value in (data, bytearray(data), memoryview(data)):
        ocr.perform_azure_ocr(value)
    assert len(azure.requests) == 3


def test_missing_image_library_is_a_logged_failure(azure, monkeypatch, caplog):
    monkeypatch.setitem(sys.modules, "PIL.Image", None)
    assert ocr.perform_azure_ocr(png_bytes()) is None
    ((fmt, args),) = messages(caplog, "ERROR")
    assert fmt == FAIL_FORMAT and isinstance(args[0], ImportError)


# --- the answer --------------------------------------------------------------------
@pytest.mark.parametrize(
    ("answer", "text"),
    [
        (read_result(["x", "y"], ["z"]), "x\ny\nz"),
        (read_result(["  cabeçalho  "], [], ["rodapé\n"]), "cabeçalho  \nrodapé"),
        (read_result(["   ", "\t"], [" "]), None),
        (read_result(), None),
        (types.SimpleNamespace(read=None), None),
        (types.SimpleNamespace(), None),
    ],
)
def test_read_lines_are_joined_by_newlines(azure, answer, text):
    azure.script = [answer]
    assert ocr.perform_azure_ocr(png_bytes()) == text
    assert len(azure.requests) == 1


# --- retries -----------------------------------------------------------------------
@pytest.mark.parametrize(
    ("error", "transient"),
    [
        (HttpError(400), False),
        (HttpError(401), False),
        (HttpError(403), False),
        (HttpError(404), False),
        (HttpError(408), False),
        (HttpError(429), True),
        (HttpError(500), True),
        (HttpError(502), True),
        (HttpError(503), True),
        (ResponseError(502), True),
        (ResponseError(401), False),
        (TimeoutError("time-out"), True),
        (ConnectionError("reset"), True),
        (HttpError(None), True),
        (HttpError(503.0), True),
        (HttpError(2**70), True),
    ],
)
def test_is_transient_azure_error(error, transient):
    assert ocr._is_transient_azure_error(error) is transient
    assert ocr._is_transient_azure_error(exc=error) is transient


def test_status_on_the_error_wins_over_its_response():
    error = HttpError(401)
    error.response = types.SimpleNamespace(status_code=503)
    assert ocr._is_transient_azure_error(error) is False
    assert ocr._is_transient_azure_error(ResponseError(None)) is True


def test_a_status_property_that_fails_otherwise_is_not_swallowed():
    class Odd(Exception):
        @property
        def status_code(self):
            raise KeyError("boom")

    with pytest.raises(KeyError):
        ocr._is_transient_azure_error(Odd())


@pytest.mark.parametrize("status", [400, 401, 403, 404])
def test_permanent_errors_end_the_call_after_one_attempt(azure, caplog, sleeps, status):
    error = HttpError(status)
    azure.script = [error, read_result(["never"])]
    assert ocr.perform_azure_ocr(png_bytes()) is None
    assert len(azure.requests) == 1
    assert messages(caplog) == [(FAIL_FORMAT, (error,))]
    assert sleeps == []


@pytest.mark.parametrize(
    "error", [HttpError(429), HttpError(500), HttpError(503), ResponseError(502), OSError("rede fora")]
)
def test_transient_error_then_success(azure, caplog, sleeps, error):
    azure.script = [error, read_result(["recuperado"])]
    assert ocr.perform_azure_ocr(png_bytes()) == "recuperado"
    assert len(azure.requests) == 2
    assert messages(caplog) == [(RETRY_FORMAT, (1, type(error).__name__))]
    assert messages(caplog, "WARNING") == messages(caplog)
    assert len(sleeps) == 1 and 0 <= sleeps[0] <= 1
    assert azure.clients[0] is not azure.clients[1]  # a client per attempt
    assert all(c.closed for c in azure.clients)


def test_three_transient_errors_give_up_with_the_last_one(azure, caplog, sleeps):
    errors = [HttpError(503, "primeiro"), HttpError(503, "segundo"), HttpError(503, "terceiro")]
    azure.script = list(errors)
    assert ocr.perform_azure_ocr(png_bytes()) is None
    assert len(azure.requests) == 3
    assert messages(caplog) == [
        (RETRY_FORMAT, (1, "HttpError")),
        (RETRY_FORMAT, (2, "HttpError")),
        (FAIL_FORMAT, (errors[2],)),  # raised unchanged, not a RetryError
    ]
    assert len(sleeps) == 2 and 0 <= sleeps[0] <= 1 and 0 <= sleeps[1] <= 2


def test_transient_then_permanent_stops_at_once(azure, caplog, sleeps):
    azure.script = [HttpError(429), HttpError(401), read_result(["never"])]
    assert ocr.perform_azure_ocr(png_bytes()) is None
    assert len(azure.requests) == 2
    assert [m[0] for m in messages(caplog)] == [RETRY_FORMAT, FAIL_FORMAT]


def test_sdk_that_cannot_be_loaded_is_retried_then_logged(azure, monkeypatch, caplog, sleeps):
    monkeypatch.setitem(sys.modules, "azure.ai.vision.imageanalysis", None)
    assert ocr.perform_azure_ocr(png_bytes()) is None
    assert messages(caplog)[:2] == [(RETRY_FORMAT, (1, "ModuleNotFoundError")), (RETRY_FORMAT, (2, "ModuleNotFoundError"))]
    fmt, args = messages(caplog)[2]
    assert fmt == FAIL_FORMAT and isinstance(args[0], ImportError)


def test_line_that_is_not_text_fails_the_attempt(azure, caplog):
    bad = types.SimpleNamespace(read=types.SimpleNamespace(blocks=[types.SimpleNamespace(lines=[types.SimpleNamespace(text=7)])]))
    azure.script = [bad, bad, bad]
    assert ocr.perform_azure_ocr(png_bytes()) is None
    assert isinstance(messages(caplog, "ERROR")[0][1][0], TypeError)


def test_retry_predicate_is_looked_up_at_each_call(azure, monkeypatch, caplog):
    monkeypatch.setattr(ocr, "_is_transient_azure_error", lambda exc: False)
    azure.script = [HttpError(503), read_result(["never"])]
    assert ocr.perform_azure_ocr(png_bytes()) is None
    assert len(azure.requests) == 1


def test_retry_policy_is_tenacitys_built_per_call(azure, monkeypatch):
    built = []
    real = tenacity.Retrying

    def spy(*args, **kwargs):
        built.append(kwargs)
        return real(*args, **kwargs)

    monkeypatch.setattr(tenacity, "Retrying", spy)
    ocr.perform_azure_ocr(png_bytes())
    ocr.perform_azure_ocr(png_bytes())
    assert len(built) == 2 and built[0]["before_sleep"] is not built[1]["before_sleep"]
    policy = built[0]
    assert policy["stop"].max_attempt_number == 3
    assert isinstance(policy["wait"], tenacity.wait_random_exponential)
    assert (policy["wait"].multiplier, policy["wait"].max) == (1, 16)
    assert isinstance(policy["retry"], tenacity.retry_if_exception)
    assert policy["reraise"] is True
    assert policy["before_sleep"].__name__ == "_log_ocr_retry"


def test_retry_log_without_outcome_names_unknown(azure, monkeypatch, caplog):
    hooks = []
    real = tenacity.Retrying
    monkeypatch.setattr(tenacity, "Retrying", lambda **kw: hooks.append(kw["before_sleep"]) or real(**kw))
    ocr.perform_azure_ocr(png_bytes())
    hooks[0](types.SimpleNamespace(attempt_number=2, outcome=None))
    assert messages(caplog)[-1] == (RETRY_FORMAT, (2, "unknown"))


@pytest.mark.parametrize("interrupt", [KeyboardInterrupt(), SystemExit(3)])
def test_interrupts_are_neither_retried_nor_swallowed(azure, caplog, interrupt):
    azure.script = [interrupt, read_result(["never"])]
    with pytest.raises(type(interrupt)):
        ocr.perform_azure_ocr(png_bytes())
    assert len(azure.requests) == 1
    assert messages(caplog) == []
    assert ocr._is_transient_azure_error(interrupt) is False


# --- arguments and documentation -----------------------------------------------------
@pytest.mark.parametrize(
    ("args", "kwargs", "message"),
    [
        (("caminho.png",), {}, r"perform_azure_ocr\(\) argument 'image_bytes' must be a bytes-like object, not str"),
        ((None,), {}, r"argument 'image_bytes'"),
        ((b"x", None), {}, r"perform_azure_ocr\(\) argument 'image_format' must be str, not NoneType"),
        ((b"x",), {"image_format": 3}, r"argument 'image_format' must be str"),
        ((), {}, r"perform_azure_ocr\(\)"),
        ((b"x",), {"formato": "png"}, r"perform_azure_ocr\(\)"),
    ],
)
def test_argument_errors(azure, args, kwargs, message):
    with pytest.raises(TypeError, match=message):
        ocr.perform_azure_ocr(*args, **kwargs)
    assert azure.requests == []


def test_documentation_texts():
    doc = ocr.perform_azure_ocr.__doc__.split("\n\n", 1)[1]
    assert doc.startswith("Realiza OCR usando Azure AI Vision com retry e backoff exponencial.\n")
    for line in ("image_bytes: Bytes da imagem", "image_format: Formato da imagem", "Texto extraído ou None"):
        assert line in doc
    assert ocr._is_transient_azure_error.__doc__.split("\n\n", 1)[1] == (
        "Decide se vale repetir a chamada de OCR.\n\n"
        "    Credencial errada (401/403) e imagem recusada (400) não melhoram na\n"
        "    segunda tentativa: antes o retry disparava em qualquer exceção e gastava\n"
        "    três chamadas e ~17s de backoff para devolver o mesmo erro.\n    "
    )
