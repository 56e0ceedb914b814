#include "quillon/keywords.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace quillon;
using keywords::Matcher;

namespace {

std::u32string u(std::string_view utf8) { return text::from_utf8(utf8); }

std::vector<std::u32string> found_entries(std::string_view utf8) {
    return keywords::screen_default(u(utf8)).encontradas;
}

std::vector<std::u32string> list(std::initializer_list<std::string_view> utf8) {
    std::vector<std::u32string> out;
    for (auto s : utf8) out.push_back(u(s));
    return out;
}

// Which needles a plain substring search finds.
std::vector<bool> naive(const std::vector<std::u32string>& needles, const std::u32string& text) {
    std::vector<bool> out;
    for (const auto& n : needles) out.push_back(text.find(n) != std::u32string::npos);
    return out;
}

std::vector<bool> scanned(const Matcher& m, const std::u32string& text, std::size_t piece = 0) {
    Matcher::Scan scan(m);
    if (piece == 0) {
        scan.feed(text.data(), text.size());
    } else {
        for (std::size_t i = 0; i < text.size(); i += piece)
            scan.feed(text.data() + i, std::min(piece, text.size() - i));
    }
    std::vector<bool> out;
    for (std::size_t i = 0; i < m.needle_count(); ++i) out.push_back(scan.found(i));
    return out;
}

}  // namespace

TEST(Screening, ExamplesOfTheRules) {
    auto r = keywords::screen_default(u("CONTRATO de prestação de serviços, cláusula primeira"));
    EXPECT_TRUE(r.eh_contrato);
    EXPECT_EQ(r.quantidade, 3u);
    EXPECT_EQ(r.encontradas, list({"contrato", "cláusula", "clausula"}));
    EXPECT_FALSE(keywords::screen_default(u("acordo e termo")).eh_contrato);
    EXPECT_TRUE(keywords::screen_default(U"").encontradas.empty());
    // Substrings, no word boundaries; multi-word entries need exactly one space.
    EXPECT_EQ(found_entries("termos e valores da prestadora"),
              list({"termo", "prestador", "prestadora", "valor"}));
    EXPECT_TRUE(found_entries("neste  ato representada ICP Brasil").empty());
    // The first exclusion in table order wins, reported with the table's accents.
    auto x = keywords::screen_default(u("Contrato, cláusula, objeto. Boleto e RECIBO"));
    EXPECT_FALSE(x.eh_contrato);
    EXPECT_EQ(x.quantidade, 0u);
    EXPECT_EQ(x.encontradas, list({"EXCLUSÃO: recibo"}));
    EXPECT_EQ(found_entries("CONCORRE\xCC\x82NCIA PUBLICA"), list({"EXCLUSÃO: concorrência pública"}));
}

TEST(Screening, WideTextAcrossFoldBlocks) {
    // More than one fold block (16384 code points) of 16-bit text, with an
    // entry spanning the block edge and decomposed accents all along.
    std::u32string text;
    while (text.size() < 16380) text += U"\u2014 e\u0301 ";
    text += U"cla\u0301usula";
    while (text.size() < 40000) text += U"\u03A3\u0301x ";
    text += U"testemunha";
    std::vector<char16_t> wide(text.begin(), text.end());
    auto v = keywords::default_keyword_screen().screen(wide.data(), wide.size());
    ASSERT_FALSE(v.excluded());
    std::vector<std::size_t> expected{13, 14, 35};  // cláusula, clausula, testemunha
    EXPECT_EQ(v.validation, expected);
}

TEST(Screening, EightBitTextFoldsOnTheFly) {
    std::string latin1 = "CL\xC1USULA \xC0 VIG\xCANCIA";  // Latin-1 bytes
    auto v = keywords::default_keyword_screen().screen(reinterpret_cast<const std::uint8_t*>(latin1.data()),
                                                 latin1.size());
    std::vector<std::size_t> expected{13, 14, 16, 17};
    EXPECT_EQ(v.validation, expected);
}

TEST(Matcher, OverlappingAndNestedNeedles) {
    auto needles = list({"he", "she", "his", "hers", "e", "ushers!"});
    Matcher m(needles);
    EXPECT_TRUE(m.dense());
    std::u32string text = U"ushers";
    EXPECT_EQ(scanned(m, text), naive(needles, text));
    text = U"ahishers!";
    EXPECT_EQ(scanned(m, text), naive(needles, text));
}

TEST(Matcher, DuplicatesAndEmptyNeedles) {
    auto needles = list({"ab", "", "ab", "b"});
    Matcher m(needles);
    EXPECT_EQ(scanned(m, U""), (std::vector<bool>{false, true, false, false}));
    EXPECT_EQ(scanned(m, U"xab"), (std::vector<bool>{true, true, true, true}));
    Matcher none({});
    Matcher::Scan scan(none);
    scan.feed(U"abc", 3);
    EXPECT_TRUE(scan.complete());
}

TEST(Matcher, CodePointsBeyondLatin1) {
    auto needles = list({"жrua", "ρ", "日本語", "😀x", "a😀"});
    Matcher m(needles);
    std::u32string text = u("xжrua 日本語 a😀x");
    EXPECT_EQ(scanned(m, text), naive(needles, text));
}

TEST(Matcher, DenseAndSparseAgreeWithPlainSearch) {
    std::mt19937 rng(12345);
    const std::u32string alphabet = U"abc\u00E9\u0416 ";
    auto random_string = [&](std::size_t max_len) {
        std::uniform_int_distribution<std::size_t> len(0, max_len);
        std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
        std::u32string s(len(rng), U' ');
        for (auto& c : s) c = alphabet[pick(rng)];
        return s;
    };
    for (int round = 0; round < 300; ++round) {
        std::vector<std::u32string> needles;
        std::size_t count = 1 + rng() % 20;
        for (std::size_t i = 0; i < count; ++i) needles.push_back(random_string(5));
        std::u32string text = random_string(200);
        auto expected = naive(needles, text);
        Matcher dense(needles);
        Matcher sparse(needles, 0);
        ASSERT_TRUE(dense.dense());
        ASSERT_FALSE(sparse.dense());
        ASSERT_EQ(scanned(dense, text), expected) << round;
        ASSERT_EQ(scanned(sparse, text), expected) << round;
        ASSERT_EQ(scanned(dense, text, 1 + rng() % 7), expected) << round;
        ASSERT_EQ(scanned(sparse, text, 1 + rng() % 7), expected) << round;
    }
}

TEST(Matcher, LongTextsWalkedInInterleavedPieces) {
    // Texts long enough to be cut into pieces walked side by side; rare
    // needles so that many are found only near the cuts.
    std::mt19937 rng(777);
    const std::u32string alphabet = U"abcd";
    auto random_string = [&](std::size_t len) {
        std::u32string s(len, U'a');
        for (auto& c : s) c = alphabet[rng() % alphabet.size()];
        return s;
    };
    for (int round = 0; round < 60; ++round) {
        std::vector<std::u32string> needles;
        for (int i = 0; i < 12; ++i) needles.push_back(random_string(4 + rng() % 6));
        std::u32string text = random_string(4096 + rng() % 20000);
        // Plant a few needles right at the cuts of the four pieces.
        for (std::size_t k = 1; k < 4; ++k) {
            const auto& nd = needles[rng() % needles.size()];
            std::size_t at = k * (text.size() / 4) - rng() % nd.size();
            text.replace(at, nd.size(), nd);
        }
        auto expected = naive(needles, text);
        Matcher m(needles);
        ASSERT_EQ(scanned(m, text), expected) << round;
        ASSERT_EQ(scanned(m, text, 5000 + rng() % 3000), expected) << round;
    }
}

TEST(Matcher, LargeAlphabetFallsBackToFailureLinks) {
    // 3000 needles of distinct CJK code points: too large a table.
    std::vector<std::u32string> needles;
    for (char32_t c = 0x4E00; c < 0x4E00 + 3000; ++c) needles.push_back({c, static_cast<char32_t>(c + 1)});
    Matcher m(needles);
    EXPECT_FALSE(m.dense());
    std::u32string text = U"x\u4E05\u4E06\u4E07y";
    auto got = scanned(m, text);
    EXPECT_TRUE(got[5]);
    EXPECT_TRUE(got[6]);
    EXPECT_FALSE(got[4]);
    EXPECT_FALSE(got[7]);
}

TEST(KeywordScreen, CustomTablesAreFoldedToo) {
    keywords::KeywordScreen s(list({"Fatura"}), list({"AÇÃO", "ação", "İ", "ẞ"}));
    std::u32string text = u("acao istanbul straße");
    auto v = s.screen(text.data(), text.size());
    ASSERT_FALSE(v.excluded());
    EXPECT_EQ(v.validation, (std::vector<std::size_t>{0, 1, 2, 3}));
    text = u("FATURA");
    EXPECT_EQ(s.screen(text.data(), text.size()).exclusion, 0u);
}
