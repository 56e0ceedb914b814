#include "quillon/signatories.hpp"

#include <algorithm>

namespace quillon::signatories {

namespace {

std::uint64_t hash_word(std::u32string_view w) noexcept {
    std::uint64_t h = 1469598103934665603ull;  // FNV-1a over the code points
    for (char32_t c : w) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h ^ (h >> 29);
}

}  // namespace

void PreparedName::index() {
    words_.clear();
    char_bits_ = 0;
    word_bits_ = 0;
    const std::size_t n = text_.size();
    for (char32_t c : text_) char_bits_ |= std::uint64_t{1} << (c & 63);
    std::size_t i = 0;
    while (i < n) {
        while (i < n && text::is_space(text_[i])) ++i;
        std::size_t start = i;
        while (i < n && !text::is_space(text_[i])) ++i;
        if (i - start >= 3) {
            Word w{0, static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(i - start)};
            w.hash = hash_word(word(w));
            words_.push_back(w);
        }
    }
    std::sort(words_.begin(), words_.end(), [this](const Word& x, const Word& y) {
        return x.hash != y.hash ? x.hash < y.hash : word(x) < word(y);
    });
    words_.erase(std::unique(words_.begin(), words_.end(),
                             [this](const Word& x, const Word& y) { return x.hash == y.hash && word(x) == word(y); }),
                 words_.end());
    for (const Word& w : words_) word_bits_ |= std::uint64_t{1} << (w.hash & 63);
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
    // Two shared words: a merge of the two word lists, sorted by hash (equal
    // words have equal hashes; equal hashes are confirmed on the text).
    if (a.words_.size() < 2 || b.words_.size() < 2 || (a.word_bits_ & b.word_bits_) == 0) return false;
    std::size_t i = 0, j = 0, shared = 0;
    while (i < a.words_.size() && j < b.words_.size()) {
        const auto& x = a.words_[i];
        const auto& y = b.words_[j];
        if (x.hash < y.hash) {
            ++i;
        } else if (y.hash < x.hash) {
            ++j;
        } else {
            // Same hash: walk the run of equal hashes on b's side.
            std::size_t k = j;
            while (k < b.words_.size() && b.words_[k].hash == x.hash) {
                if (a.word(x) == b.word(b.words_[k])) {
                    if (++shared == 2) return true;
                    break;
                }
                ++k;
            }
            ++i;
        }
    }
    return false;
}

}  // namespace quillon::signatories
