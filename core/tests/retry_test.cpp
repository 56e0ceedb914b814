#include "quillon/retry.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace rs = quillon::resilience;

TEST(RetryableErrors, OpenAIErrorsAreRetriedRateLimitFirst) {
    std::vector<std::string> order;
    for (std::size_t i : rs::kOpenAIRetryOrder) order.emplace_back(rs::kOpenAIErrors[i]);
    EXPECT_EQ(order, (std::vector<std::string>{"RateLimitError", "APITimeoutError", "APIConnectionError",
                                               "InternalServerError"}));
}
