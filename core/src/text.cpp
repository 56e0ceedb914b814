#include "quillon/text.hpp"

#include <utf8proc.h>

#include <algorithm>
#include <iterator>

namespace quillon::text {
namespace {

struct CodeRange {
    char32_t first;
    char32_t last;
};

#include "case_context_table.inc"

template <std::size_t N>
bool in_ranges(const CodeRange (&table)[N], char32_t c) noexcept {
    const CodeRange* end = table + N;
    const CodeRange* it = std::upper_bound(table, end, c, [](char32_t v, const CodeRange& r) { return v < r.first; });
    return it != table && c <= (it - 1)->last;
}

inline utf8proc_propval_t category(char32_t c) noexcept {
    return utf8proc_get_property(static_cast<utf8proc_int32_t>(c))->category;
}

}  // namespace

namespace detail {

int decimal_value_slow(char32_t c) noexcept {
    if (c > 0x10FFFF || category(c) != UTF8PROC_CATEGORY_ND) return -1;
    // Unicode encodes every decimal digit set as ten consecutive code points
    // from 0 to 9, and some sets sit back to back (the mathematical digits),
    // so the value is the distance from the start of the run, modulo ten.
    char32_t start = c;
    while (start > 0 && category(start - 1) == UTF8PROC_CATEGORY_ND) --start;
    return static_cast<int>((c - start) % 10);
}

int case_context_class(char32_t c) noexcept {
    if (in_ranges(kCaseIgnorable, c)) return 1;
    if (in_ranges(kCasedNotIgnorable, c)) return 2;
    return 0;
}

std::size_t decompose_nfd(char32_t c, char32_t* buf) noexcept {
    if (c > 0x10FFFF) {
        buf[0] = c;
        return 1;
    }
    utf8proc_int32_t tmp[8];
    int last_boundclass = 0;
    utf8proc_ssize_t k = utf8proc_decompose_char(static_cast<utf8proc_int32_t>(c), tmp, 8,
                                                 UTF8PROC_DECOMPOSE, &last_boundclass);
    if (k <= 0 || k > 8) {
        buf[0] = c;
        return 1;
    }
    for (utf8proc_ssize_t i = 0; i < k; ++i) buf[i] = static_cast<char32_t>(tmp[i]);
    return static_cast<std::size_t>(k);
}

int canonical_class(char32_t c) noexcept {
    if (c < 0x300 || c > 0x10FFFF) return 0;
    return utf8proc_get_property(static_cast<utf8proc_int32_t>(c))->combining_class;
}

}  // namespace detail

bool is_nonspacing_mark(char32_t c) noexcept {
    return c >= 0x300 && c <= 0x10FFFF && category(c) == UTF8PROC_CATEGORY_MN;
}

bool is_word(char32_t c) noexcept {
    if (c < 0x80) return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    if (c > 0x10FFFF) return false;
    switch (category(c)) {
        case UTF8PROC_CATEGORY_LU: case UTF8PROC_CATEGORY_LL: case UTF8PROC_CATEGORY_LT:
        case UTF8PROC_CATEGORY_LM: case UTF8PROC_CATEGORY_LO:
        case UTF8PROC_CATEGORY_ND: case UTF8PROC_CATEGORY_NL: case UTF8PROC_CATEGORY_NO:
            return true;
        default:
            return false;
    }
}

namespace {

Latin1Fold build_latin1_fold() noexcept {
    Latin1Fold t{};
    for (char32_t c = 0; c < 0x100; ++c) {
        char32_t buf[8];
        detail::decompose_nfd(c, buf);
        // Latin-1 decomposes to a Latin-1 starter followed by non-spacing
        // marks only, which the fold drops.
        char32_t starter = buf[0];
        auto lower = static_cast<char32_t>(utf8proc_tolower(static_cast<utf8proc_int32_t>(starter)));
        t.folded[c] = static_cast<std::uint8_t>(lower);
        t.context[c] = static_cast<std::int8_t>(detail::case_context_class(starter));
    }
    return t;
}

}  // namespace

const Latin1Fold& latin1_fold() noexcept {
    static const Latin1Fold table = build_latin1_fold();
    return table;
}

bool fold_latin1(const std::uint8_t* s, std::size_t n, std::uint8_t* out) noexcept {
    const std::uint8_t* folded = latin1_fold().folded;
    std::uint8_t any = 0;
    for (std::size_t i = 0; i < n; ++i) any |= (out[i] = folded[s[i]]);
    return any >= 0x80;
}

void fold_ascii(const std::uint8_t* s, std::size_t n, std::uint8_t* out) noexcept {
    // Branch-free so that the compiler vectorises it.
    for (std::size_t i = 0; i < n; ++i) {
        std::uint8_t c = s[i];
        out[i] = static_cast<std::uint8_t>(c + ((static_cast<unsigned>(c - 'A') < 26u) << 5));
    }
}

void Folder::emit_starter(char32_t c, bool final_sigma) {
    switch (c) {
        case 0x03A3:
            out_.push_back(final_sigma ? 0x03C2 : 0x03C3);
            break;
        case 0x0130:  // the one unconditional multi-character lower-case mapping
            out_.push_back(0x0069);
            out_.push_back(0x0307);
            break;
        default:
            out_.push_back(c > 0x10FFFF ? c : static_cast<char32_t>(utf8proc_tolower(static_cast<utf8proc_int32_t>(c))));
    }
    int cls = detail::case_context_class(c);
    if (cls != 1) prev_cased_ = (cls == 2);
}

void Folder::add_mark(char32_t c) {
    if (is_nonspacing_mark(c)) return;
    if (mark_run_start_ == kNoRun) mark_run_start_ = out_.size();
    out_.push_back(c);  // marks of canonical class != 0 have no case mapping
}

void Folder::flush_marks() {
    auto first = out_.begin() + static_cast<std::ptrdiff_t>(mark_run_start_);
    if (std::distance(first, out_.end()) > 1)
        std::stable_sort(first, out_.end(), [](char32_t a, char32_t b) {
            return detail::canonical_class(a) < detail::canonical_class(b);
        });
    for (auto it = first; it != out_.end(); ++it) {
        int cls = detail::case_context_class(*it);
        if (cls != 1) prev_cased_ = (cls == 2);
    }
    mark_run_start_ = kNoRun;
}

void strip_in_place(std::u32string& s) {
    std::size_t first = 0, last = 0;
    strip_bounds(s.data(), s.size(), first, last);
    if (last < s.size()) s.erase(last);
    if (first > 0) s.erase(0, first);
}

std::u32string from_utf8(std::string_view s) {
    std::u32string out;
    out.reserve(s.size());
    const auto* p = reinterpret_cast<const utf8proc_uint8_t*>(s.data());
    utf8proc_ssize_t left = static_cast<utf8proc_ssize_t>(s.size());
    while (left > 0) {
        utf8proc_int32_t cp = 0;
        utf8proc_ssize_t k = utf8proc_iterate(p, left, &cp);
        if (k <= 0) {  // invalid byte: take it as U+FFFD and move on
            out.push_back(0xFFFD);
            k = 1;
        } else {
            out.push_back(static_cast<char32_t>(cp));
        }
        p += k;
        left -= k;
    }
    return out;
}

std::string to_utf8(std::u32string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char32_t c : s) {
        utf8proc_uint8_t buf[4];
        utf8proc_ssize_t k = utf8proc_encode_char(static_cast<utf8proc_int32_t>(c), buf);
        out.append(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(k));
    }
    return out;
}

}  // namespace quillon::text
