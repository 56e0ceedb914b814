"""Where the registry database is and whether the web may be asked, from the environment.

Read at each use, so that a change of the environment takes effect at the next
lookup:

- ``QUILLON_REGISTRY_URL``: a PostgreSQL URL (``postgresql://user@host/db``);
  when set, the registry lives there.
- ``QUILLON_REGISTRY_DB``: the SQLite file of the registry; by default
  ``registry.sqlite3`` in the user's data folder, the platform's (platformdirs):
  ``$XDG_DATA_HOME/quillon``, else ``~/.local/share/quillon`` on Linux;
  ``%LOCALAPPDATA%\\quillon`` on Windows; ``~/Library/Application
  Support/quillon`` on macOS.
- ``QUILLON_OFFLINE``: "1" (or "true", "yes", "sim", "on") keeps every lookup
  to the local database: no web service is asked.
"""

from __future__ import annotations

import os
import pathlib
import sys
from typing import Mapping

import platformdirs

ENV_URL = "QUILLON_REGISTRY_URL"
ENV_DB = "QUILLON_REGISTRY_DB"
ENV_OFFLINE = "QUILLON_OFFLINE"
DB_FILE_NAME = "registry.sqlite3"
APP_NAME = "quillon"
# The variable that names the data folder's parent; platformdirs reads it from
# os.environ, and callers may hand another environment.
_OVERRIDE = {"win32": "LOCALAPPDATA", "darwin": None}.get(sys.platform, "XDG_DATA_HOME")
_POSTGRES_SCHEMES = ("postgresql://", "postgres://")
_TRUE = {"1", "true", "yes", "sim", "on"}


def data_folder(environ: Mapping[str, str] | None = None) -> pathlib.Path:
    """The user's data folder for quillon.

    ``XDG_DATA_HOME`` (``LOCALAPPDATA`` on Windows) in ``environ`` names its
    parent, as it always did.  Otherwise it is the platform's folder; a user
    whose data is in the folder quillon used before and not in that one keeps
    finding it there.
    """
    env = os.environ if environ is None else environ
    override = env.get(_OVERRIDE) if _OVERRIDE else None
    if override:
        return pathlib.Path(override) / APP_NAME
    folder = platformdirs.user_data_path(APP_NAME, appauthor=False)
    legacy = _former_data_folder()
    if folder != legacy and not folder.exists() and legacy.exists():
        return legacy
    return folder


def _former_data_folder() -> pathlib.Path:
    """Where quillon kept its data before it asked platformdirs (same place on Linux and macOS)."""
    home = pathlib.Path.home()
    if sys.platform == "win32":
        return home / "AppData" / "Local" / APP_NAME
    if sys.platform == "darwin":
        return home / "Library" / "Application Support" / APP_NAME
    return home / ".local" / "share" / APP_NAME


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
