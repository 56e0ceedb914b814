"""Results of document loading."""

from __future__ import annotations

from typing import Any

from pydantic import BaseModel, Field


class Page(BaseModel):
    """One page of a loaded document: its text and where the text came from.

    ``metadata`` holds at least ``page`` (1-based number) and ``source``
    ("text", "ocr", "vision_fallback" or "ocr_failed"); pages that went
    through recognition also carry ``ocr_failed``.
    """

    text: str
    metadata: dict[str, Any] = Field(default_factory=dict)
