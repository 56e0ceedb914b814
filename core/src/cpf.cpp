#include "quillon/cpf.hpp"

namespace quillon::cpf {

namespace {

int check_digit(std::string_view digits, std::size_t count) noexcept {
    int sum = 0;
    for (std::size_t i = 0; i < count; ++i) sum += (digits[i] - '0') * static_cast<int>(count + 1 - i);
    const int r = sum % 11;
    return r < 2 ? 0 : 11 - r;
}

}  // namespace

bool valid_digits(std::string_view digits) noexcept {
    if (digits.size() != kLength) return false;
    bool repeated = true;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        repeated = repeated && c == digits[0];
    }
    if (repeated) return false;
    return check_digit(digits, 9) == digits[9] - '0' && check_digit(digits, 10) == digits[10] - '0';
}

}  // namespace quillon::cpf
