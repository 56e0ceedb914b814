"""``quillon serve`` started as a process on a free loopback port, as its users start it.

``sample_registry`` builds the sample registry once; each server gets a copy
of it (the registry database also keeps the server's jobs) and an uploads
folder of its own.  ``ServeProcess.start()`` waits for uvicorn's line with
the port it bound (``--port 0``); ``stop()`` ends it (SIGTERM, or SIGKILL to
stand for a crash).
"""

from __future__ import annotations

import json
import os
import pathlib
import re
import shutil
import signal
import sqlite3
import subprocess
import sys
import threading
import time
import urllib.error
import urllib.request
import uuid
from typing import Any, Optional

from extraction_scoring import EXAMPLES, expected
from quillon.engine.documents import tesseract_available

_LISTENING = re.compile(r"Uvicorn running on (http://[\d.]+:\d+)")
START_TIMEOUT = 60


def sample_registry(folder: pathlib.Path) -> pathlib.Path:
    path = folder / "registry.sqlite3"
    done = subprocess.run([sys.executable, "-m", "quillon", "registry", "sample", "--registry-db", str(path)],
                          capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    return path


def sample_registry_postgres(url: str) -> str:
    """The sample registry in the (emptied) PostgreSQL database at ``url``."""
    env = {**os.environ, "QUILLON_REGISTRY_URL": url}
    done = subprocess.run([sys.executable, "-m", "quillon", "registry", "sample"], capture_output=True, text=True,
                          env=env)
    assert done.returncode == 0, done.stderr
    return url


def expected_verdicts() -> dict[str, str]:
    """The verdict each sample contract is written to get, here (with or without Tesseract)."""
    ocr = tesseract_available()
    return {name: (spec["resultado_final"] if (ocr or not spec["escaneado"]) else spec["resultado_sem_ocr"])
            for name, spec in expected().items()}


class ServeProcess:
    def __init__(self, folder: pathlib.Path, registry: pathlib.Path | str, *, jobs: int = 2,
                 env: Optional[dict[str, str]] = None, args: tuple[str, ...] = ()) -> None:
        """``registry``: the sample registry file (copied), or a PostgreSQL URL holding it."""
        self.folder = folder
        folder.mkdir(parents=True, exist_ok=True)
        self.url_db = registry if isinstance(registry, str) else None
        self.db = folder / "registry.sqlite3"
        if self.url_db is None and not self.db.exists():
            shutil.copy(registry, self.db)
        self.uploads = folder / "uploads"
        self.jobs = jobs
        self.env = {k: v for k, v in os.environ.items() if not k.startswith("QUILLON_SERVE_")}
        self.env.update(QUILLON_SERVE_UPLOADS=str(self.uploads), **(env or {}))
        self.env.pop("QUILLON_REGISTRY_URL", None)
        if self.url_db:
            self.env["QUILLON_REGISTRY_URL"] = self.url_db
        self.args = args
        self.proc: Optional[subprocess.Popen] = None
        self.url = ""
        self.log: list[str] = []

    def command(self) -> list[str]:
        where = [] if self.url_db else ["--registry-db", str(self.db)]
        return [sys.executable, "-m", "quillon", "serve", "--port", "0", "--jobs", str(self.jobs),
                "--provider", "local", "--offline", *where, *self.args]

    def start(self) -> "ServeProcess":
        self.proc = subprocess.Popen(self.command(), env=self.env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                     text=True, start_new_session=True)
        found = threading.Event()

        def read() -> None:
            for line in self.proc.stdout:
                self.log.append(line)
                match = _LISTENING.search(line)
                if match and not found.is_set():
                    self.url = match.group(1)
                    found.set()

        threading.Thread(target=read, daemon=True).start()
        if not found.wait(START_TIMEOUT):
            self.stop()
            raise AssertionError("quillon serve did not start:\n" + "".join(self.log))
        return self

    def stop(self, sig: int = signal.SIGTERM) -> None:
        if self.proc is None:
            return
        if self.proc.poll() is None:
            # The whole group: a crash takes the forked workers along too.
            os.killpg(self.proc.pid, sig)
            try:
                self.proc.wait(15)
            except subprocess.TimeoutExpired:
                os.killpg(self.proc.pid, signal.SIGKILL)
                self.proc.wait()
        self.proc = None

    def __enter__(self) -> "ServeProcess":
        return self.start()

    def __exit__(self, *exc) -> None:
        self.stop()

    # --- the API, through the standard library ---------------------------------------------
    def request(self, method: str, path: str, body: Optional[bytes] = None,
                headers: Optional[dict[str, str]] = None, timeout: float = 30) -> tuple[int, Any]:
        req = urllib.request.Request(self.url + path, data=body, method=method, headers=headers or {})
        try:
            with urllib.request.urlopen(req, timeout=timeout) as resp:
                status, raw, kind = resp.status, resp.read(), resp.headers.get("content-type", "")
        except urllib.error.HTTPError as exc:
            status, raw, kind = exc.code, exc.read(), exc.headers.get("content-type", "")
        return status, (json.loads(raw) if "json" in kind else raw.decode("utf-8", "replace"))

    def upload(self, data: bytes, filename: str, path: str = "/api/verificacoes",
               headers: Optional[dict[str, str]] = None) -> tuple[int, Any]:
        body, kind = multipart(data, filename)
        return self.request("POST", path, body, {"Content-Type": kind, **(headers or {})})

    def wait(self, job_id: str, timeout: float = 120) -> dict[str, Any]:
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            status, job = self.request("GET", f"/api/verificacoes/{job_id}")
            assert status == 200, job
            if job["status"] in ("concluido", "erro"):
                return job
            time.sleep(0.05)
        raise AssertionError(f"job {job_id} not finished in {timeout}s:\n" + "".join(self.log[-30:]))

    def job_rows(self) -> list[tuple]:
        if self.url_db:
            import psycopg

            with psycopg.connect(self.url_db, autocommit=True) as conn:
                return conn.execute("SELECT id, arquivo, status FROM serve_jobs").fetchall()
        with sqlite3.connect(self.db) as conn:
            try:
                return conn.execute("SELECT id, arquivo, status FROM serve_jobs").fetchall()
            except sqlite3.OperationalError:
                return []

    def leftovers(self) -> list[str]:
        return sorted(p.name for p in self.uploads.iterdir()) if self.uploads.exists() else []


def multipart(data: bytes, filename: str, field: str = "arquivo") -> tuple[bytes, str]:
    boundary = uuid.uuid4().hex
    body = (f'--{boundary}\r\nContent-Disposition: form-data; name="{field}"; filename="{filename}"\r\n'
            f"Content-Type: application/pdf\r\n\r\n").encode() + data + f"\r\n--{boundary}--\r\n".encode()
    return body, f"multipart/form-data; boundary={boundary}"


def sample_pdf(name: str) -> bytes:
    return (EXAMPLES / name).read_bytes()
