// Unicode text primitives shared by the CNPJ, keyword, address and name code.
//
// Everything here mirrors what CPython 3.11 does with the same text, so that
// the compiled modules give the answers their plain-Python formulations give:
//   * white space is Python's str.isspace() / str.strip() / re "\s" set;
//   * a decimal digit is a code point of general category Nd, valued as
//     int() values it;
//   * fold() is unicodedata.normalize("NFD", s) with every "Mn" code point
//     dropped, then str.lower() (full case mapping, final sigma included).
// Unicode data (decompositions, categories, simple case maps) comes from
// utf8proc; the final-sigma context classes are generated from CPython itself.
//
// Input is a sequence of code units of one fixed width (the three storage
// kinds of a CPython string: 8, 16 or 32 bits per code point), so callers can
// hand over a string's buffer without converting it first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillon::text {

// Python's white-space set (str.isspace, str.strip() without arguments, and
// the "\s" class of the re module for str patterns).
constexpr bool is_space(char32_t c) noexcept {
    if (c < 0x80) return (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x20);
    switch (c) {
        case 0x85: case 0xA0: case 0x1680: case 0x2028: case 0x2029:
        case 0x202F: case 0x205F: case 0x3000:
            return true;
        default:
            return c >= 0x2000 && c <= 0x200A;
    }
}

namespace detail {
int decimal_value_slow(char32_t c) noexcept;
}

// Numeric value (0-9) of a decimal digit of any script, or -1 when `c` is not
// of general category Nd.
inline int decimal_value(char32_t c) noexcept {
    if (c < 0x80) return (c >= '0' && c <= '9') ? static_cast<int>(c - '0') : -1;
    return detail::decimal_value_slow(c);
}

// General category "Mn" (non-spacing combining mark).
bool is_nonspacing_mark(char32_t c) noexcept;

// Python's "\w" for str patterns: str.isalnum() or "_" (letters of categories
// L*, and code points with a numeric value: Nd, Nl, No).
bool is_word(char32_t c) noexcept;

// Code units [first, last) with Python's white space removed at both ends.
template <class CharT>
constexpr void strip_bounds(const CharT* s, std::size_t n, std::size_t& first, std::size_t& last) noexcept {
    first = 0;
    last = n;
    while (first < last && is_space(static_cast<char32_t>(s[first]))) ++first;
    while (last > first && is_space(static_cast<char32_t>(s[last - 1]))) --last;
}

// The fold of every Latin-1 code point is one Latin-1 code point, whatever
// surrounds it (its decomposition is a Latin-1 starter plus non-spacing marks,
// and no Latin-1 letter has a special casing rule), so 8-bit text folds code
// unit by code unit.  Built once from the general path below.
struct Latin1Fold {
    std::uint8_t folded[256];
    // What the final-sigma rule sees of the code point (the class of its
    // decomposition's starter): 0 other, 1 case-ignorable, 2 cased.
    std::int8_t context[256];
};
const Latin1Fold& latin1_fold() noexcept;

// The fold of 8-bit text into out[0, n), through latin1_fold(); returns
// whether any of it is above U+007F.
bool fold_latin1(const std::uint8_t* s, std::size_t n, std::uint8_t* out) noexcept;
// The same for text known to be ASCII (lower-casing only).
void fold_ascii(const std::uint8_t* s, std::size_t n, std::uint8_t* out) noexcept;

// Streaming NFD + drop-Mn + full lower-case, appending to an output string.
// Feed code points in order, then call finish().  The final-sigma rule needs
// to see what follows a capital sigma, so push() takes a look-ahead over the
// rest of the input; it is used only when a capital sigma turns up.
class Folder {
public:
    explicit Folder(std::u32string& out) noexcept : out_(out), latin1_(latin1_fold()) {}

    // ASCII needs no decomposition and has no marks: the hot path.
    void push_ascii(char32_t c) {
        if (mark_run_start_ != kNoRun) flush_marks();
        out_.push_back((c >= 'A' && c <= 'Z') ? c + 32 : c);
        // ' . : ^ ` are case-ignorable and leave the context as it was.
        if (!(c == '\'' || c == '.' || c == ':' || c == '^' || c == '`'))
            prev_cased_ = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    }

    // U+0080..U+00FF: one table look-up.
    void push_latin1(char32_t c) {
        if (mark_run_start_ != kNoRun) flush_marks();
        out_.push_back(latin1_.folded[c]);
        int cls = latin1_.context[c];
        if (cls != 1) prev_cased_ = (cls == 2);
    }

    // A run of code points below U+0100 (the caller checked), folded through
    // the table: what push_latin1/push_ascii one by one would give.
    template <class CharT>
    void push_latin1_run(const CharT* s, std::size_t n) {
        if (mark_run_start_ != kNoRun) flush_marks();
        std::size_t at = out_.size();
        out_.resize(at + n);
        char32_t* w = &out_[at];
        for (std::size_t i = 0; i < n; ++i) w[i] = latin1_.folded[static_cast<std::uint8_t>(s[i])];
        note_latin1_context(s, n);
    }

    // The same run, for a caller that takes its fold from latin1_fold()
    // itself: only the state is brought up to date.  Everything pushed before
    // must have been taken first (finish(), then the output consumed).
    template <class CharT>
    void skip_latin1_run(const CharT* s, std::size_t n) {
        note_latin1_context(s, n);
    }

    // Any code point.  `ahead(visit)` must call visit(char32_t) with the code
    // points that follow in the input, in order, until visit returns false.
    template <class Ahead>
    void push(char32_t c, Ahead&& ahead);

    void finish() {
        if (mark_run_start_ != kNoRun) flush_marks();
    }

    // Whether everything written so far is final: no combining marks wait
    // for canonical reordering, so the output may be consumed and cleared.
    bool settled() const noexcept { return mark_run_start_ == kNoRun; }

private:
    static constexpr std::size_t kNoRun = static_cast<std::size_t>(-1);

    // The final-sigma context after a run of Latin-1 code points: set by the
    // last one that is not case-ignorable, if any.
    template <class CharT>
    void note_latin1_context(const CharT* s, std::size_t n) {
        for (std::size_t i = n; i-- > 0;) {
            int cls = latin1_.context[static_cast<std::uint8_t>(s[i])];
            if (cls != 1) {
                prev_cased_ = (cls == 2);
                return;
            }
        }
    }

    void emit_starter(char32_t c, bool final_sigma);
    void add_mark(char32_t c);
    void flush_marks();

    std::u32string& out_;
    const Latin1Fold& latin1_;
    // Start, in out_, of the run of kept combining marks (canonical class
    // != 0, not Mn) that canonical reordering may still permute.  Dropping the
    // Mn marks first is safe: a stable sort of a subsequence keeps the order
    // the full sort gives it.
    std::size_t mark_run_start_ = kNoRun;
    // Whether the last code point that was not case-ignorable was cased.
    bool prev_cased_ = false;
};

namespace detail {
// 0 = other, 1 = case-ignorable, 2 = cased and not case-ignorable.
int case_context_class(char32_t c) noexcept;
// Canonical decomposition of one code point (Hangul included); buf holds 8.
std::size_t decompose_nfd(char32_t c, char32_t* buf) noexcept;
int canonical_class(char32_t c) noexcept;
}  // namespace detail

// Whether a capital sigma is final: preceded by a cased letter (prev_cased)
// and not followed by one, case-ignorable code points skipped on both sides.
// `ahead(visit)` yields the decomposed code points after the sigma.
template <class Ahead>
bool sigma_is_final(bool prev_cased, Ahead&& ahead) {
    if (!prev_cased) return false;
    bool final_sigma = true;  // the end of the text counts as "not cased"
    ahead([&](char32_t c) {
        int cls = detail::case_context_class(c);
        if (cls == 1) return true;  // ignorable: look further
        final_sigma = (cls != 2);
        return false;
    });
    return final_sigma;
}

template <class Ahead>
void Folder::push(char32_t c, Ahead&& ahead) {
    if (c < 0x80) {
        push_ascii(c);
        return;
    }
    if (c < 0x100) {
        push_latin1(c);
        return;
    }
    char32_t buf[8];
    std::size_t k = detail::decompose_nfd(c, buf);
    for (std::size_t i = 0; i < k; ++i) {
        char32_t d = buf[i];
        if (detail::canonical_class(d) != 0) {
            add_mark(d);
            continue;
        }
        if (mark_run_start_ != kNoRun) flush_marks();
        if (is_nonspacing_mark(d)) continue;  // dropped; it is ignorable anyway
        bool final_sigma = false;
        if (d == 0x03A3) {
            final_sigma = sigma_is_final(prev_cased_, [&](auto&& visit) {
                for (std::size_t j = i + 1; j < k; ++j)
                    if (!visit(buf[j])) return;
                ahead([&](char32_t next) {
                    char32_t nb[8];
                    std::size_t nk = detail::decompose_nfd(next, nb);
                    for (std::size_t j = 0; j < nk; ++j)
                        if (!visit(nb[j])) return false;
                    return true;
                });
            });
        }
        emit_starter(d, final_sigma);
    }
}

// Whether s[0, n) holds only code points below U+0100.
template <class CharT>
bool all_latin1(const CharT* s, std::size_t n) noexcept {
    if constexpr (sizeof(CharT) == 1) {
        return true;
    } else {
        std::uint32_t any = 0;
        for (std::size_t i = 0; i < n; ++i) any |= static_cast<std::uint32_t>(s[i]);
        return any < 0x100;
    }
}

// Calls latin1_run(first, n) for stretches of Latin-1 text and other(i) for
// every other code point s[i], in order.  Text is looked at in blocks: a block
// of Latin-1 code points only is one run.
template <class CharT, class Latin1Run, class Other>
void for_each_latin1_run(const CharT* s, std::size_t n, Latin1Run&& latin1_run, Other&& other) {
    constexpr std::size_t kBlock = 64;
    std::size_t i = 0;
    while (i < n) {
        std::size_t end = i + kBlock < n ? i + kBlock : n;
        if (all_latin1(s + i, end - i)) {
            latin1_run(s + i, end - i);
        } else {
            std::size_t j = i;
            while (j < end) {
                std::size_t run = j;
                while (run < end && static_cast<std::uint32_t>(s[run]) < 0x100) ++run;
                if (run > j) {
                    latin1_run(s + j, run - j);
                    j = run;
                } else {
                    other(j++);
                }
            }
        }
        i = end;
    }
}

// Fold a whole buffer: NFD, drop Mn, lower-case.  Appends to `out`.
template <class CharT>
void fold_append(const CharT* s, std::size_t n, std::u32string& out) {
    out.reserve(out.size() + n);
    Folder folder(out);
    for_each_latin1_run(
        s, n, [&](const CharT* run, std::size_t len) { folder.push_latin1_run(run, len); },
        [&](std::size_t i) {
            folder.push(static_cast<char32_t>(s[i]), [&](auto&& visit) {
                for (std::size_t j = i + 1; j < n; ++j)
                    if (!visit(static_cast<char32_t>(s[j]))) return;
            });
        });
    folder.finish();
}

inline std::u32string fold(std::u32string_view s) {
    std::u32string out;
    fold_append(s.data(), s.size(), out);
    return out;
}

// Python's s.strip() on a folded string, in place.
void strip_in_place(std::u32string& s);

// UTF-8 helpers for tests and tools (the bindings never go through UTF-8).
std::u32string from_utf8(std::string_view s);
std::string to_utf8(std::u32string_view s);

}  // namespace quillon::text
