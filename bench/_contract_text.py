"""A realistic contract text for the benchmarks: about 3 KB per page of
Portuguese legal prose with accents, clause headings, party qualifications and
signature blocks, none of the excluded document kinds."""

from __future__ import annotations

import random

HEADINGS = [
    "DO OBJETO", "DA VIGÊNCIA", "DO PREÇO E DAS CONDIÇÕES DE PAGAMENTO", "DAS OBRIGAÇÕES DA CONTRATANTE",
    "DAS OBRIGAÇÕES DA CONTRATADA", "DA RESCISÃO", "DAS PENALIDADES", "DA CONFIDENCIALIDADE",
    "DA PROTEÇÃO DE DADOS PESSOAIS", "DO REAJUSTE", "DA CESSÃO", "DAS DISPOSIÇÕES GERAIS", "DO FORO",
]
SENTENCES = [
    "O presente instrumento tem por objeto a prestação de serviços de manutenção preventiva e corretiva "
    "dos equipamentos descritos no Anexo I, conforme especificações técnicas acordadas entre as partes.",
    "A CONTRATADA obriga-se a executar os serviços com zelo, diligência e observância às normas técnicas "
    "aplicáveis, responsabilizando-se por quaisquer danos causados por seus prepostos.",
    "O prazo de vigência deste contrato é de 12 (doze) meses, contados da data de sua assinatura, podendo "
    "ser prorrogado mediante termo aditivo firmado pelas partes.",
    "Pelos serviços prestados, a CONTRATANTE pagará à CONTRATADA o valor mensal de R$ 15.750,00 (quinze mil, "
    "setecentos e cinquenta reais), até o quinto dia útil do mês subsequente.",
    "O pagamento será efetuado por meio de transferência bancária para a conta indicada pela CONTRATADA, "
    "após a comprovação da execução dos serviços no período.",
    "Qualquer das partes poderá rescindir o presente contrato mediante notificação prévia e por escrito, "
    "com antecedência mínima de 30 (trinta) dias, sem ônus adicional.",
    "A rescisão por descumprimento de cláusula contratual sujeitará a parte infratora ao pagamento de multa "
    "equivalente a 10% (dez por cento) do valor global do contrato.",
    "As partes comprometem-se a manter sigilo sobre todas as informações técnicas, comerciais e financeiras "
    "a que tiverem acesso em razão deste ajuste, mesmo após o seu término.",
    "O tratamento de dados pessoais observará a Lei nº 13.709/2018, cabendo a cada parte a adoção de medidas "
    "de segurança técnicas e administrativas aptas a proteger os dados.",
    "O valor do contrato será reajustado anualmente pela variação acumulada do IPCA/IBGE, ou por outro "
    "índice oficial que venha a substituí-lo.",
    "É vedada a cessão ou transferência, total ou parcial, dos direitos e obrigações decorrentes deste "
    "contrato sem a prévia e expressa anuência da outra parte.",
    "A tolerância de uma parte quanto ao descumprimento de qualquer obrigação pela outra não implicará "
    "novação ou renúncia de direitos, podendo ser exigida a qualquer tempo.",
    "Fica eleito o foro da Comarca de São Paulo/SP para dirimir quaisquer dúvidas oriundas deste contrato, "
    "com renúncia expressa a qualquer outro, por mais privilegiado que seja.",
    "A CONTRATADA declara que não emprega menores de dezoito anos em trabalho noturno, perigoso ou insalubre, "
    "e que cumpre a legislação trabalhista e previdenciária vigente.",
    "Os serviços extraordinários somente serão executados mediante solicitação formal e orçamento aprovado "
    "previamente pela CONTRATANTE, em documento assinado por seu representante.",
]
PARTY = (
    "{nome}, pessoa jurídica de direito privado, inscrita no CNPJ sob o nº {cnpj}, com sede na {rua}, "
    "nº {num}, {bairro}, {cidade}, neste ato representada por seu sócio administrador, {socio}, "
    "brasileiro, casado, portador da cédula de identidade RG nº {rg}, doravante denominada {papel}."
)
NAMES = ["ACME Soluções Industriais Ltda.", "Construtora Irmãos Araújo S.A.", "Tecnologia Paraná Eireli",
         "Comércio de Peças São João Ltda."]
PEOPLE = ["João Antônio da Conceição", "Maria José Gonçalves", "Sérgio Luís Fontes", "Ângela Cristina Sá"]
STREETS = ["Avenida Paulista", "Rua das Acácias", "Praça da Sé", "Travessa São Bento"]
PLACES = [("Bela Vista", "São Paulo/SP"), ("Centro", "Curitiba/PR"), ("Savassi", "Belo Horizonte/MG")]
SIGNATURES = (
    "E, por estarem assim justas e contratadas, as partes assinam o presente instrumento em 2 (duas) vias de "
    "igual teor e forma, na presença das testemunhas abaixo.\n\n"
    "São Paulo, 14 de março de 2024.\n\n______________________________\nCONTRATANTE\n\n"
    "______________________________\nCONTRATADA\n\nTestemunhas:\n1. ____________ CPF: ___.___.___-__\n"
    "2. ____________ CPF: ___.___.___-__\n"
    "Documento assinado digitalmente com certificado digital ICP-Brasil.\n"
)
ORDINALS = ["PRIMEIRA", "SEGUNDA", "TERCEIRA", "QUARTA", "QUINTA", "SEXTA", "SÉTIMA", "OITAVA", "NONA", "DÉCIMA"]


def contract_text(pages: int = 100, seed: int = 2024, page_chars: int = 3000) -> str:
    rng = random.Random(seed)
    out: list[str] = []
    size = 0
    clause = 0
    target = pages * page_chars
    while size < target:
        if clause % 40 == 0:
            bairro, cidade = rng.choice(PLACES)
            for papel in ("CONTRATANTE", "CONTRATADA"):
                part = PARTY.format(
                    nome=rng.choice(NAMES), cnpj=f"{rng.randrange(10**13, 10**14):014d}", rua=rng.choice(STREETS),
                    num=rng.randrange(1, 3000), bairro=bairro, cidade=cidade, socio=rng.choice(PEOPLE),
                    rg=rng.randrange(10**7, 10**8), papel=papel)
                out.append(part + "\n\n")
                size += len(part) + 2
        clause += 1
        heading = f"CLÁUSULA {ORDINALS[clause % 10]} – {rng.choice(HEADINGS)}\n"
        body = " ".join(f"{clause}.{i + 1}. {rng.choice(SENTENCES)}" for i in range(rng.randrange(2, 5)))
        out.append(heading + body + "\n\n")
        size += len(heading) + len(body) + 2
        if clause % 60 == 0:
            out.append(SIGNATURES)
            size += len(SIGNATURES)
    return "".join(out)[:target]
