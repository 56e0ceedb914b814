"""Address comparison: _normalizar_endereco and comparar_enderecos."""

import math
from fractions import Fraction

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import text_oracles as oracle
from quillon.contract.countries.br import cnpj as mod
from quillon.contract.countries.br.cnpj import _normalizar_endereco, comparar_enderecos
from text_strategies import ADDRESS_FORMS, address_texts, any_texts


def registro(**parts):
    return {"cnpj": "11222333000181", "endereco": parts}


# --- _normalizar_endereco --------------------------------------------------------
@pytest.mark.parametrize(
    ("endereco", "esperado"),
    [
        ("", ""),
        ("-", ""),
        (" \t\u00a0\u2028 ", ""),
        ("Av Paulista 1000", "av paulista 1000"),
        ("Rua das Flores, 100", "r das flores  100"),  # the comma's space stays
        ("Nova Esperança", "va esperanca"),
        ("numero 5", "umero 5"),
        ("Rua X, nº 12", "r x  12"),
        ("Rua X, No. 12", "r x  12"),
        ("Rua X, n° 12", "r x  ° 12"),  # the degree sign is no ordinal
        ("n n 5", "5"),
        ("nºrua", "r"),  # rule 3 exposes a word that rule 4 then replaces
        ("Rua\tdas\u00a0Flores\u2028100\u3000SP", "r das flores 100 sp"),
        ("avd avda avdas av avenidas", "av av avdas av avenidas"),
        ("Praça pracas pracass", "pc pc pracass"),
        ("Edifício Prédio Conjunto Conj. Sala Andar", "ed ed cj cj  sl and"),
        ("Bairro Centro CEP 01310-100", "centro  01310 100"),
        ("ruas rua_ _rua rua1 1rua", "ruas rua_ _rua rua1 1rua"),  # _ and digits are word characters
        ("жrua рua ж rua", "жrua рua ж r"),  # Cyrillic letters are word characters
        ("ruaº ºrua", "ruaº ºrua"),  # so is the ordinal sign
        ("ΟΔΟΣ ΑΘΗΝΑΣ 5", "οδος αθηνας 5"),
        ("İstanbul Straße ẞ", "istanbul straße ß"),
        ("Ru\u0301a Sa\u0303o Joa\u0303o", "r sao joao"),
        ("RUA\u2003NOVA", "r va"),
    ],
)
def test_normalizar_endereco(endereco, esperado):
    assert _normalizar_endereco(endereco) == esperado
    assert oracle.normalizar_endereco(endereco) == esperado


@given(st.one_of(address_texts, any_texts))
@settings(max_examples=400)
def test_normalizar_endereco_property(endereco):
    assert _normalizar_endereco(endereco) == oracle.normalizar_endereco(endereco)


# --- comparar_enderecos: the cases of the rules -------------------------------
@pytest.mark.parametrize(
    ("contrato", "dados", "esperado"),
    [
        ("", registro(logradouro="Rua A"), (False, 0.0, "")),
        ("Rua A", {}, (False, 0.0, "")),
        ("Rua A", {"cnpj": "1"}, (False, 0.0, "")),
        ("Rua A", registro(logradouro="", numero="", complemento="", bairro="", cidade="", uf="", cep=""),
         (False, 0.0, "")),
        ("Rua A", registro(logradouro=None, numero=None), (False, 0.0, "")),
        ("-", registro(logradouro="Rua A"), (False, 0.0, "Rua A")),
        ("Av Paulista 1000", registro(logradouro="AVENIDA PAULISTA", numero="1000", complemento="", bairro=""),
         (True, 1.0, "AVENIDA PAULISTA 1000")),
        ("Rua das Flores, 100", registro(logradouro="R DAS FLORES", numero="100"), (True, 1.0, "R DAS FLORES 100")),
        ("Paulista 1000 SP", registro(logradouro="PAULISTA", numero="1000", uf="RJ"), (True, 1.0, "PAULISTA 1000 RJ")),
        ("Nova Esperança", registro(logradouro="ESPERANCA NOVA"), (True, 1.0, "ESPERANCA NOVA")),
        ("Rua Augusta 500 CEP 01305-000", registro(logradouro="RUA AUGUSTA", numero="500", cep="01305000"),
         (False, 0.4, "RUA AUGUSTA 500 01305000")),
        ("R 12", registro(logradouro="Avenida Brasil"), (False, 0.0, "Avenida Brasil")),
        # The comma's two spaces defeat containment, and no word has three letters.
        ("Praça da Sé, 1", registro(logradouro="PRAÇA DA SÉ", numero="1", cidade="São Paulo"),
         (False, 0.0, "PRAÇA DA SÉ 1 São Paulo")),
        ("Praça da Sé 1", registro(logradouro="PRAÇA DA SÉ", numero="1", bairro="Sé", cidade="São Paulo",
                                    uf="SP", cep="01001-000"),
         (True, 0.9, "PRAÇA DA SÉ 1 Sé São Paulo SP 01001-000")),
    ],
)
def test_comparar_examples(contrato, dados, esperado):
    assert comparar_enderecos(contrato, dados) == esperado
    assert oracle.comparar_enderecos(contrato, dados) == esperado


def test_thresholds(monkeypatch):
    dados = registro(logradouro="AVENIDA PAULISTA", numero="1000", bairro="BELA VISTA")
    assert comparar_enderecos("Avenida Paulista 1000", dados, 2) == (True, 0.9, "AVENIDA PAULISTA 1000 BELA VISTA")
    common = " ".join(f"palavra{chr(97 + i)}" for i in range(17))
    contrato, dados = common + " extraum extradois", registro(logradouro=common + " outraum")
    assert comparar_enderecos(contrato, dados)[:2] == (True, 0.85)  # 17 of 20: inclusive
    assert comparar_enderecos(contrato, dados, 0.8500001)[0] is False
    monkeypatch.setattr(mod, "DEFAULT_ADDRESS_SIMILARITY_THRESHOLD", 0.99)
    assert comparar_enderecos(contrato, dados)[0] is True  # the default was taken at load
    monkeypatch.undo()
    assert mod.DEFAULT_ADDRESS_SIMILARITY_THRESHOLD == 0.85 and type(mod.DEFAULT_ADDRESS_SIMILARITY_THRESHOLD) is float


@pytest.mark.parametrize("threshold", [0, 1, True, Fraction(1, 3), 0.5, -1.0, float("inf"), float("nan")])
def test_threshold_accepts_any_real_number(threshold):
    dados = registro(logradouro="Rua das Flores Amarelas", numero="100")
    got = comparar_enderecos("Rua das Flores Vermelhas 100", dados, threshold)
    sim = 3 / 5
    assert got == (sim >= float(threshold), sim, "Rua das Flores Amarelas 100")
    assert type(got[1]) is float


def test_registry_text_as_given_in_plain_values():
    dados = registro(logradouro="Rua São João", numero="7", complemento="Sala 3")
    got = comparar_enderecos("rua sao joao 7 sala 3", dados)
    assert got == (True, 1.0, "Rua São João 7 Sala 3")
    assert [type(v) for v in got] == [bool, float, str] and type(got) is tuple


@given(address_texts, st.dictionaries(st.sampled_from(oracle.ADDRESS_KEYS),
                                      st.none() | address_texts | st.sampled_from(ADDRESS_FORMS)),
       st.sampled_from([0.0, 0.3, 0.5, 0.85, 0.9, 1.0]))
@settings(max_examples=400)
def test_comparar_property(contrato, endereco, threshold):
    dados = {"endereco": endereco}
    assert comparar_enderecos(contrato, dados, threshold) == oracle.comparar_enderecos(contrato, dados, threshold)


# --- errors ------------------------------------------------------------------
@pytest.mark.parametrize(
    ("call", "message"),
    [
        (lambda: _normalizar_endereco(None), r"_normalizar_endereco\(\) argument 'endereco' must be str, not NoneType"),
        (lambda: _normalizar_endereco("a", "b"), "_normalizar_endereco"),
        (lambda: comparar_enderecos(b"Rua", {}), r"argument 'endereco_contrato' must be str, not bytes"),
        (lambda: comparar_enderecos("Rua", [("endereco", {})]), r"argument 'dados_receita' must be dict, not list"),
        (lambda: comparar_enderecos("", None), r"argument 'dados_receita' must be dict"),  # before any work
        (lambda: comparar_enderecos("Rua", {}, "0.5"), r"argument 'threshold' must be a real number, not str"),
        (lambda: comparar_enderecos("Rua", {}, None), r"argument 'threshold' must be a real number, not NoneType"),
        (lambda: comparar_enderecos("Rua"), "comparar_enderecos"),
        (lambda: comparar_enderecos("Rua", {}, 0.5, 1), "comparar_enderecos"),
        (lambda: comparar_enderecos("Rua", {}, limite=0.5), "comparar_enderecos"),
    ],
)
def test_argument_errors(call, message):
    with pytest.raises(TypeError, match=message):
        call()


@pytest.mark.parametrize(
    ("endereco", "message"),
    [
        (None, r"dados_receita\['endereco'\] must be dict, not NoneType"),
        ({"logradouro": "Rua A", "numero": 100}, r"dados_receita\['endereco'\]\['numero'\] must be str or None, not int"),
        ({"cep": 0}, r"dados_receita\['endereco'\]\['cep'\] must be str or None, not int"),
    ],
)
def test_malformed_registry_address_reaches_the_caller(endereco, message):
    with pytest.raises(TypeError, match=r"^comparar_enderecos\(\): " + message):
        comparar_enderecos("Rua A 100", {"endereco": endereco})
    assert comparar_enderecos("", {"endereco": endereco}) == (False, 0.0, "")  # returns before reading it


def test_documentation_texts():
    doc = comparar_enderecos.__doc__
    assert doc.startswith("comparar_enderecos(endereco_contrato: str, dados_receita: dict, threshold: float = 0.85)"
                          " -> tuple[bool, float, str]\n\n")
    for text in (
        "Compara endereço do contrato com o da Receita Federal.",
        "Divergências caem em pendente para revisão manual (não reprovam agressivamente).",
        "CEPs coincidentes não geram boost: em zonas rurais um único CEP cobre múltiplos logradouros, "
        "o que produzia falsos positivos.",
        "tuple: (confere: bool, similaridade: float, endereco_receita: str)",
    ):
        assert text in doc
    assert _normalizar_endereco.__doc__.endswith("\n\nNormaliza endereço para comparação.")


def test_long_addresses():
    rua = "Rua " + "Comprida " * 200_000 + "100"
    dados = registro(logradouro=rua.upper())
    assert comparar_enderecos(rua, dados) == (True, 1.0, rua.upper())
    assert _normalizar_endereco(rua) == oracle.normalizar_endereco(rua)
    assert math.isclose(comparar_enderecos(rua + " Bloco", dados)[1], 0.9)
