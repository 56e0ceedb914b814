// quillon.resilience: circuit breaker and retry policies.
#include <nanobind/nanobind.h>

#include "toolkit/toolkit.hpp"

namespace nb = nanobind;
using namespace quillon::bind;

namespace {

ModuleNamespace ns;  // the module's attributes

}  // namespace

NB_MODULE(resilience, m) {
    ns.attach(m);
    m.doc() = "Mecanismos de resiliência: retry com backoff exponencial e circuit breaker.";
    bind_logger(ns);
}
