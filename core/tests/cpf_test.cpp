#include "quillon/cpf.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace quillon;

namespace {

std::string digits(std::u32string_view s) { return cpf::digits(s.data(), s.size()); }

cpf::Evidence compare(std::string_view contract, std::u32string_view masked) {
    return cpf::compare_masked(cpf::digits(contract.data(), contract.size()), masked.data(), masked.size());
}

}  // namespace

TEST(CpfDigits, WrittenForms) {
    EXPECT_EQ(digits(U"123.456.789-09"), "12345678909");
    EXPECT_EQ(digits(U"12345678909"), "12345678909");
    EXPECT_EQ(digits(U" 100.133.807-37 "), "10013380737");
    EXPECT_EQ(digits(U"123.456.789-00"), "");   // wrong check digits
    EXPECT_EQ(digits(U"111.111.111-11"), "");   // a repeated digit is no CPF
    EXPECT_EQ(digits(U"123.456.789-0"), "");    // ten digits
    EXPECT_EQ(digits(U"123.456.789-090"), "");  // twelve
    EXPECT_EQ(digits(U"CPF 123.456.789-09"), "");
    EXPECT_EQ(digits(U"１２３４５６７８９０９"), "");  // written in ASCII digits only
    EXPECT_EQ(digits(U""), "");
}

TEST(CpfDigits, CheckDigitsOfEveryBase) {
    // Of the hundred endings of one base exactly one is valid.
    int valid = 0;
    for (int end = 0; end < 100; ++end) {
        std::string s = "529982247" + std::string(1, char('0' + end / 10)) + std::string(1, char('0' + end % 10));
        valid += cpf::valid_digits(s);
        if (cpf::valid_digits(s)) EXPECT_EQ(s, "52998224725");
    }
    EXPECT_EQ(valid, 1);
}

TEST(CpfMasked, MiddleDigitsDecide) {
    EXPECT_EQ(compare("100.133.807-37", U"***133807**"), cpf::Evidence::Agrees);
    EXPECT_EQ(compare("123.456.789-09", U"***133807**"), cpf::Evidence::Disagrees);
    EXPECT_EQ(compare("123.456.789-09", U"***.456.789-**"), cpf::Evidence::Agrees);  // formatted mask
    EXPECT_EQ(compare("123.456.789-09", U"***456788**"), cpf::Evidence::Disagrees);  // one digit off
    EXPECT_EQ(compare("123.456.789-09", U"12345678909"), cpf::Evidence::Agrees);     // published whole
}

TEST(CpfMasked, NothingToCompareIsUnknown) {
    EXPECT_EQ(compare("123.456.789-09", U"***000000**"), cpf::Evidence::Unknown);  // "no CPF" placeholder
    EXPECT_EQ(compare("123.456.789-09", U"06947283000160"), cpf::Evidence::Unknown);  // a company partner
    EXPECT_EQ(compare("123.456.789-09", U"***********"), cpf::Evidence::Unknown);
    EXPECT_EQ(compare("123.456.789-09", U""), cpf::Evidence::Unknown);
    EXPECT_EQ(compare("123.456.789-09", U"***45678X**"), cpf::Evidence::Unknown);
    EXPECT_EQ(compare("123.456.789-09", U"***4567890**"), cpf::Evidence::Unknown);  // twelve places
    EXPECT_EQ(compare("", U"***456789**"), cpf::Evidence::Unknown);               // the contract gives none
    EXPECT_EQ(compare("123.456.789-00", U"***456789**"), cpf::Evidence::Unknown);  // nor a valid one
}
