#include "quillon/base64.hpp"

namespace quillon::base64 {

namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}

void encode_into(const unsigned char* in, std::size_t n, char* out) noexcept {
    std::size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        unsigned v = (unsigned{in[i]} << 16) | (unsigned{in[i + 1]} << 8) | in[i + 2];
        *out++ = kAlphabet[(v >> 18) & 63];
        *out++ = kAlphabet[(v >> 12) & 63];
        *out++ = kAlphabet[(v >> 6) & 63];
        *out++ = kAlphabet[v & 63];
    }
    std::size_t rest = n - i;
    if (rest == 0) return;
    unsigned v = unsigned{in[i]} << 16;
    if (rest == 2) v |= unsigned{in[i + 1]} << 8;
    *out++ = kAlphabet[(v >> 18) & 63];
    *out++ = kAlphabet[(v >> 12) & 63];
    *out++ = rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    *out++ = '=';
}

}  // namespace quillon::base64
