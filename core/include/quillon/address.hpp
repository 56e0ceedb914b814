// Street addresses as the contract checker compares a contract's address with
// the registry's.
//
// normalize() folds the text (NFD, non-spacing marks dropped, full
// lower-case), strips it, then applies sixteen substitutions in order, each as
// Python's re.sub would with these patterns over str (\b, \s and \w with their
// Unicode meaning), and strips again:
//
//    1  \s+             -> " "        9  \bedificio\b  -> "ed"
//    2  [.,;:\-/\\]     -> " "       10  \bpredio\b    -> "ed"
//    3  \bn[ºo]?\s*     -> ""        11  \bconjunto\b  -> "cj"
//    4  \brua\b         -> "r"       12  \bconj\b      -> "cj"
//    5  \bavenida\b     -> "av"      13  \bsala\b      -> "sl"
//    6  \bavda?\b       -> "av"      14  \bandar\b     -> "and"
//    7  \btravessa\b    -> "tv"      15  \bbairro\b    -> ""
//    8  \bpracas?\b     -> "pc"      16  \bcep\b       -> ""
//
// No regular-expression engine runs: rules 1 and 2 are one pass; rule 3 is a
// pass over word starts; rules 4 to 16 each match a whole word (a maximal run
// of \w characters: every pattern starts and ends with a letter between two
// \b), no replacement is itself a word of a later rule, and removing a word
// never joins two words, so one pass replacing whole words through a table
// gives what the thirteen passes give.
//
// Rule 3 has no \b after it: it takes "n", "nº" or "no" (and the white space
// after) off the start of every word, "nova" -> "va".  Both sides of a
// comparison go through it, so such words still compare equal.
//
// compare() takes two addresses that are not empty: identical normal forms
// give 1.0, one contained in the other 0.9 (whatever the threshold), else the
// Jaccard similarity of their sets of words of three or more code points,
// matching when it reaches the threshold.  An empty normal form or an empty
// word set gives 0.0 and no match.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "quillon/text.hpp"

namespace quillon::address {

inline constexpr std::size_t kMinWordLength = 3;
inline constexpr double kDefaultThreshold = 0.85;
inline constexpr double kContainedSimilarity = 0.9;

// Rules 1 to 16 and the final strip, in place, over text already folded and
// stripped.
void apply_rules(std::u32string& folded);

template <class CharT>
std::u32string normalize(const CharT* s, std::size_t n) {
    std::u32string out;
    if (n == 0) return out;
    text::fold_append(s, n, out);
    text::strip_in_place(out);
    apply_rules(out);
    return out;
}

inline std::u32string normalize(std::u32string_view s) { return normalize(s.data(), s.size()); }

struct Comparison {
    bool confere = false;
    double similaridade = 0.0;
};

// The comparison of two normalised addresses.
Comparison compare_normalized(std::u32string_view contrato, std::u32string_view receita, double threshold);

template <class Char1, class Char2>
Comparison compare(const Char1* contrato, std::size_t n_contrato, const Char2* receita, std::size_t n_receita,
                   double threshold) {
    return compare_normalized(normalize(contrato, n_contrato), normalize(receita, n_receita), threshold);
}

inline Comparison compare(std::u32string_view contrato, std::u32string_view receita,
                          double threshold = kDefaultThreshold) {
    return compare(contrato.data(), contrato.size(), receita.data(), receita.size(), threshold);
}

}  // namespace quillon::address
