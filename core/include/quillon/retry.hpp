// The retry policy of calls to model providers: what is retried and what is
// logged.  tenacity applies the policy; the resilience module builds it.
//
// RETRYABLE_EXCEPTIONS holds the host's rate-limit and model errors, then the
// OpenAI client's transient errors when that package imports.  They are
// imported as one statement (all or none) and appended to the tuple in their
// own order: the rate limit first, then the network errors, then the
// server's.
#pragma once

#include <cstddef>

namespace quillon::resilience {

// `from openai import ...`, in the statement's order.
inline constexpr const char* kOpenAIErrors[] = {"APIConnectionError", "APITimeoutError", "InternalServerError",
                                                "RateLimitError"};
inline constexpr std::size_t kOpenAIRetryOrder[] = {3, 1, 0, 2};  // indices into kOpenAIErrors

// Logged at error level when the client does not import.
inline constexpr const char* kOpenAIMissing =
    "Pacote 'openai' nao importou: erros de rede do provider OpenAI nao serao repetidos. "
    "Reinstale a dependencia (pip install openai).";

}  // namespace quillon::resilience
