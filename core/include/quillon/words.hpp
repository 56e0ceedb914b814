// Word sets of normalised text, as the name and address comparisons build
// them: split at runs of white space (Python's str.split()), keep the words of
// at least a given number of code points, duplicates collapsed.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace quillon::words {

// The distinct words of `s` with at least `min_length` code points, sorted.
// The views point into `s`.
std::vector<std::u32string_view> long_words(std::u32string_view s, std::size_t min_length);

// How many words two sorted, duplicate-free word lists have in common.
std::size_t count_common(const std::vector<std::u32string_view>& a, const std::vector<std::u32string_view>& b);

}  // namespace quillon::words
