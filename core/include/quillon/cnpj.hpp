// CNPJ arithmetic: cleaning, mod-11 check digits, validation, formatting.
//
// A CNPJ has fourteen characters: twelve of base and two check digits.  Its
// formatted form is XX.XXX.XXX/XXXX-DD.  Each check digit is
// 11 - (sum of value x weight mod 11), or 0 when the remainder is below 2.
//
// Two kinds of CNPJ exist.  The numeric one has digits only; its clean form
// keeps the decimal digits of the input (Unicode category Nd, in their
// original script) and drops everything else.  Since July 2026 the Receita
// Federal also issues alphanumeric CNPJs (IN RFB 2.229/2024): the twelve base
// positions may hold A-Z, valued at their ASCII code minus 48 (A = 17 ...
// Z = 42; digits keep their values), the check digits stay numeric and the
// mask is the same.  An input is read as alphanumeric only when, trimmed of
// white space, it has exactly the shape of one (masked or fourteen characters
// unmasked), with at least one letter among the base positions and two ASCII
// digits at the end; it is then upper-cased.  Everything else is cleaned to
// its digits as before, so a label around an alphanumeric CNPJ ("CNPJ: 12.ABC
// ...") leaves only its digits, which do not validate.
//
// The functions are templates over the code-unit width of the input (8, 16 or
// 32 bits) so that a Python string's buffer is read in place.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "quillon/text.hpp"

namespace quillon::cnpj {

inline constexpr std::size_t kLength = 14;
inline constexpr std::size_t kFormattedLength = 18;
inline constexpr std::array<int, 12> kFirstWeights{5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2};
inline constexpr std::array<int, 13> kSecondWeights{6, 5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2};

// Value of one character in the check-digit sum, or -1 when it has none:
// a decimal digit of any script, or an upper-case letter A-Z (code - 48).
inline int char_value(char32_t c) noexcept {
    if (c >= 'A' && c <= 'Z') return static_cast<int>(c) - 48;
    return text::decimal_value(c);
}

// The check digit ('0'..'9') for a weighted sum.  Negative sums (negative
// weights) take the remainder as Python's % does: always in 0..10.
constexpr char check_digit_for_sum(long long sum) noexcept {
    long long rest = sum % 11;
    if (rest < 0) rest += 11;
    return rest < 2 ? '0' : static_cast<char>('0' + (11 - rest));
}

// Validation of fourteen character values (the clean form, already valued).
bool valid_values(const int* values) noexcept;

// Up to kLength + 1 characters of the clean form: enough to tell "exactly 14"
// from "more", without building the clean string of a huge input.
struct Digits {
    char32_t chars[kLength + 1];
    int values[kLength + 1];
    std::size_t count = 0;      // how many were stored (at most kLength + 1)
    bool too_long() const noexcept { return count > kLength; }
};

// If s[0, n), trimmed of white space, has the shape of an alphanumeric CNPJ,
// stores its fourteen characters, upper-cased and valued, in d.
template <class CharT>
[[gnu::noinline]] bool read_alphanumeric(const CharT* s, std::size_t n, Digits& d) noexcept {
    std::size_t first = 0, last = 0;
    text::strip_bounds(s, n, first, last);
    const std::size_t len = last - first;
    if (len != kLength && len != kFormattedLength) return false;
    // Mask characters of the formatted shape, by position.
    static constexpr char kMask[kFormattedLength] = {0, 0, '.', 0, 0, 0, '.', 0, 0, 0, '/', 0, 0, 0, 0, '-', 0, 0};
    bool letter = false;
    std::size_t k = 0;
    for (std::size_t i = 0; i < len; ++i) {
        char32_t c = static_cast<char32_t>(s[first + i]);
        if (len == kFormattedLength && kMask[i]) {
            if (c != static_cast<char32_t>(kMask[i])) return false;
            continue;
        }
        if (k >= 12) {  // check digits: ASCII only
            if (c < '0' || c > '9') return false;
        } else if (c >= 'a' && c <= 'z') {
            c -= 32;
            letter = true;
        } else if (c >= 'A' && c <= 'Z') {
            letter = true;
        } else if (c < '0' || c > '9') {
            return false;
        }
        d.chars[k] = c;
        d.values[k] = char_value(c);
        ++k;
    }
    if (!letter) return false;
    d.count = kLength;
    return true;
}

constexpr bool is_ascii_letter(char32_t c) noexcept { return ((c | 0x20) - U'a') < 26; }

// The shape test for an input in which letters were seen: the numeric path
// looks for letters on its way, so digit-only inputs never pay for it.
template <class CharT>
inline bool read_alphanumeric_if_letters(bool letters, const CharT* s, std::size_t n, Digits& d) noexcept {
    return letters && n >= kLength && read_alphanumeric(s, n, d);
}

// Calls emit(char32_t) for each character of the clean form of s[0, n).
template <class CharT, class Emit>
void clean(const CharT* s, std::size_t n, Emit&& emit) {
    bool letters = false;
    for (std::size_t i = 0; i < n && !letters; ++i) letters = is_ascii_letter(static_cast<char32_t>(s[i]));
    Digits d;
    if (read_alphanumeric_if_letters(letters, s, n, d)) {
        for (std::size_t i = 0; i < kLength; ++i) emit(d.chars[i]);
        return;
    }
    for (std::size_t i = 0; i < n; ++i) {
        char32_t c = static_cast<char32_t>(s[i]);
        if (text::decimal_value(c) >= 0) emit(c);
    }
}

// Latin-1 text (code units below 256) holds no decimal digits but the ASCII
// ones, so its clean form, unless it is an alphanumeric CNPJ, is its ASCII
// digits: counted first, so that the clean string is made at its size.
struct Latin1Scan {
    std::size_t digits = 0;  // ASCII digits
    bool letters = false;    // an ASCII letter among the rest
};

constexpr bool is_ascii_digit(char32_t c) noexcept { return c - U'0' < 10; }

template <class CharT>
constexpr Latin1Scan scan_latin1(const CharT* s, std::size_t n) noexcept {
    Latin1Scan r;
    for (std::size_t i = 0; i < n; ++i) {
        if (is_ascii_digit(s[i]))
            ++r.digits;
        else
            r.letters |= is_ascii_letter(s[i]);
    }
    return r;
}

// Writes the ASCII digits of s[0, n), in order, to out.
template <class CharT, class OutT>
void copy_ascii_digits(const CharT* s, std::size_t n, OutT* out) noexcept {
    for (std::size_t i = 0; i < n; ++i)
        if (is_ascii_digit(s[i])) *out++ = static_cast<OutT>(s[i]);
}

// The first kLength + 1 characters of the clean form, with their values.
template <class CharT>
Digits first_digits(const CharT* s, std::size_t n) noexcept {
    Digits d;
    bool letters = false;
    for (std::size_t i = 0; i < n && d.count <= kLength; ++i) {
        char32_t c = static_cast<char32_t>(s[i]);
        int v = text::decimal_value(c);
        if (__builtin_expect(v < 0, 0)) {
            letters |= is_ascii_letter(c);
            continue;
        }
        d.chars[d.count] = c;
        d.values[d.count] = v;
        ++d.count;
    }
    // Fifteen digits already rule out the fourteen-character alphanumeric shape.
    if (__builtin_expect(letters, 0) && d.count <= kLength && n >= kLength) {
        Digits alnum;
        if (read_alphanumeric(s, n, alnum)) d = alnum;
    }
    return d;  // a single return object: no copy on the common path
}

template <class CharT>
bool is_valid(const CharT* s, std::size_t n) noexcept {
    Digits d = first_digits(s, n);
    return d.count == kLength && valid_values(d.values);
}

// Writes the formatted form of fourteen clean characters into out[18].
inline void format_into(const char32_t (&clean)[kLength + 1], char32_t (&out)[kFormattedLength]) noexcept {
    static constexpr signed char kSource[kFormattedLength] = {0, 1, -'.', 2, 3, 4, -'.', 5, 6, 7, -'/', 8, 9, 10, 11, -'-', 12, 13};
    for (std::size_t i = 0; i < kFormattedLength; ++i)
        out[i] = kSource[i] >= 0 ? clean[static_cast<std::size_t>(kSource[i])] : static_cast<char32_t>(-kSource[i]);
}

}  // namespace quillon::cnpj
