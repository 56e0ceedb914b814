#include "quillon/text.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace quillon;

namespace {

std::string folded(std::string_view utf8) { return text::to_utf8(text::fold(text::from_utf8(utf8))); }

}  // namespace

TEST(Space, PythonWhiteSpaceSet) {
    for (char32_t c : {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x1C, 0x1D, 0x1E, 0x1F, 0x20, 0x85, 0xA0, 0x1680,
                       0x2000, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000})
        EXPECT_TRUE(text::is_space(c)) << std::hex << static_cast<unsigned>(c);
    for (char32_t c : {0x00, 0x08, 0x0E, 0x21, 0x200B, 0xFEFF, 0x180E})
        EXPECT_FALSE(text::is_space(c)) << std::hex << static_cast<unsigned>(c);
}

TEST(Digits, ValuesAcrossScripts) {
    EXPECT_EQ(text::decimal_value(U'7'), 7);
    EXPECT_EQ(text::decimal_value(0xFF19), 9);     // full-width nine
    EXPECT_EQ(text::decimal_value(0x0966), 0);     // Devanagari zero
    EXPECT_EQ(text::decimal_value(0x1D7CE), 0);    // mathematical bold zero
    EXPECT_EQ(text::decimal_value(0x1D7D8 + 3), 3);  // second mathematical run, back to back
    EXPECT_EQ(text::decimal_value(0x00B2), -1);    // superscript two is No, not Nd
    EXPECT_EQ(text::decimal_value(0x2155), -1);    // vulgar fraction
    EXPECT_EQ(text::decimal_value(U'a'), -1);
    EXPECT_EQ(text::decimal_value(0xD800), -1);    // lone surrogate
}

TEST(Fold, AccentsGoInBothForms) {
    EXPECT_EQ(folded("Cláusula Ação PREGÃO"), "clausula acao pregao");
    EXPECT_EQ(folded("Cla\xcc\x81usula"), "clausula");  // decomposed input
    EXPECT_EQ(folded(""), "");
}

TEST(Fold, FullLowerCaseMappings) {
    // U+0130 decomposes to I + combining dot (dropped) before lower-casing.
    EXPECT_EQ(folded("\xc4\xb0stanbul"), "istanbul");
    EXPECT_EQ(folded("STRA\xe1\xba\x9e" "E"), "stra\xc3\x9f" "e");  // capital sharp s
}

TEST(Fold, FinalSigma) {
    EXPECT_EQ(folded("ΟΔΟΣ"), "οδος");
    EXPECT_EQ(folded("ΟΔΟΣ ΚΑΙ"), "οδος και");
    EXPECT_EQ(folded("ΣΑ"), "σα");           // nothing cased before it
    EXPECT_EQ(folded("ΑΣ.'"), "ας.'");       // ignorable characters skipped after it
    EXPECT_EQ(folded("Α'Σ"), "α'ς");         // and before it
    EXPECT_EQ(folded("ΑΣ'Β"), "ασ'β");       // a cased letter after the ignorables
    EXPECT_EQ(folded("Α\xcc\x81Σ"), "ας");  // the dropped mark is ignorable
}

TEST(Fold, NonSpacingMarksDroppedOthersKept) {
    EXPECT_EQ(folded("nº 12"), "nº 12");      // the ordinal sign is a letter
    EXPECT_EQ(folded("a\xe0\xa4\x83"), "a\xe0\xa4\x83");  // U+0903 is Mc, kept
}

TEST(Fold, CanonicalReorderingOfKeptMarks) {
    // U+1D165 (ccc 216) and U+1D16D (ccc 226) are spacing marks: kept and put
    // in canonical order.
    std::u32string in = U"a\U0001D16D\U0001D165";
    EXPECT_EQ(text::fold(in), U"a\U0001D165\U0001D16D");
}

TEST(Strip, PythonRules) {
    std::u32string s = U"\u00A0\t x y \u2028\u3000";
    text::strip_in_place(s);
    EXPECT_EQ(s, U"x y");
    std::u32string blank = U" \u2003 ";
    text::strip_in_place(blank);
    EXPECT_EQ(blank, U"");
}

TEST(Latin1, TableIsTheGeneralFold) {
    const auto& t = text::latin1_fold();
    for (char32_t c = 0; c < 0x100; ++c) {
        char32_t buf[8];
        std::size_t k = text::detail::decompose_nfd(c, buf);
        for (std::size_t i = 1; i < k; ++i) EXPECT_TRUE(text::is_nonspacing_mark(buf[i])) << static_cast<unsigned>(c);
        EXPECT_EQ(t.context[c], text::detail::case_context_class(buf[0])) << static_cast<unsigned>(c);
        EXPECT_EQ(text::fold(std::u32string(1, c)), std::u32string(1, t.folded[c])) << static_cast<unsigned>(c);
    }
}

TEST(Latin1, BulkFoldsAgreeWithTheFolder) {
    std::vector<std::uint8_t> all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
    std::vector<std::uint8_t> out(256);
    EXPECT_TRUE(text::fold_latin1(all.data(), all.size(), out.data()));
    std::u32string expected;
    text::fold_append(all.data(), all.size(), expected);
    ASSERT_EQ(expected.size(), 256u);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(out[i], expected[i]) << i;
    const std::uint8_t accented[] = {0xC1, 0xC7, 'A', 0xE3};  // ÁÇAã
    EXPECT_FALSE(text::fold_latin1(accented, 4, out.data()));
    std::vector<std::uint8_t> ascii(128), lowered(128);
    for (int i = 0; i < 128; ++i) ascii[i] = static_cast<std::uint8_t>(i);
    text::fold_ascii(ascii.data(), 128, lowered.data());
    for (int i = 0; i < 128; ++i) EXPECT_EQ(lowered[i], expected[i]) << i;
}

TEST(Latin1, ContextBeforeASigma) {
    EXPECT_EQ(folded("\xC3\x89\xCE\xA3"), "e\xCF\x82");       // ÉΣ: a cased letter before it
    EXPECT_EQ(folded("\xC2\xB7\xCE\xA3"), "\xC2\xB7\xCF\x83");  // ·Σ: ignorable, nothing cased
    EXPECT_EQ(folded("\xC2\xAA\xCE\xA3"), "\xC2\xAA\xCF\x82");  // ªΣ: ª is cased
}
