"""The extraction engine: ``Quillon`` reads a PDF and answers the registered
``Question`` objects with a model provider or the local rule-based extractor."""

from quillon.engine.core import Quillon
from quillon.engine.questions import Question, QuestionConfig
from quillon.engine.results import Answer, ExtractionResult, Metrics

__all__ = ["Quillon", "Question", "QuestionConfig", "Answer", "ExtractionResult", "Metrics"]
