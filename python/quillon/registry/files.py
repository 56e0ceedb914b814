"""Finding the published files in a folder and reading them as byte streams.

A folder holds the zip files as downloaded (``Empresas0.zip`` ...), or the
text files already taken out of them (``K3241.K03200Y0.D40510.EMPRECSV``), or
both. Each text file is one *source*; its identity (name, size and CRC-32 for a
zip member, name, size and modification time for a plain file) tells an
import that resumes whether it is still the same file.

A text file found twice (inside its zip and taken out beside it, or in two
copies of a zip) is read once: from the zip, whose CRC-32 vouches for its
bytes; the other copy is reported as a duplicate.  A zip that cannot be read
is an ``UnreadableFile`` naming it.
"""

from __future__ import annotations

import dataclasses
import hashlib
import json
import os
import pathlib
import re
import zipfile
import zlib
from typing import BinaryIO, Iterator

from quillon.registry.layout import KINDS, FileKind, kind_of_member, kind_of_zip

CHUNK = 1 << 20  # bytes handed to the line reader at a time

#: What reading a damaged or truncated file raises (zip structure, CRC, deflate stream, the disk).
READ_ERRORS = (zipfile.BadZipFile, zipfile.LargeZipFile, zlib.error, EOFError, OSError)


class UnreadableFile(ValueError):
    """A published file that cannot be read (not a zip, truncated, failing its CRC): its message names it."""

    def __init__(self, path: os.PathLike | str, error: BaseException, member: str | None = None):
        where = os.fspath(path) + (f" ({member})" if member else "")
        reason = str(error) or type(error).__name__
        super().__init__(f"{where}: arquivo ilegível ou danificado: {reason}")
        self.path = pathlib.Path(path)


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


@dataclasses.dataclass
class Found:
    """What a folder holds: the sources in import order, the files that are none, the duplicates."""

    sources: list[Source]
    ignored: list[pathlib.Path]
    #: "<file> (já lido de <zip>)" for each copy of a text file that is read from elsewhere.
    duplicates: list[str]


def find_sources(folder: str | os.PathLike) -> Found:
    """The sources of a folder (see the module's notes); UnreadableFile for a zip that cannot be read."""
    folder = pathlib.Path(folder)
    if not folder.is_dir():
        raise NotADirectoryError(f"Pasta não encontrada: {folder}")
    paths = sorted((p for p in folder.iterdir() if p.is_file()), key=lambda p: _natural(p.name))
    found = Found([], [], [])
    chosen: dict[str, Source] = {}  # text file name: where it is read from

    def add(source: Source) -> None:
        name = pathlib.PurePath(source.member or source.path.name).name
        first = chosen.setdefault(name, source)
        if first is source:
            found.sources.append(source)
        else:
            found.duplicates.append(f"{source.key} (já lido de {first.key})")

    # Zips first: a text file inside a zip is read from there.
    for path in (p for p in paths if p.suffix.lower() == ".zip"):
        sources_of_zip = list(_zip_sources(path))
        for source in sources_of_zip:
            add(source)
        if not sources_of_zip:
            found.ignored.append(path)
    for path in (p for p in paths if p.suffix.lower() != ".zip"):
        kind = kind_of_member(path.name)
        if kind is None:
            found.ignored.append(path)
            continue
        stat = path.stat()
        add(Source(kind, path, None, stat.st_size, f"{path.name}:{stat.st_size}:{stat.st_mtime_ns}"))
    order = {kind.name: i for i, kind in enumerate(KINDS)}
    found.sources.sort(key=lambda s: (order[s.kind.name], _natural(s.key)))
    found.ignored.sort(key=lambda p: _natural(p.name))
    return found


def _zip_sources(path: pathlib.Path) -> Iterator[Source]:
    zip_kind = kind_of_zip(path.name)
    try:
        archive = zipfile.ZipFile(path)
    except READ_ERRORS as error:
        raise UnreadableFile(path, error) from None
    with archive:
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
