"""CNPJ cleaning, check digits, validation and formatting."""

import re
from decimal import Decimal
from fractions import Fraction
import unicodedata

import pytest
from hypothesis import assume, given, settings
from hypothesis import strategies as st

from quillon.contract.countries.br import cnpj as mod
from quillon.contract.countries.br.cnpj import (
    _calcular_digito_cnpj,
    formatar_cnpj,
    limpar_cnpj,
    validar_cnpj,
)

P1 = [5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2]
P2 = [6, 5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2]
FULLWIDTH = "１１.２２２.３３３/０００１-８１"


# --- a plain-Python oracle of the rules -------------------------------------
def oracle_limpar(s):
    return re.sub(r"\D", "", s) if s else ""


def oracle_digito(base, pesos):
    resto = sum(int(d) * p for d, p in zip(base, pesos)) % 11
    return "0" if resto < 2 else str(11 - resto)


def oracle_validar(s):
    c = oracle_limpar(s)
    if len(c) != 14 or len({int(d) for d in c}) == 1:
        return False
    return c[12:] == oracle_digito(c[:12], P1) + oracle_digito(c[:13], P2)


def oracle_formatar(s):
    c = oracle_limpar(s)
    if len(c) == 14:
        return f"{c[:2]}.{c[2:5]}.{c[5:8]}/{c[8:12]}-{c[12:]}"
    return s or ""


@pytest.mark.parametrize(
    ("raw", "clean"),
    [
        ("12.345.678/0001-99", "12345678000199"),
        (None, ""),
        ("", ""),
        ("sem dígitos", ""),
        ("CNPJ: 11.222.333/0001-81.", "11222333000181"),
        (FULLWIDTH, "１１２２２３３３０００１８１"),
        ("1\x002\ud8003", "123"),
        ("٠١٢", "٠١٢"),  # Arabic-Indic digits stay as they are
    ],
)
def test_limpar(raw, clean):
    assert limpar_cnpj(raw) == clean
    assert type(limpar_cnpj(raw)) is str


@pytest.mark.parametrize(
    ("raw", "valid"),
    [
        ("11.222.333/0001-81", True),
        ("11222333000181", True),
        ("CNPJ: 11.222.333/0001-81.", True),
        (FULLWIDTH, True),
        ("12.345.678/0001-99", False),
        ("123456", False),
        (None, False),
        ("", False),
        ("112223330001810", False),  # fifteen digits, first fourteen valid
        ("00000000000000", False),
        ("0000000000000０", False),  # the same zero value fourteen times
        *[(d * 14, False) for d in "123456789"],
    ],
)
def test_validar(raw, valid):
    assert validar_cnpj(raw) is valid


@pytest.mark.parametrize(
    ("raw", "formatted"),
    [
        ("12345678000199", "12.345.678/0001-99"),  # formatting never judges validity
        ("12.345", "12.345"),
        ("abc", "abc"),
        (None, ""),
        ("", ""),
        ("11222333000181x", "11.222.333/0001-81"),
        (FULLWIDTH, FULLWIDTH),
        ("１１２２２３３３０００１８１", FULLWIDTH),
    ],
)
def test_formatar(raw, formatted):
    assert formatar_cnpj(raw) == formatted


@pytest.mark.parametrize(
    ("base", "pesos", "digit"),
    [
        ("112223330001", P1, "8"),
        ("1122233300018", P2, "1"),
        ("000000000000", P1, "0"),  # remainder 0
        ("1", [1], "0"),  # remainder 1
        ("2", [1], "9"),  # remainder 2
        ("1", [10], "1"),  # remainder 10
        ("１２", [5, 4], oracle_digito("12", [5, 4])),
        ("12345", [2], "9"),  # pairing stops at the shorter side
        ("1a", [3], "8"),  # characters past the last weight are never read
        ("7", [-1], "7"),  # Python's modulo: -7 % 11 == 4
        ("7", [11**40 + 1], oracle_digito("7", [11**40 + 1])),
        ("7", [True], "4"),
        ("7", [2.9], "8"),  # weights truncate toward zero: 7 * 2 = 14, remainder 3
        ("7", [Decimal("2.9")], "8"),
        ("7", [Fraction(29, 10)], "8"),
    ],
)
def test_calcular_digito(base, pesos, digit):
    assert _calcular_digito_cnpj(base, pesos) == digit
    assert _calcular_digito_cnpj(base=base, pesos=pesos) == digit


@pytest.mark.parametrize("base", ["12a", "1 2", "١٢-"])
def test_calcular_digito_rejects_non_digits(base):
    with pytest.raises(ValueError, match="_calcular_digito_cnpj"):
        _calcular_digito_cnpj(base, P1)


# --- argument errors ---------------------------------------------------------
@pytest.mark.parametrize("fn", [limpar_cnpj, validar_cnpj, formatar_cnpj])
@pytest.mark.parametrize("bad", [123, 1.5, b"11222333000181", ["11222333000181"], object()])
def test_wrong_kind_is_type_error_naming_function_and_parameter(fn, bad):
    with pytest.raises(TypeError, match=rf"{fn.__name__}\(\) argument 'cnpj' must be str or None, not "):
        fn(bad)


@pytest.mark.parametrize(
    ("call", "name"),
    [
        (lambda: validar_cnpj(), "validar_cnpj"),
        (lambda: validar_cnpj("1", "2"), "validar_cnpj"),
        (lambda: validar_cnpj("1", cnpj="2"), "validar_cnpj"),
        (lambda: limpar_cnpj(valor="1"), "limpar_cnpj"),
        (lambda: formatar_cnpj(cnpj="1", extra=2), "formatar_cnpj"),
        (lambda: _calcular_digito_cnpj("1"), "_calcular_digito_cnpj"),
    ],
)
def test_arity_and_keyword_errors_name_the_function(call, name):
    with pytest.raises(TypeError, match=name):
        call()


@pytest.mark.parametrize(
    ("args", "param"),
    [((None, P1), "base"), ((1, P1), "base"), (("1", (1,)), "pesos"), (("1", ["x"]), "pesos"), (("1", None), "pesos")],
)
def test_calcular_digito_argument_kinds(args, param):
    with pytest.raises(TypeError, match=f"argument '{param}'"):
        _calcular_digito_cnpj(*args)


def test_keywords_accepted():
    assert validar_cnpj(cnpj="11.222.333/0001-81")
    assert limpar_cnpj(cnpj="1.2") == "12"
    assert formatar_cnpj(cnpj="11222333000181") == "11.222.333/0001-81"


# --- hostile input -----------------------------------------------------------
def test_huge_string_is_handled():
    big = "1" * 10_000_000
    assert validar_cnpj(big) is False
    assert formatar_cnpj(big) is big or formatar_cnpj(big) == big
    assert len(limpar_cnpj(big)) == 10_000_000
    noisy = "x" * 5_000_000 + "11.222.333/0001-81" + "y" * 5_000_000
    assert validar_cnpj(noisy) is True


@pytest.mark.parametrize("raw", ["\ud800", "\udfff11222333000181", "\x00" * 20, "11222333000181\x00"])
def test_surrogates_and_nul(raw):
    assert validar_cnpj(raw) is oracle_validar(raw)
    assert limpar_cnpj(raw) == oracle_limpar(raw)
    assert formatar_cnpj(raw) == oracle_formatar(raw)


def test_str_subclass_gives_plain_str():
    class S(str):
        pass

    assert type(limpar_cnpj(S("11222333000181"))) is str


# --- differential: C++ against the plain-Python rules ------------------------
digits_any_script = st.sampled_from("0123456789０１２３４５６７８９٠١٢٣٤٥٦٧٨٩०१२३४५६७८९𝟎𝟗")
cnpj_like = st.lists(st.one_of(digits_any_script, st.sampled_from("./- "), st.characters()), max_size=24).map("".join)


# The shape of an alphanumeric CNPJ, which has rules of its own (other file).
ALNUM_SHAPE = re.compile(r"[0-9A-Za-z]{2}(\.?)[0-9A-Za-z]{3}\1[0-9A-Za-z]{3}/?[0-9A-Za-z]{4}-?[0-9]{2}")


@settings(max_examples=1500, deadline=None)
@given(st.one_of(st.none(), st.text(st.characters(exclude_categories=("Cn",))), cnpj_like))
def test_agrees_with_plain_python(s):
    # CPython's Unicode database is older than utf8proc's for unassigned code points.
    assume(s is None or not any(0xD800 <= ord(c) <= 0xDFFF or unicodedata.category(c) == "Cn" for c in s))
    assume(s is None or not ALNUM_SHAPE.fullmatch(s.strip()))
    assert limpar_cnpj(s) == oracle_limpar(s)
    assert validar_cnpj(s) is oracle_validar(s)
    assert formatar_cnpj(s) == oracle_formatar(s)


@settings(max_examples=2000, deadline=None)
@given(st.text("0123456789", min_size=12, max_size=12))
def test_computed_digits_validate(base):
    d1 = _calcular_digito_cnpj(base, P1)
    full = base + d1 + _calcular_digito_cnpj(base + d1, P2)
    assert validar_cnpj(full) is (len(set(full)) > 1)
    assert validar_cnpj(formatar_cnpj(full)) is validar_cnpj(full)


def test_public_list_and_docs():
    assert mod.__all__ == [
        "limpar_cnpj",
        "validar_cnpj",
        "formatar_cnpj",
        "consultar_cnpj",
        "buscar_cnpj_por_nome",
        "buscar_empresa",
        "buscar_empresa_completo",
        "comparar_enderecos",
    ]
    docs = {
        limpar_cnpj: "Remove formatação do CNPJ (pontos, barras, hífens).",
        validar_cnpj: "Valida um CNPJ: 14 dígitos e dígitos verificadores corretos (módulo 11).",
        formatar_cnpj: "Formata CNPJ no padrão XX.XXX.XXX/XXXX-XX.",
        _calcular_digito_cnpj: "Calcula um dígito verificador de CNPJ (módulo 11) para a base informada.",
    }
    for fn, text in docs.items():
        assert fn.__doc__.split("\n\n", 1)[-1] == text
