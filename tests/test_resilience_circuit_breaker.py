"""CircuitBreaker: the transition table, its log lines, arguments, and threads."""

import enum
import fractions
import logging
import os
import pathlib
import pickle
import subprocess
import sys
import threading
import time

import pytest

from quillon import resilience
from quillon.resilience import CircuitBreaker, CircuitState

CLOSED, OPEN, HALF_OPEN = CircuitState.CLOSED, CircuitState.OPEN, CircuitState.HALF_OPEN
# QUILLON_RACE_ROUNDS=1000 (the default) is what CI runs; raise it to hunt flakes.
ROUNDS = int(os.environ.get("QUILLON_RACE_ROUNDS", "1000"))
TO_OPEN = (logging.WARNING, "Circuit breaker: CLOSED -> OPEN (%d falhas consecutivas)")
TO_HALF_OPEN = (logging.INFO, "Circuit breaker: OPEN -> HALF_OPEN (chamada de teste)")
RECOVERED = (logging.INFO, "Circuit breaker: HALF_OPEN -> CLOSED (recuperado)")
REOPENED = (logging.WARNING, "Circuit breaker: HALF_OPEN -> OPEN (falha na recuperação)")


@pytest.fixture
def logs(caplog):
    caplog.set_level(logging.INFO, logger="quillon.resilience")

    def records():
        return [(r.levelno, r.msg, r.args) for r in caplog.records if r.name == "quillon.resilience"]

    records.clear = caplog.clear
    return records


def breaker_in(setup):
    """A breaker (threshold 3, recovery 60 s) brought to a row's starting point."""
    cb = CircuitBreaker(failure_threshold=3, recovery_timeout=60)
    failures = {"closed": 1, "closed_2": 2}.get(setup, 3)
    for _ in range(failures):
        cb.record_failure()
    if setup in ("open_elapsed", "half_open", "half_open_free"):
        cb._last_failure_time -= 61
    if setup.startswith("half_open"):
        assert cb.can_execute()
    if setup == "half_open_free":
        cb._probe_in_flight = False
    return cb


# Each row: start, event, returned, state, count, trial out, last failure time, log.
TABLE = [
    ("closed", "can_execute", True, CLOSED, 1, False, "kept", []),
    ("closed", "record_success", None, CLOSED, 0, False, "kept", []),
    ("closed", "record_failure", None, CLOSED, 2, False, "now", []),
    ("closed_2", "record_failure", None, OPEN, 3, False, "now", [(*TO_OPEN, (3,))]),
    ("open", "can_execute", False, OPEN, 3, False, "kept", []),
    ("open_elapsed", "can_execute", True, HALF_OPEN, 3, True, "kept", [(*TO_HALF_OPEN, ())]),
    ("open", "record_failure", None, OPEN, 4, False, "now", []),
    ("open", "record_success", None, CLOSED, 0, False, "kept", []),
    ("half_open_free", "can_execute", True, HALF_OPEN, 3, True, "kept", []),
    ("half_open", "can_execute", False, HALF_OPEN, 3, True, "kept", []),
    ("half_open", "record_success", None, CLOSED, 0, False, "kept", [(*RECOVERED, ())]),
    ("half_open", "record_failure", None, OPEN, 4, False, "now", [(*REOPENED, ())]),
] + [(start, "reset", None, CLOSED, 0, False, "zero", []) for start in ("closed", "open", "half_open")]


@pytest.mark.parametrize(("start", "event", "returned", "state", "count", "probe", "when", "logged"), TABLE)
def test_transition_table(logs, start, event, returned, state, count, probe, when, logged):
    cb = breaker_in(start)
    logs.clear()
    last = cb._last_failure_time
    before = time.time()
    assert getattr(cb, event)() is returned
    after = time.time()
    assert (cb._state, cb._failure_count, cb._probe_in_flight) == (state, count, probe)
    if when == "kept":
        assert cb._last_failure_time == last
    elif when == "zero":
        assert cb._last_failure_time == 0
    else:
        assert before <= cb._last_failure_time <= after
    assert logs() == logged


def test_new_breaker_and_the_default_threshold(logs):
    cb = CircuitBreaker()
    assert (cb._failure_threshold, cb._recovery_timeout, cb._last_failure_time) == (5, 60, 0)
    assert cb.state is CLOSED and cb.can_execute() and cb._recovery_elapsed()
    for _ in range(4):
        cb.record_failure()
    cb.record_success()
    for _ in range(4):
        cb.record_failure()
    assert cb.state is CLOSED and logs() == []
    cb.record_failure()
    assert cb.state is OPEN and not cb.can_execute()
    assert logs() == [(*TO_OPEN, (5,))]


def test_reading_the_state_never_promotes(logs):
    cb = breaker_in("open_elapsed")
    logs.clear()
    assert [cb.state for _ in range(3)] == [HALF_OPEN] * 3
    assert (cb._state, cb._probe_in_flight, logs()) == (OPEN, False, [])
    assert cb._recovery_elapsed()
    assert cb.can_execute() and not cb.can_execute() and not cb.can_execute()
    assert cb.state is HALF_OPEN and logs() == [(*TO_HALF_OPEN, ())]


def test_failed_trial_waits_a_full_recovery_time_again():
    cb = breaker_in("half_open")
    cb.record_failure()
    assert cb.state is OPEN and not cb._recovery_elapsed() and not cb.can_execute()
    cb._last_failure_time -= 61
    assert cb.can_execute()


@pytest.mark.parametrize(("threshold", "timeout"), [(0, 0), (-2, -5), (1, 0.5), (1.9, 0.99)])
def test_zero_and_negative_values(threshold, timeout):
    cb = CircuitBreaker(threshold, timeout)
    cb.record_failure()  # a threshold below 1 opens on the first failure
    assert cb._state is OPEN
    assert cb.state is HALF_OPEN and cb.can_execute()  # a timeout below 1 is 0: elapsed at once


@pytest.mark.parametrize(
    ("given", "kept"),
    [(7, 7), (2.9, 2), (-2.9, -2), (True, 1), (fractions.Fraction(7, 2), 3),
     (10**30, 2**63 - 1)],
)
def test_integer_arguments_truncate_toward_zero(given, kept):
    cb = CircuitBreaker(failure_threshold=given, recovery_timeout=given)
    assert (cb._failure_threshold, cb._recovery_timeout) == (kept, kept)


@pytest.mark.parametrize("param", ["failure_threshold", "recovery_timeout"])
@pytest.mark.parametrize("bad", ["5", None, 1j, [1]])
def test_non_numbers_are_type_errors_naming_the_parameter(param, bad):
    with pytest.raises(TypeError, match=f"argument '{param}'"):
        CircuitBreaker(**{param: bad})


@pytest.mark.parametrize("call", [lambda: CircuitBreaker(1, 2, 3), lambda: CircuitBreaker(limite=1),
                                  lambda: CircuitBreaker(1, failure_threshold=1)])
def test_arity_errors(call):
    with pytest.raises(TypeError):
        call()


def test_private_fields_are_writable_with_checks():
    cb = CircuitBreaker()
    cb._state, cb._failure_count, cb._probe_in_flight, cb._last_failure_time = HALF_OPEN, 2.5, 1, 12.5
    assert (cb._state, cb._failure_count, cb._probe_in_flight, cb._last_failure_time) == (HALF_OPEN, 2, True, 12.5)
    assert cb.state is HALF_OPEN and not cb.can_execute()
    with pytest.raises(TypeError, match="CircuitState"):
        cb._state = "OPEN"
    with pytest.raises(TypeError, match="_failure_count"):
        cb._failure_count = "1"


def test_circuit_state_is_an_enum_of_names():
    assert issubclass(CircuitState, enum.Enum)
    assert [(m.name, m.value) for m in CircuitState] == [("CLOSED", "CLOSED"), ("OPEN", "OPEN"),
                                                         ("HALF_OPEN", "HALF_OPEN")]
    assert CircuitState("HALF_OPEN") is HALF_OPEN and pickle.loads(pickle.dumps(OPEN)) is OPEN
    assert CircuitState.__module__ == "quillon.resilience"


def test_documentation_texts():
    assert CircuitBreaker.state.__doc__ == "Leitura pura: não promove OPEN -> HALF_OPEN."
    assert CircuitBreaker.reset.__doc__.endswith("\n\nReseta o circuit breaker para o estado inicial.")


def test_a_handler_that_calls_back_is_served_in_order(logs):
    cb = CircuitBreaker(failure_threshold=1, recovery_timeout=0)
    seen = []

    class CallsBack(logging.Handler):
        def emit(self, record):
            seen.append((record.getMessage(), cb.state))
            if record.msg == TO_OPEN[1]:
                assert cb.can_execute()  # a transition from inside a log call

    handler = CallsBack()
    resilience.logger.addHandler(handler)
    try:
        cb.record_failure()
    finally:
        resilience.logger.removeHandler(handler)
    assert [r[1] for r in logs()] == [TO_OPEN[1], TO_HALF_OPEN[1]]
    assert seen[1] == ("Circuit breaker: OPEN -> HALF_OPEN (chamada de teste)", HALF_OPEN)


def test_exactly_one_trial_call_among_16_threads(logs):
    cb = CircuitBreaker(failure_threshold=1, recovery_timeout=0)
    start, done = threading.Barrier(17, timeout=60), threading.Barrier(17, timeout=60)
    results, rounds_left = [None] * 16, [ROUNDS]

    def worker(i):
        while True:
            start.wait()
            if not rounds_left[0]:
                return
            results[i] = cb.can_execute()
            done.wait()

    threads = [threading.Thread(target=worker, args=(i,), daemon=True) for i in range(16)]
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)  # switch threads as often as CPython allows
    try:
        for t in threads:
            t.start()
        for r in range(ROUNDS):
            cb.reset()
            cb.record_failure()  # OPEN, with the recovery time already elapsed
            start.wait()
            done.wait()
            assert results.count(True) == 1, f"round {r}: {results.count(True)} trial calls"
            assert cb._state is HALF_OPEN and cb._probe_in_flight
        rounds_left[0] = 0
        start.wait()
    finally:
        sys.setswitchinterval(interval)
    for t in threads:
        t.join(timeout=60)
    assert logs().count((*TO_HALF_OPEN, ())) == ROUNDS


@pytest.mark.parametrize("handlers", ["recording", "recording,calls_back,slow"])
def test_no_deadlock_with_handlers_under_16_threads(handlers):
    script = pathlib.Path(__file__).with_name("resilience_stress.py")
    out = subprocess.run([sys.executable, str(script), "--threads", "16", "--seconds", "2", "--handlers", handlers],
                         capture_output=True, text=True, timeout=120)
    assert out.returncode == 0, out.stdout + out.stderr
    assert "transitions logged in order" in out.stdout
