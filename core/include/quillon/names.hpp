// Person and company names as the contract checker compares them.
//
// normalize(): NFD, non-spacing marks dropped, full lower-case (final sigma
// included), Python's white space stripped at both ends; inner white space
// and punctuation stay.  "  JOSÉ da Conceição " -> "jose da conceicao".
//
// match(): two names match when neither normalised form is empty and one
// contains the other as a substring (of code points, not words: "ana" is in
// "anabela costa"), or else when their sets of words of three or more code
// points share at least two words.  The test is symmetric.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "quillon/text.hpp"

namespace quillon::names {

inline constexpr std::size_t kMinWordLength = 3;
inline constexpr std::size_t kMinCommonWords = 2;

template <class CharT>
std::u32string normalize(const CharT* s, std::size_t n) {
    std::u32string out;
    if (n == 0) return out;
    text::fold_append(s, n, out);
    text::strip_in_place(out);
    return out;
}

inline std::u32string normalize(std::u32string_view s) { return normalize(s.data(), s.size()); }

// The comparison of two names already normalised.
bool match_normalized(std::u32string_view n1, std::u32string_view n2);

template <class Char1, class Char2>
bool match(const Char1* a, std::size_t na, const Char2* b, std::size_t nb) {
    std::u32string n1 = normalize(a, na);
    if (n1.empty()) return false;
    std::u32string n2 = normalize(b, nb);
    return match_normalized(n1, n2);
}

inline bool match(std::u32string_view a, std::u32string_view b) {
    return match(a.data(), a.size(), b.data(), b.size());
}

}  // namespace quillon::names
