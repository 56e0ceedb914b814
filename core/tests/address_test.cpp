#include "quillon/address.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace quillon;

namespace {

std::string norm(std::string_view utf8) { return text::to_utf8(address::normalize(text::from_utf8(utf8))); }

address::Comparison cmp(std::string_view a, std::string_view b, double threshold = address::kDefaultThreshold) {
    return address::compare(text::from_utf8(a), text::from_utf8(b), threshold);
}

struct Case {
    const char* in;
    const char* out;
};

class Normalize : public ::testing::TestWithParam<Case> {};

TEST_P(Normalize, MatchesTheRegexRules) { EXPECT_EQ(norm(GetParam().in), GetParam().out); }

INSTANTIATE_TEST_SUITE_P(
    Rules, Normalize,
    ::testing::Values(
        Case{"", ""}, Case{"-", ""}, Case{"  \t ", ""},
        Case{"Av Paulista 1000", "av paulista 1000"},
        Case{"AVENIDA PAULISTA 1000", "av paulista 1000"},
        Case{"Rua das Flores, 100", "r das flores  100"},
        Case{"R DAS FLORES 100", "r das flores 100"},
        Case{"Nova Esperança", "va esperanca"},
        Case{"Rua X, nº 12", "r x  12"},
        Case{"Rua X, n° 12", "r x  ° 12"},           // the degree sign is not the ordinal
        Case{"Rua X, No. 12", "r x  12"},
        Case{"numero 5", "umero 5"},
        Case{"n n 5", "5"},                          // each word start is judged on the original
        Case{"nno", "no"},
        Case{"anno", "anno"},
        Case{"n\t\u00A0\u2028x", "x"},               // all white space, collapsed then eaten
        Case{"Rua\tdas\u00A0Flores\u2028100", "r das flores 100"},
        Case{"avd avda avdas av avenida", "av av avdas av av"},
        Case{"praca pracas pracass", "pc pc pracass"},
        Case{"Praça da Sé", "pc da se"},
        Case{"Edifício Prédio Conjunto Conj Sala Andar", "ed ed cj cj sl and"},
        Case{"Bairro Centro CEP 01310-100", "centro  01310 100"},
        Case{"ruas rua_ _rua rua1 1rua", "ruas rua_ _rua rua1 1rua"},
        Case{"жrua рua rua", "жrua рua r"},          // Cyrillic letters are word characters
        Case{"ж rua", "ж r"},
        Case{"ruaº", "ruaº"},                        // º is a letter: no boundary
        Case{"nºrua", "r"},                           // rule 3 runs before rule 4, so the
        Case{"nº rua", "r"},                          // word it exposes is replaced
        Case{"a.b,c;d:e-f/g\\h", "a b c d e f g h"},
        Case{"CONJ. 5, SALA 3", "cj  5  sl 3"},
        Case{"ΟΔΟΣ ΑΘΗΝΑΣ", "οδος αθηνας"},
        Case{"İstanbul Straße ẞ", "istanbul straße ß"},
        Case{"Ru\xCC\x81""a", "r"},                  // decomposed accent dropped, then a word
        Case{"R. Ba\xCC\x81rbara", "r  barbara"}));

TEST(Compare, EmptyNormalFormsAndWordSets) {
    EXPECT_EQ(cmp("-", "Rua A").similaridade, 0.0);
    EXPECT_FALSE(cmp("-", "Rua A").confere);
    // Only short words on one side, neither text containing the other.
    auto r = cmp("R 12", "Avenida Brasil");
    EXPECT_FALSE(r.confere);
    EXPECT_EQ(r.similaridade, 0.0);
}

TEST(Compare, EqualContainedAndJaccard) {
    auto r = cmp("Av Paulista 1000", "AVENIDA PAULISTA 1000");
    EXPECT_TRUE(r.confere);
    EXPECT_EQ(r.similaridade, 1.0);

    r = cmp("Rua das Flores, 100", "R DAS FLORES 100");
    EXPECT_TRUE(r.confere);
    EXPECT_EQ(r.similaridade, 1.0);  // by word sets, not by equality

    r = cmp("Paulista 1000 SP", "PAULISTA 1000 RJ");
    EXPECT_TRUE(r.confere);
    EXPECT_EQ(r.similaridade, 1.0);

    r = cmp("Avenida Paulista 1000", "AVENIDA PAULISTA 1000 APTO 5 BELA VISTA SAO PAULO SP 01310100", 0.95);
    EXPECT_TRUE(r.confere);
    EXPECT_EQ(r.similaridade, 0.9);

    r = cmp("Nova Esperança", "ESPERANCA NOVA");
    EXPECT_TRUE(r.confere);
    EXPECT_EQ(r.similaridade, 1.0);
}

TEST(Compare, ThresholdIsInclusive) {
    // 17 common words out of 20 in the union: 0.85.
    std::string common, a, b;
    for (int i = 0; i < 17; ++i) common += "palavra" + std::string(1, static_cast<char>('a' + i)) + " ";
    a = common + "extraum extradois";
    b = common + "outraum";
    auto r = cmp(a, b);
    EXPECT_EQ(r.similaridade, 17.0 / 20.0);
    EXPECT_TRUE(r.confere);
    EXPECT_FALSE(cmp(a, b, 0.8500001).confere);
}

TEST(Compare, PostalCodeDigitsAreOrdinaryWords) {
    auto r = cmp("Rua Augusta 500 CEP 01305-000", "RUA AUGUSTA 500 01305000");
    // {augusta, 500, 01305, 000} against {augusta, 500, 01305000}
    EXPECT_EQ(r.similaridade, 2.0 / 5.0);
    EXPECT_FALSE(r.confere);
}

}  // namespace
