// Company validation: each extracted company looked up in the registry
// through the country adapter (by CNPJ, else by name), its status, legal name
// and address checked, and the records found cached for the signatures.
#include "checker/parts.hpp"

namespace {

// A verified field, built with the host model by keyword.
nb::object campo(const char* label, const char* status, nb::handle valor_contrato, nb::handle valor_receita,
                 nb::handle mensagem) {
    return checker_ns.call(names::CampoVerificado, nb::arg("campo") = label, nb::arg("status") = status,
                           nb::arg("valor_contrato") = valor_contrato, nb::arg("valor_receita") = valor_receita,
                           nb::arg("mensagem") = mensagem);
}

// A registry text read with "" for absent or None, so status and names can
// always be compared.
nb::object record_text(nb::handle record, const char* key) {
    nb::object v = map_get(record, key, nb::str(""));
    return v.is_none() ? nb::object(nb::str("")) : v;
}

// adapter.<method>(arg).  RegistryUnavailableError (no source of the registry
// could answer: an adapter's way to say "could not ask", where None says "no
// such company") gives None, its reason kept in `unavailable` when none is yet.
nb::object ask_registry(nb::handle adapter, const char* method, nb::handle arg, nb::object& unavailable) {
    try {
        return adapter.attr(method)(arg);
    } catch (nb::python_error& e) {
        if (!e.matches(checker_ns.get(names::RegistryUnavailableError))) throw;
        nb::object error = nb::borrow(e.value());
        nb::object reason = nb::steal(PyObject_GetAttrString(error.ptr(), "reason"));
        if (!reason.is_valid()) PyErr_Clear();
        // The first reason stands (the look-up by CNPJ's, before the search by name's).
        if (!unavailable.is_valid()) unavailable = reason.is_valid() && truth(reason) ? reason : nb::object(to_str(error));
        return nb::none();
    }
}

nb::object validar_empresas(nb::handle self, nb::handle empresas_arg) {
    nb::list empresas = list_arg(empresas_arg, "_validar_empresas", "empresas");
    nb::list verificadas;
    nb::dict cache;
    nb::str empty("");

    for (nb::handle empresa : items_of(empresas)) {  // the adapter may edit the list
        nb::list campos, problemas;
        nb::object razao_social = empresa.attr("razao_social");
        nb::object cnpj_contrato = empresa.attr("cnpj");
        nb::object endereco = empresa.attr("endereco");
        nb::object papel = empresa.attr("papel_no_contrato");
        const bool has_razao = truth(razao_social);

        log_line(self, join_text("\n--- Verificando: ", has_razao ? nb::object(razao_social) : nb::object(nb::str("Empresa")),
                              " ---"),
                 "🏢");

        nb::object adapter = self.attr("adapter");
        nb::object cnpj = cnpj_contrato;
        nb::object record = nb::none();
        bool por_nome = false;

        nb::object unavailable;  // why the registry could not be consulted, when it could not
        if (truth(cnpj)) {
            nb::object limpo = checker_ns.call(names::limpar_cnpj, cnpj);
            if (truth(adapter.attr("validate_company_id")(limpo))) {
                log_line(self, join_text("Consultando CNPJ ", checker_ns.call(names::formatar_cnpj, limpo), "..."), "🔍");
                record = ask_registry(adapter, "lookup_company", limpo, unavailable);
            }
        }
        if (!truth(record) && has_razao) {
            log_line(self, join_text("Buscando por nome: ", razao_social, "..."), "🔎");
            record = ask_registry(adapter, "search_companies", razao_social, unavailable);
            if (truth(record)) {
                cnpj = map_get(record, "cnpj", empty);
                log_line(self, join_text("✅ Encontrado: ", cnpj), "");
                por_nome = true;
            }
        }

        if (!truth(record) && unavailable.is_valid()) {
            // Nobody could say whether the company exists: pending, never "not found".
            nb::str mensagem = join_text("Receita Federal não consultada: ", unavailable);
            log_line(self, join_text("⚠️ ", mensagem), "");
            campos.append(campo("CNPJ", "pendente",
                                truth(cnpj) ? nb::object(cnpj) : nb::object(nb::str("(não informado)")), nb::none(),
                                mensagem));
            verificadas.append(checker_ns.call(
                names::EmpresaVerificada, nb::arg("cnpj") = truth(cnpj_contrato) ? nb::object(cnpj_contrato) : nb::object(empty),
                nb::arg("razao_social_contrato") = razao_social, nb::arg("papel_no_contrato") = papel,
                nb::arg("campos") = campos, nb::arg("problemas") = problemas));
            continue;
        }
        if (!truth(record)) {
            campos.append(campo("CNPJ", "reprovado", truth(cnpj) ? nb::object(cnpj) : nb::object(nb::str("(não informado)")),
                                nb::none(), nb::str("CNPJ não encontrado na Receita Federal")));
            problemas.append("CNPJ não encontrado");
            verificadas.append(checker_ns.call(
                names::EmpresaVerificada, nb::arg("cnpj") = truth(cnpj_contrato) ? nb::object(cnpj_contrato) : nb::object(empty),
                nb::arg("razao_social_contrato") = razao_social, nb::arg("papel_no_contrato") = papel,
                nb::arg("campos") = campos, nb::arg("problemas") = problemas));
            continue;
        }

        campos.append(campo("CNPJ", "aprovado",
                            truth(cnpj_contrato) ? nb::object(cnpj_contrato) : nb::object(nb::str("(buscado automaticamente)")),
                            map_get(record, "cnpj", nb::none()), nb::str("CNPJ encontrado")));

        nb::object situacao = record_text(record, "situacao").attr("upper")();
        const bool ativa = truth(situacao.attr("__contains__")("ATIVA"));
        campos.append(campo("Situação Cadastral", ativa ? "aprovado" : "reprovado", nb::str("-"), situacao,
                            ativa ? nb::object(nb::str("Empresa ATIVA")) : nb::object(join_text("Empresa ", situacao))));
        if (!ativa) problemas.append(join_text("Empresa com situação: ", situacao));

        nb::object razao_receita = record_text(record, "razao_social");
        const bool razao_confere =
            truth(self.attr("_comparar_nomes")(has_razao ? nb::object(razao_social) : nb::object(empty), razao_receita));
        campos.append(campo("Razão Social", razao_confere ? "aprovado" : "pendente", razao_social, razao_receita,
                            nb::str(razao_confere ? "Confere" : "Divergente")));

        if (truth(endereco)) {
            nb::object triple = checker_ns.call(names::comparar_enderecos, endereco, record);
            nb::tuple t = nb::steal<nb::tuple>(PySequence_Tuple(triple.ptr()));
            if (!t.is_valid()) throw nb::python_error();
            if (t.size() != 3) throw nb::value_error("comparar_enderecos must return three values");
            const bool confere = truth(t[0]);
            campos.append(campo("Endereço", confere ? "aprovado" : "pendente", endereco, t[2],
                                join_text("Similaridade: ", formatted(t[1], ".0%"))));
        }

        nb::object cnpj_limpo = truth(cnpj) ? checker_ns.call(names::limpar_cnpj, cnpj) : nb::object(empty);
        if (truth(cnpj_limpo)) cache[cnpj_limpo] = record;
        if (has_razao) cache[self.attr("_normalizar_texto")(razao_social)] = record;

        verificadas.append(checker_ns.call(
            names::EmpresaVerificada, nb::arg("cnpj") = map_get(record, "cnpj", empty),
            nb::arg("razao_social_contrato") = razao_social,
            nb::arg("razao_social_receita") = map_get(record, "razao_social", empty),
            nb::arg("papel_no_contrato") = papel, nb::arg("campos") = campos, nb::arg("cnpj_encontrado") = true,
            nb::arg("cnpj_buscado_por_nome") = por_nome, nb::arg("empresa_ativa") = ativa,
            nb::arg("razao_social_confere") = razao_confere,
            nb::arg("socios") = map_get(record, "socios", nb::list()), nb::arg("problemas") = problemas));
    }
    return nb::make_tuple(verificadas, cache);
}

}  // namespace

bool registry_not_consulted(nb::handle empresa) {
    for (nb::handle campo : empresa.attr("campos"))
        if (campo.attr("campo").equal(nb::str("CNPJ"))) return campo.attr("status").equal(nb::str("pendente"));
    return false;
}

void register_companies(nb::class_<ContractChecker>& cls) {
    cls.def("_validar_empresas", &validar_empresas, param("empresas"),
            nb::sig("def _validar_empresas(self, empresas: list) -> tuple[list, dict[str, dict[str, typing.Any]]]"),
            "Valida empresas contra Receita Federal.");
}
