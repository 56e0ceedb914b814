"""Where the registry lives by default: the user's data folder, its overrides, and the folder
of earlier versions, still found by a user whose data is there."""

import pathlib

import pytest

from quillon.registry import settings


@pytest.fixture
def home(tmp_path, monkeypatch):
    monkeypatch.setenv("HOME", str(tmp_path))
    monkeypatch.delenv("XDG_DATA_HOME", raising=False)
    monkeypatch.delenv("QUILLON_REGISTRY_DB", raising=False)
    monkeypatch.delenv("QUILLON_REGISTRY_URL", raising=False)
    return tmp_path


@pytest.mark.skipif(settings._OVERRIDE != "XDG_DATA_HOME", reason="the XDG layout is Linux's")
def test_default_folder_and_its_overrides(home, monkeypatch):
    assert settings.data_folder() == home / ".local" / "share" / "quillon"
    assert settings.registry_location() == ("sqlite", str(home / ".local/share/quillon/registry.sqlite3"))
    # XDG_DATA_HOME, whether in the process's environment or in the one handed over.
    assert settings.data_folder({"XDG_DATA_HOME": "/dados"}) == pathlib.Path("/dados/quillon")
    monkeypatch.setenv("XDG_DATA_HOME", str(home / "xdg"))
    assert settings.data_folder() == home / "xdg" / "quillon"
    assert settings.registry_location({"QUILLON_REGISTRY_DB": "~/r.sqlite3"}) == ("sqlite", str(home / "r.sqlite3"))
    url = "postgresql://u@h/db"
    assert settings.registry_location({"QUILLON_REGISTRY_URL": url, "QUILLON_REGISTRY_DB": "x"}) == ("postgresql", url)


def test_data_in_the_former_folder_is_still_found(home, monkeypatch):
    platform_folder = home / "platform" / "quillon"
    monkeypatch.setattr(settings.platformdirs, "user_data_path", lambda *a, **k: platform_folder)
    monkeypatch.setattr(settings, "_OVERRIDE", None)
    former = settings._former_data_folder()
    assert settings.data_folder() == platform_folder  # nothing anywhere: the platform's folder
    former.mkdir(parents=True)
    assert settings.data_folder() == former  # the user's data where it was
    platform_folder.mkdir(parents=True)
    assert settings.data_folder() == platform_folder  # once the platform's folder exists, it wins
