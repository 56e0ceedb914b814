#include "quillon/cnpj.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace quillon;

namespace {

bool valid(std::u32string_view s) { return cnpj::is_valid(s.data(), s.size()); }

std::u32string cleaned(std::u32string_view s) {
    std::u32string out;
    cnpj::clean(s.data(), s.size(), [&](char32_t c) { out.push_back(c); });
    return out;
}

}  // namespace

TEST(CheckDigit, RemaindersBelowTwoGiveZeroAndTenGivesOne) {
    EXPECT_EQ(cnpj::check_digit_for_sum(0), '0');
    EXPECT_EQ(cnpj::check_digit_for_sum(11), '0');
    EXPECT_EQ(cnpj::check_digit_for_sum(12), '0');  // remainder 1
    EXPECT_EQ(cnpj::check_digit_for_sum(13), '9');  // remainder 2
    EXPECT_EQ(cnpj::check_digit_for_sum(21), '1');  // remainder 10
    EXPECT_EQ(cnpj::check_digit_for_sum(-1), '1');  // Python: -1 % 11 == 10
}

TEST(Validate, KnownNumbers) {
    EXPECT_TRUE(valid(U"11.222.333/0001-81"));
    EXPECT_TRUE(valid(U"11222333000181"));
    EXPECT_TRUE(valid(U"CNPJ: 11.222.333/0001-81."));
    EXPECT_FALSE(valid(U"12.345.678/0001-99"));
    EXPECT_FALSE(valid(U"123456"));
    EXPECT_FALSE(valid(U""));
    EXPECT_FALSE(valid(U"112223330001810"));  // 15 digits
}

TEST(Validate, RepeatedDigitsAreRejectedEvenAcrossScripts) {
    for (char32_t d = U'0'; d <= U'9'; ++d) EXPECT_FALSE(valid(std::u32string(14, d)));
    // Thirteen ASCII zeros and a full-width zero: same value fourteen times.
    EXPECT_FALSE(valid(U"0000000000000\uFF10"));
}

TEST(Validate, DigitsOfOtherScriptsCountByValue) {
    EXPECT_TRUE(valid(U"\uFF11\uFF11.\uFF12\uFF12\uFF12.\uFF13\uFF13\uFF13/\uFF10\uFF10\uFF10\uFF11-\uFF18\uFF11"));
    // Arabic-Indic digits.
    EXPECT_TRUE(valid(U"\u0661\u0661\u0662\u0662\u0662\u0663\u0663\u0663\u0660\u0660\u0660\u0661\u0668\u0661"));
}

TEST(Clean, KeepsDigitsInOrderAndInTheirScript) {
    EXPECT_EQ(cleaned(U"12.345.678/0001-99"), U"12345678000199");
    EXPECT_EQ(cleaned(U"abc"), U"");
    EXPECT_EQ(cleaned(U"\uFF11-\u0662"), U"\uFF11\u0662");
    EXPECT_EQ(cleaned(std::u32string(U"1\0" U"2", 3)), U"12");
}

TEST(Clean, FirstDigitsStopsAfterFifteen) {
    std::u32string many(1000, U'7');
    cnpj::Digits d = cnpj::first_digits(many.data(), many.size());
    EXPECT_EQ(d.count, cnpj::kLength + 1);
    EXPECT_TRUE(d.too_long());
}

TEST(Format, MaskPositions) {
    std::u32string s = U"12345678000199";
    cnpj::Digits d = cnpj::first_digits(s.data(), s.size());
    char32_t out[cnpj::kFormattedLength];
    cnpj::format_into(d.chars, out);
    EXPECT_EQ(std::u32string(out, cnpj::kFormattedLength), U"12.345.678/0001-99");
}

TEST(Alphanumeric, PublishedExamplesValidate) {
    for (const char32_t* s : {U"12ABC34501DE35", U"12.ABC.345/01DE-35", U"00000000E08G12", U"93ZB0VRYV6KA67",
                              U"SASB0MA7000124", U"2P76BMNX000166", U"12abc34501de35", U" 12.abc.345/01de-35\t"})
        EXPECT_TRUE(valid(s)) << text::to_utf8(s);
    EXPECT_FALSE(valid(U"93ZB0VRYV6KA66"));
}

TEST(Alphanumeric, OnlyTheExactShapeCounts) {
    EXPECT_EQ(cleaned(U"12abc34501de35"), U"12ABC34501DE35");
    EXPECT_EQ(cleaned(U"CNPJ: 12.ABC.345/01DE-35"), U"123450135");  // label: digits only
    EXPECT_EQ(cleaned(U"12ABC34501DEAB"), U"1234501");              // check digits must be digits
    EXPECT_EQ(cleaned(U"AAAAAAAAAAAAAA"), U"");
    EXPECT_FALSE(valid(U"CNPJ: 12.ABC.345/01DE-35"));
}

TEST(Alphanumeric, LettersAreValuedAsciiMinus48) {
    EXPECT_EQ(cnpj::char_value(U'A'), 17);
    EXPECT_EQ(cnpj::char_value(U'Z'), 42);
    EXPECT_EQ(cnpj::char_value(U'a'), -1);  // only the upper-cased clean form is valued
    EXPECT_EQ(cnpj::char_value(U'7'), 7);
}

TEST(Clean, Latin1TextKeepsItsAsciiDigits) {
    const unsigned char text[] = "CNPJ 06.990.590/0001-23 \xb2\xbd";  // superscript two and one half are no digits
    const std::size_t n = sizeof text - 1;
    cnpj::Latin1Scan scan = cnpj::scan_latin1(text, n);
    EXPECT_EQ(scan.digits, 14u);
    EXPECT_TRUE(scan.letters);
    char out[14];
    cnpj::copy_ascii_digits(text, n, out);
    EXPECT_EQ(std::string(out, 14), "06990590000123");
    std::u32string wide(text, text + n);
    EXPECT_EQ(cleaned(wide), U"06990590000123");  // the general rule agrees
    EXPECT_FALSE(cnpj::scan_latin1(text + 4, n - 4).letters);
}
