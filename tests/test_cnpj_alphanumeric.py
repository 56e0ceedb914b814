"""Alphanumeric CNPJs (issued by the Receita Federal since July 2026)."""

import re
import string

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from quillon.contract.countries.br.cnpj import _calcular_digito_cnpj, formatar_cnpj, limpar_cnpj, validar_cnpj

P1 = [5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2]
P2 = [6, 5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2]
PUBLISHED = ["12ABC34501DE35", "00000000E08G12", "93ZB0VRYV6KA67", "SASB0MA7000124", "2P76BMNX000166"]
ALNUM = string.digits + string.ascii_uppercase


def digits_with(value_of, base):
    def one(b, pesos):
        resto = sum(value_of(c) * p for c, p in zip(b, pesos)) % 11
        return "0" if resto < 2 else str(11 - resto)

    d1 = one(base, P1)
    return d1 + one(base + d1, P2)


def receita(c):  # the rule: ASCII code minus 48
    return ord(c) - 48


def oracle_validar(s):
    """The whole rule in plain Python: shape first, then digits only."""
    t = s.strip()
    m = re.fullmatch(r"([0-9A-Za-z]{2})\.([0-9A-Za-z]{3})\.([0-9A-Za-z]{3})/([0-9A-Za-z]{4})-([0-9]{2})", t)
    body = "".join(m.groups()) if m else t
    if re.fullmatch(r"[0-9A-Za-z]{12}[0-9]{2}", body) and re.search("[A-Za-z]", body[:12]):
        c = body.upper()
    else:
        c = re.sub(r"\D", "", s)
    if len(c) != 14 or len({receita(x) if x.isascii() else int(x) for x in c}) == 1:
        return False
    return c[12:] == digits_with(lambda x: receita(x) if x.isascii() else int(x), c[:12])


@pytest.mark.parametrize("cnpj", PUBLISHED)
def test_published_examples_validate_in_every_form(cnpj):
    masked = f"{cnpj[:2]}.{cnpj[2:5]}.{cnpj[5:8]}/{cnpj[8:12]}-{cnpj[12:]}"
    for form in (cnpj, masked, cnpj.lower(), masked.lower(), f"  {masked}\n"):
        assert validar_cnpj(form) is True, form
        assert limpar_cnpj(form) == cnpj
        assert formatar_cnpj(form) == masked


@pytest.mark.parametrize("cnpj", PUBLISHED)
@pytest.mark.parametrize(
    "wrong_value", [lambda c: int(c, 36), lambda c: int(c) if c.isdigit() else ord(c) - 55], ids=["base36", "offset55"]
)
def test_valuations_peers_shipped_fail_on_published_examples(cnpj, wrong_value):
    if cnpj[:12].isdigit():
        pytest.skip("no letter: every valuation agrees")
    assert digits_with(wrong_value, cnpj[:12]) != cnpj[12:]
    assert digits_with(receita, cnpj[:12]) == cnpj[12:]


@pytest.mark.parametrize(
    ("raw", "clean", "valid"),
    [
        ("93ZB0VRYV6KA66", "93ZB0VRYV6KA66", False),  # wrong check digit
        ("CNPJ: 12.ABC.345/01DE-35", "123450135", False),  # a label: digits only, invalid
        ("AAAAAAAAAAAAAA", "", False),  # fourteen equal letters: no check digits
        ("12ABC34501DEAB", "1234501", False),  # check digits must be digits
        ("12ABC345-01DE35", "123450135", False),  # not the mask
        ("12.ABC.34501DE35", "123450135", False),  # half a mask
        ("12ÀBC34501DE35", "123450135", False),  # only A-Z count as letters
        ("11222333000181", "11222333000181", True),  # numeric: unchanged
        (" 11.222.333/0001-81 ", "11222333000181", True),
    ],
)
def test_shape_decides(raw, clean, valid):
    assert limpar_cnpj(raw) == clean
    assert validar_cnpj(raw) is valid


@pytest.mark.parametrize(("base", "digit"), [("12ABC34501DE", "3"), ("12ABC34501DE3", "5")])
def test_check_digit_accepts_upper_case_letters(base, digit):
    assert _calcular_digito_cnpj(base, P1 if len(base) == 12 else P2) == digit


@pytest.mark.parametrize("base", ["12abc34501de", "12ABC-4501DE", "12ÇBC34501DE"])
def test_check_digit_rejects_other_characters(base):
    with pytest.raises(ValueError):
        _calcular_digito_cnpj(base, P1)


@settings(max_examples=2000, deadline=None)
@given(st.text(ALNUM, min_size=12, max_size=12))
def test_computed_digits_validate(base):
    full = base + _calcular_digito_cnpj(base, P1)
    full += _calcular_digito_cnpj(full, P2)
    assert full[12:] == digits_with(receita, base)
    assert validar_cnpj(full) is (len(set(full)) > 1)
    assert validar_cnpj(formatar_cnpj(full)) is validar_cnpj(full)


@settings(max_examples=3000, deadline=None)
@given(st.one_of(st.text(ALNUM + "abcxyz", min_size=14, max_size=14), st.text(ALNUM + ".-/ ", max_size=20)))
def test_agrees_with_plain_python_rule(s):
    assert validar_cnpj(s) is oracle_validar(s)
