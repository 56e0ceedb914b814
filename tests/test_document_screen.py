"""triar_documento, the whole-document screen: what a procurement file's
documents look like in their heading, and its tables read at every call."""

import pytest

from quillon.contract.countries.br import keywords as mod
from quillon.contract.countries.br.keywords import triar_documento

PREAMBLE = (
    "O MUNICÍPIO DE BASTOS, pessoa jurídica de direito público, inscrito no CNPJ sob nº 45.547.403/0001-93, "
    "neste ato representado por seu Prefeito Municipal, doravante denominado CONTRATANTE, e a empresa "
    "ACME LTDA, doravante denominada CONTRATADA, resolvem celebrar o presente contrato.\n"
)
CLAUSES = (
    "CLÁUSULA PRIMEIRA – DO OBJETO\nO presente contrato tem por objeto a licença de software.\n"
    "CLÁUSULA SEGUNDA – DO VALOR E DO PAGAMENTO\nO valor global é de R$ 10.000,00, pago mediante nota fiscal.\n"
    "CLÁUSULA TERCEIRA – DA VIGÊNCIA\nFica eleito o foro da Comarca de Bastos.\n"
)


@pytest.mark.parametrize(("heading", "contract", "reason"), [
    ("PREFEITURA DE BASTOS\nCONTRATO Nº 77/2025\nPREGÃO ELETRÔNICO Nº 44/2025\n", True, "titulo"),
    ("PREGÃO ELETRÔNICO Nº 12/2025\nATA DE REGISTRO DE PREÇOS Nº 5/2025\n", True, "titulo"),
    ("Município de Arroio do Sal\nTERMO DE FORMALIZAÇÃO\n", True, "titulo"),
    ("SEI/GESP - 0047987294 - Contrato\n", True, "titulo"),
    ("PREGÃO ELETRÔNICO Nº 44/2025\nContrato de prestação de serviços nº 12/2024 que entre si celebram o Município "
     "de Bastos e a empresa Acme Ltda, na forma abaixo\n", True, "titulo"),
    ("Secretaria de Administração\n", True, "termos"),
    ("TERMO DE REFERÊNCIA\n", False, "exclusao"),
    ("SEI/EMBRAPA - 6339390 - Termo de Referência\n", False, "exclusao"),
    ("Estudo Técnico Preliminar 67/2025\n", False, "exclusao"),
    ("PARECER JURÍDICO\n", False, "exclusao"),
    ("AVISO DE DISPENSA ELETRÔNICA Nº 3/2025\n", False, "exclusao"),
    ("EDITAL DE DISPENSA ELETRÔNICA Nº 3/2025\n", False, "exclusao"),
    ("Prefeitura de Itajaí\nNFS-e - Nota Fiscal de Serviços Eletrônica\n", False, "exclusao"),
    ("PEDIDO DE COMPRA\n", False, "exclusao"),
    ("Ata de Realização da Compra Direta Eletrônica\n", False, "exclusao"),
    ("PORTARIA Nº 01/2023\n", False, "exclusao"),
])
def test_the_heading_says_what_the_document_is(heading, contract, reason):
    verdict = triar_documento([heading + PREAMBLE, CLAUSES])
    assert (verdict["eh_contrato"], verdict["motivo"]) == (contract, reason)


def test_untitled_text_with_contract_words_but_no_parties_is_not_a_contract():
    # A term of reference without its title: roles and clauses, no party qualified.
    text = ("Secretaria de Tecnologia\n1. A CONTRATADA deverá prestar os serviços; a CONTRATANTE pagará o valor "
            "em até 30 dias após o aceite.\n" + CLAUSES.replace("nota fiscal", "documento"))
    verdict = triar_documento(text)
    assert (verdict["eh_contrato"], verdict["motivo"]) == (False, "sem_partes")


def test_the_tables_are_read_at_every_call(monkeypatch):
    memorial = ["MEMORIAL DESCRITIVO\n" + PREAMBLE, CLAUSES]
    assert triar_documento(memorial)["eh_contrato"] is True  # an untitled contract, as far as the tables know
    monkeypatch.setattr(mod, "TRIAGEM_OUTROS", ["memorial descritivo"])
    verdict = triar_documento(memorial)
    assert (verdict["eh_contrato"], verdict["exclusao"], verdict["titulo"]) == (
        False, "memorial descritivo", "MEMORIAL DESCRITIVO")
    monkeypatch.setattr(mod, "TRIAGEM_PARTES", [("locador", "locatário")])
    assert triar_documento(["Secretaria\n" + PREAMBLE, CLAUSES])["motivo"] == "sem_partes"
    monkeypatch.setattr(mod, "TRIAGEM_PARTES", [("contratante", "contratad")])
    monkeypatch.setattr(mod, "TRIAGEM_QUALIFICACAO", [])
    assert triar_documento(["Secretaria\n" + PREAMBLE, CLAUSES])["motivo"] == "sem_partes"


@pytest.mark.parametrize("table", [[("contratante",)], ["contratante"], [("a", 1)], [7]])
def test_bad_party_tables_raise(monkeypatch, table):
    monkeypatch.setattr(mod, "TRIAGEM_PARTES", table)
    with pytest.raises(TypeError, match="TRIAGEM_PARTES entries must be pairs of str"):
        triar_documento("Secretaria\n" + PREAMBLE + CLAUSES)


def test_counts_beyond_any_size_compare_as_python_compares_them(monkeypatch):
    # A minimum no document reaches, a heading as long as any page: not an OverflowError.
    document = ["Secretaria\n" + PREAMBLE, CLAUSES]
    monkeypatch.setattr(mod, "TRIAGEM_CABECALHO", 10**30)
    assert triar_documento(document)["eh_contrato"] is True
    monkeypatch.setattr(mod, "MIN_KEYWORDS", 10**30)
    assert triar_documento(document)["motivo"] == "poucos_termos"
    assert mod.validar_documento_contrato(PREAMBLE + CLAUSES)[0] is False
    monkeypatch.setattr(mod, "MIN_KEYWORDS", -(10**30))
    assert triar_documento(["Secretaria\n" + PREAMBLE, "x"])["eh_contrato"] is True
    monkeypatch.setattr(mod, "TRIAGEM_CABECALHO", -(10**30))  # no heading: no title, no exclusion term
    verdict = triar_documento(["TERMO DE REFERÊNCIA\n" + PREAMBLE, CLAUSES])
    assert (verdict["eh_contrato"], verdict["titulo"], verdict["exclusao"]) == (True, None, None)


def test_default_tables_are_plain_lists():
    assert "termo de referência" in mod.TRIAGEM_OUTROS
    assert ("contratante", "contratad") in mod.TRIAGEM_PARTES
    assert all(isinstance(t, str) for t in mod.TRIAGEM_QUALIFICACAO)


# --- the compiled screen against the plain-Python one --------------------------------
from hypothesis import given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

import text_oracles as oracle  # noqa: E402

_WORDS = ["CONTRATO Nº 5", "TERMO DE REFERÊNCIA", "Contratante", "contratada", "neste ato", "representada por",
          "SEI/ORG - 12 - Contrato", "ata de registro de preços", "nota fiscal", "Cláusula", "foro", "\u200b",
          "Pregão Eletrônico", "ΣΑΣ", "İ", "é", "\n", "\r\n", "  ", "\f", "- ", "1.", "»", "x" * 30]
_PIECE = st.one_of(st.sampled_from(_WORDS), st.text(max_size=6))
_HEAD = st.sampled_from(["", "CONTRATO Nº 5/2025\n", "Secretaria\n", "Contrato nº 1 de serviços gerais que entre si celebram as partes\n", "PARECER\n", "» ATA DE REGISTRO DE PREÇOS\n",
                         "SEI/X - 1 - Termo de Referência\n"])
_PAGE = st.tuples(_HEAD, st.lists(_PIECE, max_size=30).map("".join),
                  st.sampled_from(["", PREAMBLE, CLAUSES, PREAMBLE + CLAUSES])).map("".join)


def _tables():
    return dict(validacao=list(mod.KEYWORDS_VALIDACAO), exclusao=list(mod.TRIAGEM_EXCLUSAO),
                titulos=list(mod.TRIAGEM_TITULOS), outros=list(mod.TRIAGEM_OUTROS),
                partes=list(mod.TRIAGEM_PARTES), qualificacao=list(mod.TRIAGEM_QUALIFICACAO),
                minimo=mod.MIN_KEYWORDS, cabecalho=mod.TRIAGEM_CABECALHO)


@settings(max_examples=400, deadline=None)
@given(st.lists(_PAGE, max_size=4))
def test_screen_matches_the_plain_python_screen(pages):
    got = triar_documento(pages)
    want = oracle.triar(pages, **_tables())
    assert {k: got[k] for k in want} == want


@settings(max_examples=300, deadline=None)
@given(st.lists(_PAGE, max_size=5))
def test_a_settled_screen_is_the_screen_of_the_whole_document(pages):
    # A reader stops at the first prefix the screen calls settled.
    whole = triar_documento(pages)["eh_contrato"]
    for n in range(len(pages) + 1):
        prefix = triar_documento(pages[:n])
        if prefix["definitivo"]:
            assert prefix["eh_contrato"] == whole, n


@settings(max_examples=200, deadline=None)
@given(st.lists(_PAGE, max_size=3), st.lists(st.sampled_from(_WORDS + [""]), max_size=4),
       st.lists(st.tuples(st.sampled_from(_WORDS + [""]), st.sampled_from(_WORDS)), max_size=3))
def test_screen_with_other_tables_matches(pages, outros, partes):
    tables = _tables()
    tables.update(outros=outros, partes=partes, qualificacao=outros[:2])
    with pytest.MonkeyPatch.context() as mp:
        mp.setattr(mod, "TRIAGEM_OUTROS", outros)
        mp.setattr(mod, "TRIAGEM_PARTES", partes)
        mp.setattr(mod, "TRIAGEM_QUALIFICACAO", outros[:2])
        got = triar_documento(pages)
    want = oracle.triar(pages, **tables)
    assert {k: got[k] for k in want} == want
