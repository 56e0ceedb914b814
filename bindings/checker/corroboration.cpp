// Signature validation with corroboration, for checkers that ask for it
// (`corroborar_assinaturas` true: the command and the engine path).
//
// The tolerant name rule of _comparar_nomes approves a signatory whose name is
// only a fragment of a partner's ("JOSE SILVA" for "FABIO JOSE SILVA
// COELHO").  Here each partner, and each partner's legal representative, is
// weighed by rules::strongest: the kind of name match, and the contract's CPF
// of the signatory against the partner's CPF as the registry publishes it
// ("cnpj_cpf_do_socio", "cpf_representante": the six middle digits).  The
// strongest evidence across the partner list decides, and is recorded in the
// verified signature ("evidencia").
#include "checker/parts.hpp"

#include "quillon/qsa.hpp"

using quillon::signatory::Evidence;

namespace {

// Of a value that is no str: nothing (never matches, never corroborates).
quillon::names::Prepared name_of(nb::handle v) { return PyUnicode_Check(v.ptr()) ? prepared_name(v) : quillon::names::Prepared(); }

template <class Out, class F>
Out from_text(nb::handle v, F&& make) {
    return PyUnicode_Check(v.ptr()) ? with_code_units(v.ptr(), make) : Out();
}

// The strongest evidence in one record, with the person it concerns and that
// person's qualification.
struct Finding {
    Evidence evidence = Evidence::None;
    nb::object pessoa = nb::none(), qualificacao = nb::none();
};

Finding search(const quillon::names::Prepared& signatario, const std::string& cpf, nb::handle dados) {
    std::vector<rules::QsaPerson> qsa;
    std::vector<std::pair<nb::object, nb::object>> who;  // (name, qualification) of each person
    nb::str empty("");
    auto add = [&](nb::object nome, nb::handle cpf_publicado, nb::object qualificacao) {
        qsa.push_back({name_of(nome), from_text<std::u32string>(cpf_publicado, [](auto* d, size_t n) {
                           return std::u32string(d, d + n);
                       })});
        who.emplace_back(std::move(nome), std::move(qualificacao));
    };
    for (nb::handle entry : field(dados, "socios", nb::list())) {
        add(field(entry, "nome", empty), field(entry, "cnpj_cpf_do_socio", empty), field(entry, "qualificacao", nb::none()));
        if (nb::object rep = field(entry, "nome_representante", empty); truth(rep))
            add(rep, field(entry, "cpf_representante", empty), field(entry, "qualificacao_representante", nb::none()));
    }
    rules::Weighed w = rules::strongest(signatario, cpf, qsa);
    if (w.evidence == Evidence::None) return {};
    return {w.evidence, who[w.person].first, who[w.person].second};
}

}  // namespace

nb::object corroborated_signature(nb::handle self, nb::handle assinatura, nb::handle nome, nb::object dados,
                                  nb::handle cache) {
    const auto signatario = prepared_name(text_arg(nome, "_validar_assinaturas", "nome_signatario"));
    const std::string cpf = from_text<std::string>(nb::getattr(assinatura, "cpf", nb::none()),
                                                   [](auto* d, size_t n) { return quillon::cpf::digits(d, n); });
    Finding found;
    if (truth(dados)) {
        found = search(signatario, cpf, dados);
    } else {
        // The represented company has no record: the first cached record that
        // approves the signatory, else the first where the name matches in
        // part (the signature then stays pending).  A record cached under two
        // keys is looked at once.
        nb::list held;  // every record searched, so that its address stays its own
        quillon::qsa::scan_records(
            cache.attr("values")(), [](nb::handle record) -> const void* { return record.ptr(); },
            [&](nb::handle record) {
                held.append(record);
                Finding f = search(signatario, cpf, record);
                const bool approves = quillon::signatory::approves(f.evidence);
                return std::pair{approves ? 2 : f.evidence == Evidence::NameFragment ? 1 : 0, std::move(f)};
            },
            [&](nb::handle record, Finding f) { found = std::move(f); dados = nb::borrow(record); }, 2);
    }
    const bool approved = quillon::signatory::approves(found.evidence);
    nb::object qualificacao = approved ? found.qualificacao : nb::none();
    rules::CorroboratedFields s = rules::corroborated_power_field(
        utf8(nome), found.evidence, text_of(found.pessoa), text_of(qualificacao), truth(dados),
        !approved && found.evidence != Evidence::NameFragment && truth(dados) ? qsa_summary(dados) : "");
    return signature_model(self, assinatura, nome, s, approved, qualificacao, &s.evidencia);
}
