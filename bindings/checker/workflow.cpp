// The verification workflow: extraction, company and signature validation,
// classification of every verified field, the verdict and the result record.
#include "checker/parts.hpp"

#include <string>

namespace {

const char* const kRule60 = "============================================================";

struct Fields {
    nb::list aprovados, reprovados, pendentes;

    // Sorts the fields of one verified company or signature by status.
    void add(nb::handle campos, nb::handle owner) {
        nb::str owner_text = to_str(owner);
        for (nb::handle campo : campos) {
            nb::object status = campo.attr("status");
            nb::list* target = nullptr;
            if (status.equal(nb::str("aprovado")))
                target = &aprovados;
            else if (status.equal(nb::str("reprovado")))
                target = &reprovados;
            else if (status.equal(nb::str("pendente")))
                target = &pendentes;
            // Any other status ("nao_verificado") counts nowhere.
            if (target) target->append(join_text(campo.attr("campo"), " - ", owner_text));
        }
    }
};

// Owner of a company's fields: the registry name, else the contract name,
// else the contract CNPJ (as it stands, even empty or None).
nb::object company_owner(nb::handle empresa) {
    nb::object name = empresa.attr("razao_social_receita");
    if (truth(name)) return name;
    name = empresa.attr("razao_social_contrato");
    if (truth(name)) return name;
    return empresa.attr("cnpj");
}

nb::list model_dumps(nb::handle models) {
    nb::list out;
    for (nb::handle m : models) out.append(m.attr("model_dump")());
    return out;
}

// Extracted models from one answer: Model(**element) for each element of
// raw_result[key], or an empty list when the answer is missing or empty.
nb::list extracted(nb::handle answer, const char* key, const Name& model_name) {
    nb::list out;
    if (!truth(answer)) return out;
    nb::object raw = answer.attr("raw_result");
    if (!truth(raw)) return out;
    nb::object model = nb::borrow(checker_ns.get(model_name));
    nb::object elements = map_get(raw, key, nb::list());
    for (nb::handle element : elements) {
        if (!PyDict_Check(element.ptr()) && !PyObject_HasAttrString(element.ptr(), "keys")) {
            PyErr_Format(PyExc_TypeError, "%.200s() argument after ** must be a mapping, not %.200s",
                         nb::str(model.attr("__name__")).c_str(), Py_TYPE(element.ptr())->tp_name);
            throw nb::python_error();
        }
        nb::dict kwargs;
        if (PyDict_Merge(kwargs.ptr(), element.ptr(), 1) < 0) throw nb::python_error();
        PyObject* obj = PyObject_Call(model.ptr(), nb::tuple().ptr(), kwargs.ptr());
        if (!obj) throw nb::python_error();
        out.append(nb::steal(obj));
    }
    return out;
}

nb::object pathlib_path(nb::handle documento) {
    PyObject* o = documento.ptr();
    if (!PyUnicode_Check(o) && !PyObject_HasAttrString(o, "__fspath__"))
        raise_wrong_type("verificar", "documento", "str or os.PathLike", documento);
    return nb::module_::import_("pathlib").attr("Path")(documento);
}

nb::dict pending_without_engine() {
    nb::dict r;
    r["resultado_final"] = "PENDENTE";
    r["justificativa"] = "Quillon não disponível. Instale com: pip install quillon";
    r["campos_aprovados"] = nb::list();
    r["campos_reprovados"] = nb::list();
    nb::list pend;
    pend.append("Extração de dados não disponível");
    r["campos_pendentes"] = pend;
    r["empresas"] = nb::list();
    r["assinaturas"] = nb::list();
    return r;
}

nb::object verificar(nb::handle self, nb::handle documento) {
    nb::object path = pathlib_path(documento);
    if (!truth(path.attr("exists")())) {
        nb::str message = join_text("Arquivo não encontrado: ", path);
        PyErr_SetObject(PyExc_FileNotFoundError, message.ptr());
        throw nb::python_error();
    }

    log_line(self, join_text("\n", kRule60), "");
    log_line(self, "VERIFICAÇÃO DE LEGITIMIDADE DE CONTRATO", "🔍");
    log_line(self, join_text("Arquivo: ", path.attr("name")), "📄");
    log_line(self, kRule60, "");

    if (!truth(self.attr("_init_quillon")())) return pending_without_engine();

    log_line(self, "\n📤 Extraindo dados do contrato...", "");
    nb::object resultado = self.attr("_client").attr("process")(to_str(path));
    nb::object r_empresas = resultado.attr("get_result")("empresas");
    nb::object r_assinaturas = resultado.attr("get_result")("assinaturas");
    nb::object r_dados = resultado.attr("get_result")("dados_contrato");

    nb::list empresas = extracted(r_empresas, "empresas", names::EmpresaExtraida);
    nb::list assinaturas = extracted(r_assinaturas, "assinaturas", names::AssinaturaExtraida);
    nb::object dados_contrato = nb::dict();
    if (truth(r_dados)) {
        nb::object raw = r_dados.attr("raw_result");
        if (truth(raw)) dados_contrato = raw;
    }

    log_line(self, join_text("Empresas extraídas: ", nb::int_(empresas.size())), "🏢");
    log_line(self, join_text("Assinaturas extraídas: ", nb::int_(assinaturas.size())), "✍️");
    log_line(self, "\n🔍 Validando empresas na Receita Federal...", "");

    nb::object pair = self.attr("_validar_empresas")(empresas);
    nb::object empresas_verificadas, cache;
    {
        nb::tuple t = nb::steal<nb::tuple>(PySequence_Tuple(pair.ptr()));
        if (!t.is_valid()) throw nb::python_error();
        if (t.size() != 2) throw nb::value_error("_validar_empresas must return (empresas, cache)");
        empresas_verificadas = t[0];
        cache = t[1];
    }
    nb::object assinaturas_verificadas = self.attr("_validar_assinaturas")(assinaturas, cache);

    Fields fields;
    for (nb::handle e : empresas_verificadas) fields.add(e.attr("campos"), company_owner(e));
    for (nb::handle a : assinaturas_verificadas) fields.add(a.attr("campos"), a.attr("nome_signatario"));

    const size_t n_ok = fields.aprovados.size(), n_bad = fields.reprovados.size(), n_pend = fields.pendentes.size();
    const char* verdict;
    nb::str justificativa;
    if (n_bad > 0) {
        verdict = "REPROVADO";
        justificativa = join_text(nb::int_(n_bad), " campo(s) reprovado(s)");
    } else if (n_pend > 0) {
        verdict = "PENDENTE";
        justificativa = join_text(nb::int_(n_pend), " campo(s) requer(em) análise manual");
    } else {
        verdict = "APROVADO";
        justificativa = join_text("Todos os ", nb::int_(n_ok), " campos verificados foram aprovados");
    }

    nb::object metricas = resultado.attr("total_metrics");
    if (attr_truth(self, "verbose")) {
        self.attr("_imprimir_relatorio")(
            nb::arg("resultado_final") = verdict, nb::arg("justificativa") = justificativa,
            nb::arg("campos_aprovados") = fields.aprovados, nb::arg("campos_reprovados") = fields.reprovados,
            nb::arg("campos_pendentes") = fields.pendentes, nb::arg("empresas") = empresas_verificadas,
            nb::arg("assinaturas") = assinaturas_verificadas, nb::arg("dados_contrato") = dados_contrato,
            nb::arg("metricas") = metricas);
    }

    nb::dict record;
    record["resultado_final"] = verdict;
    record["justificativa"] = justificativa;
    record["campos_aprovados"] = fields.aprovados;
    record["campos_reprovados"] = fields.reprovados;
    record["campos_pendentes"] = fields.pendentes;
    record["total_campos"] = nb::int_(n_ok + n_bad + n_pend);
    record["total_aprovados"] = nb::int_(n_ok);
    record["total_reprovados"] = nb::int_(n_bad);
    record["total_pendentes"] = nb::int_(n_pend);
    record["empresas"] = model_dumps(empresas_verificadas);
    record["assinaturas"] = model_dumps(assinaturas_verificadas);
    record["dados_contrato"] = dados_contrato;
    nb::dict m;
    m["tokens"] = metricas.attr("tokens");
    m["custo_usd"] = metricas.attr("cost_usd");
    m["tempo_segundos"] = metricas.attr("time_seconds");
    record["metricas"] = m;
    return record;
}

nb::object verificar_contrato(nb::handle documento, nb::handle country, nb::handle openai_api_key,
                              nb::handle verbose) {
    text_arg(country, "verificar_contrato", "country");
    text_or_none_arg(openai_api_key, "verificar_contrato", "openai_api_key");
    nb::object checker = checker_ns.call(names::ContractChecker, nb::arg("country") = country,
                                         nb::arg("openai_api_key") = openai_api_key, nb::arg("verbose") = verbose);
    nb::object result = checker.attr("verificar")(documento);
    if (!result.is_none() && !PyDict_Check(result.ptr())) {
        PyErr_Format(PyExc_TypeError, "verificar_contrato(): verificar() returned %.200s, not dict",
                     Py_TYPE(result.ptr())->tp_name);
        throw nb::python_error();
    }
    return result;
}

}  // namespace

void register_workflow(nb::module_& m, nb::class_<ContractChecker>& cls) {
    cls.def("verificar", &verificar, param("documento"),
            nb::sig("def verificar(self, documento: str | os.PathLike[str]) -> dict[str, typing.Any]"),
            "Verifica a legitimidade de um contrato.");
    m.def("verificar_contrato", &verificar_contrato, param("documento"), param("country"),
          param("openai_api_key") = nb::none(), param("verbose") = true,
          nb::sig("def verificar_contrato(documento: str | os.PathLike[str], country: str, openai_api_key: str | "
                  "None = None, verbose: bool = True) -> dict[str, typing.Any]"),
          "Função de conveniência para verificar um contrato.");
}
