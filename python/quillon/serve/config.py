"""The server's settings: from the command's options and the environment.

- ``QUILLON_SERVE_TOKEN``: when set, every route asks for it
  (``Authorization: Bearer TOKEN``; the page keeps it in a cookie);
- ``QUILLON_SERVE_MAX_MB``: the largest PDF accepted, in MB (50);
- ``QUILLON_SERVE_UPLOADS``: where PDFs wait for their verification (by
  default ``uploads`` in the user's data folder); each is deleted when its job ends.
"""

from __future__ import annotations

import ipaddress
import os
import pathlib
from dataclasses import dataclass, field
from typing import Mapping, Optional

from quillon import batch

ENV_TOKEN = "QUILLON_SERVE_TOKEN"
ENV_MAX_MB = "QUILLON_SERVE_MAX_MB"
ENV_UPLOADS = "QUILLON_SERVE_UPLOADS"
DEFAULT_MAX_MB = 50


class ConfigError(ValueError):
    """A setting the server cannot start with."""


@dataclass
class ServeConfig:
    host: str = "127.0.0.1"
    port: int = 8000
    token: Optional[str] = None
    max_bytes: int = DEFAULT_MAX_MB * 1024 * 1024
    uploads: pathlib.Path = field(default_factory=lambda: pathlib.Path("uploads"))
    jobs: int = 1
    options: batch.Options = field(default_factory=batch.Options)


def is_loopback(host: str) -> bool:
    if host.strip().lower() == "localhost":
        return True
    try:
        return ipaddress.ip_address(host.strip("[]")).is_loopback
    except ValueError:
        return False


def max_bytes(environ: Mapping[str, str]) -> int:
    raw = environ.get(ENV_MAX_MB, "").strip()
    if not raw:
        return DEFAULT_MAX_MB * 1024 * 1024
    try:
        mb = float(raw)
    except ValueError:
        raise ConfigError(f"{ENV_MAX_MB} deve ser um número de MB (recebido {raw!r})") from None
    if not mb > 0:
        raise ConfigError(f"{ENV_MAX_MB} deve ser maior que zero (recebido {raw!r})")
    return int(mb * 1024 * 1024)


def from_environment(host: str, port: int, jobs: int, options: batch.Options,
                     environ: Optional[Mapping[str, str]] = None) -> ServeConfig:
    """The settings, checked: a non-loopback address is refused without a token."""
    env = os.environ if environ is None else environ
    token = env.get(ENV_TOKEN, "").strip() or None
    if not is_loopback(host) and token is None:
        raise ConfigError(f"recusado: escutar em {host} expõe os contratos na rede; defina {ENV_TOKEN} "
                          "(todas as rotas passam a pedir o token) ou use --host 127.0.0.1")
    if not 0 <= port <= 65535:
        raise ConfigError(f"porta inválida: {port}")
    uploads = env.get(ENV_UPLOADS, "").strip()
    if uploads:
        folder = pathlib.Path(os.path.expanduser(uploads)).resolve()
    else:
        from quillon.registry.settings import data_folder

        folder = data_folder(env) / "uploads"
    return ServeConfig(host=host, port=port, token=token, max_bytes=max_bytes(env), uploads=folder,
                       jobs=max(1, jobs), options=options)
