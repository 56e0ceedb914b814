"""The line reader of the importer, against Python's csv module."""

from __future__ import annotations

import csv
import io
import random

import pytest

from quillon.registry.opendata import CNPJ, CODE, DATE, KEY, TEXT, LineReader, name_key

TEXTS = [(TEXT, i) for i in range(3)]


def read_all(data: bytes, size: int, columns=3, plan=TEXTS):
    reader = LineReader(columns, plan)
    rows = []
    for start in range(0, len(data), size):
        rows += reader.feed(data[start:start + size])
    rows += reader.finish()
    return rows, reader.take_errors(), reader.line, reader.offset


@pytest.mark.parametrize("size", [1, 2, 3, 7, 64, 1 << 20])
def test_chunk_boundaries_do_not_matter(size):
    data = b'"a";"b;c";"d""e"\r\n"\xe1";"";"x"\n\n"bad\n"1";"2";"3"'
    rows, errors, lines, offset = read_all(data, size)
    assert rows == [("a", "b;c", 'd"e'), ("á", "", "x"), ("1", "2", "3")]
    assert errors == [(4, "aspas não fechadas")]
    assert (lines, offset) == (5, len(data))


def test_plan_operations():
    data = b'"06990590";"0001";"23";"20040901";"0";"05";"";"Associa\xe7\xe3o S/A"\n'
    plan = [(CNPJ, 0), (DATE, 3), (DATE, 4), (CODE, 5), (CODE, 6), (KEY, 7), (TEXT, 7)]
    rows, errors, _, _ = read_all(data, 1 << 20, columns=8, plan=plan)
    assert rows == [("06990590000123", "2004-09-01", None, 5, None, "associacao s a", "Associação S/A")]
    with pytest.raises(ValueError):
        LineReader(3, [(CNPJ, 1)])


def test_resuming_counts_from_where_it_left():
    reader = LineReader(1, [(TEXT, 0)], line=41, offset=1000)
    assert reader.feed(b'"x"\n"y') == [("x",)] and (reader.line, reader.offset) == (42, 1004)


def test_an_overlong_line_is_skipped_in_flat_memory():
    reader = LineReader(1, [(TEXT, 0)])
    rows = reader.feed(b'"ok"\n"' + b"x" * (600 << 10))
    rows += reader.feed(b"x" * (600 << 10))
    rows += reader.feed(b'x"\n"after"\n')
    assert rows == [("ok",), ("after",)]
    assert reader.take_errors() == [(2, "linha longa demais (mais de 1 MiB)")]
    assert reader.line == 3


def _random_field(rng):
    return "".join(rng.choice('ab;"\'\xe7\xc3 ,') for _ in range(rng.randrange(0, 8)))


def test_records_written_by_csv_read_back_the_same():
    rng = random.Random(7)
    for _ in range(300):
        rows = [[_random_field(rng) for _ in range(4)] for _ in range(rng.randrange(1, 6))]
        out = io.StringIO()
        csv.writer(out, delimiter=";", quoting=csv.QUOTE_ALL, lineterminator="\n").writerows(rows)
        got, errors, _, _ = read_all(out.getvalue().encode("latin-1"), rng.choice([1, 5, 1 << 20]), 4,
                                     [(TEXT, i) for i in range(4)])
        assert errors == [] and got == [tuple(r) for r in rows]


def test_random_lines_read_as_csv_strict_reads_them():
    rng = random.Random(11)
    for _ in range(3000):
        text = "".join(rng.choice('ab;"\xe7') for _ in range(rng.randrange(1, 12)))
        reader = LineReader(1, [])  # no plan: only the splitting matters
        reader.feed(text.encode("latin-1") + b"\n")
        errors = reader.take_errors()
        try:
            fields = next(csv.reader([text], delimiter=";", strict=True))
        except csv.Error:
            fields = None
        if fields is None or len(fields) != 1:
            continue  # csv refuses it, or a field count the one-column plan reports
        assert errors == [], text


@pytest.mark.parametrize(("name", "key"), [
    ("Globo Comunicação e Participações S.A.", "globo comunicacao e participacoes s a"),
    ("GLOBO COMUNICACAO E PARTICIPACOES S/A", "globo comunicacao e participacoes s a"),
    ("  Open   Knowledge\tBrasil ", "open knowledge brasil"),
    ("ÁÉÍÓÚ ÇÑ", "aeiou cn"), ("", ""), ("...", ""), ("Ǆemal", "ǆemal")])
def test_name_key(name, key):
    assert name_key(name) == key


def test_name_key_takes_text_only():
    with pytest.raises(TypeError, match="argument 'nome' must be str"):
        name_key(b"x")
