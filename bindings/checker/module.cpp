// quillon.contract.checker: contract legitimacy verification.
#include "checker/parts.hpp"

ModuleNamespace checker_ns;

NB_MODULE(checker, m) {
    checker_ns.attach(m);
    m.doc() = "ContractChecker - Verificador de Legitimidade de Contratos.\n\n"
              "Usa Quillon para extrair dados e valida contra Receita Federal.\n";
    bind_logger(checker_ns);

    // Names bound at load; a missing one fails the import of this module.
    const char* const auth = "quillon.contract.auth", *models = "quillon.contract.models",
                      *cnpj = "quillon.contract.countries.br.cnpj";
    for (auto [module, name] :
         {std::pair{auth, "QuillonAuth"}, {auth, "AuthenticatedClient"}, {models, "EmpresaExtraida"},
          {models, "ExtracaoEmpresas"}, {models, "AssinaturaExtraida"}, {models, "ExtracaoAssinaturas"},
          {models, "CampoVerificado"}, {models, "EmpresaVerificada"}, {models, "AssinaturaVerificada"},
          {models, "ClassificacaoLegitimidade"}, {models, "ExtracaoDadosContrato"}, {cnpj, "formatar_cnpj"},
          {cnpj, "limpar_cnpj"}, {cnpj, "comparar_enderecos"}, {"quillon.contract.countries.registry", "get_adapter"},
          {"quillon.contract.countries.base", "CountryAdapter"}, {"quillon.exceptions", "RegistryUnavailableError"}})
        checker_ns.import_from(module, name);

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
