"""Contract keyword screening: normalizar_texto and validar_documento_contrato."""

import threading
import unicodedata
from fractions import Fraction

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import text_oracles as oracle
from quillon.contract.countries.br import keywords as mod
from quillon.contract.countries.br.keywords import normalizar_texto, validar_documento_contrato
from text_strategies import KEYWORD_FORMS, any_texts, keyword_texts, latin1_keyword_texts


@pytest.fixture
def tables():
    """The module's own lists, restored in place after the test edits them."""
    saved = list(mod.KEYWORDS_VALIDACAO), list(mod.KEYWORDS_EXCLUSAO), mod.MIN_KEYWORDS
    own = mod.KEYWORDS_VALIDACAO, mod.KEYWORDS_EXCLUSAO
    yield own
    own[0][:] = saved[0]
    own[1][:] = saved[1]
    mod.KEYWORDS_VALIDACAO, mod.KEYWORDS_EXCLUSAO, mod.MIN_KEYWORDS = own[0], own[1], saved[2]


# --- the constants -------------------------------------------------------------
def test_constants_are_plain_values_in_table_order():
    assert type(mod.KEYWORDS_VALIDACAO) is list and type(mod.KEYWORDS_EXCLUSAO) is list
    assert mod.KEYWORDS_VALIDACAO == oracle.KEYWORDS_VALIDACAO
    assert mod.KEYWORDS_EXCLUSAO == oracle.KEYWORDS_EXCLUSAO
    assert len(mod.KEYWORDS_VALIDACAO) == 38 and len(mod.KEYWORDS_EXCLUSAO) == 9
    assert mod.MIN_KEYWORDS == 3 and type(mod.MIN_KEYWORDS) is int
    for entry in mod.KEYWORDS_VALIDACAO + mod.KEYWORDS_EXCLUSAO:
        assert type(entry) is str and unicodedata.is_normalized("NFC", entry)
    assert "cláusula" in mod.KEYWORDS_VALIDACAO and len("cláusula") == 8


def test_documentation_texts():
    assert mod.__doc__ == "Keywords para validação de documentos como contratos."
    assert normalizar_texto.__doc__.endswith("\n\nNormaliza texto removendo acentos e convertendo para minúsculas.")
    for line in ("bool: Se é um contrato válido", "int: Quantidade de keywords encontradas",
                 "list: Keywords encontradas"):
        assert line in validar_documento_contrato.__doc__
    assert validar_documento_contrato.__doc__.startswith(
        "validar_documento_contrato(texto: str) -> tuple[bool, int, list[str]]\n\n")


# --- normalizar_texto ----------------------------------------------------------
@pytest.mark.parametrize(
    ("texto", "esperado"),
    [
        ("", ""),
        ("Cláusula Ação PREGÃO", "clausula acao pregao"),
        ("Cla\u0301usula Ac\u0327a\u0303o", "clausula acao"),  # decomposed input
        ("  Dois  espaços\t\u00a0\u2028 ", "  dois  espacos\t\u00a0\u2028 "),  # white space kept as is
        ("ICP-Brasil nº 1/2.", "icp-brasil nº 1/2."),
        ("İstanbul", "istanbul"),  # I + combining dot above: the dot is Mn
        ("ẞ STRASSE", "ß strasse"),
        ("ΟΔΟΣ ΟΔΟΣ.", "οδος οδος."),  # final sigma
        ("ΣΑ", "σα"),
        ("ﬁ Ǆ", "ﬁ ǆ"),
        ("ÀÉÎÕÜÇÑ àéîõüçñ ÿ", "aeioucn aeioucn y"),
        ("Straße ½ ² Ⅻ", "straße ½ ² ⅻ"),
        ("\x00\ud800x", "\x00\ud800x"),  # NUL and a lone surrogate pass through
    ],
)
def test_normalizar_texto(texto, esperado):
    assert normalizar_texto(texto) == esperado
    assert normalizar_texto(texto=texto) == esperado


@given(st.one_of(any_texts, keyword_texts))
def test_normalizar_texto_property(texto):
    out = normalizar_texto(texto)
    assert out == oracle.fold(texto)
    assert out.isascii() == all(ord(c) < 128 for c in out)  # stored in its narrowest form


# --- validar_documento_contrato: the cases of the rules ------------------------------
@pytest.mark.parametrize(
    ("texto", "esperado"),
    [
        ("", (False, 0, [])),
        ("     ", (False, 0, [])),
        ("\u0301", (False, 0, [])),  # folds to the empty text: nothing found
        ("CONTRATO de prestação de serviços, cláusula primeira", (True, 3, ["contrato", "cláusula", "clausula"])),
        ("Contrato entre as partes", (False, 1, ["contrato"])),
        ("Contrato, cláusula, objeto, valor e foro. Nota Fiscal anexa.", (False, 0, ["EXCLUSÃO: nota fiscal"])),
        ("boleto e recibo", (False, 0, ["EXCLUSÃO: recibo"])),
        ("pregao eletronico", (False, 0, ["EXCLUSÃO: pregão eletrônico"])),
        ("ICP-Brasil, ICP Brasil", (False, 1, ["icp-brasil"])),
        ("acordo e termo", (False, 2, ["acordo", "termo"])),
        ("termos, valores, contratos", (True, 3, ["contrato", "termo", "valor"])),
        ("a prestadora", (False, 2, ["prestador", "prestadora"])),
        ("VIGE\u0302NCIA", (False, 2, ["vigência", "vigencia"])),
        ("neste  ato representada, neste ato representado", (False, 1, ["neste ato representado"])),
        ("CONTRATO\tCLÁUSULA\u00a0TERMO\u2028", (True, 4, ["contrato", "termo", "cláusula", "clausula"])),
        ("ΣΥΜΒΑΣΗ contrato ΟΔΟΣ termo İ foro ẞ", (True, 3, ["contrato", "termo", "foro"])),
    ],
)
def test_validar_examples(texto, esperado):
    assert validar_documento_contrato(texto) == esperado
    assert oracle.validar(texto) == esperado


def test_validar_returns_entries_as_written_in_fresh_lists():
    found = validar_documento_contrato("Cláusula de vigência e obrigações; rescisão.")[2]
    assert found == ["cláusula", "clausula", "vigência", "vigencia", "obrigações", "obrigacoes", "rescisão",
                     "rescisao"]
    found.append("x")
    assert validar_documento_contrato("Cláusula")[2] == ["cláusula", "clausula"]


@given(st.one_of(keyword_texts, latin1_keyword_texts))
@settings(max_examples=300)
def test_validar_property(texto):
    assert validar_documento_contrato(texto) == oracle.validar(texto)


# --- the constants are read at every call ---------------------------------------
def test_replaced_tables_change_the_screening(monkeypatch):
    monkeypatch.setattr(mod, "KEYWORDS_VALIDACAO", ["Pão", "pao", "queijo"])
    monkeypatch.setattr(mod, "KEYWORDS_EXCLUSAO", [])
    assert validar_documento_contrato("PÃO com queijo") == (True, 3, ["Pão", "pao", "queijo"])
    assert validar_documento_contrato("nota fiscal de pão") == (False, 2, ["Pão", "pao"])
    monkeypatch.setattr(mod, "MIN_KEYWORDS", 4)
    assert validar_documento_contrato("PÃO com queijo")[0] is False
    monkeypatch.setattr(mod, "KEYWORDS_EXCLUSAO", ("Pão",))  # any iterable, like a for loop
    assert validar_documento_contrato("pao") == (False, 0, ["EXCLUSÃO: Pão"])


def test_tables_edited_in_place(tables):
    validacao, exclusao = tables
    texto = "contrato de compra; nota fiscal"
    assert validar_documento_contrato(texto) == (False, 0, ["EXCLUSÃO: nota fiscal"])
    exclusao.remove("nota fiscal")
    assert validar_documento_contrato(texto) == (False, 1, ["contrato"])
    validacao.append("compra")
    validacao.append("nota")
    assert validar_documento_contrato(texto) == (True, 3, ["contrato", "compra", "nota"])
    validacao[0] = "CONTRATO"  # an equal-looking but different entry
    assert validar_documento_contrato(texto)[2][0] == "CONTRATO"
    del validacao[:]
    assert validar_documento_contrato(texto) == (False, 0, [])
    validacao[:] = oracle.KEYWORDS_VALIDACAO  # equal strings, other objects
    exclusao[:] = oracle.KEYWORDS_EXCLUSAO
    assert validar_documento_contrato(texto) == (False, 0, ["EXCLUSÃO: nota fiscal"])


def test_table_edge_entries(monkeypatch):
    monkeypatch.setattr(mod, "KEYWORDS_EXCLUSAO", [])
    monkeypatch.setattr(mod, "KEYWORDS_VALIDACAO", ["", "\u0301", "a", "a", "σ", "ς", "ΟΔΟΣ", "😀"])
    assert validar_documento_contrato("x") == (False, 2, ["", "\u0301"])
    assert validar_documento_contrato("\u0301") == (False, 2, ["", "\u0301"])
    assert validar_documento_contrato("A οδος 😀") == (True, 7, ["", "\u0301", "a", "a", "ς", "ΟΔΟΣ", "😀"])
    monkeypatch.setattr(mod, "KEYWORDS_EXCLUSAO", ["", "x"])
    assert validar_documento_contrato("abc") == (False, 0, ["EXCLUSÃO: "])


@pytest.mark.parametrize("minimo", [0, 1, 2.5, True, Fraction(7, 2), -(10**30), 10**30, float("nan")])
def test_min_keywords_compares_as_python_does(monkeypatch, minimo):
    monkeypatch.setattr(mod, "MIN_KEYWORDS", minimo)
    texto = "contrato termo foro"
    assert validar_documento_contrato(texto) == (3 >= minimo, 3, ["contrato", "termo", "foro"])


def test_min_keywords_not_read_for_excluded_or_empty_text(monkeypatch):
    monkeypatch.setattr(mod, "MIN_KEYWORDS", "três")
    assert validar_documento_contrato("") == (False, 0, [])
    assert validar_documento_contrato("recibo") == (False, 0, ["EXCLUSÃO: recibo"])
    with pytest.raises(TypeError):
        validar_documento_contrato("contrato")


@given(
    st.lists(st.sampled_from(KEYWORD_FORMS) | st.text(max_size=3), max_size=12),
    st.lists(st.sampled_from(KEYWORD_FORMS) | st.text(min_size=1, max_size=3), max_size=4),
    st.integers(-1, 6),
    keyword_texts,
)
def test_custom_tables_property(validacao, exclusao, minimo, texto):
    saved = mod.KEYWORDS_VALIDACAO, mod.KEYWORDS_EXCLUSAO, mod.MIN_KEYWORDS
    mod.KEYWORDS_VALIDACAO, mod.KEYWORDS_EXCLUSAO, mod.MIN_KEYWORDS = validacao, exclusao, minimo
    try:
        assert validar_documento_contrato(texto) == oracle.validar(texto, validacao, exclusao, minimo)
    finally:
        mod.KEYWORDS_VALIDACAO, mod.KEYWORDS_EXCLUSAO, mod.MIN_KEYWORDS = saved


def test_bad_tables_raise(monkeypatch):
    monkeypatch.setattr(mod, "KEYWORDS_VALIDACAO", ["contrato", 7])
    with pytest.raises(TypeError, match=r"KEYWORDS_VALIDACAO entries must be str, not int"):
        validar_documento_contrato("contrato")
    monkeypatch.setattr(mod, "KEYWORDS_VALIDACAO", None)
    with pytest.raises(TypeError, match="not iterable"):
        validar_documento_contrato("contrato")
    monkeypatch.delattr(mod, "KEYWORDS_VALIDACAO")
    with pytest.raises(NameError, match="KEYWORDS_VALIDACAO"):
        validar_documento_contrato("contrato")


# --- arguments -----------------------------------------------------------------
@pytest.mark.parametrize("fn", [normalizar_texto, validar_documento_contrato])
def test_arguments(fn):
    for bad in (None, 1, b"bytes", ["x"]):
        with pytest.raises(TypeError, match=rf"{fn.__name__}\(\) argument 'texto' must be str, not "):
            fn(bad)
    for args, kwargs in (((), {}), (("a", "b"), {}), ((), {"text": "a"}), (("a",), {"texto": "a"})):
        with pytest.raises(TypeError, match=fn.__name__):
            fn(*args, **kwargs)

    class Texto(str):
        pass

    assert fn(Texto("ACORDO termo foro")) == fn(texto="ACORDO termo foro")


# --- large texts ---------------------------------------------------------------
BLOCKS = {
    "ascii": "Clausula primeira - do objeto. O CONTRATANTE pagara o valor ajustado. ",
    "latin1": "Cláusula primeira – do objeto. O CONTRATANTE pagará o valor ajustado. ".replace("–", "-"),
    "wide": "Cláusula primeira – do objeto. O CONTRATANTE pagará o valor ajustado. ",
    "decomposed": unicodedata.normalize("NFD", "Cláusula primeira – do objeto. Vigência. "),
}


@pytest.mark.parametrize("kind", BLOCKS)
def test_twenty_megabyte_text(kind):
    block = BLOCKS[kind]
    copies = 20_000_000 // len(block) + 1
    big = block * copies
    folded = normalizar_texto(big)
    assert len(folded) == len(oracle.fold(block)) * copies
    assert folded == oracle.fold(block) * copies
    del folded
    expected = oracle.validar(block)
    assert validar_documento_contrato(big) == expected
    assert validar_documento_contrato(big + " boleto") == (False, 0, ["EXCLUSÃO: boleto"])
    assert validar_documento_contrato("rescisão " + big)[2] == oracle.validar("rescisão " + block)[2]


def test_concurrent_calls_on_large_texts():
    big = BLOCKS["wide"] * 20_000 + "testemunha"
    expected = oracle.validar(BLOCKS["wide"] + "testemunha")
    results = []

    def work():
        for _ in range(3):
            results.append(validar_documento_contrato(big))

    threads = [threading.Thread(target=work) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == [expected] * 12
