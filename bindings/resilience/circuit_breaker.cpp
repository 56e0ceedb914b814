// The circuit breaker: CircuitState and CircuitBreaker over the core's state
// machine.
//
// The GIL and the breaker's lock.  The core never waits for its lock or for
// another thread's report while it can help it: it tries the lock, and only
// when it must wait does it run the critical section inside without_gil().
// So a thread that holds the GIL never waits for the breaker's lock, and a
// thread that holds the breaker's lock never waits for the GIL (the lock is
// released before the GIL is taken back).  Uncontended calls never touch the
// GIL at all: releasing it on every call would hand it to another thread each
// time and turn a batch of threads into a convoy.
//
// Logging.  A transition is logged after the lock is released, with the GIL
// held: logging runs Python code (handlers, filters) that may take the GIL
// from us, take other locks, or call back into this breaker.  The core queues
// each transition under the lock in the order of the state changes, and
// report() emits them one thread at a time in that order, so the log reads in
// the order of the state changes even when the threads that made them race
// for the GIL.  The operation that made a transition returns only after it
// has been logged, unless it was called from inside a handler: a handler
// that calls back into this breaker (or another) finds the lock free, never
// waits for a turn to log, and a transition it causes is logged right after
// the one being logged.
#include "resilience/parts.hpp"

#include <utility>

#include "quillon/circuit_breaker.hpp"

namespace rs = quillon::resilience;

namespace {

constexpr const char* kClassDoc =
    "Circuit breaker thread-safe para processamento em lote.\n"
    "\n"
    "Antes de cada chamada protegida pergunte can_execute(); se True, execute a\n"
    "chamada e informe record_success() ou record_failure().  Depois de\n"
    "failure_threshold falhas consecutivas o circuito abre (OPEN) e recusa\n"
    "chamadas; passados recovery_timeout segundos desde a última falha, uma única\n"
    "chamada de teste é admitida (HALF_OPEN): o sucesso fecha o circuito, a falha\n"
    "o reabre.";

constexpr const char* kStateDoc = "Estados do circuit breaker.";

// The members of CircuitState, by the core's State.  Kept for the life of the
// process, like any class the module defines.
PyObject* g_members[3] = {nullptr, nullptr, nullptr};

// A field's value as its property gives it: a state as its member, a number as itself.
nb::object as_python(rs::State s) { return nb::borrow(g_members[static_cast<int>(s)]); }
template <class T>
T as_python(T v) { return v; }

// Where a call may block: without the GIL (see the note at the top).
void without_gil(void (*body)(void*), void* ctx) {
    nb::gil_scoped_release release;
    body(ctx);
}

// logger.warning or logger.info, with the format and the count kept apart.
void log_transition(void*, const rs::Event& e) {
    const rs::TransitionMessage m = rs::message_of(e.transition);
    const LogAt& log = m.warning ? log_warning : log_info;
    if (m.with_failure_count)
        log(resilience_ns, m.format, e.failure_count);
    else
        log(resilience_ns, m.format);
}

inline void report(rs::CircuitBreaker& b, const rs::Outcome& o) {
    if (o.report_until) b.report(o.report_until, &log_transition, nullptr, &without_gil);
}

void make_circuit_state(nb::module_& m) {
    // Member order of the enum; each is stored at its State's index.
    const std::pair<rs::State, const char*> states[] = {
        {rs::State::Closed, "CLOSED"}, {rs::State::Open, "OPEN"}, {rs::State::HalfOpen, "HALF_OPEN"}};
    nb::list names;
    for (auto [state, name] : states) names.append(nb::make_tuple(name, name));
    nb::object cls = nb::module_::import_("enum").attr("Enum")(
        "CircuitState", names, nb::arg("module") = resilience_ns.dotted_name(), nb::arg("qualname") = "CircuitState");
    cls.attr("__doc__") = kStateDoc;
    for (auto [state, name] : states) g_members[static_cast<int>(state)] = nb::object(cls.attr(name)).release().ptr();
    m.attr("CircuitState") = cls;
}

rs::State state_param(nb::handle h) {
    for (int i = 0; i < 3; ++i)
        if (h.is(g_members[i])) return static_cast<rs::State>(i);
    raise_error(PyExc_TypeError, "CircuitBreaker._state must be a CircuitState member, not %.200s",
                Py_TYPE(h.ptr())->tp_name);
}

// A private field: readable and, as on a Python object, writable; both under
// the breaker's lock.  The new value is converted before the lock is taken
// (the conversion may run Python code).
template <class T, class Convert>
void field(nb::class_<rs::CircuitBreaker>& cls, const char* name, const char* sig, T rs::Fields::*slot,
           Convert convert) {
    cls.def_prop_rw(
        name,
        [slot](rs::CircuitBreaker& b) { return as_python(b.fields(&without_gil).*slot); },
        [slot, convert](rs::CircuitBreaker& b, nb::handle value) {
            T v = convert(value);
            b.update([&](rs::Fields& f) { f.*slot = v; }, &without_gil);
        },
        nb::for_getter(nb::sig(sig)));
}

// The converter of an integer field, named in its errors as the field's
// setter.  Any real number, truncated toward zero; beyond 64 bits held at the
// nearest 64-bit value, which compares the same against any failure count or
// elapsed time the breaker can see.
auto int64_field(const char* name) {
    return [name](nb::handle v) { return integer_arg_saturated(v, name, "value"); };
}

}  // namespace

void register_circuit_breaker(nb::module_& m) {
    make_circuit_state(m);

    nb::class_<rs::CircuitBreaker> cls(m, "CircuitBreaker", kClassDoc);
    cls.def(
           "__init__",
           [](rs::CircuitBreaker* self, nb::handle failure_threshold, nb::handle recovery_timeout) {
               // Both held at the 64-bit range, as the fields are (see int64_field).
               std::int64_t threshold = integer_arg_saturated(failure_threshold, "CircuitBreaker", "failure_threshold");
               std::int64_t timeout = integer_arg_saturated(recovery_timeout, "CircuitBreaker", "recovery_timeout");
               new (self) rs::CircuitBreaker(threshold, timeout);
           },
           param("failure_threshold") = 5, param("recovery_timeout") = 60,
           nb::sig("def __init__(self, failure_threshold: int = 5, recovery_timeout: int = 60) -> None"))
        .def_prop_ro(
            "state", [](rs::CircuitBreaker& b) { return as_python(b.state(&without_gil)); },
            nb::for_getter(nb::sig("def state(self, /) -> CircuitState")),
            nb::for_getter("Leitura pura: não promove OPEN -> HALF_OPEN."))
        .def(
            "can_execute",
            [](rs::CircuitBreaker& b) {
                rs::Outcome o = b.can_execute(&without_gil);
                report(b, o);
                return o.allowed;
            },
            nb::sig("def can_execute(self) -> bool"),
            "Verifica se a chamada protegida pode ser executada agora (pode promover OPEN -> HALF_OPEN).")
        .def(
            "record_success", [](rs::CircuitBreaker& b) { report(b, b.record_success(&without_gil)); },
            nb::sig("def record_success(self) -> None"), "Registra o sucesso de uma chamada admitida.")
        .def(
            "record_failure", [](rs::CircuitBreaker& b) { report(b, b.record_failure(&without_gil)); },
            nb::sig("def record_failure(self) -> None"), "Registra a falha de uma chamada admitida.")
        .def(
            "reset", [](rs::CircuitBreaker& b) { b.reset(&without_gil); }, nb::sig("def reset(self) -> None"),
            "Reseta o circuit breaker para o estado inicial.")
        .def(
            "_recovery_elapsed", [](rs::CircuitBreaker& b) { return b.recovery_elapsed(&without_gil); },
            nb::sig("def _recovery_elapsed(self) -> bool"),
            "Verifica se o tempo de recuperação passou desde a última falha.");

    field(cls, "_failure_threshold", "def _failure_threshold(self, /) -> int", &rs::Fields::failure_threshold,
          int64_field("_failure_threshold"));
    field(cls, "_recovery_timeout", "def _recovery_timeout(self, /) -> int", &rs::Fields::recovery_timeout,
          int64_field("_recovery_timeout"));
    field(cls, "_state", "def _state(self, /) -> CircuitState", &rs::Fields::state, &state_param);
    field(cls, "_failure_count", "def _failure_count(self, /) -> int", &rs::Fields::failure_count,
          int64_field("_failure_count"));
    field(cls, "_last_failure_time", "def _last_failure_time(self, /) -> float", &rs::Fields::last_failure_time,
          [](nb::handle v) { return real_arg(v, "_last_failure_time", "value"); });
    field(cls, "_probe_in_flight", "def _probe_in_flight(self, /) -> bool", &rs::Fields::probe_in_flight, &truth);
}
