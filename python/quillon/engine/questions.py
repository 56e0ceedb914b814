"""Questions the engine answers about a document."""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import Any, List, Optional

__all__ = ["QuestionConfig", "Question"]


@dataclass
class QuestionConfig:
    """Identity of a question: ``id`` keys its answer in the result."""

    id: str
    name: str = ""
    tag: str = ""

    def __post_init__(self) -> None:
        if not isinstance(self.id, str) or not self.id:
            raise ValueError("QuestionConfig: id must be a non-empty str")
        if not self.tag:
            self.tag = self.id


@dataclass
class Question:
    """One extraction question.

    ``user_prompt`` holds ``{texto}`` where the document text goes; the answer
    is shaped by ``response_model`` (a pydantic model class), whose JSON schema
    is the structured output asked of a model provider.
    """

    config: QuestionConfig
    system_prompt: str = ""
    user_prompt: str = "{texto}"
    keywords: List[str] = field(default_factory=list)
    response_model: Optional[Any] = None

    @property
    def id(self) -> str:
        return self.config.id

    def render_user_prompt(self, texto: str) -> str:
        """The user prompt with the document text in place of ``{texto}``.

        Only that placeholder is replaced: other braces in a prompt (a JSON
        example, say) stay as written.
        """
        return self.user_prompt.replace("{texto}", texto)
