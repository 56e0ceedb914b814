// quillon.contract.checker: contract legitimacy verification.
#include <nanobind/nanobind.h>

#include "toolkit/toolkit.hpp"

namespace nb = nanobind;
using namespace quillon::bind;

namespace {

ModuleNamespace ns;  // the module's attributes

}  // namespace

NB_MODULE(checker, m) {
    ns.attach(m);
    m.doc() = "ContractChecker - Verificador de Legitimidade de Contratos.\n\nUsa Quillon para extrair dados e valida contra Receita Federal.\n";
    bind_logger(ns);
}
