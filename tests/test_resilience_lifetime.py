"""The resilience module over 100,000 calls of each entry point, with calls let
through and refused, transitions logged and raised errors: the arguments'
reference counts and the process's memory stay as they were, and a logger,
hook or table that replaced a module attribute and was then put back and
freed is never called again."""

import logging
import types

import pytest

from quillon import resilience
from quillon.resilience import CircuitBreaker, CircuitState, create_retry_decorator

import lifetime


@pytest.fixture(autouse=True)
def quiet():
    # Transitions still go through logger.warning/info; the records stop at the level.
    logger = logging.getLogger("quillon.resilience")
    level = logger.level
    logger.setLevel(logging.CRITICAL)
    yield
    logger.setLevel(level)


def cycle(calls):
    def batch(n):
        for i in range(n):
            calls[i % len(calls)]()
    return batch


def test_breaker_round_trips_refusals_and_transitions():
    breaker = CircuitBreaker(failure_threshold=2, recovery_timeout=0)
    refusing = CircuitBreaker(failure_threshold=1, recovery_timeout=10**6)
    refusing.record_failure()

    def open_probe_close():  # CLOSED -> OPEN -> HALF_OPEN -> CLOSED, three transitions logged
        breaker.record_failure()
        breaker.record_failure()
        assert breaker.can_execute() is True and breaker.state is CircuitState.HALF_OPEN
        breaker.record_success()

    calls = [open_probe_close, lambda: refusing.can_execute() is False or pytest.fail("let through"),
             breaker.can_execute, breaker.record_success, breaker._recovery_elapsed, lambda: breaker.state,
             breaker.reset]
    lifetime.check(cycle(calls), [breaker, refusing])


def test_constructor_and_fields_with_wrong_values():
    breaker = CircuitBreaker()
    threshold, timeout, when, huge, wrong = 7, 2.5, 1234.5, 10**30, "x"

    def set_fields():
        breaker._failure_threshold = threshold
        breaker._recovery_timeout = timeout
        breaker._failure_count = huge
        breaker._last_failure_time = when
        breaker._state = CircuitState.OPEN
        breaker._probe_in_flight = wrong
        return (breaker._failure_threshold, breaker._recovery_timeout, breaker._state, breaker._failure_count,
                breaker._last_failure_time, breaker._probe_in_flight)

    def bad_state():
        breaker._state = threshold

    def bad_count():
        breaker._failure_count = wrong

    calls = [lambda: CircuitBreaker(threshold, timeout), set_fields,
             lifetime.raising(lambda: CircuitBreaker(wrong), TypeError), lifetime.raising(bad_state, TypeError),
             lifetime.raising(bad_count, TypeError)]
    lifetime.check(cycle(calls), [breaker, threshold, timeout, when, huge, wrong])


def test_create_retry_decorator_and_its_hook():
    retries, low, high, wrong = 3, 0.01, 0.02, "três"
    error = resilience.ModelError("falha")
    state = types.SimpleNamespace(
        outcome=types.SimpleNamespace(exception=lambda: error), attempt_number=1, next_action=None,
        retry_object=types.SimpleNamespace(stop=types.SimpleNamespace(max_attempt_number=retries + 1)))
    broken = types.SimpleNamespace(outcome=None)

    def identity(x):
        return x

    calls = [lambda: create_retry_decorator(retries, low, high), lambda: create_retry_decorator(0)(identity),
             lambda: resilience._log_retry(state),
             lifetime.raising(lambda: create_retry_decorator(wrong), TypeError),
             lifetime.raising(lambda: resilience._log_retry(broken), AttributeError)]
    lifetime.check(cycle(calls), [retries, low, high, wrong, error, state, broken, identity])


class Recorder(lifetime.Counted):
    """A replacement that counts its calls (as a logger or a hook)."""

    def __call__(self, *args, **kwargs):
        lifetime.Counted.calls += 1

    def __getattr__(self, name):  # logger.warning, logger.info, ...
        lifetime.Counted.calls += 1
        return lambda *a, **k: None


def transitions():
    breaker = CircuitBreaker(failure_threshold=1, recovery_timeout=0)
    breaker.record_failure()
    breaker.can_execute()
    breaker.record_success()


def retried_once():
    import time

    sleep, time.sleep = time.sleep, lambda s: None
    try:
        outcomes = iter([resilience.ModelError("falha"), None])

        def flaky():
            error = next(outcomes)
            if error:
                raise error
            return "ok"

        assert create_retry_decorator(2, 0, 0)(flaky)() == "ok"
    finally:
        time.sleep = sleep


@pytest.mark.parametrize(("name", "use"), [("logger", transitions), ("_log_retry", retried_once)])
def test_a_replacement_put_back_and_freed_is_never_called_again(name, use):
    lifetime.never_called_once_freed(resilience, name, Recorder, use)
