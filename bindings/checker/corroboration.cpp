// Signature validation with corroboration, for checkers that ask for it
// (`corroborar_assinaturas` true: the command and the engine path).
//
// The tolerant name rule of _comparar_nomes approves a signatory whose name is
// only a fragment of a partner's ("JOSE SILVA" for "FABIO JOSE SILVA
// COELHO").  Here each partner, and each partner's legal representative, is
// weighed by quillon::signatory: the kind of name match, and the contract's
// CPF of the signatory against the partner's CPF as the registry publishes it
// ("cnpj_cpf_do_socio", "cpf_representante": the six middle digits).  The
// strongest evidence across the partner list decides, and is recorded in the
// verified signature ("evidencia").
#include "checker/parts.hpp"

#include <string>
#include <unordered_set>
#include <utility>

#include "quillon/cpf.hpp"
#include "quillon/names.hpp"
#include "quillon/signatory.hpp"

namespace names_core = quillon::names;
namespace cpf_core = quillon::cpf;
using quillon::signatory::Evidence;

namespace {

names_core::Prepared prepare_name(nb::handle v) {
    if (!PyUnicode_Check(v.ptr())) return {};  // None or no text: never matches
    return with_code_units(v.ptr(), [](const auto* d, std::size_t n) { return names_core::Prepared::from(d, n); });
}

// The eleven digits of the CPF the contract gives for the signatory, or "".
std::string contract_cpf(nb::handle assinatura) {
    nb::object cpf = nb::getattr(assinatura, "cpf", nb::none());
    if (!PyUnicode_Check(cpf.ptr())) return {};
    return with_code_units(cpf.ptr(), [](const auto* d, std::size_t n) { return cpf_core::digits(d, n); });
}

cpf_core::Evidence compare_cpf(const std::string& cpf, nb::handle published) {
    if (cpf.empty() || !PyUnicode_Check(published.ptr())) return cpf_core::Evidence::Unknown;
    return with_code_units(published.ptr(),
                           [&](const auto* d, std::size_t n) { return cpf_core::compare_masked(cpf, d, n); });
}

// The strongest evidence found in one registry record, with the person it
// concerns and that person's qualification.
struct Finding {
    Evidence evidence = Evidence::None;
    nb::object pessoa = nb::none();
    nb::object qualificacao = nb::none();
};

Finding search(const names_core::Prepared& signatario, const std::string& cpf, nb::handle dados) {
    Finding best;
    if (signatario.empty()) return best;
    auto consider = [&](nb::handle nome, nb::handle published_cpf, nb::handle qualificacao) {
        Evidence e = quillon::signatory::weigh(names_core::match_kind(signatario, prepare_name(nome)),
                                               compare_cpf(cpf, published_cpf));
        if (e > best.evidence) best = {e, nb::borrow(nome), nb::borrow(qualificacao)};
    };
    nb::str empty("");
    for (nb::handle entry : map_get(dados, "socios", nb::list())) {
        consider(map_get(entry, "nome", empty), map_get(entry, "cnpj_cpf_do_socio", empty),
                 map_get(entry, "qualificacao", nb::none()));
        nb::object rep = map_get(entry, "nome_representante", empty);
        if (truth(rep))
            consider(rep, map_get(entry, "cpf_representante", empty),
                     map_get(entry, "qualificacao_representante", nb::none()));
    }
    return best;
}

nb::object campo(const char* status, nb::handle nome, nb::handle valor_receita, nb::handle mensagem) {
    return checker_ns.call(names::CampoVerificado, nb::arg("campo") = "Poder de Assinatura",
                           nb::arg("status") = status, nb::arg("valor_contrato") = nome,
                           nb::arg("valor_receita") = valor_receita, nb::arg("mensagem") = mensagem);
}

}  // namespace

bool corroborates(nb::handle self) { return truth(nb::getattr(self, "corroborar_assinaturas", nb::none())); }

nb::object corroborated_signature(nb::handle self, nb::handle assinatura, nb::handle nome, nb::object dados,
                                  nb::handle cache) {
    const names_core::Prepared signatario = prepare_name(text_arg(nome, "_validar_assinaturas", "nome_signatario"));
    const std::string cpf = contract_cpf(assinatura);

    Finding found;
    if (truth(dados)) {
        found = search(signatario, cpf, dados);
    } else {
        // The represented company has no record: the first cached record that
        // approves the signatory, else the first where the name matches in
        // part (the signature then stays pending).  A record cached under two
        // keys is looked at once.
        std::unordered_set<PyObject*> seen;
        Finding partial;
        nb::object partial_record;
        for (nb::handle record : cache.attr("values")()) {
            if (!seen.insert(record.ptr()).second) continue;
            Finding f = search(signatario, cpf, record);
            if (quillon::signatory::approves(f.evidence)) {
                found = std::move(f);
                dados = nb::borrow(record);
                break;
            }
            if (f.evidence == Evidence::NameFragment && !partial_record.is_valid()) {
                partial = std::move(f);
                partial_record = nb::borrow(record);
            }
        }
        if (!quillon::signatory::approves(found.evidence) && partial_record.is_valid()) {
            found = std::move(partial);
            dados = partial_record;
        }
    }

    const bool approved = quillon::signatory::approves(found.evidence);
    const std::string nome_s = utf8(nome), pessoa = utf8(found.pessoa);
    nb::object evidencia = nb::str(quillon::signatory::label(found.evidence));
    nb::object qualificacao = approved ? found.qualificacao : nb::none();
    rules::Field campo{"Poder de Assinatura", rules::Status::Pendente, nome_s, {}, {}};
    nb::list problemas;
    std::string log;
    if (approved) {
        rules::SignatureFields s = rules::signature_power_field(nome_s, true, text_of(qualificacao), true, "");
        campo = s.campo;
        if (found.evidence == Evidence::CpfConfirms) campo.mensagem = campo.mensagem->append("; CPF confere com o do QSA");
        log = s.log_line;
    } else if (found.evidence == Evidence::NameFragment) {
        campo.valor_receita = text_of(found.pessoa);
        campo.mensagem = "Nome confere só em parte com " + pessoa + " (QSA) e nenhum CPF o confirma";
        problemas.append("Nome do signatário confere só em parte com o QSA");
        log = "⚠️ " + nome_s + " - confere só em parte com " + pessoa;
    } else {
        rules::SignatureFields s = rules::signature_power_field(nome_s, false, {}, truth(dados),
                                                                truth(dados) ? utf8(qsa_summary(dados)) : "");
        campo = s.campo;
        if (found.evidence == Evidence::CpfRefutes)
            campo.mensagem = "Signatário NÃO encontrado no QSA: o CPF do contrato difere do de " + pessoa;
        if (s.problema) problemas.append(py(*s.problema));
        if (!truth(dados)) evidencia = nb::str("sem_cadastro");
        log = s.log_line;
    }
    nb::list campos;
    campos.append(campo_model(campo));
    log_line(self, log);
    return checker_ns.call(
        names::AssinaturaVerificada, nb::arg("nome_signatario") = nome, nb::arg("cargo") = assinatura.attr("cargo"),
        nb::arg("empresa_representada") = assinatura.attr("empresa_representada"),
        nb::arg("cnpj_empresa") = assinatura.attr("cnpj_empresa"),
        nb::arg("tipo_assinatura") = assinatura.attr("tipo_assinatura"), nb::arg("campos") = campos,
        nb::arg("tem_poder_assinatura") = approved, nb::arg("qualificacao_qsa") = qualificacao,
        nb::arg("problemas") = problemas, nb::arg("evidencia") = evidencia);
}
