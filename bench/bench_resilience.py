"""CircuitBreaker round trip against pybreaker and a plain-Python breaker.

    python bench/bench_resilience.py             # 1,000,000 round trips per measure
    python bench/bench_resilience.py --quick     # a tenth of that
    python bench/bench_resilience.py --race 1000 # also: 16 threads race for the trial call, 1,000 times

A round trip is what a batch caller does around each protected call while the
circuit is CLOSED: can_execute(), then record_success().  pybreaker's
CircuitBreaker.call() on a no-op function does the same bookkeeping in one
call.  Ratios are "baseline time / quillon time" from one run in this process.
"""

from __future__ import annotations

import argparse
import enum
import gc
import logging
import sys
import threading
import time

from _harness import report

from quillon.resilience import CircuitBreaker


# --- the same state machine in plain Python, one threading.Lock --------------
class PyState(enum.Enum):
    CLOSED = "CLOSED"
    OPEN = "OPEN"
    HALF_OPEN = "HALF_OPEN"


class PyCircuitBreaker:
    def __init__(self, failure_threshold=5, recovery_timeout=60):
        self._failure_threshold = int(failure_threshold)
        self._recovery_timeout = int(recovery_timeout)
        self._state = PyState.CLOSED
        self._failure_count = 0
        self._last_failure_time = 0.0
        self._probe_in_flight = False
        self._lock = threading.Lock()
        self._log = logging.getLogger("bench.plain")

    def _recovery_elapsed(self):
        return time.time() - self._last_failure_time >= self._recovery_timeout

    def can_execute(self):
        with self._lock:
            if self._state is PyState.CLOSED:
                return True
            if self._state is PyState.OPEN:
                if self._recovery_elapsed():
                    self._state = PyState.HALF_OPEN
                    self._probe_in_flight = True
                    self._log.info("Circuit breaker: OPEN -> HALF_OPEN (chamada de teste)")
                    return True
                return False
            if self._probe_in_flight:
                return False
            self._probe_in_flight = True
            return True

    def record_success(self):
        with self._lock:
            if self._state is PyState.HALF_OPEN:
                self._log.info("Circuit breaker: HALF_OPEN -> CLOSED (recuperado)")
            self._state = PyState.CLOSED
            self._failure_count = 0
            self._probe_in_flight = False


class NoBreaker:
    """The same two calls doing nothing: what threads cost the interpreter itself."""

    def can_execute(self):
        return True

    def record_success(self):
        pass


# --- measures -----------------------------------------------------------------
def round_trips(breaker, n: int) -> None:
    can_execute, record_success = breaker.can_execute, breaker.record_success
    for _ in range(n):
        if can_execute():
            record_success()


def pybreaker_calls(breaker, n: int) -> None:
    call = breaker.call
    noop = lambda: None  # noqa: E731
    for _ in range(n):
        call(noop)


def best_ns(run, n: int, repeat: int = 5) -> float:
    """Best wall time of run(n) over `repeat` runs, in ns per round trip."""
    best = float("inf")
    for _ in range(repeat):
        gc.disable()
        t0 = time.perf_counter_ns()
        run(n)
        best = min(best, time.perf_counter_ns() - t0)
        gc.enable()
    return best / n


def threaded_ns(run, n: int, threads: int, repeat: int = 3) -> float:
    """Wall time per round trip when `threads` threads share the work of n round trips."""
    best = float("inf")
    for _ in range(repeat):
        start = threading.Barrier(threads + 1)
        workers = [threading.Thread(target=lambda: (start.wait(), run(n // threads))) for _ in range(threads)]
        for w in workers:
            w.start()
        start.wait()
        t0 = time.perf_counter_ns()
        for w in workers:
            w.join()
        best = min(best, time.perf_counter_ns() - t0)
    return best / (n // threads * threads)


def race(rounds: int, threads: int = 16) -> int:
    """Rounds in which other than exactly one of `threads` threads got the trial call."""
    cb = CircuitBreaker(failure_threshold=1, recovery_timeout=0)
    logging.getLogger("quillon.resilience").setLevel(logging.ERROR)
    start, done = threading.Barrier(threads + 1), threading.Barrier(threads + 1)
    results = [False] * threads
    left = [rounds]

    def worker(i):
        while True:
            start.wait()
            if not left[0]:
                return
            results[i] = cb.can_execute()
            done.wait()

    workers = [threading.Thread(target=worker, args=(i,)) for i in range(threads)]
    for w in workers:
        w.start()
    bad = 0
    for _ in range(rounds):
        cb.reset()
        cb.record_failure()
        start.wait()
        done.wait()
        bad += results.count(True) != 1
    left[0] = 0
    start.wait()
    for w in workers:
        w.join()
    return bad


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--quick", action="store_true")
    ap.add_argument("--threads", type=int, default=8)
    ap.add_argument("--race", type=int, default=0, metavar="ROUNDS")
    args = ap.parse_args()
    n = 100_000 if args.quick else 1_000_000

    contenders = [("quillon can_execute + record_success", lambda k: round_trips(CircuitBreaker(), k), n),
                  ("plain Python, threading.Lock", lambda k: round_trips(PyCircuitBreaker(), k), n)]
    try:
        import pybreaker

        contenders.append(("pybreaker CircuitBreaker.call(no-op)",
                           lambda k: pybreaker_calls(pybreaker.CircuitBreaker(), k), n // 10))
    except ImportError:
        print("pybreaker not installed: skipped")
    # Measured in turns, best of five each, so that a machine busy with other
    # work slows every contender alike.
    best = [float("inf")] * len(contenders)
    for _ in range(5):
        for i, (_, run, count) in enumerate(contenders):
            best[i] = min(best[i], best_ns(run, count, repeat=1))
    ours = best[0]
    report(f"CLOSED round trip, one thread, {n:,} round trips",
           [(name, ns, ns / ours if i else None) for i, ((name, _, _), ns) in enumerate(zip(contenders, best))])

    # One thread and many threads, also in turns.
    threaded = []
    for name, make in (("quillon", CircuitBreaker), ("plain Python", PyCircuitBreaker),
                       ("no-op methods", NoBreaker)):
        one = many = float("inf")
        shared = make()
        for _ in range(5):
            one = min(one, best_ns(lambda k: round_trips(make(), k), n, repeat=1))
            many = min(many, threaded_ns(lambda k: round_trips(shared, k), n, args.threads, repeat=1))
        threaded.append((f"{name}, one thread", one, None))
        threaded.append((f"{name}, {args.threads} threads, one breaker", many, one / many))
    report(f"CLOSED round trip, time per round trip of the whole process (ratio > 1: threads gain)", threaded)
    ours_one, ours_many = threaded[0][1], threaded[1][1]
    print(f"\n  total throughput: {1e9 / ours_many:,.0f} round trips/s with {args.threads} threads, "
          f"{1e9 / ours_one:,.0f} with one")

    if args.race:
        t0 = time.perf_counter()
        bad = race(args.race)
        print(f"\n16 threads race for the trial call, {args.race:,} rounds: {bad} rounds without exactly one "
              f"trial ({time.perf_counter() - t0:.1f} s)")
        if bad:
            sys.exit(1)


if __name__ == "__main__":
    main()
