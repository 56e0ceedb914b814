// The printed report of one verification.
#include "checker/parts.hpp"

namespace {

constexpr const char* kFn = "_imprimir_relatorio";
const char* const kHeavy = "============================================================";
const char* const kLight =
    "────────────────────────────────────────────────────────────";

const char* verdict_emoji(nb::handle verdict) {
    if (verdict.equal(nb::str("APROVADO"))) return "✅";
    if (verdict.equal(nb::str("REPROVADO"))) return "❌";
    if (verdict.equal(nb::str("PENDENTE"))) return "⚠️";
    return "❓";
}

void print_items(const char* heading, nb::handle items) {
    if (!truth(items)) return;
    print_line(heading);
    for (nb::handle item : items) print_line(join_text("      • ", item));
}

void print_fields(nb::handle campos) {
    for (nb::handle campo : campos)
        print_line(join_text("      ", campo.attr("emoji"), " ", campo.attr("campo"), ": ", campo.attr("mensagem")));
}

void section(const char* title) {
    print_line(join_text("\n", kLight));
    print_line(title);
    print_line(kLight);
}

nb::object first_truthy(nb::handle a, nb::handle b, const char* fallback) {
    if (truth(a)) return nb::borrow(a);
    if (truth(b)) return nb::borrow(b);
    return nb::str(fallback);
}

void imprimir_relatorio(nb::handle self, nb::handle resultado_final, nb::handle justificativa,
                        nb::handle campos_aprovados, nb::handle campos_reprovados, nb::handle campos_pendentes,
                        nb::handle empresas, nb::handle assinaturas, nb::handle dados_contrato, nb::handle metricas) {
    (void)self;
    text_arg(resultado_final, kFn, "resultado_final");
    text_arg(justificativa, kFn, "justificativa");
    list_arg(campos_aprovados, kFn, "campos_aprovados");
    list_arg(campos_reprovados, kFn, "campos_reprovados");
    list_arg(campos_pendentes, kFn, "campos_pendentes");
    list_arg(empresas, kFn, "empresas");
    list_arg(assinaturas, kFn, "assinaturas");
    dict_arg(dados_contrato, kFn, "dados_contrato");

    const char* e = verdict_emoji(resultado_final);
    print_line(join_text("\n", kHeavy));
    print_line(join_text(e, e, e, " RESULTADO FINAL: ", resultado_final, " ", e, e, e));
    print_line(kHeavy);
    print_line(join_text("   ", justificativa));

    section("📋 CAMPOS VERIFICADOS");
    print_line(join_text("   ✅ Aprovados: ", nb::int_(nb::len(campos_aprovados))));
    print_line(join_text("   ❌ Reprovados: ", nb::int_(nb::len(campos_reprovados))));
    print_line(join_text("   ⚠️ Pendentes: ", nb::int_(nb::len(campos_pendentes))));
    print_items("\n   ✅ APROVADOS:", campos_aprovados);
    print_items("\n   ❌ REPROVADOS:", campos_reprovados);
    print_items("\n   ⚠️ PENDENTES:", campos_pendentes);

    section(join_text("🏢 EMPRESAS (", nb::int_(nb::len(empresas)), ")").c_str());
    for (nb::handle emp : empresas) {
        // A company the registry could not be asked about is neither active nor not.
        const char* mark = attr_truth(emp, "empresa_ativa") ? "✅" : registry_not_consulted(emp) ? "⚠️" : "❌";
        print_line(join_text("\n   ", mark, " ",
                          first_truthy(emp.attr("razao_social_receita"), emp.attr("razao_social_contrato"), "N/A")));
        nb::object cnpj = emp.attr("cnpj");
        print_partial(join_text("      CNPJ: ", truth(cnpj) ? nb::object(cnpj) : nb::object(nb::str("N/A"))));
        print_line(attr_truth(emp, "cnpj_buscado_por_nome") ? " (encontrado por busca)" : "");
        print_fields(emp.attr("campos"));
    }

    section(join_text("✍️ ASSINATURAS (", nb::int_(nb::len(assinaturas)), ")").c_str());
    for (nb::handle ass : assinaturas) {
        const char* mark = attr_truth(ass, "tem_poder_assinatura") ? "✅" : "❌";
        print_line(join_text("\n   ", mark, " ", ass.attr("nome_signatario")));
        nb::object cargo = ass.attr("cargo");
        if (truth(cargo)) print_line(join_text("      Cargo: ", cargo));
        print_fields(ass.attr("campos"));
    }

    section("💰 MÉTRICAS");
    print_line(join_text("   Tokens: ", formatted(metricas.attr("tokens"), ",")));
    print_line(join_text("   Custo: $", formatted(metricas.attr("cost_usd"), ".4f")));
    print_line(join_text("   Tempo: ", formatted(metricas.attr("time_seconds"), ".1f"), "s"));
    print_line(join_text("\n", kHeavy));
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
