"""The local extractor on the layouts of real published contracts: annexes after
the contract, witnesses who also stamp, appointments, names inside running
text, dates and prices as real contracts write them."""

import pytest

from quillon.engine.extractor import extract
from quillon.engine.extractor._text import is_person_name, leading_name, strip_honorific
from quillon.engine.extractor.layout import closing_range, is_annex_heading

PREAMBLE = (
    "CONTRATO Nº 12/2025\n\n"
    "O MUNICÍPIO DE BASTOS, inscrito no CNPJ sob nº 45.547.403/0001-93, neste ato representado por seu "
    "Prefeito, Sr. Kléber Lopes de Sousa, doravante denominado CONTRATANTE, e a empresa OMEGA SISTEMAS LTDA, "
    "inscrita no CNPJ sob nº 06.990.590/0001-23, neste ato representada por sua Diretora Administrativa, "
    "Sra.Cíntia Fraga Chaves, portadora do RG nº 123, residente na Avenida Juca Batista, Torre H, "
    "doravante denominada CONTRATADA, resolvem celebrar o presente contrato.\n\n"
    "CLÁUSULA PRIMEIRA – DO OBJETO\nO objeto é a licença de software.\n\n"
    "CLÁUSULA SEGUNDA – DO VALOR\nMulta de R$ 1,00 por dia de atraso. O valor global do contrato é de "
    "R$ 34.000,00 (trinta e quatro mil reais).\n\n"
)
CLOSING = (
    "E por estarem justas e contratadas, as partes assinam o presente instrumento.\n"
    "BASTOS/SP, 27/08/2025.\n"
    "______________________\nKLÉBER LOPES DE SOUSA\nPREFEITO MUNICIPAL\n"
    "______________________\nCÍNTIA FRAGA CHAVES\nOMEGA SISTEMAS LTDA\n"
    "Fiscal do contrato: Wagner Robert Mizohata\n"
    "TESTEMUNHAS:\n- Israel Leite Belleza\n- Thiago Pereira Gallian\n"
    "Documento assinado eletronicamente por Israel Leite Belleza, Assessor Executivo, em 28/08/2025, às 10:21.\n"
)
ANNEX = (
    "ANEXO LC-01 - TERMO DE CIÊNCIA E DE NOTIFICAÇÃO\n"
    "Pelo presente TERMO, nós, abaixo identificados, estamos cientes.\n"
    "Bastos/SP, 02/09/2025.\n"
    "GESTOR DO CONTRATO:\nNome: Leandro Sunayama Inoue\nCargo: Diretor de Comunicação\n"
    "Documento assinado eletronicamente por Mauricio Boucos Vitale, Gerente, em 03/09/2025, às 15:09.\n"
    "Documento assinado eletronicamente por Cíntia Fraga Chaves, Sócia Diretora, em 03/09/2025, às 15:10.\n"
)


@pytest.fixture(scope="module")
def answer():
    return extract(PREAMBLE + CLOSING + ANNEX)


def _people(answer, witnesses=False):
    return {p["nome_signatario"].upper(): p for p in answer["assinaturas"]["assinaturas"]
            if (p["tipo_assinatura"] == "testemunha") == witnesses}


def test_signatories_are_the_contracts_not_the_annexes(answer):
    signers = _people(answer)
    assert set(signers) == {"KLÉBER LOPES DE SOUSA", "CÍNTIA FRAGA CHAVES"}
    # The annex stamp of a known signer tells nothing new here: her cargo comes from the preamble.
    assert signers["CÍNTIA FRAGA CHAVES"]["cargo"] == "Diretora Administrativa"
    assert signers["CÍNTIA FRAGA CHAVES"]["cnpj_empresa"] == "06.990.590/0001-23"


def test_witnesses_who_stamp_stay_witnesses(answer):
    assert set(_people(answer, witnesses=True)) == {"ISRAEL LEITE BELLEZA", "THIAGO PEREIRA GALLIAN"}


def test_contract_data_from_the_closing_part(answer):
    data = answer["dados_contrato"]
    assert data["data"] == "27/08/2025"  # not the annex's 02/09/2025
    assert data["valor"] == "R$ 34.000,00 (trinta e quatro mil reais)"  # not the fine of R$ 1,00


def test_closing_range_ends_at_the_first_annex():
    lines = (PREAMBLE + CLOSING + ANNEX).splitlines()
    start, end = closing_range(lines)
    assert lines[start].startswith("E por estarem justas")
    assert lines[end].startswith("ANEXO LC-01")
    # A preamble that "firmam o presente" is not the closing: the clauses come first.
    lines = ("Partes que firmam o presente contrato.\n" + PREAMBLE + CLOSING).splitlines()
    assert lines[closing_range(lines)[0]].startswith("E por estarem justas")


@pytest.mark.parametrize(("line", "annex"), [
    ("ANEXO III", True), ("PLANILHA DE ORÇAMENTO ESPECIFICAÇÃO DE SERVIÇOS E PREÇOS", True),
    ("TERMO DE CIÊNCIA E DE NOTIFICAÇÃO", True), ("Proposta", True),
    ("Representante legal do CONTRATADO", False), ("SEI/GESP - 0047987294 - Contrato", False),
    ("Anexos I e II fazem parte deste contrato, assim como a proposta da contratada e o termo de referência", False),
])
def test_annex_headings(line, annex):
    assert is_annex_heading(line) is annex


def test_closing_without_formula_starts_at_the_place_and_date_line():
    text = ("TERMO DE FORMALIZAÇÃO\nFornecedor\nGerson Almeida de Almeida\n33.094.720/0001-12\n"
            "Vl. Total.\n1,0\n4.200,00\n4.200,00\nArroio do Sal, 10 de janeiro de 2025\n"
            "___________________\nEmissor: SIDNEI BECKER DE VARGAS\n___________________\nSecretário(a)\n")
    answer = extract(text)
    signers = _people(answer)
    assert list(signers) == ["SIDNEI BECKER DE VARGAS"]
    assert signers["SIDNEI BECKER DE VARGAS"]["cargo"] == "Emissor"
    assert answer["dados_contrato"]["valor"] == "R$ 4.200,00"
    assert answer["dados_contrato"]["data"] == "10 de janeiro de 2025"


def test_date_deferred_to_the_signatures_is_the_last_stamp():
    text = ("CLÁUSULA PRIMEIRA – OBJETO\nlicenças.\n"
            "E assim, por estarem as partes justas e contratadas, foi lavrado o presente instrumento.\n"
            "São Paulo, data da última assinatura eletrônica das partes.\n"
            "Documento assinado eletronicamente por Larissa Andrade Mora, Gerente, em 02/12/2024, às 18:54.\n"
            "Documento assinado eletronicamente por Alberto Epifani, Coordenador, em 03/12/2024, às 10:52.\n"
            "Documento assinado eletronicamente por Selma Berezutchi Aftim, Coordenadora, em 01/12/2024.\n")
    assert extract(text)["dados_contrato"]["data"] == "03/12/2024"


def test_appointments_are_not_signatories():
    text = ("CLÁUSULA DÉCIMA\nO contrato será fiscalizado pelo servidor FREDERICO\n"
            "FERNANDES DE MENDONCA, matrícula nº 5906001/2, lotado na ASCOM.\n"
            "Cidade (PA), 05 de maio de 2025.\n"
            "Gestor: Ana Paula Ribeiro\nFiscal: Bruno Costa Lima\n")
    assert _people(extract(text)) == {}


@pytest.mark.parametrize(("chunk", "name"), [
    ("Sr. MARCEL DO NASCIMENTO BOTELHO nomeado por Decreto Governamental", "MARCEL DO NASCIMENTO BOTELHO"),
    ("Senhor José da Silva, brasileiro, casado", "José da Silva"),
    ("Torre H — Bairro Cavalhada", "Torre H"),
])
def test_leading_name(chunk, name):
    assert leading_name(chunk) == name


@pytest.mark.parametrize(("text", "person"), [
    ("Paulo Eduardo Onuchic", True),
    ("Maria da Conceição Souza", True),
    ("João P. Silva", True),
    ("FORMA E CRITÉRIOS DE PAGAMENTO", False),
    ("FORMA E CRITÉRIOS DE", False),
    ("Senhor JOSÉ SILVA Procuradores Senhor ANA LIMA", False),
    ("Coordenadoria de Contratos Comerciais", False),
    ("Torre H", False),
    ("PREFEITO MUNICIPAL", False),
    ("DAS OBRIGAÇÕES DAS PARTES", False),
])
def test_person_names_against_headings_roles_and_places(text, person):
    assert is_person_name(text) is person


@pytest.mark.parametrize(("text", "bare"), [
    ("Sra.Cíntia Fraga Chaves", "Cíntia Fraga Chaves"),
    ("Sra. Maria Lima", "Maria Lima"),
    ("Senhora Ana Paula", "Ana Paula"),
    ("Sr. João Souza", "João Souza"),
    ("Srta Helena Dias", "Helena Dias"),
])
def test_honorifics(text, bare):
    assert strip_honorific(text) == bare


def test_two_people_joined_by_a_role_are_two_people():
    text = ("CONTRATO Nº 5/2024\nA empresa OMEGA SISTEMAS LTDA, inscrita no CNPJ sob nº 06.990.590/0001-23, neste ato "
            "representada por seus Procuradores Senhor JOSÉ CARLOS SILVA Procuradores Senhor ANA MARIA LIMA, "
            "doravante denominada CONTRATADA, resolvem celebrar o presente contrato.\n")
    assert set(_people(extract(text))) == {"JOSÉ CARLOS SILVA", "ANA MARIA LIMA"}


@pytest.mark.parametrize("stamp", [
    "Documento assinado eletronicamente por Ana Lima, Diretora, em 27/08/2024, às 10:21.",
    "Assinado de forma digital por ANA LIMA:12345678900 Dados: 2024.08.27 10:21:05 -03'00'",
    "Documento assinado digitalmente\nANA LIMA\nData: 27/08/2024 17:30:28-0300",
])
def test_signing_date_from_electronic_stamps(stamp):
    text = "CLÁUSULA PRIMEIRA\nlicenças.\nE por estarem justas, as partes assinam o presente.\n" + stamp + "\n"
    assert extract(text)["dados_contrato"]["data"] == "27/08/2024"


@pytest.mark.parametrize(
    ("a", "b", "one_signatory", "checker_match"),
    [
        ("MARIA SILVA", "Maria da Silva Santos", True, True),
        ("Kléber Lopes de Sousa", "KLEBER LOPES DE SOUSA", True, True),
        ("Sr. J. P. Almeida", "J. P. ALMEIDA", True, True),
        # Two people of one family: the checker's tolerant rule matches them, a contract has two signatories.
        ("JOÃO DA SILVA SANTOS", "PEDRO DA SILVA SANTOS", False, True),
        ("Ana Costa", "Bruno Lima", False, False),
    ],
)
def test_signatories_of_one_contract_are_told_apart_more_strictly_than_the_checker_matches(
        a, b, one_signatory, checker_match):
    from quillon.contract.checker import ContractChecker
    from quillon.engine.extractor._text import same_signatory

    assert same_signatory(a, b) is same_signatory(b, a) is one_signatory
    checker = ContractChecker("BR", openai_api_key="sk-test", verbose=False)
    assert checker._comparar_nomes(a, b) is checker_match
