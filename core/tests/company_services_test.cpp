#include "quillon/company_services.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace quillon;
namespace services = company_services;
using services::AmountStyle;

namespace {

AmountStyle style(std::u32string_view s) { return services::amount_style(s.data(), s.size()); }

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
        services::brazilian_to_decimal_point(input.data(), input.size(), [&](char32_t c) { got.push_back(c); });
        EXPECT_EQ(got, out);
    }
}

TEST(WireChar, DigitsOfAnyScriptBecomeAscii) {
    EXPECT_EQ(services::wire_char(U'７'), U'7');
    EXPECT_EQ(services::wire_char(U'٣'), U'3');
    EXPECT_EQ(services::wire_char(U'A'), U'A');
    EXPECT_EQ(services::wire_char(U'é'), U'é');
    EXPECT_TRUE(services::is_ascii(U"12ABC34501DE35", 14));
    EXPECT_FALSE(services::is_ascii(U"１2", 2));
}

TEST(Services, TableIsIndexedByIdAndNamesEachService) {
    for (services::ServiceId id : {services::ServiceId::kBrasilApi, services::ServiceId::kReceitaWs,
                                   services::ServiceId::kCasaDosDados, services::ServiceId::kCnpja})
        EXPECT_EQ(services::service(id).id, id);
    // Only the lookups by CNPJ put it in the URL; the search posts a body.
    EXPECT_TRUE(services::service(services::ServiceId::kBrasilApi).url_has_cnpj);
    EXPECT_FALSE(services::service(services::ServiceId::kCasaDosDados).url_has_cnpj);
    EXPECT_STREQ(services::service(services::ServiceId::kCasaDosDados).method, "post");
    EXPECT_FALSE(services::service(services::ServiceId::kCasaDosDados).timeout_from_module);
    EXPECT_EQ(services::service(services::ServiceId::kCasaDosDados).fixed_timeout, 15);
    // CNPJá takes its key instead of the package's name.
    EXPECT_FALSE(services::service(services::ServiceId::kCnpja).identify);
}

TEST(CompanyRecord, BothServicesGiveTheThirteenKeysInOneOrder) {
    const services::RecordLayout& br = services::kBrasilApiRecord;
    const services::RecordLayout& ws = services::kReceitaWsRecord;
    const char* order[] = {"fonte", "cnpj", "razao_social", "nome_fantasia", "situacao", "data_situacao",
                           "data_abertura", "natureza_juridica", "porte", "capital_social", "endereco", "email",
                           "socios"};
    for (std::size_t i = 0; i < services::kRecordKeys; ++i) {
        EXPECT_STREQ(br.fields[i].key, order[i]);
        EXPECT_STREQ(ws.fields[i].key, order[i]);
        EXPECT_EQ(br.fields[i].source, ws.fields[i].source) << order[i];
    }
    for (std::size_t i = 0; i < services::kPartnerKeys; ++i) EXPECT_STREQ(br.partner[i].key, ws.partner[i].key);
    // ReceitaWS publishes only the partner's name and qualification.
    EXPECT_EQ(ws.partner[2].member, nullptr);
    EXPECT_STREQ(ws.fields[2].member, "nome");
    EXPECT_TRUE(ws.capital_is_text);
    EXPECT_FALSE(br.capital_is_text);
    EXPECT_STREQ(ws.refusal, "ERROR");
    EXPECT_EQ(br.refusal, nullptr);
}

TEST(CompanyRecord, ABlankLegalNameNamesNoCompany) {
    for (std::u32string_view blank : {U"", U" ", U"\t\n\u00a0\u2003", U"\u3000"})
        EXPECT_FALSE(services::names_company(blank.data(), blank.size()));
    for (std::u32string_view name : {U"GOOGLE BRASIL LTDA", U" X ", U"\u200b"})  // U+200B is no white space
        EXPECT_TRUE(services::names_company(name.data(), name.size()));
}

TEST(StateRegistration, SixKeysTheTypeDefaultingToIe) {
    const char* keys[] = {"uf", "numero", "tipo", "ativa", "situacao", "data_situacao"};
    std::size_t i = 0;
    for (const services::RegistrationField& f : services::kRegistration) EXPECT_STREQ(f.key, keys[i++]);
    EXPECT_EQ(i, 6u);
    EXPECT_STREQ(services::kRegistration[2].fallback, "IE");
    EXPECT_TRUE(services::kRegistration[2].falsy_falls_back);    // a type without text is an IE
    EXPECT_FALSE(services::kRegistration[4].falsy_falls_back);   // a status text is kept as decoded
}

TEST(NameSearch, OnlyTheFirstHitOfAPositiveCountCounts) {
    EXPECT_TRUE(services::first_hit_counts({true, true}));
    EXPECT_FALSE(services::first_hit_counts({true, false}));   // count without hits
    EXPECT_FALSE(services::first_hit_counts({false, true}));   // hits with a count of zero
    EXPECT_FALSE(services::first_hit_counts({false, false}));
}

TEST(AmountStyle, CapitalTextIsWhatFloatReads) {
    for (auto [in, out] : {std::pair{U"1.500.000,00", U"1500000.00"}, {U"190000.00", U"190000.00"},
                           {U" 1.5 ", U" 1.5 "}, {U"1.500.000", U"1500000"}, {U"abc", U"abc"}}) {
        std::u32string input(in);
        EXPECT_EQ(services::capital_text(input.data(), input.size()), out);
    }
}

TEST(WireChar, WireFormRewritesEveryDigit) {
    std::u32string in = U"１２.ABC٣";
    EXPECT_EQ(services::wire_form(in.data(), in.size()), U"12.ABC3");
}

TEST(Answers, StrictUtf8CheckOfLenientlyDecodedBodies) {
    // requests is lenient only with UTF-8, stated in any spelling, or no charset.
    EXPECT_TRUE(services::decoded_leniently(false, ""));
    for (auto label : {"utf-8", "UTF-8", "utf8", "Utf_8"}) EXPECT_TRUE(services::decoded_leniently(true, label));
    for (auto label : {"latin-1", "utf-16", "", "utf-88", "ISO-8859-1"})
        EXPECT_FALSE(services::decoded_leniently(true, label)) << label;
    // Without a charset, what looks like UTF-16 or UTF-32 is left to requests.
    using namespace std::string_view_literals;
    for (auto body : {"\xff\xfe{\0"sv, "\xfe\xff\0{"sv, "{\0\0\0"sv, "\0\0\0{"sv})
        EXPECT_FALSE(services::checked_as_utf8(false, body));
    EXPECT_TRUE(services::checked_as_utf8(false, "{\"a\": 1}\0"sv));  // a NUL past the first four bytes
    EXPECT_TRUE(services::checked_as_utf8(false, ""));
    EXPECT_TRUE(services::checked_as_utf8(true, "\xff\xfe{\0"sv));  // a stated UTF-8 is always checked
}

TEST(Services, FailuresNameTheServiceOrTheFunction) {
    EXPECT_EQ(services::failed_format(services::service(services::ServiceId::kBrasilApi)),
              "BrasilAPI request failed for %s: %s");
    EXPECT_EQ(services::failed_format(services::service(services::ServiceId::kCnpja)),
              "CNPJá request failed for %s: %s");
    EXPECT_EQ(services::unexpected_format("_consultar_receita_ws"), "Unexpected error in _consultar_receita_ws for %s");
}
