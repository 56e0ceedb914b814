"""Vision fallback: the page payload, the chat-completions route and the Google route."""

import base64
import logging
import sys

import pymupdf
import pytest

import quillon.providers.google as google_provider
from ocr_helpers import PageLayout, Recorder, make_pdf, messages, ns, png_bytes
from quillon import ocr
from quillon.config import VISION_FALLBACK_PROMPT

IMAGE = png_bytes((300, 300))
REFUSED = "Vision fallback recebeu PDF para o provider '%s', que so aceita imagem; pagina ignorada."


def chat(content):
    return ns(choices=[ns(message=ns(content=content))])


def raising(error):
    def call(*args, **kwargs):
        raise error
    return call


@pytest.fixture(autouse=True)
def logs(caplog):
    caplog.set_level(logging.INFO, logger="quillon.ocr")
    return caplog


@pytest.fixture
def google(monkeypatch):
    fake = Recorder(default="  texto do gemini \n")
    monkeypatch.setattr(google_provider, "call_vision", fake)
    return fake


def test_payload_per_provider(monkeypatch):
    with pymupdf.open(stream=make_pdf(["primeira", PageLayout(text="segunda", image=True)]), filetype="pdf") as doc:
        data, fmt = ocr._vision_payload(doc, 1, "google")
        with pymupdf.open(stream=data, filetype="pdf") as single:
            assert (fmt, single.page_count, single.load_page(0).get_text().strip()) == ("pdf", 1, "segunda")
        for provider in ("openai", "azure", "Google", ""):
            assert ocr._vision_payload(doc, 1, provider) == (ocr.render_page_as_image(doc, 1, 150), "png")
        with pytest.raises(ValueError):
            ocr._vision_payload(doc, 2, "google")  # rendering errors are not caught
        renders = Recorder(default=b"png")
        monkeypatch.setattr(ocr, "render_page_as_image", renders)  # looked up at each call
        assert ocr._vision_payload(doc=doc, page_num=1.7, provider="openai") == (b"png", "png")
        assert renders.calls == [((doc, 1), {})]


def test_exact_message_list(logs):
    caller = Recorder(default=chat("  Texto lido.\n"))
    assert ocr.perform_vision_fallback(IMAGE, caller) == "Texto lido."
    url = "data:image/png;base64," + base64.b64encode(IMAGE).decode()
    assert caller.calls == [(([
        {"role": "system", "content": VISION_FALLBACK_PROMPT},
        {"role": "user", "content": [
            {"type": "image_url", "image_url": {"url": url}},
            {"type": "text", "text": "Extraia todo o texto visível nesta página do documento."},
        ]},
    ], None), {})]
    assert [list(m) for m in caller.calls[0][0][0]] == [["role", "content"]] * 2
    assert messages(logs) == []


@pytest.mark.parametrize(
    ("image_format", "mime"),
    [(None, "image/png"), ("", "image/png"), ("PNG", "image/png"), ("jpg", "image/jpeg"), ("JPG", "image/jpeg"),
     ("jpeg", "image/jpeg"), ("webp", "image/webp")],
)
@pytest.mark.parametrize("data", [b"", b"\xff\xfe", bytearray(b"abcd"), memoryview(bytes(range(256)) * 3)])
def test_data_url(image_format, mime, data):
    caller = Recorder(default=chat("ok"))
    ocr.perform_vision_fallback(data, caller, image_format)
    url = caller.calls[0][0][0][1]["content"][0]["image_url"]["url"]
    assert url == f"data:{mime};base64," + base64.b64encode(bytes(data)).decode()


@pytest.mark.parametrize(("image_format", "provider"), [("pdf", "openai"), ("PDF", "azure"), ("pdf", "Google")])
def test_chat_route_refuses_a_pdf(logs, image_format, provider):
    caller = Recorder(default=chat("never"))
    assert ocr.perform_vision_fallback(b"%PDF", caller, image_format, provider) is None
    assert caller.calls == []
    assert messages(logs, "ERROR") == messages(logs) == [(REFUSED, (provider,))]


@pytest.mark.parametrize(
    ("caller", "result", "error"),
    [
        (None, None, None),
        (Recorder(default=chat("\n  texto com espaço \t\n")), "texto com espaço", None),
        (Recorder(default=chat("   \n\t ")), None, None),
        (Recorder(default=chat("")), None, None),
        (Recorder(default=chat(None)), None, None),
        (raising(RuntimeError("cota excedida")), None, RuntimeError),
        (Recorder(default=ns()), None, AttributeError),
        (Recorder(default=ns(choices=[])), None, IndexError),
        (Recorder(default=ns(choices=[ns()])), None, AttributeError),
        (Recorder(default=chat(42)), None, TypeError),
        ("não chamável", None, TypeError),
    ],
)
def test_chat_answers_and_failures(logs, caller, result, error):
    assert ocr.perform_vision_fallback(IMAGE, caller) == result
    if error is None:
        assert messages(logs) == []
    else:
        ((fmt, (exc,)),) = messages(logs, "ERROR")
        assert fmt == "Vision fallback falhou: %s" and isinstance(exc, error)


def test_prompt_is_read_at_each_call(monkeypatch):
    monkeypatch.setattr(ocr, "VISION_FALLBACK_PROMPT", "outro prompt")
    caller = Recorder(default=chat("ok"))
    ocr.perform_vision_fallback(IMAGE, caller)
    assert caller.calls[0][0][0][0]["content"] == "outro prompt"


@pytest.mark.parametrize(
    ("image_format", "mime"),
    [("pdf", "application/pdf"), ("PDF", "application/pdf"), ("jpg", "image/jpeg"), (None, "image/png")],
)
def test_google_call(google, logs, image_format, mime):
    client, caller = object(), Recorder()
    result = ocr.perform_vision_fallback(
        b"bytes", caller, image_format, "google", google_client=client, google_model="gemini"
    )
    assert result == "  texto do gemini \n"  # returned untrimmed
    sent = {"image_bytes": b"bytes", "prompt": VISION_FALLBACK_PROMPT, "mime": mime}
    assert google.calls == [((client, "gemini"), sent)]
    assert caller.calls == [] and messages(logs) == []


@pytest.mark.parametrize(("client", "model"), [(None, "m"), (object(), None), (object(), "")])
def test_google_without_client_or_model_warns(google, logs, client, model):
    assert ocr.perform_vision_fallback(b"x", None, "pdf", "google", client, model) is None
    warning = ("Google vision fallback requested without client/model", ())
    assert messages(logs, "WARNING") == messages(logs) == [warning]
    assert google.calls == []


@pytest.mark.parametrize(("answer", "result", "error"), [("", "", None), (None, None, None), (42, None, TypeError),
                                                         (RuntimeError("quota"), None, RuntimeError)])
def test_google_answers_and_failures(monkeypatch, logs, answer, result, error):
    fake = raising(answer) if isinstance(answer, BaseException) else Recorder(default=answer)
    monkeypatch.setattr(google_provider, "call_vision", fake)
    assert ocr.perform_vision_fallback(b"x", None, "pdf", "google", object(), "m") == result
    assert [type(args[0]) for _, args in messages(logs)] == ([error] if error else [])
    assert all(fmt == "Google vision fallback failed: %s" for fmt, _ in messages(logs))


def test_google_provider_without_its_client_library(logs, monkeypatch):
    monkeypatch.setitem(sys.modules, "google.genai", None)
    assert ocr.perform_vision_fallback(b"x", None, "pdf", "google", object(), "m") is None
    ((fmt, (exc,)),) = messages(logs)
    assert fmt == "Google vision fallback failed: %s" and isinstance(exc, ImportError) and "google-genai" in str(exc)


@pytest.mark.parametrize(
    ("kwargs", "message"),
    [({"image_bytes": "texto"}, r"perform_vision_fallback\(\) argument 'image_bytes' must be a bytes-like object"),
     ({"image_bytes": b"x", "image_format": 1}, r"argument 'image_format' must be str or None"),
     ({"image_bytes": b"x", "provider": None}, r"argument 'provider' must be str, not NoneType"),
     ({"image_bytes": b"x", "google_model": 3}, r"argument 'google_model' must be str or None"),
     ({"image_bytes": b"x", "prompt": "x"}, r"perform_vision_fallback\(\)")],
)
def test_argument_errors(kwargs, message):
    with pytest.raises(TypeError, match=message):
        ocr.perform_vision_fallback(**kwargs)
