#include "quillon/names.hpp"
#include "quillon/words.hpp"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

using namespace quillon;

namespace {

std::string norm(std::string_view utf8) { return text::to_utf8(names::normalize(text::from_utf8(utf8))); }

bool match(std::string_view a, std::string_view b) {
    return names::match(text::from_utf8(a), text::from_utf8(b));
}

}  // namespace

TEST(NameNormalize, FoldAndStrip) {
    EXPECT_EQ(norm("  JOSÉ da Conceição "), "jose da conceicao");
    EXPECT_EQ(norm("JOSE\xCC\x81 DA CONCEIC\xCC\xA7\xC3\x83O"), "jose da conceicao");
    EXPECT_EQ(norm(""), "");
    EXPECT_EQ(norm("\t\u00A0\u2028"), "");
    EXPECT_EQ(norm("\u2028Ana  Maria\t"), "ana  maria");   // inner white space stays
    EXPECT_EQ(norm("ACME Ltda."), "acme ltda.");            // punctuation stays
    EXPECT_EQ(norm("İLKER ŞAHİN"), "ilker sahin");
    EXPECT_EQ(norm("ẞ"), "ß");
    EXPECT_EQ(norm("ΟΔΥΣΣΕΑΣ"), "οδυσσεας");
}

using NamePair = std::tuple<std::string, std::string, bool>;

class NameMatch : public ::testing::TestWithParam<NamePair> {};

TEST_P(NameMatch, IsSymmetric) {
    auto [a, b, expected] = GetParam();
    EXPECT_EQ(match(a, b), expected) << a << " / " << b;
    EXPECT_EQ(match(b, a), expected) << b << " / " << a;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, NameMatch,
    ::testing::Values(
        NamePair{"Maria Silva", "MARIA DA SILVA SANTOS", true},  // two words in common
        NamePair{"ACME", "Acme Comércio Ltda", true},  // containment
        NamePair{"João Souza", "João Pereira", false},  // one word is not enough
        NamePair{"Ana", "Anabela Costa", true},  // characters, not words
        NamePair{"", "Maria", false},
        NamePair{"", "", false},
        NamePair{"   ", "Maria", false},
        NamePair{"Maria", "MARIA", true},
        NamePair{"Jo da Sa", "Sa da Jo", false},  // short words never count
        NamePair{"José Carlos Pereira", "PEREIRA, JOSE CARLOS", true},
        NamePair{"Jose Carlos", "Carlos Jose", true},
        NamePair{"Jose Jose", "Jose Pedro", false},  // one distinct word in common
        NamePair{"Pedro Pedro Alves", "Pedro Souza", false},  // duplicates collapse
        NamePair{"Ana\u00A0Maria\tCosta", "costa ana maria", true},
        NamePair{"ΟΔΥΣΣΕΑΣ ΠΑΠΑΣ", "παπας οδυσσεας", true}));

TEST(NamePrepared, OneToManyAgreesWithTheOneOffComparison) {
    const char* names[] = {"Maria Silva", "MARIA DA SILVA SANTOS", "ACME", "Acme Comércio Ltda", "Ana",
                           "Anabela Costa", "Jo da Sa", "Sa da Jo", "Zé Ana Lu", "Lu Ana Zé", "", "   ",
                           "Pedro Pedro Alves", "Pedro Souza", "Zoë Ana", "Ana Zoe"};
    for (const char* a : names)
        for (const char* b : names) {
            std::u32string ua = text::from_utf8(a), ub = text::from_utf8(b);
            auto pa = names::Prepared::from(ua.data(), ua.size());
            auto pb = names::Prepared::from(ub.data(), ub.size());
            bool expected = !pa.empty() && !pb.empty() &&
                            (pa.text().find(pb.text()) != std::u32string::npos ||
                             pb.text().find(pa.text()) != std::u32string::npos ||
                             words::count_common(words::long_words(pa.text(), 3), words::long_words(pb.text(), 3)) >= 2);
            EXPECT_EQ(names::match(pa, pb), expected) << a << " / " << b;
        }
}

// --- kinds of match ------------------------------------------------------------

namespace {

names::MatchKind kind(std::string_view a, std::string_view b) {
    return names::match_kind(names::Prepared::from_normalized(names::normalize(text::from_utf8(a))),
                             names::Prepared::from_normalized(names::normalize(text::from_utf8(b))));
}

}  // namespace

using KindCase = std::tuple<std::string, std::string, names::MatchKind>;

class NameMatchKind : public ::testing::TestWithParam<KindCase> {};

TEST_P(NameMatchKind, IsSymmetricAndAgreesWithMatch) {
    auto [a, b, expected] = GetParam();
    EXPECT_EQ(kind(a, b), expected) << a << " / " << b;
    EXPECT_EQ(kind(b, a), expected) << b << " / " << a;
    EXPECT_EQ(kind(a, b) != names::MatchKind::None, match(a, b)) << a << " / " << b;
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, NameMatchKind,
    ::testing::Values(
        KindCase{"JOSE SILVA", "FABIO JOSE SILVA COELHO", names::MatchKind::Fragment},  // a strict part
        KindCase{"A", "ANA MARIA", names::MatchKind::Fragment},
        KindCase{"Ana", "Anabela Costa", names::MatchKind::Fragment},
        KindCase{"Maria Silva", "MARIA DA SILVA SANTOS", names::MatchKind::Fragment},
        KindCase{"Jose Silva Souza", "JOSE SILVA COELHO", names::MatchKind::Fragment},  // two words, each its own
        KindCase{"Fábio José Silva Coelho", "FABIO JOSE SILVA COELHO", names::MatchKind::Full},
        KindCase{"  Haydée Svab ", "HAYDEE SVAB", names::MatchKind::Full},
        KindCase{"Jose da Silva", "JOSE  SILVA", names::MatchKind::Full},  // the same words
        KindCase{"Jose Carlos", "Carlos Jose", names::MatchKind::Full},
        KindCase{"Maria Silva Santos", "MARIA DA SILVA SANTOS PEREIRA", names::MatchKind::Full},  // three words
        KindCase{"João Souza", "João Pereira", names::MatchKind::None},
        KindCase{"", "ANA", names::MatchKind::None}));
