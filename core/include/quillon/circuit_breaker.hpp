// A thread-safe circuit breaker: it counts consecutive failures of a
// dependency, opens after a threshold, admits exactly one trial call once a
// recovery time has passed since the last failure, and closes or re-opens on
// the trial's outcome.  It only decides and records; it never calls the
// protected operation.
//
//   CLOSED     normal operation; consecutive failures are counted
//   OPEN       refuses calls until recovery_timeout seconds after the last failure
//   HALF_OPEN  one trial call is out; its success closes, its failure re-opens
//
// Every field is guarded by one non-reentrant std::mutex.  Two things make the
// class fit a host with a global interpreter lock:
//
// * Waiting.  An operation first tries the mutex; only when it is taken does
//   it wait, and it waits inside the caller's BlockingRegion (a host releases
//   its own lock there).  The whole critical section then runs inside the
//   region, so the mutex is released before the host takes its lock back: the
//   breaker's mutex is never held by a thread that waits for the host's lock,
//   and never waited for by a thread that holds it.
// * Reporting.  Transitions are not reported under the mutex.  Each one is
//   queued, numbered, under the mutex, and the operation returns its number.
//   The caller then calls report(), which hands the queued transitions to its
//   callback one at a time, in the order they happened, with no lock held;
//   report() returns once every transition up to that number has been handed
//   out.  A callback that calls back into the breaker (a log handler reading
//   the state) neither deadlocks nor reorders: transitions it causes are
//   reported by the same report() loop after the current one.  Nor does one
//   whose handlers call into another breaker that does the same.
//
// The common path, can_execute() and record_success() while CLOSED with
// nothing to clear, reads one atomic word and takes no lock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

namespace quillon::resilience {

enum class State : std::uint8_t { Closed = 0, Open = 1, HalfOpen = 2 };

enum class Transition : std::uint8_t {
    ClosedToOpen,      // the threshold of consecutive failures was reached
    OpenToHalfOpen,    // the recovery time passed; the trial call was handed out
    HalfOpenToClosed,  // the trial succeeded
    HalfOpenToOpen,    // the trial failed
};

// A transition as it is reported: what happened, the failure count right
// after it, and its number (1, 2, ... in the order of the state changes).
struct Event {
    Transition transition;
    std::int64_t failure_count;
    std::uint64_t seq;
};

// How a transition is logged: a warning when the breaker opens, information
// otherwise; the message is a %-format whose one argument, when it has one
// ("%d"), is the failure count.
struct TransitionMessage {
    bool warning;
    const char* format;
    bool with_failure_count;
};
TransitionMessage message_of(Transition t) noexcept;

// The breaker's fields, as one consistent snapshot.
struct Fields {
    std::int64_t failure_threshold = 5;
    std::int64_t recovery_timeout = 60;  // seconds
    State state = State::Closed;
    std::int64_t failure_count = 0;
    double last_failure_time = 0.0;  // wall clock, seconds since the epoch; 0 = never
    bool probe_in_flight = false;
};

// Seconds since the epoch, with a fraction: the wall clock, not a monotonic
// one (the last failure time is a calendar time that callers read).
double wall_clock() noexcept;
using Clock = double (*)();

// Runs body(ctx) where the caller may block.  nullptr: run it directly.
using BlockingRegion = void (*)(void (*body)(void*), void* ctx);

// What an operation returns besides its answer: the number of the last
// transition it queued, or 0 when it queued none (nothing to report).
struct Outcome {
    bool allowed = false;
    std::uint64_t report_until = 0;
};

class CircuitBreaker {
public:
    explicit CircuitBreaker(std::int64_t failure_threshold = 5, std::int64_t recovery_timeout = 60,
                            Clock clock = wall_clock) noexcept;
    CircuitBreaker(const CircuitBreaker&) = delete;
    CircuitBreaker& operator=(const CircuitBreaker&) = delete;

    // The state as a reader sees it: OPEN whose recovery time has passed
    // reads as HALF_OPEN, but only can_execute() performs that promotion.
    State state(BlockingRegion region = nullptr);

    // Whether the caller may run the protected operation now.  While OPEN
    // after the recovery time, exactly one caller gets true (the trial).
    Outcome can_execute(BlockingRegion region = nullptr) {
        if (state_of(summary_.load(std::memory_order_acquire)) == State::Closed) return {true, 0};
        return can_execute_slow(region);
    }

    // The admitted operation succeeded: CLOSED, count 0, no trial out.
    Outcome record_success(BlockingRegion region = nullptr) {
        if (summary_.load(std::memory_order_acquire) == kClosedClean) return {};
        return record_success_slow(region);
    }

    // The admitted operation failed: count + 1, last failure now; opens at
    // the threshold, and a failed trial re-opens.
    Outcome record_failure(BlockingRegion region = nullptr);

    // Back to the initial state.  Queued transitions are still reported.
    void reset(BlockingRegion region = nullptr);

    // Whether the recovery time has passed since the last failure, read
    // under the lock (for inspection from outside the breaker).
    bool recovery_elapsed(BlockingRegion region = nullptr);

    Fields fields(BlockingRegion region = nullptr);
    // Replaces the fields in one critical section (inspection and tests).
    template <class F>
    void update(F&& change, BlockingRegion region = nullptr) {
        with_lock(region, [&] {
            Fields f = fields_;
            change(f);
            fields_ = f;
            publish();
        });
    }

    // Hands every queued transition numbered up to `until` to
    // emit(ctx, event), in order, one at a time and with no lock held, then
    // returns.  Another thread may be reporting: then this one waits (inside
    // the region) and takes its turn, reporting the transitions of others
    // too.  A thread that is inside an emit, of this breaker or another one,
    // never waits (its wait could close a cycle through the callbacks): when
    // the turn is taken it leaves its transitions to the thread that holds
    // the turn, which reports them after the current one.  If emit throws,
    // the exception propagates and what is left is reported by the next
    // caller.
    using Emit = void (*)(void* ctx, const Event& event);
    void report(std::uint64_t until, Emit emit, void* ctx, BlockingRegion region = nullptr);

private:
    // summary_: bits 0-1 the state, bit 2 set when failure_count != 0 or a
    // trial is out.  Written at the end of every critical section that
    // changes a field; read without the lock by the fast paths.
    static constexpr std::uint8_t kDirty = 4;
    static constexpr std::uint8_t kClosedClean = 0;
    static constexpr State state_of(std::uint8_t summary) noexcept { return static_cast<State>(summary & 3); }

    Outcome can_execute_slow(BlockingRegion region);
    Outcome record_success_slow(BlockingRegion region);

    bool recovery_elapsed_locked(double now) const noexcept;
    std::uint64_t queue(Transition t, std::int64_t failure_count);
    void publish() noexcept;

    // Runs step(lock, may_wait) with the mutex held until it returns true.
    // The first try takes the mutex only if it is free and passes
    // may_wait = false; a step that would have to wait (or a mutex that is
    // taken) moves the whole critical section inside the region, where the
    // step may wait on the condition variable.
    template <class Step>
    void with_lock_until(BlockingRegion region, Step&& step) {
        {
            std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
            if (lock.owns_lock() && step(lock, false)) return;
        }
        auto waiting = [&] {
            std::unique_lock<std::mutex> lock(mutex_);
            while (!step(lock, true)) {
            }
        };
        run_in(region, waiting);
    }

    template <class Body>
    void with_lock(BlockingRegion region, Body&& body) {
        with_lock_until(region, [&](std::unique_lock<std::mutex>&, bool) {
            body();
            return true;
        });
    }

    template <class F>
    static void run_in(BlockingRegion region, F& f) {
        if (!region) {
            f();
            return;
        }
        region([](void* p) { (*static_cast<F*>(p))(); }, &f);
    }

    Clock clock_;
    std::mutex mutex_;
    Fields fields_;
    std::atomic<std::uint8_t> summary_{kClosedClean};

    // Reporting, guarded by mutex_.
    std::condition_variable turn_;
    std::deque<Event> pending_;
    std::uint64_t last_seq_ = 0;      // number of the last queued transition
    std::uint64_t reported_ = 0;      // number of the last transition handed out and finished
    bool reporting_ = false;          // a thread holds the turn (is inside emit)
    std::uint64_t handed_over_ = 0;   // left to the holder of the turn by callers that cannot wait
};

}  // namespace quillon::resilience
