"""Files in the published layout of the open CNPJ data, written by the tests."""

from __future__ import annotations

import pathlib
import zipfile

MEMBER = {"Empresas": "EMPRECSV", "Estabelecimentos": "ESTABELE", "Socios": "SOCIOCSV", "Municipios": "MUNICCSV",
          "Naturezas": "NATJUCSV", "Qualificacoes": "QUALSCSV", "Motivos": "MOTICSV"}


def line(fields, quote=True) -> bytes:
    """One record: fields between quotes (doubled inside), separated by ";", Latin-1, newline."""
    if quote:
        text = ";".join('"' + f.replace('"', '""') + '"' for f in fields)
    else:
        text = ";".join(fields)
    return text.encode("latin-1") + b"\n"


def empresa(basico, razao, natureza="2062", capital="1000,00", porte="05"):
    return [basico, razao, natureza, "49", capital, porte, ""]


def estabelecimento(cnpj, fantasia="", situacao="02", data_situacao="20200102", abertura="20000101",
                    logradouro="PAULISTA", numero="1000", complemento="", bairro="BELA VISTA", cep="01310100",
                    uf="SP", municipio="7107", email="", matriz="1"):
    return [cnpj[:8], cnpj[8:12], cnpj[12:], matriz, fantasia, situacao, data_situacao, "00", "", "", abertura,
            "6201501", "", "AVENIDA", logradouro, numero, complemento, bairro, cep, uf, municipio, "11", "30000000",
            "", "", "", "", email, "", ""]


def socio(basico, nome, qualificacao="49", entrada="20200102", cpf_rep="***000000**", nome_rep="", qual_rep="00"):
    return [basico, "2", nome, "***123456**", qualificacao, entrada, "", cpf_rep, nome_rep, qual_rep, "4"]


CODES = {
    "Municipios": [["7107", "SAO PAULO"], ["6001", "RIO DE JANEIRO"]],
    "Naturezas": [["2062", "Sociedade Empresária Limitada"], ["3999", "Associação Privada"]],
    "Qualificacoes": [["00", "Não informada"], ["49", "Sócio-Administrador"], ["05", "Administrador"],
                      ["17", "Procurador"]],
    "Motivos": [["00", "SEM MOTIVO"]],
}


def write(folder: pathlib.Path, kind: str, lines: list[bytes], number: int | None = 0, zipped: bool = True
          ) -> pathlib.Path:
    """One published file: `kind`N.zip holding K3241.K03200Y0.D40510.<suffix>, or that text file alone."""
    folder.mkdir(parents=True, exist_ok=True)
    member = f"K3241.K03200Y{number or 0}.D40510.{MEMBER[kind]}"
    data = b"".join(lines)
    if not zipped:
        path = folder / member
        path.write_bytes(data)
        return path
    path = folder / f"{kind}{'' if number is None else number}.zip"
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        archive.writestr(member, data)
    return path


def release(folder: pathlib.Path, empresas, estabelecimentos, socios=(), codes=None) -> pathlib.Path:
    """A folder with the three main files and the code tables; items are field lists or raw lines."""
    def lines(items):
        return [item if isinstance(item, bytes) else line(item) for item in items]

    write(folder, "Empresas", lines(empresas))
    write(folder, "Estabelecimentos", lines(estabelecimentos))
    write(folder, "Socios", lines(socios))
    for kind, rows in (CODES if codes is None else codes).items():
        write(folder, kind, lines(rows), number=None)
    return folder
