#include "quillon/cnpj.hpp"

namespace quillon::cnpj {

bool valid_values(const int* values) noexcept {
    // One value repeated fourteen times (fourteen zeros above all) has check
    // digits that compute as correct, yet is no CNPJ.  The values are compared,
    // not the characters, so zeros of mixed scripts are caught as well; letters
    // are valued above 9 and never equal a digit.
    bool repeated = true;
    for (std::size_t i = 1; i < kLength && repeated; ++i) repeated = values[i] == values[0];
    if (repeated) return false;

    long long sum = 0;
    for (std::size_t i = 0; i < kFirstWeights.size(); ++i) sum += static_cast<long long>(values[i]) * kFirstWeights[i];
    if (values[12] != check_digit_for_sum(sum) - '0') return false;

    sum = 0;
    for (std::size_t i = 0; i < kSecondWeights.size(); ++i) sum += static_cast<long long>(values[i]) * kSecondWeights[i];
    return values[13] == check_digit_for_sum(sum) - '0';
}

}  // namespace quillon::cnpj
