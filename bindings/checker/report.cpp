// The printed report of one verification: the models read into a
// rules::Report, its lines (rules::report_lines) printed one by one.
#include "checker/parts.hpp"

namespace {

constexpr const char* kFn = "_imprimir_relatorio";

std::vector<std::string> texts(nb::handle items) {
    std::vector<std::string> out;
    for (nb::handle item : items) out.push_back(utf8(item));
    return out;
}

std::vector<rules::ReportField> fields(nb::handle campos) {
    std::vector<rules::ReportField> out;
    for (nb::handle c : campos)
        out.push_back({utf8(c.attr("emoji")), utf8(c.attr("campo")), utf8(c.attr("status")), utf8(c.attr("mensagem"))});
    return out;
}

void imprimir_relatorio(nb::handle, nb::handle resultado_final, nb::handle justificativa, nb::handle aprovados,
                        nb::handle reprovados, nb::handle pendentes, nb::handle empresas, nb::handle assinaturas,
                        nb::handle dados_contrato, nb::handle metricas) {
    rules::Report r{utf8(text_arg(resultado_final, kFn, "resultado_final")),
                    utf8(text_arg(justificativa, kFn, "justificativa")),
                    texts(list_arg(aprovados, kFn, "campos_aprovados")),
                    texts(list_arg(reprovados, kFn, "campos_reprovados")),
                    texts(list_arg(pendentes, kFn, "campos_pendentes"))};
    list_arg(empresas, kFn, "empresas");
    list_arg(assinaturas, kFn, "assinaturas");
    dict_arg(dados_contrato, kFn, "dados_contrato");
    for (nb::handle e : empresas)
        r.empresas.push_back({attr_truth(e, "empresa_ativa"), shown(e.attr("razao_social_receita")),
                              shown(e.attr("razao_social_contrato")), shown(e.attr("cnpj")),
                              attr_truth(e, "cnpj_buscado_por_nome"), fields(e.attr("campos"))});
    for (nb::handle a : assinaturas)
        r.assinaturas.push_back({attr_truth(a, "tem_poder_assinatura"), utf8(a.attr("nome_signatario")),
                                 shown(a.attr("cargo")), fields(a.attr("campos"))});
    r.tokens = utf8(formatted(metricas.attr("tokens"), ","));
    r.custo = utf8(formatted(metricas.attr("cost_usd"), ".4f"));
    r.tempo = utf8(formatted(metricas.attr("time_seconds"), ".1f"));
    for (const std::string& line : rules::report_lines(r)) print_line(line);
}

}  // namespace

void register_report(nb::class_<ContractChecker>& cls) {
    cls.def("_imprimir_relatorio", &imprimir_relatorio, param("resultado_final"), param("justificativa"),
            param("campos_aprovados"), param("campos_reprovados"), param("campos_pendentes"), param("empresas"),
            param("assinaturas"), param("dados_contrato"), param("metricas"),
            nb::sig("def _imprimir_relatorio(self, resultado_final: str, justificativa: str, campos_aprovados: "
                    "list[str], campos_reprovados: list[str], campos_pendentes: list[str], empresas: list, "
                    "assinaturas: list, dados_contrato: dict, metricas: object) -> None"),
            "Imprime relatório detalhado.");
}
