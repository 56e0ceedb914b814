#include "quillon/address.hpp"

#include "quillon/words.hpp"

#include <array>
#include <cstdint>

namespace quillon::address {

namespace {

constexpr char32_t kOrdinal = 0x00BA;  // º, a letter (Lo), so inside a word

// What the rules need to know of a code point, from a table for ASCII.
enum : std::uint8_t { kSpace = 1, kSeparator = 2, kWord = 4 };

constexpr std::array<std::uint8_t, 128> kAsciiClass = [] {
    std::array<std::uint8_t, 128> t{};
    for (char32_t c = 0; c < 128; ++c) {
        if (text::is_space(c)) t[c] = kSpace;
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_') t[c] = kWord;
    }
    for (char c : {'.', ',', ';', ':', '-', '/', '\\'}) t[static_cast<unsigned char>(c)] = kSeparator;
    return t;
}();

inline std::uint8_t char_class(char32_t c) noexcept {
    if (c < 0x80) return kAsciiClass[c];
    if (text::is_space(c)) return kSpace;
    return text::is_word(c) ? kWord : 0;
}

inline bool is_word(char32_t c) noexcept { return char_class(c) & kWord; }

struct WordRule {
    std::u32string_view word;
    std::u32string_view replacement;
};

// Rules 4 to 16; "avd"/"avda" and "praca"/"pracas" are the two spellings
// their optional letter allows.
constexpr WordRule kWordRules[] = {
    {U"rua", U"r"},        {U"avenida", U"av"}, {U"avd", U"av"},     {U"avda", U"av"},
    {U"travessa", U"tv"},  {U"praca", U"pc"},   {U"pracas", U"pc"},  {U"edificio", U"ed"},
    {U"predio", U"ed"},    {U"conjunto", U"cj"}, {U"conj", U"cj"},   {U"sala", U"sl"},
    {U"andar", U"and"},    {U"bairro", U""},    {U"cep", U""},
};

const WordRule* find_rule(std::u32string_view word) noexcept {
    if (word.size() < 3 || word.size() > 8) return nullptr;
    for (const WordRule& r : kWordRules)
        if (r.word == word) return &r;
    return nullptr;
}

// Every rule shortens the text or leaves it as long, so they all rewrite the
// buffer in place: a write position never passes the read position.

// Rules 1 and 2: runs of white space become one space, then each separator
// becomes a space.  A separator ends a run, so ", " gives two spaces.
void collapse_and_separate(std::u32string& s) {
    const std::size_t n = s.size();
    std::size_t w = 0;
    for (std::size_t i = 0; i < n; ++i) {
        char32_t c = s[i];
        std::uint8_t cls = char_class(c);
        if (cls & kSpace) {
            while (i + 1 < n && text::is_space(s[i + 1])) ++i;
            s[w++] = U' ';
        } else {
            s[w++] = (cls & kSeparator) ? U' ' : c;
        }
    }
    s.resize(w);
}

// Rule 3, \bn[ºo]?\s* -> "": at every word start that is an "n", drop it, an
// "º" or "o" right after it, and the white space after that.  The boundary is
// judged on the text before the rule, as re.sub does, so after a match the
// next word may start a match of its own ("n n 5" -> "5").
void drop_number_prefixes(std::u32string& s) {
    const std::size_t n = s.size();
    std::size_t w = 0;
    std::size_t i = 0;
    bool after_word = false;  // whether s[i - 1], as it was before the rule, is \w
    while (i < n) {
        if (s[i] == U'n' && !after_word) {
            std::size_t j = i + 1;
            if (j < n && (s[j] == kOrdinal || s[j] == U'o')) ++j;
            while (j < n && text::is_space(s[j])) ++j;
            after_word = is_word(s[j - 1]);
            i = j;
            continue;
        }
        after_word = is_word(s[i]);
        s[w++] = s[i++];
    }
    s.resize(w);
}

// Rules 4 to 16 as one pass over whole words.
void replace_words(std::u32string& s) {
    const std::size_t n = s.size();
    std::size_t w = 0;
    std::size_t i = 0;
    while (i < n) {
        if (!is_word(s[i])) {
            s[w++] = s[i++];
            continue;
        }
        std::size_t start = i;
        while (i < n && is_word(s[i])) ++i;
        const WordRule* rule = find_rule(std::u32string_view(s).substr(start, i - start));
        if (rule) {
            for (char32_t c : rule->replacement) s[w++] = c;
        } else {
            for (std::size_t k = start; k < i; ++k) s[w++] = s[k];
        }
    }
    s.resize(w);
}

}  // namespace

void apply_rules(std::u32string& s) {
    collapse_and_separate(s);
    drop_number_prefixes(s);
    replace_words(s);
    text::strip_in_place(s);
}

Comparison compare_normalized(std::u32string_view contrato, std::u32string_view receita, double threshold) {
    if (contrato.empty() || receita.empty()) return {false, 0.0};
    if (contrato == receita) return {true, 1.0};
    if (receita.find(contrato) != std::u32string_view::npos || contrato.find(receita) != std::u32string_view::npos)
        return {true, kContainedSimilarity};
    auto a = words::long_words(contrato, kMinWordLength);
    auto b = words::long_words(receita, kMinWordLength);
    if (a.empty() || b.empty()) return {false, 0.0};
    std::size_t common = words::count_common(a, b);
    std::size_t either = a.size() + b.size() - common;
    double similarity = static_cast<double>(common) / static_cast<double>(either);
    return {similarity >= threshold, similarity};
}

}  // namespace quillon::address
