#include "quillon/opendata.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace quillon;
using opendata::LineError;

namespace {

struct Split {
    LineError error;
    std::vector<std::string> fields;
};

Split split(std::string_view line) {
    opendata::LineSplitter s;
    Split out{s.split(line.data(), line.size()), {}};
    for (auto f : s.fields()) out.fields.emplace_back(f.data, f.size);
    return out;
}

std::string key(std::string_view latin1) {
    std::u32string out;
    opendata::name_key_append(reinterpret_cast<const unsigned char*>(latin1.data()), latin1.size(), out);
    return text::to_utf8(out);
}

}  // namespace

TEST(LineSplitter, QuotedFieldsAsPublished) {
    auto s = split(R"("06990590";"GOOGLE BRASIL INTERNET LTDA.";"2062";"05";"200000000,00";"05";"")");
    ASSERT_EQ(s.error, LineError::kNone);
    EXPECT_EQ(s.fields, (std::vector<std::string>{"06990590", "GOOGLE BRASIL INTERNET LTDA.", "2062", "05",
                                                  "200000000,00", "05", ""}));
}

TEST(LineSplitter, SeparatorsAndDoubledQuotesInsideQuotes) {
    auto s = split(R"("A;B";"diz ""oi"" e sai";"""";"x""")");
    ASSERT_EQ(s.error, LineError::kNone);
    EXPECT_EQ(s.fields, (std::vector<std::string>{"A;B", "diz \"oi\" e sai", "\"", "x\""}));
}

TEST(LineSplitter, UnquotedAndEmptyFields) {
    EXPECT_EQ(split("a;;b\"c;").fields, (std::vector<std::string>{"a", "", "b\"c", ""}));
    EXPECT_EQ(split("").fields, (std::vector<std::string>{""}));
    EXPECT_EQ(split(";").fields, (std::vector<std::string>{"", ""}));
    EXPECT_EQ(split("\"\"").fields, (std::vector<std::string>{""}));
}

TEST(LineSplitter, MalformedLines) {
    EXPECT_EQ(split(R"("aberto;"b")").error, LineError::kTextAfterQuote);
    EXPECT_EQ(split(R"("sem fim)").error, LineError::kUnterminatedQuote);
    EXPECT_EQ(split(R"("a";"b)").error, LineError::kUnterminatedQuote);
    EXPECT_EQ(split(R"("a"b;"c")").error, LineError::kTextAfterQuote);
    EXPECT_EQ(split(R"("a""")").error, LineError::kNone);
    EXPECT_EQ(split(R"(""")").error, LineError::kUnterminatedQuote);
}

TEST(LineSplitter, ReusedAcrossLinesOfAnyLength) {
    opendata::LineSplitter s;
    std::string longline = "\"" + std::string(100000, 'x') + "\"\"y\";\"z\"";
    ASSERT_EQ(s.split(longline.data(), longline.size()), LineError::kNone);
    ASSERT_EQ(s.fields().size(), 2u);
    EXPECT_EQ(s.fields()[0].size, 100002u);
    std::string shortline = "\"q\"\"\"";
    ASSERT_EQ(s.split(shortline.data(), shortline.size()), LineError::kNone);
    EXPECT_EQ(std::string(s.fields()[0].data, s.fields()[0].size), "q\"");
}

TEST(ForEachLine, LinesAndTheCarriedTail) {
    std::string buf = "a\r\nbb\n\nccc";
    std::vector<std::string> lines;
    std::size_t used = opendata::for_each_line(buf.data(), buf.size(), [&](const char* p, std::size_t n) {
        lines.emplace_back(p, n);
    });
    EXPECT_EQ(lines, (std::vector<std::string>{"a", "bb", ""}));
    EXPECT_EQ(buf.substr(used), "ccc");
}

TEST(IsoDate, ValidDatesOnly) {
    char out[10];
    ASSERT_TRUE(opendata::iso_date("20040901", 8, out));
    EXPECT_EQ(std::string(out, 10), "2004-09-01");
    ASSERT_TRUE(opendata::iso_date("20240229", 8, out));
    for (std::string_view bad : {"", "0", "00000000", "20041301", "20040230", "20230229", "2004091", "2004-9-1",
                                 "200409011", "19000229", "2004090a"})
        EXPECT_FALSE(opendata::iso_date(bad.data(), bad.size(), out)) << bad;
}

TEST(ParseCode, DigitsOnly) {
    long long v = -1;
    ASSERT_TRUE(opendata::parse_code("02", 2, v));
    EXPECT_EQ(v, 2);
    ASSERT_TRUE(opendata::parse_code("7107", 4, v));
    EXPECT_EQ(v, 7107);
    for (std::string_view bad : {"", "-1", "2 ", "x", "1234567890123456789"})
        EXPECT_FALSE(opendata::parse_code(bad.data(), bad.size(), v)) << bad;
}

TEST(NameKey, AccentsCasePunctuationAndSpaces) {
    EXPECT_EQ(key("GLOBO COMUNICACAO E PARTICIPACOES S/A"), "globo comunicacao e participacoes s a");
    EXPECT_EQ(key("  Comunica\xE7\xE3o  e Participa\xE7\xF5" "es S.A. "), "comunicacao e participacoes s a");
    EXPECT_EQ(key("Associa\xE7\xE3o Privada"), "associacao privada");
    EXPECT_EQ(key("GOOGLE BRASIL INTERNET LTDA."), "google brasil internet ltda");
    EXPECT_EQ(key("---"), "");
    EXPECT_EQ(key("TV/REDE/CANAIS/G2C+GLOBO"), "tv rede canais g2c globo");
    EXPECT_EQ(key("\xC6gide \xDF \xB5"), "\xC3\xA6gide \xC3\x9F \xC2\xB5");  // no decomposition: lower-cased only
}

// Random lines from a small alphabet rich in separators and quotes: the
// splitter never reads out of bounds (the sanitizer build watches), and when
// it accepts a line, writing its fields back with every quote doubled and
// splitting again gives the same fields.
TEST(LineSplitter, RandomLinesRoundTrip) {
    std::mt19937 rng(12345);
    const std::string alphabet = "ab;\"\xE7 ";
    opendata::LineSplitter s, again;
    for (int round = 0; round < 20000; ++round) {
        std::string line(rng() % 24, ' ');
        for (char& c : line) c = alphabet[rng() % alphabet.size()];
        if (s.split(line.data(), line.size()) != LineError::kNone) continue;
        std::string written;
        for (std::size_t i = 0; i < s.fields().size(); ++i) {
            if (i) written += ';';
            written += '"';
            for (std::size_t k = 0; k < s.fields()[i].size; ++k) {
                char c = s.fields()[i].data[k];
                written += c;
                if (c == '"') written += '"';
            }
            written += '"';
        }
        ASSERT_EQ(again.split(written.data(), written.size()), LineError::kNone) << written;
        ASSERT_EQ(again.fields().size(), s.fields().size()) << line;
        for (std::size_t i = 0; i < s.fields().size(); ++i)
            ASSERT_EQ(std::string(again.fields()[i].data, again.fields()[i].size),
                      std::string(s.fields()[i].data, s.fields()[i].size))
                << line;
    }
}
