"""Writes the sample contracts of this folder, and what each should yield.

    python examples/make_samples.py [FOLDER]

The companies are those of the sample registry (``quillon registry sample``,
built from the published registry answers kept with the tests): Google Brasil
Internet Ltda. and Open Knowledge Brasil, both active, and an association
whose registration was closed (BAIXADA).  Signatories come from the partner
lists (QSA) those answers publish.  ``expected.json`` records, for every PDF,
the verdict it was written to get and the fields a reader should extract.
"""

from __future__ import annotations

import json
import pathlib
import sys
import textwrap

import pymupdf

HERE = pathlib.Path(__file__).resolve().parent

GOOGLE = {
    "razao_social": "GOOGLE BRASIL INTERNET LTDA.",
    "cnpj": "06.990.590/0001-23",
    "endereco": "Brig. Faria Lima, nº 3477, Andar 17A20 Tsul 2 17A20, Itaim Bibi, São Paulo/SP",
}
OKBR = {
    "razao_social": "OPEN KNOWLEDGE BRASIL",
    "cnpj": "19.131.243/0001-97",
    "endereco": "Av. Paulista, nº 37, Andar 4, Bela Vista, São Paulo/SP",
}
BAIXADA = {
    "razao_social": "ASSOCIACAO DE INCLUSAO E DESENVOLVIMENTO SOCIAL POR UM RIO MELHOR",
    "cnpj": "08.942.107/0001-60",
    "endereco": "Rua Rio da Prata, nº 1550, Bangu, Rio de Janeiro/RJ",
}
# Representatives' CPFs agree with the six middle digits the registry publishes
# of the partners' CPFs ("***133807**"), as a real contract's would.
FABIO = ("FABIO JOSE SILVA COELHO", "Administrador", "100.133.807-37")
HAYDEE = ("HAYDEE SVAB", "Presidente", "100.112.108-26")
JOSE_RENATO = ("JOSE RENATO CARDOZO MOURA", "Presidente")
OUTSIDER = ("MARCOS ANTONIO PEREIRA", "Diretor Executivo")

FILLER_CLAUSES = [
    ("DAS OBRIGAÇÕES DA CONTRATADA",
     "A CONTRATADA obriga-se a executar os serviços com zelo e diligência, observando as normas técnicas "
     "aplicáveis, a legislação vigente e as orientações da CONTRATANTE; manter sigilo sobre as informações "
     "a que tiver acesso; apresentar relatórios mensais das atividades realizadas; e substituir, no prazo de "
     "cinco dias úteis, qualquer profissional cuja atuação seja considerada inadequada."),
    ("DAS OBRIGAÇÕES DA CONTRATANTE",
     "A CONTRATANTE obriga-se a fornecer as informações e os documentos necessários à execução dos serviços, "
     "designar um gestor para acompanhar o contrato, efetuar os pagamentos nas datas avençadas e comunicar "
     "por escrito qualquer irregularidade verificada na execução."),
    ("DA PROTEÇÃO DE DADOS",
     "As partes tratarão os dados pessoais eventualmente compartilhados em conformidade com a Lei nº 13.709, "
     "de 14 de agosto de 2018, limitando o tratamento às finalidades deste contrato e adotando medidas de "
     "segurança técnicas e administrativas aptas a proteger os dados de acessos não autorizados."),
    ("DA PROPRIEDADE INTELECTUAL",
     "Os relatórios, bases de dados e demais produtos elaborados no âmbito deste contrato serão publicados "
     "sob licença aberta, assegurada a atribuição de autoria às partes, nos termos do plano de trabalho."),
    ("DA RESCISÃO",
     "O presente contrato poderá ser rescindido por qualquer das partes mediante aviso prévio por escrito com "
     "antecedência mínima de trinta dias, ou de imediato em caso de descumprimento de qualquer de suas "
     "cláusulas, sem prejuízo das perdas e danos cabíveis."),
    ("DAS PENALIDADES",
     "O descumprimento injustificado das obrigações sujeitará a parte infratora a multa de dois por cento "
     "sobre o valor da parcela inadimplida, acrescida de juros de um por cento ao mês, calculados pro rata."),
    ("DA ANTICORRUPÇÃO",
     "As partes declaram conhecer a Lei nº 12.846, de 1º de agosto de 2013, e comprometem-se a não praticar "
     "atos lesivos à administração pública, nacional ou estrangeira, na execução deste contrato."),
    ("DA CESSÃO",
     "É vedada a cessão ou transferência, total ou parcial, dos direitos e obrigações deste contrato sem a "
     "prévia e expressa anuência da outra parte."),
    ("DAS COMUNICAÇÕES",
     "As comunicações entre as partes serão feitas por escrito, por correio eletrônico com confirmação de "
     "recebimento, aos endereços indicados pelos gestores designados."),
    ("DAS DISPOSIÇÕES GERAIS",
     "A tolerância de uma parte com o descumprimento de qualquer obrigação pela outra não importará novação "
     "nem renúncia de direitos. Este instrumento obriga as partes e seus sucessores a qualquer título."),
]


def _clauses(objeto: str, vigencia: str, valor: str, foro: str, extra: int, depth: int = 3) -> list[str]:
    ordinals = ["PRIMEIRA", "SEGUNDA", "TERCEIRA", "QUARTA", "QUINTA", "SEXTA", "SÉTIMA", "OITAVA", "NONA",
                "DÉCIMA", "DÉCIMA PRIMEIRA", "DÉCIMA SEGUNDA", "DÉCIMA TERCEIRA", "DÉCIMA QUARTA",
                "DÉCIMA QUINTA", "DÉCIMA SEXTA", "DÉCIMA SÉTIMA", "DÉCIMA OITAVA", "DÉCIMA NONA", "VIGÉSIMA"]
    body = [
        ("DO OBJETO", f"O presente contrato tem por objeto {objeto}."),
        ("DA VIGÊNCIA", f"O prazo de vigência deste contrato é de {vigencia}, contados a partir da data de sua "
                        "assinatura, podendo ser prorrogado por termo aditivo."),
        ("DO VALOR E DO PAGAMENTO", f"Pelos serviços, a CONTRATANTE pagará à CONTRATADA o valor global de {valor}, "
                                    "em parcelas mensais, mediante apresentação de nota fiscal, em até trinta dias "
                                    "do seu recebimento."),
    ]
    body += FILLER_CLAUSES[:extra]
    body.append(("DO FORO", f"Fica eleito o foro da {foro}, com renúncia de qualquer outro, por mais privilegiado "
                            "que seja, para dirimir as questões oriundas deste contrato."))
    out = []
    for i, (title, text) in enumerate(body):
        out.append(f"CLÁUSULA {ordinals[i]} - {title}")
        out.append(f"{i + 1}.1. {text}")
        if title in dict(FILLER_CLAUSES):
            for k in range(2, 2 + depth):
                out.append(f"{i + 1}.{k}. {text}")
        out.append("")
    return out


def _write_pdf(lines: list[str], path: pathlib.Path, fontsize: float = 10.5) -> None:
    doc = pymupdf.open()
    width, height, margin = 595, 842, 60
    per_line = fontsize * 1.45
    max_lines = int((height - 2 * margin) / per_line)
    wrapped: list[str] = []
    for line in lines:
        wrapped.extend(textwrap.wrap(line, 92) or [""])
    for start in range(0, len(wrapped), max_lines):
        page = doc.new_page(width=width, height=height)
        y = margin
        for line in wrapped[start : start + max_lines]:
            page.insert_text((margin, y), line, fontsize=fontsize, fontname="helv")
            y += per_line
    _save(doc, path)


def _save(doc, path: pathlib.Path) -> None:
    doc.set_metadata({"title": path.stem, "producer": "quillon examples", "creator": "quillon examples",
                      "creationDate": "D:20250310000000", "modDate": "D:20250310000000"})
    doc.save(path, garbage=4, deflate=True, no_new_id=True)
    doc.close()


def _scan(text_pdf: pathlib.Path, path: pathlib.Path, dpi: int = 200) -> None:
    """An image-only copy of a PDF, as a scanner would make it."""
    src = pymupdf.open(text_pdf)
    out = pymupdf.open()
    for page in src:
        pix = page.get_pixmap(dpi=dpi, colorspace=pymupdf.csGRAY)
        new = out.new_page(width=page.rect.width, height=page.rect.height)
        new.insert_image(new.rect, stream=pix.tobytes("jpeg", jpg_quality=80))
    src.close()
    _save(out, path)


def _party_truth(company: dict, papel: str) -> dict:
    return {"cnpj": company["cnpj"], "razao_social": company["razao_social"], "endereco": company["endereco"],
            "papel_no_contrato": papel}


def _signer_truth(person: tuple[str, str], company: dict, tipo: str = "manuscrita") -> dict:
    return {"nome_signatario": person[0], "cargo": person[1], "empresa_representada": company["razao_social"],
            "cnpj_empresa": company["cnpj"], "tipo_assinatura": tipo}


def _with_witnesses_and_truth(lines, contratante, rep1, contratada, rep2, witnesses, heading, line_format, *,
                              title, objeto, data, vigencia, valor, foro) -> tuple[list[str], dict]:
    """The witness block, in the layout's own wording, and the field truth of the sample."""
    signers = [_signer_truth(rep1, contratante), _signer_truth(rep2, contratada)]
    if witnesses:
        lines.append(heading)
        for i, (name, cpf) in enumerate(witnesses, 1):
            lines.append(line_format.format(i=i, name=name, cpf=cpf))
            signers.append({"nome_signatario": name, "cargo": None, "empresa_representada": None,
                            "cnpj_empresa": None, "tipo_assinatura": "testemunha"})
    truth = {
        "empresas": [_party_truth(contratante, "contratante"), _party_truth(contratada, "contratada")],
        "assinaturas": signers,
        "dados_contrato": {"tipo_contrato": title.split(" Nº")[0], "objeto": objeto, "data": data,
                           "vigencia": f"{vigencia}, contados a partir da data de sua assinatura",
                           "valor": valor, "foro": foro},
    }
    return lines, truth


def servicos(contratante, rep1, contratada, rep2, *, title, objeto, valor, vigencia, foro, data, extra,
             witnesses=(), depth=3) -> tuple[list[str], dict]:
    """A service contract in the "de um lado ... de outro lado" style."""
    lines = [
        title,
        "",
        f"Pelo presente instrumento particular, de um lado, {contratante['razao_social']}, pessoa jurídica de "
        f"direito privado, inscrita no CNPJ sob o nº {contratante['cnpj']}, com sede na {contratante['endereco']}, "
        f"neste ato representada por seu {rep1[1]}, Sr. {rep1[0]}, brasileiro, inscrito no CPF sob o nº "
        f"{rep1[2]}, doravante denominada CONTRATANTE, e, de outro lado, {contratada['razao_social']}, "
        f"associação civil sem fins lucrativos, inscrita no CNPJ/MF sob o nº {contratada['cnpj']}, com sede na "
        f"{contratada['endereco']}, neste ato representada por sua {rep2[1]}, {rep2[0]}, doravante denominada "
        "CONTRATADA, têm entre si justo e contratado o seguinte:",
        "",
    ]
    lines += _clauses(objeto, vigencia, valor, foro, extra, depth)
    lines += [
        "E, por estarem assim justas e contratadas, as partes assinam o presente instrumento em duas vias de "
        "igual teor e forma.",
        "",
        f"São Paulo, {data}.",
        "",
        "__________________________________________",
        contratante["razao_social"],
        rep1[0],
        rep1[1],
        "",
        "__________________________________________",
        contratada["razao_social"],
        rep2[0],
        rep2[1],
        "",
    ]
    return _with_witnesses_and_truth(lines, contratante, rep1, contratada, rep2, witnesses, "TESTEMUNHAS:",
                                     "{i}. ______________________ Nome: {name}  CPF: {cpf}",
                                     title=title, objeto=objeto, data=data, vigencia=vigencia, valor=valor, foro=foro)


def labelled(contratante, rep1, contratada, rep2, *, title, objeto, valor, vigencia, foro, data, extra,
             witnesses=(), depth=3) -> tuple[list[str], dict]:
    """A contract whose parties are given under "CONTRATANTE:" / "CONTRATADA:" labels."""
    lines = [
        title,
        "",
        f"CONTRATANTE: {contratante['razao_social']}, inscrita no CNPJ nº {contratante['cnpj']}, "
        f"estabelecida na {contratante['endereco']}, aqui representada pela sua {rep1[1]}, {rep1[0]}.",
        "",
        f"CONTRATADA: {contratada['razao_social']}, pessoa jurídica de direito privado, CNPJ "
        f"{contratada['cnpj']}, sediada na {contratada['endereco']}, neste ato representada pelo seu "
        f"{rep2[1]}, Sr. {rep2[0]}.",
        "",
        "As partes acima qualificadas celebram o presente contrato, que se regerá pelas cláusulas seguintes.",
        "",
    ]
    lines += _clauses(objeto, vigencia, valor, foro, extra, depth)
    lines += [
        "E por estarem de acordo, as partes firmam o presente instrumento.",
        "",
        f"Rio de Janeiro, {data}.",
        "",
        "Pela CONTRATANTE:",
        "Nome: " + rep1[0],
        "Cargo: " + rep1[1],
        "",
        "Pela CONTRATADA:",
        "Nome: " + rep2[0],
        "Cargo: " + rep2[1],
        "",
    ]
    return _with_witnesses_and_truth(lines, contratante, rep1, contratada, rep2, witnesses, "Testemunhas:",
                                     "{i}) {name} - CPF {cpf}",
                                     title=title, objeto=objeto, data=data, vigencia=vigencia, valor=valor, foro=foro)


SAMPLES = {
    "contrato_servicos_aprovado.pdf": dict(
        kind=servicos, verdict="APROVADO",
        args=(GOOGLE, FABIO, OKBR, HAYDEE),
        kw=dict(title="CONTRATO DE PRESTAÇÃO DE SERVIÇOS DE CONSULTORIA Nº 042/2025",
                objeto="a prestação de serviços de consultoria em dados abertos e transparência pública",
                valor="R$ 120.000,00 (cento e vinte mil reais)", vigencia="12 (doze) meses",
                foro="Comarca de São Paulo", data="10 de março de 2025", extra=10, depth=8),
    ),
    "contrato_empresa_baixada.pdf": dict(
        kind=labelled, verdict="REPROVADO",
        args=(OKBR, HAYDEE, BAIXADA, JOSE_RENATO),
        kw=dict(title="CONTRATO DE PARCERIA PARA PROJETO SOCIAL Nº 07/2025",
                objeto="a execução conjunta de oficinas de dados abertos para jovens da Zona Oeste do Rio de Janeiro",
                valor="R$ 48.500,00 (quarenta e oito mil e quinhentos reais)", vigencia="6 (seis) meses",
                foro="Comarca da Capital do Estado do Rio de Janeiro", data="2 de junho de 2025", extra=3,
                witnesses=(("Maria Aparecida Souza", "987.654.321-00"), ("João Pedro Lima", "111.444.777-35"))),
    ),
    "contrato_signatario_fora_do_qsa.pdf": dict(
        kind=servicos, verdict="REPROVADO",
        args=(GOOGLE, FABIO, OKBR, OUTSIDER),
        kw=dict(title="CONTRATO DE PRESTAÇÃO DE SERVIÇOS DE PESQUISA Nº 118/2025",
                objeto="a realização de pesquisa sobre o uso de dados governamentais abertos por jornalistas",
                valor="R$ 75.000,00 (setenta e cinco mil reais)", vigencia="8 (oito) meses",
                foro="Comarca de São Paulo", data="21 de julho de 2025", extra=2),
    ),
    "contrato_digitalizado.pdf": dict(
        kind=servicos, verdict="APROVADO", verdict_without_ocr="PENDENTE", scanned=True,
        args=(GOOGLE, FABIO, OKBR, HAYDEE),
        kw=dict(title="CONTRATO DE PRESTAÇÃO DE SERVIÇOS DE CAPACITAÇÃO Nº 009/2025",
                objeto="a capacitação de equipes em publicação de dados abertos",
                valor="R$ 36.000,00 (trinta e seis mil reais)", vigencia="4 (quatro) meses",
                foro="Comarca de São Paulo", data="3 de fevereiro de 2025", extra=0),
    ),
}


def main(folder: pathlib.Path = HERE) -> None:
    folder.mkdir(parents=True, exist_ok=True)
    expected = {}
    for name, spec in SAMPLES.items():
        lines, truth = spec["kind"](*spec["args"], **spec["kw"])
        path = folder / name
        if spec.get("scanned"):
            text_copy = folder / (path.stem + ".texto.pdf")
            _write_pdf(lines, text_copy, fontsize=12)
            _scan(text_copy, path)
            text_copy.unlink()
        else:
            _write_pdf(lines, path)
        expected[name] = {"resultado_final": spec["verdict"],
                          "resultado_sem_ocr": spec.get("verdict_without_ocr", spec["verdict"]),
                          "escaneado": bool(spec.get("scanned")), "extracao": truth}
    (folder / "expected.json").write_text(json.dumps(expected, ensure_ascii=False, indent=2) + "\n",
                                          encoding="utf-8")
    for name in SAMPLES:
        print(folder / name)


if __name__ == "__main__":
    main(pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else HERE)
