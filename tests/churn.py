"""Saboteurs for the compiled modules: callbacks that rebind or delete the
module attributes a binding has just read.

A binding that kept a borrowed reference to an attribute across a call into
Python finds the object freed when that Python code rebinds the attribute.
`Churn` replaces every attribute it is given by a stand-in that, whenever it is
used (called, iterated, an attribute read from it), first replaces all of them
again by fresh stand-ins (or deletes them), so nothing keeps the one in use
alive but the binding itself.  Run under PYTHONMALLOC=debug, a freed object is
overwritten at once and its use crashes instead of going unnoticed.
"""

from __future__ import annotations

import enum
import numbers
import types
from typing import Any, Dict, Iterable, Optional


class Churn:
    """Stand-ins for `names` of `module`; `delete=True` deletes them on first use."""

    def __init__(self, module: types.ModuleType, names: Optional[Iterable[str]] = None, delete: bool = False):
        self.module = module
        self.delete = delete
        for lazy in getattr(module, "_lazy_modules", {}):
            getattr(module, lazy)  # imported now, so it is an attribute to churn
        names = list(names) if names is not None else [n for n in vars(module) if not n.startswith("_")
                                                       or n.startswith(("_consultar", "_registro", "_ensure",
                                                                        "_vision", "_log", "_normalize"))]
        self.originals: Dict[str, Any] = {n: getattr(module, n) for n in names if hasattr(module, n)}
        self.uses = 0
        self.install()

    def install(self) -> None:
        for name, value in self.originals.items():
            setattr(self.module, name, self.stand_in(value))

    def churn(self) -> None:
        self.uses += 1
        if self.delete:
            for name in self.originals:
                self.module.__dict__.pop(name, None)
        else:
            self.install()

    def restore(self) -> None:
        for name, value in self.originals.items():
            setattr(self.module, name, value)

    def stand_in(self, value: Any) -> Any:
        """A fresh object that behaves as `value` for the binding and churns when used."""
        if isinstance(value, str):
            return "".join(list(value)) if value else value  # a new object of equal value
        if isinstance(value, bool) or value is None:
            return value
        if isinstance(value, int):
            return Index(self, value)
        if isinstance(value, float):
            return float(repr(value))
        if isinstance(value, enum.EnumMeta):
            return value
        if isinstance(value, type):
            return type(value.__name__, (value,), {"__module__": value.__module__})
        if isinstance(value, (list, tuple)):
            return Table(self, value)
        return Proxy(self, value)


class Proxy:
    """A callable or module: churns, then does what the original does."""

    def __init__(self, churn: Churn, target: Any):
        self._churn = churn
        self._target = target

    def __call__(self, *args: Any, **kwargs: Any) -> Any:
        self._churn.churn()
        return self._target(*args, **kwargs)

    def __getattr__(self, name: str) -> Any:
        self.__dict__["_churn"].churn()
        return getattr(self.__dict__["_target"], name)


class Table:
    """A table (list of entries): churns when iterated."""

    def __init__(self, churn: Churn, entries: Iterable[Any]):
        self._churn = churn
        self._entries = list(entries)

    def __iter__(self):
        self._churn.churn()
        return iter(list(self._entries))

    def __len__(self) -> int:
        self._churn.churn()
        return len(self._entries)


class Index:
    """A whole number that churns when the binding reads it."""

    def __init__(self, churn: Churn, value: int):
        self._churn = churn
        self._value = value

    def __index__(self) -> int:
        self._churn.churn()
        return self._value

    __int__ = __index__

    def __float__(self) -> float:
        return float(self.__index__())


numbers.Integral.register(Index)  # read as a whole number, as a bool or an int would be
