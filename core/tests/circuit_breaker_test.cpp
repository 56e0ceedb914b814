#include "quillon/circuit_breaker.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <limits>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace quillon::resilience;

namespace {

std::atomic<double> g_now{1000.0};  // the clock of the single-threaded tests
double test_clock() { return g_now.load(); }

using Events = std::vector<Event>;
void record(void* events, const Event& e) { static_cast<Events*>(events)->push_back(e); }

// Runs an operation and reports what it queued into `events`, as a host does.
struct Driver {
    CircuitBreaker b;
    Events events;
    Driver(std::int64_t threshold, std::int64_t timeout) : b(threshold, timeout, test_clock) {}
    Outcome run(Outcome o) {
        if (o.report_until) b.report(o.report_until, record, &events);
        return o;
    }
    bool can_execute() { return run(b.can_execute()).allowed; }
    void success() { run(b.record_success()); }
    void failure() { run(b.record_failure()); }
};

enum class Op { CanExecute, Success, Failure, Reset };
enum class Start { Closed, Closed2, Open, OpenElapsed, HalfOpen, HalfOpenFree };
enum class When { Kept, Now, Zero };

// Threshold 3, recovery 60 s, brought to a row's starting point.
std::unique_ptr<Driver> start(Start s) {
    auto d = std::make_unique<Driver>(3, 60);
    g_now = 1000.0;
    int failures = s == Start::Closed ? 1 : s == Start::Closed2 ? 2 : 3;
    for (int i = 0; i < failures; ++i) d->failure();
    if (s >= Start::OpenElapsed) g_now = 1060.0;  // the boundary counts as elapsed
    if (s >= Start::HalfOpen) EXPECT_TRUE(d->can_execute());
    if (s == Start::HalfOpenFree) d->b.update([](Fields& f) { f.probe_in_flight = false; });
    d->events.clear();
    return d;
}

struct Row {
    Start from;
    Op op;
    bool allowed;
    State to;
    std::int64_t count;
    bool probe;
    When when;
    std::vector<Transition> logged;
};

const Row kTable[] = {
    {Start::Closed, Op::CanExecute, true, State::Closed, 1, false, When::Kept, {}},
    {Start::Closed, Op::Success, false, State::Closed, 0, false, When::Kept, {}},
    {Start::Closed, Op::Failure, false, State::Closed, 2, false, When::Now, {}},
    {Start::Closed2, Op::Failure, false, State::Open, 3, false, When::Now, {Transition::ClosedToOpen}},
    {Start::Open, Op::CanExecute, false, State::Open, 3, false, When::Kept, {}},
    {Start::OpenElapsed, Op::CanExecute, true, State::HalfOpen, 3, true, When::Kept, {Transition::OpenToHalfOpen}},
    {Start::Open, Op::Failure, false, State::Open, 4, false, When::Now, {}},
    {Start::Open, Op::Success, false, State::Closed, 0, false, When::Kept, {}},
    {Start::HalfOpenFree, Op::CanExecute, true, State::HalfOpen, 3, true, When::Kept, {}},
    {Start::HalfOpen, Op::CanExecute, false, State::HalfOpen, 3, true, When::Kept, {}},
    {Start::HalfOpen, Op::Success, false, State::Closed, 0, false, When::Kept, {Transition::HalfOpenToClosed}},
    {Start::HalfOpen, Op::Failure, false, State::Open, 4, false, When::Now, {Transition::HalfOpenToOpen}},
    {Start::Closed, Op::Reset, false, State::Closed, 0, false, When::Zero, {}},
    {Start::Open, Op::Reset, false, State::Closed, 0, false, When::Zero, {}},
    {Start::HalfOpen, Op::Reset, false, State::Closed, 0, false, When::Zero, {}},
};

class TransitionTable : public ::testing::TestWithParam<Row> {};

}  // namespace

TEST_P(TransitionTable, Row) {
    const Row& row = GetParam();
    auto d = start(row.from);
    const double last = d->b.fields().last_failure_time;
    g_now = g_now + 0.5;
    bool allowed = false;
    switch (row.op) {
        case Op::CanExecute: allowed = d->can_execute(); break;
        case Op::Success: d->success(); break;
        case Op::Failure: d->failure(); break;
        case Op::Reset: d->b.reset(); break;
    }
    Fields f = d->b.fields();
    EXPECT_EQ(allowed, row.allowed);
    EXPECT_EQ(f.state, row.to);
    EXPECT_EQ(f.failure_count, row.count);
    EXPECT_EQ(f.probe_in_flight, row.probe);
    EXPECT_EQ(f.last_failure_time, row.when == When::Kept ? last : row.when == When::Now ? g_now.load() : 0.0);
    std::vector<Transition> logged;
    for (const Event& e : d->events) logged.push_back(e.transition);
    EXPECT_EQ(logged, row.logged);
    for (const Event& e : d->events) EXPECT_EQ(e.failure_count, row.count);
}

INSTANTIATE_TEST_SUITE_P(Breaker, TransitionTable, ::testing::ValuesIn(kTable));

TEST(Breaker, ReadingTheStateNeverPromotes) {
    auto d = start(Start::OpenElapsed);
    EXPECT_EQ(d->b.state(), State::HalfOpen);
    EXPECT_EQ(d->b.state(), State::HalfOpen);
    EXPECT_EQ(d->b.fields().state, State::Open);
    EXPECT_TRUE(d->events.empty());
    g_now = 1059.9;
    EXPECT_EQ(d->b.state(), State::Open);
}

TEST(Breaker, EdgeValues) {
    g_now = 1000.0;
    Driver zero(0, 0), negative(-3, -10);
    for (Driver* d : {&zero, &negative}) {
        d->failure();  // a threshold below 1 opens on the first failure
        EXPECT_EQ(d->b.fields().state, State::Open);
        EXPECT_TRUE(d->can_execute());  // a timeout of 0 or less has always elapsed
    }
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    Driver huge(kMax, kMax);
    huge.b.update([](Fields& f) { f.failure_count = kMax - 1; });
    huge.failure();
    huge.failure();  // saturates rather than wrapping
    EXPECT_EQ(huge.b.fields().failure_count, kMax);
    EXPECT_FALSE(huge.b.recovery_elapsed());
    EXPECT_TRUE(Driver(5, 60).b.recovery_elapsed());  // never failed: last failure 0
}

TEST(Breaker, FastPathsSeeEveryChange) {
    Driver d(2, 60);
    d.failure();
    d.success();  // count 1 must be cleared though CLOSED
    d.failure();
    EXPECT_EQ(d.b.fields().state, State::Closed);
    d.b.update([](Fields& f) { f.state = State::Open; });
    EXPECT_FALSE(d.can_execute());
}

TEST(Reporting, ACallbackThatCallsBackIsReportedAfterTheCurrentOne) {
    g_now = 1000.0;
    CircuitBreaker b(1, 0, test_clock);
    struct Ctx {
        CircuitBreaker* b;
        Events seen;
    } ctx{&b, {}};
    auto emit = [](void* p, const Event& e) {
        auto* c = static_cast<Ctx*>(p);
        c->seen.push_back(e);
        if (e.transition != Transition::ClosedToOpen) return;
        Outcome o = c->b->can_execute();  // a transition from inside the callback
        c->b->report(o.report_until, +[](void*, const Event&) { FAIL() << "reported out of turn"; }, nullptr);
    };
    b.report(b.record_failure().report_until, emit, &ctx);
    ASSERT_EQ(ctx.seen.size(), 2u);
    EXPECT_EQ(ctx.seen[1].transition, Transition::OpenToHalfOpen);
    EXPECT_EQ(ctx.seen[1].seq, 2u);
}

TEST(Reporting, AFailedCallbackLeavesTheRestForTheNextReport) {
    CircuitBreaker b(1, 0, test_clock);
    Outcome first = b.record_failure(), second = b.can_execute();
    auto boom = [](void*, const Event&) { throw std::runtime_error("handler failed"); };
    EXPECT_THROW(b.report(second.report_until, boom, nullptr), std::runtime_error);
    Events events;
    b.report(b.record_failure().report_until, record, &events);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].seq, 2u);
    EXPECT_EQ(events[1].transition, Transition::HalfOpenToOpen);
    (void)first;
}

// --- threads (wall clock) ------------------------------------------------------

namespace {

class Barrier {  // C++17 has none
public:
    explicit Barrier(int n) : n_(n) {}
    void wait() {
        std::unique_lock<std::mutex> lock(m_);
        const long gen = gen_;
        if (++count_ == n_) {
            count_ = 0;
            ++gen_;
            cv_.notify_all();
        } else {
            cv_.wait(lock, [&] { return gen_ != gen; });
        }
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    int n_, count_ = 0;
    long gen_ = 0;
};

int rounds() {
    const char* v = std::getenv("QUILLON_RACE_ROUNDS");
    return v ? std::max(1, std::atoi(v)) : 1000;
}

}  // namespace

TEST(BreakerThreads, ExactlyOneTrialWhenSixteenThreadsAskAtOnce) {
    constexpr int kThreads = 16;
    CircuitBreaker b(1, 0);
    Barrier start(kThreads + 1), done(kThreads + 1);
    std::atomic<int> admitted{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            for (start.wait(); !stop; start.wait()) {
                if (b.can_execute().allowed) ++admitted;
                done.wait();
            }
        });
    for (int r = 0, n = rounds(); r < n; ++r) {
        b.reset();
        b.record_failure();  // OPEN, recovery already elapsed
        admitted = 0;
        start.wait();
        done.wait();
        ASSERT_EQ(admitted.load(), 1) << "round " << r;
    }
    stop = true;
    start.wait();
    for (auto& t : threads) t.join();
}

TEST(BreakerThreads, ReportsAreCompleteOrderedAndOneAtATime) {
    constexpr int kThreads = 8;
    CircuitBreaker b(2, 0);
    struct Log {
        std::mutex m;
        std::vector<std::uint64_t> seqs;
        std::atomic<int> inside{0};
        std::atomic<bool> overlap{false};
        CircuitBreaker* b;
    } log;
    log.b = &b;
    // The callback also reads and uses the breaker, as a log handler may.
    auto emit = [](void* p, const Event& e) {
        auto* l = static_cast<Log*>(p);
        if (l->inside.fetch_add(1) != 0) l->overlap = true;
        {
            std::lock_guard<std::mutex> g(l->m);
            l->seqs.push_back(e.seq);
        }
        (void)l->b->state();
        Outcome o = l->b->can_execute();
        if (o.report_until) l->b->report(o.report_until, +[](void*, const Event&) {}, nullptr);
        l->inside.fetch_sub(1);
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            unsigned x = 2463534242u + t;
            for (int i = 0, n = rounds() * 4; i < n; ++i) {
                x ^= x << 13, x ^= x >> 17, x ^= x << 5;
                Outcome o = x % 4 == 0 ? b.can_execute() : x % 4 == 1 ? b.record_success() : b.record_failure();
                if (!o.report_until) continue;
                b.report(o.report_until, emit, &log);
                std::lock_guard<std::mutex> g(log.m);  // returning means it was reported
                EXPECT_GE(log.seqs.size(), o.report_until);
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_FALSE(log.overlap.load());
    ASSERT_FALSE(log.seqs.empty());
    for (std::size_t i = 0; i < log.seqs.size(); ++i) ASSERT_EQ(log.seqs[i], i + 1);
}

TEST(BreakerThreads, CallbacksThatDriveEachOthersBreakerDoNotDeadlock) {
    // Each breaker's callback drives the other breaker and reports it with
    // the same callback: a thread reporting one calls into the other while
    // another thread may be reporting that one.
    struct Side {
        CircuitBreaker b{1, 0};
        Side* other = nullptr;
        std::atomic<long> emitted{0};
    } a, b;
    a.other = &b;
    b.other = &a;
    // (Only two kinds of transition drive the other side, so that the
    // chains they start end.)
    static const CircuitBreaker::Emit emit = [](void* p, const Event& e) {
        Side& other = *static_cast<Side*>(p)->other;
        ++static_cast<Side*>(p)->emitted;
        Outcome o;
        if (e.transition == Transition::ClosedToOpen) o = other.b.can_execute();
        if (e.transition == Transition::OpenToHalfOpen) o = other.b.record_failure();
        if (o.report_until) other.b.report(o.report_until, emit, &other);
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            Side& mine = t % 2 ? a : b;
            for (int i = 0, n = rounds(); i < n; ++i) {
                Outcome o = (i % 2) ? mine.b.record_failure() : mine.b.can_execute();
                if (o.report_until) mine.b.report(o.report_until, emit, &mine);
                if (i % 5 == 0) mine.b.record_success();
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_GT(a.emitted + b.emitted, 0);
}

TEST(Breaker, TransitionsThatOpenAreWarningsAndOnlyTheFirstCarriesTheCount) {
    for (Transition t : {Transition::ClosedToOpen, Transition::OpenToHalfOpen, Transition::HalfOpenToClosed,
                         Transition::HalfOpenToOpen}) {
        TransitionMessage m = message_of(t);
        const std::string format = m.format;
        EXPECT_EQ(m.warning, t == Transition::ClosedToOpen || t == Transition::HalfOpenToOpen);
        EXPECT_EQ(m.with_failure_count, format.find("%d") != std::string::npos);
        EXPECT_EQ(m.with_failure_count, t == Transition::ClosedToOpen);
        EXPECT_EQ(format.find('%', format.find("%d") + 1), std::string::npos);  // no other placeholder
    }
}
