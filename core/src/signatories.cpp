#include "quillon/signatories.hpp"

#include <algorithm>

namespace quillon::signatories {

void PreparedName::index() {
    words_.clear();
    char_bits_ = 0;
    const std::size_t n = text_.size();
    for (char32_t c : text_) char_bits_ |= std::uint64_t{1} << (c & 63);
    std::size_t i = 0;
    while (i < n) {
        while (i < n && text::is_space(text_[i])) ++i;
        std::size_t start = i;
        while (i < n && !text::is_space(text_[i])) ++i;
        if (i - start >= 3) words_.emplace_back(static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(i - start));
    }
    std::sort(words_.begin(), words_.end(), [this](const auto& x, const auto& y) {
        return text_.compare(x.first, x.second, text_, y.first, y.second) < 0;
    });
    words_.erase(std::unique(words_.begin(), words_.end(),
                             [this](const auto& x, const auto& y) {
                                 return text_.compare(x.first, x.second, text_, y.first, y.second) == 0;
                             }),
                 words_.end());
}

bool contains(std::u32string_view haystack, std::u32string_view needle) noexcept {
    if (needle.size() > haystack.size()) return false;
    return haystack.find(needle) != std::u32string_view::npos;
}

bool names_match(const PreparedName& a, const PreparedName& b) noexcept {
    if (a.empty() || b.empty()) return false;
    // Containment, either way; the bit sets rule most pairs out at once.
    if ((a.char_bits_ & ~b.char_bits_) == 0 && contains(b.text_, a.text_)) return true;
    if ((b.char_bits_ & ~a.char_bits_) == 0 && contains(a.text_, b.text_)) return true;
    // Two shared words: a merge of the two sorted word lists.
    if (a.words_.size() < 2 || b.words_.size() < 2) return false;
    std::size_t i = 0, j = 0, shared = 0;
    while (i < a.words_.size() && j < b.words_.size()) {
        int cmp = a.word(i).compare(b.word(j));
        if (cmp == 0) {
            if (++shared == 2) return true;
            ++i;
            ++j;
        } else if (cmp < 0) {
            ++i;
        } else {
            ++j;
        }
    }
    return false;
}

}  // namespace quillon::signatories
