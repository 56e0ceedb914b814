// quillon.contract.countries.br.ie: state tax registrations through CNPJá.
#include "ie/parts.hpp"

ModuleNamespace ie_ns;

NB_MODULE(ie, m) {
    ie_ns.attach(m);
    m.doc() = "Inscrições estaduais (IE) de uma empresa pelo CNPJ, consultadas no serviço CNPJá.\n";
    bind_logger(ie_ns);

    // Load-time names, module attributes so that callers can patch them.
    ie_ns.import_module("os", "os");
    ie_ns.lazy_module("requests", "requests");  // imported on first use
    for (const char* name : {"limpar_cnpj", "validar_cnpj", "formatar_cnpj"})
        ie_ns.import_from("quillon.contract.countries.br.cnpj", name);

    register_registrations(m);

    ie_ns.set_all({"buscar_ie_por_cnpj"});
}
