#include "quillon/registry.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace quillon;
using registry::AmountStyle;

namespace {

AmountStyle style(std::u32string_view s) { return registry::amount_style(s.data(), s.size()); }

bool utf8(std::string_view s) {
    return registry::is_valid_utf8(reinterpret_cast<const unsigned char*>(s.data()), s.size());
}

}  // namespace

TEST(AmountStyle, Classification) {
    // Every published ReceitaWS capital, and other single dots before one or
    // two final digits (any script, white space around ignored).
    for (auto s : {U"190000.00", U"6453568523.86", U"1000.00", U"1.5", U"-1.5", U".5", U" 190000.00\n",
                   U"１９０.００", U"١٩٠.٠٠"})
        EXPECT_EQ(style(s), AmountStyle::kDecimalPoint) << std::u32string(s).size();
    // A comma, several dots, or a dot not followed by one or two final digits.
    for (auto s : {U"1.500.000,00", U"1500,5", U"1.500", U"1.500.000", U"1.50.00", U"5.", U"1.5e3", U"abc",
                   U"a.bc", U" ", U"190000. 00"})
        EXPECT_EQ(style(s), AmountStyle::kBrazilian) << std::u32string(s).size();
    EXPECT_EQ(style(U""), AmountStyle::kEmpty);
}

TEST(AmountStyle, BrazilianRewrite) {
    for (auto [in, out] : {std::pair{U"1.500.000,00", U"1500000.00"}, {U"1.500.000", U"1500000"},
                           {U"1,2,3", U"1.2.3"}, {U"abc", U"abc"}}) {
        std::u32string got, input(in);
        registry::brazilian_to_decimal_point(input.data(), input.size(), [&](char32_t c) { got.push_back(c); });
        EXPECT_EQ(got, out);
    }
}

TEST(WireChar, DigitsOfAnyScriptBecomeAscii) {
    EXPECT_EQ(registry::wire_char(U'７'), U'7');
    EXPECT_EQ(registry::wire_char(U'٣'), U'3');
    EXPECT_EQ(registry::wire_char(U'A'), U'A');
    EXPECT_EQ(registry::wire_char(U'é'), U'é');
    EXPECT_TRUE(registry::is_ascii(U"12ABC34501DE35", 14));
    EXPECT_FALSE(registry::is_ascii(U"１2", 2));
}

TEST(Utf8, AcceptsExactlyWhatPythonsStrictDecoderAccepts) {
    for (std::string_view ok : {std::string_view(""), std::string_view("S\xc3\xb3" "cio"),
                                std::string_view("\xe0\xa0\x80 \xed\x9f\xbf \xee\x80\x80 \xef\xbf\xbf"),
                                std::string_view("\xf0\x90\x80\x80 \xf4\x8f\xbf\xbf"), std::string_view("\0\0", 2),
                                std::string_view("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\xc2\x80" "bbbbbbbbb")})
        EXPECT_TRUE(utf8(ok)) << ok;
    for (std::string_view bad : {"\xff", "EMPRESA \xff\xfe LTDA", "\x80", "\xc0\x80", "\xc1\xbf", "\xe0\x9f\xbf",
                                 "\xed\xa0\x80", "\xed\xbf\xbf", "\xf0\x8f\xbf\xbf", "\xf4\x90\x80\x80",
                                 "\xf5\x80\x80\x80", "\xc3", "abc\xe2\x82", "\xc3\x28", "\xe2\x28\xa1",
                                 "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\xf0\x9f\x98"})
        EXPECT_FALSE(utf8(bad)) << bad;
}
