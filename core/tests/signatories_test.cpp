#include "quillon/signatories.hpp"

#include <gtest/gtest.h>

using namespace quillon;
using signatories::PreparedName;

namespace {

PreparedName prep(std::string_view utf8) {
    std::u32string s = text::from_utf8(utf8);
    return PreparedName::from(s.data(), s.size());
}

bool match(std::string_view a, std::string_view b) { return names_match(prep(a), prep(b)); }

}  // namespace

TEST(PreparedName, NormalisesAndTrims) {
    EXPECT_EQ(text::to_utf8(prep("  JOSÉ da Conceição  ").text()), "jose da conceicao");
    EXPECT_EQ(prep("Maria Maria Silva").word_count(), 2u);  // duplicates collapse
    EXPECT_EQ(prep("Jo da Sa").word_count(), 0u);
    EXPECT_TRUE(prep(" \u2003\t").empty());
}

struct Case {
    const char* a;
    const char* b;
    bool expected;
};

class NamesMatch : public ::testing::TestWithParam<Case> {};

TEST_P(NamesMatch, Symmetric) {
    const Case& c = GetParam();
    EXPECT_EQ(match(c.a, c.b), c.expected) << c.a << " / " << c.b;
    EXPECT_EQ(match(c.b, c.a), c.expected) << c.b << " / " << c.a;
}

INSTANTIATE_TEST_SUITE_P(
    Examples, NamesMatch,
    ::testing::Values(Case{"Maria Silva", "MARIA DA SILVA SANTOS", true},    // two shared words
                      Case{"ACME", "Acme Comércio Ltda", true},              // containment
                      Case{"João Souza", "João Pereira", false},             // one word is not enough
                      Case{"Ana", "Anabela Costa", true},                    // characters, not words
                      Case{"Jo da Sa", "Sa da Jo", false},                   // short words never count
                      Case{"", "Maria", false}, Case{"", "", false},         // empty matches nothing
                      Case{"José Conceição", "JOSE CONCEICAO", true},        // accents and case
                      Case{"Pedro  Álvares Cabral", "Cabral, Pedro Alvares", true},
                      Case{"Carlos Eduardo", "Eduardo Carlos", true},        // word order is free
                      Case{"Ana Paula", "Paula Ana", true}));

TEST(NamesMatch, LengthIsCountedInCodePointsAfterNormalisation) {
    // "Zé" folds to "ze": two letters, never a word; "Zoë" folds to "zoe".
    EXPECT_FALSE(match("Zé Ana Lu", "Lu Ana Zé"));
    EXPECT_TRUE(match("Zoë Ana", "Ana Zoe"));
}
