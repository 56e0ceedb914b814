// CPF numbers as a contract prints them and as the registry publishes them.
//
// A CPF has eleven digits, XXX.XXX.XXX-DD: nine of base and two check digits,
// each 11 - (sum of digit x weight mod 11), or 0 when the remainder is below 2
// (weights 10..2 for the first, 11..2 for the second).  The Receita Federal's
// open data and BrasilAPI publish a partner's CPF masked: the six middle
// digits only, "***456789**".  Those six digits are what can corroborate a
// signatory's identity, or refute it.
//
// The functions are templates over the code-unit width of the input (8, 16 or
// 32 bits) so that a Python string's buffer is read in place.  Only ASCII
// digits count: a CPF is written in them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quillon::cpf {

inline constexpr std::size_t kLength = 11;

// Whether eleven ASCII digits carry the right check digits.  A run of one
// repeated digit ("111.111.111-11") passes the arithmetic and is no CPF.
bool valid_digits(std::string_view digits) noexcept;

namespace detail {
inline bool is_separator(char32_t c) noexcept { return c == '.' || c == '-' || c == ' ' || c == '/'; }
}  // namespace detail

// The eleven digits of a CPF as written ("123.456.789-09", "12345678909"),
// or "" when the text is no valid CPF (other characters, another number of
// digits, wrong check digits).
template <class CharT>
std::string digits(const CharT* s, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        const char32_t c = static_cast<char32_t>(s[i]);
        if (c >= '0' && c <= '9') {
            if (out.size() == kLength) return {};
            out.push_back(static_cast<char>(c));
        } else if (!detail::is_separator(c)) {
            return {};
        }
    }
    return out.size() == kLength && valid_digits(out) ? out : std::string{};
}

// What a CPF printed in a contract says about a partner's published one.
enum class Evidence {
    Unknown,    // nothing to compare: either side missing, or not a CPF
    Agrees,     // every digit the registry shows is the contract's
    Disagrees,  // some digit the registry shows differs
};

// Compares the eleven digits of a contract's CPF with a partner's CPF as
// published: eleven places, each a digit or '*' (separators allowed), at least
// one digit shown.  The services write "***000000**" where they have no CPF
// (no legal representative): shown digits that are all zero say nothing.  A
// CNPJ (a company partner) or any other text is Unknown.
template <class CharT>
Evidence compare_masked(std::string_view cpf_digits, const CharT* masked, std::size_t n) {
    if (cpf_digits.size() != kLength) return Evidence::Unknown;
    std::size_t place = 0, shown = 0, zeros = 0;
    bool differs = false;
    for (std::size_t i = 0; i < n; ++i) {
        const char32_t c = static_cast<char32_t>(masked[i]);
        if (detail::is_separator(c)) continue;
        if (place == kLength) return Evidence::Unknown;
        if (c >= '0' && c <= '9') {
            ++shown;
            if (c == '0') ++zeros;
            if (static_cast<char32_t>(cpf_digits[place]) != c) differs = true;
        } else if (c != '*') {
            return Evidence::Unknown;
        }
        ++place;
    }
    if (place != kLength || shown == 0 || zeros == shown) return Evidence::Unknown;
    return differs ? Evidence::Disagrees : Evidence::Agrees;
}

}  // namespace quillon::cpf
