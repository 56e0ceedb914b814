#include "quillon/checker.hpp"

#include <cstdio>
#include <utility>

namespace quillon::checker {

const char* status_text(Status s) noexcept {
    static const char* const kNames[] = {"aprovado", "reprovado", "pendente", "nao_verificado"};  // Status order
    return kNames[static_cast<int>(s)];
}

namespace {

Text or_text(const Text& value, const char* fallback) { return filled(value) ? value : Text(fallback); }

// Text shown for a value the host would print with str(): None reads "None".
std::string shown(const Text& value) { return value ? *value : std::string("None"); }

}  // namespace

std::string percent(double similarity) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.0f%%", similarity * 100.0);
    return buf;
}

std::vector<LogLine> opening_lines(const std::string& arquivo) {
    const std::string rule(60, '=');
    return {{"\n" + rule},
            {"VERIFICAÇÃO DE LEGITIMIDADE DE CONTRATO", "🔍"},
            {"Arquivo: " + arquivo, "📄"},
            {rule}};
}

std::vector<LogLine> extraction_lines(std::size_t empresas, std::size_t assinaturas) {
    return {{"Empresas extraídas: " + std::to_string(empresas), "🏢"},
            {"Assinaturas extraídas: " + std::to_string(assinaturas), "✍️"},
            {"\n🔍 Validando empresas na Receita Federal..."}};
}

std::string company_heading(const Text& razao_social) {
    return "\n--- Verificando: " + razao_social.value_or("Empresa") + " ---";
}

CompanyFields company_fields(const ExtractedCompany& empresa, const CompanyVerification& v) {
    CompanyFields out;
    if (v.lookup == Lookup::NotConsulted) {
        // Nobody could say whether the company exists: pending, never "not found".
        std::string mensagem = "Receita Federal não consultada: " + v.unavailable_reason;
        out.log_line = "⚠️ " + mensagem;
        out.campos.push_back({"CNPJ", Status::Pendente, or_text(v.cnpj, "(não informado)"), {}, mensagem});
        return out;
    }
    if (v.lookup == Lookup::NotFound) {
        out.campos.push_back({"CNPJ", Status::Reprovado, or_text(v.cnpj, "(não informado)"), {},
                              "CNPJ não encontrado na Receita Federal"});
        out.problemas.push_back("CNPJ não encontrado");
        return out;
    }

    out.campos.push_back({"CNPJ", Status::Aprovado, or_text(empresa.cnpj, "(buscado automaticamente)"),
                          v.registro.cnpj, "CNPJ encontrado"});

    const std::string& situacao = v.registro.situacao;
    out.empresa_ativa = situacao.find("ATIVA") != std::string::npos;
    out.campos.push_back({"Situação Cadastral", out.empresa_ativa ? Status::Aprovado : Status::Reprovado, "-",
                          situacao, out.empresa_ativa ? "Empresa ATIVA" : "Empresa " + situacao});
    if (!out.empresa_ativa) out.problemas.push_back("Empresa com situação: " + situacao);

    out.campos.push_back({"Razão Social", v.razao_social_confere ? Status::Aprovado : Status::Pendente,
                          empresa.razao_social, v.registro.razao_social,
                          v.razao_social_confere ? "Confere" : "Divergente"});

    if (v.endereco) {
        out.campos.push_back({"Endereço", v.endereco->confere ? Status::Aprovado : Status::Pendente, empresa.endereco,
                              v.endereco->endereco_receita, "Similaridade: " + v.endereco->similaridade});
    }
    return out;
}

SignatureFields signature_power_field(const std::string& nome, bool tem_poder, const Text& qualificacao,
                                      bool has_record, const std::string& qsa_summary) {
    SignatureFields out;
    out.campo.campo = "Poder de Assinatura";
    out.campo.valor_contrato = nome;
    if (tem_poder) {
        out.campo.status = Status::Aprovado;
        out.campo.valor_receita = or_text(qualificacao, "Encontrado no QSA");
        out.campo.mensagem = "Signatário tem poder (" + *or_text(qualificacao, "Sócio/Admin") + ")";
        out.log_line = "✅ " + nome + " TEM PODER (" + shown(qualificacao) + ")";
    } else if (has_record) {
        out.campo.status = Status::Reprovado;
        out.campo.valor_receita = qsa_summary;
        out.campo.mensagem = "Signatário NÃO encontrado no QSA";
        out.problema = "Signatário sem poder de assinatura";
        out.log_line = "❌ " + nome + " NÃO TEM PODER";
    } else {
        out.campo.status = Status::Pendente;
        out.campo.mensagem = "Não foi possível verificar";
        out.log_line = "⚠️ " + nome + " - não foi possível verificar";
    }
    return out;
}

bool identified_signatory(const Text& nome) { return filled(nome) && *nome != "N/A"; }

Field unidentified_signatory_field() {
    return {"Identificação", Status::NaoVerificado, {}, {}, "Signatário não identificado"};
}

std::string qsa_summary(const std::vector<std::string>& first_names, bool empty) {
    if (empty) return "QSA vazio";
    std::string out = "QSA: ";
    for (std::size_t i = 0; i < first_names.size(); ++i) {
        if (i) out += ", ";
        out += first_names[i];
    }
    return out + "...";
}

std::vector<std::pair<const char*, std::size_t>> Verdict::totals() const {
    return {{"total_campos", total()},
            {"total_aprovados", aprovados.size()},
            {"total_reprovados", reprovados.size()},
            {"total_pendentes", pendentes.size()}};
}

Verdict decide(const std::vector<OwnedField>& fields, const VerdictOptions& options) {
    Verdict v;
    for (const OwnedField& f : fields) {
        std::vector<std::string>* target = f.status == Status::Aprovado    ? &v.aprovados
                                           : f.status == Status::Reprovado ? &v.reprovados
                                           : f.status == Status::Pendente  ? &v.pendentes
                                                                           : nullptr;
        if (target) target->push_back(f.campo + " - " + f.owner);
    }
    if (!v.reprovados.empty()) {
        v.resultado_final = "REPROVADO";
        v.justificativa = std::to_string(v.reprovados.size()) + " campo(s) reprovado(s)";
    } else if (!v.pendentes.empty()) {
        v.resultado_final = "PENDENTE";
        v.justificativa = std::to_string(v.pendentes.size()) + " campo(s) requer(em) análise manual";
    } else {
        v.resultado_final = "APROVADO";
        v.justificativa = "Todos os " + std::to_string(v.aprovados.size()) + " campos verificados foram aprovados";
    }
    if (!options.nothing_verified_is_pending) return v;

    Text reason = options.extraction_gap;
    if (!reason && v.total() == 0 && !options.any_party) reason = "Nenhuma empresa ou assinatura encontrada no documento";
    if (!reason) return v;
    v.resultado_final = "PENDENTE";
    v.justificativa = *reason;
    // Said once, however the pending fields already word it (they are read as one text).
    std::string joined;
    for (std::size_t i = 0; i < v.pendentes.size(); ++i) joined += (i ? " " : "") + v.pendentes[i];
    if (joined.find("Extração de dados") == std::string::npos) v.pendentes.push_back("Extração de dados - " + *reason);
    return v;
}

std::string company_owner(const Text& razao_social_receita, const Text& razao_social_contrato, const Text& cnpj) {
    if (filled(razao_social_receita)) return *razao_social_receita;
    return filled(razao_social_contrato) ? *razao_social_contrato : shown(cnpj);
}

Text missing_credentials(bool has_api_key, bool is_azure) {
    if (has_api_key) return std::nullopt;
    if (is_azure)
        return std::string(
            "Credenciais Azure não configuradas. Defina AZURE_API_KEY, AZURE_API_ENDPOINT e AZURE_DEPLOYMENT_NAME.");
    return std::string("OpenAI API key não configurada. Defina OPENAI_API_KEY ou passe openai_api_key.");
}

Verdict without_engine() {
    Verdict v;
    v.resultado_final = "PENDENTE";
    v.justificativa = "Quillon não disponível. Instale com: pip install quillon";
    v.pendentes = {"Extração de dados não disponível"};
    return v;
}

Text extraction_gap(const ExtractionView& view) {
    if (view.extracted) return std::nullopt;
    if (!view.unreadable_pages.empty() && view.unreadable_pages.size() >= view.pages) {
        std::string pages;
        for (std::size_t i = 0; i < view.unreadable_pages.size(); ++i)
            pages += (i ? ", " : "") + view.unreadable_pages[i];
        // The reader's reasons, each once, in page order.
        std::vector<std::string> distinct;
        for (const std::string& r : view.unreadable_reasons) {
            bool seen = false;
            for (const std::string& d : distinct) seen = seen || d == r;
            if (!seen) distinct.push_back(r);
        }
        std::string because;
        for (std::size_t i = 0; i < distinct.size(); ++i) because += (i ? "; " : "") + distinct[i];
        if (distinct.empty()) because = "instale o Tesseract (tesseract-ocr, tesseract-ocr-por) ou configure o OCR Azure";
        return "Documento sem texto legível (páginas " + pages + "): " + because;
    }
    if (view.triagem && !view.triagem->eh_contrato) {
        const auto& t = *view.triagem;
        std::string motivo = t.exclusao.empty() ? t.quantidade + " termo(s) de contrato" : t.exclusao;
        return "Documento não parece ser um contrato (triagem: " + t.motivo + ", " + motivo + ")";
    }
    return std::string("Documento sem texto para extrair");
}

}  // namespace quillon::checker

namespace quillon::checker {

namespace {

const std::string kHeavy = "============================================================";
const std::string kLight = "────────────────────────────────────────────────────────────";

const char* verdict_emoji(const std::string& verdict) {
    if (verdict == "APROVADO") return "✅";
    if (verdict == "REPROVADO") return "❌";
    if (verdict == "PENDENTE") return "⚠️";
    return "❓";
}

// Whether the registry could not be consulted about a company: its CNPJ
// field is pending (a found company's is approved, a missing one's rejected).
bool registry_not_consulted(const ReportCompany& c) {
    for (const ReportField& f : c.campos)
        if (f.campo == "CNPJ") return f.status == "pendente";
    return false;
}

struct Lines {
    std::vector<std::string> out;
    void operator()(std::string line) { out.push_back(std::move(line)); }
    void section(const std::string& title) {
        out.push_back("\n" + kLight);
        out.push_back(title);
        out.push_back(kLight);
    }
    void items(const char* heading, const std::vector<std::string>& items) {
        if (items.empty()) return;
        out.push_back(heading);
        for (const std::string& i : items) out.push_back("      • " + i);
    }
    void fields(const std::vector<ReportField>& campos) {
        for (const ReportField& f : campos) out.push_back("      " + f.emoji + " " + f.campo + ": " + f.mensagem);
    }
};

}  // namespace

std::vector<std::string> report_lines(const Report& r) {
    Lines say;
    const std::string e = verdict_emoji(r.resultado_final), e3 = e + e + e;
    say("\n" + kHeavy);
    say(e3 + " RESULTADO FINAL: " + r.resultado_final + " " + e3);
    say(kHeavy);
    say("   " + r.justificativa);

    say.section("📋 CAMPOS VERIFICADOS");
    say("   ✅ Aprovados: " + std::to_string(r.aprovados.size()));
    say("   ❌ Reprovados: " + std::to_string(r.reprovados.size()));
    say("   ⚠️ Pendentes: " + std::to_string(r.pendentes.size()));
    say.items("\n   ✅ APROVADOS:", r.aprovados);
    say.items("\n   ❌ REPROVADOS:", r.reprovados);
    say.items("\n   ⚠️ PENDENTES:", r.pendentes);

    say.section("🏢 EMPRESAS (" + std::to_string(r.empresas.size()) + ")");
    for (const ReportCompany& c : r.empresas) {
        // A company the registry could not be asked about is neither active nor not.
        const char* mark = c.empresa_ativa ? "✅" : registry_not_consulted(c) ? "⚠️" : "❌";
        const Text& name = filled(c.razao_social_receita) ? c.razao_social_receita : c.razao_social_contrato;
        say("\n   " + std::string(mark) + " " + (filled(name) ? *name : "N/A"));
        say("      CNPJ: " + (filled(c.cnpj) ? *c.cnpj : "N/A") + (c.cnpj_buscado_por_nome ? " (encontrado por busca)" : ""));
        say.fields(c.campos);
    }

    say.section("✍️ ASSINATURAS (" + std::to_string(r.assinaturas.size()) + ")");
    for (const ReportSignature& s : r.assinaturas) {
        say("\n   " + std::string(s.tem_poder ? "✅" : "❌") + " " + s.nome);
        if (filled(s.cargo)) say("      Cargo: " + *s.cargo);
        say.fields(s.campos);
    }

    say.section("💰 MÉTRICAS");
    say("   Tokens: " + r.tokens);
    say("   Custo: $" + r.custo);
    say("   Tempo: " + r.tempo + "s");
    say("\n" + kHeavy);
    return say.out;
}

}  // namespace quillon::checker

namespace quillon::checker {

Weighed strongest(const names::Prepared& signatario, const std::string& cpf_digits, const std::vector<QsaPerson>& qsa) {
    Weighed best;
    if (signatario.empty()) return best;
    for (std::size_t i = 0; i < qsa.size(); ++i) {
        const cpf::Evidence by_cpf = cpf_digits.empty() || qsa[i].cpf.empty()
                                         ? cpf::Evidence::Unknown
                                         : cpf::compare_masked(cpf_digits, qsa[i].cpf.data(), qsa[i].cpf.size());
        const signatory::Evidence e = signatory::weigh(names::match_kind(signatario, qsa[i].nome), by_cpf);
        if (e > best.evidence) best = {e, i};
    }
    return best;
}

CorroboratedFields corroborated_power_field(const std::string& nome, signatory::Evidence evidence,
                                            const Text& pessoa, const Text& qualificacao, bool has_record,
                                            const std::string& qsa_summary) {
    using signatory::Evidence;
    CorroboratedFields out;
    const bool approved = signatory::approves(evidence);
    if (evidence == Evidence::NameFragment) {
        const std::string who = shown(pessoa);
        out.campo = {"Poder de Assinatura", Status::Pendente, nome, pessoa,
                     "Nome confere só em parte com " + who + " (QSA) e nenhum CPF o confirma"};
        out.problema = "Nome do signatário confere só em parte com o QSA";
        out.log_line = "⚠️ " + nome + " - confere só em parte com " + who;
    } else {
        static_cast<SignatureFields&>(out) =
            signature_power_field(nome, approved, qualificacao, has_record, approved ? "" : qsa_summary);
        if (evidence == Evidence::CpfConfirms) out.campo.mensagem->append("; CPF confere com o do QSA");
        if (evidence == Evidence::CpfRefutes && has_record)
            out.campo.mensagem = "Signatário NÃO encontrado no QSA: o CPF do contrato difere do de " + shown(pessoa);
    }
    out.evidencia = !approved && evidence != Evidence::NameFragment && !has_record ? "sem_cadastro"
                                                                                   : signatory::label(evidence);
    return out;
}

}  // namespace quillon::checker
