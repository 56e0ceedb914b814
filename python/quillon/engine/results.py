"""What the engine gives back: one answer per question, and the metrics of the run."""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import Any, Dict, List, Optional

__all__ = ["Metrics", "Answer", "ExtractionResult"]


@dataclass
class Metrics:
    """Tokens used, their cost in US dollars and the wall time, in seconds."""

    tokens: int = 0
    cost_usd: float = 0.0
    time_seconds: float = 0.0
    prompt_tokens: int = 0
    completion_tokens: int = 0

    def add(self, other: "Metrics") -> None:
        self.tokens += other.tokens
        self.cost_usd += other.cost_usd
        self.prompt_tokens += other.prompt_tokens
        self.completion_tokens += other.completion_tokens


@dataclass
class Answer:
    """The answer to one question: ``raw_result`` is its mapping (the response
    model's ``model_dump()``), ``parsed`` the model instance."""

    question_id: str
    raw_result: Optional[Dict[str, Any]] = None
    parsed: Any = None
    metrics: Metrics = field(default_factory=Metrics)
    error: Optional[str] = None


@dataclass
class ExtractionResult:
    """Answers of every registered question for one document."""

    document: str
    answers: Dict[str, Answer] = field(default_factory=dict)
    total_metrics: Metrics = field(default_factory=Metrics)
    #: The pages read: dicts with "page", "source" and "chars".
    pages: List[Dict[str, Any]] = field(default_factory=list)
    #: Pages that could not be read (no text layer and no OCR), numbered from 1.
    unreadable_pages: List[int] = field(default_factory=list)
    #: Why each unreadable page could not be read, by page number.
    unreadable_reasons: Dict[int, str] = field(default_factory=dict)
    #: The screening of the text before extraction (see Quillon.precheck).
    triagem: Optional[Dict[str, Any]] = None
    #: Whether the questions were put to the provider (False when the
    #: screening turned the document away or there was no text).
    extracted: bool = True

    def get_result(self, question_id: str) -> Optional[Answer]:
        """The answer to ``question_id``, or None when it was not asked."""
        return self.answers.get(question_id)
