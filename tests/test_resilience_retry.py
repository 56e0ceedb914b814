"""create_retry_decorator, _log_retry and RETRYABLE_EXCEPTIONS, with and without openai."""

import json
import logging
import subprocess
import sys
import textwrap
import time
import types

import pytest
import tenacity

from quillon import resilience
from quillon.exceptions import ModelError, QuillonError, RateLimitError
from quillon.resilience import create_retry_decorator

FORMAT = "Retry %d/%d após erro: %s. Aguardando %.1fs..."
OPENAI_MISSING = ("Pacote 'openai' nao importou: erros de rede do provider OpenAI nao serao repetidos. "
                  "Reinstale a dependencia (pip install openai).")
OPENAI_ORDER = ["RateLimitError", "APITimeoutError", "APIConnectionError", "InternalServerError"]


@pytest.fixture
def sleeps(monkeypatch):
    """time.sleep patched: the waits are recorded, not slept."""
    waits = []
    monkeypatch.setattr(time, "sleep", waits.append)
    return waits


@pytest.fixture
def logged(caplog):
    caplog.set_level(logging.WARNING, logger="quillon.resilience")
    return lambda: [(r.levelno, r.msg, r.args) for r in caplog.records if r.name == "quillon.resilience"]


def flaky(*errors, result="ok"):
    """A function that raises each of `errors` in turn, then returns `result`."""
    def fn(*args, **kwargs):
        fn.calls.append((args, kwargs))
        if len(fn.calls) <= len(errors):
            raise errors[len(fn.calls) - 1]
        return result

    fn.calls = []
    return fn


def error(name):
    """A new instance of a retryable error: the host's, or the OpenAI client's (built
    without the HTTP objects its constructor wants)."""
    if name in ("ModelError", "QuillonRateLimitError"):
        return getattr(resilience, name)("falha")
    cls = getattr(pytest.importorskip("openai"), name)
    return cls.__new__(cls)


def test_host_errors_and_the_tuple_in_order():
    assert issubclass(ModelError, QuillonError) and issubclass(RateLimitError, QuillonError)
    assert resilience.QuillonRateLimitError is RateLimitError and resilience.ModelError is ModelError
    openai = pytest.importorskip("openai")
    assert resilience.RETRYABLE_EXCEPTIONS == (RateLimitError, ModelError,
                                               *(getattr(openai, n) for n in OPENAI_ORDER))


def test_the_policy_handed_to_tenacity():
    policy = create_retry_decorator(2.7, 1, 8)(lambda: None).retry
    assert policy.stop.max_attempt_number == 3  # 2.7 extra attempts truncate to 2
    assert isinstance(policy.wait, tenacity.wait_random_exponential)
    assert (policy.wait.multiplier, policy.wait.max, policy.wait.min) == (1.0, 8.0, 0)
    assert type(policy.wait.multiplier) is float and type(policy.wait.max) is float
    assert policy.retry.exception_types == resilience.RETRYABLE_EXCEPTIONS
    assert policy.before_sleep is resilience._log_retry and policy.reraise is True


def test_two_model_errors_then_a_value(sleeps, logged):
    fn = flaky(ModelError("a"), ModelError("b"), result=42)
    decorated = create_retry_decorator()(fn)
    assert decorated(1, x=2) == 42
    assert fn.calls == [((1,), {"x": 2})] * 3
    assert [(lvl, msg, args[:3]) for lvl, msg, args in logged()] == [
        (logging.WARNING, FORMAT, (1, 3, "ModelError")), (logging.WARNING, FORMAT, (2, 3, "ModelError"))]
    assert 0 <= sleeps[0] <= 1 and 0 <= sleeps[1] <= 2  # windows [0, 1] then [0, 2]
    assert [args[3] for _, _, args in logged()] == sleeps  # the wait logged is the one slept
    fn.calls.clear()
    decorated()  # no state kept between calls: attempts count from 1 again
    assert [args[0] for _, _, args in logged()] == [1, 2, 1, 2]


@pytest.mark.parametrize("name", ["QuillonRateLimitError", "ModelError", *OPENAI_ORDER])
def test_retryable_errors_run_out_and_the_last_one_is_reraised(sleeps, logged, name):
    errors = [error(name) for _ in range(4)]
    fn = flaky(*errors)
    with pytest.raises(type(errors[0])) as raised:
        create_retry_decorator()(fn)()
    assert raised.value is errors[3]  # the error itself, not tenacity's RetryError
    assert len(fn.calls) == 4 and len(sleeps) == 3
    assert [args[:3] for _, _, args in logged()] == [(k, 3, type(errors[0]).__name__) for k in (1, 2, 3)]
    assert all(0 <= w <= 2**k for k, w in enumerate(sleeps))


@pytest.mark.parametrize("exc", [ValueError("x"), KeyError("k"), QuillonError("base")])
def test_other_errors_propagate_at_once(sleeps, logged, exc):
    fn = flaky(exc)
    with pytest.raises(type(exc)) as raised:
        create_retry_decorator()(fn)()
    assert raised.value is exc and len(fn.calls) == 1 and sleeps == [] and logged() == []


@pytest.mark.parametrize("max_retries", [0, -1, 0.9, False])
def test_no_retries_leave_the_function_unchanged(max_retries):
    fn = flaky(ModelError())
    noop = create_retry_decorator(max_retries)
    assert noop(fn) is fn and noop is create_retry_decorator(max_retries) and noop.__name__ == "noop_decorator"


@pytest.mark.parametrize("kwargs", [{"max_retries": "3"}, {"min_wait": None}, {"max_wait": "16"}])
def test_non_numbers_are_type_errors(kwargs):
    with pytest.raises(TypeError, match=f"create_retry_decorator\\(\\) argument '{next(iter(kwargs))}'"):
        create_retry_decorator(**kwargs)


def test_module_values_are_read_when_a_decorator_is_made(monkeypatch, sleeps):
    before = create_retry_decorator(1)(flaky(LookupError()))
    hooked = []
    monkeypatch.setattr(resilience, "RETRYABLE_EXCEPTIONS", (LookupError,))
    monkeypatch.setattr(resilience, "_log_retry", lambda state: hooked.append(state.attempt_number))
    assert create_retry_decorator(1)(flaky(LookupError()))() == "ok" and hooked == [1]
    with pytest.raises(LookupError):
        before()  # keeps the tuple it was made with
    monkeypatch.setattr(resilience, "RETRYABLE_EXCEPTIONS", ())
    fn = flaky()
    assert create_retry_decorator()(fn) is fn


@pytest.mark.parametrize(("outcome", "sleep", "expected"),
                         [(None, None, ("unknown", 0)), ("error", 2.25, ("TimeoutError", 2.25)),
                          ("value", None, ("unknown", 0))])
def test_log_retry_reads_the_call_state(logged, outcome, sleep, expected):
    future = tenacity.Future(1) if outcome else None
    if outcome == "error":
        future.set_exception(TimeoutError("t"))
    elif outcome:
        future.set_result(1)
    state = types.SimpleNamespace(attempt_number=2, outcome=future,
                                  next_action=None if sleep is None else tenacity.RetryAction(sleep),
                                  retry_object=types.SimpleNamespace(stop=tenacity.stop_after_attempt(5)))
    assert resilience._log_retry(state) is None
    assert logged() == [(logging.WARNING, FORMAT, (2, 4, *expected))]
    assert (FORMAT % logged()[0][2]).endswith(f"após erro: {expected[0]}. Aguardando {expected[1]:.1f}s...")


# --- loading with and without the OpenAI client, in fresh interpreters ---------

BLOCKER = """
import sys
class Blocker:
    def find_spec(self, name, path=None, target=None):
        if name.split(".")[0] == "openai":
            raise {error}("blocked: " + name)
sys.meta_path.insert(0, Blocker())
"""

REPORT = """
import json, logging, time
records = []
handler = logging.Handler()
handler.emit = lambda r: records.append([r.levelname, r.msg, list(r.args)])
logging.getLogger("quillon.resilience").addHandler(handler)
from quillon import resilience
time.sleep = lambda s: None

def attempts(exc):
    calls = []
    def fn():
        calls.append(1)
        raise exc
    try:
        resilience.create_retry_decorator(2)(fn)()
    except type(exc):
        return len(calls)

result = {"types": [f"{t.__module__}.{t.__qualname__}" for t in resilience.RETRYABLE_EXCEPTIONS],
          "records": list(records), "attempts": {}}
sys.meta_path[:] = [f for f in sys.meta_path if type(f).__name__ != "Blocker"]
try:
    import openai
    names = ["APITimeoutError", "APIConnectionError"]
    result["attempts"] = {n: attempts(getattr(openai, n).__new__(getattr(openai, n))) for n in names}
except (ImportError, AttributeError):  # no client, or one without these names
    pass
result["attempts"]["ModelError"] = attempts(resilience.ModelError())
result["attempts"]["ValueError"] = attempts(ValueError())
print(json.dumps(result))
"""


def load(prelude):
    out = subprocess.run([sys.executable, "-c", "import sys\n" + prelude + REPORT],
                         capture_output=True, text=True, timeout=120)
    assert out.returncode == 0, out.stderr
    return json.loads(out.stdout)


HOST_TYPES = ["quillon.exceptions.RateLimitError", "quillon.exceptions.ModelError"]


@pytest.mark.parametrize("error_type", ["ModuleNotFoundError", "ImportError"])
def test_without_openai_only_the_host_errors_are_retried(error_type):
    result = load(BLOCKER.format(error=error_type))
    assert result["types"] == HOST_TYPES
    assert result["records"] == [["ERROR", OPENAI_MISSING, []]]
    expected = {"ModelError": 3, "ValueError": 1}
    if "APITimeoutError" in result["attempts"]:  # the client exists, the module loaded without it
        expected.update(APITimeoutError=1, APIConnectionError=1)
    assert result["attempts"] == expected


@pytest.mark.parametrize(("names", "types"), [(["APIConnectionError"], HOST_TYPES),
                                              (OPENAI_ORDER[::-1], HOST_TYPES + [f"openai.{n}" for n in OPENAI_ORDER])])
def test_a_stand_in_openai(tmp_path, names, types):
    """A client missing one of the four names counts as missing; a complete one adds them in order."""
    (tmp_path / "openai").mkdir()
    (tmp_path / "openai" / "__init__.py").write_text("".join(f"class {n}(Exception): pass\n" for n in names))
    result = load(f"sys.path.insert(0, {str(tmp_path)!r})\n")
    assert result["types"] == types
    assert result["records"] == ([] if len(names) == 4 else [["ERROR", OPENAI_MISSING, []]])
    if len(names) == 4:
        assert result["attempts"] == {"APITimeoutError": 3, "APIConnectionError": 3, "ModelError": 3, "ValueError": 1}


def test_other_failures_while_loading_openai_fail_the_module():
    code = "import sys\n" + BLOCKER.format(error="RuntimeError") + "import quillon.resilience\n"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert out.returncode != 0 and "RuntimeError: blocked: openai" in out.stderr
