"""What a model's tokens cost, in US dollars per million tokens (input, output).

Prices of the OpenAI API for standard processing as published by OpenAI in
2025; a model not listed costs 0 (its tokens are still counted).  A dated
model name ("gpt-4o-2024-08-06") is priced as its family.
"""

from __future__ import annotations

PRICES_PER_MILLION: dict[str, tuple[float, float]] = {
    "gpt-4o": (2.50, 10.00),
    "gpt-4o-mini": (0.15, 0.60),
    "gpt-4.1": (2.00, 8.00),
    "gpt-4.1-mini": (0.40, 1.60),
    "gpt-4.1-nano": (0.10, 0.40),
    "o4-mini": (1.10, 4.40),
    "o3": (2.00, 8.00),
    "gpt-5": (1.25, 10.00),
    "gpt-5-mini": (0.25, 2.00),
    "gpt-5-nano": (0.05, 0.40),
}


def price_of(model: str) -> tuple[float, float] | None:
    """(input, output) dollars per million tokens of ``model``, or None when unknown."""
    name = (model or "").lower()
    best = None
    for known in PRICES_PER_MILLION:
        if name == known or name.startswith(known + "-"):
            if best is None or len(known) > len(best):
                best = known
    return PRICES_PER_MILLION.get(best) if best else None


def cost_usd(model: str, prompt_tokens: int, completion_tokens: int) -> float:
    price = price_of(model)
    if price is None:
        return 0.0
    return (prompt_tokens * price[0] + completion_tokens * price[1]) / 1_000_000
