"""Where the registry database is and whether the web may be asked, from the environment.

Read at each use, so that a change of the environment takes effect at the next
lookup:

- ``QUILLON_REGISTRY_URL``: a PostgreSQL URL (``postgresql://user@host/db``);
  when set, the registry lives there.
- ``QUILLON_REGISTRY_DB``: the SQLite file of the registry; by default
  ``registry.sqlite3`` in the user's data folder (``$XDG_DATA_HOME/quillon``,
  ``~/.local/share/quillon``; ``%LOCALAPPDATA%\\quillon`` on Windows,
  ``~/Library/Application Support/quillon`` on macOS).
- ``QUILLON_OFFLINE``: "1" (or "true", "yes", "sim", "on") keeps every lookup
  to the local database: no web service is asked.
"""

from __future__ import annotations

import os
import pathlib
import sys
from typing import Mapping

ENV_URL = "QUILLON_REGISTRY_URL"
ENV_DB = "QUILLON_REGISTRY_DB"
ENV_OFFLINE = "QUILLON_OFFLINE"
DB_FILE_NAME = "registry.sqlite3"
_POSTGRES_SCHEMES = ("postgresql://", "postgres://")
_TRUE = {"1", "true", "yes", "sim", "on"}


def data_folder(environ: Mapping[str, str] | None = None) -> pathlib.Path:
    """The user's data folder for quillon."""
    env = os.environ if environ is None else environ
    home = pathlib.Path.home()
    if sys.platform == "win32":
        base = pathlib.Path(env.get("LOCALAPPDATA") or home / "AppData" / "Local")
    elif sys.platform == "darwin":
        base = home / "Library" / "Application Support"
    else:
        base = pathlib.Path(env.get("XDG_DATA_HOME") or home / ".local" / "share")
    return base / "quillon"


def registry_location(environ: Mapping[str, str] | None = None) -> tuple[str, str]:
    """("postgresql", URL) or ("sqlite", file path) of the registry database."""
    env = os.environ if environ is None else environ
    url = env.get(ENV_URL, "").strip()
    if url:
        if not url.startswith(_POSTGRES_SCHEMES):
            raise ValueError(f"{ENV_URL} deve ser uma URL postgresql:// (recebido um valor de outro tipo)")
        return "postgresql", url
    path = env.get(ENV_DB, "").strip()
    return "sqlite", os.path.abspath(os.path.expanduser(path)) if path else str(data_folder(env) / DB_FILE_NAME)


def offline(environ: Mapping[str, str] | None = None) -> bool:
    """Whether offline work was asked for (QUILLON_OFFLINE)."""
    env = os.environ if environ is None else environ
    return env.get(ENV_OFFLINE, "").strip().lower() in _TRUE
