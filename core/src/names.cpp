#include "quillon/names.hpp"

#include <algorithm>

#include "quillon/words.hpp"

namespace quillon::names {

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

void Prepared::index() {
    words_.clear();
    char_bits_ = 0;
    word_bits_ = 0;
    for (char32_t c : text_) char_bits_ |= std::uint64_t{1} << (c & 63);
    for (std::u32string_view w : words::long_words(text_, kMinWordLength)) {
        Word entry{hash_word(w), static_cast<std::uint32_t>(w.data() - text_.data()),
                   static_cast<std::uint32_t>(w.size())};
        words_.push_back(entry);
        word_bits_ |= std::uint64_t{1} << (entry.hash & 63);
    }
    std::sort(words_.begin(), words_.end(), [this](const Word& x, const Word& y) {
        return x.hash != y.hash ? x.hash < y.hash : word(x) < word(y);
    });
}

bool match(const Prepared& a, const Prepared& b) noexcept {
    if (a.empty() || b.empty()) return false;
    // Containment, either way; the bit sets rule most pairs out at once.
    if ((a.char_bits_ & ~b.char_bits_) == 0 && b.text_.find(a.text_) != std::u32string::npos) return true;
    if ((b.char_bits_ & ~a.char_bits_) == 0 && a.text_.find(b.text_) != std::u32string::npos) return true;
    // Common words: a merge of the two word lists, sorted by hash (equal
    // words have equal hashes; equal hashes are confirmed on the text).
    if (a.words_.size() < kMinCommonWords || b.words_.size() < kMinCommonWords ||
        (a.word_bits_ & b.word_bits_) == 0)
        return false;
    std::size_t i = 0, j = 0, shared = 0;
    while (i < a.words_.size() && j < b.words_.size()) {
        const Prepared::Word& x = a.words_[i];
        const Prepared::Word& y = b.words_[j];
        if (x.hash < y.hash) {
            ++i;
        } else if (y.hash < x.hash) {
            ++j;
        } else {
            for (std::size_t k = j; k < b.words_.size() && b.words_[k].hash == x.hash; ++k) {
                if (a.word(x) == b.word(b.words_[k])) {
                    if (++shared == kMinCommonWords) return true;
                    break;
                }
            }
            ++i;
        }
    }
    return false;
}

bool match_normalized(std::u32string_view n1, std::u32string_view n2) {
    // One pair: cheaper without preparing either side.
    if (n1.empty() || n2.empty()) return false;
    if (n2.find(n1) != std::u32string_view::npos || n1.find(n2) != std::u32string_view::npos) return true;
    auto w1 = words::long_words(n1, kMinWordLength);
    if (w1.size() < kMinCommonWords) return false;
    auto w2 = words::long_words(n2, kMinWordLength);
    return words::count_common(w1, w2) >= kMinCommonWords;
}

MatchKind match_kind_normalized(std::u32string_view n1, std::u32string_view n2) {
    if (!match_normalized(n1, n2)) return MatchKind::None;
    if (n1 == n2) return MatchKind::Full;
    auto w1 = words::long_words(n1, kMinWordLength);
    auto w2 = words::long_words(n2, kMinWordLength);
    const std::size_t common = words::count_common(w1, w2);
    if (common >= kFullNameCommonWords) return MatchKind::Full;
    // The same words, told apart only by short ones ("da", "de") or spacing.
    if (common >= kMinCommonWords && common == w1.size() && common == w2.size()) return MatchKind::Full;
    return MatchKind::Fragment;
}

}  // namespace quillon::names
