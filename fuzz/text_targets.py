"""atheris fuzz targets for the compiled text functions.

`triar_documento` also gets tables that fight back: iterables that rebind or
delete their module attribute while the binding reads them, or refuse to be
read, and counts that rebind theirs when converted.  `line_reader` feeds the
open-data line reader bytes cut at random places: the rows, errors and counts
must be the plain-Python reader's (`text_oracles.read_lines`) whatever the cuts
and after resuming at the first line, and plain text lines must read as
Python's csv module reads them.  `name_key` checks the registry's name key.

Each text target builds text from the fuzzer's bytes (table words, address words,
white space and punctuation of every kind, combining marks, sigma, arbitrary
code points of all three string widths), calls the compiled function, and
checks its answer against the plain-Python formulation of the same rules
whenever the text holds only code points this Python's Unicode database
assigns (the core's data may be newer).  Any other input must still give an
answer or the documented TypeError, never a crash.

    python fuzz/text_targets.py <target> [libFuzzer options, e.g. -max_total_time=30]
    python fuzz/text_targets.py --list

`make fuzz` runs every target against extension modules built with
AddressSanitizer and UBSan.
"""

from __future__ import annotations

import pathlib
import sys
import unicodedata

import atheris

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests"))

import hypothesis.strategies  # noqa: F401  (imported uninstrumented: only the oracles are)

with atheris.instrument_imports():
    import text_oracles as oracle
    from text_strategies import ADDRESS_FORMS, KEYWORD_FORMS, SPECIAL

from quillon.contract.countries.br import cnpj, keywords
from quillon.registry import opendata

print(f"fuzzing {keywords.__file__}, {cnpj.__file__} and {opendata.__file__}", file=sys.stderr)

TOKENS = KEYWORD_FORMS + ADDRESS_FORMS + SPECIAL


@atheris.instrument_func
def make_text(fdp: atheris.FuzzedDataProvider, max_pieces: int = 24) -> str:
    parts = []
    for _ in range(fdp.ConsumeIntInRange(0, max_pieces)):
        kind = fdp.ConsumeIntInRange(0, 3)
        if kind == 0:
            parts.append(fdp.PickValueInList(TOKENS))
        elif kind == 1:
            parts.append(fdp.ConsumeUnicode(fdp.ConsumeIntInRange(1, 6)))
        elif kind == 2:
            parts.append(chr(fdp.ConsumeIntInRange(0x80, 0x2FFF)))
        else:
            parts.append(chr(fdp.ConsumeIntInRange(0, 0x10FFFF)))
    return "".join(parts)


@atheris.instrument_func
def comparable(text: str) -> bool:
    """Whether the oracle's Unicode data covers every code point of text."""
    return all(unicodedata.category(c) not in ("Cn", "Cs") for c in text)


@atheris.instrument_func
def fuzz_normalizar_texto(data: bytes) -> None:
    text = make_text(atheris.FuzzedDataProvider(data))
    got = keywords.normalizar_texto(text)
    if comparable(text):
        assert got == oracle.fold(text), (text, got)


@atheris.instrument_func
def fuzz_validar_documento_contrato(data: bytes) -> None:
    fdp = atheris.FuzzedDataProvider(data)
    custom = fdp.ConsumeBool()
    validacao = exclusao = None
    if custom:
        validacao = [make_text(fdp, 3) for _ in range(fdp.ConsumeIntInRange(0, 6))]
        exclusao = [make_text(fdp, 3) for _ in range(fdp.ConsumeIntInRange(0, 3))]
        if fdp.ConsumeIntInRange(0, 15) == 0:
            validacao.append(fdp.ConsumeInt(2))  # not text: an error for the caller
    text = make_text(fdp)
    saved = keywords.KEYWORDS_VALIDACAO, keywords.KEYWORDS_EXCLUSAO
    try:
        if custom:
            keywords.KEYWORDS_VALIDACAO, keywords.KEYWORDS_EXCLUSAO = validacao, exclusao
        got = keywords.validar_documento_contrato(text)
    except TypeError:
        assert text and not all(isinstance(v, str) for v in validacao or []), (text, validacao)
        return
    finally:
        keywords.KEYWORDS_VALIDACAO, keywords.KEYWORDS_EXCLUSAO = saved
    if not text:  # the tables are not read
        assert got == (False, 0, []), got
        return
    assert all(isinstance(v, str) for v in validacao or []), ("no TypeError", text, validacao)
    if comparable(text + "".join(validacao or []) + "".join(exclusao or [])):
        if custom:
            assert got == oracle.validar(text, validacao, exclusao), (text, validacao, exclusao, got)
        else:
            assert got == oracle.validar(text), (text, got)


@atheris.instrument_func
def fuzz_normalizar_endereco(data: bytes) -> None:
    text = make_text(atheris.FuzzedDataProvider(data))
    got = cnpj._normalizar_endereco(text)
    if comparable(text):
        assert got == oracle.normalizar_endereco(text), (text, got)


@atheris.instrument_func
def fuzz_comparar_enderecos(data: bytes) -> None:
    fdp = atheris.FuzzedDataProvider(data)
    contrato = make_text(fdp, 10)
    endereco = {}
    for key in oracle.ADDRESS_KEYS:
        if fdp.ConsumeBool():
            endereco[key] = None if fdp.ConsumeIntInRange(0, 7) == 0 else make_text(fdp, 4)
    threshold = fdp.ConsumeFloatInRange(0.0, 1.0)
    dados = {"endereco": endereco}
    if contrato and fdp.ConsumeIntInRange(0, 15) == 0:
        # A part that is not text: the error must reach the caller.
        endereco[fdp.PickValueInList(list(oracle.ADDRESS_KEYS))] = fdp.ConsumeInt(2)
        try:
            cnpj.comparar_enderecos(contrato, dados, threshold)
        except TypeError:
            return
        raise AssertionError(("no TypeError", contrato, endereco))
    got = cnpj.comparar_enderecos(contrato, dados, threshold)
    if comparable(contrato + "".join(v or "" for v in endereco.values())):
        assert got == oracle.comparar_enderecos(contrato, dados, threshold), (contrato, endereco, threshold, got)


_CHECKER = None
CPF_FORMS = ["100.133.807-37", "123.456.789-09", "12345678909", "***133807**", "***456789**", "***000000**",
             "06947283000160", "*", "-", "."]


@atheris.instrument_func
def make_cpf(fdp: atheris.FuzzedDataProvider) -> str:
    return fdp.PickValueInList(CPF_FORMS) if fdp.ConsumeBool() else make_text(fdp, 3)


@atheris.instrument_func
def fuzz_corroborated_signature(data: bytes) -> None:
    global _CHECKER
    from quillon.contract.checker import ContractChecker
    from quillon.contract.models import AssinaturaExtraida

    if _CHECKER is None:
        _CHECKER = ContractChecker("BR", provider="local", verbose=False)
        _CHECKER.corroborar_assinaturas = True
    fdp = atheris.FuzzedDataProvider(data)
    nome, cpf = make_text(fdp, 6), make_cpf(fdp)
    socios = [{"nome": make_text(fdp, 6), "cnpj_cpf_do_socio": make_cpf(fdp), "qualificacao": "Sócio",
               "nome_representante": make_text(fdp, 4) if fdp.ConsumeBool() else "",
               "cpf_representante": make_cpf(fdp), "qualificacao_representante": "Procurador"}
              for _ in range(fdp.ConsumeIntInRange(0, 3))]
    signature = AssinaturaExtraida(nome_signatario=nome, cpf=cpf, cnpj_empresa="06990590000123")
    [got] = _CHECKER._validar_assinaturas([signature], {"06990590000123": {"socios": socios}})
    texts = nome + cpf + "".join(s["nome"] + s["nome_representante"] + s["cnpj_cpf_do_socio"] + s["cpf_representante"]
                                 for s in socios)
    if nome and nome != "N/A" and comparable(texts):
        assert got.evidencia == oracle.evidencia(nome, cpf, socios), (nome, cpf, socios, got.evidencia)


_NAMES_CHECKER = None
NAME_WORDS = ["Maria", "MARIA", "da", "Silva", "SÍLVA", "José", "JOSE", "Jose\u0301", "Conceição", "Ana", "ana",
              "Anabela", "ΣΟΦΙΑΣ", "σοφιας", "İ", "  ", "\u200b", "-"]


@atheris.instrument_func
def make_name(fdp: atheris.FuzzedDataProvider) -> str:
    if fdp.ConsumeBool():
        return " ".join(fdp.PickValueInList(NAME_WORDS) for _ in range(fdp.ConsumeIntInRange(0, 5)))
    return make_text(fdp, 8)


@atheris.instrument_func
def fuzz_comparar_nomes(data: bytes) -> None:
    """The QSA name rule (_comparar_nomes) against the documented one, both ways round."""
    global _NAMES_CHECKER
    from quillon.contract.checker import ContractChecker

    if _NAMES_CHECKER is None:
        _NAMES_CHECKER = ContractChecker("BR", provider="local", verbose=False)
    fdp = atheris.FuzzedDataProvider(data)
    a, b = make_name(fdp), make_name(fdp)
    got = _NAMES_CHECKER._comparar_nomes(a, b)
    assert got == _NAMES_CHECKER._comparar_nomes(b, a), (a, b)
    if comparable(a + b):
        assert got == oracle.comparar_nomes(a, b), (a, b, got)


# --- triar_documento with tables that fight back -------------------------------------------
SCREEN_TABLES = {  # module attribute: the oracle's argument
    "KEYWORDS_VALIDACAO": "validacao", "TRIAGEM_EXCLUSAO": "exclusao", "TRIAGEM_TITULOS": "titulos",
    "TRIAGEM_OUTROS": "outros", "TRIAGEM_PARTES": "partes", "TRIAGEM_QUALIFICACAO": "qualificacao",
    "MIN_KEYWORDS": "minimo", "TRIAGEM_CABECALHO": "cabecalho",
}
SCREEN_DEFAULTS = {name: getattr(keywords, name) for name in SCREEN_TABLES}


class Refused(Exception):
    """What a table that refuses to be read raises: the caller must get it back."""


class Table:
    """A table as any iterable: while the binding reads it, it rebinds or deletes the attribute
    it was read from (freeing itself but for the binding's reference), or refuses."""

    def __init__(self, name, entries, action):
        self.name, self.entries, self.action = name, entries, action

    def __iter__(self):
        if self.action == "refuse":
            raise Refused(self.name)
        if self.action == "delete":
            keywords.__dict__.pop(self.name, None)
        elif self.action == "rebind":
            setattr(keywords, self.name, list(self.entries))
        return iter(list(self.entries))


class Count:
    """MIN_KEYWORDS or TRIAGEM_CABECALHO as a number that rebinds its attribute when read."""

    def __init__(self, name, value):
        self.name, self.value = name, value

    def __index__(self):
        setattr(keywords, self.name, self.value + 1000)
        return self.value

    __int__ = __index__


import numbers  # noqa: E402

numbers.Integral.register(Count)

SCREEN_WORDS = ["CONTRATO Nº 5", "TERMO DE REFERÊNCIA", "Contratante", "contratada", "neste ato", "representada por",
                "contrato", "Cláusula", "foro", "PARECER", "ata de registro de preços", "objeto", "CNPJ", "\n",
                "\f", "  ", "ΣΑΣ", "İ", "\u200b"]


@atheris.instrument_func
def make_screen_text(fdp: atheris.FuzzedDataProvider, pieces: int) -> str:
    if fdp.ConsumeBool():
        return "".join(fdp.PickValueInList(SCREEN_WORDS) for _ in range(fdp.ConsumeIntInRange(0, pieces)))
    return make_text(fdp, pieces)


@atheris.instrument_func
def make_table(fdp: atheris.FuzzedDataProvider, name: str):
    """(what the attribute is set to, the entries the screen must use, whether it must fail, and how)."""
    if name in ("MIN_KEYWORDS", "TRIAGEM_CABECALHO"):
        value = fdp.ConsumeIntInRange(0, 3) if name == "MIN_KEYWORDS" else fdp.ConsumeIntInRange(0, 400)
        return (Count(name, value) if fdp.ConsumeBool() else value), value, None
    if name == "TRIAGEM_PARTES":
        entries = [(make_screen_text(fdp, 2), make_screen_text(fdp, 2)) for _ in range(fdp.ConsumeIntInRange(0, 3))]
    else:
        entries = [make_screen_text(fdp, 3) for _ in range(fdp.ConsumeIntInRange(0, 5))]
    failure = None
    form = fdp.ConsumeIntInRange(0, 7)
    if form == 7 and entries:  # an entry that is no text
        entries[fdp.ConsumeIntInRange(0, len(entries) - 1)] = fdp.ConsumeInt(2)
        failure = TypeError
    if form == 0:
        return list(entries), entries, failure
    if form == 1:
        return tuple(entries), entries, failure
    action = fdp.PickValueInList(["rebind", "delete", "rebind", "refuse"])
    if action == "refuse":
        failure = Refused
    return Table(name, entries, action), entries, failure


@atheris.instrument_func
def fuzz_triar_documento(data: bytes) -> None:
    fdp = atheris.FuzzedDataProvider(data)
    tables, failures = {}, []
    try:
        for name, arg in SCREEN_TABLES.items():
            if fdp.ConsumeIntInRange(0, 2) == 0:
                tables[arg] = list(SCREEN_DEFAULTS[name]) if arg != "minimo" and arg != "cabecalho" else \
                    SCREEN_DEFAULTS[name]
                continue
            value, tables[arg], failure = make_table(fdp, name)
            if failure is not None:
                failures.append(failure)
            setattr(keywords, name, value)
            value = None  # the module holds the table alone: rebinding it frees it under a careless binding
        pages = [make_screen_text(fdp, 12) for _ in range(fdp.ConsumeIntInRange(0, 3))]
        given = "\f".join(pages) if fdp.ConsumeBool() else pages
        try:
            got = keywords.triar_documento(given)
        except (TypeError, Refused) as error:
            assert any(isinstance(error, f) for f in failures), (error, failures)
            return
    finally:
        for name, value in SCREEN_DEFAULTS.items():
            setattr(keywords, name, value)
    # A table that does not fail may still not be read (the screen stops early): no assertion on failures.
    texts = "".join(pages) + "".join(t for arg in ("validacao", "exclusao", "titulos", "outros", "qualificacao")
                                      for t in tables[arg]) + "".join(a + b for a, b in tables["partes"])
    if comparable(texts):
        want = oracle.triar(given.split("\f") if isinstance(given, str) else pages, **tables)
        assert {k: got[k] for k in want} == want, (pages, tables, got, want)


# --- the open-data line reader ------------------------------------------------------------------
LINE_PIECES = [b'"', b'""', b";", b"\n", b"\r\n", b"\r", b"\x00", b"a", b"\xe7\xe3o", b"20240131", b"0", b"12",
               b"x" * 40, b'"06990590";"0001";"23"', b" "]
PLANS = [[(opendata.TEXT, 0), (opendata.TEXT, 1), (opendata.TEXT, 2)],
         [(opendata.CNPJ, 0), (opendata.DATE, 1), (opendata.CODE, 2), (opendata.KEY, 1)],
         [(opendata.KEY, 2), (opendata.CODE, 0)], []]


@atheris.instrument_func
def read_in_chunks(data: bytes, cuts: list[int], plan, line=0, offset=0):
    reader = opendata.LineReader(3, plan, line, offset)
    rows, errors, start = [], [], 0
    for cut in cuts + [len(data)]:
        rows += reader.feed(data[start:cut])
        errors += reader.take_errors()
        start = cut
    rows += reader.finish()
    errors += reader.take_errors()
    return rows, errors, reader.line, reader.offset


@atheris.instrument_func
def fuzz_line_reader(data: bytes) -> None:
    fdp = atheris.FuzzedDataProvider(data)
    plan = fdp.PickValueInList(PLANS)
    text = b"".join(fdp.PickValueInList(LINE_PIECES) if fdp.ConsumeBool() else fdp.ConsumeBytes(3)
                    for _ in range(fdp.ConsumeIntInRange(0, 60)))
    cuts = sorted(fdp.ConsumeIntInRange(0, len(text)) for _ in range(fdp.ConsumeIntInRange(0, 8)))
    whole = read_in_chunks(text, [], plan)
    pieces = read_in_chunks(text, cuts, plan)
    assert pieces == whole, (text, cuts, pieces, whole)  # chunk boundaries do not matter
    assert whole == oracle.read_lines(text, 3, plan), (text, plan, whole)
    rows, errors, lines, offset = whole
    assert offset == len(text)
    assert lines == text.count(b"\n") + (1 if text and not text.endswith(b"\n") else 0), (text, lines)
    assert all(isinstance(row, tuple) and len(row) == len(plan) for row in rows)
    assert [n for n, _ in errors] == sorted(n for n, _ in errors) and all(1 <= n <= lines for n, _ in errors)
    # Resuming after the first complete line reads the rest as the whole read did.
    first = text.find(b"\n") + 1
    if 0 < first < len(text):
        head = read_in_chunks(text[:first], [], plan)
        rest = read_in_chunks(text[first:], cuts and [max(0, c - first) for c in cuts if c >= first], plan,
                              head[2], head[3])
        assert (head[0] + rest[0], head[1] + rest[1], rest[2], rest[3]) == whole, (text, head, rest, whole)
    if plan == PLANS[0] and not errors:
        # Three plain text fields: what csv reads from the same lines.
        import csv

        lines_text = [ln for ln in text.decode("latin-1").replace("\r\n", "\n").split("\n") if ln]
        if all("\r" not in ln for ln in lines_text):
            try:
                expected = [tuple(r) for r in csv.reader(lines_text, delimiter=";", strict=True)]
            except csv.Error:
                return
            if all(len(r) == 3 for r in expected):
                assert rows == expected, (text, rows, expected)


@atheris.instrument_func
def fuzz_name_key(data: bytes) -> None:
    fdp = atheris.FuzzedDataProvider(data)
    # Registry names are Latin-1 text: mostly that, the other widths too.
    text = fdp.ConsumeBytes(fdp.ConsumeIntInRange(0, 80)).decode("latin-1") if fdp.ConsumeBool() else make_text(fdp)
    got = opendata.name_key(text)
    assert isinstance(got, str)
    if comparable(text):
        assert got == oracle.name_key(text), (text, got)


TARGETS = {
    "normalizar_texto": fuzz_normalizar_texto,
    "corroborated_signature": fuzz_corroborated_signature,
    "comparar_nomes": fuzz_comparar_nomes,
    "validar_documento_contrato": fuzz_validar_documento_contrato,
    "_normalizar_endereco": fuzz_normalizar_endereco,
    "comparar_enderecos": fuzz_comparar_enderecos,
    "triar_documento": fuzz_triar_documento,
    "line_reader": fuzz_line_reader,
    "name_key": fuzz_name_key,
}


def main() -> None:
    if len(sys.argv) < 2 or sys.argv[1] not in TARGETS:
        if len(sys.argv) >= 2 and sys.argv[1] == "--list":
            print("\n".join(TARGETS))
            return
        sys.exit(f"usage: {sys.argv[0]} {{{','.join(TARGETS)}}} [libFuzzer options]")
    target = TARGETS[sys.argv[1]]
    atheris.Setup([sys.argv[0]] + sys.argv[2:], target)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
