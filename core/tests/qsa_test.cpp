#include "quillon/qsa.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace quillon;

namespace {

names::Prepared name(const std::u32string& s) { return names::Prepared::from(s.data(), s.size()); }

}  // namespace

TEST(PartnerList, FirstPartnerByNameOrRepresentative) {
    qsa::PartnerList list;
    list.add(name(U"HOLDING ALFA PARTICIPACOES"), name(U"José da Conceição"));
    list.add(name(U"MARIA DA SILVA SANTOS"));
    list.add(name(U"Maria Santos"));

    auto hit = list.find(name(U"maria silva santos"));
    ASSERT_TRUE(hit);
    EXPECT_EQ(hit->partner, 1u);
    EXPECT_FALSE(hit->representative);

    hit = list.find(name(U"JOSE DA CONCEICAO"));
    ASSERT_TRUE(hit);
    EXPECT_EQ(hit->partner, 0u);
    EXPECT_TRUE(hit->representative);

    EXPECT_FALSE(list.find(name(U"Pedro Alves")));
    EXPECT_FALSE(list.find(name(U"   ")));  // an empty name matches nobody
    EXPECT_FALSE(qsa::PartnerList().find(name(U"Ana")));
}

TEST(PartnerList, AgreesWithTheNameRuleForEveryPartner) {
    const std::u32string partners[] = {U"Ana", U"ANABELA COSTA", U"", U"Costa Lima Ana", U"Σίσυφος Σ"};
    const std::u32string signatories[] = {U"ana", U"costa lima", U"bela", U"σίσυφοσ σ", U"x"};
    for (const auto& s : signatories) {
        qsa::PartnerList list;
        std::size_t expected = sizeof partners / sizeof partners[0];
        for (std::size_t i = 0; i < sizeof partners / sizeof partners[0]; ++i) {
            list.add(name(partners[i]));
            if (expected == sizeof partners / sizeof partners[0] && names::match(s, partners[i])) expected = i;
        }
        auto hit = list.find(name(s));
        EXPECT_EQ(hit ? hit->partner : sizeof partners / sizeof partners[0], expected);
    }
}
