#include "quillon/address.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>

using namespace quillon;

namespace {

std::string norm(std::string_view utf8) { return text::to_utf8(address::normalize(text::from_utf8(utf8))); }

address::Comparison cmp(std::string_view a, std::string_view b, double threshold = address::kDefaultThreshold) {
    return address::compare(text::from_utf8(a), text::from_utf8(b), threshold);
}

using Case = std::pair<std::string, std::string>;

class Normalize : public ::testing::TestWithParam<Case> {};

TEST_P(Normalize, GivesWhatTheRegexRulesGive) { EXPECT_EQ(norm(GetParam().first), GetParam().second); }

// The full table of cases, checked against Python's re as well, is in the
// Python tests; these are the ones each step of the rewrite depends on.
INSTANTIATE_TEST_SUITE_P(
    Rules, Normalize,
    ::testing::Values(Case{"", ""}, Case{" - ", ""},
                      Case{"Rua das Flores, 100", "r das flores  100"},    // rules 1, 2 and 4
                      Case{"Nova Esperança", "va esperanca"},               // rule 3 at any word start
                      Case{"n n 5", "5"},                                   // judged on the text before it
                      Case{"nºrua Nº  12", "r 12"},                         // rule 3 exposes a word for rule 4
                      Case{"avd avda avdas praca pracas", "av av avdas pc pc"},
                      Case{"Edifício Conj. Sala Andar Bairro CEP", "ed cj  sl and"},
                      Case{"жrua ж rua rua_ 1rua ruaº", "жrua ж r rua_ 1rua ruaº"},  // \w of any script
                      Case{"Rua\tdas\u00A0Flores\u2028100", "r das flores 100"},
                      Case{"ΟΔΟΣ İstanbul ẞ", "οδος istanbul ß"}));

TEST(Compare, TheStepsInOrder) {
    EXPECT_EQ(cmp("-", "Rua A").similaridade, 0.0);              // empty normal form
    EXPECT_FALSE(cmp("R 12", "Avenida Brasil").confere);         // no word of three letters
    auto same = cmp("Av Paulista 1000", "AVENIDA PAULISTA 1000");  // equal normal forms
    EXPECT_TRUE(same.confere);
    EXPECT_EQ(same.similaridade, 1.0);
    auto words = cmp("Rua das Flores, 100", "R DAS FLORES 100");  // equal word sets
    EXPECT_EQ(words.similaridade, 1.0);
    auto part = cmp("Avenida Paulista 1000", "AVENIDA PAULISTA 1000 BELA VISTA", 0.95);
    EXPECT_TRUE(part.confere);
    EXPECT_EQ(part.similaridade, 0.9);
    auto cep = cmp("Rua Augusta 500 CEP 01305-000", "RUA AUGUSTA 500 01305000");
    EXPECT_EQ(cep.similaridade, 2.0 / 5.0);  // {augusta, 500, 01305, 000} and {augusta, 500, 01305000}
    EXPECT_FALSE(cep.confere);
}

TEST(Compare, ThresholdIsInclusive) {
    std::string common;
    for (char c = 'a'; c < 'a' + 17; ++c) common += std::string("palavra") + c + " ";
    auto r = cmp(common + "extraum extradois", common + "outraum");  // 17 of 20
    EXPECT_EQ(r.similaridade, 0.85);
    EXPECT_TRUE(r.confere);
    EXPECT_FALSE(cmp(common + "extraum extradois", common + "outraum", 0.8500001).confere);
}

}  // namespace
