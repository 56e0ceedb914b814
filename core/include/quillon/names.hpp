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
//
// match_kind(): how strongly two names match, for checks that need more than
// the tolerant rule (a signatory approved against a partner list): the same
// name, or only part of one (see MatchKind).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

// A normalised name with what the comparison needs worked out once, for
// one-to-many use (a signatory against every partner of a partner list).
class Prepared {
public:
    Prepared() = default;

    template <class CharT>
    static Prepared from(const CharT* s, std::size_t n) {
        Prepared p;
        p.text_ = normalize(s, n);
        p.index();
        return p;
    }
    static Prepared from_normalized(std::u32string_view normalized) {
        Prepared p;
        p.text_.assign(normalized);
        p.index();
        return p;
    }

    const std::u32string& text() const noexcept { return text_; }
    bool empty() const noexcept { return text_.empty(); }

    // A summary of a name, 16 bytes, enough to rule most pairs out without
    // touching the names themselves: keep it in a flat array beside a list of
    // prepared names and call may_match() before match().
    struct Filter {
        std::uint64_t char_bits = 0;
        std::uint64_t word_bits = 0;
    };
    Filter filter() const noexcept { return {char_bits_, word_bits_}; }

    // False only when the two names cannot match.
    static bool may_match(const Filter& a, const Filter& b) noexcept {
        return (a.char_bits & ~b.char_bits) == 0 || (b.char_bits & ~a.char_bits) == 0 ||
               (a.word_bits & b.word_bits) != 0;
    }

    friend bool match(const Prepared& a, const Prepared& b) noexcept;

private:
    struct Word {
        std::uint64_t hash;
        std::uint32_t offset;
        std::uint32_t length;
    };

    void index();
    std::u32string_view word(const Word& w) const noexcept {
        return std::u32string_view(text_).substr(w.offset, w.length);
    }

    std::u32string text_;
    std::vector<Word> words_;  // the long words, sorted by hash
    // One bit per (code point mod 64) present: a name can only contain
    // another whose bits are a subset of its own.
    std::uint64_t char_bits_ = 0;
    // One bit per (word hash mod 64): names without a common bit share no word.
    std::uint64_t word_bits_ = 0;
};

bool match(const Prepared& a, const Prepared& b) noexcept;

// How two names match.
enum class MatchKind {
    None,      // match() is false
    // A match by part of a name only: the names differ and have fewer than
    // three words of three or more code points in common, so one is a strict
    // part of the other ("JOSE SILVA" in "FABIO JOSE SILVA COELHO", "A" in
    // "ANA MARIA") or they share two words beside words of their own
    // ("JOSE SILVA SOUZA", "JOSE SILVA COELHO").
    Fragment,
    // The same name: equal normalised forms, or the same set of at least two
    // long words ("Jose da Silva", "JOSE SILVA"), or at least three long
    // words in common ("Maria Silva Santos", "MARIA DA SILVA SANTOS").
    Full,
};

inline constexpr std::size_t kFullNameCommonWords = 3;

// The kind of match of two names already normalised.
MatchKind match_kind_normalized(std::u32string_view n1, std::u32string_view n2);

inline MatchKind match_kind(const Prepared& a, const Prepared& b) {
    return match(a, b) ? match_kind_normalized(a.text(), b.text()) : MatchKind::None;
}

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
