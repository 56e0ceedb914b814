// quillon.resilience: circuit breaker and retry policies for batch callers
// of model providers.  Each part registers its names from its own file.
#include "resilience/parts.hpp"

ModuleNamespace resilience_ns;

NB_MODULE(resilience, m) {
    resilience_ns.attach(m);
    m.doc() = "Mecanismos de resiliência: retry com backoff exponencial e circuit breaker.";
    bind_logger(resilience_ns);

    register_circuit_breaker(m);
    register_retry(m);

    resilience_ns.set_all({"CircuitState", "CircuitBreaker", "create_retry_decorator", "RETRYABLE_EXCEPTIONS"});
}
