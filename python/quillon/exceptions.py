"""Errors of the quillon package.

Every error the package raises on purpose derives from ``QuillonError``, so a
caller can catch them all at once.  ``RateLimitError`` and ``ModelError`` are
raised by calls to model providers; both are transient and retried by the
decorators of ``quillon.resilience.create_retry_decorator``.

``RegistryUnavailableError`` is how a country adapter says that no source of
its registry could answer (services down, slow, refusing, a breaker open,
offline work without a complete local copy): the company may well exist.  An
adapter that returns None says the registry has no such company.

``RegistryDatabaseError`` is a local registry database that is there but
cannot be read (not a database, damaged, no permission): a fault of the
installation, reported as an error, never taken for a company's absence.
"""


class QuillonError(Exception):
    """Base class of the errors raised by quillon."""


class ModelError(QuillonError):
    """A model provider failed to answer (server error, time-out, bad reply)."""


class RateLimitError(QuillonError):
    """A model provider refused the call for exceeding its rate limit."""


class RegistryUnavailableError(QuillonError):
    """No source of the company registry could say whether a company exists.

    Raised by ``lookup_company`` and ``search_companies`` of the Brazilian
    adapter when every source it may ask failed to answer: a web service that
    refused the connection, timed out, answered 5xx or 429 or something
    unreadable, or was skipped by its open circuit breaker; offline work with
    no local registry database or one that does not hold a complete release
    of the open data.  ``reason`` says why, in words for the user
    ("BrasilAPI: sem conexão; ReceitaWS: HTTP 503").  The contract checker
    reports such a company's CNPJ as pending, never as not found.
    """

    def __init__(self, reason: str):
        super().__init__(reason)
        self.reason = reason


class RegistryDatabaseError(QuillonError):
    """The local registry database exists but cannot be read.

    Raised by the Brazilian adapter's ``lookup_company`` and
    ``search_companies`` when the SQLite file it was pointed at is not a
    database, is damaged or may not be read.  Unlike
    ``RegistryUnavailableError`` this is no verdict's business: the command
    reports it as an error (the contract's error line), naming the file.
    ``location`` is the file, ``reason`` the database's own words.
    """

    def __init__(self, location: str, reason: str):
        super().__init__(f"cadastro local ilegível: {location} ({reason})")
        self.location = location
        self.reason = reason


__all__ = ["QuillonError", "ModelError", "RateLimitError", "RegistryUnavailableError", "RegistryDatabaseError"]
