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
# Deleting one of its names (a host or a test taking the engine away) sticks
# until the name is set again.
import sys as _sys
import types as _types

_ENGINE_NAMES = ("Quillon", "Question", "QuestionConfig")


class _Package(_types.ModuleType):
    _removed: set = set()

    def __getattr__(self, name):
        if name in _ENGINE_NAMES and name not in self._removed:
            from quillon import engine

            value = getattr(engine, name)
            _types.ModuleType.__setattr__(self, name, value)
            return value
        raise AttributeError(f"module 'quillon' has no attribute {name!r}")

    def __setattr__(self, name, value):
        self._removed.discard(name)
        _types.ModuleType.__setattr__(self, name, value)

    def __delattr__(self, name):
        if name in _ENGINE_NAMES:
            self._removed.add(name)
            self.__dict__.pop(name, None)
            return
        _types.ModuleType.__delattr__(self, name)

    def __dir__(self):
        return sorted(set(self.__dict__) | set(_ENGINE_NAMES))


_sys.modules[__name__].__class__ = _Package

# A library never configures logging; it only makes sure that a program that
# does not configure it either sees no "no handler" warnings from us.
logging.getLogger(__name__).addHandler(logging.NullHandler())
