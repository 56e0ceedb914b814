"""quillon: Brazilian contract verification and robust PDF reading.

The compiled modules live in their subpackages:

* ``quillon.contract.checker``: verifies a contract PDF against the federal
  registry and the partner list of each company;
* ``quillon.contract.countries.br.cnpj``, ``.ie``, ``.keywords``: CNPJ
  identifiers and registry lookups, state registrations, contract screening;
* ``quillon.ocr``: PDF loading with OCR for pages without a text layer;
* ``quillon.resilience``: circuit breaker and retry policies.

The extraction engine, ``quillon.Quillon`` with ``quillon.Question`` and
``quillon.QuestionConfig``, is loaded when first named.

Importing the top-level package is cheap: nothing here loads PyMuPDF, model
clients or cloud SDKs.
"""

import logging

__version__ = "0.1.0"

# The engine is loaded on first use: ``quillon.Quillon`` imports it then.
_ENGINE_NAMES = ("Quillon", "Question", "QuestionConfig")


def __getattr__(name):
    if name in _ENGINE_NAMES:
        from quillon import engine

        value = getattr(engine, name)
        globals()[name] = value
        return value
    raise AttributeError(f"module 'quillon' has no attribute {name!r}")


def __dir__():
    return sorted(set(globals()) | set(_ENGINE_NAMES))

# A library never configures logging; it only makes sure that a program that
# does not configure it either sees no "no handler" warnings from us.
logging.getLogger(__name__).addHandler(logging.NullHandler())
