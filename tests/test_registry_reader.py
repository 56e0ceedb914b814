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


# --- against the plain-Python oracle ----------------------------------------------------------
from hypothesis import given, settings
from hypothesis import strategies as st

import text_oracles as oracle
from text_strategies import any_texts, latin1_keyword_texts

LINE_PIECES = [b'"', b'""', b";", b"\n", b"\r\n", b"\r", b"\x00", b"a", b"\xe7\xe3o", b"20240131", b"20230229",
               b"0", b"12", b"1234567890123456789", b" ", b"_", b'"06990590";"0001";"23"', b"S/A", b"\xc9\xa0"]
PLANS = [TEXTS, [(CNPJ, 0), (DATE, 1), (CODE, 2), (KEY, 1)], [(KEY, 2), (CODE, 0), (DATE, 2)], []]
files = st.lists(st.one_of(st.sampled_from(LINE_PIECES), st.binary(max_size=3)), max_size=50).map(b"".join)


def read_in_chunks(data: bytes, cuts, plan, line=0, offset=0):
    reader = LineReader(3, plan, line, offset)
    rows, errors, start = [], [], 0
    for cut in sorted(cuts) + [len(data)]:
        rows += reader.feed(data[start:cut])
        errors += reader.take_errors()
        start = max(start, cut)
    rows += reader.finish()
    errors += reader.take_errors()
    return rows, errors, reader.line, reader.offset


@settings(max_examples=400, deadline=None)
@given(files, st.lists(st.integers(0, 200), max_size=6), st.sampled_from(PLANS), st.integers(0, 10**9))
def test_line_reader_reads_as_the_oracle_wherever_the_chunks_end(data, cuts, plan, resumed):
    cuts = [min(c, len(data)) for c in cuts]
    assert read_in_chunks(data, cuts, plan, resumed, resumed) == oracle.read_lines(data, 3, plan, resumed, resumed)


@pytest.mark.parametrize("cut", [0, 5, (1 << 20) + 3, (1 << 20) + 5, (1 << 20) + 6])
def test_overlong_lines_read_as_the_oracle(cut):
    at_limit = b"x" * (1 << 20)
    data = b'"ok"\n' + at_limit + b"\r\n" + at_limit + b"y\n" + at_limit + b"yz"
    got = read_in_chunks(data, [cut], [(TEXT, 0)])
    assert got == oracle.read_lines(data, 3, [(TEXT, 0)])
    assert [n for n, reason in got[1] if "longa" in reason] == [3, 4] and got[2:] == (4, len(data))


@settings(max_examples=500, deadline=None)
@given(st.one_of(any_texts, latin1_keyword_texts))
def test_name_key_as_the_oracle(name):
    assert name_key(name) == oracle.name_key(name)
