// quillon.contract.countries.br.ie: state tax registrations through CNPJá.
#include <nanobind/nanobind.h>

#include "toolkit/toolkit.hpp"

namespace nb = nanobind;
using namespace quillon::bind;

namespace {

ModuleNamespace ns;  // the module's attributes

}  // namespace

NB_MODULE(ie, m) {
    ns.attach(m);
    m.doc() = "Inscrições estaduais (IE) de uma empresa pelo CNPJ, consultadas no serviço CNPJá.\n";
    bind_logger(ns);
}
