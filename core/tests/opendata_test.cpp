#include "quillon/opendata.hpp"

#include <gtest/gtest.h>

#include <algorithm>
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

namespace {

// What a LineStream makes of a whole file fed in pieces: each line's number
// and text ("!" for an overlong line), then the final line count and offset.
struct Read {
    std::vector<std::pair<long long, std::string>> lines;
    long long line = 0;
    long long offset = 0;
    bool operator==(const Read& o) const { return lines == o.lines && line == o.line && offset == o.offset; }
};

Read read_in_pieces(const std::string& file, const std::vector<std::size_t>& cuts, long long line = 0,
                    long long offset = 0) {
    opendata::LineStream stream(line, offset);
    Read out;
    auto on_line = [&](const char* p, std::size_t n) { out.lines.emplace_back(stream.line(), std::string(p, n)); };
    auto on_overlong = [&] { out.lines.emplace_back(stream.line(), "!"); };
    std::size_t start = 0;
    for (std::size_t cut : cuts) {
        stream.feed(file.data() + start, cut - start, on_line, on_overlong);
        start = cut;
    }
    stream.feed(file.data() + start, file.size() - start, on_line, on_overlong);
    stream.finish(on_line, on_overlong);
    out.line = stream.line();
    out.offset = stream.offset();
    return out;
}

using Lines = std::vector<std::pair<long long, std::string>>;

}  // namespace

TEST(LineStream, LfCrlfAndALastLineWithoutBreak) {
    std::string file = "a\r\nbb\n\nc\rc\n\r\nlast\r";
    Read whole = read_in_pieces(file, {});
    EXPECT_EQ(whole.lines, (Lines{{1, "a"}, {2, "bb"}, {3, ""}, {4, "c\rc"}, {5, ""}, {6, "last"}}));
    EXPECT_EQ(whole.line, 6);
    EXPECT_EQ(whole.offset, static_cast<long long>(file.size()));
    EXPECT_EQ(read_in_pieces("", {}), Read{});
    EXPECT_EQ(read_in_pieces("x\n", {}).lines, (Lines{{1, "x"}}));
}

TEST(LineStream, EveryCutGivesTheSameLines) {
    // Cut between "\r" and "\n", right after "\n", inside a line, at both ends.
    std::string file = "one;two\r\nthree\n\r\n\nfour\r\nfive";
    Read whole = read_in_pieces(file, {});
    for (std::size_t a = 0; a <= file.size(); ++a)
        for (std::size_t b = a; b <= file.size(); ++b)
            ASSERT_EQ(read_in_pieces(file, {a, a, b}), whole) << a << " " << b;
}

TEST(LineStream, ResumedCountsOnFromWhereItLeft) {
    Read r = read_in_pieces("x\ny", {}, 41, 1000);
    EXPECT_EQ(r.lines, (Lines{{42, "x"}, {43, "y"}}));
    EXPECT_EQ(r.line, 43);
    EXPECT_EQ(r.offset, 1003);
}

TEST(LineStream, OverlongLinesAreSkippedWhereverTheChunksEnd) {
    const std::size_t max = opendata::kMaxLine;
    std::string at_limit(max, 'x'), over(max + 1, 'y');
    std::string file = "ok\n" + at_limit + "\r\n" + over + "\nafter\n" + over;
    Lines expected{{1, "ok"}, {2, at_limit}, {3, "!"}, {4, "after"}, {5, "!"}};
    std::size_t second = 3, third = second + max + 2, fourth = third + max + 2;
    for (const std::vector<std::size_t>& cuts : std::vector<std::vector<std::size_t>>{
             {}, {1}, {second + 10}, {third - 1}, {third + 1, third + max}, {third + max + 1}, {fourth - 1},
             {fourth + 3, fourth + 7}, {file.size() - 1}}) {
        Read r = read_in_pieces(file, cuts);
        ASSERT_EQ(r.lines.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(r.lines[i], expected[i]) << i;
        EXPECT_EQ(r.line, 5);
        EXPECT_EQ(r.offset, static_cast<long long>(file.size()));
    }
}

TEST(LineStream, RandomFilesAndCuts) {
    std::mt19937 rng(5);
    const char pieces[] = {'a', ';', '"', '\r', '\n'};
    for (int round = 0; round < 2000; ++round) {
        std::string file;
        for (int i = static_cast<int>(rng() % 40); i > 0; --i) file += pieces[rng() % sizeof pieces];
        std::vector<std::size_t> cuts;
        for (int i = static_cast<int>(rng() % 5); i > 0; --i) cuts.push_back(rng() % (file.size() + 1));
        std::sort(cuts.begin(), cuts.end());
        Read whole = read_in_pieces(file, {});
        ASSERT_EQ(read_in_pieces(file, cuts), whole) << file;
        long long breaks = static_cast<long long>(std::count(file.begin(), file.end(), '\n'));
        EXPECT_EQ(whole.line, breaks + (!file.empty() && file.back() != '\n'));
        EXPECT_EQ(whole.offset, static_cast<long long>(file.size()));
    }
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

TEST(Plan, StepsReadFieldsTheLineHas) {
    EXPECT_TRUE(opendata::plan_step_fits(opendata::kText, 0, 1));
    EXPECT_FALSE(opendata::plan_step_fits(opendata::kText, 1, 1));
    EXPECT_FALSE(opendata::plan_step_fits(opendata::kText, -1, 3));
    // A CNPJ takes its field and the next two.
    EXPECT_TRUE(opendata::plan_step_fits(opendata::kCnpj, 0, 3));
    EXPECT_FALSE(opendata::plan_step_fits(opendata::kCnpj, 1, 3));
    EXPECT_FALSE(opendata::plan_step_fits(opendata::kCnpj + 1, 0, 9));
    EXPECT_FALSE(opendata::plan_step_fits(-1, 0, 9));
    EXPECT_STREQ(opendata::line_error_reason(LineError::kUnterminatedQuote), "aspas não fechadas");
    EXPECT_STREQ(opendata::line_error_reason(LineError::kTextAfterQuote), "texto depois de aspas de fechamento");
}

namespace {

// What a RowReader made of `data` fed in one chunk: each row's values as
// text ("-" for none), and the lines that did not read.
struct RowsRead {
    std::vector<std::vector<std::string>> rows;
    std::vector<opendata::RowReader::Error> errors;
};

std::string shown(const opendata::Value& v) {
    switch (v.kind) {
        case opendata::Value::Kind::kNone: return "-";
        case opendata::Value::Kind::kCode: return "#" + std::to_string(v.code);
        case opendata::Value::Kind::kKey: return "k:" + text::to_utf8(v.key);
        default: return std::string(v.latin1);
    }
}

RowsRead read_rows(std::size_t columns, std::vector<std::pair<int, int>> plan, std::string_view data) {
    opendata::RowReader reader(columns, std::move(plan));
    RowsRead r;
    auto on_row = [&](const std::vector<opendata::Value>& values) {
        r.rows.emplace_back();
        for (const auto& v : values) r.rows.back().push_back(shown(v));
    };
    reader.feed(data.data(), data.size(), on_row);
    reader.finish(on_row);
    r.errors = reader.take_errors();
    EXPECT_TRUE(reader.take_errors().empty());
    return r;
}

using Rows = std::vector<std::vector<std::string>>;
using Errors = std::vector<opendata::RowReader::Error>;

}  // namespace

TEST(Plan, AWholePlanFitsWhenEveryStepDoes) {
    EXPECT_TRUE(opendata::plan_fits({}, 0));
    EXPECT_TRUE(opendata::plan_fits({{opendata::kText, 0}, {opendata::kCnpj, 1}}, 4));
    EXPECT_FALSE(opendata::plan_fits({{opendata::kText, 0}, {opendata::kCnpj, 2}}, 4));
}

TEST(RowReader, EachStepMakesItsValue) {
    RowsRead r = read_rows(5, {{opendata::kCnpj, 0}, {opendata::kDate, 3}, {opendata::kCode, 4}, {opendata::kKey, 3},
                           {opendata::kText, 3}},
                       "\"06990590\";\"0001\";\"23\";\"20190105\";\"2062\"\n"
                       "\"1\";\"2\";\"3\";\"0\";\"\"\n"
                       "\"1\";\"2\";\"3\";\"Ma\xe7\xe3 S/A\";\"7\"");
    EXPECT_EQ(r.rows, (Rows{{"06990590000123", "2019-01-05", "#2062", "k:20190105", "20190105"},
                            {"123", "-", "-", "k:0", "0"},
                            {"123", "-", "#7", "k:maca s a", "Ma\xe7\xe3 S/A"}}));
    EXPECT_TRUE(r.errors.empty());
}

TEST(RowReader, LinesThatDoNotReadAreNotedAndReadingGoesOn) {
    using namespace std::string_literals;
    RowsRead r = read_rows(2, {{opendata::kCode, 1}},
                           "\"a\";\"1\"\n"
                           "\n"
                           "\"a\";\"x1\"\n"
                           "\"a\"\n"
                           "\"a\";\"1\"x\n"
                           "\"a\0\";\"1\"\n"
                           "\"a\";\"2\"\n"s);
    EXPECT_EQ(r.rows, (Rows{{"#1"}, {"#2"}}));
    EXPECT_EQ(r.errors, (Errors{{3, "campo 2: código não numérico"},
                                {4, "esperados 2 campos, encontrados 1"},
                                {5, "texto depois de aspas de fechamento"},
                                {6, "byte nulo na linha"}}));
}

TEST(RowReader, OverlongLinesAreNoted) {
    std::string data = "\"a\"\n" + std::string(opendata::kMaxLine + 1, 'x') + "\n\"b\"\n";
    RowsRead r = read_rows(1, {{opendata::kText, 0}}, data);
    EXPECT_EQ(r.rows, (Rows{{"a"}, {"b"}}));
    EXPECT_EQ(r.errors, (Errors{{2, "linha longa demais (mais de 1 MiB)"}}));
}
