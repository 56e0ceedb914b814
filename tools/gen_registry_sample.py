"""Writes the sample open-data files from the published registry answers kept beside the tests.

    python tools/gen_registry_sample.py [FIXTURES_REGISTRY_DIR] [OUT_DIR]

Every company of ``tests/fixtures/registry`` (three BrasilAPI answers, three
ReceitaWS answers, the CNPJá office) becomes lines of the published layout
(``quillon/registry/layout.py``), field by field, in zip files named as the
Receita names them; nothing is made up. The mapping:

BrasilAPI (built by BrasilAPI from these very files, so the mapping is 1:1):
  Empresas: cnpj[:8], razao_social, codigo_natureza_juridica,
    qualificacao_do_responsavel, capital_social ("200000000,00"),
    codigo_porte (two digits), ente_federativo_responsavel.
  Estabelecimentos: cnpj[:8], cnpj[8:12], cnpj[12:], identificador_matriz_filial,
    nome_fantasia, situacao_cadastral (two digits), data_situacao_cadastral
    (AAAAMMDD, "" for null), motivo_situacao_cadastral, nome_cidade_no_exterior,
    codigo_pais, data_inicio_atividade, cnae_fiscal, cnaes_secundarios (codes,
    comma-separated), descricao_tipo_de_logradouro, logradouro, numero,
    complemento, bairro, cep, uf, codigo_municipio, ddd_telefone_1 and
    ddd_telefone_2 and ddd_fax (first two digits DDD, the rest the number),
    email ("" for null), situacao_especial, data_situacao_especial.
  Sócios: each qsa element: identificador_de_socio, nome_socio,
    cnpj_cpf_do_socio, codigo_qualificacao_socio, data_entrada_sociedade,
    codigo_pais, cpf_representante_legal, nome_representante_legal,
    codigo_qualificacao_representante_legal, codigo_faixa_etaria.
  Code tables: codigo_municipio/municipio, codigo_natureza_juridica/
    natureza_juridica, the qualification codes/texts, motivo/descrição.

ReceitaWS (the same registry, another shape):
  "205-4 - Sociedade Anônima Fechada" gives the nature code 2054 and its text;
  "10-Diretor" the qualification code 10 and "Diretor"; situacao, porte and
  tipo (MATRIZ/FILIAL) their codes in the data dictionary; dates DD/MM/AAAA
  as AAAAMMDD; cep and telefone their digits; capital_social "20000.00" as
  "20000,00" ("" when absent). The street type is part of logradouro there
  ("R LOPES QUINTAS") and stays so; the tipo de logradouro is left empty.
  Fields the answer does not have (partner document, entry date, motivo code)
  are empty. Municipality codes: RIO DE JANEIRO is 6001 as BrasilAPI publishes
  it; GOIANIA is 9373 in the Receita's Municípios table; the masked
  "********" municipality of the 2015 answer has no code.

CNPJá (office 07526557011659): company.name, nature.id/text, equity,
  size.id; head (false: filial), alias as nome fantasia, status.id,
  statusDate, founded, mainActivity/sideActivities, street (with its type, as
  published), number, details, district, zip, state, municipality (CNPJá gives
  the IBGE code, 1302603, used as the sample's code for the published city
  "Manaus"), phones, emails; members: since, person type (LEGAL 1, NATURAL 2),
  name, taxId, role.id/text.

Where two answers give one code two texts (nature 2054 is "Sociedade Anônima
Fechada" in one answer and "SOCIEDADE ANONIMA FECHADA" in another) the first
one read is kept.
"""

from __future__ import annotations

import json
import pathlib
import re
import sys
import zipfile

ROOT = pathlib.Path(__file__).resolve().parent.parent
DEFAULT_IN = ROOT / "tests" / "fixtures" / "registry"
DEFAULT_OUT = ROOT / "python" / "quillon" / "registry" / "sample"

SITUACAO = {"NULA": "01", "ATIVA": "02", "SUSPENSA": "03", "INAPTA": "04", "BAIXADA": "08"}
PORTE = {"NÃO INFORMADO": "00", "MICRO EMPRESA": "01", "EMPRESA DE PEQUENO PORTE": "03", "DEMAIS": "05"}
MUNICIPIO_RECEITA_WS = {"RIO DE JANEIRO": "6001", "GOIANIA": "9373"}


def s(value) -> str:
    return "" if value is None else str(value)


def ymd(iso) -> str:
    return iso.replace("-", "") if iso else ""


def dmy(text) -> str:
    match = re.fullmatch(r"(\d\d)/(\d\d)/(\d{4})", text or "")
    return f"{match[3]}{match[2]}{match[1]}" if match else ""


def digits(text) -> str:
    return re.sub(r"\D", "", text or "")


def two(code) -> str:
    return "" if code is None or code == "" else f"{int(code):02d}"


def phone(text) -> tuple[str, str]:
    text = digits(text)
    return (text[:2], text[2:]) if text else ("", "")


def capital(value) -> str:
    if value is None or value == "":
        return ""
    number = f"{float(value):.2f}"
    return number.replace(".", ",")


class Sample:
    def __init__(self):
        self.files: dict[str, list[list[str]]] = {k: [] for k in (
            "Empresas", "Estabelecimentos", "Socios", "Municipios", "Naturezas", "Qualificacoes", "Motivos")}
        self.codes: dict[str, dict[str, str]] = {k: {} for k in ("Municipios", "Naturezas", "Qualificacoes", "Motivos")}

    def code(self, table: str, code, text) -> None:
        if code not in (None, "") and text not in (None, ""):
            self.codes[table].setdefault(str(int(code)), str(text))

    def brasil_api(self, d: dict) -> None:
        cnpj = d["cnpj"]
        self.files["Empresas"].append([cnpj[:8], d["razao_social"], s(d["codigo_natureza_juridica"]),
                                       two(d["qualificacao_do_responsavel"]), capital(d["capital_social"]),
                                       two(d["codigo_porte"]), s(d["ente_federativo_responsavel"])])
        t1, t2, fax = phone(d["ddd_telefone_1"]), phone(d["ddd_telefone_2"]), phone(d["ddd_fax"])
        self.files["Estabelecimentos"].append([
            cnpj[:8], cnpj[8:12], cnpj[12:], s(d["identificador_matriz_filial"]), d["nome_fantasia"],
            two(d["situacao_cadastral"]), ymd(d["data_situacao_cadastral"]), two(d["motivo_situacao_cadastral"]),
            s(d["nome_cidade_no_exterior"]), s(d["codigo_pais"]), ymd(d["data_inicio_atividade"]),
            s(d["cnae_fiscal"]), ",".join(str(c["codigo"]) for c in d["cnaes_secundarios"]),
            d["descricao_tipo_de_logradouro"], d["logradouro"], d["numero"], d["complemento"], d["bairro"],
            d["cep"], d["uf"], f"{d['codigo_municipio']:04d}", *t1, *t2, *fax, s(d["email"]),
            s(d["situacao_especial"]), ymd(d["data_situacao_especial"])])
        for p in d["qsa"]:
            self.files["Socios"].append([
                cnpj[:8], s(p["identificador_de_socio"]), p["nome_socio"], p["cnpj_cpf_do_socio"],
                two(p["codigo_qualificacao_socio"]), ymd(p["data_entrada_sociedade"]), s(p["codigo_pais"]),
                p["cpf_representante_legal"], p["nome_representante_legal"],
                two(p["codigo_qualificacao_representante_legal"]), s(p["codigo_faixa_etaria"])])
            self.code("Qualificacoes", p["codigo_qualificacao_socio"], p["qualificacao_socio"])
            self.code("Qualificacoes", p["codigo_qualificacao_representante_legal"],
                      p["qualificacao_representante_legal"])
        self.code("Municipios", d["codigo_municipio"], d["municipio"])
        self.code("Naturezas", d["codigo_natureza_juridica"], d["natureza_juridica"])
        self.code("Motivos", d["motivo_situacao_cadastral"], d["descricao_motivo_situacao_cadastral"])

    def receita_ws(self, d: dict) -> None:
        cnpj = digits(d["cnpj"])
        natureza = re.fullmatch(r"(\d+)-(\d) - (.*)", d.get("natureza_juridica", ""))
        natureza_code = natureza[1] + natureza[2] if natureza else ""
        if natureza:
            self.code("Naturezas", natureza_code, natureza[3])
        self.files["Empresas"].append([cnpj[:8], d["nome"], natureza_code, "", capital(d.get("capital_social")),
                                       PORTE.get(d.get("porte", ""), ""), d.get("efr", "")])
        phones = [phone(p) for p in d.get("telefone", "").split("/")] + [("", "")] * 2
        municipio = MUNICIPIO_RECEITA_WS.get(d.get("municipio", ""), "")
        self.code("Municipios", municipio, d.get("municipio"))
        self.files["Estabelecimentos"].append([
            cnpj[:8], cnpj[8:12], cnpj[12:], {"MATRIZ": "1", "FILIAL": "2"}.get(d.get("tipo", ""), ""),
            d.get("fantasia", ""), SITUACAO.get(d.get("situacao", ""), ""), dmy(d.get("data_situacao")), "", "", "",
            dmy(d.get("abertura")), digits(d["atividade_principal"][0]["code"]),
            ",".join(digits(a["code"]) for a in d.get("atividades_secundarias", [])), "", d.get("logradouro", ""),
            d.get("numero", ""), d.get("complemento", ""), d.get("bairro", ""),
            digits(d.get("cep")) if d.get("cep", "").strip("*") else d.get("cep", ""), d.get("uf", ""), municipio,
            *phones[0], *phones[1], "", "", d.get("email", ""), d.get("situacao_especial", ""),
            dmy(d.get("data_situacao_especial"))])
        for p in d.get("qsa", []):
            qual = re.fullmatch(r"(\d+)-(.*)", p.get("qual", ""))
            self.files["Socios"].append([cnpj[:8], "", p["nome"], "", qual[1] if qual else "", "", "", "", "", "", ""])
            if qual:
                self.code("Qualificacoes", qual[1], qual[2])

    def cnpja(self, d: dict) -> None:
        cnpj, company, address = d["taxId"], d["company"], d["address"]
        self.files["Empresas"].append([cnpj[:8], company["name"], s(company["nature"]["id"]), "",
                                       capital(company["equity"]), two(company["size"]["id"]), ""])
        self.code("Naturezas", company["nature"]["id"], company["nature"]["text"])
        self.code("Municipios", address["municipality"], address["city"])
        phones = [(p["area"], p["number"]) for p in d.get("phones", [])] + [("", "")] * 2
        emails = [e["address"] for e in d.get("emails", [])] + [""]
        self.files["Estabelecimentos"].append([
            cnpj[:8], cnpj[8:12], cnpj[12:], "1" if d["head"] else "2", d.get("alias") or "",
            two(d["status"]["id"]), ymd(d["statusDate"]), "", "", "", ymd(d["founded"]), s(d["mainActivity"]["id"]),
            ",".join(str(a["id"]) for a in d.get("sideActivities", [])), "", address["street"], s(address["number"]),
            s(address["details"]), address["district"], address["zip"], address["state"], s(address["municipality"]),
            *phones[0], *phones[1], "", "", emails[0], "", ""])
        for m in company["members"]:
            person = m["person"]
            self.files["Socios"].append([
                cnpj[:8], {"LEGAL": "1", "NATURAL": "2"}.get(person["type"], ""), person["name"],
                s(person.get("taxId")), two(m["role"]["id"]), ymd(m["since"]), "", "", "", "", ""])
            self.code("Qualificacoes", m["role"]["id"], m["role"]["text"])

    def write(self, out: pathlib.Path) -> list[pathlib.Path]:
        out.mkdir(parents=True, exist_ok=True)
        for table, codes in self.codes.items():
            self.files[table] = [[code.zfill(2 if table == "Qualificacoes" else 1), text]
                                 for code, text in sorted(codes.items(), key=lambda kv: int(kv[0]))]
        suffix = {"Empresas": "EMPRECSV", "Estabelecimentos": "ESTABELE", "Socios": "SOCIOCSV",
                  "Municipios": "MUNICCSV", "Naturezas": "NATJUCSV", "Qualificacoes": "QUALSCSV",
                  "Motivos": "MOTICSV"}
        written = []
        for name, rows in self.files.items():
            numbered = name in ("Empresas", "Estabelecimentos", "Socios")
            path = out / f"{name}{0 if numbered else ''}.zip"
            text = "".join(";".join('"' + f.replace('"', '""') + '"' for f in row) + "\n" for row in rows)
            # A fixed date keeps the zip files byte for byte the same from one run to the next.
            info = zipfile.ZipInfo(f"K3241.K03200Y0.AMOSTRA.{suffix[name]}", date_time=(2026, 1, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            with zipfile.ZipFile(path, "w") as archive:
                archive.writestr(info, text.encode("latin-1"))
            written.append(path)
        return written


def main(argv: list[str]) -> int:
    source = pathlib.Path(argv[1]) if len(argv) > 1 else DEFAULT_IN
    out = pathlib.Path(argv[2]) if len(argv) > 2 else DEFAULT_OUT
    sample = Sample()
    for path in sorted((source / "brasilapi").glob("*.json")):
        data = json.loads(path.read_text(encoding="utf-8"))
        if "cnpj" in data:  # the 400 and 404 bodies are no company
            sample.brasil_api(data)
    for path in sorted((source / "receitaws").glob("*.json")):
        data = json.loads(path.read_text(encoding="utf-8"))
        if data.get("status") == "OK":
            sample.receita_ws(data)
    for path in sorted((source / "cnpja").glob("*.json")):
        sample.cnpja(json.loads(path.read_text(encoding="utf-8")))
    for path in sample.write(out):
        print(path)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
