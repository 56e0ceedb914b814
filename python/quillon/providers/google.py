"""Google Gemini vision calls through the ``google-genai`` client.

The client package is optional: it is imported when a call needs it, and its
absence is an ImportError that says what to install.
"""

from __future__ import annotations

from typing import Any

_MISSING = (
    "quillon.providers.google precisa do pacote google-genai "
    "(pip install google-genai) para usar o provider 'google'"
)


def _genai_types():
    try:
        from google.genai import types
    except ImportError as exc:
        raise ImportError(_MISSING) from exc
    return types


def call_vision(client: Any, model: str, image_bytes: bytes, prompt: str, mime: str) -> str | None:
    """Transcribe one page (an image or a one-page PDF) with a Gemini model.

    ``client`` is a ``google.genai.Client``; the page goes inline with its
    MIME type, followed by the prompt.  Returns the model's text, or None
    when the answer has none.
    """
    types = _genai_types()
    part = types.Part.from_bytes(data=bytes(image_bytes), mime_type=mime)
    response = client.models.generate_content(model=model, contents=[part, prompt])
    text = getattr(response, "text", None)
    return text if isinstance(text, str) else None
