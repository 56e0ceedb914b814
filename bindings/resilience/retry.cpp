// Retry policies for calls to model providers, applied by tenacity.
//
// RETRYABLE_EXCEPTIONS is built at load (quillon/retry.hpp).
// create_retry_decorator reads the module attribute at each call, so a caller
// that replaces the tuple changes the decorators made afterwards.
#include "resilience/parts.hpp"

#include <iterator>

#include "quillon/retry.hpp"

namespace rs = quillon::resilience;

namespace {

constexpr Name kRetryable{"RETRYABLE_EXCEPTIONS"};
constexpr Name kLogRetry{"_log_retry"};
constexpr Name kTenacity{"tenacity"};

constexpr const char* kCreateDoc =
    "Cria um decorator de retry com backoff exponencial.\n"
    "\n"
    "Args:\n"
    "    max_retries: Número máximo de tentativas extras (além da primeira)\n"
    "    min_wait: Tempo mínimo de espera em segundos\n"
    "    max_wait: Tempo máximo de espera em segundos\n";

// The decorator that leaves a function as it is, returned whenever there is
// nothing to retry.  One object for the life of the process.
PyObject* g_noop_decorator = nullptr;

nb::object create_retry_decorator(nb::handle max_retries_arg, nb::handle min_wait_arg, nb::handle max_wait_arg) {
    nb::int_ max_retries = integer_arg(max_retries_arg, "create_retry_decorator", "max_retries");
    double min_wait = real_arg(min_wait_arg, "create_retry_decorator", "min_wait");
    double max_wait = real_arg(max_wait_arg, "create_retry_decorator", "max_wait");

    nb::object retryable = resilience_ns.get(kRetryable);
    // max_retries is an int: comparing it runs no Python code, whatever the order.
    if (!truth(retryable) || max_retries <= nb::int_(0)) return nb::borrow(g_noop_decorator);
    // A Python int of any size, as max_retries is.
    nb::object attempts = max_retries + nb::int_(1);

    nb::object tenacity = resilience_ns.get(kTenacity);
    return tenacity.attr("retry")(
        nb::arg("stop") = tenacity.attr("stop_after_attempt")(attempts),
        nb::arg("retry") = tenacity.attr("retry_if_exception_type")(retryable),
        nb::arg("wait") = tenacity.attr("wait_random_exponential")(nb::arg("multiplier") = min_wait,
                                                                    nb::arg("max") = max_wait),
        nb::arg("before_sleep") = resilience_ns.get(kLogRetry), nb::arg("reraise") = true);
}

// Called by tenacity before each sleep with its RetryCallState.
void log_retry(nb::handle retry_state) {
    nb::object outcome = retry_state.attr("outcome");
    nb::object error = truth(outcome) ? outcome.attr("exception")() : nb::none();
    nb::object retries = retry_state.attr("retry_object").attr("stop").attr("max_attempt_number") - nb::int_(1);
    nb::object error_name =
        error.is_none() ? nb::object(nb::str("unknown")) : nb::handle(Py_TYPE(error.ptr())).attr("__name__");
    nb::object next_action = retry_state.attr("next_action");
    nb::object sleep = truth(next_action) ? next_action.attr("sleep") : nb::object(nb::int_(0));
    log_warning(resilience_ns, "Retry %d/%d após erro: %s. Aguardando %.1fs...",
                retry_state.attr("attempt_number"), retries, error_name, sleep);
}

// RETRYABLE_EXCEPTIONS, and the names it comes from, as module attributes.
void bind_retryable_exceptions() {
    nb::list types;
    types.append(resilience_ns.import_from("quillon.exceptions", "RateLimitError", "QuillonRateLimitError"));
    types.append(resilience_ns.import_from("quillon.exceptions", "ModelError"));
    try {
        // As one `from openai import ...` (all or none), then appended in the
        // order of the tuple.
        nb::object openai[std::size(rs::kOpenAIErrors)];
        for (std::size_t i = 0; i < std::size(openai); ++i)
            openai[i] = resilience_ns.import_from("openai", rs::kOpenAIErrors[i]);
        for (std::size_t i : rs::kOpenAIRetryOrder) types.append(openai[i]);
    } catch (nb::python_error& e) {
        if (!e.matches(PyExc_ImportError)) throw;
        // Without the client the host's own errors are still retried.
        log_error(resilience_ns, rs::kOpenAIMissing);
    }
    resilience_ns.set("RETRYABLE_EXCEPTIONS", nb::tuple(types));
}

}  // namespace

void register_retry(nb::module_& m) {
    resilience_ns.lazy_module("tenacity", "tenacity");
    bind_retryable_exceptions();

    nb::object noop = nb::cpp_function([](nb::object fn) { return fn; }, nb::name("noop_decorator"),
                                       nb::arg("fn").none(), nb::sig("def noop_decorator(fn: typing.Any) -> typing.Any"),
                                       "Devolve a própria função, sem retry.");
    g_noop_decorator = noop.release().ptr();

    m.def("create_retry_decorator", &create_retry_decorator, param("max_retries") = 3, param("min_wait") = 1.0,
          param("max_wait") = 16.0,
          nb::sig("def create_retry_decorator(max_retries: int = 3, min_wait: float = 1.0, max_wait: float = 16.0)"
                  " -> collections.abc.Callable[[collections.abc.Callable[..., typing.Any]],"
                  " collections.abc.Callable[..., typing.Any]]"),
          kCreateDoc);
    m.def("_log_retry", &log_retry, param("retry_state"),
          nb::sig("def _log_retry(retry_state: tenacity.RetryCallState) -> None"),
          "Registra em log cada nova tentativa, antes da espera.");
}
