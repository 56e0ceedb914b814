"""Credentials for the extraction engine and the choice of model provider.

Arguments come first; what is missing is read from the environment:
``OPENAI_API_KEY``, ``AZURE_API_KEY``, ``AZURE_API_ENDPOINT``,
``AZURE_DEPLOYMENT_NAME``, and ``QUILLON_PROVIDER`` for the provider when
none is asked for.  Keys are never printed or logged: ``repr()`` shows only
whether each is set.

The "local" provider is the engine's rule-based extractor: it needs no key
and makes no network call.
"""

from __future__ import annotations

import os
from typing import Any, Dict, Optional

__all__ = ["QuillonAuth", "AuthenticatedClient", "PROVIDERS"]

#: Providers the engine knows.
PROVIDERS = ("openai", "azure", "local")

#: Providers that answer without any credential.
KEYLESS_PROVIDERS = ("local",)

#: Environment variable naming the provider used when none is asked for.
ENV_PROVIDER = "QUILLON_PROVIDER"


def _text(value: Optional[str], name: str) -> Optional[str]:
    if value is not None and not isinstance(value, str):
        raise TypeError(f"QuillonAuth() argument '{name}' must be str or None, not {type(value).__name__}")
    return value or None


class QuillonAuth:
    """Resolves keys and provider for the engine.

    The provider is the one asked for; otherwise the one ``QUILLON_PROVIDER``
    names; otherwise Azure when Azure credentials (key and endpoint) are
    present and no OpenAI key is, else OpenAI.
    """

    def __init__(
        self,
        api_token: Optional[str] = None,
        openai_api_key: Optional[str] = None,
        provider: Optional[str] = None,
        azure_api_key: Optional[str] = None,
        azure_endpoint: Optional[str] = None,
        azure_deployment: Optional[str] = None,
        azure_api_version: str = "2024-02-15-preview",
    ) -> None:
        env = os.environ
        self.api_token = _text(api_token, "api_token")
        self._openai_api_key = _text(openai_api_key, "openai_api_key") or env.get("OPENAI_API_KEY") or None
        self._azure_api_key = _text(azure_api_key, "azure_api_key") or env.get("AZURE_API_KEY") or None
        self.azure_endpoint = _text(azure_endpoint, "azure_endpoint") or env.get("AZURE_API_ENDPOINT") or None
        self.azure_deployment = _text(azure_deployment, "azure_deployment") or env.get("AZURE_DEPLOYMENT_NAME") or None
        self.azure_api_version = _text(azure_api_version, "azure_api_version") or "2024-02-15-preview"

        requested = _text(provider, "provider")
        if requested is None:
            requested = env.get(ENV_PROVIDER, "").strip() or None
        if requested is not None:
            name = requested.strip().lower()
            if name not in PROVIDERS:
                raise ValueError(f"provider desconhecido: {requested!r} (use um de: {', '.join(PROVIDERS)})")
            self.provider: Optional[str] = name
        elif self._azure_api_key and self.azure_endpoint and not self._openai_api_key:
            self.provider = "azure"
        else:
            self.provider = "openai"

    # -- what the checker reads ------------------------------------------------
    @property
    def is_azure(self) -> bool:
        return self.provider == "azure"

    @property
    def is_local(self) -> bool:
        return self.provider in KEYLESS_PROVIDERS

    @property
    def has_api_key(self) -> bool:
        """Whether the chosen provider has every credential it needs (the local one needs none)."""
        if self.is_local:
            return True
        if self.is_azure:
            return bool(self._azure_api_key and self.azure_endpoint and self.azure_deployment)
        return bool(self._openai_api_key)

    @property
    def is_quillon_available(self) -> bool:
        """Whether the extraction engine can be loaded from the package."""
        import quillon

        try:
            getattr(quillon, "Quillon")
        except (AttributeError, ImportError):
            return False
        return True

    def get_token(self) -> Optional[str]:
        """The token for the chosen provider (an explicit api_token first); None for the local one."""
        if self.is_local:
            return None
        if self.api_token:
            return self.api_token
        return self._azure_api_key if self.is_azure else self._openai_api_key

    def get_quillon_kwargs(self) -> Dict[str, Any]:
        """Keyword arguments for the engine's constructor."""
        if self.is_local:
            return {"provider": self.provider}
        if self.is_azure:
            return {
                "provider": "azure",
                "api_key": self._azure_api_key,
                "azure_endpoint": self.azure_endpoint,
                "azure_deployment": self.azure_deployment,
                "api_version": self.azure_api_version,
            }
        return {"provider": self.provider, "api_key": self.get_token()}

    def __repr__(self) -> str:
        def mark(v: Optional[str]) -> str:
            return "set" if v else "unset"

        return (
            f"QuillonAuth(provider={self.provider!r}, openai_api_key={mark(self._openai_api_key)}, "
            f"azure_api_key={mark(self._azure_api_key)}, azure_endpoint={self.azure_endpoint!r}, "
            f"azure_deployment={self.azure_deployment!r})"
        )


class AuthenticatedClient:
    """An authentication object paired with the engine client it configured."""

    def __init__(self, auth: QuillonAuth, client: Any = None) -> None:
        self.auth = auth
        self.client = client

    @property
    def provider(self) -> Optional[str]:
        return self.auth.provider

    def __repr__(self) -> str:
        return f"AuthenticatedClient({self.auth!r})"
