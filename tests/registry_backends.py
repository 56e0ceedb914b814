"""The registry database under test: an SQLite file, and a real PostgreSQL server when one is reachable.

`make test` starts a throwaway server (tools/test_postgres.sh) and hands its URL
over in QUILLON_TEST_POSTGRES_URL; without it the PostgreSQL cases skip and
say why.
"""

from __future__ import annotations

import os

import pytest

from quillon.registry import open_store

POSTGRES_URL = os.environ.get("QUILLON_TEST_POSTGRES_URL", "")


def _empty_postgres():
    if not POSTGRES_URL:
        pytest.skip("no PostgreSQL server for the tests: QUILLON_TEST_POSTGRES_URL is not set "
                    "(make test starts one with tools/test_postgres.sh)")
    psycopg = pytest.importorskip("psycopg")
    try:
        with psycopg.connect(POSTGRES_URL, autocommit=True, connect_timeout=5) as conn:
            conn.execute("DROP SCHEMA IF EXISTS public CASCADE")
            conn.execute("CREATE SCHEMA public")
    except psycopg.OperationalError as error:
        pytest.skip(f"PostgreSQL server unreachable at QUILLON_TEST_POSTGRES_URL: {error}")
    return open_store("postgresql", POSTGRES_URL)


@pytest.fixture(params=["sqlite", "postgresql"])
def store(request, tmp_path):
    """An empty registry database of each kind."""
    s = open_store("sqlite", str(tmp_path / "registry.sqlite3")) if request.param == "sqlite" else _empty_postgres()
    yield s
    s.close()
