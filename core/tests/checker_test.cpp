#include "quillon/checker.hpp"

#include <gtest/gtest.h>

using namespace quillon::checker;

namespace {

CompanyVerification found(std::string situacao, bool confere = true) {
    CompanyVerification v;
    v.lookup = Lookup::Found;
    v.cnpj = "06990590000123";
    v.registro = {std::string("06.990.590/0001-23"), std::move(situacao), "EMPRESA X LTDA"};
    v.razao_social_confere = confere;
    return v;
}

std::vector<Status> statuses(const CompanyFields& f) {
    std::vector<Status> out;
    for (const Field& c : f.campos) out.push_back(c.status);
    return out;
}

}  // namespace

TEST(CompanyFields, FoundActiveCompanyWithMatchingNameAndAddress) {
    ExtractedCompany e{std::string("06.990.590/0001-23"), std::string("Empresa X"), std::string("Rua A, 1")};
    CompanyVerification v = found("ATIVA");
    v.endereco = AddressComparison{true, percent(0.9), std::string("R A 1")};
    CompanyFields f = company_fields(e, v);
    EXPECT_EQ(statuses(f), (std::vector<Status>{Status::Aprovado, Status::Aprovado, Status::Aprovado, Status::Aprovado}));
    EXPECT_TRUE(f.empresa_ativa);
    EXPECT_TRUE(f.problemas.empty());
    EXPECT_EQ(f.campos[0].valor_receita, "06.990.590/0001-23");
    EXPECT_EQ(f.campos[1].mensagem, "Empresa ATIVA");
    EXPECT_EQ(f.campos[2].mensagem, "Confere");
    EXPECT_EQ(f.campos[3].mensagem, "Similaridade: 90%");
    EXPECT_EQ(f.campos[3].valor_receita, "R A 1");
}

TEST(CompanyFields, CompanyFoundByNameShowsTheCnpjAsSearched) {
    CompanyFields f = company_fields({std::nullopt, std::string("Empresa X"), std::nullopt}, found("ATIVA"));
    EXPECT_EQ(f.campos[0].valor_contrato, "(buscado automaticamente)");
    EXPECT_EQ(f.campos.size(), 3u);  // no address in the contract: no address field
}

TEST(CompanyFields, InactiveStatusRejectsAndNamesTheStatus) {
    for (const char* situacao : {"BAIXADA", "INAPTA", ""}) {
        CompanyFields f = company_fields({}, found(situacao, false));
        EXPECT_FALSE(f.empresa_ativa) << situacao;
        EXPECT_EQ(f.campos[1].status, Status::Reprovado);
        EXPECT_EQ(f.campos[1].mensagem, std::string("Empresa ") + situacao);
        EXPECT_EQ(f.problemas, std::vector<std::string>{std::string("Empresa com situação: ") + situacao});
        EXPECT_EQ(f.campos[2].status, Status::Pendente);
        EXPECT_EQ(f.campos[2].mensagem, "Divergente");
    }
    // "ATIVA" anywhere in the status counts (the registry's wording varies).
    EXPECT_TRUE(company_fields({}, found("02 - ATIVA")).empresa_ativa);
}

TEST(CompanyFields, NotFoundRejectsAndNotConsultedIsPending) {
    CompanyVerification v;
    v.lookup = Lookup::NotFound;
    CompanyFields f = company_fields({}, v);
    ASSERT_EQ(f.campos.size(), 1u);
    EXPECT_EQ(f.campos[0].status, Status::Reprovado);
    EXPECT_EQ(f.campos[0].valor_contrato, "(não informado)");
    EXPECT_FALSE(f.campos[0].valor_receita.has_value());
    EXPECT_EQ(f.problemas, std::vector<std::string>{"CNPJ não encontrado"});
    EXPECT_TRUE(f.log_line.empty());

    v.lookup = Lookup::NotConsulted;
    v.unavailable_reason = "tempo esgotado";
    v.cnpj = "06990590000123";
    f = company_fields({}, v);
    EXPECT_EQ(f.campos[0].status, Status::Pendente);
    EXPECT_EQ(f.campos[0].valor_contrato, "06990590000123");
    EXPECT_EQ(f.campos[0].mensagem, "Receita Federal não consultada: tempo esgotado");
    EXPECT_EQ(f.log_line, "⚠️ Receita Federal não consultada: tempo esgotado");
    EXPECT_TRUE(f.problemas.empty());
}

TEST(Percent, WrittenAsPythonFormatsIt) {
    EXPECT_EQ(percent(0.0), "0%");
    EXPECT_EQ(percent(1.0), "100%");
    EXPECT_EQ(percent(0.845), "84%");  // 84.49999... in binary
    EXPECT_EQ(percent(0.125), "12%");  // half to even
    EXPECT_EQ(percent(0.135), "14%");
}

TEST(SignaturePower, ApprovedRejectedOrPending) {
    SignatureFields s = signature_power_field("Ana", true, std::string("49-Sócio-Administrador"), true, "QSA vazio");
    EXPECT_EQ(s.campo.status, Status::Aprovado);
    EXPECT_EQ(s.campo.valor_receita, "49-Sócio-Administrador");
    EXPECT_EQ(s.campo.mensagem, "Signatário tem poder (49-Sócio-Administrador)");
    EXPECT_EQ(s.log_line, "✅ Ana TEM PODER (49-Sócio-Administrador)");

    s = signature_power_field("Ana", true, std::nullopt, false, "");
    EXPECT_EQ(s.campo.valor_receita, "Encontrado no QSA");
    EXPECT_EQ(s.campo.mensagem, "Signatário tem poder (Sócio/Admin)");
    EXPECT_EQ(s.log_line, "✅ Ana TEM PODER (None)");
    EXPECT_EQ(signature_power_field("Ana", true, std::string(""), false, "").log_line, "✅ Ana TEM PODER ()");

    s = signature_power_field("Ana", false, std::nullopt, true, "QSA: B...");
    EXPECT_EQ(s.campo.status, Status::Reprovado);
    EXPECT_EQ(s.campo.valor_receita, "QSA: B...");
    EXPECT_EQ(s.problema, "Signatário sem poder de assinatura");

    s = signature_power_field("Ana", false, std::nullopt, false, "");
    EXPECT_EQ(s.campo.status, Status::Pendente);
    EXPECT_FALSE(s.campo.valor_receita.has_value());
    EXPECT_FALSE(s.problema.has_value());
    EXPECT_EQ(s.log_line, "⚠️ Ana - não foi possível verificar");
}

TEST(SignaturePower, QsaSummary) {
    EXPECT_EQ(qsa_summary({}, true), "QSA vazio");
    EXPECT_EQ(qsa_summary({"A", "B", "C"}, false), "QSA: A, B, C...");
    EXPECT_EQ(qsa_summary({""}, false), "QSA: ...");
}

TEST(Verdict, AnyRejectedThenAnyPendingElseApproved) {
    std::vector<OwnedField> fields = {{"CNPJ", Status::Aprovado, "X"}, {"Razão Social", Status::Pendente, "X"},
                                      {"Identificação", Status::NaoVerificado, "(não identificado)"}};
    Verdict v = decide(fields);
    EXPECT_EQ(v.resultado_final, "PENDENTE");
    EXPECT_EQ(v.justificativa, "1 campo(s) requer(em) análise manual");
    EXPECT_EQ(v.pendentes, std::vector<std::string>{"Razão Social - X"});
    EXPECT_EQ(v.total(), 2u);  // a field not verified counts nowhere

    fields.push_back({"Poder de Assinatura", Status::Reprovado, "Ana"});
    v = decide(fields);
    EXPECT_EQ(v.resultado_final, "REPROVADO");
    EXPECT_EQ(v.justificativa, "1 campo(s) reprovado(s)");

    v = decide({{"CNPJ", Status::Aprovado, "X"}, {"CNPJ", Status::Aprovado, "Y"}});
    EXPECT_EQ(v.resultado_final, "APROVADO");
    EXPECT_EQ(v.justificativa, "Todos os 2 campos verificados foram aprovados");
    EXPECT_EQ(decide({}).justificativa, "Todos os 0 campos verificados foram aprovados");
}

TEST(Verdict, NothingVerifiedIsPendingOnlyWhenAsked) {
    VerdictOptions opts;
    opts.any_party = false;
    EXPECT_EQ(decide({}, opts).resultado_final, "APROVADO");  // the plain rule

    opts.nothing_verified_is_pending = true;
    Verdict v = decide({}, opts);
    EXPECT_EQ(v.resultado_final, "PENDENTE");
    EXPECT_EQ(v.justificativa, "Nenhuma empresa ou assinatura encontrada no documento");
    EXPECT_EQ(v.pendentes, std::vector<std::string>{"Extração de dados - Nenhuma empresa ou assinatura encontrada no documento"});
    EXPECT_EQ(v.total(), 1u);

    // A signature without an identified signatory is a party, though it verifies nothing.
    opts.any_party = true;
    EXPECT_EQ(decide({{"Identificação", Status::NaoVerificado, "x"}}, opts).resultado_final, "APROVADO");

    // The engine's reason overrides any verdict, and is said once.
    opts.extraction_gap = "Documento sem texto para extrair";
    v = decide({{"CNPJ", Status::Reprovado, "X"}, {"Extração de dados", Status::Pendente, "doc"}}, opts);
    EXPECT_EQ(v.resultado_final, "PENDENTE");
    EXPECT_EQ(v.justificativa, "Documento sem texto para extrair");
    EXPECT_EQ(v.pendentes.size(), 1u);
    EXPECT_EQ(v.reprovados.size(), 1u);
}

TEST(Verdict, FieldsGoByTheRegistryNameElseTheContractsElseTheCnpj) {
    EXPECT_EQ(company_owner(std::string("ACME LTDA"), std::string("Acme"), std::string("1")), "ACME LTDA");
    EXPECT_EQ(company_owner(std::string(""), std::string("Acme"), std::string("1")), "Acme");
    EXPECT_EQ(company_owner(std::nullopt, std::nullopt, std::string("")), "");
    EXPECT_EQ(company_owner(std::nullopt, std::string(""), std::nullopt), "None");
}

TEST(Construction, MissingCredentialsSaySettings) {
    EXPECT_FALSE(missing_credentials(true, true));
    EXPECT_NE(missing_credentials(false, true)->find("AZURE_DEPLOYMENT_NAME"), std::string::npos);
    EXPECT_NE(missing_credentials(false, false)->find("OPENAI_API_KEY"), std::string::npos);
}

TEST(Verdict, WithoutEngineNothingCouldBeRead) {
    Verdict v = without_engine();
    EXPECT_EQ(v.resultado_final, "PENDENTE");
    EXPECT_EQ(v.justificativa, "Quillon não disponível. Instale com: pip install quillon");
    EXPECT_EQ(v.pendentes, std::vector<std::string>{"Extração de dados não disponível"});
}

TEST(ExtractionGap, UnreadableNotAContractOrNoText) {
    ExtractionView view;
    EXPECT_FALSE(extraction_gap(view).has_value());
    view.extracted = false;
    EXPECT_EQ(extraction_gap(view), "Documento sem texto para extrair");

    view.pages = 2;
    view.unreadable_pages = {"1", "2"};
    EXPECT_EQ(extraction_gap(view), "Documento sem texto legível (páginas 1, 2): instale o Tesseract "
                                    "(tesseract-ocr, tesseract-ocr-por) ou configure o OCR Azure");
    view.unreadable_reasons = {"sem OCR", "tempo", "sem OCR"};
    EXPECT_EQ(extraction_gap(view), "Documento sem texto legível (páginas 1, 2): sem OCR; tempo");

    view.unreadable_pages = {"2"};  // one page read: not every page unreadable
    view.triagem = ExtractionView::Screen{false, "poucos termos", "", "1"};
    EXPECT_EQ(extraction_gap(view), "Documento não parece ser um contrato (triagem: poucos termos, 1 termo(s) de contrato)");
    view.triagem->exclusao = "EXCLUSÃO: nota fiscal";
    EXPECT_EQ(extraction_gap(view), "Documento não parece ser um contrato (triagem: poucos termos, EXCLUSÃO: nota fiscal)");
    view.triagem->eh_contrato = true;
    EXPECT_EQ(extraction_gap(view), "Documento sem texto para extrair");
}

TEST(Corroboration, StrongestEvidenceOfAQsa) {
    auto name = [](const std::u32string& s) { return quillon::names::Prepared::from(s.data(), s.size()); };
    std::vector<QsaPerson> qsa = {{name(U"FABIO JOSE SILVA COELHO"), U""},
                                  {name(U"JOSE SILVA"), U"***000000**"},
                                  {name(U"JOSE SILVA"), U"***456789**"}};
    using quillon::signatory::Evidence;
    Weighed w = strongest(name(U"José Silva"), "", qsa);
    EXPECT_EQ(w.evidence, Evidence::FullName);  // no CPF: the whole name beats the fragment
    EXPECT_EQ(w.person, 1u);
    w = strongest(name(U"José Silva"), "12345678909", qsa);
    EXPECT_EQ(w.evidence, Evidence::CpfConfirms);
    EXPECT_EQ(w.person, 2u);
    EXPECT_EQ(strongest(name(U"Pedro"), "12345678909", qsa).evidence, Evidence::None);
    EXPECT_EQ(strongest(name(U""), "", qsa).evidence, Evidence::None);
}

TEST(Corroboration, FieldOfEachEvidence) {
    using quillon::signatory::Evidence;
    struct Case {
        Evidence evidence;
        Status status;
        Text valor_receita;
        std::string mensagem, evidencia;
        Text problema;
    };
    const Text ana = std::string("ANA"), summary = std::string("QSA: ANA...");
    const Case cases[] = {
        {Evidence::CpfConfirms, Status::Aprovado, std::string("Sócia"),
         "Signatário tem poder (Sócia); CPF confere com o do QSA", "cpf", std::nullopt},
        {Evidence::FullName, Status::Aprovado, std::string("Sócia"), "Signatário tem poder (Sócia)", "nome",
         std::nullopt},
        {Evidence::NameFragment, Status::Pendente, ana, "Nome confere só em parte com ANA (QSA) e nenhum CPF o confirma",
         "nome_parcial", std::string("Nome do signatário confere só em parte com o QSA")},
        {Evidence::CpfRefutes, Status::Reprovado, summary,
         "Signatário NÃO encontrado no QSA: o CPF do contrato difere do de ANA", "cpf_divergente",
         std::string("Signatário sem poder de assinatura")},
        {Evidence::None, Status::Reprovado, summary, "Signatário NÃO encontrado no QSA", "nome_ausente",
         std::string("Signatário sem poder de assinatura")},
    };
    for (const Case& c : cases) {
        CorroboratedFields f = corroborated_power_field("Ana", c.evidence, ana, std::string("Sócia"), true, *summary);
        EXPECT_EQ(f.campo.status, c.status) << c.evidencia;
        EXPECT_EQ(f.campo.valor_receita, c.valor_receita) << c.evidencia;
        EXPECT_EQ(f.campo.mensagem, c.mensagem);
        EXPECT_EQ(f.evidencia, c.evidencia);
        EXPECT_EQ(f.problema, c.problema) << c.evidencia;
    }
    EXPECT_EQ(corroborated_power_field("Ana", Evidence::NameFragment, ana, std::nullopt, true, "").log_line,
              "⚠️ Ana - confere só em parte com ANA");
    CorroboratedFields f = corroborated_power_field("Ana", Evidence::None, std::nullopt, std::nullopt, false, "");
    EXPECT_EQ(f.campo.status, Status::Pendente);
    EXPECT_EQ(f.evidencia, "sem_cadastro");
}

TEST(Report, LinesOfAVerification) {
    Report r{"PENDENTE", "1 campo(s) requer(em) análise manual", {"CNPJ - X"}, {}, {"Razão Social - X"}};
    r.empresas.push_back({false, std::nullopt, std::string("X"), std::nullopt, true,
                          {{"⚠️", "CNPJ", "pendente", "Receita Federal não consultada: x"}}});
    r.assinaturas.push_back({true, "Ana", std::string(""), {}});
    r.tokens = "1,234";
    r.custo = "0.0100";
    r.tempo = "1.5";
    std::vector<std::string> lines = report_lines(r);
    std::string text;
    for (const std::string& l : lines) text += l + "\n";
    EXPECT_NE(text.find("⚠️⚠️⚠️ RESULTADO FINAL: PENDENTE ⚠️⚠️⚠️\n"), std::string::npos);
    EXPECT_NE(text.find("\n   ⚠️ X\n      CNPJ: N/A (encontrado por busca)\n"), std::string::npos);  // not consulted
    EXPECT_NE(text.find("\n   ✅ Ana\n"), std::string::npos);
    EXPECT_EQ(text.find("Cargo"), std::string::npos);  // an empty post is not shown
    EXPECT_EQ(text.find("REPROVADOS:"), std::string::npos);
    EXPECT_NE(text.find("   Custo: $0.0100\n   Tempo: 1.5s\n"), std::string::npos);
}

TEST(SignaturePower, ASignatoryNamedNothingOrNAIsUnidentified) {
    EXPECT_TRUE(identified_signatory(std::string("Maria Silva")));
    EXPECT_TRUE(identified_signatory(std::string("n/a")));
    EXPECT_FALSE(identified_signatory(std::nullopt));
    EXPECT_FALSE(identified_signatory(std::string()));
    EXPECT_FALSE(identified_signatory(std::string("N/A")));
}

TEST(Progress, OpeningAndExtractionLines) {
    const auto opening = opening_lines("contrato.pdf");
    ASSERT_EQ(opening.size(), 4u);
    EXPECT_EQ(opening[0].text, "\n" + std::string(60, '='));
    EXPECT_STREQ(opening[0].emoji, "");
    EXPECT_EQ(opening[1].text, "VERIFICAÇÃO DE LEGITIMIDADE DE CONTRATO");
    EXPECT_STREQ(opening[1].emoji, "🔍");
    EXPECT_EQ(opening[2].text, "Arquivo: contrato.pdf");
    EXPECT_STREQ(opening[2].emoji, "📄");
    EXPECT_EQ(opening[3].text, std::string(60, '='));

    const auto extraction = extraction_lines(2, 0);
    ASSERT_EQ(extraction.size(), 3u);
    EXPECT_EQ(extraction[0].text, "Empresas extraídas: 2");
    EXPECT_STREQ(extraction[0].emoji, "🏢");
    EXPECT_EQ(extraction[1].text, "Assinaturas extraídas: 0");
    EXPECT_STREQ(extraction[1].emoji, "✍️");
    EXPECT_EQ(extraction[2].text, "\n🔍 Validando empresas na Receita Federal...");
    EXPECT_STREQ(extraction[2].emoji, "");
}

TEST(Progress, CompanyHeadingFallsBackToEmpresa) {
    EXPECT_EQ(company_heading(std::string("ACME LTDA")), "\n--- Verificando: ACME LTDA ---");
    EXPECT_EQ(company_heading(std::nullopt), "\n--- Verificando: Empresa ---");
}

TEST(Verdict, TotalsInTheRecordsKeyOrder) {
    Verdict v;
    v.aprovados = {"a", "b"};
    v.pendentes = {"c"};
    const auto totals = v.totals();
    ASSERT_EQ(totals.size(), 4u);
    const std::pair<std::string, std::size_t> expected[] = {
        {"total_campos", 3}, {"total_aprovados", 2}, {"total_reprovados", 0}, {"total_pendentes", 1}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(totals[i].first, expected[i].first);
        EXPECT_EQ(totals[i].second, expected[i].second);
    }
}
