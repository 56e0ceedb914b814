#include "quillon/screening.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using quillon::screening::default_tables;
using quillon::screening::Reason;
using quillon::screening::DocumentScreen;
using quillon::screening::DocumentVerdict;
using quillon::screening::split_pages;

namespace {

DocumentVerdict screen(std::vector<std::u32string> pages) {
    static const DocumentScreen screener(default_tables());
    std::vector<std::u32string_view> views(pages.begin(), pages.end());
    return screener.screen(views);
}

const std::u32string kBody =
    U"CLÁUSULA PRIMEIRA – DO OBJETO\nO presente contrato tem por objeto ...\n"
    U"O pagamento será feito mediante nota fiscal.\nFica eleito o foro da Comarca de São Paulo.";

// Clauses with no document-kind term in them, for a first page.
const std::u32string kClauses =
    U"CLÁUSULA PRIMEIRA – DO OBJETO\nO presente contrato tem por objeto ...\n"
    U"CLÁUSULA SEGUNDA – DO VALOR E DO PAGAMENTO\nFica eleito o foro da Comarca de São Paulo.";

// A preamble as contracts open: both parties named, one qualified.
const std::u32string kPreamble =
    U"O MUNICÍPIO DE BASTOS, inscrito no CNPJ sob nº 45.547.403/0001-93, neste ato\n"
    U"representado por seu Prefeito, doravante denominado CONTRATANTE, e a empresa ACME LTDA,\n"
    U"doravante denominada CONTRATADA, resolvem celebrar o presente contrato.\n";

}  // namespace

TEST(Screening, EmptyDocumentIsNotAContract) {
    DocumentVerdict v = screen({});
    EXPECT_FALSE(v.contract);
    EXPECT_EQ(v.reason, Reason::kEmpty);
    EXPECT_EQ(screen({U"  \n\t", U""}).reason, Reason::kEmpty);
}

TEST(Screening, ExclusionTermsBeyondTheHeadingDoNotCount) {
    DocumentVerdict v = screen({U"Partes e qualificação\n" + kPreamble, kBody});
    EXPECT_TRUE(v.contract);
    EXPECT_EQ(v.reason, Reason::kTerms);
    EXPECT_EQ(v.exclusion, DocumentVerdict::npos);
}

TEST(Screening, ExclusionTermInTheHeadingRejects) {
    DocumentVerdict v = screen({U"NOTA FISCAL DE SERVIÇOS ELETRÔNICA\nValor do contrato, cláusula, foro"});
    EXPECT_FALSE(v.contract);
    EXPECT_EQ(v.reason, Reason::kExcluded);
    EXPECT_EQ(default_tables().exclusion_terms[v.exclusion], U"nota fiscal");
}

TEST(Screening, ContractTitleOverridesTheHeadingExclusion) {
    DocumentVerdict v = screen({U"PREFEITURA DE BASTOS\nPREGÃO ELETRÔNICO Nº 044/2025\n» CONTRATO Nº 077/2025\n" + kBody});
    EXPECT_TRUE(v.contract);
    EXPECT_EQ(v.reason, Reason::kTitle);
    EXPECT_EQ(v.title, U"» CONTRATO Nº 077/2025");
}

TEST(Screening, ProseLineStartingWithContratoIsNoTitle) {
    DocumentVerdict v = screen({U"EDITAL DE LICITAÇÃO\ncontrato a ser firmado entre a administração e o licitante vencedor "
                        U"conforme as condições deste edital e seus anexos, cláusula, foro"});
    EXPECT_FALSE(v.contract);
    EXPECT_EQ(v.reason, Reason::kExcluded);
    EXPECT_EQ(v.title, U"EDITAL DE LICITAÇÃO");  // the notice's own title decided
}

TEST(Screening, TitleNeedsAWordBoundaryAndEnoughVocabulary) {
    DocumentVerdict boleto = screen({U"CONTRATOS E CONVÊNIOS\nBOLETO"});
    EXPECT_EQ(boleto.title, U"BOLETO");
    EXPECT_NE(boleto.other_title, DocumentVerdict::npos);
    DocumentVerdict few = screen({U"CONTRATO\nnada mais"});
    EXPECT_FALSE(few.contract);
    EXPECT_EQ(few.reason, Reason::kTooFewTerms);
}

TEST(Screening, VocabularyIsCountedOncePerEntryOverAllPages) {
    DocumentVerdict v = screen({U"contrato contrato", U"Cláusula", U"foro"});
    std::vector<std::u32string> found;
    for (auto i : v.terms_found) found.push_back(default_tables().contract_terms[i]);
    EXPECT_EQ(found, (std::vector<std::u32string>{U"contrato", U"cláusula", U"clausula", U"foro"}));
    EXPECT_TRUE(v.contract);
}

TEST(Screening, HeadingIsTheFirstPageWithText) {
    // The blank first page is skipped: the receipt heading of the second decides.
    DocumentVerdict v = screen({U"   ", U"RECIBO\nreferente ao contrato, cláusula terceira, foro central"});
    EXPECT_EQ(v.reason, Reason::kExcluded);
}

TEST(Screening, AnotherDocumentsTitleDecidesAgainstContractVocabulary) {
    // Terms of reference, studies and opinions speak of CONTRATANTE, CONTRATADA,
    // clauses and values too; their title says what they are.
    for (const char32_t* title : {U"TERMO DE REFERÊNCIA", U"Estudo Técnico Preliminar 67/2025", U"PARECER JURÍDICO",
                                  U"Ata de Realização da Compra Direta Eletrônica", U"PROPOSTA COMERCIAL",
                                  U"DOCUMENTO DE FORMALIZAÇÃO DE DEMANDA", U"AVISO DE DISPENSA ELETRÔNICA"}) {
        DocumentVerdict v = screen({std::u32string(U"PREFEITURA MUNICIPAL\n") + title + U"\n" + kPreamble, kBody});
        EXPECT_FALSE(v.contract) << std::string(title, title + 5);
        EXPECT_EQ(v.reason, Reason::kExcluded);
        EXPECT_EQ(v.title, title);
        ASSERT_NE(v.other_title, DocumentVerdict::npos);
    }
}

TEST(Screening, TheFirstDeclaredKindDecides) {
    EXPECT_TRUE(screen({U"CONTRATO Nº 12/2025\nTERMO DE REFERÊNCIA\n" + kPreamble + kBody}).contract);
    DocumentVerdict v = screen({U"TERMO DE REFERÊNCIA\nCONTRATO Nº 12/2025\n" + kPreamble + kBody});
    EXPECT_FALSE(v.contract);
    EXPECT_EQ(default_tables().other_titles[v.other_title], U"termo de referência");
}

TEST(Screening, AProcedureNamedBeforeTheTitleDoesNotDecide) {
    // Price-registration minutes and contracts name the tender they came from first.
    DocumentVerdict v = screen({U"PREGÃO ELETRÔNICO Nº 12/2025\nPROCESSO Nº 19/2025\nATA DE REGISTRO DE PREÇOS Nº 5/2025\n" +
                        kPreamble + kBody});
    EXPECT_TRUE(v.contract);
    EXPECT_EQ(v.reason, Reason::kTitle);
    EXPECT_EQ(v.title, U"ATA DE REGISTRO DE PREÇOS Nº 5/2025");
    // Without a title the procedure term in the heading still rejects.
    EXPECT_EQ(screen({U"PREGÃO ELETRÔNICO Nº 12/2025\n" + kPreamble + kBody}).reason, Reason::kExcluded);
}

TEST(Screening, SeiPrintHeaderNamesTheKindInItsLastPart) {
    DocumentVerdict tr = screen({U"22/12/2021 09:25\nSEI/EMBRAPA - 6339390 - Termo de Referência\n" + kPreamble + kBody});
    EXPECT_EQ(tr.reason, Reason::kExcluded);
    DocumentVerdict contract = screen({U"SEI/GESP - 0042 - Contrato\n" + kPreamble + kBody});
    EXPECT_EQ(contract.reason, Reason::kTitle);
}

TEST(Screening, UntitledDocumentsMustNameAndQualifyTheParties) {
    DocumentVerdict no_parties = screen({U"Secretaria de Administração\n" + kClauses + U"\nvigência, valor, rescisão"});
    EXPECT_FALSE(no_parties.contract);
    EXPECT_EQ(no_parties.reason, Reason::kNoParties);
    DocumentVerdict built = screen({U"Secretaria de Administração\n" + kPreamble, kBody});
    EXPECT_TRUE(built.contract);
    EXPECT_EQ(built.reason, Reason::kTerms);
    // Roles named without a party qualified as a preamble does: a notice or a study.
    DocumentVerdict unqualified = screen({U"Secretaria\nA CONTRATANTE pagará à CONTRATADA o valor do contrato\n" + kClauses});
    EXPECT_EQ(unqualified.reason, Reason::kNoParties);
    // The parties are named at the opening, not in an annex twenty pages on.
    std::vector<std::u32string> pages{U"Secretaria\n" + kClauses, U"cláusula", U"foro"};
    pages.push_back(kPreamble);
    EXPECT_EQ(screen(pages).reason, Reason::kNoParties);
}

TEST(Screening, TitlesAreLookedForBeforeTheRunningText) {
    // A list item of the body naming another document is no title.
    DocumentVerdict v = screen({U"Secretaria de Administração\n" + kPreamble +
                        U"1.2. Vinculam esta contratação, independentemente de transcrição, os documentos:\n"
                        U"1.2.1. Termo de Referência\n" + kClauses});
    EXPECT_TRUE(v.contract);
    EXPECT_EQ(v.reason, Reason::kTerms);
}

TEST(Screening, PhrasesMatchAcrossLinesAndInvisibleCharacters) {
    // PDF text breaks phrases across lines and puts zero-width spaces between words.
    DocumentVerdict v = screen({U"\u200bMINUTA\u200b \u200bDO\u200b \u200bCONTRATO\u200b\n" + kPreamble + kBody});
    EXPECT_EQ(v.reason, Reason::kTitle);
    DocumentVerdict qualified = screen({U"Secretaria\nCONTRATANTE e CONTRATADA, esta neste\n  ato\nrepresentada por seu sócio\n" +
                                kClauses});
    EXPECT_EQ(qualified.reason, Reason::kTerms);
}

// A reader that stops at the first settled prefix must reach the verdict of
// the whole document: checked on every prefix of documents of each kind.
TEST(Screening, SettledVerdictsDoNotChangeWithLaterPages) {
    const std::u32string title = U"CONTRATO Nº 077/2025\n";
    const std::vector<std::vector<std::u32string>> documents{
        {title + kBody, U"cláusula", U"foro"},                        // settled on its first page
        {U"", title + U"Objeto", U"cláusula", kBody},                  // a title, vocabulary later on
        {U"TERMO DE REFERÊNCIA\n" + kBody, kPreamble},                 // another document's title
        {U"Secretaria\n" + kClauses, U"vigência", kPreamble, kBody},   // parties only past the opening
        {U"Secretaria\nCONTRATANTE e CONTRATADA\n", U"valor", kPreamble, kBody},  // qualified later
        {U"  ", U"Secretaria\n" + kClauses},
    };
    for (const auto& pages : documents) {
        const bool whole = screen(pages).contract;
        for (std::size_t n = 0; n <= pages.size(); ++n) {
            DocumentVerdict v = screen({pages.begin(), pages.begin() + static_cast<std::ptrdiff_t>(n)});
            if (v.settled) EXPECT_EQ(v.contract, whole) << "after " << n << " pages";
        }
    }
    EXPECT_TRUE(screen({title + kBody}).settled);
    EXPECT_FALSE(screen({title + U"Objeto"}).settled);  // vocabulary may still come
    EXPECT_TRUE(screen({U"TERMO DE REFERÊNCIA\n" + kBody}).settled);
    EXPECT_FALSE(screen({U"Secretaria\n" + kClauses}).settled);  // the second page may name the parties
    EXPECT_TRUE(screen({U"Secretaria\n" + kClauses, U"vigência"}).settled);
    EXPECT_FALSE(screen({U"Secretaria\nCONTRATANTE e CONTRATADA\n", U"valor"}).settled);
    EXPECT_FALSE(screen({U"", U" "}).settled);
}

TEST(Screening, TheExcludingEntryIsTheDecidingTitleElseTheHeadingsExclusionTerm) {
    static const DocumentScreen screener(default_tables());
    auto excluding = [](std::vector<std::u32string> pages) -> std::u32string {
        std::vector<std::u32string_view> views(pages.begin(), pages.end());
        const std::u32string* entry = screener.excluding_entry(screener.screen(views));
        return entry ? *entry : U"(none)";
    };
    EXPECT_EQ(excluding({U"TERMO DE REFERÊNCIA\nnota fiscal\n" + kBody}), U"termo de referência");
    EXPECT_EQ(excluding({U"Secretaria\nnota fiscal de serviços\n" + kBody}), U"nota fiscal");
    // A contract title outweighs the exclusion term, which is still reported.
    DocumentVerdict v = screen({U"PREGÃO ELETRÔNICO Nº 044/2025\nCONTRATO Nº 077/2025\n" + kBody});
    EXPECT_TRUE(v.contract);
    EXPECT_EQ(excluding({U"PREGÃO ELETRÔNICO Nº 044/2025\nCONTRATO Nº 077/2025\n" + kBody}), U"pregão eletrônico");
    EXPECT_EQ(excluding({U"Secretaria\n" + kPreamble, kBody}), U"(none)");
    EXPECT_EQ(excluding({}), U"(none)");
}

TEST(Screening, OneTextIsSplitIntoPagesAtFormFeeds) {
    using Pages = std::vector<std::u32string_view>;
    EXPECT_EQ(split_pages(U""), Pages{U""});
    EXPECT_EQ(split_pages(U"uma página"), Pages{U"uma página"});
    EXPECT_EQ(split_pages(U"a\fb\n\fc"), (Pages{U"a", U"b\n", U"c"}));
    EXPECT_EQ(split_pages(U"\f\f"), (Pages{U"", U"", U""}));
}
