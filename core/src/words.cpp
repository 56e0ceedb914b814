#include "quillon/words.hpp"

#include <algorithm>

#include "quillon/text.hpp"

namespace quillon::words {

std::vector<std::u32string_view> long_words(std::u32string_view s, std::size_t min_length) {
    std::vector<std::u32string_view> out;
    std::size_t i = 0;
    const std::size_t n = s.size();
    while (i < n) {
        while (i < n && text::is_space(s[i])) ++i;
        std::size_t start = i;
        while (i < n && !text::is_space(s[i])) ++i;
        if (i - start >= min_length && i > start) out.push_back(s.substr(start, i - start));
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

std::size_t count_common(const std::vector<std::u32string_view>& a, const std::vector<std::u32string_view>& b) {
    std::size_t common = 0;
    auto ia = a.begin();
    auto ib = b.begin();
    while (ia != a.end() && ib != b.end()) {
        if (*ia < *ib) {
            ++ia;
        } else if (*ib < *ia) {
            ++ib;
        } else {
            ++common;
            ++ia;
            ++ib;
        }
    }
    return common;
}

}  // namespace quillon::words
