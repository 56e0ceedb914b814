"""Many threads share one CircuitBreaker while logging handlers run.

    python resilience_stress.py --threads 16 --seconds 2 --handlers recording,calls_back,slow

Run as a separate process by the tests so that a deadlock ends in a timeout
(with every thread's stack dumped) rather than in a hung test run.  Exits 0
when every thread finished and the logged transitions chain in the order of
the state changes.
"""

import argparse
import faulthandler
import logging
import random
import re
import sys
import threading
import time

from quillon.resilience import CircuitBreaker

TRANSITION = re.compile(r"Circuit breaker: (\w+) -> (\w+) ")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--threads", type=int, default=16)
    ap.add_argument("--seconds", type=float, default=2.0)
    ap.add_argument("--handlers", default="recording,calls_back,slow")
    args = ap.parse_args()
    faulthandler.dump_traceback_later(args.seconds + 60, exit=True)

    cb = CircuitBreaker(failure_threshold=2, recovery_timeout=0)
    messages = []
    handler_lock = threading.Lock()

    class Recording(logging.Handler):
        def emit(self, record):
            messages.append(record.getMessage())

    class CallsBack(logging.Handler):
        """Looks at the breaker and sometimes uses it, from inside a log call."""

        def emit(self, record):
            _ = cb.state, cb._failure_count
            if random.random() < 0.3 and cb.can_execute():
                cb.record_failure()

    class Slow(logging.Handler):
        """Takes a lock of its own and gives the GIL away while holding it."""

        def emit(self, record):
            with handler_lock:
                time.sleep(0)

    available = {"recording": Recording, "calls_back": CallsBack, "slow": Slow}
    logger = logging.getLogger("quillon.resilience")
    logger.setLevel(logging.INFO)
    logger.propagate = False
    for name in args.handlers.split(","):
        logger.addHandler(available[name]())

    deadline = time.monotonic() + args.seconds
    calls = [0] * args.threads

    def worker(i):
        rng = random.Random(i)
        while time.monotonic() < deadline:
            calls[i] += 1
            if cb.can_execute():
                cb.record_failure() if rng.random() < 0.6 else cb.record_success()
            elif rng.random() < 0.1:
                _ = cb.state

    sys.setswitchinterval(1e-5)
    threads = [threading.Thread(target=worker, args=(i,), daemon=True) for i in range(args.threads)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=args.seconds + 30)
    stuck = [t.name for t in threads if t.is_alive()]
    if stuck:
        faulthandler.dump_traceback(all_threads=True)
        sys.exit(f"threads did not finish: {stuck}")

    if "recording" in args.handlers:
        # Consecutive lines chain (the "to" of one is the "from" of the next),
        # except a success reported while OPEN, which closes without a line.
        previous = "CLOSED"
        for n, message in enumerate(messages):
            src, dst = TRANSITION.match(message).groups()
            if src != previous and not (previous == "OPEN" and src == "CLOSED"):
                sys.exit(f"line {n} out of order after {previous}: {message}")
            previous = dst
        if len(messages) < 10:
            sys.exit(f"too few transitions to judge: {len(messages)}")
    print(f"{sum(calls)} calls, {len(messages)} transitions logged in order")


if __name__ == "__main__":
    main()
