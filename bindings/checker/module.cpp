// quillon.contract.checker: contract legitimacy verification.
#include "checker/parts.hpp"

ModuleNamespace checker_ns;

NB_MODULE(checker, m) {
    checker_ns.attach(m);
    m.doc() = "ContractChecker - Verificador de Legitimidade de Contratos.\n\n"
              "Usa Quillon para extrair dados e valida contra Receita Federal.\n";
    bind_logger(checker_ns);

    // Names bound at load; a missing one fails the import of this module.
    checker_ns.import_from("quillon.contract.auth", "QuillonAuth");
    checker_ns.import_from("quillon.contract.auth", "AuthenticatedClient");
    for (const char* model : {"EmpresaExtraida", "ExtracaoEmpresas", "AssinaturaExtraida", "ExtracaoAssinaturas",
                              "CampoVerificado", "EmpresaVerificada", "AssinaturaVerificada",
                              "ClassificacaoLegitimidade", "ExtracaoDadosContrato"})
        checker_ns.import_from("quillon.contract.models", model);
    checker_ns.import_from("quillon.contract.countries.br.cnpj", "formatar_cnpj");
    checker_ns.import_from("quillon.contract.countries.br.cnpj", "limpar_cnpj");
    checker_ns.import_from("quillon.contract.countries.br.cnpj", "comparar_enderecos");
    checker_ns.import_from("quillon.contract.countries.registry", "get_adapter");
    checker_ns.import_from("quillon.contract.countries.base", "CountryAdapter");
    checker_ns.import_from("quillon.exceptions", "RegistryUnavailableError");

    nb::class_<ContractChecker> cls(m, "ContractChecker", nb::dynamic_attr(),
                                    "Verificador de legitimidade de contratos.");
    g_checker_type = reinterpret_cast<PyTypeObject*>(cls.ptr());
    register_setup(cls);
    register_companies(cls);
    register_signatures(cls);
    register_report(cls);
    register_workflow(m, cls);

    checker_ns.set_all({"ContractChecker", "verificar_contrato"});
}
