"""The published layout of the open CNPJ data ("Dados Abertos CNPJ", Receita Federal).

Each month the Receita Federal publishes the company registry as zip files,
each holding one text file: Latin-1, one record per line, fields between
double quotes and separated by ";". The files and their columns, in the order
of the Receita's data dictionary ("Metadados CNPJ"):

Empresas (``EmpresasN.zip``, member ``*.EMPRECSV``), 7 columns:
  1 CNPJ básico (eight first characters), 2 razão social, 3 natureza jurídica
  (code), 4 qualificação do responsável (code), 5 capital social
  ("200000000,00"), 6 porte (00 não informado, 01 micro empresa, 03 empresa de
  pequeno porte, 05 demais), 7 ente federativo responsável.

Estabelecimentos (``EstabelecimentosN.zip``, ``*.ESTABELE``), 30 columns:
  1 CNPJ básico, 2 CNPJ ordem, 3 CNPJ DV, 4 identificador matriz/filial
  (1 matriz, 2 filial), 5 nome fantasia, 6 situação cadastral (01 nula, 2 ativa,
  3 suspensa, 4 inapta, 08 baixada), 7 data da situação cadastral (AAAAMMDD),
  8 motivo da situação cadastral (code), 9 nome da cidade no exterior, 10 país
  (code), 11 data de início da atividade, 12 CNAE fiscal principal, 13 CNAEs
  secundários (comma-separated), 14 tipo de logradouro, 15 logradouro,
  16 número, 17 complemento, 18 bairro, 19 CEP, 20 UF, 21 município (the
  Receita's code, see Municípios), 22 DDD 1, 23 telefone 1, 24 DDD 2,
  25 telefone 2, 26 DDD do fax, 27 fax, 28 correio eletrônico, 29 situação
  especial, 30 data da situação especial.

Sócios (``SociosN.zip``, ``*.SOCIOCSV``), 11 columns:
  1 CNPJ básico, 2 identificador de sócio (1 pessoa jurídica, 2 pessoa física,
  3 estrangeiro), 3 nome do sócio (or razão social), 4 CNPJ/CPF do sócio
  (masked), 5 qualificação do sócio (code), 6 data de entrada na sociedade,
  7 país (code), 8 CPF do representante legal (masked), 9 nome do
  representante, 10 qualificação do representante legal (code), 11 faixa
  etária.

Code tables, 2 columns each (code, description): Municípios (``*.MUNICCSV``),
Qualificações (``*.QUALSCSV``), Naturezas (``*.NATJUCSV``), Motivos
(``*.MOTICSV``). Países, CNAEs and Simples are not read: the registry record
does not use them.

Each file kind below says which columns are kept and what they are made into
(the reader's plan), and the table they go to.
"""

from __future__ import annotations

import dataclasses
import re
import unicodedata

from quillon.registry import opendata as _od

TEXT, DATE, CODE, KEY, CNPJ = _od.TEXT, _od.DATE, _od.CODE, _od.KEY, _od.CNPJ

#: Registration statuses ("situação cadastral") by code, as the data dictionary names them.
SITUACOES = {1: "NULA", 2: "ATIVA", 3: "SUSPENSA", 4: "INAPTA", 8: "BAIXADA"}
SITUACAO_ATIVA = 2

#: Company sizes ("porte da empresa") by code.
PORTES = {0: "NÃO INFORMADO", 1: "MICRO EMPRESA", 3: "EMPRESA DE PEQUENO PORTE", 5: "DEMAIS"}


@dataclasses.dataclass(frozen=True)
class FileKind:
    """One kind of published file: how it is recognised, read and stored."""

    name: str  # short name, also the stem of the zip files ("Empresas")
    member_suffix: str  # how the text file inside the zip ends ("EMPRECSV")
    columns: int
    # (table column, reader operation, file column counted from 1); CNPJ takes three columns.
    fields: tuple[tuple[str, int, int], ...]
    table: str

    @property
    def plan(self) -> list[tuple[int, int]]:
        return [(op, column - 1) for _, op, column in self.fields]

    @property
    def table_columns(self) -> tuple[str, ...]:
        return tuple(name for name, _, _ in self.fields)


def _code_table(name: str, suffix: str, table: str) -> FileKind:
    return FileKind(name, suffix, 2, (("codigo", CODE, 1), ("descricao", TEXT, 2)), table)


MUNICIPIOS = _code_table("Municipios", "MUNICCSV", "municipios")
QUALIFICACOES = _code_table("Qualificacoes", "QUALSCSV", "qualificacoes")
NATUREZAS = _code_table("Naturezas", "NATJUCSV", "naturezas")
MOTIVOS = _code_table("Motivos", "MOTICSV", "motivos")

EMPRESAS = FileKind("Empresas", "EMPRECSV", 7, (
    ("cnpj_basico", TEXT, 1),
    ("razao_social", TEXT, 2),
    ("natureza_juridica", CODE, 3),
    ("capital_social", TEXT, 5),
    ("porte", CODE, 6),
    ("chave_razao", KEY, 2),
), "empresas")

ESTABELECIMENTOS = FileKind("Estabelecimentos", "ESTABELE", 30, (
    ("cnpj", CNPJ, 1),
    ("cnpj_basico", TEXT, 1),
    ("matriz_filial", CODE, 4),
    ("nome_fantasia", TEXT, 5),
    ("situacao", CODE, 6),
    ("data_situacao", DATE, 7),
    ("motivo_situacao", CODE, 8),
    ("data_abertura", DATE, 11),
    ("logradouro", TEXT, 15),
    ("numero", TEXT, 16),
    ("complemento", TEXT, 17),
    ("bairro", TEXT, 18),
    ("cep", TEXT, 19),
    ("uf", TEXT, 20),
    ("municipio", CODE, 21),
    ("email", TEXT, 28),
    ("chave_fantasia", KEY, 5),
), "estabelecimentos")

SOCIOS = FileKind("Socios", "SOCIOCSV", 11, (
    ("cnpj_basico", TEXT, 1),
    ("nome", TEXT, 3),
    ("cnpj_cpf_do_socio", TEXT, 4),
    ("qualificacao", CODE, 5),
    ("data_entrada", DATE, 6),
    ("cpf_representante", TEXT, 8),
    ("nome_representante", TEXT, 9),
    ("qualificacao_representante", CODE, 10),
), "socios")

#: In import order: the code tables, then the companies, their establishments and partners.
KINDS: tuple[FileKind, ...] = (MUNICIPIOS, QUALIFICACOES, NATUREZAS, MOTIVOS, EMPRESAS, ESTABELECIMENTOS, SOCIOS)
CODE_TABLES = (MUNICIPIOS, QUALIFICACOES, NATUREZAS, MOTIVOS)


def _plain(name: str) -> str:
    """Upper case without accents: "Sócios" and "SOCIOS" are one name."""
    decomposed = unicodedata.normalize("NFD", name)
    return "".join(c for c in decomposed if not unicodedata.combining(c)).upper()


_ZIP_NAME = re.compile(r"^([A-Z]+)\d*\.ZIP$")


def kind_of_zip(file_name: str) -> FileKind | None:
    """The kind of a published zip file by its name ("Estabelecimentos3.zip"), or None."""
    match = _ZIP_NAME.match(_plain(file_name))
    if not match:
        return None
    stem = match.group(1)
    return next((k for k in KINDS if _plain(k.name) == stem), None)


def kind_of_member(file_name: str) -> FileKind | None:
    """The kind of a text file by its published name ("K3241.K03200Y0.D40510.EMPRECSV"), or None."""
    plain = _plain(file_name)
    return next((k for k in KINDS if plain.endswith(k.member_suffix)), None)


#: The Receita publishes its companies, establishments and partners in this many parts each
#: (``Empresas0.zip`` to ``Empresas9.zip``; members ``...Y0...`` to ``...Y9...``).
RELEASE_PARTS = 10
#: The kinds whose every part a release must hold for a CNPJ's absence to mean it does not exist.
RELEASE_KINDS = (EMPRESAS, ESTABELECIMENTOS, SOCIOS)

_ZIP_PART = re.compile(r"^[A-Z]+(\d+)\.ZIP:")
_MEMBER_PART = re.compile(r"\.K\d+Y(\d+)\.")


def release_part(source_key: str) -> tuple[FileKind, int] | None:
    """(kind, part number) of an imported source ("Empresas3.zip:K3241.K03200Y3.D40510.EMPRECSV",
    "K3241.K03200Y3.D40510.EMPRECSV"), or None when its name does not tell."""
    plain = _plain(source_key)
    member = plain.split(":", 1)[-1]
    kind = kind_of_member(member)
    if kind is None:
        return None
    match = _ZIP_PART.match(plain) or _MEMBER_PART.search(member)
    return (kind, int(match.group(1))) if match else None


def is_whole_release(source_keys) -> bool:
    """Whether the sources of an import are every part of a monthly release (``RELEASE_PARTS`` of
    each of ``RELEASE_KINDS``): then a CNPJ missing from its tables is not in the registry."""
    parts: dict[str, set[int]] = {kind.name: set() for kind in RELEASE_KINDS}
    for key in source_keys:
        found = release_part(key)
        if found is not None and found[0].name in parts:
            parts[found[0].name].add(found[1])
    return all(set(range(RELEASE_PARTS)) <= got for got in parts.values())
