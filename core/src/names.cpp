#include "quillon/names.hpp"

#include "quillon/words.hpp"

namespace quillon::names {

bool match_normalized(std::u32string_view n1, std::u32string_view n2) {
    if (n1.empty() || n2.empty()) return false;
    if (n2.find(n1) != std::u32string_view::npos || n1.find(n2) != std::u32string_view::npos) return true;
    auto w1 = words::long_words(n1, kMinWordLength);
    if (w1.size() < kMinCommonWords) return false;
    auto w2 = words::long_words(n2, kMinWordLength);
    return words::count_common(w1, w2) >= kMinCommonWords;
}

}  // namespace quillon::names
