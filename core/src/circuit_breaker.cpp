#include "quillon/circuit_breaker.hpp"

#include <chrono>
#include <limits>

namespace quillon::resilience {

double wall_clock() noexcept {
    using seconds = std::chrono::duration<double>;
    return std::chrono::duration_cast<seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

CircuitBreaker::CircuitBreaker(std::int64_t failure_threshold, std::int64_t recovery_timeout, Clock clock) noexcept
    : clock_(clock ? clock : wall_clock) {
    fields_.failure_threshold = failure_threshold;
    fields_.recovery_timeout = recovery_timeout;
}

bool CircuitBreaker::recovery_elapsed_locked(double now) const noexcept {
    // The boundary counts as elapsed; a breaker that never failed (last
    // failure 0) has waited since the epoch.
    return now - fields_.last_failure_time >= static_cast<double>(fields_.recovery_timeout);
}

void CircuitBreaker::publish() noexcept {
    auto summary = static_cast<std::uint8_t>(fields_.state);
    if (fields_.failure_count != 0 || fields_.probe_in_flight) summary |= kDirty;
    summary_.store(summary, std::memory_order_release);
}

TransitionMessage message_of(Transition t) noexcept {
    switch (t) {
        case Transition::ClosedToOpen:
            return {true, "Circuit breaker: CLOSED -> OPEN (%d falhas consecutivas)", true};
        case Transition::OpenToHalfOpen:
            return {false, "Circuit breaker: OPEN -> HALF_OPEN (chamada de teste)", false};
        case Transition::HalfOpenToClosed:
            return {false, "Circuit breaker: HALF_OPEN -> CLOSED (recuperado)", false};
        case Transition::HalfOpenToOpen:
            break;
    }
    return {true, "Circuit breaker: HALF_OPEN -> OPEN (falha na recuperação)", false};
}

std::uint64_t CircuitBreaker::queue(Transition t, std::int64_t failure_count) {
    // Queued before any field changes, so a failed allocation leaves the
    // breaker as it was.
    const std::uint64_t seq = last_seq_ + 1;
    pending_.push_back(Event{t, failure_count, seq});
    last_seq_ = seq;
    return seq;
}

State CircuitBreaker::state(BlockingRegion region) {
    State s = state_of(summary_.load(std::memory_order_acquire));
    if (s != State::Open) return s;
    with_lock(region, [&] {
        s = fields_.state;
        if (s == State::Open && recovery_elapsed_locked(clock_())) s = State::HalfOpen;
    });
    return s;
}

Outcome CircuitBreaker::can_execute_slow(BlockingRegion region) {
    Outcome out;
    with_lock(region, [&] {
        switch (fields_.state) {
            case State::Closed:
                out.allowed = true;
                break;
            case State::Open:
                // The only promotion to HALF_OPEN: under the lock, handing the
                // single trial to this caller.
                if (recovery_elapsed_locked(clock_())) {
                    out.report_until = queue(Transition::OpenToHalfOpen, fields_.failure_count);
                    fields_.state = State::HalfOpen;
                    fields_.probe_in_flight = true;
                    out.allowed = true;
                    publish();
                }
                break;
            case State::HalfOpen:
                if (!fields_.probe_in_flight) {
                    fields_.probe_in_flight = true;
                    out.allowed = true;
                    publish();
                }
                break;
        }
    });
    return out;
}

Outcome CircuitBreaker::record_success_slow(BlockingRegion region) {
    Outcome out;
    with_lock(region, [&] {
        // A success while OPEN comes from a call admitted before the circuit
        // opened: it closes the circuit without a transition to report.
        if (fields_.state == State::HalfOpen) out.report_until = queue(Transition::HalfOpenToClosed, 0);
        fields_.state = State::Closed;
        fields_.failure_count = 0;
        fields_.probe_in_flight = false;
        publish();
    });
    return out;
}

Outcome CircuitBreaker::record_failure(BlockingRegion region) {
    Outcome out;
    with_lock(region, [&] {
        const double now = clock_();
        std::int64_t count = fields_.failure_count;
        if (count < std::numeric_limits<std::int64_t>::max()) ++count;
        if (fields_.state == State::HalfOpen) {
            out.report_until = queue(Transition::HalfOpenToOpen, count);
            fields_.state = State::Open;
        } else if (fields_.state == State::Closed && count >= fields_.failure_threshold) {
            out.report_until = queue(Transition::ClosedToOpen, count);
            fields_.state = State::Open;
        }
        // While OPEN only the count and the time move: the recovery wait
        // starts again from this failure.
        fields_.failure_count = count;
        fields_.last_failure_time = now;
        fields_.probe_in_flight = false;
        publish();
    });
    return out;
}

void CircuitBreaker::reset(BlockingRegion region) {
    with_lock(region, [&] {
        fields_.state = State::Closed;
        fields_.failure_count = 0;
        fields_.last_failure_time = 0.0;
        fields_.probe_in_flight = false;
        publish();
    });
}

bool CircuitBreaker::recovery_elapsed(BlockingRegion region) {
    bool elapsed = false;
    with_lock(region, [&] { elapsed = recovery_elapsed_locked(clock_()); });
    return elapsed;
}

Fields CircuitBreaker::fields(BlockingRegion region) {
    Fields f;
    with_lock(region, [&] { f = fields_; });
    return f;
}

namespace {

// How many emits of report() are running on this thread, any breaker's.
thread_local int t_emitting = 0;

}  // namespace

void CircuitBreaker::report(std::uint64_t until, Emit emit, void* ctx, BlockingRegion region) {
    for (;;) {
        Event event{};
        bool take = false;
        with_lock_until(region, [&](std::unique_lock<std::mutex>& lock, bool may_wait) {
            for (;;) {
                if (reported_ >= until || (pending_.empty() && !reporting_)) return true;
                if (!reporting_) {
                    event = pending_.front();
                    pending_.pop_front();
                    reporting_ = take = true;
                    return true;
                }
                if (t_emitting > 0) {
                    // Called from inside an emit: the holder of the turn
                    // (perhaps this very thread, further up its stack)
                    // reports these after the current one.
                    if (until > handed_over_) handed_over_ = until;
                    return true;
                }
                if (!may_wait) return false;
                turn_.wait(lock);
            }
        });
        if (!take) return;

        // Ends the turn, also when emit throws.  What callers handed over
        // during the emit extends what this loop reports.
        auto finish = [&](bool completed) {
            --t_emitting;
            with_lock(region, [&] {
                reported_ = event.seq;
                reporting_ = false;
                if (completed && handed_over_ > until) until = handed_over_;
                handed_over_ = 0;
                turn_.notify_all();
            });
        };
        ++t_emitting;
        try {
            emit(ctx, event);
        } catch (...) {
            finish(false);
            throw;
        }
        finish(true);
    }
}

}  // namespace quillon::resilience
