#include "quillon/signatory.hpp"

#include <gtest/gtest.h>

using namespace quillon;
using names::MatchKind;
using signatory::Evidence;

TEST(SignatoryEvidence, CpfDecidesAnyNameMatch) {
    for (MatchKind name : {MatchKind::Fragment, MatchKind::Full}) {
        EXPECT_EQ(signatory::weigh(name, cpf::Evidence::Disagrees), Evidence::CpfRefutes);
        EXPECT_EQ(signatory::weigh(name, cpf::Evidence::Agrees), Evidence::CpfConfirms);
    }
}

TEST(SignatoryEvidence, WithoutCpfOnlyTheWholeNameApproves) {
    EXPECT_EQ(signatory::weigh(MatchKind::Full, cpf::Evidence::Unknown), Evidence::FullName);
    EXPECT_EQ(signatory::weigh(MatchKind::Fragment, cpf::Evidence::Unknown), Evidence::NameFragment);
    EXPECT_TRUE(signatory::approves(Evidence::FullName));
    EXPECT_TRUE(signatory::approves(Evidence::CpfConfirms));
    EXPECT_FALSE(signatory::approves(Evidence::NameFragment));
    EXPECT_FALSE(signatory::approves(Evidence::CpfRefutes));
}

TEST(SignatoryEvidence, ACpfAloneMatchesNobody) {
    for (cpf::Evidence c : {cpf::Evidence::Agrees, cpf::Evidence::Disagrees, cpf::Evidence::Unknown})
        EXPECT_EQ(signatory::weigh(MatchKind::None, c), Evidence::None);
}

TEST(SignatoryEvidence, StrongerEvidenceOrdersAfter) {
    EXPECT_LT(Evidence::None, Evidence::CpfRefutes);
    EXPECT_LT(Evidence::CpfRefutes, Evidence::NameFragment);
    EXPECT_LT(Evidence::NameFragment, Evidence::FullName);
    EXPECT_LT(Evidence::FullName, Evidence::CpfConfirms);
}
