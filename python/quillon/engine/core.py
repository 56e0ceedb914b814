"""The extraction engine: reads a document and answers the questions registered on it."""

from __future__ import annotations

import logging
import os
import time
from typing import Any, Callable, Optional

from quillon.engine.questions import Question
from quillon.engine.results import Answer, ExtractionResult, Metrics

logger = logging.getLogger("quillon.engine")

__all__ = ["Quillon", "PROVIDERS"]

PROVIDERS = ("openai", "azure", "local")

#: Characters of document text sent with one question; longer documents send
#: the pages that hold most of the question's keywords, in document order.
DEFAULT_MAX_CHARS = 300_000


def screen_pages(pages: list[str]) -> dict[str, Any]:
    """The screening verdict of a document's pages (``keywords.triar_documento``)."""
    from quillon.contract.countries.br import keywords

    return keywords.triar_documento(pages)


def select_text(question: Question, pages: list[str], max_chars: int) -> str:
    """The document text for one question, within ``max_chars``."""
    whole = "\n\n".join(p for p in pages if p)
    if len(whole) <= max_chars:
        return whole
    from quillon.engine.extractor._text import fold

    words = [fold(k) for k in question.keywords if k]
    ranked = sorted(
        range(len(pages)),
        key=lambda i: (-sum(fold(pages[i]).count(w) for w in words), i),
    )
    keep, used = set(), 0
    for i in [0] + ranked:  # the first page names the parties
        if i in keep or not pages[i]:
            continue
        if used + len(pages[i]) > max_chars:
            continue
        keep.add(i)
        used += len(pages[i]) + 2
    return "\n\n".join(pages[i] for i in sorted(keep))


class Quillon:
    """Answers extraction questions about PDF documents.

    ``provider``: "openai" or "azure" (a chat model with structured output)
    or "local" (the rule-based Portuguese contract extractor: no key, no
    network).  ``precheck``: screen the text first and leave documents that
    are not contracts unanswered (``ExtractionResult.extracted`` False).
    ``progress``: called with (done, total) while scanned pages are read.
    ``stage``: when set, called with "leitura" before the pages are read and
    "extracao" before the questions are answered (a server's progress display).
    """

    def __init__(
        self,
        provider: str = "openai",
        api_key: Optional[str] = None,
        model: str = "gpt-4o",
        verbose: bool = False,
        *,
        azure_endpoint: Optional[str] = None,
        azure_deployment: Optional[str] = None,
        api_version: Optional[str] = None,
        base_url: Optional[str] = None,
        timeout: float = 120.0,
        max_retries: int = 3,
        retry_min_wait: float = 1.0,
        retry_max_wait: float = 16.0,
        breaker: Any = None,
        precheck: bool = True,
        ocr: bool = True,
        max_chars: int = DEFAULT_MAX_CHARS,
        progress: Optional[Callable[[int, int], None]] = None,
    ) -> None:
        provider = (provider or "openai").strip().lower()
        if provider not in PROVIDERS:
            raise ValueError(f"provider desconhecido: {provider!r} (use um de: {', '.join(PROVIDERS)})")
        self.provider_name = provider
        self.model = model
        self.verbose = bool(verbose)
        self.precheck = precheck
        self.ocr = ocr
        self.max_chars = max_chars
        self.progress = progress
        self.stage: Optional[Callable[[str], None]] = None
        self.questions: list[Question] = []
        self.last_result: Optional[ExtractionResult] = None
        if provider == "local":
            from quillon.engine.local_provider import LocalProvider

            self.provider: Any = LocalProvider()
        else:
            if not api_key:
                raise ValueError(f"O provedor {provider} precisa de uma chave de API (api_key).")
            from quillon.engine.openai_provider import OpenAIProvider

            self.provider = OpenAIProvider(
                provider=provider, api_key=api_key, model=model,
                base_url=base_url or os.environ.get("OPENAI_BASE_URL") or None,
                azure_endpoint=azure_endpoint, azure_deployment=azure_deployment, api_version=api_version,
                timeout=timeout, max_retries=max_retries, min_wait=retry_min_wait, max_wait=retry_max_wait,
                breaker=breaker,
            )

    def __repr__(self) -> str:
        return f"Quillon(provider={self.provider_name!r}, model={self.model!r}, questions={len(self.questions)})"

    def add_question(self, question: Question) -> None:
        """Register a question; a question with the id of a registered one replaces it."""
        if not hasattr(question, "config") or not hasattr(question, "user_prompt"):
            raise TypeError("add_question() expects a quillon.Question")
        self.questions = [q for q in self.questions if q.config.id != question.config.id]
        self.questions.append(question)

    # -- documents --------------------------------------------------------------
    def process(self, path: Any) -> ExtractionResult:
        """Read the PDF at ``path`` and answer every registered question."""
        from quillon.engine.documents import read_document

        started = time.perf_counter()
        if self.stage:
            self.stage("leitura")
        doc = read_document(os.fspath(path), use_tesseract=self.ocr, progress=self.progress,
                            enough=self._settled_as_no_contract if self.precheck else None)
        if self.stage:
            self.stage("extracao")
        result = ExtractionResult(
            document=os.fspath(path),
            pages=[{"page": p.number, "source": p.source, "chars": len(p.text)} for p in doc.pages],
            unreadable_pages=list(doc.unreadable),
            unreadable_reasons=dict(doc.reasons),
        )
        self._answer(result, doc.page_texts())
        result.total_metrics.time_seconds = time.perf_counter() - started
        self.last_result = result
        return result

    @staticmethod
    def _settled_as_no_contract(pages: list[str]) -> bool:
        """Whether the pages read already settle that the document is no contract:
        no question will be asked, so its scanned pages left need no reading."""
        verdict = screen_pages(pages)
        return bool(verdict.get("definitivo")) and not verdict.get("eh_contrato")

    def process_text(self, texto: str, name: str = "<texto>") -> ExtractionResult:
        """Answer every registered question about a text (pages split at form feeds)."""
        started = time.perf_counter()
        result = ExtractionResult(document=name)
        pages = texto.split("\f")
        result.pages = [{"page": i + 1, "source": "text", "chars": len(p)} for i, p in enumerate(pages)]
        self._answer(result, pages)
        result.total_metrics.time_seconds = time.perf_counter() - started
        self.last_result = result
        return result

    def _answer(self, result: ExtractionResult, pages: list[str]) -> None:
        texto = "\n\n".join(p for p in pages if p)
        if not texto.strip():
            result.extracted = False
            return
        if self.precheck:
            result.triagem = screen_pages(pages)
            if not result.triagem.get("eh_contrato"):
                logger.info("%s: not screened as a contract (%s); questions not asked",
                            result.document, result.triagem.get("motivo"))
                result.extracted = False
                return
        for question in self.questions:
            text = texto if self.provider_name == "local" else select_text(question, pages, self.max_chars)
            answer: Answer = self.provider.answer(question, text)
            result.answers[question.config.id] = answer
            result.total_metrics.add(answer.metrics)
            if self.verbose:
                logger.info("%s: answered %r (%d tokens)", result.document, question.config.id, answer.metrics.tokens)
