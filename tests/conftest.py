"""Every test gets a registry database of its own and no registry settings from the outside."""

import pytest


@pytest.fixture(autouse=True)
def _own_registry(tmp_path_factory, monkeypatch):
    for name in ("QUILLON_REGISTRY_URL", "QUILLON_OFFLINE", "QUILLON_PACE_BRASILAPI", "QUILLON_PACE_RECEITAWS",
                 "QUILLON_PACE_CASADOSDADOS", "QUILLON_CACHE_TTL", "QUILLON_RETRY_AFTER_MAX"):
        monkeypatch.delenv(name, raising=False)
    monkeypatch.setenv("QUILLON_REGISTRY_DB", str(tmp_path_factory.mktemp("registry") / "registry.sqlite3"))
    # The shared web client paces for real: tests that do not test pacing do not wait for it.
    for name in ("QUILLON_PACE_BRASILAPI", "QUILLON_PACE_RECEITAWS", "QUILLON_PACE_CASADOSDADOS"):
        monkeypatch.setenv(name, "1000/s")
    yield
    import sys

    if "quillon.registry" in sys.modules:
        from quillon import registry
        from quillon.registry import online

        registry.close_all()
        online._default = None
