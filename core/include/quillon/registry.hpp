// Reading what the company registry services write.
//
// Share capital.  ReceitaWS writes `capital_social` as text.  Every answer it
// publishes uses a dot as the decimal mark ("190000.00", "6453568523.86"),
// while a Brazilian-formatted amount uses the dot as thousands separator and
// the comma as decimal mark ("1.500.000,00").  Reading the first kind as the
// second inflates it a hundredfold, so the text is classified first:
//   * with a ",": Brazilian-formatted, every "." dropped and the "," made the
//     decimal point ("1.500.000,00" -> "1500000.00");
//   * without ",", with a single "." followed by one or two final digits
//     (white space around the text aside): a plain decimal, read as written
//     ("190000.00", "1.5");
//   * anything else: the dots are thousands separators and are dropped
//     ("1.500.000" -> "1500000", "abc" stays "abc" and fails to parse).
// The empty text means zero.  The result is handed to Python's float(), so
// white space, signs, exponents and digits of any script parse as float()
// parses them.
//
// JSON text.  An answer must be UTF-8; is_valid_utf8 accepts exactly what
// Python's strict UTF-8 decoder accepts (no overlong forms, no surrogates,
// nothing above U+10FFFF), without building the decoded text.
//
// Wire form.  A clean CNPJ may hold decimal digits of any script (full-width
// digits typed on a phone keyboard); the registry services know only ASCII,
// so a CNPJ put into a URL has each digit written as its ASCII digit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "quillon/text.hpp"

namespace quillon::registry {

enum class AmountStyle {
    kEmpty,         // "": zero
    kDecimalPoint,  // "190000.00": parse as written
    kBrazilian,     // "1.500.000,00" or "1.500.000": drop ".", "," -> "."
};

template <class CharT>
AmountStyle amount_style(const CharT* s, std::size_t n) noexcept {
    if (n == 0) return AmountStyle::kEmpty;
    std::size_t dots = 0, dot = 0;
    for (std::size_t i = 0; i < n; ++i) {
        char32_t c = static_cast<char32_t>(s[i]);
        if (c == ',') return AmountStyle::kBrazilian;
        if (c == '.') {
            ++dots;
            dot = i;
        }
    }
    if (dots != 1) return AmountStyle::kBrazilian;
    std::size_t first = 0, last = 0;
    text::strip_bounds(s, n, first, last);
    // The dot itself is no white space, so first <= dot < last.
    std::size_t decimals = last - dot - 1;
    if (decimals < 1 || decimals > 2) return AmountStyle::kBrazilian;
    for (std::size_t i = dot + 1; i < last; ++i)
        if (text::decimal_value(static_cast<char32_t>(s[i])) < 0) return AmountStyle::kBrazilian;
    return AmountStyle::kDecimalPoint;
}

// Calls emit(char32_t) for each character of the Brazilian-formatted amount
// s[0, n) rewritten with a decimal point and no thousands separators.
template <class CharT, class Emit>
void brazilian_to_decimal_point(const CharT* s, std::size_t n, Emit&& emit) {
    for (std::size_t i = 0; i < n; ++i) {
        char32_t c = static_cast<char32_t>(s[i]);
        if (c == '.') continue;
        emit(c == ',' ? U'.' : c);
    }
}

inline bool is_valid_utf8(const unsigned char* s, std::size_t n) noexcept {
    std::size_t i = 0;
    while (i < n) {
        // ASCII runs, thirty-two then eight bytes at a time.
        while (i + 32 <= n) {
            std::uint64_t w[4];
            std::memcpy(w, s + i, 32);
            if ((w[0] | w[1] | w[2] | w[3]) & 0x8080808080808080ULL) break;
            i += 32;
        }
        while (i + 8 <= n) {
            std::uint64_t word;
            std::memcpy(&word, s + i, 8);
            if (word & 0x8080808080808080ULL) break;
            i += 8;
        }
        if (i == n) break;
        const unsigned char c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        // Lead byte: sequence length and the range allowed for the second byte.
        std::size_t len = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            if (c == 0xE0) lo = 0xA0;  // overlong below U+0800
            if (c == 0xED) hi = 0x9F;  // surrogates U+D800..U+DFFF
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            if (c == 0xF0) lo = 0x90;  // overlong below U+10000
            if (c == 0xF4) hi = 0x8F;  // above U+10FFFF
        } else {
            return false;  // continuation byte, C0, C1, F5..FF
        }
        if (n - i < len) return false;
        if (s[i + 1] < lo || s[i + 1] > hi) return false;
        for (std::size_t k = 2; k < len; ++k)
            if ((s[i + k] & 0xC0) != 0x80) return false;
        i += len;
    }
    return true;
}

// A decimal digit of any script as its ASCII digit; any other character as is.
inline char32_t wire_char(char32_t c) noexcept {
    if (c < 0x80) return c;
    int v = text::decimal_value(c);
    return v < 0 ? c : static_cast<char32_t>('0' + v);
}

// Whether s[0, n) is already in wire form (pure ASCII).
template <class CharT>
bool is_ascii(const CharT* s, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i)
        if (static_cast<char32_t>(s[i]) >= 0x80) return false;
    return true;
}

}  // namespace quillon::registry
