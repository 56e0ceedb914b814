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


@pytest.fixture
def sleeps(monkeypatch):
    """Patches time.sleep: the waits are recorded, not slept."""
    waits = []
    monkeypatch.setattr(time, "sleep", waits.append)
    return waits


@pytest.fixture
def warnings(caplog):
    caplog.set_level(logging.WARNING, logger="quillon.resilience")
    return lambda: [(r.levelno, r.msg, r.args) for r in caplog.records if r.name == "quillon.resilience"]


def flaky(errors, result="ok"):
    """A function that raises each of `errors` in turn, then returns `result`."""
    calls = []

    def fn(*args, **kwargs):
        calls.append((args, kwargs))
        if len(calls) <= len(errors):
            raise errors[len(calls) - 1]
        return result

    fn.calls = calls
    return fn


def openai_error(name):
    """An instance of the client's error `name`, without the HTTP objects its constructor wants."""
    cls = getattr(pytest.importorskip("openai"), name)
    return cls.__new__(cls)


def test_host_errors_share_a_base():
    assert issubclass(ModelError, QuillonError) and issubclass(RateLimitError, QuillonError)
    assert resilience.QuillonRateLimitError is RateLimitError and resilience.ModelError is ModelError


def test_retryable_exceptions_with_openai_in_order():
    openai = pytest.importorskip("openai")
    assert resilience.RETRYABLE_EXCEPTIONS == (RateLimitError, ModelError, openai.RateLimitError,
                                               openai.APITimeoutError, openai.APIConnectionError,
                                               openai.InternalServerError)


def test_the_policy_handed_to_tenacity():
    decorated = create_retry_decorator(2, 0.5, 8)(lambda: None)
    policy = decorated.retry
    assert policy.stop.max_attempt_number == 3
    assert isinstance(policy.wait, tenacity.wait_random_exponential)
    assert (policy.wait.multiplier, policy.wait.max, policy.wait.min) == (0.5, 8.0, 0)
    assert policy.retry.exception_types == resilience.RETRYABLE_EXCEPTIONS
    assert policy.before_sleep is resilience._log_retry and policy.reraise is True


def test_two_model_errors_then_a_value(sleeps, warnings):
    fn = flaky([ModelError("a"), ModelError("b")], result=42)
    assert create_retry_decorator()(fn)(1, x=2) == 42
    assert fn.calls == [((1,), {"x": 2})] * 3
    assert [(lvl, msg, args[:3]) for lvl, msg, args in warnings()] == [
        (logging.WARNING, FORMAT, (1, 3, "ModelError")), (logging.WARNING, FORMAT, (2, 3, "ModelError"))]
    # Waits come from [0, 1] then [0, 2]; the logged wait is the one slept.
    assert 0 <= sleeps[0] <= 1 and 0 <= sleeps[1] <= 2
    assert [args[3] for _, _, args in warnings()] == sleeps


@pytest.mark.parametrize("name", ["RateLimitError", "APITimeoutError", "APIConnectionError", "InternalServerError"])
def test_openai_errors_are_retried_and_the_last_one_reraised(sleeps, warnings, name):
    errors = [openai_error(name) for _ in range(4)]
    fn = flaky(errors)
    with pytest.raises(type(errors[0])) as raised:
        create_retry_decorator()(fn)()
    assert raised.value is errors[3]  # the error itself, not a RetryError
    assert len(fn.calls) == 4 and len(sleeps) == 3
    assert [args[:3] for _, _, args in warnings()] == [(k, 3, name) for k in (1, 2, 3)]
    assert all(0 <= w <= 2 ** k for k, w in enumerate(sleeps))


def test_quillon_rate_limit_is_retried_until_the_attempts_run_out(sleeps, warnings):
    last = RateLimitError("still limited")
    fn = flaky([RateLimitError("1"), last])
    with pytest.raises(RateLimitError) as raised:
        create_retry_decorator(max_retries=1)(fn)()
    assert raised.value is last and len(fn.calls) == 2 and len(warnings()) == 1


@pytest.mark.parametrize("error", [ValueError("x"), KeyError("k"), QuillonError("base")])
def test_other_errors_propagate_at_once(sleeps, warnings, error):
    fn = flaky([error])
    with pytest.raises(type(error)) as raised:
        create_retry_decorator()(fn)()
    assert raised.value is error and len(fn.calls) == 1 and sleeps == [] and warnings() == []


def test_each_call_starts_at_attempt_one(sleeps, warnings):
    fn = flaky([ModelError(), ModelError()])
    decorated = create_retry_decorator()(fn)
    decorated()
    fn.calls.clear()
    decorated()
    assert [args[0] for _, _, args in warnings()] == [1, 2, 1, 2]


@pytest.mark.parametrize("max_retries", [0, -1, 0.9, False])
def test_no_retries_leave_the_function_unchanged(max_retries):
    fn = flaky([ModelError()])
    assert create_retry_decorator(max_retries)(fn) is fn
    assert create_retry_decorator(max_retries) is create_retry_decorator(max_retries)
    assert create_retry_decorator(max_retries).__name__ == "noop_decorator"


def test_max_retries_truncates_and_the_waits_are_floats(sleeps):
    decorated = create_retry_decorator(2.7, 1, 16)(lambda: None)
    assert decorated.retry.stop.max_attempt_number == 3
    assert type(decorated.retry.wait.multiplier) is float and type(decorated.retry.wait.max) is float


@pytest.mark.parametrize(("kwargs", "param"), [({"max_retries": "3"}, "max_retries"),
                                                ({"min_wait": None}, "min_wait"), ({"max_wait": "16"}, "max_wait")])
def test_non_numbers_are_type_errors(kwargs, param):
    with pytest.raises(TypeError, match=f"create_retry_decorator\\(\\) argument '{param}'"):
        create_retry_decorator(**kwargs)


def test_the_tuple_is_read_when_a_decorator_is_made(monkeypatch, sleeps):
    before = create_retry_decorator(1)(flaky([LookupError()]))
    monkeypatch.setattr(resilience, "RETRYABLE_EXCEPTIONS", (LookupError,))
    after = create_retry_decorator(1)(flaky([LookupError()]))
    assert after() == "ok"
    with pytest.raises(LookupError):
        before()
    monkeypatch.setattr(resilience, "RETRYABLE_EXCEPTIONS", ())
    fn = flaky([])
    assert create_retry_decorator()(fn) is fn


def test_a_replaced_hook_is_used(monkeypatch, sleeps):
    seen = []
    monkeypatch.setattr(resilience, "_log_retry", lambda state: seen.append(state.attempt_number))
    create_retry_decorator()(flaky([ModelError()]))()
    assert seen == [1]


@pytest.mark.parametrize(
    ("outcome", "next_action", "expected"),
    [(None, None, ("unknown", 0)), ("error", 2.25, ("TimeoutError", 2.25)), ("value", None, ("unknown", 0))],
)
def test_log_retry_reads_the_call_state(warnings, outcome, next_action, expected):
    future = None
    if outcome:
        future = tenacity.Future(1)
        future.set_exception(TimeoutError("t")) if outcome == "error" else future.set_result(1)
    state = types.SimpleNamespace(
        attempt_number=2, outcome=future,
        next_action=tenacity.RetryAction(next_action) if next_action is not None else None,
        retry_object=types.SimpleNamespace(stop=tenacity.stop_after_attempt(5)))
    assert resilience._log_retry(state) is None
    assert warnings() == [(logging.WARNING, FORMAT, (2, 4, *expected))]
    record_text = FORMAT % (2, 4, *expected)
    assert record_text.endswith(f"Aguardando {expected[1]:.1f}s...")


# --- loading with and without the OpenAI client, in fresh interpreters --------

LOAD = textwrap.dedent("""
    import json, logging, sys
    records = []
    class Keep(logging.Handler):
        def emit(self, record):
            records.append([record.levelname, record.msg, list(record.args)])
    logging.getLogger("quillon.resilience").addHandler(Keep())
    {prelude}
    from quillon import resilience
    print(json.dumps({{"types": [f"{{t.__module__}}.{{t.__qualname__}}" for t in resilience.RETRYABLE_EXCEPTIONS],
                      "records": records, "rest": {rest}}}))
""")

BLOCK = textwrap.dedent("""
    class Blocker:
        def find_spec(self, name, path=None, target=None):
            if name == "openai" or name.startswith("openai."):
                raise {error}("blocked: " + name)
    sys.meta_path.insert(0, Blocker())
""")


def load(prelude="", rest="None"):
    code = LOAD.format(prelude=prelude, rest=rest)
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    return out, (json.loads(out.stdout) if out.returncode == 0 else None)


def test_without_openai_only_host_errors_are_retried():
    retried = textwrap.dedent("""
        [run(e) for e in (resilience.ModelError("m"), resilience.QuillonRateLimitError("r"), TimeoutError("t"))]
    """)
    prelude = BLOCK.format(error="ModuleNotFoundError") + textwrap.dedent("""
        import time
        time.sleep = lambda s: None
        def run(error):
            calls = []
            def fn():
                calls.append(1)
                raise error
            try:
                resilience.create_retry_decorator(2)(fn)()
            except type(error):
                return len(calls)
    """)
    out, result = load(prelude, retried.strip())
    assert out.returncode == 0, out.stderr
    assert result["types"] == ["quillon.exceptions.RateLimitError", "quillon.exceptions.ModelError"]
    assert result["records"][0] == ["ERROR", OPENAI_MISSING, []]
    assert result["rest"] == [3, 3, 1]


def test_without_openai_its_errors_are_not_retried():
    pytest.importorskip("openai")
    code = "import sys\n" + BLOCK.format(error="ImportError") + textwrap.dedent("""
        from quillon import resilience
        sys.meta_path.pop(0)  # the client exists, but the module loaded without it
        import openai, time
        time.sleep = lambda s: None
        calls = []
        def fn():
            calls.append(1)
            raise openai.APITimeoutError.__new__(openai.APITimeoutError)
        try:
            resilience.create_retry_decorator()(fn)()
        except openai.APITimeoutError:
            print(len(calls))
    """)
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert out.returncode == 0, out.stderr
    assert out.stdout.split() == ["1"]


def test_a_partial_openai_counts_as_missing(tmp_path):
    fake = tmp_path / "openai"
    fake.mkdir()
    (fake / "__init__.py").write_text("class APIConnectionError(Exception): pass\n")
    out, result = load(f"sys.path.insert(0, {str(tmp_path)!r})")
    assert out.returncode == 0, out.stderr
    assert len(result["types"]) == 2 and result["records"] == [["ERROR", OPENAI_MISSING, []]]


def test_a_stand_in_openai_gives_six_types_in_order(tmp_path):
    fake = tmp_path / "openai"
    fake.mkdir()
    names = ["APIConnectionError", "APITimeoutError", "InternalServerError", "RateLimitError"]
    (fake / "__init__.py").write_text("".join(f"class {n}(Exception): pass\n" for n in names))
    out, result = load(f"sys.path.insert(0, {str(tmp_path)!r})")
    assert out.returncode == 0, out.stderr
    assert result["types"][2:] == [f"openai.{n}" for n in
                                   ("RateLimitError", "APITimeoutError", "APIConnectionError", "InternalServerError")]
    assert result["records"] == []


def test_other_failures_while_loading_openai_fail_the_module():
    out, _ = load(BLOCK.format(error="RuntimeError"))
    assert out.returncode != 0 and "RuntimeError: blocked: openai" in out.stderr
