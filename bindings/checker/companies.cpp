// Company validation: each extracted company looked up in the registry
// through the country adapter (by CNPJ, else by name), its fields decided by
// rules::company_fields, and the records found cached for the signatures.
#include "checker/parts.hpp"

namespace {

// adapter.<method>(arg).  RegistryUnavailableError (no source of the registry
// could answer: an adapter's way to say "could not ask", where None says "no
// such company") gives None, its reason kept in `unavailable` when none is yet.
nb::object ask_registry(nb::handle adapter, const char* method, nb::handle arg, nb::object& unavailable) {
    try {
        return adapter.attr(method)(arg);
    } catch (nb::python_error& e) {
        if (!e.matches(checker_ns.get(names::RegistryUnavailableError))) throw;
        nb::object error = nb::borrow(e.value()), reason = nb::getattr(error, "reason", nb::none());
        // The first reason stands (the look-up by CNPJ's, before the search by name's).
        if (!unavailable.is_valid()) unavailable = truth(reason) ? reason : nb::object(nb::str(error));
        return nb::none();
    }
}

struct Found {
    nb::object record = nb::none();
    nb::object cnpj;   // the contract's CNPJ, or the one the search by name found
    bool por_nome = false;
    nb::object unavailable;  // why the registry could not be consulted, when it could not
};

Found look_up(nb::handle self, nb::handle razao_social, nb::handle cnpj_contrato) {
    Found f{nb::none(), nb::borrow(cnpj_contrato)};
    nb::object adapter = self.attr("adapter");
    if (truth(cnpj_contrato)) {
        nb::object limpo = checker_ns.call(names::limpar_cnpj, cnpj_contrato);
        if (truth(adapter.attr("validate_company_id")(limpo))) {
            log_line(self, "Consultando CNPJ " + utf8(checker_ns.call(names::formatar_cnpj, limpo)) + "...", "🔍");
            f.record = ask_registry(adapter, "lookup_company", limpo, f.unavailable);
        }
    }
    if (!truth(f.record) && truth(razao_social)) {
        log_line(self, "Buscando por nome: " + utf8(razao_social) + "...", "🔎");
        f.record = ask_registry(adapter, "search_companies", razao_social, f.unavailable);
        if (truth(f.record)) {
            f.cnpj = field(f.record, "cnpj", nb::str(""));
            log_line(self, "✅ Encontrado: " + utf8(f.cnpj));
            f.por_nome = true;
        }
    }
    return f;
}

// A registry text read with "" for absent or None.
nb::object record_text(nb::handle record, const char* key) {
    nb::object v = field(record, key, nb::str(""));
    return v.is_none() ? nb::object(nb::str("")) : v;
}

// What the host's own rules say of a found company: its upper-cased status,
// the name comparison (self._comparar_nomes) and the address comparison.
void compare_found(nb::handle self, nb::handle empresa, const Found& f, rules::CompanyVerification& v) {
    v.registro.cnpj = text_of(field(f.record, "cnpj", nb::none()));
    v.registro.situacao = utf8(record_text(f.record, "situacao").attr("upper")());
    nb::object razao_receita = record_text(f.record, "razao_social");
    v.registro.razao_social = utf8(razao_receita);
    nb::object razao = empresa.attr("razao_social");
    v.razao_social_confere = truth(self.attr("_comparar_nomes")(truth(razao) ? razao : nb::str(""), razao_receita));
    nb::object endereco = empresa.attr("endereco");
    if (!truth(endereco)) return;
    nb::tuple t = unpack(checker_ns.call(names::comparar_enderecos, endereco, f.record), 3,
                         "comparar_enderecos must return three values");
    const bool exact_float = PyFloat_CheckExact(t[1].ptr());
    v.endereco = rules::AddressComparison{
        truth(t[0]), exact_float ? rules::percent(PyFloat_AS_DOUBLE(t[1].ptr())) : utf8(formatted(t[1], ".0%")),
        text_of(t[2])};
}

nb::object verified_company(nb::handle self, nb::handle empresa, nb::dict& cache) {
    nb::object razao_social = empresa.attr("razao_social"), cnpj_contrato = empresa.attr("cnpj");
    log_line(self, rules::company_heading(shown(razao_social)), "🏢");
    Found f = look_up(self, razao_social, cnpj_contrato);

    rules::CompanyVerification v;
    v.cnpj = text_of(f.cnpj);
    const bool found = truth(f.record);
    v.lookup = found ? rules::Lookup::Found : f.unavailable.is_valid() ? rules::Lookup::NotConsulted : rules::Lookup::NotFound;
    if (!found && f.unavailable.is_valid()) v.unavailable_reason = utf8(f.unavailable);
    if (found) compare_found(self, empresa, f, v);
    rules::CompanyFields fields = rules::company_fields(
        {text_of(cnpj_contrato), text_of(razao_social), text_of(empresa.attr("endereco"))}, v);
    if (!fields.log_line.empty()) log_line(self, fields.log_line);

    // The record cached under its CNPJ and the contract's normalised name.
    nb::object cnpj_limpo = found && truth(f.cnpj) ? checker_ns.call(names::limpar_cnpj, f.cnpj) : nb::none();
    if (truth(cnpj_limpo)) cache[cnpj_limpo] = f.record;
    if (found && truth(razao_social)) cache[self.attr("_normalizar_texto")(razao_social)] = f.record;
    nb::str empty("");
    nb::dict kw;  // the found company's keys among the common ones
    kw["cnpj"] = found ? field(f.record, "cnpj", empty) : truth(cnpj_contrato) ? cnpj_contrato : nb::object(empty);
    kw["razao_social_contrato"] = razao_social;
    if (found) kw["razao_social_receita"] = field(f.record, "razao_social", empty);
    kw["papel_no_contrato"] = empresa.attr("papel_no_contrato");
    kw["campos"] = campo_models(fields.campos);
    if (found) {
        kw["cnpj_encontrado"] = true;
        kw["cnpj_buscado_por_nome"] = f.por_nome;
        kw["empresa_ativa"] = fields.empresa_ativa;
        kw["razao_social_confere"] = v.razao_social_confere;
        kw["socios"] = field(f.record, "socios", nb::list());
    }
    kw["problemas"] = str_list(fields.problemas);
    return checker_ns.get(names::EmpresaVerificada)(**kw);
}

nb::tuple validar_empresas(nb::handle self, nb::handle empresas_arg) {
    nb::list empresas = list_arg(empresas_arg, "_validar_empresas", "empresas");
    nb::list verificadas;
    nb::dict cache;
    for (nb::handle empresa : items_of(empresas))  // the adapter may edit the list
        verificadas.append(verified_company(self, empresa, cache));
    return nb::make_tuple(verificadas, cache);
}

}  // namespace

void register_companies(nb::class_<ContractChecker>& cls) {
    cls.def("_validar_empresas", &validar_empresas, param("empresas"),
            nb::sig("def _validar_empresas(self, empresas: list) -> tuple[list, dict[str, dict[str, typing.Any]]]"),
            "Valida empresas contra Receita Federal.");
}
