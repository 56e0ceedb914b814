// Standard base64 (RFC 4648 alphabet, with padding, no line breaks), the
// encoding of the data URLs that carry a page image to a vision model.
#pragma once

#include <cstddef>
#include <string>

namespace quillon::base64 {

// Length of the encoding of n bytes.
constexpr std::size_t encoded_length(std::size_t n) noexcept { return (n + 2) / 3 * 4; }

// Writes encoded_length(n) characters to out.
void encode_into(const unsigned char* in, std::size_t n, char* out) noexcept;

inline std::string encode(const unsigned char* in, std::size_t n) {
    std::string out(encoded_length(n), '\0');
    encode_into(in, n, out.data());
    return out;
}

}  // namespace quillon::base64
