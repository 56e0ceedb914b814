// Every code point checked against CPython's own answers (see
// tools/gen_unicode_vectors.py): digits, white space, \w and the fold.
#include "quillon/text.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

using namespace quillon;

namespace {

struct Vectors {
    std::vector<std::pair<char32_t, char32_t>> unassigned;
    std::map<char32_t, int> digits;
    std::set<char32_t> spaces;
    std::vector<std::pair<char32_t, char32_t>> words;
    std::map<char32_t, std::u32string> folds;
    std::vector<std::pair<std::u32string, std::u32string>> fold_strings;

    std::vector<bool> assigned_map;  // by code point; surrogates count as unassigned

    bool assigned(char32_t c) const { return assigned_map[c]; }
};

char32_t hex(const std::string& s) { return static_cast<char32_t>(std::stoul(s, nullptr, 16)); }

std::u32string hex_seq(std::istringstream& in) {
    std::u32string out;
    std::string tok;
    while (in >> tok && tok != ":") {
        if (tok != "-") out.push_back(hex(tok));
    }
    return out;
}

const Vectors& vectors() {
    static const Vectors v = [] {
        Vectors r;
        std::ifstream f(QUILLON_TEST_DATA_DIR "/unicode_vectors.txt");
        EXPECT_TRUE(f.good()) << "missing unicode_vectors.txt";
        std::string line;
        while (std::getline(f, line)) {
            std::istringstream in(line);
            std::string kind, a, b, value;
            in >> kind;
            if (kind == "cn") {
                in >> a >> b;
                r.unassigned.emplace_back(hex(a), hex(b));
            } else if (kind == "digit") {
                in >> a >> b >> value;
                for (char32_t c = hex(a); c <= hex(b); ++c)
                    r.digits[c] = static_cast<int>((std::stoi(value) + (c - hex(a))) % 10);
            } else if (kind == "space") {
                in >> a;
                r.spaces.insert(hex(a));
            } else if (kind == "word") {
                in >> a >> b;
                r.words.emplace_back(hex(a), hex(b));
            } else if (kind == "fold") {
                std::string colon;
                in >> a >> colon;
                r.folds[hex(a)] = hex_seq(in);
            } else if (kind == "foldstr") {
                std::u32string s = hex_seq(in);
                r.fold_strings.emplace_back(s, hex_seq(in));
            }
        }
        r.assigned_map.assign(0x110000, true);
        for (const auto& [a, b] : r.unassigned)
            for (char32_t c = a; c <= b; ++c) r.assigned_map[c] = false;
        for (char32_t c = 0xD800; c <= 0xDFFF; ++c) r.assigned_map[c] = false;
        return r;
    }();
    return v;
}

}  // namespace

TEST(UnicodeConformance, DecimalDigitsOfEveryCodePoint) {
    const Vectors& v = vectors();
    ASSERT_GT(v.digits.size(), 600u);
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        if (!v.assigned(c)) continue;
        auto it = v.digits.find(c);
        int expected = it == v.digits.end() ? -1 : it->second;
        ASSERT_EQ(text::decimal_value(c), expected) << std::hex << static_cast<unsigned>(c);
    }
}

TEST(UnicodeConformance, WhiteSpaceAndWordCharacters) {
    const Vectors& v = vectors();
    std::size_t w = 0;
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        ASSERT_EQ(text::is_space(c), v.spaces.count(c) == 1) << std::hex << static_cast<unsigned>(c);
        while (w < v.words.size() && v.words[w].second < c) ++w;
        bool word = w < v.words.size() && c >= v.words[w].first;
        if (v.assigned(c)) ASSERT_EQ(text::is_word(c), word) << std::hex << static_cast<unsigned>(c);
    }
}

TEST(UnicodeConformance, FoldOfEveryCodePoint) {
    const Vectors& v = vectors();
    ASSERT_GT(v.folds.size(), 10000u);
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        if (!v.assigned(c)) continue;
        auto it = v.folds.find(c);
        std::u32string expected = it == v.folds.end() ? std::u32string(1, c) : it->second;
        ASSERT_EQ(text::fold(std::u32string(1, c)), expected) << std::hex << static_cast<unsigned>(c);
    }
}

TEST(UnicodeConformance, FoldInContext) {
    const Vectors& v = vectors();
    ASSERT_GT(v.fold_strings.size(), 1000u);
    for (const auto& [in, expected] : v.fold_strings) ASSERT_EQ(text::fold(in), expected) << text::to_utf8(in);
}
