"""Plain-Python formulations of the text rules, written the obvious way with
unicodedata and re: the oracles the compiled functions are checked against
(tests, property tests and fuzz targets)."""

from __future__ import annotations

import re
import unicodedata

KEYWORDS_VALIDACAO = [
    "contrato", "acordo", "termo", "instrumento", "aditivo", "distrato", "contratante", "contratada",
    "contratado", "prestador", "prestadora", "tomador", "tomadora", "cláusula", "clausula", "objeto",
    "vigência", "vigencia", "valor", "pagamento", "obrigações", "obrigacoes", "rescisão", "rescisao",
    "foro", "cnpj", "inscrita", "inscrito", "neste ato representada", "neste ato representado",
    "doravante denominada", "doravante denominado", "assinatura", "assinado", "firmado", "testemunha",
    "certificado digital", "icp-brasil",
]
KEYWORDS_EXCLUSAO = [
    "edital de licitação", "pregão eletrônico", "tomada de preços", "concorrência pública",
    "carta convite", "nota fiscal", "recibo", "boleto", "fatura",
]
MIN_KEYWORDS = 3


def fold(texto: str) -> str:
    if not texto:
        return ""
    nfd = unicodedata.normalize("NFD", texto)
    return "".join(c for c in nfd if unicodedata.category(c) != "Mn").lower()


def validar(texto, validacao=KEYWORDS_VALIDACAO, exclusao=KEYWORDS_EXCLUSAO, minimo=MIN_KEYWORDS):
    if not texto:
        return False, 0, []
    texto_norm = fold(texto)
    for termo in exclusao:
        if fold(termo) in texto_norm:
            return False, 0, [f"EXCLUSÃO: {termo}"]
    encontradas = [kw for kw in validacao if fold(kw) in texto_norm]
    return len(encontradas) >= minimo, len(encontradas), encontradas


ADDRESS_RULES = [
    (r"\s+", " "),
    (r"[.,;:\-/\\]", " "),
    (r"\bn[ºo]?\s*", ""),
    (r"\brua\b", "r"),
    (r"\bavenida\b", "av"),
    (r"\bavda?\b", "av"),
    (r"\btravessa\b", "tv"),
    (r"\bpracas?\b", "pc"),
    (r"\bedificio\b", "ed"),
    (r"\bpredio\b", "ed"),
    (r"\bconjunto\b", "cj"),
    (r"\bconj\b", "cj"),
    (r"\bsala\b", "sl"),
    (r"\bandar\b", "and"),
    (r"\bbairro\b", ""),
    (r"\bcep\b", ""),
]
_COMPILED_RULES = [(re.compile(p), r) for p, r in ADDRESS_RULES]
ADDRESS_KEYS = ("logradouro", "numero", "complemento", "bairro", "cidade", "uf", "cep")


def normalizar_endereco(endereco: str) -> str:
    if not endereco:
        return ""
    s = fold(endereco).strip()
    for pattern, replacement in _COMPILED_RULES:
        s = pattern.sub(replacement, s)
    return s.strip()


def comparar_enderecos(endereco_contrato, dados_receita, threshold=0.85, normalizar=None):
    if not endereco_contrato or not dados_receita:
        return False, 0.0, ""
    end = dados_receita.get("endereco", {})
    endereco_receita = " ".join(end.get(k) for k in ADDRESS_KEYS if end.get(k))
    if not endereco_receita:
        return False, 0.0, ""
    normalizar = normalizar or normalizar_endereco
    a, b = normalizar(endereco_contrato), normalizar(endereco_receita)
    if not a or not b:
        return False, 0.0, endereco_receita
    if a == b:
        return True, 1.0, endereco_receita
    if a in b or b in a:
        return True, 0.9, endereco_receita
    pa = {p for p in a.split() if len(p) >= 3}
    pb = {p for p in b.split() if len(p) >= 3}
    if not pa or not pb:
        return False, 0.0, endereco_receita
    similaridade = len(pa & pb) / len(pa | pb)
    return similaridade >= threshold, similaridade, endereco_receita
