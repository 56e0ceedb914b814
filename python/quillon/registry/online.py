"""A considerate client of the registry web services (BrasilAPI, ReceitaWS, Casa dos Dados).

The ``cnpj`` module's lookups ask a service every time they are called; this
client is what the Brazilian adapter uses instead when its database has no
answer:

- answers are kept in the registry database's ``web_cache`` for a time to live
  (one day by default; the registry data is published monthly), a company
  that a service does not know too, so that a batch asks about each CNPJ once;
  the write never waits: while an import holds the database, answers are kept
  in memory and written with a later one (``RegistryStore.cache_put``);
- requests are paced per service (BrasilAPI at most 3 a second, ReceitaWS 3 a
  minute, Casa dos Dados 1 a second, by default);
- a 429 answer holds the next request to that service back by its
  ``Retry-After`` (at most ``retry_after_cap`` seconds); the lookup moves on to
  the next service meanwhile;
- each service has its ``CircuitBreaker``: after three failures in a row
  (network errors, 5xx, unreadable answers) it is skipped until its recovery
  time has passed.

The request and the record are those of the ``cnpj`` module: each request is
its ``_requisicao`` (the URLs, ``USER_AGENT`` and ``REQUEST_TIMEOUT`` read from
the module at each request), records are built by its ``_registro_brasil_api``
and ``_registro_receita_ws``, and a search answer's CNPJ is its
``_primeiro_resultado``.  Each exchange is bounded (``quillon.bounded_requests``):
its whole duration by the time-out, its answer by 5 MiB, decompressed.  An
answer that does not name the company (``{}`` with status 200) is no answer:
the next service is asked and nothing is kept.

``consult`` and ``consult_search`` tell apart what ``lookup`` and ``search``
both give as None: a company that a service that can know says does not
exist (a 404, ReceitaWS's "ERROR" answer), and no service able to answer
(``Consultation.unavailable`` says why).

Settings from the environment (``OnlineClient.from_environ``):
``QUILLON_PACE_BRASILAPI``, ``QUILLON_PACE_RECEITAWS``,
``QUILLON_PACE_CASADOSDADOS`` ("3/s", "3/min"...), ``QUILLON_CACHE_TTL``
(seconds) and ``QUILLON_RETRY_AFTER_MAX`` (seconds).
"""

from __future__ import annotations

import dataclasses
import email.utils
import json
import logging
import os
import threading
import time
from typing import Any, Callable, Mapping, Optional

import requests

from quillon import bounded_requests
from quillon.contract.countries.br import cnpj as _cnpj
from quillon.registry.pacing import Pace, RateLimiter
from quillon.registry.store import RegistryStore
from quillon.resilience import CircuitBreaker

logger = logging.getLogger("quillon.registry.online")

BRASIL_API, RECEITA_WS, CASA_DOS_DADOS = "BrasilAPI", "ReceitaWS", "Casa dos Dados"
DEFAULT_PACES = {BRASIL_API: Pace(3, 1.0), RECEITA_WS: Pace(3, 60.0), CASA_DOS_DADOS: Pace(1, 1.0)}
_PACE_ENV = {BRASIL_API: "QUILLON_PACE_BRASILAPI", RECEITA_WS: "QUILLON_PACE_RECEITAWS",
             CASA_DOS_DADOS: "QUILLON_PACE_CASADOSDADOS"}
DEFAULT_TTL = 24 * 3600.0
RETRY_AFTER_CAP = 120.0
SEARCH_TIMEOUT = 15  # seconds, as the cnpj module's name search; the client's own, so that it can be shortened
MAX_ANSWER_BYTES = bounded_requests.MAX_ANSWER_BYTES  # no registry answer comes near; a bigger body is not read
BREAKER_THRESHOLD, BREAKER_RECOVERY = 3, 60

# What an exchange with a service came to.
OK, NOT_FOUND, THROTTLED, FAILED, SKIPPED = "ok", "not_found", "throttled", "failed", "skipped"


@dataclasses.dataclass(frozen=True)
class Consultation:
    """What asking the services came to: the record, or why nobody could say."""

    #: The registry record; None when none was had.
    record: Optional[dict[str, Any]] = None
    #: Why no service could answer ("BrasilAPI: sem conexão; ReceitaWS: HTTP 503"); None when
    #: one did: the record, or a service that can know said there is no such company.
    unavailable: Optional[str] = None


def _failure_text(error: BaseException) -> str:
    """A request failure in a few words for the user (the log has the details)."""
    if isinstance(error, bounded_requests.AnswerTooLarge):
        return "resposta grande demais"
    if isinstance(error, requests.Timeout):
        return "tempo esgotado"
    if isinstance(error, requests.ConnectionError):
        return "sem conexão"
    return "resposta ilegível"


def retry_after_seconds(value: Optional[str], now: float) -> Optional[float]:
    """Seconds a Retry-After header asks for (a number or an HTTP date), None when absent or unreadable."""
    if not value:
        return None
    value = value.strip()
    try:
        return max(float(value), 0.0)
    except ValueError:
        pass
    try:
        when = email.utils.parsedate_to_datetime(value)
    except (TypeError, ValueError):
        return None
    if when is None:
        return None
    return max(when.timestamp() - now, 0.0)


class Service:
    """One web service: its pace, its pauses and its breaker."""

    def __init__(self, name: str, pace: Pace, clock, sleep):
        self.name = name
        self.limiter = RateLimiter(pace, clock, sleep)
        self.breaker = CircuitBreaker(failure_threshold=BREAKER_THRESHOLD, recovery_timeout=BREAKER_RECOVERY)


class OnlineClient:
    def __init__(self, *, paces: Optional[Mapping[str, Pace]] = None, ttl: float = DEFAULT_TTL,
                 retry_after_cap: float = RETRY_AFTER_CAP, clock: Callable[[], float] = time.monotonic,
                 sleep: Callable[[float], None] = time.sleep, wall: Callable[[], float] = time.time):
        paces = {**DEFAULT_PACES, **(paces or {})}
        self.services = {name: Service(name, paces[name], clock, sleep) for name in DEFAULT_PACES}
        self.ttl = ttl
        self.retry_after_cap = retry_after_cap
        self.wall = wall
        self._local = threading.local()

    @classmethod
    def from_environ(cls, environ: Optional[Mapping[str, str]] = None, **options) -> "OnlineClient":
        env = os.environ if environ is None else environ
        paces = {name: Pace.parse(env[var]) for name, var in _PACE_ENV.items() if env.get(var)}
        if env.get("QUILLON_CACHE_TTL"):
            options.setdefault("ttl", float(env["QUILLON_CACHE_TTL"]))
        if env.get("QUILLON_RETRY_AFTER_MAX"):
            options.setdefault("retry_after_cap", float(env["QUILLON_RETRY_AFTER_MAX"]))
        return cls(paces=paces, **options)

    # --- the cache ------------------------------------------------------------------------------
    def _cached(self, store: Optional[RegistryStore], key: str) -> tuple[bool, Optional[str]]:
        if store is None:
            return False, None
        try:
            entry = store.cache_get(key)
        except Exception as error:  # a cache that cannot be read is no cache
            logger.warning("Registry cache unreadable for %s: %s", key, error)
            return False, None
        if entry is None or entry[1] + self.ttl <= self.wall():
            return False, None
        return True, entry[0]

    def _keep(self, store: Optional[RegistryStore], key: str, answer: Optional[str]) -> None:
        if store is None:
            return
        try:
            store.cache_put(key, answer, self.wall())
        except Exception as error:
            logger.warning("Registry cache not written for %s: %s", key, error)

    # --- one exchange -------------------------------------------------------------------------------
    def _session(self) -> requests.Session:
        session = getattr(self._local, "session", None)
        if session is None:
            session = self._local.session = bounded_requests.new_session()
        return session

    def _exchange(self, service: Service, what: str, send: Callable[[requests.Session], requests.Response]
                  ) -> tuple[str, Any]:
        """(outcome, what came of it) of one paced request: the decoded JSON answer when OK,
        the reason in a few words when THROTTLED, FAILED or SKIPPED, None when NOT_FOUND."""
        if not service.breaker.can_execute():
            logger.info("%s skipped for %s: circuit open", service.name, what)
            return SKIPPED, "serviço suspenso após falhas seguidas"
        service.limiter.wait()
        try:
            response = send(self._session())
        except requests.RequestException as error:
            logger.warning("%s request failed for %s: %s", service.name, what, error)
            service.breaker.record_failure()
            return FAILED, _failure_text(error)
        try:
            return self._answer(service, what, response)
        finally:
            response.close()

    def _answer(self, service: Service, what: str, response: requests.Response) -> tuple[str, Any]:
        status = response.status_code
        if status == 429:
            asked = retry_after_seconds(response.headers.get("Retry-After"), self.wall())
            pause = min(service.limiter.pace.period if asked is None else asked, self.retry_after_cap)
            service.limiter.hold(pause)
            logger.warning("%s answered 429 for %s: next request in %.1f s", service.name, what, pause)
            service.breaker.record_success()  # it is up, only busy
            return THROTTLED, "limite de consultas excedido (HTTP 429)"
        if status in (400, 404):
            service.breaker.record_success()
            return NOT_FOUND, None
        if status != 200:
            logger.warning("%s answered %s for %s", service.name, status, what)
            service.breaker.record_failure()
            return FAILED, f"HTTP {status}"
        try:
            data = json.loads(response.content.decode("utf-8"))  # read already, at most MAX_ANSWER_BYTES
        except (ValueError, RecursionError) as error:
            logger.warning("%s request failed for %s: %s", service.name, what, error)
            service.breaker.record_failure()
            return FAILED, "resposta ilegível"
        service.breaker.record_success()
        return OK, data

    # --- lookups ----------------------------------------------------------------------------------
    def lookup(self, cnpj: str, store: Optional[RegistryStore] = None) -> Optional[dict[str, Any]]:
        """The registry record of a CNPJ from the cache or the services (BrasilAPI, then ReceitaWS), or None."""
        return self.consult(cnpj, store).record

    def consult(self, cnpj: str, store: Optional[RegistryStore] = None) -> Consultation:
        """``lookup``, telling a company no service knows from services that could not answer.

        The company does not exist (``Consultation()``) when a service said so:
        BrasilAPI's 404 or 400, ReceitaWS's "ERROR" answer, or the cache of
        such answers.  When no service answered either way (network errors,
        time-outs, 5xx, 429, an open breaker, answers without the company),
        ``unavailable`` names each service and what went wrong.
        """
        clean = _cnpj.limpar_cnpj(cnpj)
        if not _cnpj.validar_cnpj(clean):
            return Consultation()
        key = f"cnpj:{clean}"
        hit, answer = self._cached(store, key)
        if hit:
            return Consultation(None if answer is None else json.loads(answer))
        absent, failures = False, []
        for name, build in ((BRASIL_API, _cnpj._registro_brasil_api), (RECEITA_WS, _cnpj._registro_receita_ws)):
            outcome, data = self._exchange(self.services[name], clean, _sender(name, clean))
            if outcome == OK:
                try:
                    record = build(data, clean)
                    if record and name == BRASIL_API:
                        _add_partner_documents(record, data)
                except ValueError as error:  # an answer that does not name the company
                    logger.warning("%s answer unusable for %s: %s", name, clean, error)
                    failures.append(f"{name}: resposta sem os dados da empresa")
                    continue
                except Exception:
                    logger.exception("Unexpected answer of %s for %s", name, clean)
                    failures.append(f"{name}: resposta sem os dados da empresa")
                    continue
                if record:
                    self._keep(store, key, json.dumps(record, ensure_ascii=False))
                    return Consultation(record)
                absent = True  # ReceitaWS's "ERROR": it does not serve that CNPJ
            elif outcome == NOT_FOUND:
                absent = True
            else:
                failures.append(f"{name}: {data}")
        if not failures:  # every service said it has no such company
            self._keep(store, key, None)
        if absent:
            return Consultation()
        return Consultation(None, "; ".join(failures))

    def search(self, nome: str, uf: Optional[str] = None, store: Optional[RegistryStore] = None
               ) -> Optional[dict[str, Any]]:
        """The record of the first active company Casa dos Dados finds by name, or None.

        The request is the ``cnpj`` module's (``buscar_cnpj_por_nome``); the
        CNPJ found is looked up with ``lookup``. The record carries
        ``busca_por_nome`` and ``termo_busca``.
        """
        return self.consult_search(nome, uf, store).record

    def consult_search(self, nome: str, uf: Optional[str] = None, store: Optional[RegistryStore] = None
                       ) -> Consultation:
        """``search``, telling "no such company" from "nobody could answer" as ``consult`` does."""
        if not isinstance(nome, str) or len(nome) < 3:
            return Consultation()
        key = f"nome:{uf or ''}:{nome}"
        hit, found = self._cached(store, key)
        if not hit:
            outcome, data = self._exchange(self.services[CASA_DOS_DADOS], repr(nome),
                                           _sender(CASA_DOS_DADOS, nome, uf or None))
            if outcome not in (OK, NOT_FOUND):
                return Consultation(None, f"{CASA_DOS_DADOS}: {data}")
            found = _first_hit(data, nome) if outcome == OK else None
            self._keep(store, key, found)
        if not found:
            return Consultation()
        answer = self.consult(found, store)
        if answer.record:
            answer.record["busca_por_nome"] = True
            answer.record["termo_busca"] = nome
        return answer


def _add_partner_documents(record: dict[str, Any], answer: Any) -> None:
    """Each partner entry completed with the partner's CPF or CNPJ as BrasilAPI publishes it
    ("cnpj_cpf_do_socio": a CPF masked to its six middle digits, "***456789**"), which
    corroborates or refutes a signatory's CPF.  The entries are built from the answer's
    ``qsa`` in its order, one per element."""
    qsa = answer.get("qsa") if isinstance(answer, dict) else None
    socios = record.get("socios")
    if not isinstance(qsa, list) or not isinstance(socios, list) or len(qsa) != len(socios):
        return
    for socio, element in zip(socios, qsa):
        documento = element.get("cnpj_cpf_do_socio") if isinstance(element, dict) else None
        if isinstance(socio, dict) and isinstance(documento, str):
            socio["cnpj_cpf_do_socio"] = documento


def _sender(service: str, subject: str, uf: Optional[str] = None) -> Callable[[requests.Session], requests.Response]:
    """The request of the ``cnpj`` module for that service (its URL, headers and time-out,
    read from the module now), sent bounded through the client's session."""
    method, url, options = _cnpj._requisicao(service, subject, uf)
    if service == CASA_DOS_DADOS:
        options["timeout"] = SEARCH_TIMEOUT
    return lambda session: bounded_requests.request(method.upper(), url, session=session, **options)


def _first_hit(answer: Any, nome: str) -> Optional[str]:
    """The CNPJ of a search answer's first hit (the ``cnpj`` module's rule), or None."""
    try:
        cnpj = _cnpj._primeiro_resultado(answer)
    except Exception:
        logger.exception("Unexpected answer of Casa dos Dados for %r", nome)
        return None
    return cnpj if isinstance(cnpj, str) and cnpj else None


_default: Optional[OnlineClient] = None
_default_lock = threading.Lock()


def default_client() -> OnlineClient:
    """The process's client: one pace and one breaker per service, whoever asks."""
    global _default
    with _default_lock:
        if _default is None:
            _default = OnlineClient.from_environ()
        return _default
