"""Finding the published files in a folder and reading them as byte streams.

A folder holds the zip files as downloaded (``Empresas0.zip`` ...), or the
text files already taken out of them (``K3241.K03200Y0.D40510.EMPRECSV``), or
both. Each text file is one *source*; its identity (name, size and CRC-32 for a
zip member, name, size and modification time for a plain file) tells an
import that resumes whether it is still the same file.
"""

from __future__ import annotations

import dataclasses
import hashlib
import json
import os
import pathlib
import re
import zipfile
from typing import BinaryIO, Iterator

from quillon.registry.layout import KINDS, FileKind, kind_of_member, kind_of_zip

CHUNK = 1 << 20  # bytes handed to the line reader at a time


@dataclasses.dataclass(frozen=True)
class Source:
    kind: FileKind
    path: pathlib.Path
    member: str | None  # the text file inside the zip; None for a plain file
    size: int  # bytes of text (uncompressed)
    identity: str

    @property
    def key(self) -> str:
        """Stable name of the source within its folder."""
        return f"{self.path.name}:{self.member}" if self.member else self.path.name

    def open(self) -> BinaryIO:
        if self.member is None:
            return open(self.path, "rb")
        archive = zipfile.ZipFile(self.path)
        try:
            stream = archive.open(self.member)
        except BaseException:
            archive.close()
            raise
        return _ClosingMember(stream, archive)


class _ClosingMember:
    """A zip member stream that closes its archive with it."""

    def __init__(self, stream, archive):
        self._stream, self._archive = stream, archive

    def read(self, n: int = -1) -> bytes:
        return self._stream.read(n)

    def close(self) -> None:
        self._stream.close()
        self._archive.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def _natural(name: str) -> list:
    """Sort key that puts Empresas2 before Empresas10."""
    return [int(part) if part.isdigit() else part for part in re.split(r"(\d+)", name)]


def find_sources(folder: str | os.PathLike) -> tuple[list[Source], list[pathlib.Path]]:
    """The sources of a folder in import order, and the files that are none (ignored)."""
    folder = pathlib.Path(folder)
    if not folder.is_dir():
        raise NotADirectoryError(f"Pasta não encontrada: {folder}")
    sources: list[Source] = []
    ignored: list[pathlib.Path] = []
    for path in sorted(folder.iterdir(), key=lambda p: _natural(p.name)):
        if not path.is_file():
            continue
        if path.suffix.lower() == ".zip":
            sources_of_zip = list(_zip_sources(path))
            sources.extend(sources_of_zip)
            if not sources_of_zip:
                ignored.append(path)
            continue
        kind = kind_of_member(path.name)
        if kind is None:
            ignored.append(path)
            continue
        stat = path.stat()
        sources.append(Source(kind, path, None, stat.st_size, f"{path.name}:{stat.st_size}:{stat.st_mtime_ns}"))
    order = {kind.name: i for i, kind in enumerate(KINDS)}
    sources.sort(key=lambda s: (order[s.kind.name], _natural(s.key)))
    return sources, ignored


def _zip_sources(path: pathlib.Path) -> Iterator[Source]:
    zip_kind = kind_of_zip(path.name)
    with zipfile.ZipFile(path) as archive:
        for info in archive.infolist():
            if info.is_dir():
                continue
            kind = zip_kind or kind_of_member(info.filename)
            if kind is None:
                continue
            identity = f"{path.name}:{info.filename}:{info.file_size}:{info.CRC:08x}"
            yield Source(kind, path, info.filename, info.file_size, identity)


def fingerprint(sources: list[Source]) -> str:
    """One text that changes when any file of the set does."""
    data = json.dumps([s.identity for s in sources]).encode()
    return hashlib.sha256(data).hexdigest()


def chunks(stream: BinaryIO, skip: int = 0) -> Iterator[bytes]:
    """The bytes of a stream in chunks, after its first `skip` bytes."""
    while skip > 0:
        got = stream.read(min(CHUNK, skip))
        if not got:
            return
        skip -= len(got)
    while True:
        chunk = stream.read(CHUNK)
        if not chunk:
            return
        yield chunk
