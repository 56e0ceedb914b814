// The contract checker's rules: the verified fields of a company and of a
// signature, and the verdict drawn from every field.
//
// Texts are UTF-8; a value the contract or the registry may lack is a Text
// without value (None to the host).  What needs the host's own rules (its
// upper-casing of the registry status, the name and address comparisons a
// host may replace) arrives here already worked out: these functions only
// decide and word.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quillon::checker {

using Text = std::optional<std::string>;

// Whether a text is present and not empty (Python's truth value of a str or None).
inline bool filled(const Text& t) noexcept { return t && !t->empty(); }

enum class Status { Aprovado, Reprovado, Pendente, NaoVerificado };

// "aprovado", "reprovado", "pendente", "nao_verificado".
const char* status_text(Status s) noexcept;

// One verified field: {campo, status, valor_contrato, valor_receita, mensagem}.
struct Field {
    std::string campo;
    Status status = Status::Pendente;
    Text valor_contrato;
    Text valor_receita;
    Text mensagem;
};

// Why a checker cannot be built, when it cannot: no credentials for the
// provider (Azure's three settings, or an OpenAI key).
Text missing_credentials(bool has_api_key, bool is_azure);

// --- progress lines ----------------------------------------------------------
// One line of the checker's progress log (self._log(text, emoji)).
struct LogLine {
    std::string text;
    const char* emoji = "";
};

// What a verification says before anything is read: the file it checks.
std::vector<LogLine> opening_lines(const std::string& arquivo);
// What it says once the engine answered: how much was extracted, and that
// the registry comes next.
std::vector<LogLine> extraction_lines(std::size_t empresas, std::size_t assinaturas);

// --- companies ---------------------------------------------------------------
// A company as the contract names it.
struct ExtractedCompany {
    Text cnpj;          // as written in the contract
    Text razao_social;  // legal name
    Text endereco;      // address
};

// What the registry answered about one company.
enum class Lookup {
    Found,
    NotFound,
    NotConsulted,  // no source could be asked: neither found nor missing
};

// The registry record of a found company, as the fields show it.
struct RegistryView {
    Text cnpj;                 // record["cnpj"] (None when absent)
    std::string situacao;      // record["situacao"], upper-cased by the host ("" when absent)
    std::string razao_social;  // record["razao_social"] ("" when absent)
};

// The outcome of comparing the contract's address with the registry's.
struct AddressComparison {
    bool confere = false;
    std::string similaridade;  // the similarity as a percentage: "85%"
    Text endereco_receita;     // the registry's address as compared
};

struct CompanyVerification {
    Lookup lookup = Lookup::NotFound;
    std::string unavailable_reason;  // why the registry was not consulted (NotConsulted)
    // The CNPJ the company was looked for with: the contract's, or the one a
    // search by name found.
    Text cnpj;
    // Found companies only:
    RegistryView registro;
    bool razao_social_confere = false;          // the host's name comparison
    std::optional<AddressComparison> endereco;  // when the contract gives an address
};

struct CompanyFields {
    std::vector<Field> campos;
    std::vector<std::string> problemas;
    bool empresa_ativa = false;
    std::string log_line;  // said before the fields, when not empty
};

// The heading of one company's checks: its contract name, "Empresa" when it
// has none (the host gives none for any name it counts as empty).
std::string company_heading(const Text& razao_social);

// The fields of a company: CNPJ (found, not found, or pending when the
// registry was not consulted); for a found one also Situação Cadastral
// (approved when the status contains ATIVA), Razão Social (Confere, else
// Divergente and pending) and Endereço when the contract gives one.
CompanyFields company_fields(const ExtractedCompany& empresa, const CompanyVerification& v);

// "85%": the similarity 0..1 written as Python's format(x, ".0%").
std::string percent(double similarity);

// --- signatures --------------------------------------------------------------
struct SignatureFields {
    Field campo;
    Text problema;
    std::string log_line;
};

// The "Poder de Assinatura" field of an identified signatory: approved when
// found in a QSA (with the partner's qualification, if any), rejected when
// the represented company's record was searched in vain (the record's QSA
// summary shown), pending when there was no record to search.
SignatureFields signature_power_field(const std::string& nome, bool tem_poder, const Text& qualificacao,
                                      bool has_record, const std::string& qsa_summary);

// Whether a signature names its signatory: a name neither empty nor "N/A".
bool identified_signatory(const Text& nome);

// The field of a signature without an identified signatory.
Field unidentified_signatory_field();

// "QSA: A, B, C..." from the first three partner names, or "QSA vazio".
std::string qsa_summary(const std::vector<std::string>& first_names, bool empty);

// --- the verdict -------------------------------------------------------------
// A field with the name of what it belongs to (a company or a signatory).
struct OwnedField {
    std::string campo;
    Status status;
    std::string owner;
};

// The name a company's fields go by: the registry's legal name, else the
// contract's, else the contract's CNPJ as it stands ("None" when absent).
std::string company_owner(const Text& razao_social_receita, const Text& razao_social_contrato, const Text& cnpj);

struct VerdictOptions {
    // A document from which nothing could be verified is PENDENTE, never
    // APROVADO: the command's policy (a library caller gets the plain rule).
    bool nothing_verified_is_pending = false;
    // Why the extraction gave nothing to verify, when it did not
    // (extraction_gap()); applies with the option above.
    Text extraction_gap;
    // Whether any company or signature was extracted at all.
    bool any_party = true;
};

struct Verdict {
    std::string resultado_final;  // APROVADO, REPROVADO or PENDENTE
    std::string justificativa;
    std::vector<std::string> aprovados, reprovados, pendentes;  // "campo - owner"
    std::size_t total() const noexcept { return aprovados.size() + reprovados.size() + pendentes.size(); }
    // The result record's counts, in its key order: every field, then each list's.
    std::vector<std::pair<const char*, std::size_t>> totals() const;
};

// REPROVADO if any field is rejected, else PENDENTE if any is pending, else
// APROVADO.  Fields not verified count nowhere.
Verdict decide(const std::vector<OwnedField>& fields, const VerdictOptions& options = {});

// The verdict when there is no extraction engine to read the contract.
Verdict without_engine();

// What the engine saw of a document, for extraction_gap().
struct ExtractionView {
    bool extracted = true;
    std::size_t pages = 0;
    std::vector<std::string> unreadable_pages;  // their numbers as written
    // The reader's reason for each unreadable page that has one, in page order.
    std::vector<std::string> unreadable_reasons;
    struct Screen {
        bool eh_contrato = false;
        std::string motivo;      // str() of the screen's reason
        std::string exclusao;    // the exclusion found, "" when none
        std::string quantidade;  // str() of the number of contract terms found
    };
    std::optional<Screen> triagem;
};

// Why nothing was extracted: every page unreadable, not a contract, or no
// text; nothing when the engine extracted.
Text extraction_gap(const ExtractionView& view);

}  // namespace quillon::checker

namespace quillon::checker {

// --- the printed report ------------------------------------------------------
struct ReportField {
    std::string emoji, campo, status, mensagem;
};

struct ReportCompany {
    bool empresa_ativa = false;
    Text razao_social_receita, razao_social_contrato, cnpj;
    bool cnpj_buscado_por_nome = false;
    std::vector<ReportField> campos;
};

struct ReportSignature {
    bool tem_poder = false;
    std::string nome;
    Text cargo;
    std::vector<ReportField> campos;
};

struct Report {
    std::string resultado_final, justificativa;
    std::vector<std::string> aprovados, reprovados, pendentes;
    std::vector<ReportCompany> empresas;
    std::vector<ReportSignature> assinaturas;
    std::string tokens, custo, tempo;  // the metrics as the host writes them
};

// The lines of the report, each to be printed as one line.
std::vector<std::string> report_lines(const Report& r);

}  // namespace quillon::checker

#include "quillon/signatory.hpp"

namespace quillon::checker {

// --- signatures weighed by name and CPF (corroboration) -----------------------
// A person of a QSA: a partner, or a partner's legal representative.
struct QsaPerson {
    names::Prepared nome;
    std::u32string cpf;  // as the registry publishes it ("***456789**"), "" when it gives none
};

// The strongest evidence over the persons of one QSA, and the first person
// who gave it (meaningless when the evidence is None).
struct Weighed {
    signatory::Evidence evidence = signatory::Evidence::None;
    std::size_t person = 0;
};
Weighed strongest(const names::Prepared& signatario, const std::string& cpf_digits, const std::vector<QsaPerson>& qsa);

// The "Poder de Assinatura" field from the evidence found: approved (the
// CPF's confirmation said), pending for a fragment of a name, rejected (the
// differing CPF said), or pending without a record; `pessoa` is the person
// the evidence concerns.  `evidencia` is the label the record keeps.
struct CorroboratedFields : SignatureFields {
    std::string evidencia;
};
CorroboratedFields corroborated_power_field(const std::string& nome, signatory::Evidence evidence,
                                            const Text& pessoa, const Text& qualificacao, bool has_record,
                                            const std::string& qsa_summary);

}  // namespace quillon::checker
