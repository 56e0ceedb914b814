// Random text through every text function of the core, checking what must
// hold whatever the text: the same answers for the three code-unit widths,
// the block-wise fold equal to the fold of one code point at a time,
// symmetric comparisons.  Under the sanitizer build this is also the memory
// check of those paths.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "quillon/address.hpp"
#include "quillon/keywords.hpp"
#include "quillon/names.hpp"
#include "quillon/text.hpp"

using namespace quillon;

namespace {

// Code points that matter to the rules, and any others.
std::u32string random_text(std::mt19937& rng, std::size_t max_len, char32_t max_cp) {
    static const std::u32string pieces[] = {
        U"contrato", U"CLÁUSULA", U"Cla\u0301usula", U"nota fiscal", U"rua", U"Avenida", U"nº", U"no", U"n ",
        U" ", U"\t", U"\u00A0", U"\u2028", U"-", U",", U".", U"\u0301", U"\u0327", U"\u0345", U"\U0001D165",
        U"\u03A3", U"\u0391\u03A3", U"\u0130", U"\u1E9E", U"\u00BA", U"\u0416", U"\U0001F600",
        U"\U0001D16D\U0001D165", U"\u212A", U"\uAC00", std::u32string(1, char32_t{0xD800}),
    };
    std::uniform_int_distribution<std::size_t> count(0, max_len);
    std::u32string s;
    for (std::size_t k = count(rng); k > 0; --k) {
        switch (rng() % 4) {
            case 0: {
                const auto& p = pieces[rng() % std::size(pieces)];
                for (char32_t c : p)
                    if (c <= max_cp) s.push_back(c);
                break;
            }
            case 1:
                s.push_back(static_cast<char32_t>(rng() % 0x80));
                break;
            case 2:
                s.push_back(static_cast<char32_t>(rng() % 0x100));
                break;
            default:
                s.push_back(static_cast<char32_t>(rng() % (max_cp + 1)));
        }
    }
    return s;
}

template <class Unit>
std::vector<Unit> narrowed(const std::u32string& s) {
    return std::vector<Unit>(s.begin(), s.end());
}

// The fold pushed one code point at a time.
std::u32string fold_one_by_one(const std::u32string& s) {
    std::u32string out;
    text::Folder folder(out);
    for (std::size_t i = 0; i < s.size(); ++i) {
        folder.push(s[i], [&](auto&& visit) {
            for (std::size_t j = i + 1; j < s.size(); ++j)
                if (!visit(s[j])) return;
        });
    }
    folder.finish();
    return out;
}

void expect_same_verdict(const keywords::KeywordVerdict& a, const keywords::KeywordVerdict& b, const std::u32string& s) {
    EXPECT_EQ(a.exclusion, b.exclusion) << text::to_utf8(s);
    EXPECT_EQ(a.validation, b.validation) << text::to_utf8(s);
}

}  // namespace

TEST(RandomText, FoldIsTheSameBlockWiseAndAtEveryWidth) {
    std::mt19937 rng(2024);
    for (int round = 0; round < 3000; ++round) {
        char32_t max_cp = round % 3 == 0 ? 0xFF : round % 3 == 1 ? 0xFFFF : 0x10FFFF;
        std::u32string s = random_text(rng, round % 50 == 0 ? 400 : 40, max_cp);
        std::u32string expected = fold_one_by_one(s);
        ASSERT_EQ(text::fold(s), expected) << text::to_utf8(s);
        if (max_cp <= 0xFFFF) {
            auto wide = narrowed<std::uint16_t>(s);
            std::u32string out;
            text::fold_append(wide.data(), wide.size(), out);
            ASSERT_EQ(out, expected);
        }
        if (max_cp <= 0xFF) {
            auto bytes = narrowed<std::uint8_t>(s);
            std::vector<std::uint8_t> out(bytes.size());
            text::fold_latin1(bytes.data(), bytes.size(), out.data());
            ASSERT_EQ(std::u32string(out.begin(), out.end()), expected);
        }
    }
}

TEST(RandomText, ScreeningIsTheSameAtEveryWidth) {
    std::mt19937 rng(99);
    const auto& screener = keywords::default_keyword_screen();
    for (int round = 0; round < 3000; ++round) {
        char32_t max_cp = round % 2 == 0 ? 0xFF : 0xFFFF;
        // Now and then long enough for the interleaved walk.
        std::u32string s = random_text(rng, round % 100 == 0 ? 9000 : 60, max_cp);
        auto v32 = screener.screen(s.data(), s.size());
        auto wide = narrowed<std::uint16_t>(s);
        expect_same_verdict(screener.screen(wide.data(), wide.size()), v32, s);
        if (max_cp <= 0xFF) {
            auto bytes = narrowed<std::uint8_t>(s);
            expect_same_verdict(screener.screen(bytes.data(), bytes.size()), v32, s);
        }
    }
}

TEST(RandomText, ComparisonsAreSymmetricAndReflexive) {
    std::mt19937 rng(7);
    for (int round = 0; round < 3000; ++round) {
        std::u32string a = random_text(rng, 12, 0x10FFFF);
        std::u32string b = random_text(rng, 12, 0x10FFFF);
        EXPECT_EQ(names::match(a, b), names::match(b, a));
        EXPECT_EQ(names::match(a, a), !names::normalize(a).empty());
        auto na = address::normalize(a);
        auto self = address::compare(a, a);
        EXPECT_EQ(self.confere, !na.empty());
        EXPECT_EQ(self.similaridade, na.empty() ? 0.0 : 1.0);
        auto ab = address::compare(a, b), ba = address::compare(b, a);
        EXPECT_EQ(ab.confere, ba.confere);
        EXPECT_EQ(ab.similaridade, ba.similaridade);
        EXPECT_GE(ab.similaridade, 0.0);
        EXPECT_LE(ab.similaridade, 1.0);
        EXPECT_LE(na.size(), text::fold(a).size());  // every rule shortens or keeps
    }
}
