#include "quillon/checker.hpp"

#include <cstdio>
#include <utility>

namespace quillon::checker {

const char* status_text(Status s) noexcept {
    switch (s) {
        case Status::Aprovado:
            return "aprovado";
        case Status::Reprovado:
            return "reprovado";
        case Status::Pendente:
            return "pendente";
        case Status::NaoVerificado:
            break;
    }
    return "nao_verificado";
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

Text extraction_gap(const ExtractionView& view) {
    if (view.extracted) return std::nullopt;
    if (!view.unreadable_pages.empty() && view.unreadable_pages.size() >= view.pages) {
        std::string pages;
        for (std::size_t i = 0; i < view.unreadable_pages.size(); ++i)
            pages += (i ? ", " : "") + std::to_string(view.unreadable_pages[i]);
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
