// The verification workflow: extraction, company and signature validation,
// classification of every verified field, the verdict and the result record.
#include "checker/parts.hpp"

#include <string>

namespace {

// Every verified field with its owner's name, for the verdict.
void add_fields(std::vector<rules::OwnedField>& out, nb::handle campos, const std::string& owner_text) {
    for (nb::handle campo : campos) {
        nb::object status = campo.attr("status");
        rules::Status s = rules::Status::NaoVerificado;  // any other status counts nowhere
        for (rules::Status known : {rules::Status::Aprovado, rules::Status::Reprovado, rules::Status::Pendente})
            if (PyUnicode_CheckExact(status.ptr()) ? PyUnicode_CompareWithASCIIString(status.ptr(), rules::status_text(known)) == 0
                                                   : status.equal(nb::str(rules::status_text(known))))
                s = known;
        if (s != rules::Status::NaoVerificado) out.push_back({utf8(campo.attr("campo")), s, owner_text});
    }
}

void log_lines(nb::handle self, const std::vector<rules::LogLine>& lines) {
    for (const rules::LogLine& line : lines) log_line(self, line.text, line.emoji);
}

nb::list list_copy(nb::handle iterable) { return nb::borrow<nb::list>(owned(PySequence_List(iterable.ptr()))); }

nb::list model_dumps(nb::handle models) {
    nb::list out;
    for (nb::handle m : models) out.append(m.attr("model_dump")());
    return out;
}

// Extracted models from the engine's answer to question `key`:
// Model(**element) for each element of its raw_result[key], or an empty list
// when the answer is missing or empty.
nb::list extracted(nb::handle resultado, const char* key, const Name& model_name) {
    nb::list out;
    nb::object answer = resultado.attr("get_result")(key);
    if (!truth(answer)) return out;
    nb::object raw = answer.attr("raw_result");
    if (!truth(raw)) return out;
    nb::object model = checker_ns.get(model_name);
    for (nb::handle element : field(raw, key, nb::list())) {
        if (!PyDict_Check(element.ptr()) && !PyObject_HasAttrString(element.ptr(), "keys"))
            raise_error(PyExc_TypeError, "%.200s() argument after ** must be a mapping, not %.200s",
                        nb::str(model.attr("__name__")).c_str(), Py_TYPE(element.ptr())->tp_name);
        out.append(model(**keywords(element)));
    }
    return out;
}

nb::object existing_path(nb::handle documento) {
    PyObject* o = documento.ptr();
    if (!PyUnicode_Check(o) && !PyObject_HasAttrString(o, "__fspath__"))
        raise_wrong_type("verificar", "documento", "str or os.PathLike", documento);
    nb::object path = nb::module_::import_("pathlib").attr("Path")(documento);
    if (!truth(path.attr("exists")()))
        raise_error(PyExc_FileNotFoundError, "%s%S", "Arquivo não encontrado: ", path.ptr());
    return path;
}

// The verdict's keys and the verified models, in the order of a record (or
// of the report's arguments).
nb::dict verdict_record(const rules::Verdict& v, nb::handle empresas, nb::handle assinaturas) {
    nb::dict d;
    d["resultado_final"] = py(v.resultado_final);
    d["justificativa"] = py(v.justificativa);
    d["campos_aprovados"] = str_list(v.aprovados);
    d["campos_reprovados"] = str_list(v.reprovados);
    d["campos_pendentes"] = str_list(v.pendentes);
    d["empresas"] = empresas;
    d["assinaturas"] = assinaturas;
    return d;
}

// What the engine saw of the document, when its result tells (ExtractionResult).
std::optional<rules::ExtractionView> extraction_view(nb::handle resultado) {
    if (!PyObject_HasAttrString(resultado.ptr(), "extracted")) return std::nullopt;
    rules::ExtractionView view;
    view.extracted = truth(resultado.attr("extracted"));
    view.pages = nb::len(nb::object(resultado.attr("pages")));
    nb::object reasons = resultado.attr("unreadable_reasons");
    for (nb::handle page : resultado.attr("unreadable_pages")) {
        view.unreadable_pages.push_back(utf8(page));
        if (truth(reasons) && truth(reasons.attr("__contains__")(page)))
            view.unreadable_reasons.push_back(utf8(reasons[page]));
    }
    nb::object t = resultado.attr("triagem");
    if (!t.is_none()) {
        nb::object exclusao = field(t, "exclusao", nb::none());
        view.triagem = rules::ExtractionView::Screen{truth(field(t, "eh_contrato", nb::none())),
                                                      utf8(field(t, "motivo", nb::none())),
                                                      truth(exclusao) ? utf8(exclusao) : "",
                                                      utf8(field(t, "quantidade", nb::int_(0)))};
    }
    return view;
}

// The verdict of the verified companies and signatures; `policy`: nothing verified is PENDENTE.
rules::Verdict decide(bool policy, nb::handle empresas, nb::handle assinaturas,
                      const std::optional<rules::ExtractionView>& view) {
    std::vector<rules::OwnedField> fields;
    for (nb::handle e : empresas) {
        add_fields(fields, e.attr("campos"),
                   rules::company_owner(shown(e.attr("razao_social_receita")), shown(e.attr("razao_social_contrato")),
                                        text_of(e.attr("cnpj"))));
    }
    for (nb::handle a : assinaturas) add_fields(fields, a.attr("campos"), utf8(a.attr("nome_signatario")));
    rules::VerdictOptions options;
    options.nothing_verified_is_pending = policy;
    options.any_party = truth(empresas) || truth(assinaturas);
    if (view) options.extraction_gap = rules::extraction_gap(*view);
    return rules::decide(fields, options);
}

// The result record: the verdict (lists of its own, so a caller that edits
// them leaves relatorio() as it was), totals, models dumped, metrics, and
// with the policy what the engine saw.
nb::dict record_of(const nb::dict& report, const rules::Verdict& v, bool engine_view, nb::handle resultado) {
    nb::dict record;
    for (const char* key : {"resultado_final", "justificativa"}) record[key] = report[key];
    for (const char* key : {"campos_aprovados", "campos_reprovados", "campos_pendentes"})
        record[key] = list_copy(report[key]);
    for (auto [key, n] : v.totals()) record[key] = nb::int_(n);
    for (const char* key : {"empresas", "assinaturas"}) record[key] = model_dumps(report[key]);
    record["dados_contrato"] = report["dados_contrato"];
    nb::object metricas = report["metricas"];
    nb::dict m;
    for (auto [key, name] : {std::pair{"tokens", "tokens"}, {"custo_usd", "cost_usd"}, {"tempo_segundos", "time_seconds"}})
        m[key] = metricas.attr(name);
    record["metricas"] = m;
    if (engine_view) {
        record["triagem"] = resultado.attr("triagem");
        record["paginas_ilegiveis"] = list_copy(resultado.attr("unreadable_pages"));
    }
    return record;
}

nb::object verificar(nb::handle self, nb::handle documento) {
    ContractChecker& state = nb::cast<ContractChecker&>(self);
    nb::object path = existing_path(documento);
    log_lines(self, rules::opening_lines(utf8(path.attr("name"))));
    state = ContractChecker{};  // nothing of an earlier verification outlives this one's start
    if (!truth(self.attr("_init_quillon")())) return verdict_record(rules::without_engine(), nb::list(), nb::list());

    log_line(self, "\n📤 Extraindo dados do contrato...");
    nb::object resultado = self.attr("_client").attr("process")(nb::str(path));
    state.ultima_extracao = resultado;
    nb::list empresas = extracted(resultado, "empresas", names::EmpresaExtraida);
    nb::list assinaturas = extracted(resultado, "assinaturas", names::AssinaturaExtraida);
    nb::object r_dados = resultado.attr("get_result")("dados_contrato"), dados_contrato = nb::dict();
    if (truth(r_dados) && truth(r_dados.attr("raw_result"))) dados_contrato = r_dados.attr("raw_result");

    log_lines(self, rules::extraction_lines(empresas.size(), assinaturas.size()));
    nb::tuple pair = unpack(self.attr("_validar_empresas")(empresas), 2, "_validar_empresas must return (empresas, cache)");
    nb::object verificadas = pair[0];
    nb::object assinaturas_verificadas = self.attr("_validar_assinaturas")(assinaturas, pair[1]);

    const auto view = extraction_view(resultado);
    const bool policy = truth(nb::getattr(self, "pendente_sem_verificacao", nb::none()));
    const rules::Verdict v = decide(policy, verificadas, assinaturas_verificadas, view);
    nb::dict report = verdict_record(v, verificadas, assinaturas_verificadas);  // _imprimir_relatorio's arguments
    report["dados_contrato"] = dados_contrato;
    report["metricas"] = resultado.attr("total_metrics");
    state.relatorio = report;
    if (truth(self.attr("verbose"))) self.attr("_imprimir_relatorio")(**report);
    return record_of(report, v, view && policy, resultado);
}

nb::object verificar_contrato(nb::handle documento, nb::handle country, nb::handle openai_api_key,
                              nb::handle verbose) {
    text_arg(country, "verificar_contrato", "country");
    text_or_none_arg(openai_api_key, "verificar_contrato", "openai_api_key");
    nb::object checker = checker_ns.call(names::ContractChecker, nb::arg("country") = country,
                                         nb::arg("openai_api_key") = openai_api_key, nb::arg("verbose") = verbose);
    nb::object result = checker.attr("verificar")(documento);
    if (!result.is_none() && !PyDict_Check(result.ptr()))
        raise_error(PyExc_TypeError, "verificar_contrato(): verificar() returned %.200s, not dict",
                    Py_TYPE(result.ptr())->tp_name);
    return result;
}

// The report of the last verification, as verbose prints it.
void relatorio(nb::handle self) {
    nb::object report = nb::cast<ContractChecker&>(self).relatorio;  // held: printing may run a verification
    if (!report.is_valid()) throw std::runtime_error("nenhuma verificação com extração a relatar");
    self.attr("_imprimir_relatorio")(**nb::borrow<nb::dict>(report));
}

}  // namespace

void register_workflow(nb::module_& m, nb::class_<ContractChecker>& cls) {
    cls.def("relatorio", &relatorio, nb::sig("def relatorio(self) -> None"),
            "Imprime o relatório da última verificação (o que verbose imprime), com o veredito dela.");
    cls.def_prop_ro(
        "ultima_extracao", [](ContractChecker& c) { return c.ultima_extracao.is_valid() ? c.ultima_extracao : nb::none(); },
        nb::sig("def ultima_extracao(self) -> typing.Any"),
        "O resultado do motor de extração da última verificação (páginas, ilegíveis, triagem, métricas); "
        "None antes de uma extração.");
    cls.def("verificar", &verificar, param("documento"),
            nb::sig("def verificar(self, documento: str | os.PathLike[str]) -> dict[str, typing.Any]"),
            "Verifica a legitimidade de um contrato.");
    m.def("verificar_contrato", &verificar_contrato, param("documento"), param("country"),
          param("openai_api_key") = nb::none(), param("verbose") = true,
          nb::sig("def verificar_contrato(documento: str | os.PathLike[str], country: str, openai_api_key: str | "
                  "None = None, verbose: bool = True) -> dict[str, typing.Any]"),
          "Função de conveniência para verificar um contrato.");
}
