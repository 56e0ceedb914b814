#include "quillon/circuit_breaker.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace quillon::resilience;

namespace {

// A clock the tests move by hand.
std::atomic<double> g_now{1000.0};
double test_clock() { return g_now.load(); }

struct Recorder {
    std::vector<Event> events;
    static void emit(void* ctx, const Event& e) { static_cast<Recorder*>(ctx)->events.push_back(e); }
};

class Breaker : public ::testing::Test {
protected:
    void SetUp() override { g_now = 1000.0; }

    // Runs an operation and reports what it queued, as a host would.
    bool can_execute(CircuitBreaker& b) { return flush(b.can_execute()).allowed; }
    void success(CircuitBreaker& b) { flush(b.record_success()); }
    void failure(CircuitBreaker& b) { flush(b.record_failure()); }

    Outcome flush(Outcome o) {
        if (o.report_until) breaker_->report(o.report_until, &Recorder::emit, &rec_);
        return o;
    }

    CircuitBreaker& make(std::int64_t threshold = 5, std::int64_t timeout = 60) {
        owned_ = std::make_unique<CircuitBreaker>(threshold, timeout, test_clock);
        breaker_ = owned_.get();
        return *owned_;
    }

    // OPEN after `threshold` failures at the current time.
    CircuitBreaker& open(std::int64_t threshold = 1, std::int64_t timeout = 60) {
        CircuitBreaker& b = make(threshold, timeout);
        for (std::int64_t i = 0; i < threshold; ++i) failure(b);
        rec_.events.clear();
        return b;
    }

    // HALF_OPEN with the trial out.
    CircuitBreaker& half_open() {
        CircuitBreaker& b = open(1, 60);
        g_now = g_now + 60;
        EXPECT_TRUE(can_execute(b));
        rec_.events.clear();
        return b;
    }

    std::vector<Transition> transitions() const {
        std::vector<Transition> out;
        for (const Event& e : rec_.events) out.push_back(e.transition);
        return out;
    }

    Recorder rec_;
    std::unique_ptr<CircuitBreaker> owned_;
    CircuitBreaker* breaker_ = nullptr;
};

using Ts = std::vector<Transition>;

}  // namespace

// --- the transition table, row by row ----------------------------------------

TEST_F(Breaker, NewBreakerIsClosedAndAdmits) {
    CircuitBreaker& b = make();
    Fields f = b.fields();
    EXPECT_EQ(f.state, State::Closed);
    EXPECT_EQ(f.failure_threshold, 5);
    EXPECT_EQ(f.recovery_timeout, 60);
    EXPECT_EQ(f.failure_count, 0);
    EXPECT_EQ(f.last_failure_time, 0.0);
    EXPECT_FALSE(f.probe_in_flight);
    EXPECT_EQ(b.state(), State::Closed);
    EXPECT_TRUE(can_execute(b));
    EXPECT_TRUE(b.recovery_elapsed());  // never failed
}

TEST_F(Breaker, ClosedSuccessClearsTheCount) {
    CircuitBreaker& b = make();
    failure(b);
    failure(b);
    success(b);
    Fields f = b.fields();
    EXPECT_EQ(f.state, State::Closed);
    EXPECT_EQ(f.failure_count, 0);
    EXPECT_EQ(f.last_failure_time, 1000.0);  // a success does not clear the time
    EXPECT_TRUE(rec_.events.empty());
}

TEST_F(Breaker, ClosedFailuresBelowThresholdCount) {
    CircuitBreaker& b = make();
    for (int i = 1; i <= 4; ++i) {
        g_now = 1000.0 + i;
        failure(b);
        Fields f = b.fields();
        EXPECT_EQ(f.state, State::Closed);
        EXPECT_EQ(f.failure_count, i);
        EXPECT_EQ(f.last_failure_time, 1000.0 + i);
    }
    EXPECT_TRUE(can_execute(b));
    EXPECT_TRUE(rec_.events.empty());
}

TEST_F(Breaker, ClosedOpensAtTheThreshold) {
    CircuitBreaker& b = make();
    for (int i = 0; i < 5; ++i) failure(b);
    Fields f = b.fields();
    EXPECT_EQ(f.state, State::Open);
    EXPECT_EQ(f.failure_count, 5);
    ASSERT_EQ(rec_.events.size(), 1u);
    EXPECT_EQ(rec_.events[0].transition, Transition::ClosedToOpen);
    EXPECT_EQ(rec_.events[0].failure_count, 5);
}

TEST_F(Breaker, ASuccessRestartsTheCount) {
    CircuitBreaker& b = make();
    for (int i = 0; i < 4; ++i) failure(b);
    success(b);
    for (int i = 0; i < 4; ++i) failure(b);
    EXPECT_EQ(b.state(), State::Closed);
    failure(b);
    EXPECT_EQ(b.state(), State::Open);
}

TEST_F(Breaker, OpenRefusesBeforeTheRecoveryTime) {
    CircuitBreaker& b = open();
    g_now = g_now + 59.999;
    EXPECT_FALSE(can_execute(b));
    EXPECT_EQ(b.state(), State::Open);
    EXPECT_EQ(b.fields().state, State::Open);
    EXPECT_TRUE(rec_.events.empty());
}

TEST_F(Breaker, OpenAdmitsOneTrialAtTheBoundary) {
    CircuitBreaker& b = open();
    g_now = g_now + 60;  // exactly the recovery time: elapsed
    EXPECT_EQ(b.state(), State::HalfOpen);
    EXPECT_EQ(b.fields().state, State::Open);  // reading does not promote
    EXPECT_TRUE(can_execute(b));
    Fields f = b.fields();
    EXPECT_EQ(f.state, State::HalfOpen);
    EXPECT_TRUE(f.probe_in_flight);
    EXPECT_EQ(transitions(), (Ts{Transition::OpenToHalfOpen}));
    EXPECT_FALSE(can_execute(b));
    EXPECT_FALSE(can_execute(b));
    EXPECT_EQ(rec_.events.size(), 1u);
}

TEST_F(Breaker, OpenFailureRestartsTheWaitSilently) {
    CircuitBreaker& b = open();
    g_now = g_now + 50;
    failure(b);
    Fields f = b.fields();
    EXPECT_EQ(f.state, State::Open);
    EXPECT_EQ(f.failure_count, 2);
    EXPECT_EQ(f.last_failure_time, g_now.load());
    g_now = g_now + 59;
    EXPECT_FALSE(can_execute(b));
    g_now = g_now + 1;
    EXPECT_TRUE(can_execute(b));
    EXPECT_EQ(transitions(), (Ts{Transition::OpenToHalfOpen}));
}

TEST_F(Breaker, OpenSuccessClosesSilently) {
    CircuitBreaker& b = open(3);
    success(b);
    Fields f = b.fields();
    EXPECT_EQ(f.state, State::Closed);
    EXPECT_EQ(f.failure_count, 0);
    EXPECT_FALSE(f.probe_in_flight);
    EXPECT_TRUE(rec_.events.empty());
}

TEST_F(Breaker, HalfOpenWithoutTrialHandsOneOut) {
    CircuitBreaker& b = half_open();
    b.update([](Fields& f) { f.probe_in_flight = false; });
    EXPECT_TRUE(can_execute(b));
    EXPECT_TRUE(b.fields().probe_in_flight);
    EXPECT_FALSE(can_execute(b));
    EXPECT_EQ(b.fields().state, State::HalfOpen);
    EXPECT_TRUE(rec_.events.empty());
}

TEST_F(Breaker, HalfOpenSuccessCloses) {
    CircuitBreaker& b = half_open();
    success(b);
    Fields f = b.fields();
    EXPECT_EQ(f.state, State::Closed);
    EXPECT_EQ(f.failure_count, 0);
    EXPECT_FALSE(f.probe_in_flight);
    EXPECT_EQ(transitions(), (Ts{Transition::HalfOpenToClosed}));
    EXPECT_EQ(rec_.events[0].failure_count, 0);
}

TEST_F(Breaker, HalfOpenFailureReopensForAFullWait) {
    CircuitBreaker& b = half_open();
    g_now = g_now + 5;
    failure(b);
    Fields f = b.fields();
    EXPECT_EQ(f.state, State::Open);
    EXPECT_EQ(f.failure_count, 2);  // not reset by opening nor by the trial
    EXPECT_FALSE(f.probe_in_flight);
    EXPECT_EQ(f.last_failure_time, g_now.load());
    ASSERT_EQ(transitions(), (Ts{Transition::HalfOpenToOpen}));
    EXPECT_EQ(rec_.events[0].failure_count, 2);
    g_now = g_now + 59;
    EXPECT_FALSE(can_execute(b));
    g_now = g_now + 1;
    EXPECT_TRUE(can_execute(b));
}

class BreakerReset : public Breaker, public ::testing::WithParamInterface<int> {};

TEST_P(BreakerReset, FromEveryStateToTheInitialOne) {
    CircuitBreaker* b = nullptr;
    switch (GetParam()) {
        case 0: b = &make(); failure(*b); break;
        case 1: b = &open(); break;
        default: b = &half_open(); break;
    }
    rec_.events.clear();
    b->reset();
    Fields f = b->fields();
    EXPECT_EQ(f.state, State::Closed);
    EXPECT_EQ(f.failure_count, 0);
    EXPECT_EQ(f.last_failure_time, 0.0);
    EXPECT_FALSE(f.probe_in_flight);
    EXPECT_TRUE(rec_.events.empty());
    EXPECT_TRUE(can_execute(*b));
}

INSTANTIATE_TEST_SUITE_P(States, BreakerReset, ::testing::Values(0, 1, 2));

// --- edges -------------------------------------------------------------------

TEST_F(Breaker, ZeroRecoveryTimeAdmitsTheTrialAtOnce) {
    CircuitBreaker& b = open(1, 0);
    EXPECT_EQ(b.state(), State::HalfOpen);
    EXPECT_TRUE(can_execute(b));
    EXPECT_FALSE(can_execute(b));
}

TEST_F(Breaker, NegativeRecoveryTimeIsAlwaysElapsed) {
    CircuitBreaker& b = open(1, -10);
    EXPECT_TRUE(can_execute(b));
}

TEST_F(Breaker, ZeroOrNegativeThresholdOpensOnTheFirstFailure) {
    for (std::int64_t threshold : {0, -3}) {
        CircuitBreaker& b = make(threshold);
        EXPECT_TRUE(can_execute(b));
        failure(b);
        EXPECT_EQ(b.fields().state, State::Open) << threshold;
    }
}

TEST_F(Breaker, ExtremeValuesNeitherOverflowNorOpen) {
    CircuitBreaker& b = make(std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::max());
    b.update([](Fields& f) { f.failure_count = std::numeric_limits<std::int64_t>::max() - 1; });
    failure(b);
    failure(b);  // saturates instead of wrapping
    EXPECT_EQ(b.fields().failure_count, std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(b.fields().state, State::Open);
    EXPECT_FALSE(b.recovery_elapsed());
}

TEST_F(Breaker, FastPathsSeeEveryChange) {
    // The lock-free paths read a summary word; each change must refresh it.
    CircuitBreaker& b = make(2);
    failure(b);          // CLOSED, count 1
    success(b);          // must clear through the slow path
    failure(b);          // count 1 again, not 2
    EXPECT_EQ(b.fields().state, State::Closed);
    b.update([](Fields& f) { f.state = State::Open; });
    EXPECT_FALSE(can_execute(b));  // not the CLOSED shortcut
    b.update([](Fields& f) { f.state = State::Closed; f.failure_count = 0; });
    EXPECT_TRUE(can_execute(b));
}

// --- reporting ----------------------------------------------------------------

TEST_F(Breaker, EventsCarryIncreasingNumbers) {
    CircuitBreaker& b = make(1, 0);
    failure(b);         // CLOSED -> OPEN
    can_execute(b);     // OPEN -> HALF_OPEN
    failure(b);         // HALF_OPEN -> OPEN
    can_execute(b);     // OPEN -> HALF_OPEN
    success(b);         // HALF_OPEN -> CLOSED
    EXPECT_EQ(transitions(), (Ts{Transition::ClosedToOpen, Transition::OpenToHalfOpen, Transition::HalfOpenToOpen,
                                 Transition::OpenToHalfOpen, Transition::HalfOpenToClosed}));
    for (std::size_t i = 0; i < rec_.events.size(); ++i) EXPECT_EQ(rec_.events[i].seq, i + 1);
}

TEST_F(Breaker, AnEmitThatCallsBackReportsAfterwardsInOrder) {
    CircuitBreaker& b = make(1, 0);
    struct Ctx {
        CircuitBreaker* b;
        std::vector<Event> seen;
    } ctx{&b, {}};
    // The callback fails the trial it sees handed out: a transition queued
    // from inside the callback.
    auto emit = [](void* p, const Event& e) {
        auto* c = static_cast<Ctx*>(p);
        c->seen.push_back(e);
        if (e.transition == Transition::OpenToHalfOpen) {
            Outcome o = c->b->record_failure();
            ASSERT_NE(o.report_until, 0u);
            c->b->report(o.report_until, +[](void*, const Event&) { FAIL() << "nested report emitted"; }, nullptr);
        }
    };
    Outcome o = b.record_failure();
    b.report(o.report_until, emit, &ctx);
    o = b.can_execute();
    ASSERT_TRUE(o.allowed);
    b.report(o.report_until, emit, &ctx);
    ASSERT_EQ(ctx.seen.size(), 3u);
    EXPECT_EQ(ctx.seen[1].transition, Transition::OpenToHalfOpen);
    EXPECT_EQ(ctx.seen[2].transition, Transition::HalfOpenToOpen);
    EXPECT_EQ(ctx.seen[2].seq, 3u);
}

TEST_F(Breaker, AFailedEmitLeavesTheRestForTheNextReport) {
    CircuitBreaker& b = make(1, 0);
    auto boom = [](void*, const Event&) { throw std::runtime_error("handler failed"); };
    Outcome first = b.record_failure();
    Outcome second = b.can_execute();
    EXPECT_THROW(b.report(second.report_until, boom, nullptr), std::runtime_error);
    // The first was handed out (and failed); the second is still queued.
    Outcome third = b.record_failure();
    b.report(third.report_until, &Recorder::emit, &rec_);
    EXPECT_EQ(transitions(), (Ts{Transition::OpenToHalfOpen, Transition::HalfOpenToOpen}));
    (void)first;
}

// --- threads -----------------------------------------------------------------

namespace {

// A reusable barrier (C++17 has none).
class Barrier {
public:
    explicit Barrier(int n) : n_(n) {}
    void wait() {
        std::unique_lock<std::mutex> lock(m_);
        const long gen = gen_;
        if (++count_ == n_) {
            count_ = 0;
            ++gen_;
            cv_.notify_all();
            return;
        }
        cv_.wait(lock, [&] { return gen_ != gen; });
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    int n_, count_ = 0;
    long gen_ = 0;
};

int rounds_from_env(int fallback) {
    const char* v = std::getenv("QUILLON_RACE_ROUNDS");
    return v ? std::max(1, std::atoi(v)) : fallback;
}

}  // namespace

TEST(BreakerThreads, ExactlyOneTrialWhenSixteenThreadsAskAtOnce) {
    constexpr int kThreads = 16;
    const int rounds = rounds_from_env(1000);
    CircuitBreaker b(1, 0);  // wall clock: recovery 0 is elapsed at once
    Barrier start(kThreads + 1), done(kThreads + 1);
    std::atomic<int> admitted{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            for (;;) {
                start.wait();
                if (stop) return;
                if (b.can_execute().allowed) ++admitted;
                done.wait();
            }
        });
    for (int r = 0; r < rounds; ++r) {
        b.reset();
        b.record_failure();  // OPEN, recovery already elapsed
        admitted = 0;
        start.wait();
        done.wait();
        ASSERT_EQ(admitted.load(), 1) << "round " << r;
        ASSERT_EQ(b.fields().state, State::HalfOpen);
    }
    stop = true;
    start.wait();
    for (auto& t : threads) t.join();
}

TEST(BreakerThreads, ConcurrentReportsAreCompleteOrderedAndNeverOverlap) {
    constexpr int kThreads = 8;
    const int ops = rounds_from_env(1000) * 4;
    CircuitBreaker b(2, 0);
    struct Log {
        std::mutex m;
        std::vector<std::uint64_t> seqs;
        std::atomic<int> inside{0};
        std::atomic<bool> overlap{false};
    } log;
    auto emit = [](void* p, const Event& e) {
        auto* l = static_cast<Log*>(p);
        if (l->inside.fetch_add(1) != 0) l->overlap = true;
        {
            std::lock_guard<std::mutex> g(l->m);
            l->seqs.push_back(e.seq);
        }
        std::this_thread::yield();
        l->inside.fetch_sub(1);
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            unsigned x = 2463534242u + t;
            for (int i = 0; i < ops; ++i) {
                x ^= x << 13, x ^= x >> 17, x ^= x << 5;
                Outcome o;
                switch (x % 4) {
                    case 0: o = b.can_execute(); break;
                    case 1: o = b.record_success(); break;
                    default: o = b.record_failure(); break;
                }
                if (o.report_until) {
                    b.report(o.report_until, emit, &log);
                    // Returning means this thread's transition was reported.
                    std::lock_guard<std::mutex> g(log.m);
                    EXPECT_GE(log.seqs.size(), o.report_until);
                }
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_FALSE(log.overlap.load());
    ASSERT_FALSE(log.seqs.empty());
    for (std::size_t i = 0; i < log.seqs.size(); ++i) ASSERT_EQ(log.seqs[i], i + 1);
}

TEST(BreakerThreads, CallbacksThatCallBackDoNotDeadlock) {
    constexpr int kThreads = 16;
    const int ops = rounds_from_env(1000);
    CircuitBreaker b(1, 0);
    std::atomic<long> emitted{0};
    struct Ctx {
        CircuitBreaker* b;
        std::atomic<long>* emitted;
    } ctx{&b, &emitted};
    auto emit = [](void* p, const Event&) {
        auto* c = static_cast<Ctx*>(p);
        ++*c->emitted;
        // A handler that looks at the breaker and sometimes changes it.
        (void)c->b->state();
        Outcome o = c->b->can_execute();
        if (o.allowed && o.report_until) c->b->report(o.report_until, +[](void*, const Event&) {}, nullptr);
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < ops; ++i) {
                Outcome o = ((i + t) % 3 == 0) ? b.record_success() : ((i + t) % 3 == 1) ? b.record_failure()
                                                                                           : b.can_execute();
                if (o.report_until) b.report(o.report_until, emit, &ctx);
            }
        });
    for (auto& t : threads) t.join();
    // Everything queued has been reported by someone.
    Outcome last = b.record_failure();
    b.reset();
    (void)last;
    EXPECT_GT(emitted.load(), 0);
}
