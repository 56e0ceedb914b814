// quillon.contract.countries.br.keywords: is this text a contract?
#include <nanobind/nanobind.h>

#include "toolkit/toolkit.hpp"

namespace nb = nanobind;
using namespace quillon::bind;

namespace {

ModuleNamespace ns;  // the module's attributes

}  // namespace

NB_MODULE(keywords, m) {
    ns.attach(m);
    m.doc() = "Keywords para validação de documentos como contratos.";
    bind_logger(ns);
}
