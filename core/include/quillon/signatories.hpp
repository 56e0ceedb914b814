// Tolerant comparison of person and company names, prepared once for
// one-to-many use: a signatory is compared with every partner of a company's
// partner list (QSA), sometimes with every partner of every company of a
// contract.
//
// Two names match when, after normalisation (NFD, combining marks dropped,
// lower case, white space trimmed at both ends), either contains the other,
// or they share at least two distinct words of three or more characters
// (words split at Python white space).  An empty name matches nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "quillon/text.hpp"

namespace quillon::signatories {

class PreparedName {
public:
    PreparedName() = default;

    template <class CharT>
    static PreparedName from(const CharT* s, std::size_t n) {
        PreparedName p;
        text::fold_append(s, n, p.text_);
        text::strip_in_place(p.text_);
        p.index();
        return p;
    }

    const std::u32string& text() const noexcept { return text_; }
    bool empty() const noexcept { return text_.empty(); }
    std::size_t word_count() const noexcept { return words_.size(); }

    friend bool names_match(const PreparedName& a, const PreparedName& b) noexcept;

private:
    void index();
    struct Word {
        std::uint64_t hash;
        std::uint32_t offset;
        std::uint32_t length;
    };

    std::u32string_view word(const Word& w) const noexcept {
        return std::u32string_view(text_).substr(w.offset, w.length);
    }

    std::u32string text_;
    // Distinct words of three or more code points, sorted by hash.
    std::vector<Word> words_;
    // One bit per (code point mod 64) present: a name can only contain
    // another whose bits are a subset of its own.
    std::uint64_t char_bits_ = 0;
    // One bit per (word hash mod 64): names without a common bit share no word.
    std::uint64_t word_bits_ = 0;
};

bool names_match(const PreparedName& a, const PreparedName& b) noexcept;

// Whether `needle` occurs in `haystack` (empty needle: always).
bool contains(std::u32string_view haystack, std::u32string_view needle) noexcept;

}  // namespace quillon::signatories
