"""Questions answered by the rule-based extractor: no key, no network, no cost."""

from __future__ import annotations

import logging
from typing import Any, Callable

from quillon.engine.questions import Question
from quillon.engine.results import Answer

logger = logging.getLogger("quillon.engine")


def _answerers() -> dict[str, Callable[..., dict[str, Any]]]:
    from quillon.engine import extractor

    return {
        "ExtracaoEmpresas": extractor.extract_companies,
        "ExtracaoAssinaturas": extractor.extract_signatures,
        "ExtracaoDadosContrato": extractor.extract_contract_data,
        "empresas": extractor.extract_companies,
        "assinaturas": extractor.extract_signatures,
        "dados_contrato": extractor.extract_contract_data,
    }


class LocalProvider:
    """Answers the contract questions (companies, signatories, contract data)
    by their response model, or by their id; any other question gets an empty
    answer."""

    name = "local"

    def __init__(self) -> None:
        self._doc_text: str | None = None
        self._doc: Any = None

    def _document(self, texto: str):
        from quillon.engine.extractor import _Document

        if self._doc_text is not texto:
            self._doc_text, self._doc = texto, _Document(texto)
        return self._doc

    def answer(self, question: Question, texto: str) -> Answer:
        answerers = _answerers()
        model = question.response_model
        key = getattr(model, "__name__", None)
        fn = answerers.get(key) or answerers.get(question.id)
        if fn is None:
            logger.warning("Local provider has no rules for question %r; answering nothing", question.id)
            return Answer(question_id=question.id, raw_result=None)
        data = fn(texto, self._document(texto))
        parsed = None
        if model is not None and hasattr(model, "model_validate"):
            parsed = model.model_validate(data)
            data = parsed.model_dump()
        return Answer(question_id=question.id, raw_result=data, parsed=parsed)
