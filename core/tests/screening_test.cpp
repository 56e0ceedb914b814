#include "quillon/screening.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using quillon::screening::default_tables;
using quillon::screening::Reason;
using quillon::screening::Screener;
using quillon::screening::Verdict;

namespace {

Verdict screen(std::vector<std::u32string> pages) {
    static const Screener screener(default_tables());
    std::vector<std::u32string_view> views(pages.begin(), pages.end());
    return screener.screen(views);
}

const std::u32string kBody =
    U"CLÁUSULA PRIMEIRA – DO OBJETO\nO presente contrato tem por objeto ...\n"
    U"O pagamento será feito mediante nota fiscal.\nFica eleito o foro da Comarca de São Paulo.";

}  // namespace

TEST(Screening, EmptyDocumentIsNotAContract) {
    Verdict v = screen({});
    EXPECT_FALSE(v.contract);
    EXPECT_EQ(v.reason, Reason::kEmpty);
    EXPECT_EQ(screen({U"  \n\t", U""}).reason, Reason::kEmpty);
}

TEST(Screening, ExclusionTermsBeyondTheHeadingDoNotCount) {
    Verdict v = screen({U"Partes e qualificação\nCONTRATANTE: ACME LTDA", kBody});
    EXPECT_TRUE(v.contract);
    EXPECT_EQ(v.reason, Reason::kTerms);
    EXPECT_EQ(v.exclusion, Verdict::npos);
}

TEST(Screening, ExclusionTermInTheHeadingRejects) {
    Verdict v = screen({U"NOTA FISCAL DE SERVIÇOS ELETRÔNICA\nValor do contrato, cláusula, foro"});
    EXPECT_FALSE(v.contract);
    EXPECT_EQ(v.reason, Reason::kExcluded);
    EXPECT_EQ(default_tables().exclusion_terms[v.exclusion], U"nota fiscal");
}

TEST(Screening, ContractTitleOverridesTheHeadingExclusion) {
    Verdict v = screen({U"PREFEITURA DE BASTOS\nPREGÃO ELETRÔNICO Nº 044/2025\n» CONTRATO Nº 077/2025\n" + kBody});
    EXPECT_TRUE(v.contract);
    EXPECT_EQ(v.reason, Reason::kTitle);
    EXPECT_EQ(v.title, U"» CONTRATO Nº 077/2025");
}

TEST(Screening, ProseLineStartingWithContratoIsNoTitle) {
    Verdict v = screen({U"EDITAL DE LICITAÇÃO\ncontrato a ser firmado entre a administração e o licitante vencedor "
                        U"conforme as condições deste edital e seus anexos, cláusula, foro"});
    EXPECT_FALSE(v.contract);
    EXPECT_EQ(v.reason, Reason::kExcluded);
    EXPECT_TRUE(v.title.empty());
}

TEST(Screening, TitleNeedsAWordBoundaryAndEnoughVocabulary) {
    EXPECT_TRUE(screen({U"CONTRATOS E CONVÊNIOS\nBOLETO"}).title.empty());
    Verdict few = screen({U"CONTRATO\nnada mais"});
    EXPECT_FALSE(few.contract);
    EXPECT_EQ(few.reason, Reason::kTooFewTerms);
}

TEST(Screening, VocabularyIsCountedOncePerEntryOverAllPages) {
    Verdict v = screen({U"contrato contrato", U"Cláusula", U"foro"});
    std::vector<std::u32string> found;
    for (auto i : v.terms_found) found.push_back(default_tables().contract_terms[i]);
    EXPECT_EQ(found, (std::vector<std::u32string>{U"contrato", U"cláusula", U"clausula", U"foro"}));
    EXPECT_TRUE(v.contract);
}

TEST(Screening, HeadingIsTheFirstPageWithText) {
    // The blank first page is skipped: the receipt heading of the second decides.
    Verdict v = screen({U"   ", U"RECIBO\nreferente ao contrato, cláusula terceira, foro central"});
    EXPECT_EQ(v.reason, Reason::kExcluded);
}
