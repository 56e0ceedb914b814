"""Questions answered by an OpenAI chat model (the OpenAI API or Azure OpenAI).

One chat completion per question, with the question's response model as a
strict JSON schema (structured output).  Each call is retried on rate limits,
time-outs, connection and server errors (``quillon.resilience``), and guarded
by a circuit breaker shared by every call of the engine: after a run of failed
calls the provider is not called again until the recovery time has passed.
"""

from __future__ import annotations

import copy
import json
import logging
import re
from typing import Any, Optional

from quillon.engine.pricing import cost_usd
from quillon.engine.questions import Question
from quillon.engine.results import Answer, Metrics
from quillon.exceptions import ModelError
from quillon.redaction import scrub

logger = logging.getLogger("quillon.engine")

__all__ = ["OpenAIProvider", "strict_schema", "CircuitOpenError", "MissingClientError"]

#: What to install for the chat-model providers.
CLIENT_EXTRA = "pip install 'quillon[openai]'"


class CircuitOpenError(ModelError):
    """The provider failed too often in a row; calls are held back for a while."""


class MissingClientError(ImportError):
    """The optional ``openai`` package, which the openai and azure providers need, is not installed."""


def _import_client(provider: str):
    try:
        import openai
    except ImportError as exc:
        raise MissingClientError(
            f"o provedor {provider} precisa do pacote Python 'openai', que não está instalado "
            f"({exc}); instale-o com: {CLIENT_EXTRA}",
            name="openai",
        ) from None
    return openai


def strict_schema(schema: dict[str, Any]) -> dict[str, Any]:
    """A pydantic JSON schema in the form strict structured output accepts:
    every object lists all its properties as required and admits no others;
    defaults and titles are dropped (an optional field is nullable instead)."""

    def fix(node: Any) -> Any:
        if isinstance(node, list):
            return [fix(item) for item in node]
        if not isinstance(node, dict):
            return node
        out = {k: fix(v) for k, v in node.items() if k not in ("default", "title")}
        if out.get("type") == "object" or "properties" in out:
            props = out.get("properties", {})
            out["properties"] = props
            out["required"] = list(props)
            out["additionalProperties"] = False
        return out

    return fix(copy.deepcopy(schema))


def _schema_name(model: Any) -> str:
    name = getattr(model, "__name__", "resposta")
    return re.sub(r"[^A-Za-z0-9_-]", "_", name)[:64] or "resposta"


def _status(exc: BaseException) -> str:
    code = getattr(exc, "status_code", None)
    return f" (HTTP {code})" if code else ""


class OpenAIProvider:
    """Chat completions with structured output, retried and guarded by a breaker."""

    def __init__(
        self,
        *,
        provider: str = "openai",
        api_key: Optional[str] = None,
        model: str = "gpt-4o",
        base_url: Optional[str] = None,
        azure_endpoint: Optional[str] = None,
        azure_deployment: Optional[str] = None,
        api_version: Optional[str] = None,
        timeout: float = 120.0,
        max_retries: int = 3,
        min_wait: float = 1.0,
        max_wait: float = 16.0,
        breaker: Any = None,
        temperature: Optional[float] = 0.0,
    ) -> None:
        openai = _import_client(provider)

        from quillon.resilience import CircuitBreaker, create_retry_decorator

        self.name = provider
        self._secret = api_key  # scrubbed from every error text
        if provider == "azure":
            self.client = openai.AzureOpenAI(
                api_key=api_key, azure_endpoint=azure_endpoint, api_version=api_version,
                max_retries=0, timeout=timeout,
            )
            self.model = azure_deployment or model
        else:
            self.client = openai.OpenAI(api_key=api_key, base_url=base_url, max_retries=0, timeout=timeout)
            self.model = model
        self.price_model = model
        self.temperature = temperature
        self.breaker = breaker if breaker is not None else CircuitBreaker(failure_threshold=5, recovery_timeout=60)
        self._complete = create_retry_decorator(max_retries=max_retries, min_wait=min_wait, max_wait=max_wait)(
            self._complete_once
        )

    # -- one call ---------------------------------------------------------------
    def _complete_once(self, messages: list[dict[str, str]], response_format: Optional[dict[str, Any]]):
        kwargs: dict[str, Any] = {"model": self.model, "messages": messages}
        if response_format is not None:
            kwargs["response_format"] = response_format
        if self.temperature is not None:
            kwargs["temperature"] = self.temperature
        response = self.client.chat.completions.create(**kwargs)
        if not getattr(response, "choices", None):
            raise ModelError("o modelo respondeu sem nenhuma escolha (choices vazio)")
        return response

    def _guarded(self, messages, response_format):
        if not self.breaker.can_execute():
            raise CircuitOpenError(
                f"{self.name}: chamadas suspensas após falhas seguidas do provedor; tente novamente mais tarde"
            )
        try:
            response = self._complete(messages, response_format)
        except Exception as exc:
            self.breaker.record_failure()
            if isinstance(exc, ModelError):
                raise
            # The client's text quotes the server's answer, which may echo the
            # key; the original exception (and its text) is not chained.
            text = scrub(f"{self.name}: falha ao chamar o modelo {self.model}{_status(exc)}: {exc}", self._secret)
            raise ModelError(text) from None
        self.breaker.record_success()
        return response

    def chat(self, messages: list[dict[str, Any]], _unused: Any = None):
        """A plain chat completion (the OCR pipeline's vision fallback calls this)."""
        return self._guarded(messages, None)

    # -- a question -------------------------------------------------------------
    def answer(self, question: Question, texto: str) -> Answer:
        messages = []
        if question.system_prompt:
            messages.append({"role": "system", "content": question.system_prompt})
        messages.append({"role": "user", "content": question.render_user_prompt(texto)})
        model = question.response_model
        response_format = None
        if model is not None and hasattr(model, "model_json_schema"):
            response_format = {
                "type": "json_schema",
                "json_schema": {"name": _schema_name(model), "schema": strict_schema(model.model_json_schema()),
                                "strict": True},
            }
        else:
            response_format = {"type": "json_object"}
        response = self._guarded(messages, response_format)
        message = response.choices[0].message
        if getattr(message, "refusal", None):
            raise ModelError(scrub(f"{self.name}: o modelo recusou a pergunta {question.id!r}: {message.refusal}",
                                   self._secret))
        content = message.content or ""
        try:
            data = json.loads(content)
        except ValueError as exc:
            raise ModelError(f"{self.name}: resposta da pergunta {question.id!r} não é JSON válido") from exc
        parsed = None
        if model is not None and hasattr(model, "model_validate"):
            try:
                parsed = model.model_validate(data)
            except Exception as exc:
                raise ModelError(
                    f"{self.name}: resposta da pergunta {question.id!r} não segue o esquema {_schema_name(model)}"
                ) from exc
            data = parsed.model_dump()
        usage = getattr(response, "usage", None)
        prompt = int(getattr(usage, "prompt_tokens", 0) or 0)
        completion = int(getattr(usage, "completion_tokens", 0) or 0)
        total = int(getattr(usage, "total_tokens", 0) or (prompt + completion))
        metrics = Metrics(tokens=total, prompt_tokens=prompt, completion_tokens=completion,
                          cost_usd=cost_usd(self.price_model, prompt, completion))
        return Answer(question_id=question.id, raw_result=data, parsed=parsed, metrics=metrics)
