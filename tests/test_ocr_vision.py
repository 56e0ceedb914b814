"""Vision fallback: the Google provider route and the chat-completions route."""

import base64
import logging
import types

import pymupdf
import pytest

import quillon.providers.google as google_provider
from ocr_helpers import PageSpec, decode, make_pdf, messages, png_bytes
from quillon import ocr
from quillon.config import VISION_FALLBACK_PROMPT

USER_TEXT = "Extraia todo o texto visível nesta página do documento."
IMAGE = png_bytes((300, 300))


def chat_response(content):
    return types.SimpleNamespace(choices=[types.SimpleNamespace(message=types.SimpleNamespace(content=content))])


class Caller:
    """An llm_caller that records its calls and answers from a script."""

    def __init__(self, answer=None):
        self.answer = answer
        self.calls = []

    def __call__(self, messages, extra):
        self.calls.append((messages, extra))
        if isinstance(self.answer, BaseException):
            raise self.answer
        return self.answer


@pytest.fixture
def logs(caplog):
    caplog.set_level(logging.INFO, logger="quillon.ocr")
    return caplog


@pytest.fixture
def google(monkeypatch):
    calls = []
    answer = {"value": "texto do gemini"}

    def call_vision(*args, **kwargs):
        calls.append((args, kwargs))
        if isinstance(answer["value"], BaseException):
            raise answer["value"]
        return answer["value"]

    monkeypatch.setattr(google_provider, "call_vision", call_vision)
    return types.SimpleNamespace(calls=calls, answer=answer)


# --- _vision_payload -----------------------------------------------------------------
@pytest.fixture
def doc():
    d = pymupdf.open(stream=make_pdf(["primeira", PageSpec(text="segunda", image=True)]), filetype="pdf")
    yield d
    d.close()


def test_payload_for_google_is_a_one_page_pdf(doc):
    data, fmt = ocr._vision_payload(doc, 1, "google")
    assert fmt == "pdf"
    with pymupdf.open(stream=data, filetype="pdf") as single:
        assert single.page_count == 1
        assert single.load_page(0).get_text().strip() == "segunda"


@pytest.mark.parametrize("provider", ["openai", "azure", "Google", "grok", ""])
def test_payload_for_everyone_else_is_a_150_dpi_png(doc, provider):
    data, fmt = ocr._vision_payload(doc, 1, provider)
    assert fmt == "png"
    assert data == ocr.render_page_as_image(doc, 1, 150)


def test_payload_renders_through_the_module_attributes(doc, monkeypatch):
    seen = []
    monkeypatch.setattr(ocr, "render_page_as_image", lambda d, n: seen.append(("image", n)) or b"png")
    monkeypatch.setattr(ocr, "render_page_as_pdf", lambda d, n: seen.append(("pdf", n)) or b"pdf")
    assert ocr._vision_payload(doc, 1.7, "openai") == (b"png", "png")
    assert ocr._vision_payload(doc=doc, page_num=0, provider="google") == (b"pdf", "pdf")
    assert seen == [("image", 1), ("pdf", 0)]


def test_payload_rendering_errors_are_not_caught(doc):
    with pytest.raises(ValueError):
        ocr._vision_payload(doc, 2, "openai")
    with pytest.raises(ValueError):
        ocr._vision_payload(doc, 2, "google")
    with pytest.raises(TypeError, match=r"_vision_payload\(\) argument 'provider' must be str"):
        ocr._vision_payload(doc, 0, None)


# --- chat route ---------------------------------------------------------------------
def test_exact_message_list(logs):
    caller = Caller(chat_response("  Texto lido.\n"))
    assert ocr.perform_vision_fallback(IMAGE, caller) == "Texto lido."
    ((sent, extra),) = caller.calls
    assert extra is None
    url = "data:image/png;base64," + base64.b64encode(IMAGE).decode()
    assert sent == [
        {"role": "system", "content": VISION_FALLBACK_PROMPT},
        {
            "role": "user",
            "content": [
                {"type": "image_url", "image_url": {"url": url}},
                {"type": "text", "text": USER_TEXT},
            ],
        },
    ]
    assert [list(m) for m in sent] == [["role", "content"], ["role", "content"]]
    assert list(sent[1]["content"][0]) == ["type", "image_url"]
    assert decode(base64.b64decode(url.split(",", 1)[1])).size == (300, 300)
    assert messages(logs) == []


@pytest.mark.parametrize(
    ("image_format", "mime"),
    [(None, "image/png"), ("", "image/png"), ("png", "image/png"), ("PNG", "image/png"), ("jpg", "image/jpeg"),
     ("JPG", "image/jpeg"), ("jpeg", "image/jpeg"), ("webp", "image/webp"), ("Tiff", "image/tiff")],
)
def test_mime_type_of_the_data_url(image_format, mime):
    caller = Caller(chat_response("ok"))
    ocr.perform_vision_fallback(IMAGE, caller, image_format)
    url = caller.calls[0][0][1]["content"][0]["image_url"]["url"]
    assert url.startswith(f"data:{mime};base64,")


@pytest.mark.parametrize("data", [b"", b"\x00", b"\xff\xfe", bytearray(b"abcd"), memoryview(b"abcde"), bytes(range(256)) * 3])
def test_data_url_is_standard_base64(data):
    caller = Caller(chat_response("ok"))
    ocr.perform_vision_fallback(data, caller)
    url = caller.calls[0][0][1]["content"][0]["image_url"]["url"]
    assert url == "data:image/png;base64," + base64.b64encode(bytes(data)).decode()


@pytest.mark.parametrize("provider", ["openai", "azure", "Google"])
@pytest.mark.parametrize("image_format", ["pdf", "PDF"])
def test_chat_route_refuses_a_pdf(logs, provider, image_format):
    caller = Caller(chat_response("never"))
    assert ocr.perform_vision_fallback(b"%PDF", caller, image_format, provider) is None
    assert caller.calls == []
    assert messages(logs) == [
        ("Vision fallback recebeu PDF para o provider '%s', que so aceita imagem; pagina ignorada.", (provider,))
    ]
    assert messages(logs, "ERROR") == messages(logs)


def test_chat_route_without_caller_is_silent(logs):
    assert ocr.perform_vision_fallback(IMAGE) is None
    assert ocr.perform_vision_fallback(IMAGE, None, "jpg", "azure") is None
    assert messages(logs) == []


@pytest.mark.parametrize(
    ("content", "result"),
    [("texto", "texto"), ("\n  texto com espaço \t\n", "texto com espaço"), ("   \n\t ", None), ("", None),
     (None, None), (0, None), ([], None)],
)
def test_model_answer(logs, content, result):
    assert ocr.perform_vision_fallback(IMAGE, Caller(chat_response(content))) == result
    assert messages(logs) == []


@pytest.mark.parametrize(
    ("answer", "error"),
    [
        (RuntimeError("cota excedida"), RuntimeError),
        (types.SimpleNamespace(), AttributeError),
        (types.SimpleNamespace(choices=[]), IndexError),
        (types.SimpleNamespace(choices=[types.SimpleNamespace()]), AttributeError),
        (chat_response(42), TypeError),
        (chat_response(["a"]), TypeError),
        ({"choices": []}, AttributeError),
    ],
)
def test_failures_of_the_caller_are_logged(logs, answer, error):
    assert ocr.perform_vision_fallback(IMAGE, Caller(answer)) is None
    ((fmt, args),) = messages(logs)
    assert fmt == "Vision fallback falhou: %s"
    assert isinstance(args[0], error)
    assert messages(logs, "ERROR") == messages(logs)


def test_caller_that_is_not_callable_is_a_logged_failure(logs):
    assert ocr.perform_vision_fallback(IMAGE, "não chamável") is None
    assert isinstance(messages(logs)[0][1][0], TypeError)


def test_prompt_is_read_at_each_call(monkeypatch):
    monkeypatch.setattr(ocr, "VISION_FALLBACK_PROMPT", "outro prompt")
    caller = Caller(chat_response("ok"))
    ocr.perform_vision_fallback(IMAGE, caller)
    assert caller.calls[0][0][0]["content"] == "outro prompt"


# --- Google route -------------------------------------------------------------------
@pytest.mark.parametrize(("image_format", "mime"), [("pdf", "application/pdf"), ("PDF", "application/pdf"), ("png", "image/png"), ("jpg", "image/jpeg")])
def test_google_call(google, logs, image_format, mime):
    client = object()
    caller = Caller(chat_response("never"))
    result = ocr.perform_vision_fallback(
        b"bytes", caller, image_format, "google", google_client=client, google_model="gemini-2.5-flash"
    )
    assert result == "texto do gemini"
    assert google.calls == [
        ((client, "gemini-2.5-flash"), {"image_bytes": b"bytes", "prompt": VISION_FALLBACK_PROMPT, "mime": mime})
    ]
    assert caller.calls == []
    assert messages(logs) == []


@pytest.mark.parametrize("answer", ["  não aparado \n", "", None])
def test_google_answer_is_returned_unchanged(google, answer):
    google.answer["value"] = answer
    assert ocr.perform_vision_fallback(b"x", None, "pdf", "google", object(), "m") == answer


@pytest.mark.parametrize(("client", "model"), [(None, "m"), (object(), None), (object(), ""), (None, None)])
def test_google_without_client_or_model_warns(google, logs, client, model):
    assert ocr.perform_vision_fallback(b"x", None, "pdf", "google", client, model) is None
    assert messages(logs) == [("Google vision fallback requested without client/model", ())]
    assert messages(logs, "WARNING") == messages(logs)
    assert google.calls == []


@pytest.mark.parametrize(("answer", "error"), [(RuntimeError("quota"), RuntimeError), (42, TypeError), (b"bytes", TypeError)])
def test_google_failures_are_logged(google, logs, answer, error):
    google.answer["value"] = answer
    assert ocr.perform_vision_fallback(b"x", None, "pdf", "google", object(), "m") is None
    ((fmt, args),) = messages(logs)
    assert fmt == "Google vision fallback failed: %s"
    assert isinstance(args[0], error)


def test_google_provider_without_its_client_library_is_a_logged_failure(logs, monkeypatch):
    import sys

    monkeypatch.setitem(sys.modules, "google.genai", None)
    assert ocr.perform_vision_fallback(b"x", None, "pdf", "google", object(), "m") is None
    ((fmt, args),) = messages(logs)
    assert fmt == "Google vision fallback failed: %s"
    assert isinstance(args[0], ImportError) and "google-genai" in str(args[0])


def test_google_module_missing_the_function_is_a_logged_failure(logs, monkeypatch):
    monkeypatch.delattr(google_provider, "call_vision")
    assert ocr.perform_vision_fallback(b"x", None, "pdf", "google", object(), "m") is None
    assert isinstance(messages(logs)[0][1][0], ImportError)


# --- arguments and documentation -----------------------------------------------------
@pytest.mark.parametrize(
    ("kwargs", "message"),
    [
        ({"image_bytes": "texto"}, r"perform_vision_fallback\(\) argument 'image_bytes' must be a bytes-like object"),
        ({"image_bytes": b"x", "image_format": 1}, r"argument 'image_format' must be str or None"),
        ({"image_bytes": b"x", "provider": None}, r"argument 'provider' must be str, not NoneType"),
        ({"image_bytes": b"x", "google_model": 3}, r"argument 'google_model' must be str or None"),
        ({"image_bytes": b"x", "prompt": "x"}, r"perform_vision_fallback\(\)"),
    ],
)
def test_argument_errors(kwargs, message):
    with pytest.raises(TypeError, match=message):
        ocr.perform_vision_fallback(**kwargs)


def test_documentation_texts():
    doc = ocr.perform_vision_fallback.__doc__.split("\n\n", 1)[1]
    assert doc.startswith("Extract text from an image via a Vision LLM.")
    assert doc.rstrip().endswith("Returns extracted text or None on any failure / empty response.")
    assert "llm_caller(messages, None)" in doc and "quillon.providers.google.call_vision" in doc
    assert ocr._vision_payload.__doc__.split("\n\n", 1)[1] == (
        "Payload da página para o provider de visão: (bytes, formato).\n\n"
        "    Só o Google aceita PDF inline; OpenAI, Azure e Grok recebem imagem.\n    "
    )
