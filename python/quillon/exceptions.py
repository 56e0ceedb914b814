"""Errors of the quillon package.

Every error the package raises on purpose derives from ``QuillonError``, so a
caller can catch them all at once.  ``RateLimitError`` and ``ModelError`` are
raised by calls to model providers; both are transient and retried by the
decorators of ``quillon.resilience.create_retry_decorator``.
"""


class QuillonError(Exception):
    """Base class of the errors raised by quillon."""


class ModelError(QuillonError):
    """A model provider failed to answer (server error, time-out, bad reply)."""


class RateLimitError(QuillonError):
    """A model provider refused the call for exceeding its rate limit."""


__all__ = ["QuillonError", "ModelError", "RateLimitError"]
