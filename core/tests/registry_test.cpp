#include "quillon/registry.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace quillon;
using registry::AmountStyle;

namespace {

AmountStyle style(std::u32string_view s) { return registry::amount_style(s.data(), s.size()); }

std::u32string rewritten(std::u32string_view s) {
    std::u32string out;
    registry::brazilian_to_decimal_point(s.data(), s.size(), [&](char32_t c) { out.push_back(c); });
    return out;
}

}  // namespace

TEST(AmountStyle, EveryPublishedReceitaWsCapitalIsAPlainDecimal) {
    EXPECT_EQ(style(U"190000.00"), AmountStyle::kDecimalPoint);
    EXPECT_EQ(style(U"6453568523.86"), AmountStyle::kDecimalPoint);
    EXPECT_EQ(style(U"20000.00"), AmountStyle::kDecimalPoint);
    EXPECT_EQ(style(U"1000.00"), AmountStyle::kDecimalPoint);
    EXPECT_EQ(style(U"1.5"), AmountStyle::kDecimalPoint);
    EXPECT_EQ(style(U"-1.5"), AmountStyle::kDecimalPoint);
    EXPECT_EQ(style(U".5"), AmountStyle::kDecimalPoint);
}

TEST(AmountStyle, WhiteSpaceAroundTheTextDoesNotHideTheDecimals) {
    EXPECT_EQ(style(U" 190000.00\n"), AmountStyle::kDecimalPoint);
    EXPECT_EQ(style(U"190000.00\u00a0"), AmountStyle::kDecimalPoint);
    EXPECT_EQ(style(U"190000. 00"), AmountStyle::kBrazilian);  // space inside: not a final digit run
}

TEST(AmountStyle, DigitsOfOtherScriptsCountAsDigits) {
    EXPECT_EQ(style(U"１９０.００"), AmountStyle::kDecimalPoint);
    EXPECT_EQ(style(U"١٩٠.٠٠"), AmountStyle::kDecimalPoint);
}

TEST(AmountStyle, CommaMeansBrazilianFormatting) {
    EXPECT_EQ(style(U"1.500.000,00"), AmountStyle::kBrazilian);
    EXPECT_EQ(style(U"1500,5"), AmountStyle::kBrazilian);
    EXPECT_EQ(style(U"1.50,"), AmountStyle::kBrazilian);
}

TEST(AmountStyle, OtherDotsAreThousandsSeparators) {
    EXPECT_EQ(style(U"1.500"), AmountStyle::kBrazilian);      // three digits after the dot
    EXPECT_EQ(style(U"1.500.000"), AmountStyle::kBrazilian);  // two dots
    EXPECT_EQ(style(U"1.50.00"), AmountStyle::kBrazilian);
    EXPECT_EQ(style(U"5."), AmountStyle::kBrazilian);         // no digit after the dot
    EXPECT_EQ(style(U"1.5e3"), AmountStyle::kBrazilian);
    EXPECT_EQ(style(U"abc"), AmountStyle::kBrazilian);
    EXPECT_EQ(style(U"a.bc"), AmountStyle::kBrazilian);
    EXPECT_EQ(style(U" "), AmountStyle::kBrazilian);          // not empty: float(" ") fails
}

TEST(AmountStyle, OnlyTheEmptyTextIsZero) {
    EXPECT_EQ(style(U""), AmountStyle::kEmpty);
}

TEST(BrazilianToDecimalPoint, DropsDotsAndTurnsTheCommaIntoAPoint) {
    EXPECT_EQ(rewritten(U"1.500.000,00"), U"1500000.00");
    EXPECT_EQ(rewritten(U"1.500.000"), U"1500000");
    EXPECT_EQ(rewritten(U"1,2,3"), U"1.2.3");  // float() rejects it, as it should
    EXPECT_EQ(rewritten(U"abc"), U"abc");
}

TEST(WireChar, DigitsOfAnyScriptBecomeAscii) {
    EXPECT_EQ(registry::wire_char(U'７'), U'7');
    EXPECT_EQ(registry::wire_char(U'٣'), U'3');
    EXPECT_EQ(registry::wire_char(U'A'), U'A');
    EXPECT_EQ(registry::wire_char(U'é'), U'é');
    EXPECT_TRUE(registry::is_ascii(U"12ABC34501DE35", 14));
    EXPECT_FALSE(registry::is_ascii(U"１2", 2));
}

namespace {

bool utf8(std::string_view s) {
    return registry::is_valid_utf8(reinterpret_cast<const unsigned char*>(s.data()), s.size());
}

}  // namespace

TEST(Utf8, AcceptsWellFormedText) {
    EXPECT_TRUE(utf8(""));
    EXPECT_TRUE(utf8("{\"razao_social\": \"GOOGLE BRASIL INTERNET LTDA.\"}"));
    EXPECT_TRUE(utf8("S\xc3\xb3" "cio Administrador"));                       // U+00F3
    EXPECT_TRUE(utf8("\xe0\xa0\x80 \xed\x9f\xbf \xee\x80\x80 \xef\xbf\xbf"));  // U+0800 U+D7FF U+E000 U+FFFF
    EXPECT_TRUE(utf8("\xf0\x90\x80\x80 \xf4\x8f\xbf\xbf"));               // U+10000 U+10FFFF
    EXPECT_TRUE(utf8(std::string(20, 'a') + "\xc2\x80" + std::string(9, 'b')));
    EXPECT_TRUE(utf8(std::string_view("\0\0", 2)));
}

TEST(Utf8, RejectsWhatPythonsStrictDecoderRejects) {
    EXPECT_FALSE(utf8("\xff"));
    EXPECT_FALSE(utf8("EMPRESA \xff\xfe LTDA"));
    EXPECT_FALSE(utf8("\x80"));                    // lone continuation byte
    EXPECT_FALSE(utf8("\xc0\x80"));                // overlong NUL
    EXPECT_FALSE(utf8("\xc1\xbf"));
    EXPECT_FALSE(utf8("\xe0\x9f\xbf"));            // overlong U+07FF
    EXPECT_FALSE(utf8("\xed\xa0\x80"));            // surrogate U+D800
    EXPECT_FALSE(utf8("\xed\xbf\xbf"));            // surrogate U+DFFF
    EXPECT_FALSE(utf8("\xf0\x8f\xbf\xbf"));        // overlong U+FFFF
    EXPECT_FALSE(utf8("\xf4\x90\x80\x80"));        // U+110000
    EXPECT_FALSE(utf8("\xf5\x80\x80\x80"));
    EXPECT_FALSE(utf8("\xc3"));                    // truncated
    EXPECT_FALSE(utf8("abc\xe2\x82"));
    EXPECT_FALSE(utf8("\xc3\x28"));                // bad continuation
    EXPECT_FALSE(utf8("\xe2\x28\xa1"));
    EXPECT_FALSE(utf8(std::string(16, 'a') + "\xf0\x9f\x98"));
}
