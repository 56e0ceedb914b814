// The printed report of one verification.
#include "checker/parts.hpp"

namespace {

constexpr const char* kFn = "_imprimir_relatorio";
const std::string kHeavy = "============================================================";
const std::string kLight = "────────────────────────────────────────────────────────────";

const char* verdict_emoji(nb::handle verdict) {
    for (auto [text, emoji] : {std::pair{"APROVADO", "✅"}, {"REPROVADO", "❌"}, {"PENDENTE", "⚠️"}})
        if (verdict.equal(nb::str(text))) return emoji;
    return "❓";
}

void print_items(const char* heading, nb::handle items) {
    if (!truth(items)) return;
    print_line(heading);
    for (nb::handle item : items) print_line("      • " + utf8(item));
}

void print_fields(nb::handle campos) {
    for (nb::handle c : campos)
        print_line("      " + utf8(c.attr("emoji")) + " " + utf8(c.attr("campo")) + ": " + utf8(c.attr("mensagem")));
}

void section(const std::string& title) {
    print_line("\n" + kLight);
    print_line(title);
    print_line(kLight);
}

std::string count(nb::handle items) { return std::to_string(nb::len(items)); }

// Whether a verified company's "CNPJ" field is pending: the registry could
// not be consulted about it (a found company's is approved, a missing one's
// rejected).
bool registry_not_consulted(nb::handle empresa) {
    for (nb::handle campo : empresa.attr("campos"))
        if (campo.attr("campo").equal(nb::str("CNPJ"))) return campo.attr("status").equal(nb::str("pendente"));
    return false;
}

void print_companies(nb::handle empresas) {
    section("🏢 EMPRESAS (" + count(empresas) + ")");
    for (nb::handle emp : empresas) {
        // A company the registry could not be asked about is neither active nor not.
        const char* mark = attr_truth(emp, "empresa_ativa") ? "✅" : registry_not_consulted(emp) ? "⚠️" : "❌";
        nb::object name = emp.attr("razao_social_receita");
        if (!truth(name)) name = emp.attr("razao_social_contrato");
        print_line("\n   " + std::string(mark) + " " + (truth(name) ? utf8(name) : "N/A"));
        nb::object cnpj = emp.attr("cnpj");
        print_partial(py("      CNPJ: " + (truth(cnpj) ? utf8(cnpj) : "N/A")));
        print_line(attr_truth(emp, "cnpj_buscado_por_nome") ? " (encontrado por busca)" : "");
        print_fields(emp.attr("campos"));
    }
}

void print_signatures(nb::handle assinaturas) {
    section("✍️ ASSINATURAS (" + count(assinaturas) + ")");
    for (nb::handle ass : assinaturas) {
        print_line("\n   " + std::string(attr_truth(ass, "tem_poder_assinatura") ? "✅" : "❌") + " " +
                   utf8(ass.attr("nome_signatario")));
        nb::object cargo = ass.attr("cargo");
        if (truth(cargo)) print_line("      Cargo: " + utf8(cargo));
        print_fields(ass.attr("campos"));
    }
}

void imprimir_relatorio(nb::handle, nb::handle resultado_final, nb::handle justificativa, nb::handle aprovados,
                        nb::handle reprovados, nb::handle pendentes, nb::handle empresas, nb::handle assinaturas,
                        nb::handle dados_contrato, nb::handle metricas) {
    text_arg(resultado_final, kFn, "resultado_final");
    text_arg(justificativa, kFn, "justificativa");
    list_arg(aprovados, kFn, "campos_aprovados");
    list_arg(reprovados, kFn, "campos_reprovados");
    list_arg(pendentes, kFn, "campos_pendentes");
    list_arg(empresas, kFn, "empresas");
    list_arg(assinaturas, kFn, "assinaturas");
    dict_arg(dados_contrato, kFn, "dados_contrato");

    const std::string e = verdict_emoji(resultado_final);
    print_line("\n" + kHeavy);
    print_line(e + e + e + " RESULTADO FINAL: " + utf8(resultado_final) + " " + e + e + e);
    print_line(kHeavy);
    print_line("   " + utf8(justificativa));

    section("📋 CAMPOS VERIFICADOS");
    print_line("   ✅ Aprovados: " + count(aprovados));
    print_line("   ❌ Reprovados: " + count(reprovados));
    print_line("   ⚠️ Pendentes: " + count(pendentes));
    print_items("\n   ✅ APROVADOS:", aprovados);
    print_items("\n   ❌ REPROVADOS:", reprovados);
    print_items("\n   ⚠️ PENDENTES:", pendentes);
    print_companies(empresas);
    print_signatures(assinaturas);

    section("💰 MÉTRICAS");
    print_line("   Tokens: " + utf8(formatted(metricas.attr("tokens"), ",")));
    print_line("   Custo: $" + utf8(formatted(metricas.attr("cost_usd"), ".4f")));
    print_line("   Tempo: " + utf8(formatted(metricas.attr("time_seconds"), ".1f")) + "s");
    print_line("\n" + kHeavy);
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
